// Every file of the bad-input corpus through the prober and through conversion with three
// profiles: nothing may crash, hang, leak, change an input, or leave an output under the
// finished name when the conversion failed.
#include "reliability_util.h"

#include "av_probe.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"

#include <QImage>

#include <sys/stat.h>

namespace {

using namespace reliability;

class CorpusTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
    GetLogger()->SetTriggerEventInMainThread(false);
    // The corpus makes the libraries talk a lot; only what a user would see matters here.
    GetLogger()->SetLogLevel(llError);
    FFiles = CorpusFiles();
    ASSERT_GE(FFiles.size(), 40u);
    FInputs = Snapshot(CorpusFolder());
  }
  void TearDown() override {
    GetLogger()->SetLogLevel(llInfo);
    EXPECT_EQ(Snapshot(CorpusFolder()), FInputs) << "an input of the corpus was changed";
  }
  std::vector<std::string> FFiles;
  std::map<std::string, std::string> FInputs;
};

// Probing: open, the information text, a picture from the start and from the middle, and
// stepping around, each file within a bound.
TEST_F(CorpusTest, ProbingEveryFileEndsWithAnAnswer) {
  int opened = 0;
  for (const std::string &file : FFiles) {
    SCOPED_TRACE(Printable(file));
    TWatchdog watchdog(20s, "probing " + Printable(file));
    TAVProbe probe;
    probe.SetTimeout(5s);
    bool loaded = false;
    EXPECT_NO_THROW(loaded = probe.LoadFile(file));
    if (!loaded) {
      EXPECT_FALSE(probe.LastErrMsg().empty()) << "a refusal says why";
      continue;
    }
    ++opened;
    std::string text;
    EXPECT_NO_THROW(text = probe.FileInfoText());
    EXPECT_FALSE(text.empty());
    if (probe.VideoStreamCount() == 0)
      continue;
    QImage picture;
    EXPECT_NO_THROW({
      if (probe.Decode()) {
        EXPECT_TRUE(probe.CopyToBitmap(picture));
      }
      const int64_t duration = probe.FileStreamInfo().Duration;
      if (probe.Seek(duration > 0 ? duration / 2 : 500000) && probe.Decode())
        probe.CopyToBitmap(picture);
      probe.DecodeNextKeyFrame();
      probe.DecodePreviousFrame();
      probe.DecodePreviousKeyFrame();
      probe.Seek(-1);
      probe.Decode();
    });
    probe.CloseFile();
  }
  // The corpus is mostly broken, but not all of it is beyond reading.
  EXPECT_GT(opened, 10);
}

struct TConversion {
  const char *Name;
  std::function<bool(const TProfile &)> Choose;
};
// Test names and messages show the case by its name.
void PrintTo(const TConversion &ACase, std::ostream *AOut) {
  *AOut << ACase.Name;
}

class CorpusConversionTest : public CorpusTest,
                             public ::testing::WithParamInterface<TConversion> {};

