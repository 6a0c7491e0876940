#include "window_checks.h"

#include "about_box.h"
#include "change_combo_box.h"
#include "ff_logger.h"
#include "ff_utils.h"
#include "job_text.h"
#include "options_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <map>

namespace {

using enum TWindowState;

TEST(MainWindowStartTest, FirstStartWritesTheDefaults) {
  TWindowFixture f;
  TForm1 &form = *f.Form;
  const TIniFile &ini = form.Ini();
  const QString out = f.Context.Paths.DefaultOutPath;
  EXPECT_EQ(ini.ReadString("OutPath", "OutPath", "Error"), out);
  EXPECT_EQ(ini.ReadString("Skin", "SetSkin", "Error"), "0");
  const std::pair<const char *, const char *> options[] = {{"Thread_Count", "0"},
                                                           {"After_Done", "0"},
                                                           {"Thread_Priority", "3"},
                                                           {"Overwrite_File", "1"},
                                                           {"Show_Preview", "0"}};
  for (const auto &[key, value] : options)
    EXPECT_EQ(ini.ReadString("Options", key, "Error"), value) << key;
  EXPECT_TRUE(QFileInfo(out).isDir());
  EXPECT_EQ(form.Video_OutPut_Folder_Edit->text(), out);
  EXPECT_EQ(form.FileOutPutPath, out);

  TForm5 &options5 = *form.Form5();
  EXPECT_TRUE(options5.rbOpenFolder->isChecked());
  EXPECT_TRUE(options5.rbAutoRename->isChecked());
  EXPECT_EQ(options5.cbThreadCount->currentText(), "1");
  EXPECT_FALSE(options5.chkPreview->isChecked());
  EXPECT_TRUE(options5.rbNormal->isChecked());
  EXPECT_EQ(f.Tasks.Calls, QStringList{"preview 0"});

  form.show();
  ExpectCommands(form, wsEmpty, false);
  EXPECT_EQ(form.windowTitle(), "凌川安卓手机格式转换器");
  EXPECT_EQ(form.size(), QSize(803, 541));
  EXPECT_EQ(form.Form2()->windowTitle(), "关于软件");
  EXPECT_EQ(form.Form5()->windowTitle(), "选项");
  EXPECT_EQ(form.OpenFilter(), OpenDialogFilter());
}

TEST(MainWindowStartTest, StoredOutputFolderIsUsedOrReplaced) {
  const struct {
    const char *Stored; // nullptr: no key
    bool WantDefault;
  } cases[] = {{nullptr, true}, {"Error", true}, {"", true}, {"mine", false}};
  for (const auto &c : cases) {
    QString mine;
    TWindowFixture f([&](const QString &AAppFolder) {
      mine = AAppFolder + "stored/新 目录";
      TIniFile ini(AAppFolder + "option.ini");
      ini.WriteString("Skin", "SetSkin", "0");
      if (c.Stored)
        ini.WriteString("OutPath", "OutPath", c.WantDefault ? c.Stored : mine);
    });
    const QString want = c.WantDefault ? f.Context.Paths.DefaultOutPath : mine;
    EXPECT_EQ(f.Form->FileOutPutPath, want) << (c.Stored ? c.Stored : "missing");
    EXPECT_EQ(f.Form->Video_OutPut_Folder_Edit->text(), want);
    EXPECT_TRUE(QFileInfo(want).isDir()); // made when missing
    EXPECT_EQ(f.Form->Ini().ReadString("OutPath", "OutPath", "Error"), want);
  }
}

TEST(MainWindowStartTest, OutputFolderThatCannotBeMadeIsStillUsed) {
  QString blocked;
  TWindowFixture f([&](const QString &AAppFolder) {
    QFile file(AAppFolder + "file");
    file.open(QIODevice::WriteOnly);
    blocked = AAppFolder + "file/out";
    TIniFile(AAppFolder + "option.ini").WriteString("OutPath", "OutPath", blocked);
  });
  EXPECT_EQ(f.Form->FileOutPutPath, blocked);
  EXPECT_EQ(f.Form->Video_OutPut_Folder_Edit->text(), blocked);
}

TEST(MainWindowStartTest, UnknownSkinIsReplacedByTheBuiltInOne) {
  TWindowFixture f([](const QString &AAppFolder) {
    TIniFile(AAppFolder + "option.ini").WriteString("Skin", "SetSkin", "4");
  });
  EXPECT_EQ(f.Form->SkinIndex(), 0);
  EXPECT_EQ(f.Form->Ini().ReadString("Skin", "SetSkin", "Error"), "0");
}

TEST_F(MainWindowTest, CommandsFollowTheStateThroughRunsPausesAndStops) {
  ExpectCommands(Form(), wsEmpty, false);
  AddJobs({"one.avi", "two.mkv"});
  ExpectCommands(Form(), wsReady, true);
  ExpectRowsMatchTasks(Form(), F->Tasks);

  Form().btnStartClick();
  ExpectCommands(Form(), wsConverting, false);
  EXPECT_EQ(F->Tasks.Calls.last(), "start 1");

  Form().btnPauseClick();
  ExpectCommands(Form(), wsPaused, false);
  EXPECT_EQ(F->Tasks.Calls.last(), "pause");
  Form().btnResumeClick();
  ExpectCommands(Form(), wsConverting, false);
  EXPECT_EQ(F->Tasks.Calls.last(), "resume");
  Form().btnPauseClick();

  // Stopping while paused: the tasks report their ends during the stop, the last one with -1.
  TWindowState seenDuringStop = wsEmpty;
  F->Tasks.OnStop = [&] {
    seenDuringStop = Form().WindowState();
    ExpectCommands(Form(), wsStopping, true);
    Form().ShowTaskTermination(0, false, false, QString());
    Form().ShowTaskTermination(1, false, false, QString());
    Form().ShowTaskTermination(-1, true, false, QString());
  };
  Form().btnStopClick();
  EXPECT_EQ(seenDuringStop, wsStopping);
  ExpectCommands(Form(), wsEnded, true);
  EXPECT_EQ(F->Actions.Calls, QStringList{"open:" + Form().FileOutPutPath});
  EXPECT_EQ(F->Actions.Session, (QStringList{"inhibit 1", "inhibit 0",
                                             "转换已停止: 已转换 0 个文件，2 个文件没有完成"}));

  // After a stop the toolbar's 开始 runs the jobs again, and 暂停 is offered again.
  F->Tasks.OnStop = nullptr;
  Form().btnStart->click();
  ExpectCommands(Form(), wsConverting, false);
  EXPECT_EQ(Column(Form(), jcTaskNumber), (QStringList{"1", "2"}));

  // All tasks end by themselves: 开始 stays off, only 清空 leads on.
  Form().ShowTaskTermination(0, true, false, QString());
  Form().ShowTaskTermination(1, true, false, QString());
  Form().ShowTaskTermination(-1, true, false, QString());
  ExpectCommands(Form(), wsEnded, false);
  EXPECT_EQ(F->Actions.Calls.size(), 2);
  EXPECT_EQ(F->Actions.Session.last(), "转换完成: 已转换 2 个文件，0 个文件没有完成");

  Form().btnClearClick();
  ExpectCommands(Form(), wsEmpty, false);
  EXPECT_TRUE(F->Tasks.Tasks.empty());
}

TEST_F(MainWindowTest, F1OpensTheHelpPageInEveryState) {
  QApplication::setActiveWindow(&Form());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
  const QString page = "url:" + QUrl::fromLocalFile(F->AppFolder + "docs/help.html").toString();
  auto pressF1 = [&] {
    F->Actions.Calls.clear();
    QTest::keyClick(&Form(), Qt::Key_F1);
    EXPECT_EQ(F->Actions.Calls, QStringList{page}) << static_cast<int>(Form().WindowState());
  };
  pressF1();
  AddJobs({"a.avi"});
  pressF1();
  Form().btnStartClick();
  pressF1();
  Form().btnPauseClick();
  pressF1();
  Form().ShowTaskTermination(-1, true, false, QString());
  pressF1();
}

TEST_F(MainWindowTest, AboutAndOptionsAreShownModally) {
  Form().mnuAbout->trigger();
  Form().mnuOptions->trigger();
  Form().btnOptions->click();
  EXPECT_EQ(F->Dialogs.Modals, (QStringList{"Form2", "Form5", "Form5"}));
}

TEST_F(MainWindowTest, StartTakesCountAndPriorityFromTheOptionsAsTheyStand) {
  AddJobs({"a.avi", "b.avi", "c.avi", "d.avi", "e.avi"});
  TForm5 &options = *Form().Form5();
  options.cbThreadCount->setCurrentText("3");
  options.rbLowest->setChecked(true);
  F->Tasks.Calls.clear();
  Form().btnStartClick();
  EXPECT_EQ(F->Tasks.Calls, (QStringList{"priority 1", "clear", "start 3"}));
  // One task per row, in row order.
  const QStringList inputs = Column(Form(), jcInputFile);
  EXPECT_EQ(F->Tasks.Files(), std::vector<QString>(inputs.begin(), inputs.end()));
}

TEST_F(MainWindowTest, StartStopsAtARowWhoseInputCannotBeOpened) {
  AddJobs({"a.avi", "gone.avi"});
  F->Tasks.Unopenable << Form().Job(0)->text(Col(jcInputFile)); // gone.avi was added first: row 0
  F->Tasks.Calls.clear();
  Form().btnStartClick();
  EXPECT_FALSE(F->Tasks.Calls.contains("start 1"));
  ExpectCommands(Form(), wsReady, true);
  EXPECT_TRUE(
      Form().LogText().contains("***File open error: " + Form().Job(0)->text(Col(jcInputFile)) +
                                ": No such file or directory"));
  ASSERT_EQ(F->Dialogs.Messages.size(), 1);
  EXPECT_TRUE(F->Dialogs.Messages[0].endsWith(Form().Job(0)->text(Col(jcInputFile))));
}

TEST_F(MainWindowTest, ProgressAndTerminationFillTheRowOfTheirTask) {
  AddJobs({"a.avi", "b.avi", "c.avi"});
  Form().btnStartClick();
  // Rows moved during the run keep their task: the report finds the row by its number.
  Select(0);
  Form().MoveJobDown();
  QTreeWidgetItem *task0 = Form().Job(1);
  ASSERT_EQ(task0->text(Col(jcTaskNumber)), "1");

  const struct {
    int64_t Current, Total;
    int FPS;
    int64_t Size;
    const char *Progress, *FPSText, *Position, *SizeText;
  } reports[] = {
      {65'000'000, 130'000'000, 25, 1572864, "50%", "25", "00:01:05", "1.5MB"},
      {66'500'000, 130'000'000, 0, 1600000, "51%", "25", "00:01:06", "1.53MB"}, // FPS kept
      {90'000'000'000, 0, 30, 10485760, "N/A", "30", "25:00:00", "10MB"},
  };
  for (const auto &r : reports) {
    Form().ShowTaskProgress(0, r.Current, r.Total, r.FPS, r.Size);
    EXPECT_EQ(task0->text(Col(jcProgress)), r.Progress);
    EXPECT_EQ(task0->text(Col(jcFPS)), r.FPSText);
    EXPECT_EQ(task0->text(Col(jcPosition)), r.Position);
    EXPECT_EQ(task0->text(Col(jcConvertedSize)), r.SizeText);
  }
  // The estimate goes by the pace and bit rate so far: half done at 1.5MB ends near 3MB.
  Form().ShowTaskProgress(0, 50, 100, 25, 1572864);
  EXPECT_TRUE(task0->toolTip(Col(jcProgress)).contains("预计大小 约 3MB"))
      << task0->toolTip(Col(jcProgress)).toStdString();
  EXPECT_TRUE(task0->toolTip(Col(jcProgress)).startsWith("已用时间 00:00:"));
  EXPECT_EQ(Form().Job(0)->text(Col(jcProgress)), ""); // other rows untouched

  Form().ShowTaskTermination(0, true, false, QString());
  EXPECT_EQ(task0->text(Col(jcProgress)), "100%");
  Form().ShowTaskProgress(2, 10, 100, 5, 1);
  Form().ShowTaskTermination(2, false, true, "Error while opening encoder");
  EXPECT_EQ(Form().Job(2)->text(Col(jcProgress)), "10%"); // a failed task keeps its last progress
  EXPECT_EQ(F->Dialogs.Warnings,
            QStringList{"凌川安卓手机格式转换器 | Error while opening encoder"});
  ExpectCommands(Form(), wsConverting, false); // the others carry on
  Form().ShowTaskProgress(7, 1, 2, 1, 1);      // no such task: nothing happens
}

TEST_F(MainWindowTest, AfterDoneActionFollowsTheOptions) {
  const QString sound = F->AppFolder + "sounds/ring001.wav";
  const struct {
    QRadioButton *TForm5::*Radio;
    bool SoundThere;
    QStringList Want;
  } cases[] = {
      {&TForm5::rbOpenFolder, true, {"open:" + Form().FileOutPutPath}},
      {&TForm5::rbShutDown, true, {"shutdown"}},
      {&TForm5::rbPlaySound, true, {"sound:" + sound}},
      {&TForm5::rbPlaySound, false, {}},
      {&TForm5::rbDoNothing, true, {}},
  };
  AddJobs({"a.avi"});
  for (const auto &c : cases) {
    QFile::remove(sound);
    if (c.SoundThere) {
      QDir().mkpath(F->AppFolder + "sounds");
      QFile(sound).open(QIODevice::WriteOnly);
    }
    (Form().Form5()->*c.Radio)->setChecked(true);
    F->Actions.Calls.clear();
    Form().btnStartClick();
    Form().ShowTaskTermination(-1, true, false, QString());
    EXPECT_EQ(F->Actions.Calls, c.Want);
  }
}

TEST_F(MainWindowTest, ClosingDuringARunStopsTheTasksAndTouchesNoRow) {
  AddJobs({"a.avi", "b.avi"});
  Form().btnStartClick();
  Form().ShowTaskProgress(0, 1'000'000, 4'000'000, 10, 1000);
  F->Tasks.Calls.clear();
  F->Tasks.OnStop = [&] {
    // Late reports of the stopping tasks change nothing.
    Form().ShowTaskProgress(0, 2'000'000, 4'000'000, 10, 2000);
    Form().ShowTaskTermination(1, true, false, QString());
    Form().ShowTaskTermination(-1, true, false, QString());
  };
  EXPECT_TRUE(Form().close());
  EXPECT_EQ(F->Tasks.Calls, (QStringList{"detach", "stop"}));
  EXPECT_EQ(Column(Form(), jcProgress), (QStringList{"25%", ""}));
  EXPECT_TRUE(F->Actions.Calls.isEmpty());
  EXPECT_FALSE(GetLogger()->HasOnLog());
}

TEST_F(MainWindowTest, LibraryLogLinesReachTheLog) {
  GetLogger()->Log(nullptr, llWarning, "Past duration too large");
  EXPECT_TRUE(Form().LogText().contains(
      QStringLiteral("#%1.4: Past duration too large").arg(CurrentThreadID())));
  Form().mnuShowLog->setChecked(true);
  EXPECT_TRUE(Form().frmLog->isVisible());
  Form().frmLog->close();
  EXPECT_FALSE(Form().mnuShowLog->isChecked());
}

TEST_F(MainWindowTest, SeveralFilesAreAddedLastFirstAndTheLastRowSelected) {
  AddJobs({"1.avi", "2 空格.mp4", "3 \"q\".mkv"});
  EXPECT_EQ(Column(Form(), jcOutputFile), (QStringList{"3 \"q\".avi", "2 空格.avi", "1.avi"}));
  EXPECT_EQ(Form().SelectedJob(), Form().Job(2));
  EXPECT_EQ(Form().T_Movie_PLayer_FileName, Form().Job(2)->text(Col(jcInputFile)));
  EXPECT_EQ(Form().LogText().count("***Can do convert."), 3);
  EXPECT_EQ(F->Dialogs.Titles, QStringList{"打开文件"});
  EXPECT_EQ(F->Dialogs.Filters, QStringList{OpenDialogFilter()});
  ExpectRowsMatchTasks(Form(), F->Tasks);
}

TEST_F(MainWindowTest, AddsEndEarlyOrGoOnAsEachFailureSays) {
  const struct {
    QStringList Names; // in dialog order; "missing" names are not created
    QStringList WantRows;
    bool WantSelection;
  } cases[] = {
      {{"a.avi", "bad.avi", "c.avi"}, {"c.avi", "a.avi"}, true}, // not examined: go on
      {{"a.avi", "notask.avi", "c.avi"}, {"c.avi"}, false},      // no task: end
      {{"a.avi", "noout.avi", "c.avi"}, {"c.avi"}, false},       // no output: end
      {{"a.avi", "missing.avi", "c.avi"}, {"c.avi"}, false},     // vanished: end
      {{"missing.avi", "c.avi"}, {}, false},                     // first one missing: nothing
  };
  for (const auto &c : cases) {
    Form().btnClearClick();
    QStringList files;
    for (const QString &n : c.Names)
      files << (n.startsWith("missing") ? F->Dir.path() + "/in/" + n
                : n.startsWith("bad")   ? F->MakeTextFile(n)
                                        : F->MakeFile(n));
    F->Dialogs.FileLists.push_back(files);
    Form().AddFiles();
    QStringList rows;
    for (const QString &p : Column(Form(), jcInputFile))
      rows << QFileInfo(p).fileName();
    EXPECT_EQ(rows, c.WantRows) << c.Names.join(",").toStdString();
    EXPECT_EQ(Form().SelectedJob() != nullptr, c.WantSelection);
  }
  // The status bar counts what the last add took and refused.
  F->Dialogs.FileLists.push_back({F->MakeFile("x.avi"), F->MakeTextFile("bad.avi")});
  Form().AddFiles();
  EXPECT_TRUE(Form().statusBar()->currentMessage().startsWith("已添加 1 个文件，1 个文件不能转换"));
}

TEST_F(MainWindowTest, DroppedFilesAndFoldersAreAddedWhileAddingIsOffered) {
  const QString file = F->MakeFile("dropped.avi");
  const QString folder = F->Dir.path() + "/dropfolder";
  QDir().mkpath(folder);
  F->MakeFile("../dropfolder/inner.mkv");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(file), QUrl::fromLocalFile(folder),
                QUrl::fromLocalFile(F->Dir.path() + "/nothing-here.avi")});
  auto drop = [&](QWidget *ATarget) {
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ATarget, &enter);
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ATarget, &dropped);
    return dropped.isAccepted();
  };
  EXPECT_TRUE(drop(Form().pnlEmptyList)); // the picture over the empty list takes drops too
  QStringList rows;
  for (const QString &p : Column(Form(), jcInputFile))
    rows << QFileInfo(p).fileName();
  EXPECT_EQ(rows, (QStringList{"dropped.avi", "inner.mkv"}));

  Form().btnStartClick();
  EXPECT_FALSE(drop(Form().lvFiles->viewport()));
  EXPECT_EQ(Form().JobCount(), 2);
}

