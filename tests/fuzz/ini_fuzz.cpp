// "option.ini" of any bytes: every reader of the program's settings returns a usable value,
// writes back what it read, and a write changes its own key only.
#include "ini_file.h"
#include "snapshot_settings.h"
#include "stored_options.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

struct TKey {
  const char *Section;
  const char *Key;
};

// Every key the program keeps.
const TKey KKeys[] = {
    {"OutPath", "OutPath"},         {"Skin", "SetSkin"},
    {"Options", "Thread_Count"},    {"Options", "After_Done"},
    {"Options", "Thread_Priority"}, {"Options", "Overwrite_File"},
    {"Options", "Show_Preview"},    {"SnapShot", "Dir"},
    {"SnapShot", "Picture"},
};

std::vector<QString> ReadAll(const TIniFile &AIni) {
  std::vector<QString> values;
  for (const TKey &k : KKeys)
    values.push_back(AIni.ReadString(k.Section, k.Key, KMissingValue));
  return values;
}

void Check(bool ACondition) {
  if (!ACondition)
    std::abort();
}

bool Same(const TStoredOptions &A, const TStoredOptions &B) {
  return A.ThreadCount == B.ThreadCount && A.AfterDone == B.AfterDone &&
         A.ThreadPriority == B.ThreadPriority && A.Overwrite == B.Overwrite &&
         A.ShowPreview == B.ShowPreview;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize) {
  // Every write of the file is synced to disk; memory-backed storage keeps the runs fast.
  static QTemporaryDir dir((QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                ? QStringLiteral("/dev/shm")
                                : QDir::tempPath()) +
                           QStringLiteral("/ini_fuzz-XXXXXX"));
  const QString path = dir.path() + QStringLiteral("/option.ini");
  {
    QFile file(path);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(reinterpret_cast<const char *>(AData), static_cast<qint64>(ASize));
  }
  const TIniFile ini(path);
  ReadAll(ini);

  // The readers settle on valid values and store them, so a second start reads the same.
  const TStoredOptions options = ReadStoredOptions(ini);
  Check(options.ThreadCount >= 0 && options.ThreadCount <= KMaxThreadCount);
  Check(options.AfterDone >= 0 && options.AfterDone <= 3);
  Check(options.ThreadPriority >= 0 && options.ThreadPriority <= 3);
  const QString picture = ReadSnapShotPicture(ini);
  const QString folder = ReadSnapShotDir(ini, QStringLiteral("/default/snapshots"));
  Check(!folder.isEmpty() && folder != KMissingValue);
  Check(Same(ReadStoredOptions(ini), options));
  Check(ReadSnapShotPicture(ini) == picture);
  Check(ReadSnapShotDir(ini, QStringLiteral("/other")) == folder);

  // A value taken from the input (up to its first line break) replaces the key its first byte
  // picks and reads back trimmed; every other key keeps its value.
  QString value = QString::fromUtf8(reinterpret_cast<const char *>(AData),
                                    static_cast<qsizetype>(std::min<size_t>(ASize, 64)));
  value = value.left(value.indexOf(QLatin1Char('\n'))).remove(QLatin1Char('\r'));
  const size_t k = ASize > 0 ? AData[0] % std::size(KKeys) : 0;
  const std::vector<QString> before = ReadAll(ini);
  if (ini.WriteString(KKeys[k].Section, KKeys[k].Key, value)) {
    std::vector<QString> after = ReadAll(ini);
    Check(after[k] == value.trimmed());
    after[k] = before[k];
    Check(after == before);
  }
  return 0;
}
