#include "ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {

QStringList ReadLines(const QString &AFileName, bool *AExists = nullptr) {
  QFile file(AFileName);
  if (!file.open(QIODevice::ReadOnly)) {
    if (AExists)
      *AExists = false;
    return {};
  }
  if (AExists)
    *AExists = true;
  QString text = QString::fromUtf8(file.readAll());
  if (text.startsWith(QChar(0xFEFF)))
    text.remove(0, 1);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.last().isEmpty())
    lines.removeLast();
  return lines;
}

// The section name of a "[name]" line, or a null string for any other line.
QString SectionOf(const QString &ALine) {
  const QString t = ALine.trimmed();
  if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
    return t.mid(1, t.size() - 2).trimmed();
  return QString();
}

// Splits a "key=value" line; false for lines that are no key (comments, blanks, sections).
bool SplitKey(const QString &ALine, QString &AKey, QString &AValue) {
  const QString t = ALine.trimmed();
  if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('[')))
    return false;
  const qsizetype eq = t.indexOf(QLatin1Char('='));
  if (eq <= 0)
    return false;
  AKey = t.left(eq).trimmed();
  AValue = t.mid(eq + 1).trimmed();
  return true;
}

bool SameName(const QString &A, const QString &B) {
  return A.compare(B, Qt::CaseInsensitive) == 0;
}

} // namespace

TIniFile::TIniFile(const QString &AFileName) : FFileName(AFileName) {}

bool TIniFile::Exists() const {
  return QFileInfo(FFileName).isFile();
}

QString TIniFile::ReadString(const QString &ASection, const QString &AKey,
                             const QString &ADefault) const {
  bool inSection = false;
  for (const QString &line : ReadLines(FFileName)) {
    const QString section = SectionOf(line);
    if (!section.isNull()) {
      inSection = SameName(section, ASection);
      continue;
    }
    QString key, value;
    if (inSection && SplitKey(line, key, value) && SameName(key, AKey))
      return value;
  }
  return ADefault;
}

bool TIniFile::WriteString(const QString &ASection, const QString &AKey,
                           const QString &AValue) const {
  if (AValue.contains(QLatin1Char('\n')) || AValue.contains(QLatin1Char('\r')))
    return false;
  QStringList lines = ReadLines(FFileName);
  const QString entry = AKey + QLatin1Char('=') + AValue;

  qsizetype sectionAt = -1; // line of the section's header
  qsizetype lastKeyAt = -1; // last key line of the section
  bool written = false;
  bool inSection = false;
  for (qsizetype i = 0; i < lines.size() && !written; ++i) {
    const QString section = SectionOf(lines[i]);
    if (!section.isNull()) {
      if (inSection)
        break; // the section ended without the key
      inSection = SameName(section, ASection);
      if (inSection) {
        sectionAt = i;
        lastKeyAt = i;
      }
      continue;
    }
    QString key, value;
    if (inSection && SplitKey(lines[i], key, value)) {
      lastKeyAt = i;
      if (SameName(key, AKey)) {
        lines[i] = entry;
        written = true;
      }
    }
  }
  if (!written) {
    if (sectionAt >= 0) {
      lines.insert(lastKeyAt + 1, entry);
    } else {
      lines << QLatin1Char('[') + ASection + QLatin1Char(']') << entry;
    }
  }

  const QFileInfo info(FFileName);
  if (!QDir().mkpath(info.absolutePath()))
    return false;
  QSaveFile file(FFileName);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  const QByteArray data = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
  if (file.write(data) != data.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}