TEST_F(MainWindowTest, FolderAddLooksAtItsOwnFilesOnly) {
  const QString folder = F->Dir.path() + "/folder";
  QDir().mkpath(folder + "/sub");
  F->MakeTextFile("../folder/bad1.txt");
  F->MakeTextFile("../folder/bad2.doc");
  F->MakeFile("../folder/sub/clip.avi");
  F->Dialogs.Folders << folder;
  Form().AddFolder();
  EXPECT_EQ(Form().JobCount(), 0);
  EXPECT_EQ(Form().Examined, (QStringList{folder + "/bad2.doc", folder + "/bad1.txt"}));
  EXPECT_EQ(F->Dialogs.Messages, QStringList{"在该目录没有发现可以用的视频或音频文件！"});
  EXPECT_EQ(F->Dialogs.Titles, QStringList{"选择目录"});

  F->MakeFile("../folder/a.avi");
  Form().AddFolderCore(folder);
  EXPECT_EQ(Form().JobCount(), 1);
  EXPECT_EQ(F->Dialogs.Messages.size(), 1);
  EXPECT_EQ(Form().SelectedJob(), Form().Job(0));

  Form().AddFolder(); // cancelled
  Form().AddFolderCore(folder + "/missing");
  EXPECT_EQ(Form().JobCount(), 1);
  EXPECT_EQ(F->Dialogs.Messages.size(), 1);
}

