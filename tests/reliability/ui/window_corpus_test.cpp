// The player and the window against the bad-input corpus and against being closed mid-run:
// every file opens in the preview or is refused, seeks, gives a snapshot and stops; adding the
// corpus folder logs every refusal; closing the window while converting with both previews on
// leaves no thread, no window and no changed user file.
#include "app/window_checks.h"
#include "reliability_util.h"

#include "ff_player.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_task_list.h"
#include "options_dialog.h"
#include "player_screen.h"
#include "snapshot.h"
#include "sync_call.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QTemporaryDir>

namespace {

using namespace reliability;
using namespace std::chrono_literals;

// The window over the real task list, each file it adds watched for a hang.
class TWatchedForm : public TForm1 {
public:
  using TForm1::TForm1;

protected:
  TAddFileResult AddFileJob(const QString &AFileName) override {
    TWatchdog watchdog(20s, "adding " + Printable(AFileName.toStdString()) + " in the window");
    return TForm1::AddFileJob(AFileName);
  }
};

struct TRealWindow {
  TRealWindow() {
    Context.Paths = TemporaryAppPaths(Dir.path());
    AppFolder = Context.Paths.AppFolder;
    Context.Paths.DefaultOutPath = Dir.path() + QStringLiteral("/out");
    Context.Paths.DefaultSnapShotPath = Dir.path() + QStringLiteral("/snap");
    QDir().mkpath(Context.Paths.DefaultOutPath);
    Context.Actions = &Actions;
    Context.Dialogs = &Dialogs;
    Context.Tasks = &Tasks;
    Form = std::make_unique<TWatchedForm>(Context);
    CreateSecondaryForms(*Form);
    Tasks.BindWindow(Form.get());
    Form->show();
  }
  ~TRealWindow() {
    Form.reset();
    GetLogger()->SetOnLog(nullptr);
  }
  // Lines of the window's log that begin with APrefix.
  int LogLines(const QString &APrefix) const {
    int n = 0;
    for (const QString &line : Form->LogText().split(QLatin1Char('\n')))
      n += line.startsWith(APrefix);
    return n;
  }