// Every file added as the add path does and converted with two workers. Each task ends with a
// termination record; a failed one leaves no output file, and whatever ended is closed.
TEST_P(CorpusConversionTest, EveryTaskEndsAndAFailureLeavesNoOutput) {
  const TProfile *profile = ProfileWhere(GetParam().Choose);
  ASSERT_NE(profile, nullptr);
  const std::string folder = std::string(LC_TEST_BINARY_DIR) + "/corpus-out/" + GetParam().Name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  const int threads = BaselineThreadCount();
  const int files = OpenFileCount();

  TTerminationLog log;
  auto vcl = NewTaskList(log);
  std::vector<std::string> inputs, outputs;
  std::map<std::string, std::string> refused;
  for (const std::string &file : FFiles) {
    TWatchdog watchdog(20s, "adding " + Printable(file));
    std::string output, reason;
    int index = -1;
    EXPECT_NO_THROW(index = AddJob(*vcl, file, *profile, folder, &output, &reason))
        << Printable(file);
    if (index < 0) {
      EXPECT_FALSE(reason.empty()) << Printable(file);
      refused[file] = reason;
      EXPECT_FALSE(fs::exists(output)) << "refused, yet made: " << Printable(output);
      continue;
    }
    ASSERT_EQ(index, static_cast<int>(inputs.size()));
    inputs.push_back(file);
    outputs.push_back(output);
  }
  ASSERT_FALSE(inputs.empty());
  {
    // On a hang, the files whose tasks have not ended.
    TWatchdog watchdog(120s, [&] {
      std::string running;
      for (size_t i = 0; i < inputs.size(); ++i)
        if (log.Of(static_cast<int>(i)).TaskIndex < 0)
          running += " " + Printable(inputs[i]);
      return "converting with " + std::string(profile->Caption) + ":" + running;
    });
    vcl->Start(2);
    while (!log.Final.WaitFor(1s)) {
    }
  }
  int converted = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(Printable(inputs[i]));
    const TTerminateInfo info = log.Of(static_cast<int>(i));
    ASSERT_EQ(info.TaskIndex, static_cast<int>(i)) << "no termination record";
    EXPECT_NE(info.Finished, info.Exception) << info.ExceptionMsg;
    if (info.Exception) {
      EXPECT_FALSE(info.ExceptionMsg.empty());
    }
    if (info.Finished) {
      ++converted;
      EXPECT_TRUE(fs::exists(outputs[i])) << "reported converted, but not there";
    } else {
      EXPECT_FALSE(fs::exists(outputs[i])) << "a failed conversion left " << Printable(outputs[i]);
    }
  }
  std::printf("%s: %zu refused, %zu added, %d converted\n", GetParam().Name, refused.size(),
              inputs.size(), converted);
  if (std::getenv("LC_CORPUS_VERBOSE") != nullptr) {
    for (const auto &[file, reason] : refused)
      std::printf("  refused %s: %s\n", Printable(file).c_str(), reason.c_str());
    for (size_t i = 0; i < inputs.size(); ++i) {
      const TTerminateInfo info = log.Of(static_cast<int>(i));
      std::printf("  %s %s: %s\n", info.Finished ? "converted" : "failed",
                  Printable(inputs[i]).c_str(), info.ExceptionMsg.c_str());
    }
  }
  vcl.reset();
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threads; }))
      << ThreadCount() << " threads, " << threads << " before";
  EXPECT_LE(OpenFileCount(), files);
  // What nobody can read is refused when it is added; what is left converts at least in part.
  EXPECT_GT(converted, 5);
  EXPECT_GT(refused.size(), 10u);
}

// Inputs whose every packet fails to decode, or that hold no packet at all: the run ends
// normally, but there is nothing to put into the output, so the task fails and no file of
// headers alone is left behind as if it were the converted file.
TEST_F(CorpusTest, NothingDecodableIsAFailureNotAnEmptyFile) {
  const TProfile *profile = ProfileWhere([](const TProfile &p) {
    return ProfileOutputExt(p) == ".mp4" && !p.DisableVideo && p.TargetType.empty();
  });
  ASSERT_NE(profile, nullptr);
  const std::string folder = std::string(LC_TEST_BINARY_DIR) + "/corpus-out/nothing";
  fs::remove_all(folder);
  fs::create_directories(folder);
  TTerminationLog log;
  auto vcl = NewTaskList(log);
  const char *names[] = {"avi_0x0.avi", "avi_negative.avi", "mp4_timescale0.mp4",
                         "cut_head_a_amr.amr"};
  std::vector<std::string> outputs;
  for (const char *name : names) {
    std::string output, reason;
    ASSERT_EQ(AddJob(*vcl, CorpusFolder() + "/" + name, *profile, folder, &output, &reason),
              static_cast<int>(outputs.size()))
        << name << ": " << reason;
    outputs.push_back(output);
  }
  {
    TWatchdog watchdog(60s, "converting the undecodable files");
    vcl->Start(2);
    ASSERT_TRUE(log.Final.WaitFor(50s));
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const TTerminateInfo info = log.Of(static_cast<int>(i));
    EXPECT_TRUE(info.Exception);
    EXPECT_EQ(info.ExceptionMsg,
              "Output file #0 received no picture or sound: nothing could be converted");
    EXPECT_FALSE(fs::exists(outputs[i]));
  }
}

bool HasExt(const TProfile &AProfile, const char *AExt) {
  return ProfileOutputExt(AProfile) == AExt;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, CorpusConversionTest,
    ::testing::Values(
        TConversion{"mp4", [](const TProfile &p) { return HasExt(p, ".mp4") && !p.DisableVideo; }},
        TConversion{"3gp", [](const TProfile &p) { return HasExt(p, ".3gp"); }},
        TConversion{"mp3", [](const TProfile &p) { return HasExt(p, ".mp3") && p.DisableVideo; }}),
    [](const ::testing::TestParamInfo<TConversion> &AInfo) { return AInfo.param.Name; });

} // namespace
