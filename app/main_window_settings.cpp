// The output folder and the skin, kept in "option.ini".
#include "main_window.h"

#include "window_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QStyleFactory>
#include <QTreeWidget>

namespace {
const QString KOutPath = QStringLiteral("OutPath");
} // namespace

void TForm1::ReadOutputFolder() {
  QString folder;
  if (FIni.Exists())
    folder = FIni.ReadString(KOutPath, KOutPath, KMissingValue);
  if (folder.isEmpty() || folder == KMissingValue) {
    folder = FPaths.DefaultOutPath;
    FIni.WriteString(KOutPath, KOutPath, folder);
  }
  // A folder that cannot be made is still shown and used; the run reports what fails.
  QDir().mkpath(folder);
  Video_OutPut_Folder_Edit->setText(folder);
  FileOutPutPath = folder;
}

void TForm1::WriteOutputFolder() {
  if (QFileInfo(FileOutPutPath).isDir())
    FIni.WriteString(KOutPath, KOutPath, FileOutPutPath);
}

void TForm1::ChooseOutputFolder() {
  ChooseOutputFolderCore(
      FDialogs->ChooseFolder(this, QStringLiteral("选择输出目录"), FileOutPutPath));
}

void TForm1::ChooseOutputFolderCore(const QString &AFolder) {
  if (AFolder.isEmpty() || !QFileInfo(AFolder).isDir())
    return;
  Video_OutPut_Folder_Edit->setText(AFolder);
  FileOutPutPath = AFolder;
  WriteOutputFolder();
  lvFiles->setFocus();
}

void TForm1::ReadSkinSetting() {
  const QString value =
      FIni.ReadString(QStringLiteral("Skin"), QStringLiteral("SetSkin"), KMissingValue);
  bool ok = false;
  const int index = value.toInt(&ok);
  // One built-in skin: anything but its index is replaced by it.
  if (!ok || index != 0)
    FIni.WriteString(QStringLiteral("Skin"), QStringLiteral("SetSkin"), QStringLiteral("0"));
  ApplySkin(0);
}

void TForm1::ApplySkin(int AIndex) {
  FSkinIndex = AIndex;
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette palette = QApplication::style()->standardPalette();
  palette.setColor(QPalette::Window, QColor(0xec, 0xf0, 0xf5));
  palette.setColor(QPalette::Button, QColor(0xf5, 0xf7, 0xfa));
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(0xf3, 0xf6, 0xfa));
  palette.setColor(QPalette::Highlight, QColor(0x2f, 0x7f, 0xd1));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  QApplication::setPalette(palette);
  // Simplified Chinese letter forms where the font is there.
  if (QFontDatabase::hasFamily(QStringLiteral("Noto Sans CJK SC"))) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(9);
    QApplication::setFont(font);
  }
}