  QTemporaryDir Dir;
  QString AppFolder;
  TActionRecorder Actions;
  TDialogScript Dialogs;
  TFFmpegTaskList Tasks;
  TWindowContext Context;
  std::unique_ptr<TWatchedForm> Form;
};

TEST(CorpusPreview, EveryFileOpensOrIsRefusedSeeksSnapsAndStops) {
  ASSERT_TRUE(FFLoader().Load(PlayerLibraries)) << FFLoader().LastErrMsg();
  GetLogger()->SetTriggerEventInMainThread(true);
  GetLogger()->SetLogLevel(llError);
  const std::map<std::string, std::string> inputs = Snapshot(CorpusFolder());
  QTemporaryDir snapshots;
  TPlayerScreen screen;
  screen.resize(160, 120);
  screen.show();
  int threads = -1, files = -1;
  int opened = 0, shots = 0;
  for (const std::string &file : CorpusFiles()) {
    SCOPED_TRACE(Printable(file));
    TWatchdog watchdog(30s, "previewing " + Printable(file));
    std::vector<TPlayState> states; // outlives the player, whose end it hears too
    TFFPlayer player;
    player.SetDisableAudio(true);
    player.SetOnState([&](TCustomPlayer *, TPlayState AState) { states.push_back(AState); });
    if (!player.Open(file, &screen, true)) {
      EXPECT_FALSE(player.LastErrMsg().empty());
      continue;
    }
    ++opened;
    // Opened paused, it stops at its first picture; a broken file may have none to show.
    WaitServing([&] { return !states.empty() && states.back() != psPlay; }, 2s);
    player.Seek(0.5, {}, true);
    const QImage picture = player.CurrentFrame();
    if (!picture.isNull()) {
      ++shots;
      QString error;
      const QString shot = SaveSnapShot(
          picture, snapshots.path(), SnapShotBaseName(QString::fromStdString(file)), pfPNG, &error);
      // A name at the file system's limit leaves no room for the number: refused, and said so.
      const bool tooLong = fs::path(file).stem().string().size() + 6 > 255;
      EXPECT_EQ(shot.isEmpty(), tooLong) << error.toStdString();
      if (tooLong) {
        EXPECT_EQ(error, QStringLiteral("File name too long"));
      }
    }
    player.Stop(true);
    // The libraries keep a few threads and files for the process once the first file played.
    if (threads < 0) {
      threads = ThreadCountBesidesQtPool();
      files = OpenFileCount();
    }
  }
  EXPECT_GT(opened, 10);
  EXPECT_GT(shots, 10);
  EXPECT_TRUE(WaitUntil([&] { return ThreadCountBesidesQtPool() <= threads; }))
      << ThreadCountBesidesQtPool() << " threads, " << threads << " after the first file";
  EXPECT_LE(OpenFileCount(), files);
  EXPECT_EQ(Snapshot(CorpusFolder()), inputs);
  GetLogger()->SetLogLevel(llInfo);
}

// The corpus folder through 添加目录's core, then converted in the window: every file is
// either a row or a refusal in the log, every failed task one warning, and a failed task
// leaves no output.
TEST(CorpusWindow, AddingTheCorpusFolderAndConvertingIt) {
  TRealWindow w;
  const std::map<std::string, std::string> inputs = Snapshot(CorpusFolder());
  // 常用音频, first profile: sound only, the quickest conversion.
  w.Form->bsSkinOfficeComboBox2->SetItemIndex(2);
  w.Form->bsSkinOfficeComboBox1->SetItemIndex(0);
  w.Dialogs.Folders << QString::fromStdString(CorpusFolder());
  {
    TWatchdog watchdog(120s, "adding the corpus folder");
    w.Form->AddFolder();
  }
  const int rows = w.Form->JobCount();
  const int refused = w.LogLines("***File load error: ") + w.LogLines("***File open error: ") +
                      w.LogLines("***Cannot do convert, error: ");
  EXPECT_EQ(w.LogLines("***Can do convert."), rows);
  // The folder's files, its hidden mark of completion too, but not the names that are no
  // UTF-8: file names in the window are texts, and those cannot be written as one.
  int named = 1;
  for (const std::string &file : CorpusFiles())
    named += QString::fromStdString(file).toStdString() == file;
  EXPECT_EQ(rows + refused, named) << w.Form->LogText().toStdString();
  ASSERT_GT(rows, 5);

  w.Form->Form5()->cbThreadCount->setCurrentText("2");
  w.Form->btnStartClick();
  EXPECT_TRUE(WaitServing([&] { return w.Form->WindowState() == TWindowState::wsEnded; }, 120s))
      << "the run over the corpus did not end";
  int failed = 0;
  TFFmpegVCL &vcl = w.Tasks.Component();
  for (int i = 0; i < vcl.TasksCount(); ++i) {
    TFFmpeg *task = vcl.Tasks(i);
    if (task->Finished())
      continue;
    ++failed;
    const std::string output = w.Form->Job(i)->text(Col(jcOutputFile)).toStdString();
    EXPECT_FALSE(fs::exists(output)) << "a failed conversion left " << Printable(output);
  }
  EXPECT_EQ(w.Dialogs.Warnings.size(), failed) << w.Dialogs.Warnings.join('\n').toStdString();
  for (const QString &warning : w.Dialogs.Warnings)
    EXPECT_TRUE(warning.startsWith(QStringLiteral("凌川安卓手机格式转换器 | ")) &&
                warning.size() > 16)
        << warning.toStdString();
  EXPECT_EQ(Snapshot(CorpusFolder()), inputs);
}

// Closing the window while a task converts and others wait, with the live preview on and the
// selected row playing in the preview panel: the close stops and waits for everything, the inputs
// and the user's files are untouched, and no thread or window outlives it.
TEST(CloseDuringRun, WithBothPreviewsOnLeavesNothingBehind) {
  std::optional<TRealWindow> w(std::in_place);
  const int threadsBefore = ThreadCountBesidesQtPool();
  const QString in = w->Dir.path() + QStringLiteral("/in/");
  QDir().mkpath(in);
  QStringList files;
  for (int i = 0; i < 5; ++i) {
    files << in + QStringLiteral("clip%1.mp4").arg(i);
    QFile::copy(QString::fromStdString(MediaPath("h264_aac_640x360.mp4")), files.back());
  }
  const QString out = w->Context.Paths.DefaultOutPath;
  {
    QFile keep(out + QStringLiteral("/keep.txt"));
    keep.open(QIODevice::WriteOnly);
    keep.write("mine");
  }
  const std::map<std::string, std::string> inputs = Snapshot(in.toStdString());
  w->Dialogs.FileLists.push_back(files);
  w->Form->AddFiles();
  ASSERT_EQ(w->Form->JobCount(), 5);
  // The add selected the last row: it plays in the preview panel.
  w->Form->bsSkinButton13->click();
  w->Form->Form5()->chkPreview->setChecked(true);
  ASSERT_TRUE(w->Tasks.Component().Preview());
  // One at a time: the later files are surely still waiting when the window closes.
  w->Form->Form5()->cbThreadCount->setCurrentText("1");
  w->Form->btnStartClick();
  ASSERT_TRUE(WaitServing(
      [&] {
        const QString progress = w->Form->Job(0)->text(Col(jcProgress));
        return progress.endsWith('%') && progress != QStringLiteral("0%");
      },
      60s));
  ASSERT_EQ(w->Form->WindowState(), TWindowState::wsConverting);
  TFFmpegVCL &vcl = w->Tasks.Component();
  // A task whose predecessor has not started either cannot start before the close stops the
  // run: it never runs.
  std::vector<std::string> neverRun;
  for (int i = 1; i + 1 < vcl.TasksCount(); ++i)
    if (!vcl.Tasks(i)->Converting() && !vcl.Tasks(i)->Terminated())
      neverRun.push_back(
          (out + QLatin1Char('/') + w->Form->Job(i + 1)->text(Col(jcOutputFile))).toStdString());
  EXPECT_FALSE(neverRun.empty()) << "every task had started before the close";
  {
    TWatchdog watchdog(30s, "closing the window during a run");
    w->Form->close();
  }
  EXPECT_TRUE(vcl.Terminated());
  for (int i = 0; i < vcl.TasksCount(); ++i)
    EXPECT_FALSE(vcl.Tasks(i)->Converting()) << i;
  EXPECT_EQ(Snapshot(in.toStdString()), inputs);
  EXPECT_EQ(FileContent((out + QStringLiteral("/keep.txt")).toStdString()), "mine");
  WaitServing([] { return false; }, 200ms);
  for (QWidget *top : QApplication::topLevelWidgets())
    EXPECT_FALSE(top->isVisible()) << top->objectName().toStdString() << " still shown";
  // The folders stay for the checks after the window and its task list are gone.
  const QString root = w->Dir.path();
  w->Dir.setAutoRemove(false);
  w.reset();
  EXPECT_TRUE(WaitUntil([&] { return ThreadCountBesidesQtPool() <= threadsBefore; }))
      << ThreadCountBesidesQtPool() << " threads, " << threadsBefore
      << " before: " << ThreadNames();
  // A task that never ran leaves no output behind once its task list is gone.
  for (const std::string &output : neverRun)
    EXPECT_FALSE(fs::exists(output)) << output;
  EXPECT_EQ(FileContent((out + QStringLiteral("/keep.txt")).toStdString()), "mine");
  QDir(root).removeRecursively();
}

} // namespace
