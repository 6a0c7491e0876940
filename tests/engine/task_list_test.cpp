// The task-list component with real tasks (stream copies of the sample files): building tasks,
// the run states and their refusals, thread mode and the calling-thread mode, the termination
// records of normal ends, failures and stops, and a stress of pause, resume and stop.
#include "av_probe.h"
#include "ffmpeg_vcl.h"
#include "sync_call.h"
#include "transcode_test_util.h"

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// The threads of this process.
int ThreadCount() {
  // ThreadSanitizer starts a helper thread of its own with the first thread a process makes;
  // one thread made and joined first keeps it out of every comparison.
  [[maybe_unused]] static const bool helperStarted = [] {
    std::thread([] {}).join();
    return true;
  }();
  int n = 0;
  for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

// The component with a look at each task's reports and termination before it handles them, on
// the thread that runs the task.
class TTestVCL : public TFFmpegVCL {
public:
  std::function<void(TCustomFFmpeg *ATask)> BeforeProgress;
  std::function<void(TCustomFFmpeg *ATask)> BeforeTerminate;

  int IndexOf(const TCustomFFmpeg *ATask) const {
    for (int i = 0; i < TasksCount(); ++i)
      if (Tasks(i) == ATask)
        return i;
    return -1;
  }
  // How many tasks convert right now.
  int Running() const {
    int n = 0;
    for (int i = 0; i < TasksCount(); ++i)
      n += Tasks(i)->Converting() ? 1 : 0;
    return n;
  }

protected:
  void TaskProgress(TCustomFFmpeg *Sender, int AFileIndex, int AFrameNumber, int AFPS,
                    float AQuality, float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration,
                    int64_t ATotalDuration) override {
    if (BeforeProgress)
      BeforeProgress(Sender);
    TFFmpegVCL::TaskProgress(Sender, AFileIndex, AFrameNumber, AFPS, AQuality, ABitRate,
                             ACurrentSize, ACurrentDuration, ATotalDuration);
  }
  void TaskTerminate(TCustomFFmpeg *Sender) override {
    if (BeforeTerminate)
      BeforeTerminate(Sender);
    TFFmpegVCL::TaskTerminate(Sender);
  }
};

// The termination records in the order they were handed over.
struct TTerminations {
  std::mutex Lock; // protects Records and Threads
  std::vector<TTerminateInfo> Records;
  std::vector<std::thread::id> Threads;
  TEvent Final;

  void Bind(TCustomFFmpegVCL &AVCL) {
    AVCL.OnTerminate = [this](TCustomFFmpegVCL *, const TTerminateInfo &AInfo) {
      {
        std::lock_guard<std::mutex> lock(Lock);
        Records.push_back(AInfo);
        Threads.push_back(std::this_thread::get_id());
      }
      // The last thing done here: the test may end as soon as it sees the final record.
      if (AInfo.TaskIndex < 0)
        Final.Set();
    };
  }
  std::vector<TTerminateInfo> Copy() {
    std::lock_guard<std::mutex> lock(Lock);
    return Records;
  }
};

// Task index -> (finished, exception, message), and whether the final record came once, last.
struct TRunOutcome {
  std::map<int, std::tuple<bool, bool, std::string>> Tasks;
  int Finals = 0;
  bool FinalLast = false;
  int TaskRecords = 0;
};

TRunOutcome Outcome(const std::vector<TTerminateInfo> &ARecords) {
  TRunOutcome o;
  for (const TTerminateInfo &r : ARecords) {
    if (r.TaskIndex < 0) {
      ++o.Finals;
      EXPECT_TRUE(r.Finished);
      EXPECT_FALSE(r.Exception);
      EXPECT_EQ(r.ExceptionMsg, "");
      continue;
    }
    ++o.TaskRecords;
    o.Tasks[r.TaskIndex] = {r.Finished, r.Exception, r.ExceptionMsg};
  }
  o.FinalLast = !ARecords.empty() && ARecords.back().TaskIndex == -1;
  return o;
}

// Holds each task in its reports until it is let go; a stopped task is let go by its stop.
class TGate {
public:
  void Arrive(int ATask, const TCustomFFmpeg *ASender) {
    std::unique_lock<std::mutex> lock(FLock);
    if (FArrived.insert(ATask).second)
      FOrder.push_back(ATask);
    FChanged.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!FAllOpen && !FOpen.count(ATask) && !ASender->Broken() &&
           std::chrono::steady_clock::now() < deadline)
      FChanged.wait_for(lock, 2ms);
  }
  bool WaitArrived(std::set<int> ATasks, std::chrono::milliseconds ATimeout = 60s) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, ATimeout, [&] {
      for (int t : ATasks)
        if (!FArrived.count(t))
          return false;
      return true;
    });
  }
  bool Arrived(int ATask) {
    std::lock_guard<std::mutex> lock(FLock);
    return FArrived.count(ATask) != 0;
  }
  void Open(int ATask) {
    std::lock_guard<std::mutex> lock(FLock);
    FOpen.insert(ATask);
    FChanged.notify_all();
  }
  void OpenAll() {
    std::lock_guard<std::mutex> lock(FLock);
    FAllOpen = true;
    FChanged.notify_all();
  }