// Adding a folder and starting a run open every file on the main thread; the window's timers
// (repaints, the preview's clock) must go on between the files, even before the progress dialog
// shows.
TEST_F(MainWindowTest, LongLoopsOverTheRowsKeepTheEventLoopTurning) {
  const QString folder = F->Dir.path() + "/folder";
  for (const char *name : {"a.avi", "b.avi", "c.avi"})
    F->MakeFile(QStringLiteral("../folder/") + name);
  const struct {
    const char *What;
    std::function<void()> Action;
    std::function<qsizetype()> Done; // files handled so far
  } cases[] = {
      {"add folder", [&] { Form().AddFolderCore(folder); }, [&] { return Form().Examined.size(); }},
      {"start", [&] { Form().btnStartClick(); },
       [&] { return static_cast<qsizetype>(F->Tasks.Tasks.size()); }},
  };
  Form().AddFolder(); // loads the libraries; the folder dialog is cancelled
  for (const auto &c : cases) {
    bool between = false; // a tick came after the first file and before the last
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      const qsizetype done = c.Done();
      between = between || (done > 0 && done < 3);
    });
    timer.start(0);
    c.Action();
    EXPECT_TRUE(between) << c.What;
  }
  EXPECT_EQ(Form().JobCount(), 3);
  EXPECT_TRUE(F->Tasks.Calls.contains("start 1"));
}

