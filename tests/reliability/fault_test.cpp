// Faults of the system during a run: the output folder removed, a full disk, the input deleted
// or cut short, and workers stopped at random moments. Each run must end with its termination
// records and the engine's messages, lose no user file, and leave no thread or file open.
#include "reliability_util.h"

#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "test_media.h"

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <thread>

namespace {

using namespace reliability;

const TProfile &Mp4Profile() {
  static const TProfile *profile = ProfileWhere([](const TProfile &p) {
    return ProfileOutputExt(p) == ".mp4" && !p.DisableVideo && p.TargetType.empty();
  });
  return *profile;
}

class FaultTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
    GetLogger()->SetTriggerEventInMainThread(false);
    GetLogger()->SetLogLevel(llError);
    GetLogger()->SetOnLog([this](const void *, uint32_t, TLogLevel l, const std::string &m) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.push_back({l, m});
    });
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    FDir = std::string(LC_TEST_BINARY_DIR) + "/fault-out/" + info->name();
    fs::remove_all(FDir);
    fs::create_directories(FDir + "/in");
    fs::create_directories(FDir + "/out");
    // A file of the user's that was in the output folder before.
    std::ofstream(FDir + "/out/keep.txt") << "the user's own file\n";
    FThreads = BaselineThreadCount();
    FFiles = OpenFileCount();
  }
  void TearDown() override {
    GetLogger()->SetOnLog(nullptr);
    GetLogger()->SetLogLevel(llInfo);
  }

  // A copy of a sample in the input folder.
  std::string Input(const std::string &ASample, const std::string &AName) {
    const std::string path = FDir + "/in/" + AName;
    fs::copy_file(MediaPath(ASample), path, fs::copy_options::overwrite_existing);
    return path;
  }
  bool Logged(TLogLevel ALevel, const std::string &APart) {
    std::lock_guard<std::mutex> lock(FLock);
    for (const auto &[level, msg] : FLines)
      if (level == ALevel && msg.find(APart) != std::string::npos)
        return true;
    return false;
  }
  // Starts AVCL, lets AFault act once the first task has made progress (the task held at the
  // top of its loop meanwhile), and waits for the final record.
  void RunWithFault(TFFmpegVCL &AVCL, TTerminationLog &ALog, const std::function<void()> &AFault) {
    // Shared with the handler, which may still run when a failed check returns early.
    auto progressed = std::make_shared<TEvent>();
    AVCL.OnProgress = [progressed](TCustomFFmpegVCL *, TProgressInfo *) { progressed->Set(); };
    TWatchdog watchdog(60s, "the run with a fault");
    AVCL.Start(1);
    ASSERT_TRUE(progressed->WaitFor(30s));
    AVCL.Pause();
    AFault();
    AVCL.Resume();
    ASSERT_TRUE(ALog.Final.WaitFor(30s));
  }
  void ExpectEverythingClosed() {
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= FThreads; }))
        << ThreadCount() << " threads, " << FThreads << " before";
    EXPECT_LE(OpenFileCount(), FFiles);
  }

  std::string FDir;
  int FThreads = 0, FFiles = 0;
  std::mutex FLock; // protects FLines
  std::vector<std::pair<TLogLevel, std::string>> FLines;
};

// The folder that outputs go to vanishes while a file is written into it, or is made anew with
// a file of the user's under the output's name: the task may not report a converted file that
// is nowhere, and cleaning up after it may not remove the user's file.
struct TFolderFault {
  const char *Name;
  bool UsersFile; // the user's file stands under the output's name afterwards
};
// Test names and messages show the case by its name.
void PrintTo(const TFolderFault &ACase, std::ostream *AOut) {
  *AOut << ACase.Name;
}

class OutputFolderTest : public FaultTest, public ::testing::WithParamInterface<TFolderFault> {};

TEST_P(OutputFolderTest, TheTaskFailsAndNoUserFileIsLost) {
  const std::string input = Input("h264_aac_640x360.mp4", "clip.mp4");
  TTerminationLog log;
  auto vcl = NewTaskList(log);
  std::string output, reason;
  ASSERT_EQ(AddJob(*vcl, input, Mp4Profile(), FDir + "/out", &output, &reason), 0) << reason;
  RunWithFault(*vcl, log, [&] {
    fs::remove_all(FDir + "/out");
    if (GetParam().UsersFile) {
      fs::create_directories(FDir + "/out");
      std::ofstream(output) << "the user's own file\n";
    }
  });
  const TTerminateInfo info = log.Of(0);
  EXPECT_TRUE(info.Exception) << "converted into a removed folder: " << output;
  EXPECT_FALSE(info.Finished);
  EXPECT_NE(info.ExceptionMsg.find(output), std::string::npos) << info.ExceptionMsg;
  EXPECT_TRUE(Logged(llQuiet, info.ExceptionMsg));
  if (GetParam().UsersFile) {
    EXPECT_EQ(FileContent(output), "the user's own file\n");
  }
  EXPECT_EQ(FileContent(input), FileContent(MediaPath("h264_aac_640x360.mp4")));
  vcl.reset();
  ExpectEverythingClosed();
}

