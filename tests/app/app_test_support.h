// Stand-ins for the window's services and a window whose adds need no media engine.
#pragma once

#include "application.h"
#include "qt_print.h"
#include "main_window.h"
#include "system_actions.h"
#include "task_list_link.h"
#include "window_dialogs.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// The folder of the source tree, found from this file.
inline QString SourceFolder() {
  QString here = QString::fromUtf8(__FILE__);
  return QFileInfo(here).absoluteDir().absoluteFilePath(QStringLiteral("../.."));
}

class TActionRecorder : public TSystemActions {
public:
  void OpenFolder(const QString &AFolder) override { Calls << QStringLiteral("open:") + AFolder; }
  void OpenUrl(const QUrl &AUrl) override { Calls << QStringLiteral("url:") + AUrl.toString(); }
  bool ShutDown() override {
    Calls << QStringLiteral("shutdown");
    return false;
  }
  bool PlaySound(const QString &AFileName) override {
    Calls << QStringLiteral("sound:") + AFileName;
    return true;
  }
  void InhibitSleep(bool AOn) override { Session << QStringLiteral("inhibit %1").arg(AOn); }
  void Notify(const QString &ASummary, const QString &ABody) override {
    Session << ASummary + QStringLiteral(": ") + ABody;
  }
  QStringList Calls;   // after-done actions, folders and pages
  QStringList Session; // sleep lock and notifications
};

// Records what the window shows and answers its dialogs from queues (empty: cancelled).
class TDialogScript : public TWindowDialogs {
public:
  void Message(QWidget *, const QString &AText) override { Messages << AText; }
  void Warning(QWidget *, const QString &ACaption, const QString &AText) override {
    Warnings << ACaption + QStringLiteral(" | ") + AText;
  }
  QString OpenFile(QWidget *, const QString &ATitle, const QString &AFilter) override {
    Titles << ATitle;
    Filters << AFilter;
    return Files.isEmpty() ? QString() : Files.takeFirst();
  }
  QStringList OpenFiles(QWidget *, const QString &ATitle, const QString &AFilter) override {
    Titles << ATitle;
    Filters << AFilter;
    return FileLists.empty() ? QStringList() : TakeFirst(FileLists);
  }
  QString ChooseFolder(QWidget *, const QString &ATitle, const QString &) override {
    Titles << ATitle;
    return Folders.isEmpty() ? QString() : Folders.takeFirst();
  }
  int ShowModal(QDialog *ADialog) override {
    Modals << ADialog->objectName();
    return 0;
  }

  QStringList Messages, Warnings, Titles, Filters, Modals;
  QStringList Files, Folders;
  std::vector<QStringList> FileLists;

private:
  static QStringList TakeFirst(std::vector<QStringList> &AList) {
    QStringList first = AList.front();
    AList.erase(AList.begin());
    return first;
  }
};

// A task list that holds the input file of each task and lets the test decide when tasks end.
class TFakeTaskList : public TTaskListLink {
public:
  void RemoveTask(int ATaskIndex) override {
    Calls << QStringLiteral("remove %1").arg(ATaskIndex);
    if (ATaskIndex >= 0 && ATaskIndex < static_cast<int>(Tasks.size()))
      Tasks.erase(Tasks.begin() + ATaskIndex);
  }
  void ClearTasks() override {
    Calls << QStringLiteral("clear");
    Tasks.clear();
  }
  void SetPreview(bool AValue) override { Calls << QStringLiteral("preview %1").arg(AValue); }
  void SetThreadPriority(int APriority) override {
    Calls << QStringLiteral("priority %1").arg(APriority);
  }
  void Start(int AThreadCount) override { Calls << QStringLiteral("start %1").arg(AThreadCount); }
  void Pause() override { Calls << QStringLiteral("pause"); }
  void Resume() override { Calls << QStringLiteral("resume"); }
  void Stop() override {
    Calls << QStringLiteral("stop");
    if (OnStop)
      OnStop();
  }
  void DetachEvents() override { Calls << QStringLiteral("detach"); }