TEST_F(MainWindowTest, OneFileAddSelectsTheNewRowAndLeavesOthersAlone) {
  F->Dialogs.Files << F->MakeFile("first.avi") << F->MakeFile("second.avi");
  Form().btnAddClick();
  Form().Job(0)->setText(Col(jcAudioCodec), "mine");
  Form().btnAddClick();
  EXPECT_EQ(Form().JobCount(), 2);
  EXPECT_EQ(Form().SelectedJob(), Form().Job(1));
  EXPECT_EQ(Form().Job(0)->text(Col(jcAudioCodec)), "mine");
  Form().btnAddClick();                      // cancelled
  Form().AddFileCore(F->Dir.path() + "/in"); // a folder is no file
  EXPECT_EQ(Form().JobCount(), 2);
}

TEST_F(MainWindowTest, RemoveRenumbersAndSelectsTheFirstRow) {
  AddJobs({"3.avi", "2.avi", "1.avi"});
  ASSERT_EQ(Column(Form(), jcTaskNumber), (QStringList{"1", "2", "3"}));
  Form().lvFiles->clearSelection();
  Form().btnRemoveClick();
  EXPECT_EQ(F->Dialogs.Messages, QStringList{"请先选择您需要删除的项目！"});
  EXPECT_EQ(Form().JobCount(), 3);

  Select(1);
  Form().btnRemoveClick();
  EXPECT_EQ(F->Tasks.Calls.last(), "remove 1");
  EXPECT_EQ(Column(Form(), jcTaskNumber), (QStringList{"1", "2"}));
  EXPECT_EQ(Form().SelectedJob(), Form().Job(0));
  ExpectRowsMatchTasks(Form(), F->Tasks);
  ExpectCommands(Form(), wsReady, true);

  Form().btnRemoveClick();
  Form().btnRemoveClick();
  ExpectCommands(Form(), wsEmpty, false);
  ExpectRowsMatchTasks(Form(), F->Tasks);
}

