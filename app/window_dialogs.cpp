#include "window_dialogs.h"

#include "job_text.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// The open dialogs show the descriptions of the filter as they are and start on the first.
void PrepareOpenDialog(QFileDialog &ADialog, const QString &AFilter) {
  ADialog.setOption(QFileDialog::HideNameFilterDetails);
  ADialog.setNameFilters(OpenDialogNameFilters(AFilter));
}

} // namespace

void TQtDialogs::Message(QWidget *AParent, const QString &AText) {
  QMessageBox::information(AParent, QStringLiteral("提示"), AText);
}

void TQtDialogs::Warning(QWidget *AParent, const QString &ACaption, const QString &AText) {
  QMessageBox::warning(AParent, ACaption, AText);
}

QString TQtDialogs::OpenFile(QWidget *AParent, const QString &ATitle, const QString &AFilter) {
  QFileDialog dialog(AParent, ATitle);
  dialog.setFileMode(QFileDialog::ExistingFile);
  PrepareOpenDialog(dialog, AFilter);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return QString();
  return dialog.selectedFiles().first();
}

QStringList TQtDialogs::OpenFiles(QWidget *AParent, const QString &ATitle, const QString &AFilter) {
  QFileDialog dialog(AParent, ATitle);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  PrepareOpenDialog(dialog, AFilter);
  if (dialog.exec() != QDialog::Accepted)
    return {};
  return dialog.selectedFiles();
}

QString TQtDialogs::ChooseFolder(QWidget *AParent, const QString &ATitle,
                                 const QString &AStartFolder) {
  return QFileDialog::getExistingDirectory(AParent, ATitle, AStartFolder);
}

int TQtDialogs::ShowModal(QDialog *ADialog) {
  return ADialog->exec();
}
