// lingchuan-cli from the outside: its listing, help, information, usage errors and exit
// statuses, output names, bad inputs, failures, progress, and stopping with a signal.
#include "cli/cli_test_util.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string Sample = MediaPath("profile_160x120.mp4");

// A byte-for-byte copy, so that a test can tell whether a file was touched.
std::string FileBytes(const fs::path &AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A 20 s input, made once per test run: long enough to be stopped half-way.
std::string LongInput() {
  static const std::string path = [] {
    const fs::path p = fs::path(LC_TEST_BINARY_DIR) / "cli-out" / "long_320x240.mp4";
    if (!fs::exists(p)) {
      fs::create_directories(p.parent_path());
      // Tests run as parallel processes: each makes its own copy and renames it in place.
      const std::string tmp = p.string() + "." + std::to_string(getpid()) + ".tmp.mp4";
      ToolOutput({"ffmpeg",
                  "-nostdin",
                  "-v",
                  "error",
                  "-y",
                  "-f",
                  "lavfi",
                  "-i",
                  "testsrc2=size=320x240:rate=25:duration=20",
                  "-f",
                  "lavfi",
                  "-i",
                  "sine=frequency=440:sample_rate=48000:duration=20",
                  "-ac",
                  "2",
                  "-c:v",
                  "libx264",
                  "-preset",
                  "ultrafast",
                  "-c:a",
                  "aac",
                  "-shortest",
                  tmp});
      fs::rename(tmp, p);
    }
    return p.string();
  }();
  return path;
}

TEST(CliTest, ListHasEveryProfileInCatalogOrder) {
  const TCliResult r = RunCli({"--list"});
  ASSERT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err, "");
  const std::vector<std::string> lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 123u);
  EXPECT_EQ(lines.front(), "0.0\tAndroid视频\tAndroid手机AVI视频(*.avi)");
  EXPECT_EQ(lines.back(), "10.6\tSWF视频\tFLV在线网络音频格式(*.flv)");
  // Positions count from 0 in each category, and the categories follow one another.
  const std::regex form(R"(^(\d+)\.(\d+)\t([^\t]+)\t.+\(\*\.\w+\)$)");
  const int sizes[] = {12, 15, 13, 16, 8, 11, 15, 14, 5, 7, 7};
  size_t at = 0;
  for (int c = 0; c < 11; ++c)
    for (int p = 0; p < sizes[c]; ++p, ++at) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(lines[at], m, form)) << lines[at];
      EXPECT_EQ(m[1], std::to_string(c));
      EXPECT_EQ(m[2], std::to_string(p));
    }
}

TEST(CliTest, HelpNamesEveryOption) {
  const TCliResult r = RunCli({"--help"});
  ASSERT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("Usage:"), std::string::npos);
  for (const char *option : {"--list",
                             "-p",
                             "--info",
                             "-o",
                             "--resolution",
                             "--video-bitrate",
                             "--audio-bitrate",
                             "--aspect",
                             "--frame-rate",
                             "--sample-rate",
                             "-j",
                             "--priority",
                             "idle",
                             "lowest",
                             "lower",
                             "normal",
                             "--overwrite",
                             "-x NAME=VALUE",
                             "--verbose",
                             "130"})
    EXPECT_NE(r.Out.find(option), std::string::npos) << option;
  // Without arguments the same page goes to the error output, as a usage error.
  const TCliResult bare = RunCli({});
  EXPECT_EQ(bare.Status, 2);
  EXPECT_EQ(bare.Out, "");
  EXPECT_EQ(bare.Err, r.Out);
}