  int AddTask(const QString &AFileName) {
    Tasks.push_back(AFileName);
    return static_cast<int>(Tasks.size()) - 1;
  }

  std::vector<QString> Tasks;
  QStringList Calls;
  std::function<void()> OnStop; // what the run reports while it is being stopped
};

// A window whose add appends a row for every file, as the real add does after examining it,
// with a task in the fake task list. Files whose name holds "bad" cannot be examined; "notask"
// gets no task; "noout" gets no output.
class TTestForm1 : public TForm1 {
public:
  TTestForm1(const TWindowContext &AContext, TFakeTaskList &ATasks)
      : TForm1(AContext), FFake(ATasks) {}

  QStringList Examined;     // every file AddFileJob was given, in order
  QStringList BrokenInputs; // inputs that can no longer be opened at start

protected:
  TAddFileResult AddFileJob(const QString &AFileName) override {
    Examined << AFileName;
    const QString name = QFileInfo(AFileName).fileName();
    if (name.contains(QStringLiteral("bad")))
      return TAddFileResult::afNotExamined;
    if (name.contains(QStringLiteral("notask")))
      return TAddFileResult::afNoTask;
    if (name.contains(QStringLiteral("noout")))
      return TAddFileResult::afNoOutput;
    const int index = FFake.AddTask(AFileName);
    QStringList columns;
    for (int i = 0; i < jcColumnCount; ++i)
      columns << QString();
    columns[jcInputFile] = AFileName;
    columns[jcDuration] = QStringLiteral("00:00:03");
    columns[jcFileSize] = QStringLiteral("0.5MB");
    columns[jcOutputFile] = QFileInfo(AFileName).completeBaseName() + QStringLiteral(".mp4");
    columns[jcTaskNumber] = QString::number(index + 1);
    columns[jcCategory] = QStringLiteral("100");
    columns[jcChoices] = QStringLiteral("000000000000");
    AppendJob(columns);
    return TAddFileResult::afAdded;
  }

  bool BuildRowTask(int ARow, QString &AError) override {
    const QString input = Job(ARow)->text(jcInputFile);
    if (BrokenInputs.contains(input)) {
      AError = QStringLiteral("No such file or directory");
      return false;
    }
    FFake.AddTask(input);
    return true;
  }

private:
  TFakeTaskList &FFake;
};

// A window with every stand-in, in a temporary program folder.
struct TWindowFixture {
  TWindowFixture() : TWindowFixture(nullptr) {}
  // APrepare runs before the window is created, with the program folder.
  explicit TWindowFixture(const std::function<void(const QString &)> &APrepare) {
    AppFolder = Dir.path() + QStringLiteral("/bin/");
    QDir().mkpath(AppFolder);
    Context.Paths.AppFolder = AppFolder;
    Context.Paths.IniFile = AppFolder + QStringLiteral("option.ini");
    Context.Paths.DefaultOutPath = Dir.path() + QStringLiteral("/home/凌川视频软件/输出");
    Context.Paths.DefaultSnapShotPath = Dir.path() + QStringLiteral("/home/凌川视频软件/快照");
    Context.Actions = &Actions;
    Context.Dialogs = &Dialogs;
    Context.Tasks = &Tasks;
    if (APrepare)
      APrepare(AppFolder);
    Form = std::make_unique<TTestForm1>(Context, Tasks);
    CreateSecondaryForms(*Form);
  }

  // A file of the given name in the temporary folder "in".
  QString MakeFile(const QString &AName, const QByteArray &AData = QByteArray("data")) {
    const QString path = QDir::cleanPath(Dir.path() + QStringLiteral("/in/") + AName);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(AData);
    return path;
  }

  QTemporaryDir Dir;
  QString AppFolder;
  TActionRecorder Actions;
  TDialogScript Dialogs;
  TFakeTaskList Tasks;
  TWindowContext Context;
  std::unique_ptr<TTestForm1> Form;
};
