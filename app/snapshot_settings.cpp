#include "snapshot_settings.h"

#include <QStringList>

namespace {
const QString KSection = QStringLiteral("SnapShot");
}

QString ReadSnapShotDir(const TIniFile &AIni, const QString &ADefault) {
  const QString dir = AIni.ReadString(KSection, QStringLiteral("Dir"), KMissingValue);
  if (!dir.isEmpty() && dir != KMissingValue)
    return dir;
  WriteSnapShotDir(AIni, ADefault);
  return ADefault;
}

void WriteSnapShotDir(const TIniFile &AIni, const QString &AFolder) {
  AIni.WriteString(KSection, QStringLiteral("Dir"), AFolder);
}

QString ReadSnapShotPicture(const TIniFile &AIni) {
  static const QStringList KTypes = {QStringLiteral("BMP"), QStringLiteral("JPG"),
                                     QStringLiteral("GIF"), QStringLiteral("PNG")};
  const QString type = AIni.ReadString(KSection, QStringLiteral("Picture"), KMissingValue);
  if (KTypes.contains(type))
    return type;
  WriteSnapShotPicture(AIni, KTypes.first());
  return KTypes.first();
}

void WriteSnapShotPicture(const TIniFile &AIni, const QString &AType) {
  AIni.WriteString(KSection, QStringLiteral("Picture"), AType);
}