TEST(CliTest, UsageErrorsExitWithTwoAndOneLineBeforeAnythingIsWritten) {
  const fs::path folder = TestFolder("usage");
  const std::string out = (folder / "out").string();
  const std::string aFile = (folder / "plain.txt").string();
  std::ofstream(aFile) << "x";
  const struct {
    std::vector<std::string> Args;
    const char *Says;
  } cases[] = {
      {{"-p", "11.0", Sample}, "unknown profile '11.0'"},
      {{"-p", "0.12", Sample}, "unknown profile '0.12'"},
      {{"-p", "zero", Sample}, "unknown profile 'zero'"},
      {{"-p", "0.0"}, "no files to convert"},
      {{Sample}, "no profile given"},
      {{"-p", "0.1", "--resolution", "640x480", Sample},
       "--resolution: '640x480' is not in the list of Android手机MPEG-4视频(*.mp4); its items are: "
       "保持原分辨率, 128*96,"},
      {{"-p", "0.1", "--video-bitrate", "768", Sample}, "'768' is not in the list"},
      {{"-p", "2.0", "--frame-rate", "25.00", Sample}, "its items are: 无视频"},
      {{"-p", "1.9", "--sample-rate", "44100", Sample}, "its items are: 8000"},
      {{"-p", "0.0", "-j", "0", Sample}, "-j takes a number from 1 to 64, not '0'"},
      {{"-p", "0.0", "-j", "two", Sample}, "-j takes a number"},
      {{"-p", "0.0", "--priority", "high", Sample}, "idle, lowest, lower or normal"},
      {{"-p", "0.0", "-x", "novalue", Sample}, "-x takes NAME=VALUE"},
      {{"-p", "0.0", "--bogus", Sample}, "unknown option '--bogus'"},
      {{"-p", "0.0", "-o"}, "option -o needs a value"},
      {{"--list", "-p", "0.0", Sample}, "cannot be combined"},
      {{"--list", Sample}, "--list takes no files"},
      {{"--list", "-o", out}, "option -o is used with -p only"},
      {{"--info", Sample, Sample}, "--info takes one file"},
      {{"--overwrite=yes", "-p", "0.0", Sample}, "--overwrite takes no value"},
      {{"-p", "0.0", "-o", aFile, Sample}, "is not a folder"},
  };
  for (const auto &c : cases) {
    std::string args;
    for (const std::string &a : c.Args)
      args += a + " ";
    SCOPED_TRACE(args);
    const TCliResult r = RunCli(c.Args, folder.string());
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
  }
  EXPECT_EQ(FolderFiles(folder), std::vector<std::string>{"plain.txt"});
}

TEST(CliTest, AnOutputFolderThatCannotBeWrittenIsAUsageError) {
  const fs::path folder = TestFolder("unwritable");
  // Root writes through permission bits; a folder of a virtual file system refuses everybody.
  std::string target = "/proc";
  if (geteuid() != 0) {
    fs::create_directories(folder / "locked");
    chmod((folder / "locked").c_str(), 0555);
    target = (folder / "locked").string();
  }
  const TCliResult r = RunCli({"-p", "0.0", "-o", target, Sample});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
  EXPECT_NE(r.Err.find("cannot write into the output folder " + target), std::string::npos)
      << r.Err;
  // A missing folder is made, as the window makes it.
  const TCliResult made = RunCli({"-p", "2.2", "-o", (folder / "new" / "deeper").string(), Sample});
  EXPECT_EQ(made.Status, 0) << made.Err;
  EXPECT_EQ(FolderFiles(folder / "new" / "deeper"),
            std::vector<std::string>{"profile_160x120.wav"});
}

TEST(CliTest, InfoPrintsTheProbersText) {
  const TCliResult r = RunCli({"--info", Sample});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.rfind("File Name: " + Sample + "\n", 0), 0u) << r.Out;
  EXPECT_NE(r.Out.find("Duration: 00:00:02"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Video: h264"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Audio: aac"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find('\r'), std::string::npos);
  for (const std::string &bad :
       {MediaPath("missing.mp4"), MediaPath("text.mp4"), std::string(LC_TEST_MEDIA_DIR)}) {
    SCOPED_TRACE(bad);
    const TCliResult e = RunCli({"--info", bad});
    EXPECT_EQ(e.Status, 1);
    EXPECT_EQ(e.Out, "");
    EXPECT_EQ(Lines(e.Err).size(), 1u) << e.Err;
    EXPECT_NE(e.Err.find(bad), std::string::npos) << e.Err;
  }
}