TEST_F(MainWindowTest, MovesExchangeRowsAndStopAtTheEnds) {
  AddJobs({"c.avi", "b.avi", "a.avi"}); // rows a, b, c
  const QStringList start = Column(Form(), jcInputFile);
  const QStringList numbers = Column(Form(), jcTaskNumber);

  Select(0);
  Form().MoveJobUp();
  Form().lvFiles->clearSelection();
  Form().MoveJobDown(); // nothing selected
  Select(2);
  Form().MoveJobDown();
  EXPECT_EQ(Column(Form(), jcInputFile), start);

  Form().MoveJobUp();
  EXPECT_EQ(Column(Form(), jcInputFile), (QStringList{start[0], start[2], start[1]}));
  EXPECT_EQ(Column(Form(), jcTaskNumber), (QStringList{numbers[0], numbers[2], numbers[1]}));
  EXPECT_EQ(Form().SelectedJob(), Form().Job(1));
  EXPECT_EQ(Form().T_Movie_PLayer_FileName, start[2]);
  ExpectRowsMatchTasks(Form(), F->Tasks);

  // Moving stays possible during a run.
  Form().btnStartClick();
  Form().mnuMoveUp->trigger();
  EXPECT_EQ(Form().Job(0)->text(Col(jcInputFile)), start[2]);
}