private:
  std::mutex FLock; // protects the sets and FAllOpen
  std::condition_variable FChanged;
  std::set<int> FArrived, FOpen;
  std::vector<int> FOrder;
  bool FAllOpen = false;
};

class TaskListTest : public TranscodeTest {
protected:
  void TearDown() override {
    FVCL.reset(); // every thread ends before the checks of the fixture
    TranscodeTest::TearDown();
  }

  TTestVCL &VCL() {
    if (!FVCL)
      FVCL = std::make_unique<TTestVCL>();
    return *FVCL;
  }

  // A task copying AInput into AOutput; ALength_us cuts it (and becomes its expected length).
  int AddCopy(const std::string &AOutput, int64_t ALength_us = AV_NOPTS_VALUE,
              const char *AInput = "h264_aac_640x360.mp4") {
    const int index = VCL().AddTask(MediaPath(AInput));
    EXPECT_GE(index, 0) << VCL().LastErrMsg();
    if (index < 0)
      return index;
    TOutputOptions out;
    InitOutputOptions(out);
    out.VideoCodec = "copy";
    out.AudioCodec = "copy";
    out.TimeLength = ALength_us;
    EXPECT_TRUE(VCL().SetOutputFile(index, Out(AOutput), out)) << VCL().LastErrMsg();
    return index;
  }
  // ACount copies named copyN.mkv.
  void AddCopies(int ACount) {
    for (int i = 0; i < ACount; ++i)
      AddCopy("copy" + std::to_string(i) + ".mkv");
  }
  // Holds the tasks at their first report; counts the most that converted at once.
  void GateReports(TGate &AGate) {
    VCL().BeforeProgress = [this, &AGate](TCustomFFmpeg *ATask) {
      int running = VCL().Running();
      int seen = FMostRunning.load();
      while (running > seen && !FMostRunning.compare_exchange_weak(seen, running)) {
      }
      AGate.Arrive(VCL().IndexOf(ATask), ATask);
    };
  }
  void ExpectRefused(const std::function<void()> &AOperation, const std::string &AMessage) {
    try {
      AOperation();
      ADD_FAILURE() << "not refused: " << AMessage;
    } catch (const FFmpegException &e) {
      EXPECT_EQ(std::string(e.what()), AMessage);
    }
  }

  std::unique_ptr<TTestVCL> FVCL;
  std::atomic<int> FMostRunning{0};
};

TEST_F(TaskListTest, ProgressIntervalIsAtLeast100msAndBecomesTheReportInterval) {
  const std::pair<int, int> cases[] = {{50, 100}, {100, 100}, {101, 101}, {-5, 100}, {750, 750}};
  for (const auto &[set, read] : cases) {
    VCL().SetProgressInterval(set);
    EXPECT_EQ(VCL().ProgressInterval(), read) << set;
  }
  AddCopy("interval.mkv");
  VCL().Start(0);
  EXPECT_EQ(VCL().Tasks(0)->ReportInterval, 750000);
}

