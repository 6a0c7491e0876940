// "option.ini" access: every call opens, reads or rewrites, and closes the file, so several
// readers and writers never hold a stale copy. Sections and keys match without regard to case;
// text is UTF-8.
#pragma once

#include <QString>

class TIniFile {
public:
  explicit TIniFile(const QString &AFileName);

  const QString &FileName() const { return FFileName; }
  bool Exists() const;

  // The value of AKey in ASection, trimmed; ADefault when the file, the section or the key is
  // missing.
  QString ReadString(const QString &ASection, const QString &AKey, const QString &ADefault) const;

  // Sets AKey in ASection, adding the section or the key at its end when missing and keeping
  // every other line. The first write creates the file (and its folder). The file is replaced
  // in one step, so a failed write leaves the old file whole. False when the file cannot be
  // written or the value holds a line break (it would corrupt the file).
  bool WriteString(const QString &ASection, const QString &AKey, const QString &AValue) const;

private:
  QString FFileName;
};

// What every reader passes as default and treats as a missing key.
inline const QString KMissingValue = QStringLiteral("Error");