TEST(CliTest, BadInputsFailOneByOneAndTheOthersConvert) {
  const fs::path folder = TestFolder("bad-inputs");
  const TCliResult r =
      RunCli({"-p", "1.0", "-o", folder.string(), MediaPath("missing.avi"), LC_TEST_MEDIA_DIR,
              MediaPath("text.mp4"), MediaPath("empty.mp4"), Sample});
  EXPECT_EQ(r.Status, 1);
  // One line per file; what the libraries said about it follows indented.
  std::vector<std::string> errors;
  for (const std::string &line : Lines(r.Err)) {
    if (line.rfind("lingchuan-cli: ", 0) == 0)
      errors.push_back(line);
    else
      EXPECT_EQ(line.rfind("  [", 0), 0u) << line;
  }
  ASSERT_EQ(errors.size(), 4u) << r.Err;
  EXPECT_EQ(errors[0],
            "lingchuan-cli: " + MediaPath("missing.avi") + ": No such file or directory");
  EXPECT_EQ(errors[1], std::string("lingchuan-cli: ") + LC_TEST_MEDIA_DIR +
                           ": is a folder; give the files in it");
  EXPECT_EQ(errors[2].rfind("lingchuan-cli: " + MediaPath("text.mp4") + ": ", 0), 0u);
  EXPECT_EQ(errors[3].rfind("lingchuan-cli: " + MediaPath("empty.mp4") + ": ", 0), 0u);
  EXPECT_NE(r.Out.find("converted: " + Sample + " -> " + (folder / "profile_160x120.avi").string()),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("Done: 1 converted, 4 failed."), std::string::npos) << r.Out;
  EXPECT_EQ(FolderFiles(folder), std::vector<std::string>{"profile_160x120.avi"});
}

TEST(CliTest, ValuesTheEncoderRefusesFailWithItsMessageAndLeaveNoFile) {
  const fs::path folder = TestFolder("refused");
  const struct {
    std::vector<std::string> Choice;
    const char *Says;
  } cases[] = {
      {{"-p", "1.7", "--audio-bitrate", "16 kbps"}, "[mp2] bitrate 16 is not allowed in mp2"},
      {{"-p", "0.8", "--audio-bitrate", "16 kbps"}, "[wmav2] bitrate too low: got 16000"},
      {{"-p", "3.0", "--resolution", "640*353"}, "[libx264] height not divisible by 2 (640x353)"},
      {{"-p", "3.9", "--resolution", "320*240"}, "is not valid for the H.263 codec"},
      // Refused by the muxer in the middle of the run, after the header was written.
      {{"-p", "1.14", "--resolution", "2560*1600", "--video-bitrate", "2000 kbps"},
       "[rm] Muxing packets larger than 64 kB"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Says);
    std::vector<std::string> args = c.Choice;
    args.insert(args.end(), {"-o", folder.string(), Sample});
    const TCliResult r = RunCli(args);
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
    EXPECT_NE(r.Out.find("Done: 0 converted, 1 failed."), std::string::npos) << r.Out;
    EXPECT_EQ(FolderFiles(folder), std::vector<std::string>{});
  }
}

TEST(CliTest, ARateTheEncoderDoesNotListTakesTheNearestAndTheLogSaysSo) {
  const fs::path folder = TestFolder("nearest");
  const TCliResult r =
      RunCli({"-p", "1.7", "--sample-rate", "11025", "-v", "-o", folder.string(), Sample});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("Requested sampling rate unsupported using closest supported (16000)"),
            std::string::npos)
      << r.Err;
  const TProbedFile f = ProbeFile((folder / "profile_160x120.mpg").string());
  ASSERT_NE(f.First("audio"), nullptr);
  EXPECT_EQ(f.First("audio")->SampleRate, 16000);
}

