// The dialogs and message boxes the main window shows, behind one interface so that tests
// answer them without a person: every command that asks the user has a core that takes the
// answer, and the command itself only asks through here.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

class TWindowDialogs {
public:
  virtual ~TWindowDialogs() = default;
  // A message for the user: caption "提示", information icon, OK.
  virtual void Message(QWidget *AParent, const QString &AText) = 0;
  // A warning with its own caption, warning icon, OK.
  virtual void Warning(QWidget *AParent, const QString &ACaption, const QString &AText) = 0;
  // One existing file, or empty when cancelled.
  virtual QString OpenFile(QWidget *AParent, const QString &ATitle, const QString &AFilter) = 0;
  // Several files, or none when cancelled.
  virtual QStringList OpenFiles(QWidget *AParent, const QString &ATitle,
                                const QString &AFilter) = 0;
  // A folder, or empty when cancelled.
  virtual QString ChooseFolder(QWidget *AParent, const QString &ATitle,
                               const QString &AStartFolder) = 0;
  // Runs a modal dialog; the result of its exec().
  virtual int ShowModal(QDialog *ADialog) = 0;
};

// The real dialogs: message boxes and the file dialogs of the toolkit.
class TQtDialogs : public TWindowDialogs {
public:
  void Message(QWidget *AParent, const QString &AText) override;
  void Warning(QWidget *AParent, const QString &ACaption, const QString &AText) override;
  QString OpenFile(QWidget *AParent, const QString &ATitle, const QString &AFilter) override;
  QStringList OpenFiles(QWidget *AParent, const QString &ATitle, const QString &AFilter) override;
  QString ChooseFolder(QWidget *AParent, const QString &ATitle,
                       const QString &AStartFolder) override;
  int ShowModal(QDialog *ADialog) override;
};
