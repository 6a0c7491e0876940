// Checks of the window's state that the window tests share, and their fixture.
#pragma once

#include "app_test_support.h"
#include "change_combo_box.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

// The commands whose availability depends on the state, and where each is on.
struct TCommandRule {
  const char *Name;
  std::vector<TWindowState> OnIn;
};

inline std::vector<QObject *> Commands(TForm1 &AForm, const char *AName) {
  TForm1 &f = AForm;
  const std::map<std::string, std::vector<QObject *>> groups = {
      {"add", {f.btnAdd, f.mnuAddFile, f.mnuAddFiles, f.mnuAddFolder}},
      {"job", {f.btnRemove, f.mnuRemove, f.btnRename, f.mnuRename}},
      {"clear", {f.btnClear, f.mnuClear}},
      {"start menu", {f.mnuStart}},
      {"stop", {f.btnStop, f.mnuStop}},
      {"pause", {f.btnPause, f.mnuPause}},
      {"resume", {f.btnResume, f.mnuResume}},
      // The panel switches the six lists, which also keep a state of their own.
      {"choices", {f.bsSkinOfficeComboBox1, f.bsSkinOfficeComboBox2, f.pnlChoices, f.btnBrowse}},
      {"always",
       {f.btnMoveUp, f.btnMoveDown, f.mnuMoveUp, f.mnuMoveDown, f.btnOpenFolder, f.btnOptions,
        f.mnuOptions, f.mnuHelp, f.mnuAbout, f.mnuExit}},
  };
  return groups.at(AName);
}

inline bool Enabled(QObject *ACommand) {
  if (auto *a = qobject_cast<QAction *>(ACommand))
    return a->isEnabled();
  return qobject_cast<QWidget *>(ACommand)->isEnabled();
}

// Checks every command against the state table; the toolbar's 开始 is checked apart, since
// after a stop it differs from the menu item.
inline void ExpectCommands(TForm1 &AForm, TWindowState AState, bool AToolbarStart) {
  using enum TWindowState;
  const std::vector<TCommandRule> table = {
      {"add", {wsEmpty, wsReady}},
      {"job", {wsReady}},
      {"clear", {wsReady, wsEnded}},
      {"start menu", {wsReady}},
      {"stop", {wsConverting, wsPaused}},
      {"pause", {wsConverting}},
      {"resume", {wsPaused}},
      {"choices", {wsEmpty, wsReady, wsStopping, wsEnded}},
      {"always", {wsEmpty, wsReady, wsConverting, wsPaused, wsStopping, wsEnded}},
  };
  ASSERT_EQ(AForm.WindowState(), AState);
  QApplication::processEvents(); // lets the toolbar lay out its places
  for (const TCommandRule &rule : table) {
    const bool on = std::find(rule.OnIn.begin(), rule.OnIn.end(), AState) != rule.OnIn.end();
    for (QObject *c : Commands(AForm, rule.Name))
      EXPECT_EQ(Enabled(c), on) << rule.Name << " " << c->objectName().toStdString();
  }
  EXPECT_EQ(AForm.btnStart->isEnabled(), AToolbarStart);
  // One place for 暂停 and 继续: 继续 shows only while paused.
  EXPECT_EQ(AForm.btnResume->isVisible(), AState == wsPaused);
  EXPECT_EQ(AForm.btnPause->isVisible(), AState != wsPaused);
  // The picture lies over the list exactly while it is empty.
  EXPECT_EQ(AForm.pnlEmptyList->isVisible(), AForm.JobCount() == 0);
}

// Each row's task number names a task of its own, made for the row's input and given its
// output.
inline void ExpectRowsMatchTasks(TTestForm1 &AForm, const TFakeTaskList &ATasks) {
  ASSERT_EQ(static_cast<int>(ATasks.Tasks.size()), AForm.JobCount());
  std::vector<bool> seen(ATasks.Tasks.size(), false);
  for (int i = 0; i < AForm.JobCount(); ++i) {
    const int number = AForm.Job(i)->text(Col(jcTaskNumber)).toInt();
    ASSERT_GE(number, 1);
    ASSERT_LE(number, AForm.JobCount());
    EXPECT_FALSE(seen[number - 1]) << "task number " << number << " twice";
    seen[number - 1] = true;
    const TFakeTask &task = ATasks.Tasks[number - 1];
    EXPECT_EQ(task.File, AForm.Job(i)->text(Col(jcInputFile)));
    EXPECT_EQ(QString::fromStdString(task.Input.FileName), task.File);
    EXPECT_TRUE(task.HasOutput) << task.File.toStdString();
  }
}

inline QStringList Column(TForm1 &AForm, TJobColumn AColumn) {
  QStringList texts;
  for (int i = 0; i < AForm.JobCount(); ++i)
    texts << AForm.Job(i)->text(Col(AColumn));
  return texts;
}

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    F = std::make_unique<TWindowFixture>();
    Form().show();
  }
  TTestForm1 &Form() { return *F->Form; }
  // Selects a row as a click does.
  void Select(int ARow) { Form().lvFiles->setCurrentItem(Form().Job(ARow)); }
  // Adds files through the several-files command, as the user would.
  void AddJobs(const QStringList &ANames) {
    QStringList files;
    for (const QString &n : ANames)
      files << F->MakeFile(n);
    F->Dialogs.FileLists.push_back(files);
    Form().AddFiles();
  }
  std::unique_ptr<TWindowFixture> F;
};