TEST_F(TaskListTest, WithoutThreadModeEveryTaskRunsOnTheCallingThreadInTurn) {
  for (const int count : {0, -1}) {
    SCOPED_TRACE(count);
    FVCL.reset();
    AddCopies(3);
    std::vector<std::thread::id> threads;
    std::vector<int> progressOrder;
    VCL().OnProgress = [&](TCustomFFmpegVCL *, TProgressInfo *AInfo) {
      threads.push_back(std::this_thread::get_id());
      if (progressOrder.empty() || progressOrder.back() != AInfo->TaskIndex)
        progressOrder.push_back(AInfo->TaskIndex);
    };
    TTerminations terminations;
    terminations.Bind(VCL());
    VCL().Start(count);
    // Start returned after the final record.
    EXPECT_TRUE(VCL().Terminated());
    EXPECT_TRUE(VCL().Working());
    const TRunOutcome o = Outcome(terminations.Copy());
    EXPECT_EQ(o.Finals, 1);
    EXPECT_TRUE(o.FinalLast);
    EXPECT_EQ(o.TaskRecords, 3);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(o.Tasks.at(i), std::make_tuple(true, false, std::string())) << i;
    EXPECT_EQ(progressOrder, (std::vector<int>{0, 1, 2}));
    for (const auto &id : terminations.Threads)
      EXPECT_EQ(id, std::this_thread::get_id());
    for (const auto &id : threads)
      EXPECT_EQ(id, std::this_thread::get_id());
  }
}

