// The window under load: a folder of many small files added through the add-folder command,
// then converted at four threads. Prints the longest event-loop delay of each phase and the
// process's peak memory. LC_LOAD_FILES sets the number of files (default 40);
// LC_LOAD_DELAY_BOUND_MS the delay that fails the test (default 1000: shared test machines
// are slow; the delay expected on a desktop is under 100 ms).
#include "app_test_support.h"

#include "change_combo_box.h"
#include "ffmpeg_task_list.h"
#include "options_dialog.h"
#include "sync_call.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using namespace std::chrono_literals;
using enum TWindowState;

int EnvInt(const char *AName, int ADefault) {
  const char *value = std::getenv(AName);
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : ADefault;
}

// The peak resident size of this process in KiB (VmHWM), or -1 when it cannot be read.
long PeakMemoryKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::atol(line.c_str() + 6);
  return -1;
}

// Ticks every 10 ms and keeps the largest lateness of a tick: how long the event loop could
// not answer.
class TLoopWatch {
public:
  TLoopWatch() {
    FTimer.setInterval(KInterval_ms);
    FTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const qint64 now = FClock.elapsed();
      FMaxLate_ms = std::max(FMaxLate_ms, now - FLast_ms - KInterval_ms);
      FLast_ms = now;
      ++FTicks;
    });
  }
  void Start() {
    FMaxLate_ms = 0;
    FClock.start();
    FLast_ms = 0;
    FTimer.start();
  }
  // Stops after one more tick, so a block that lasted to the end of the phase is counted.
  qint64 Stop() {
    const int ticks = FTicks;
    WaitServing([&] { return FTicks > ticks; }, 5s);
    FTimer.stop();
    return FMaxLate_ms;
  }

private:
  static constexpr int KInterval_ms = 10;
  QTimer FTimer;
  QElapsedTimer FClock;
  qint64 FLast_ms = 0;
  qint64 FMaxLate_ms = 0;
  int FTicks = 0;
};

TEST(LoadTest, ManyFilesAreAddedAndConvertedWhileTheWindowKeepsAnswering) {
  const int count = EnvInt("LC_LOAD_FILES", 40);
  const int delayBound_ms = EnvInt("LC_LOAD_DELAY_BOUND_MS", 1000);

  QTemporaryDir dir;
  const QString folder = dir.path() + QStringLiteral("/in");
  QDir().mkpath(folder);
  // Copies of a few short audio files of different kinds.
  const char *const samples[] = {"mono_8k.wav", "audio.mp3", "audio.flac", "audio.wav"};
  for (int i = 0; i < count; ++i) {
    const char *sample = samples[i % std::size(samples)];
    const QString name = QStringLiteral("%1/job%2.%3")
                             .arg(folder)
                             .arg(i, 4, 10, QLatin1Char('0'))
                             .arg(QFileInfo(QString::fromLatin1(sample)).suffix());
    ASSERT_TRUE(QFile::copy(QString::fromStdString(MediaPath(sample)), name)) << sample;
  }

  TActionRecorder actions;
  TDialogScript dialogs;
  TFFmpegTaskList tasks;
  TWindowContext context;
  const QString appFolder = dir.path() + QStringLiteral("/bin/");
  QDir().mkpath(appFolder);
  context.Paths.AppFolder = appFolder;
  context.Paths.IniFile = appFolder + QStringLiteral("option.ini");
  context.Paths.DefaultOutPath = dir.path() + QStringLiteral("/out");
  context.Paths.DefaultSnapShotPath = dir.path() + QStringLiteral("/snap");
  context.Actions = &actions;
  context.Dialogs = &dialogs;
  context.Tasks = &tasks;
  TTestForm1 form(context);
  CreateSecondaryForms(form);
  tasks.BindWindow(&form);
  form.show();
  // 常用音频, MP3: the cheapest conversion of the catalog for these inputs.
  form.bsSkinOfficeComboBox2->SetItemIndex(2);
  form.bsSkinOfficeComboBox1->SetItemIndex(0);
  form.Form5()->cbThreadCount->setCurrentText(QStringLiteral("4"));
  form.Form5()->rbDoNothing->setChecked(true);

  // The first add loads the libraries, once a run; the watch times the adding itself.
  ASSERT_TRUE(tasks.LoadAVLib(context.Paths.LibraryFolder())) << tasks.LastErrMsg().toStdString();

  TLoopWatch watch;
  dialogs.Folders << folder;
  watch.Start();
  form.AddFolder();
  const qint64 addDelay_ms = watch.Stop();
  ASSERT_EQ(form.JobCount(), count);
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join("\n").toStdString();

  watch.Start();
  form.btnStartClick();
  ASSERT_EQ(form.WindowState(), wsConverting);
  const bool ended = WaitServing([&] { return form.WindowState() == wsEnded; }, 30min);
  const qint64 convertDelay_ms = watch.Stop();
  ASSERT_TRUE(ended);
  int converted = 0;
  for (int i = 0; i < count; ++i)
    converted += form.Job(i)->text(Col(jcProgress)) == QStringLiteral("100%") ? 1 : 0;
  EXPECT_EQ(converted, count);
  EXPECT_TRUE(dialogs.Warnings.isEmpty()) << dialogs.Warnings.join("\n").toStdString();

  const long peak_KiB = PeakMemoryKiB();
  std::printf("load: %d files; longest event-loop delay %lld ms while adding, %lld ms while "
              "converting; peak memory %.1f MiB\n",
              count, static_cast<long long>(addDelay_ms), static_cast<long long>(convertDelay_ms),
              peak_KiB / 1024.0);
  std::fflush(stdout);
  ASSERT_GT(peak_KiB, 0);
  EXPECT_LT(peak_KiB, 1024L * 1024L);
  EXPECT_LT(addDelay_ms, delayBound_ms);
  EXPECT_LT(convertDelay_ms, delayBound_ms);
}

} // namespace