TEST(CliTest, OutputNamesNeverOverwriteInputsOrEachOther) {
  const fs::path folder = TestFolder("names");
  const fs::path other = folder / "other";
  fs::create_directories(other);
  fs::copy_file(Sample, folder / "clip.mp4");
  fs::copy_file(Sample, other / "clip.mp4");
  fs::copy_file(Sample, folder / "clip.mkv");
  const std::string input = FileBytes(folder / "clip.mp4");

  // The same name twice in one run, then again: numbered names.
  TCliResult r = RunCli({"-p", "0.0", "clip.mp4", "other/clip.mp4"}, folder.string());
  ASSERT_EQ(r.Status, 0) << r.Err;
  r = RunCli({"-p", "0.0", "clip.mp4"}, folder.string());
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("converted: clip.mp4 -> clip_2.avi"), std::string::npos) << r.Out;
  // Overwriting replaces the first one only.
  r = RunCli({"-p", "0.0", "--overwrite", "clip.mp4"}, folder.string());
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(FolderFiles(folder), (std::vector<std::string>{"clip.avi", "clip.mkv", "clip.mp4",
                                                           "clip_1.avi", "clip_2.avi", "other"}));

  // An MP4 profile into the inputs' own folder, overwriting: neither input is written over,
  // the one that would get the other input's name included.
  r = RunCli({"-p", "1.1", "--overwrite", "clip.mkv", "clip.mp4"}, folder.string());
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("converted: clip.mkv -> clip_1.mp4"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("converted: clip.mp4 -> clip_2.mp4"), std::string::npos) << r.Out;
  EXPECT_EQ(FileBytes(folder / "clip.mp4"), input);
  EXPECT_EQ(ProbeFile((folder / "clip_2.mp4").string()).First("video")->Codec, "mpeg4");
}

TEST(CliTest, MoreFilesThanTheSoftDescriptorLimitAllConvert) {
  // Each file's task holds its input and output open until it has run.
  const fs::path folder = TestFolder("many");
  std::string inputs;
  for (int i = 0; i < 40; ++i) {
    const fs::path link = folder / ("in" + std::to_string(i) + ".mp4");
    fs::create_symlink(Sample, link);
    inputs += " " + link.string();
  }
  TChild child("sh", {"-c", std::string("ulimit -Sn 48 && exec ") + LC_CLI_PATH +
                                " -p 2.2 -j 2 -o " + (folder / "out").string() + inputs});
  EXPECT_EQ(child.Wait(), 0) << child.Err();
  EXPECT_NE(child.Out().find("Done: 40 converted, 0 failed."), std::string::npos) << child.Out();
  EXPECT_EQ(FolderFiles(folder / "out").size(), 40u);
}

TEST(CliTest, ChoicesAndExtraOptionsReachTheOutput) {
  const fs::path folder = TestFolder("choices");
  const TCliResult r = RunCli({"-p", "0.0", "-o", folder.string(), "--resolution", "320*240",
                               "--frame-rate", "25.00", "--sample-rate", "22050", "-x", "t=1", "-j",
                               "2", "--priority", "idle", Sample});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const TProbedFile f = ProbeFile((folder / "profile_160x120.avi").string());
  ASSERT_NE(f.First("video"), nullptr);
  EXPECT_EQ(f.First("video")->Width, 320);
  EXPECT_EQ(f.First("video")->Height, 240);
  ASSERT_NE(f.First("audio"), nullptr);
  EXPECT_EQ(f.First("audio")->SampleRate, 22050);
  // "t" is the recording time: one second of the two.
  EXPECT_NEAR(f.Duration, 1.0, 0.15);
}