INSTANTIATE_TEST_SUITE_P(Faults, OutputFolderTest,
                         ::testing::Values(TFolderFault{"Removed", false},
                                           TFolderFault{"MadeAnewWithTheUsersFile", true}),
                         [](const ::testing::TestParamInfo<TFolderFault> &AInfo) {
                           return AInfo.param.Name;
                         });

// A write that fails for want of room: a small file system of its own (where this process may
// mount one), or the process's file size limit.
struct TFullDisk {
  const char *Name;
  // Makes writes into AFolder fail beyond a few kilobytes; false when it cannot here.
  std::function<bool(const std::string &AFolder, std::string *AWhy)> Limit;
  std::function<void(const std::string &AFolder)> Unlimit;
};
// Test names and messages show the case by its name.
void PrintTo(const TFullDisk &ACase, std::ostream *AOut) {
  *AOut << ACase.Name;
}

class FullDiskTest : public FaultTest, public ::testing::WithParamInterface<TFullDisk> {};

TEST_P(FullDiskTest, TheTaskFailsAndNoPartialOutputStays) {
  const std::string input = Input("h264_aac_640x360.mp4", "clip.mp4");
  const std::string out = FDir + "/out";
  std::string why;
  if (!GetParam().Limit(out, &why))
    GTEST_SKIP() << "no way to fill a disk here: " << why;
  // The user's file in the folder is written after the limit is set.
  std::ofstream(out + "/keep.txt") << "the user's own file\n";
  TTerminationLog log;
  auto vcl = NewTaskList(log);
  std::string output, reason;
  ASSERT_EQ(AddJob(*vcl, input, Mp4Profile(), out, &output, &reason), 0) << reason;
  // The disk may be full before the first progress report: wait for the end only.
  {
    TWatchdog watchdog(60s, "the run onto a full disk");
    vcl->Start(1);
    ASSERT_TRUE(log.Final.WaitFor(30s));
  }
  const TTerminateInfo info = log.Of(0);
  EXPECT_TRUE(info.Exception) << "a file that did not fit was reported converted";
  EXPECT_FALSE(info.Finished);
  EXPECT_FALSE(info.ExceptionMsg.empty());
  EXPECT_TRUE(Logged(llQuiet, info.ExceptionMsg)) << info.ExceptionMsg;
  EXPECT_FALSE(fs::exists(output)) << "the part that fitted stayed under the finished name";
  EXPECT_EQ(FileContent(out + "/keep.txt"), "the user's own file\n");
  vcl.reset();
  GetParam().Unlimit(out);
  ExpectEverythingClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, FullDiskTest,
    ::testing::Values(
        // A private mount namespace for this thread and the workers it starts, so that nobody
        // else sees the mount, and nothing is left mounted if the test dies.
        TFullDisk{"SmallFileSystem",
                  [](const std::string &AFolder, std::string *AWhy) {
                    if (unshare(CLONE_NEWNS) != 0 ||
                        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                        mount("tmpfs", AFolder.c_str(), "tmpfs", 0, "size=64k") != 0) {
                      *AWhy = std::strerror(errno);
                      return false;
                    }
                    return true;
                  },
                  [](const std::string &AFolder) { umount2(AFolder.c_str(), MNT_DETACH); }},
        TFullDisk{"FileSizeLimit",
                  [](const std::string &, std::string *) {
                    signal(SIGXFSZ, SIG_IGN);
                    rlimit limit{64 * 1024, RLIM_INFINITY};
                    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
                  },
                  [](const std::string &) {
                    rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
                    setrlimit(RLIMIT_FSIZE, &limit);
                  }}),
    [](const ::testing::TestParamInfo<TFullDisk> &AInfo) { return AInfo.param.Name; });

// The input is deleted, or cut to a quarter, while it is read: the run ends either way, with
// a converted file or a failure and no partial output.
struct TInputFault {
  const char *Name;
  std::function<void(const std::string &AInput)> Act;
};
// Test names and messages show the case by its name.
void PrintTo(const TInputFault &ACase, std::ostream *AOut) {
  *AOut << ACase.Name;
}

class InputFaultTest : public FaultTest, public ::testing::WithParamInterface<TInputFault> {};

