#include "stored_options.h"

namespace {

const QString KSection = QStringLiteral("Options");

// The value of a stored "0".."AMax", or -1 for anything else.
int Choice(const QString &AValue, int AMax) {
  bool ok = false;
  const int n = AValue.toInt(&ok);
  return ok && n >= 0 && n <= AMax && AValue == QString::number(n) ? n : -1;
}

} // namespace

TStoredOptions ReadStoredOptions(const TIniFile &AIni) {
  // Reads one key as a choice of 0..AMax; anything else is replaced by ADefault.
  auto read = [&AIni](const char *AKey, int AMax, int ADefault) {
    const QString key = QString::fromLatin1(AKey);
    const int n = Choice(AIni.ReadString(KSection, key, KMissingValue), AMax);
    if (n >= 0)
      return n;
    AIni.WriteString(KSection, key, QString::number(ADefault));
    return ADefault;
  };
  TStoredOptions options;
  // A count saved from the list (1 to 19) is restored; "0" is the untouched default.
  options.ThreadCount = read("Thread_Count", KMaxThreadCount, 0);
  options.AfterDone = read("After_Done", 3, 0);
  options.ThreadPriority = read("Thread_Priority", 3, 3);
  options.Overwrite = read("Overwrite_File", 1, 1) == 0;
  options.ShowPreview = read("Show_Preview", 1, 0) == 1;
  return options;
}
