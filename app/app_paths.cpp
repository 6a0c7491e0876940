#include "app_paths.h"

#include "ff_utils.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

QString IniFileLocation(const QString &AAppFolder, const QString &AConfigFolder) {
  const QString beside = QDir(AAppFolder).filePath(QStringLiteral("option.ini"));
  const QFileInfo file(beside);
  // access() rather than the permission bits: it also answers for read-only mounts.
  const bool writable = file.exists()
                            ? access(QFile::encodeName(beside).constData(), W_OK) == 0
                            : access(QFile::encodeName(AAppFolder).constData(), W_OK) == 0;
  if (writable)
    return beside;
  return QDir(AConfigFolder).filePath(QStringLiteral("option.ini"));
}

TAppPaths DefaultAppPaths() {
  TAppPaths paths;
  paths.AppFolder = QString::fromStdString(ApplicationFolder());
  const QString home = QDir::homePath();
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  const QString userFolder = config + QStringLiteral("/lingchuan-converter");
  paths.IniFile = IsInstalledLayout(paths.AppFolder)
                      ? QDir(userFolder).filePath(QStringLiteral("option.ini"))
                      : IniFileLocation(paths.AppFolder, userFolder);
  paths.DefaultOutPath = home + QStringLiteral("/凌川视频软件/输出");
  paths.DefaultSnapShotPath = home + QStringLiteral("/凌川视频软件/快照");
  return paths;
}