TEST_P(InputFaultTest, TheRunEndsAndLeavesNoPartialOutputOnFailure) {
  const std::string input = Input("h264_aac_640x360.mp4", "clip.mp4");
  const std::string other = Input("audio.wav", "other.wav");
  TTerminationLog log;
  auto vcl = NewTaskList(log);
  std::string output, otherOutput, reason;
  ASSERT_EQ(AddJob(*vcl, input, Mp4Profile(), FDir + "/out", &output, &reason), 0) << reason;
  ASSERT_EQ(AddJob(*vcl, other, Mp4Profile(), FDir + "/out", &otherOutput, &reason), 1) << reason;
  RunWithFault(*vcl, log, [&] { GetParam().Act(input); });
  const TTerminateInfo info = log.Of(0);
  EXPECT_NE(info.Finished, info.Exception) << info.ExceptionMsg;
  if (info.Exception) {
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(Logged(llQuiet, info.ExceptionMsg));
  }
  // The next task is not harmed by the first one's fault.
  EXPECT_TRUE(log.Of(1).Finished) << log.Of(1).ExceptionMsg;
  EXPECT_EQ(FileContent(other), FileContent(MediaPath("audio.wav")));
  EXPECT_EQ(FileContent(FDir + "/out/keep.txt"), "the user's own file\n");
  vcl.reset();
  ExpectEverythingClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InputFaultTest,
    ::testing::Values(TInputFault{"Deleted", [](const std::string &f) { fs::remove(f); }},
                      TInputFault{
                          "CutShort",
                          [](const std::string &f) { fs::resize_file(f, fs::file_size(f) / 4); }}),
    [](const ::testing::TestParamInfo<TInputFault> &AInfo) { return AInfo.param.Name; });

// A file that is still being written (a recording, a download) while it is added and
// converted: the run ends with what it could read, or fails cleanly, and the writer's file is
// whole in the end.
TEST_F(FaultTest, AnInputThatGrowsWhileItIsRead) {
  const std::string whole = FileContent(CorpusFolder() + "/good/v.mpg");
  const std::string input = FDir + "/in/growing.mpg";
  const size_t first = whole.size() / 4;
  std::ofstream(input, std::ios::binary) << whole.substr(0, first);
  TTerminationLog log;
  auto vcl = NewTaskList(log);
  std::string output, reason;
  ASSERT_EQ(AddJob(*vcl, input, Mp4Profile(), FDir + "/out", &output, &reason), 0) << reason;
  bool ended = false;
  {
    TWatchdog watchdog(60s, "converting a growing file");
    std::thread writer([&] {
      std::ofstream out(input, std::ios::binary | std::ios::app);
      const size_t step = (whole.size() - first) / 8 + 1;
      for (size_t at = first; at < whole.size(); at += step) {
        out << whole.substr(at, step) << std::flush;
        // The pace of a slow writer.
        std::this_thread::sleep_for(10ms);
      }
    });
    vcl->Start(1);
    ended = log.Final.WaitFor(50s);
    writer.join();
  }
  ASSERT_TRUE(ended);
  const TTerminateInfo info = log.Of(0);
  EXPECT_NE(info.Finished, info.Exception) << info.ExceptionMsg;
  EXPECT_EQ(fs::exists(output), info.Finished) << info.ExceptionMsg;
  EXPECT_EQ(FileContent(input), whole);
  vcl.reset();
  ExpectEverythingClosed();
}

// A short conversion stopped 200 times at random moments, in the three ways a run can be
// ended: a waiting stop, a stop without waiting, and destroying the task list. Every task
// reports its end once, and no thread or file outlives its task list.
TEST_F(FaultTest, WorkersStoppedAtRandomMoments) {
  const std::string input = Input("profile_160x120.mp4", "short.mp4");
  std::mt19937 random(20261211);
  std::uniform_int_distribution<int> delay(0, 40), way(0, 2);
  // Once first, so that what the libraries keep for the whole process is there already.
  {
    TTerminationLog log;
    auto vcl = NewTaskList(log);
    std::string output, reason;
    ASSERT_EQ(AddJob(*vcl, input, Mp4Profile(), FDir + "/out", &output, &reason), 0) << reason;
    vcl->Start(1);
    ASSERT_TRUE(log.Final.WaitFor(30s));
  }
  FThreads = BaselineThreadCount();
  FFiles = OpenFileCount();
  for (int round = 0; round < 200; ++round) {
    const int wait = delay(random), how = way(random);
    SCOPED_TRACE("round " + std::to_string(round) + ": stopped after " + std::to_string(wait) +
                 " ms in way " + std::to_string(how));
    std::string output;
    std::vector<TTerminateInfo> records;
    {
      TWatchdog watchdog(30s, "stop round " + std::to_string(round));
      TTerminationLog log;
      auto vcl = NewTaskList(log);
      std::string reason;
      ASSERT_EQ(AddJob(*vcl, input, Mp4Profile(), FDir + "/out", &output, &reason), 0) << reason;
      vcl->Start(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
      if (how < 2) {
        vcl->Stop(how == 0);
        EXPECT_TRUE(log.Final.WaitFor(10s));
      }
      // Otherwise the destructor stops the run.
      vcl.reset();
      records = log.Copy();
    }
    // A run destroyed before its end reports nothing more; one that reported, reported all.
    if (!records.empty()) {
      EXPECT_EQ(records.back().TaskIndex, -1);
      EXPECT_EQ(std::count_if(records.begin(), records.end(),
                              [](const TTerminateInfo &r) { return r.TaskIndex == 0; }),
                1);
    }
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= FThreads; }))
        << ThreadCount() << " threads, " << FThreads << " before";
    EXPECT_LE(OpenFileCount(), FFiles);
    if (HasFailure())
      break;
    fs::remove(output);
  }
  EXPECT_EQ(FileContent(input), FileContent(MediaPath("profile_160x120.mp4")));
}

} // namespace