TEST_F(TaskListTest, FourWorkersStartTwoTasksAtOnce) {
  AddCopies(2);
  TGate gate;
  GateReports(gate);
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(4);
  // Each holds in its report until both have arrived: they run side by side.
  ASSERT_TRUE(gate.WaitArrived({0, 1}));
  EXPECT_EQ(FMostRunning.load(), 2);
  gate.OpenAll();
  ASSERT_TRUE(terminations.Final.WaitFor(60s));
  const TRunOutcome o = Outcome(terminations.Copy());
  EXPECT_EQ(o.Finals, 1);
  EXPECT_TRUE(o.FinalLast);
  EXPECT_TRUE(std::get<0>(o.Tasks.at(0)) && std::get<0>(o.Tasks.at(1)));
  // Delivered on threads of their own, never on the main thread.
  std::lock_guard<std::mutex> lock(terminations.Lock);
  for (const auto &id : terminations.Threads)
    EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(TaskListTest, OneWorkerRunsThreeTasksStrictlyOneAfterAnother) {
  AddCopies(3);
  TGate gate;
  GateReports(gate);
  std::mutex lock; // protects events
  std::vector<std::string> events;
  VCL().BeforeTerminate = [&](TCustomFFmpeg *ATask) {
    std::lock_guard<std::mutex> g(lock);
    events.push_back("end " + std::to_string(VCL().IndexOf(ATask)));
  };
  auto progress = VCL().BeforeProgress;
  VCL().BeforeProgress = [&, progress](TCustomFFmpeg *ATask) {
    {
      std::lock_guard<std::mutex> g(lock);
      const std::string e = "run " + std::to_string(VCL().IndexOf(ATask));
      if (std::find(events.begin(), events.end(), e) == events.end())
        events.push_back(e);
    }
    progress(ATask);
  };
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(1);
  ASSERT_TRUE(gate.WaitArrived({0}));
  // Only the first has started; the next ones start from the ending task's thread.
  EXPECT_FALSE(VCL().Tasks(1)->Converting() || VCL().Tasks(1)->Terminated());
  EXPECT_FALSE(VCL().Tasks(2)->Converting() || VCL().Tasks(2)->Terminated());
  gate.OpenAll();
  ASSERT_TRUE(terminations.Final.WaitFor(60s));
  EXPECT_EQ(FMostRunning.load(), 1);
  std::lock_guard<std::mutex> g(lock);
  EXPECT_EQ(events,
            (std::vector<std::string>{"run 0", "end 0", "run 1", "end 1", "run 2", "end 2"}));
}

TEST_F(TaskListTest, ThreeWorkersForFiveTasksStartTheFourthWhenOneEnds) {
  AddCopies(5);
  TGate gate;
  GateReports(gate);
  std::atomic<int> sequence{0};
  std::array<std::atomic<int>, 5> ended{}, arrived{};
  VCL().BeforeTerminate = [&](TCustomFFmpeg *ATask) { ended[VCL().IndexOf(ATask)] = ++sequence; };
  auto hold = VCL().BeforeProgress;
  VCL().BeforeProgress = [&, hold](TCustomFFmpeg *ATask) {
    int expected = 0;
    arrived[VCL().IndexOf(ATask)].compare_exchange_strong(expected, ++sequence);
    hold(ATask);
  };
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(3);
  ASSERT_TRUE(gate.WaitArrived({0, 1, 2}));
  // Three are held in their reports, so nothing can have ended to make room.
  for (int i : {3, 4})
    EXPECT_FALSE(VCL().Tasks(i)->Converting() || VCL().Tasks(i)->Terminated()) << i;
  gate.Open(1);
  ASSERT_TRUE(gate.WaitArrived({3}));
  EXPECT_GT(arrived[3].load(), ended[1].load());
  EXPECT_GT(ended[1].load(), 0);
  EXPECT_EQ(ended[0].load() + ended[2].load(), 0); // still held
  EXPECT_FALSE(gate.Arrived(4));
  gate.OpenAll();
  ASSERT_TRUE(terminations.Final.WaitFor(60s));
  EXPECT_EQ(FMostRunning.load(), 3);
  const TRunOutcome o = Outcome(terminations.Copy());
  EXPECT_EQ(o.Finals, 1);
  EXPECT_EQ(o.TaskRecords, 5);
}

TEST_F(TaskListTest, StopWithTwoOfFiveRunningReportsEveryTaskThenOneFinalRecord) {
  AddCopies(5);
  TGate gate;
  GateReports(gate);
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(2);
  ASSERT_TRUE(gate.WaitArrived({0, 1}));
  VCL().Stop(true);
  // Every record, the final one included, was handed over before Stop returned.
  ASSERT_TRUE(terminations.Final.IsSet());
  const std::vector<TTerminateInfo> records = terminations.Copy();
  const TRunOutcome o = Outcome(records);
  EXPECT_EQ(o.Finals, 1);
  EXPECT_TRUE(o.FinalLast);
  EXPECT_EQ(o.TaskRecords, 5);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(o.Tasks.at(i), std::make_tuple(false, false, std::string())) << i;
  EXPECT_TRUE(VCL().Terminated());
  VCL().Stop(true); // a run that is done: nothing more
  EXPECT_EQ(terminations.Copy().size(), records.size());
  // The tasks that never ran leave no file once they are freed.
  VCL().ClearTasks();
  for (int i = 2; i < 5; ++i)
    EXPECT_FALSE(std::filesystem::exists(Out("copy" + std::to_string(i) + ".mkv"))) << i;
}

TEST_F(TaskListTest, ATaskWithoutOutputFailsAndTheRunGoesOn) {
  struct TCase {
    int Threads;
    const char *Layout; // o: a copy task, b: a task without output
  };
  for (const TCase c :
       {TCase{0, "obo"}, TCase{1, "obo"}, TCase{1, "boo"}, TCase{2, "boo"}, TCase{3, "bbo"}}) {
    SCOPED_TRACE(std::string(c.Layout) + " " + std::to_string(c.Threads));
    FVCL.reset();
    const std::string layout = c.Layout;
    for (size_t i = 0; i < layout.size(); ++i) {
      if (layout[i] == 'o')
        AddCopy("out" + std::to_string(i) + ".mkv");
      else
        EXPECT_GE(VCL().AddTask(MediaPath("audio.wav")), 0);
    }
    TTerminations terminations;
    terminations.Bind(VCL());
    VCL().Start(c.Threads);
    ASSERT_TRUE(terminations.Final.WaitFor(60s));
    const TRunOutcome o = Outcome(terminations.Copy());
    EXPECT_EQ(o.Finals, 1);
    EXPECT_TRUE(o.FinalLast);
    ASSERT_EQ(o.TaskRecords, static_cast<int>(layout.size()));
    for (size_t i = 0; i < layout.size(); ++i) {
      const auto expected =
          layout[i] == 'o'
              ? std::make_tuple(true, false, std::string())
              : std::make_tuple(false, true,
                                std::string("At least one output file must be specified"));
      EXPECT_EQ(o.Tasks.at(static_cast<int>(i)), expected) << i;
    }
  }
}

TEST_F(TaskListTest, RunningAndDoneRefuseChangesUntilClearTasks) {
  AddCopy("refused.mkv");
  const auto refusals = [this] {
    const int count = VCL().TasksCount();
    ExpectRefused([this] { VCL().AddTask(MediaPath("audio.wav")); },
                  "Cannot AddTask while working.");
    ExpectRefused([this] { VCL().AddInputFile(0, MediaPath("audio.wav")); },
                  "Cannot AddInputFile while working.");
    ExpectRefused([this] { VCL().SetOutputFile(0, Out("x.wav")); },
                  "Cannot SetOutputFile while working.");
    ExpectRefused([this] { VCL().Exchange(0, 0); }, "Cannot Exchange while working.");
    ExpectRefused([this] { VCL().RemoveTask(0); }, "Cannot RemoveTask while working.");
    ExpectRefused([this] { VCL().Start(1); }, "Cannot StartTask while working.");
    EXPECT_EQ(VCL().TasksCount(), count);
  };
  TGate gate;
  GateReports(gate);
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(1);
  ASSERT_TRUE(gate.WaitArrived({0}));
  refusals();
  ExpectRefused([this] { VCL().ClearTasks(); }, "Cannot ClearTasks while working.");
  gate.OpenAll();
  ASSERT_TRUE(terminations.Final.WaitFor(60s));
  EXPECT_TRUE(VCL().Terminated());
  refusals();
  VCL().ClearTasks();
  EXPECT_FALSE(VCL().Working());
  EXPECT_FALSE(VCL().Terminated());
  EXPECT_EQ(VCL().TasksCount(), 0);
  EXPECT_EQ(VCL().AddTask(MediaPath("audio.wav")), 0);
}

TEST_F(TaskListTest, CustomMaxFilesLimitsInputsAndOutputs) {
  VCL().SetCustomMaxFiles(1);
  ASSERT_EQ(VCL().AddTask(MediaPath("audio.wav")), 0);
  EXPECT_FALSE(VCL().AddInputFile(0, MediaPath("audio.mp3")));
  EXPECT_EQ(VCL().LastErrMsg(), "max input files 1 reached");
  EXPECT_TRUE(VCL().SetOutputFile(0, Out("one.wav"))) << VCL().LastErrMsg();
  EXPECT_FALSE(VCL().SetOutputFile(0, Out("two.wav")));
  EXPECT_EQ(VCL().LastErrMsg(), "max output files 1 reached");
  EXPECT_EQ(VCL().Tasks(0)->nb_input_files(), 1);
  EXPECT_EQ(VCL().Tasks(0)->nb_output_files(), 1);
}

TEST_F(TaskListTest, IndicesInReportsArePositionsAfterRemoveAndExchange) {
  // Each task is known by its length, which its reports carry as the expected duration.
  AddCopy("a.mkv", 1000000);
  AddCopy("b.mkv", 2000000);
  AddCopy("c.mkv", 500000);
  VCL().RemoveTask(0);
  VCL().Exchange(0, 1);
  std::map<int, std::set<int64_t>> totals;
  VCL().OnProgress = [&](TCustomFFmpegVCL *, TProgressInfo *AInfo) {
    totals[AInfo->TaskIndex].insert(AInfo->TotalDuration);
  };
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(0);
  EXPECT_EQ(totals, (std::map<int, std::set<int64_t>>{{0, {500000}}, {1, {2000000}}}));
  const TRunOutcome o = Outcome(terminations.Copy());
  EXPECT_EQ(o.Tasks.size(), 2u);
  EXPECT_TRUE(o.Tasks.count(0) && o.Tasks.count(1));
  EXPECT_NEAR(ProbeDuration(Out("c.mkv")), 0.5, 0.1);
  EXPECT_FALSE(std::filesystem::exists(Out("a.mkv")));
}

TEST_F(TaskListTest, ATaskWhoseInputCannotBeOpenedIsFreed) {
  AddCopy("kept.mkv");
  for (const char *name : {"no_such_file.mp4", "text.mp4", "empty.mp4", "random.avi"}) {
    SCOPED_TRACE(name);
    const std::string path = MediaPath(name);
    EXPECT_EQ(VCL().AddTask(path), -1);
    EXPECT_EQ(VCL().LastErrMsg().rfind(path, 0), 0u) << VCL().LastErrMsg();
    EXPECT_EQ(VCL().TasksCount(), 1);
  }
  // A stream name opens only where a protocol for it is supplied.
  std::stringstream stream;
  EXPECT_EQ(VCL().AddTask(stream, "private"), -1);
  EXPECT_EQ(VCL().LastErrMsg().rfind("stream:", 0), 0u) << VCL().LastErrMsg();
  // An option the transcoder refuses ends the add the same way.
  EXPECT_EQ(VCL().AddTask(MediaPath("audio.wav"), "f=no_such_format"), -1);
  EXPECT_NE(VCL().LastErrMsg().find("no_such_format"), std::string::npos) << VCL().LastErrMsg();
  EXPECT_EQ(VCL().TasksCount(), 1);
  // Indices outside the list are the list's error.
  const std::function<void()> outside[] = {
      [this] { VCL().AddInputFile(1, MediaPath("audio.wav")); },
      [this] { VCL().SetOutputFile(-1, Out("x.wav")); },
      [this] { VCL().RemoveTask(1); },
      [this] { VCL().Exchange(0, 3); },
      [this] { VCL().AVProbes(2, 0); },
      [this] { VCL().AVProbes(0, 20); },
  };
  for (const auto &op : outside)
    EXPECT_THROW(op(), std::out_of_range);
}

TEST_F(TaskListTest, ProbersSeeEachOpenedInputUntilTheRunClosesIt) {
  ASSERT_EQ(VCL().AddTask(MediaPath("h264_aac_640x360.mp4")), 0);
  ASSERT_TRUE(VCL().AddInputFile(0, MediaPath("audio.wav")));
  EXPECT_FALSE(VCL().AddInputFile(0, MediaPath("no_such_file.wav")));
  TAVProbe *first = VCL().AVProbes(0, 0);
  TAVProbe *second = VCL().AVProbes(0, 1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(VCL().AVProbes(0, 2), nullptr); // never opened
  EXPECT_EQ(first->FileHandle(), VCL().Tasks(0)->Finput_files[0].get());
  EXPECT_EQ(first->VideoStreamCount(), 1);
  EXPECT_EQ(second->AudioStreamCount(), 1);
  EXPECT_FALSE(first->OwnHandle());
  ASSERT_TRUE(VCL().SetOutputFile(0, Out("two.mkv"), "acodec=copy\nvcodec=copy"))
      << VCL().LastErrMsg();
  VCL().Start(0);
  EXPECT_EQ(first->FileHandle(), nullptr);
  EXPECT_EQ(second->FileHandle(), nullptr);
}

TEST_F(TaskListTest, PreviewSettingsReachExistingAndNewTasks) {
  using F = TCustomFFmpeg;
  AddCopies(2);
  int made = 0;
  VCL().SetPreviewerFactory([&made] {
    ++made;
    return std::unique_ptr<TPreviewerBase>();
  });
  VCL().SetPreviewBitmap(true);
  VCL().SetPreview(true);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(VCL().Tasks(i)->PostHooks(), F::phPreview | F::phBitmap);
  VCL().SetPreview(false);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(VCL().Tasks(i)->PostHooks(), unsigned(F::phBitmap));
  VCL().SetPreview(true);
  VCL().SetPreviewBitmap(false);
  ASSERT_EQ(VCL().AddTask(MediaPath("audio.wav")), 2);
  EXPECT_EQ(VCL().Tasks(2)->PostHooks(), unsigned(F::phPreview));
  ASSERT_TRUE(VCL().Tasks(2)->PreviewerFactory);
  VCL().Tasks(2)->PreviewerFactory();
  EXPECT_EQ(made, 1);
}

// The events the video path raises: the custom hook on the worker itself, handing Update and
// StopHook back; the preview bitmap on the main thread while the worker waits.
TEST_F(TaskListTest, HookAndPreviewBitmapEventsReachTheirHandlers) {
  int argc = 1;
  char name[] = "engine_tests";
  char *argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  AddCopy("first.mkv");
  ASSERT_EQ(VCL().AddTask(MediaPath("h264_aac_640x360.mp4")), 1);
  TOutputOptions out;
  InitOutputOptions(out);
  out.VideoCodec = "mpeg4";
  out.CustomHook = true;
  ASSERT_TRUE(VCL().SetOutputFile(1, Out("hooked.avi"), out)) << VCL().LastErrMsg();
  EXPECT_FALSE(VCL().Tasks(0)->OnCustomHook); // bound only for a record that asks for it
  TCustomFFmpeg *task = VCL().Tasks(1);
  ASSERT_TRUE(task->OnCustomHook);
  ASSERT_TRUE(task->OnPreviewBitmap);

  std::thread::id hookThread, previewThread;
  THookInfo seenHook;
  TPreviewInfo seenPreview;
  VCL().OnCustomHook = [&](TCustomFFmpegVCL *, THookInfo *AInfo) {
    hookThread = std::this_thread::get_id();
    seenHook = *AInfo;
    AInfo->Bitmap->fill(Qt::white);
    AInfo->Update = true;
    AInfo->StopHook = true;
  };
  VCL().OnPreviewBitmap = [&](TCustomFFmpegVCL *, const TPreviewInfo &AInfo) {
    previewThread = std::this_thread::get_id();
    seenPreview = AInfo;
  };
  QImage bitmap(8, 6, QImage::Format_RGB888);
  bitmap.fill(Qt::black);
  bool update = false, stop = false;
  std::thread::id worker;
  TEvent done;
  std::thread thread([&] {
    worker = std::this_thread::get_id();
    task->OnCustomHook(task, bitmap, 12, 480000, update, stop);
    task->OnPreviewBitmap(task, bitmap, 13, 520000);
    done.Set();
  });
  EXPECT_TRUE(WaitServing([&] { return done.IsSet(); }, 30s));
  thread.join();
  EXPECT_EQ(hookThread, worker);
  EXPECT_EQ(seenHook.TaskIndex, 1);
  EXPECT_EQ(seenHook.FrameNumber, 12);
  EXPECT_EQ(seenHook.PTS, 480000);
  EXPECT_EQ(seenHook.Bitmap, &bitmap);
  EXPECT_TRUE(update && stop);
  EXPECT_EQ(bitmap.pixelColor(0, 0), QColor(Qt::white));
  EXPECT_EQ(previewThread, std::this_thread::get_id());
  EXPECT_EQ(seenPreview.TaskIndex, 1);
  EXPECT_EQ(seenPreview.FrameNumber, 13);
  EXPECT_EQ(seenPreview.PTS, 520000);
  EXPECT_EQ(seenPreview.Bitmap, &bitmap);
}

TEST_F(TaskListTest, StartingAnEmptyListDeliversTheFinalRecordAtOnce) {
  for (const int count : {0, 2}) {
    SCOPED_TRACE(count);
    FVCL.reset();
    TTerminations terminations;
    terminations.Bind(VCL());
    VCL().Start(count);
    ASSERT_TRUE(terminations.Final.WaitFor(10s));
    EXPECT_TRUE(VCL().Terminated());
    EXPECT_EQ(Outcome(terminations.Copy()).Finals, 1);
    VCL().ClearTasks();
  }
}

TEST_F(TaskListTest, AWaitingStopFromAHandlerWithoutThreadModeDoesNotWaitOnItself) {
  AddCopies(3);
  int stops = 0;
  VCL().OnProgress = [&](TCustomFFmpegVCL *ASender, TProgressInfo *AInfo) {
    if (AInfo->TaskIndex == 0 && stops++ == 0)
      ASender->Stop(true);
  };
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(0);
  EXPECT_TRUE(VCL().Terminated());
  const TRunOutcome o = Outcome(terminations.Copy());
  EXPECT_EQ(o.Finals, 1);
  EXPECT_TRUE(o.FinalLast);
  EXPECT_EQ(o.TaskRecords, 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(o.Tasks.at(i), std::make_tuple(false, false, std::string())) << i;
}

TEST_F(TaskListTest, DestroyingTheComponentDuringARunStopsAndJoinsEveryThread) {
  const int before = ThreadCount();
  AddCopies(4);
  TGate gate;
  GateReports(gate);
  TTerminations terminations;
  terminations.Bind(VCL());
  VCL().Start(3);
  ASSERT_TRUE(gate.WaitArrived({0, 1, 2}));
  FVCL.reset();
  EXPECT_TRUE(terminations.Final.IsSet());
  EXPECT_EQ(Outcome(terminations.Copy()).TaskRecords, 4);
  EXPECT_EQ(ThreadCount(), before);
}

// Many short tasks while the main thread pauses, resumes, stops and is busy elsewhere: the
// reports reach the main thread, every task reports its end once, then one final record, and
// no thread is left.
TEST_F(TaskListTest, StressPauseResumeStopWhileTheMainThreadIsBusy) {
  int argc = 1;
  char name[] = "engine_tests";
  char *argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  const int before = ThreadCount();
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    VCL().SetProgressInterval(100);
    for (int i = 0; i < 20; ++i)
      AddCopy("stress" + std::to_string(i) + ".mkv", AV_NOPTS_VALUE,
              i % 2 ? "中文 名称 测试.mp4" : "audio.wav");
    std::atomic<int> offMain{0};
    VCL().OnProgress = [&](TCustomFFmpegVCL *, TProgressInfo *) {
      if (!OnEventLoopThread())
        ++offMain;
    };
    TTerminations terminations;
    terminations.Bind(VCL());
    VCL().Start(4);
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    bool stopped = false;
    while (!terminations.Final.IsSet() && std::chrono::steady_clock::now() < deadline) {
      switch (random() % 8) {
      case 0:
        VCL().Pause();
        break;
      case 1:
      case 2:
        VCL().Resume();
        break;
      case 3:
        if (random() % 4 == 0) {
          VCL().Stop(random() % 2 == 0);
          stopped = true;
        }
        break;
      case 4:
        // Busy without serving: reports pile up behind the main thread.
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 30));
        break;
      default:
        WaitServing([] { return false; }, std::chrono::milliseconds(random() % 10));
        break;
      }
    }
    if (!terminations.Final.IsSet()) {
      ADD_FAILURE() << "no final record, stopped " << stopped;
      VCL().Stop(true);
    }
    VCL().Stop(true); // waits for the deliveries still on their way
    const TRunOutcome o = Outcome(terminations.Copy());
    EXPECT_EQ(o.Finals, 1);
    EXPECT_TRUE(o.FinalLast);
    EXPECT_EQ(o.TaskRecords, 20);
    EXPECT_EQ(o.Tasks.size(), 20u);
    EXPECT_EQ(offMain.load(), 0);
    VCL().ClearTasks();
  }
  FVCL.reset();
  EXPECT_EQ(ThreadCount(), before);
}

} // namespace