TEST(CliTest, ProgressLinesAtMostOncePerFileAndSecond) {
  const fs::path folder = TestFolder("progress");
  const auto start = std::chrono::steady_clock::now();
  // Large pictures: a few seconds of work, so that every file reports several times.
  const TCliResult r = RunCli({"-p", "1.0", "-j", "2", "--resolution", "1280*720", "-o",
                               folder.string(), LongInput(), LongInput(), Sample});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::map<std::string, int> perFile;
  for (const std::string &line : Lines(r.Out)) {
    // "#1 long_320x240.mp4: 45%, 310 fps, 00:00:09, 1.21 MB"
    const size_t colon = line.find(": ");
    if (colon != std::string::npos && line.find('%', colon) != std::string::npos &&
        line.rfind("converted", 0) != 0)
      ++perFile[line.substr(0, colon)];
  }
  EXPECT_GE(perFile.size(), 2u) << r.Out; // the short file may end before its first report
  for (const auto &[file, count] : perFile)
    EXPECT_LE(count, static_cast<int>(seconds) + 1) << file;
  EXPECT_EQ(r.Out.find('\x1b'), std::string::npos);
  EXPECT_NE(r.Out.find("Done: 3 converted, 0 failed."), std::string::npos) << r.Out;
}

TEST(CliTest, TerminalShowsABarPerRunningFile) {
  const fs::path folder = TestFolder("terminal");
  const std::string input = LongInput(); // made before the fork
  int master = -1;
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 30;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(LC_CLI_PATH, LC_CLI_PATH, "-p", "1.0", "-j", "2", "-o", folder.c_str(), input.c_str(),
          input.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  std::string screen;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master, buf, sizeof(buf));
    if (n <= 0)
      break; // the program has ended and closed the terminal
    screen.append(buf, static_cast<size_t>(n));
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
  // Two bars redrawn in place: cursor up two lines and clear, then each bar.
  EXPECT_NE(screen.find("\x1b[2A"), std::string::npos);
  const std::regex bar(R"(#[12] long_320x240\.mp4 +\[#+-*\] +\d+%)");
  EXPECT_TRUE(std::regex_search(screen, bar)) << screen;
  EXPECT_NE(screen.find("Done: 2 converted, 0 failed."), std::string::npos);
}

TEST(CliTest, SignalStopsEveryTaskAndClosesTheRunningFiles) {
  const struct {
    int Signal;
    int Status;
  } cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Signal);
    const fs::path folder = TestFolder("signal-" + std::to_string(c.Signal));
    fs::create_directories(folder / "b");
    fs::copy_file(LongInput(), folder / "a.mp4");
    fs::copy_file(LongInput(), folder / "b" / "a.mp4");
    // A large picture, so that the first file is still converting when the signal comes.
    TChild child(LC_CLI_PATH,
                 {"-p", "1.0", "-j", "1", "--resolution", "1920*1080", "a.mp4", "b/a.mp4"},
                 folder.string());
    ASSERT_TRUE(child.Started());
    // Stopped once the first file has made progress.
    ASSERT_TRUE(child.ReadUntil(
        [](const std::string &AOut) { return AOut.find("#1 a.mp4: ") != std::string::npos; }, 60s))
        << child.Out() << child.Err();
    kill(child.Pid(), c.Signal);
    EXPECT_EQ(child.Wait(60s), c.Status) << child.Err();
    EXPECT_NE(child.Out().find("stopped: a.mp4 -> a.avi (closed where it stopped, playable)"),
              std::string::npos)
        << child.Out();
    EXPECT_NE(child.Out().find("Stopped: 0 converted, 0 failed, 1 stopped, 1 not converted."),
              std::string::npos)
        << child.Out();
    // The file that ran has its end written and plays up to where it stopped; the one that
    // never started left nothing.
    EXPECT_EQ(FolderFiles(folder), (std::vector<std::string>{"a.avi", "a.mp4", "b"}));
    const TProbedFile f = ProbeFile((folder / "a.avi").string());
    EXPECT_GT(f.Duration, 0.1);
    EXPECT_LT(f.Duration, 19.0);
    const std::string errors = ToolOutput(
        {"sh", "-c",
         "ffmpeg -nostdin -v error -i " + (folder / "a.avi").string() + " -f null - 2>&1"});
    EXPECT_EQ(errors, "");
  }
}

} // namespace
