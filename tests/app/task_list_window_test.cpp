// The window driving the real task-list component: rows converted at the chosen thread count,
// their progress columns, the stop command, and the live preview of a converting task.
#include "window_checks.h"

#include "ffmpeg_task_list.h"
#include "options_dialog.h"
#include "previewer_window.h"
#include "sync_call.h"

#include <QComboBox>
#include <QRadioButton>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono_literals;
using enum TWindowState;

// The window's services with the real task list in place of the stand-in.
struct TRealTaskWindow {
  TRealTaskWindow() {
    Context.Paths = TemporaryAppPaths(Dir.path());
    AppFolder = Context.Paths.AppFolder;
    Context.Actions = &Actions;
    Context.Dialogs = &Dialogs;
    Context.Tasks = &Tasks;
    Form = std::make_unique<TTestForm1>(Context);
    CreateSecondaryForms(*Form);
    Tasks.BindWindow(Form.get());
    Form->show();
  }
  // Five rows of the 常用音频 MP3 profile, each from a copy of a short wave file.
  void AddRows(int ACount) {
    Form->bsSkinOfficeComboBox2->SetItemIndex(2);
    Form->bsSkinOfficeComboBox1->SetItemIndex(0);
    QStringList files;
    const QString in = Dir.path() + QStringLiteral("/in/");
    QDir().mkpath(in);
    for (int i = 0; i < ACount; ++i) {
      files << in + QStringLiteral("job%1.wav").arg(i);
      QFile::copy(QString::fromStdString(MediaPath("mono_8k.wav")), files.back());
    }
    Dialogs.FileLists.push_back(files);
    Form->AddFiles();
    ASSERT_EQ(Form->JobCount(), ACount);
  }
  int Running() {
    TFFmpegVCL &vcl = Tasks.Component();
    int n = 0;
    for (int i = 0; i < vcl.TasksCount(); ++i)
      n += vcl.Tasks(i)->Converting() ? 1 : 0;
    return n;
  }

  QTemporaryDir Dir;
  QString AppFolder;
  TActionRecorder Actions;
  TDialogScript Dialogs;
  TFFmpegTaskList Tasks;
  TWindowContext Context;
  std::unique_ptr<TTestForm1> Form;
};

TEST(TaskListWindow, FiveRowsAtThreeThreadsConvertWithAtMostThreeAtOnce) {
  TRealTaskWindow w;
  w.AddRows(5);
  w.Form->Form5()->cbThreadCount->setCurrentText("3");
  w.Form->Form5()->rbOpenFolder->setChecked(true);
  w.Form->btnStartClick();
  ASSERT_EQ(w.Form->WindowState(), wsConverting);
  int most = 0;
  EXPECT_TRUE(WaitServing(
      [&] {
        most = std::max(most, w.Running());
        return w.Form->WindowState() == wsEnded;
      },
      120s));
  EXPECT_GE(most, 1);
  EXPECT_LE(most, 3);
  for (int i = 0; i < 5; ++i) {
    QTreeWidgetItem *row = w.Form->Job(i);
    EXPECT_EQ(row->text(Col(jcProgress)), "100%") << i;
    EXPECT_EQ(row->text(Col(jcPosition)), "00:00:03") << i;
    EXPECT_TRUE(row->text(Col(jcConvertedSize)).endsWith("MB")) << i;
    const QString output = w.Form->FileOutPutPath + "/" + row->text(Col(jcOutputFile));
    EXPECT_GT(QFileInfo(output).size(), 0) << output.toStdString();
  }
  EXPECT_EQ(w.Actions.Calls, QStringList{"open:" + w.Form->FileOutPutPath});
  EXPECT_TRUE(w.Dialogs.Warnings.isEmpty()) << w.Dialogs.Warnings.join("\n").toStdString();
  ExpectCommands(*w.Form, wsEnded, false);
}

TEST(TaskListWindow, StopReturnsWithEveryTerminationShown) {
  TRealTaskWindow w;
  w.AddRows(5);
  w.Form->Form5()->cbThreadCount->setCurrentText("2");
  w.Form->Form5()->rbPlaySound->setChecked(true);
  QDir().mkpath(w.AppFolder + "sounds");
  QFile(w.AppFolder + "sounds/ring001.wav").open(QIODevice::WriteOnly);
  w.Form->btnStartClick();
  w.Form->btnStopClick();
  // The final record has moved the window on before the stop returned.
  ExpectCommands(*w.Form, wsEnded, true);
  EXPECT_EQ(w.Actions.Calls, QStringList{"sound:" + w.AppFolder + "sounds/ring001.wav"});
  EXPECT_EQ(w.Running(), 0);
  // Starting again converts every row anew.
  w.Form->Form5()->rbDoNothing->setChecked(true);
  w.Form->btnStartClick();
  EXPECT_TRUE(WaitServing([&] { return w.Form->WindowState() == wsEnded; }, 120s));
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(w.Form->Job(i)->text(Col(jcProgress)), "100%") << i;
}

// Needs the video path's preview step: without it no task ever asks for a window.
TEST(TaskListWindow, ClosingAPreviewWindowStopsItsPicturesWhileTheTaskGoesOn) {
  ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
  TFFmpegVCL vcl;
  std::atomic<int> made{0};
  std::atomic<TPreviewer *> previewer{nullptr};
  vcl.SetPreviewerFactory([&] {
    ++made;
    auto p = std::make_unique<TPreviewer>();
    previewer = p.get();
    return p;
  });
  vcl.SetPreview(true);
  QTemporaryDir dir;
  ASSERT_EQ(vcl.AddTask(MediaPath("h264_aac_640x360.mp4")), 0) << vcl.LastErrMsg();
  // Every picture is offered to the window, so one still follows the close however fast the
  // conversion runs.
  vcl.Tasks(0)->PreviewInterval = 0;
  TOutputOptions out;
  InitOutputOptions(out);
  out.VideoCodec = "mpeg4";
  out.DisableAudio = true;
  ASSERT_TRUE(vcl.SetOutputFile(0, (dir.path() + "/preview.avi").toStdString(), out))
      << vcl.LastErrMsg();
  std::atomic<bool> ended{false};
  TTerminateInfo result;
  vcl.OnTerminate = [&](TCustomFFmpegVCL *, const TTerminateInfo &AInfo) {
    if (AInfo.TaskIndex == 0)
      result = AInfo;
    if (AInfo.TaskIndex < 0)
      ended = true;
  };
  vcl.Start(1);
  bool closed = false;
  ASSERT_TRUE(WaitServing(
      [&] {
        TPreviewer *p = previewer.load();
        if (!closed && p != nullptr && p->Form() != nullptr) {
          EXPECT_EQ(p->Form()->size(), QSize(640, 360));
          EXPECT_EQ(p->Form()->windowTitle(), "00:00:00.000");
          p->Form()->close();
          closed = true;
        }
        return ended.load();
      },
      120s));
  if (made == 0)
    GTEST_SKIP() << "the video path of this build shows no previews";
  EXPECT_TRUE(closed);
  EXPECT_EQ(made.load(), 1); // no window again for that task
  EXPECT_FALSE(vcl.Tasks(0)->PostHooks() & TCustomFFmpeg::phPreview);
  EXPECT_TRUE(result.Finished) << result.ExceptionMsg;
}

} // namespace
