#include "data_paths.h"

#include <QDir>
#include <QFileInfo>

QStringList DataFolders(const QString &AAppFolder) {
  QString beside = AAppFolder;
  if (!beside.endsWith(QLatin1Char('/')))
    beside += QLatin1Char('/');
  // Relative to the executable, so an unpacked or relocated tree finds its own files.
  const QString installed = QDir::cleanPath(QDir(beside).absoluteFilePath(
                                QStringLiteral("../share/lingchuan-converter"))) +
                            QLatin1Char('/');
  return {beside, installed};
}

QString DataFile(const QString &AAppFolder, const QString &ARelativeName) {
  const QStringList folders = DataFolders(AAppFolder);
  for (const QString &folder : folders) {
    const QString path = folder + ARelativeName;
    if (QFileInfo(path).isFile())
      return path;
  }
  return folders.first() + ARelativeName;
}

bool IsInstalledLayout(const QString &AAppFolder) {
  const QStringList folders = DataFolders(AAppFolder);
  return QFileInfo(folders[1]).isDir() &&
         !QFileInfo(folders[0] + QStringLiteral("sounds")).isDir() &&
         !QFileInfo(folders[0] + QStringLiteral("docs")).isDir();
}