TEST_F(MainWindowTest, RenameTakesANameWithoutFolderAndTheProfileExtension) {
  AddJobs({"clip.avi"});
  QTreeWidgetItem *row = Form().Job(0);
  ASSERT_EQ(row->text(Col(jcOutputFile)), "clip.avi");

  Form().lvFiles->clearSelection();
  Form().BeginRename();
  EXPECT_EQ(F->Dialogs.Messages, QStringList{"请先选中您需要重命名的项目！"});
  Form().lvFilesDblClick(); // nothing selected: no message, no box
  EXPECT_EQ(F->Dialogs.Messages.size(), 1);
  EXPECT_FALSE(Form().edt->isVisible());

  Select(0);
  Form().btnRename->click();
  ASSERT_TRUE(Form().edt->isVisible());
  EXPECT_EQ(Form().edt->text(), "clip");
  for (const char *refused : {"", "../up", "sub/name"}) {
    EXPECT_FALSE(Form().CommitRename(refused)) << refused;
    EXPECT_TRUE(Form().edt->isVisible());
    EXPECT_EQ(row->text(Col(jcOutputFile)), "clip.avi");
  }
  EXPECT_TRUE(Form().CommitRename("新 名字 \"1\""));
  EXPECT_FALSE(Form().edt->isVisible());
  EXPECT_EQ(row->text(Col(jcOutputFile)), "新 名字 \"1\".avi");

  // The extension comes from the caption of the profile now selected.
  Form().bsSkinOfficeComboBox2->SetItemIndex(2);  // 常用音频
  Form().bsSkinOfficeComboBox1->SetItemIndex(10); // FLAC-音频格式(*.flac)
  Form().lvFilesDblClick();
  Form().edt->setText("song");
  Form().edtExit();
  EXPECT_EQ(row->text(Col(jcOutputFile)), "song.flac");
}

TEST_F(MainWindowTest, OutputFolderChangesOnlyToAnExistingFolder) {
  const QString before = Form().FileOutPutPath;
  const QString chosen = F->Dir.path() + "/新 输出";
  QDir().mkpath(chosen);
  F->Dialogs.Folders << F->Dir.path() + "/missing";
  Form().btnBrowse->click();
  Form().btnBrowse->click(); // cancelled
  EXPECT_EQ(Form().FileOutPutPath, before);
  EXPECT_EQ(F->Dialogs.Titles, (QStringList{"选择输出目录", "选择输出目录"}));

  Form().ChooseOutputFolderCore(chosen);
  EXPECT_EQ(Form().FileOutPutPath, chosen);
  EXPECT_EQ(Form().Video_OutPut_Folder_Edit->text(), chosen);
  EXPECT_EQ(Form().Ini().ReadString("OutPath", "OutPath", "Error"), chosen);
  Form().btnOpenFolder->click();
  EXPECT_EQ(F->Actions.Calls, QStringList{"open:" + chosen});
}

} // namespace
