// Stand-ins for the window's services, and the window with the real prober and catalog.
#pragma once

#include "application.h"
#include "ff_player.h"
#include "ffmpeg_loader.h"
#include "qt_print.h"
#include "main_window.h"
#include "system_actions.h"
#include "task_list_link.h"
#include "test_media.h"
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

// One task of the fake task list: the records it was made with.
struct TFakeTask {
  QString File;
  TInputOptions Input;
  TOutputOptions Output;
  bool HasOutput = false;
};

// A task list that keeps the records of each task and lets the test decide when tasks end.
// Inputs whose name holds "notask", or that are listed in Unopenable, cannot be opened; outputs
// whose input name holds "noout" cannot be made.
class TFakeTaskList : public TTaskListLink {
public:
  bool AVLibLoaded() const override {
    return LibrariesLoad && FFLoader().Loaded(TaskListLibraries);
  }
  bool LoadAVLib(const QString &APath) override {
    if (!LibrariesLoad) {
      FLastErrMsg = QStringLiteral("Load library libavcodec.so.59 error: not found");
      return false;
    }
    FFLoader().SetLibraryPath(APath.toStdString());
    if (FFLoader().Load(TaskListLibraries))
      return true;
    FLastErrMsg = QString::fromStdString(FFLoader().LastErrMsg());
    return false;
  }
  QString LastErrMsg() const override { return FLastErrMsg; }
  int AddTask(const QString &AFileName, TInputOptions &AOptions) override {
    if (AOptions.FileName.empty())
      AOptions.FileName = AFileName.toStdString();
    if (AFileName.contains(QStringLiteral("notask")) || Unopenable.contains(AFileName)) {
      FLastErrMsg = AFileName + QStringLiteral(": No such file or directory");
      return -1;
    }
    Tasks.push_back({AFileName, AOptions, TOutputOptions(), false});
    return static_cast<int>(Tasks.size()) - 1;
  }
  bool SetOutputFile(int ATaskIndex, const QString &AFileName, TOutputOptions &AOptions) override {
    EXPECT_GE(ATaskIndex, 0);
    EXPECT_LT(ATaskIndex, static_cast<int>(Tasks.size()));
    TFakeTask &task = Tasks.at(ATaskIndex);
    if (task.File.contains(QStringLiteral("noout"))) {
      FLastErrMsg = AFileName + QStringLiteral(": Invalid argument");
      return false;
    }
    if (AOptions.FileName.empty())
      AOptions.FileName = AFileName.toStdString();
    task.Output = AOptions;
    task.HasOutput = true;
    return true;
  }
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

  // The input files of the tasks, in task order.
  std::vector<QString> Files() const {
    std::vector<QString> files;
    for (const TFakeTask &t : Tasks)
      files.push_back(t.File);
    return files;
  }

  std::vector<TFakeTask> Tasks;
  QStringList Calls;
  QStringList Unopenable;
  bool LibrariesLoad = true;    // false: the libraries cannot be loaded
  std::function<void()> OnStop; // what the run reports while it is being stopped

private:
  QString FLastErrMsg;
};

// The window with the real prober and catalog, recording which files its add examined.
class TTestForm1 : public TForm1 {
public:
  using TForm1::TForm1;

  QStringList Examined; // every file AddFileJob was given, in order

protected:
  TAddFileResult AddFileJob(const QString &AFileName) override {
    Examined << AFileName;
    return TForm1::AddFileJob(AFileName);
  }
};

// A program folder "bin/" under ARoot, made, with the settings file in it and the default
// output and snapshot folders under "home/".
inline TAppPaths TemporaryAppPaths(const QString &ARoot) {
  TAppPaths paths;
  paths.AppFolder = ARoot + QStringLiteral("/bin/");
  QDir().mkpath(paths.AppFolder);
  paths.IniFile = paths.AppFolder + QStringLiteral("option.ini");
  paths.DefaultOutPath = ARoot + QStringLiteral("/home/凌川视频软件/输出");
  paths.DefaultSnapShotPath = ARoot + QStringLiteral("/home/凌川视频软件/快照");
  return paths;
}

// A window with every stand-in, in a temporary program folder.
struct TWindowFixture {
  TWindowFixture() : TWindowFixture(nullptr) {}
  // APrepare runs before the window is created, with the program folder.
  explicit TWindowFixture(const std::function<void(const QString &)> &APrepare) {
    Context.Paths = TemporaryAppPaths(Dir.path());
    AppFolder = Context.Paths.AppFolder;
    Context.Actions = &Actions;
    Context.Dialogs = &Dialogs;
    Context.Tasks = &Tasks;
    if (APrepare)
      APrepare(AppFolder);
    Form = std::make_unique<TTestForm1>(Context);
    // Every selected row opens in the preview; closing a sound device of the silent driver
    // takes a few buffers' time, which the tests of the preview alone need to spend.
    Form->FFPlayer->SetDisableAudio(true);
    CreateSecondaryForms(*Form);
  }

  // A small media file of the given name in the temporary folder "in", a copy of ASample.
  QString MakeFile(const QString &AName, const char *ASample = "mono_8k.wav") {
    const QString path = InPath(AName);
    QFile::copy(QString::fromStdString(MediaPath(ASample)), path);
    return path;
  }
  // A file of the given name and content in the folder "in".
  QString MakeTextFile(const QString &AName, const QByteArray &AData = QByteArray("no media")) {
    const QString path = InPath(AName);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(AData);
    return path;
  }
  QString InPath(const QString &AName) {
    const QString path = QDir::cleanPath(Dir.path() + QStringLiteral("/in/") + AName);
    QDir().mkpath(QFileInfo(path).absolutePath());
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
