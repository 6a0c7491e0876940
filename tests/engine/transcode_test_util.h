// Shared by the transcoder's run tests: a fixture with the libraries, a log recorder and an
// output folder per test, and output checks made with the ffprobe and ffmpeg tools.
#pragma once

#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

inline std::string ShellQuote(const std::string &S) {
  std::string q = "'";
  for (char c : S)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command; its standard output, and its exit status in AStatus.
inline std::string CommandOutput(const std::string &ACommand, int *AStatus = nullptr) {
  std::string out;
  FILE *p = popen(ACommand.c_str(), "r");
  if (p == nullptr)
    return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
    out.append(buf, n);
  const int status = pclose(p);
  if (AStatus != nullptr)
    *AStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

inline std::vector<std::string> SplitText(const std::string &AText, char ASep) {
  std::vector<std::string> parts;
  std::stringstream ss(AText);
  std::string part;
  while (std::getline(ss, part, ASep))
    parts.push_back(part);
  return parts;
}

struct TProbedPacket {
  int Stream = -1;
  std::string Pts, Dts, Duration; // as ffprobe prints them, in the stream's time base
  bool Key = false;
};

// Every packet of a file, in file order.
inline std::vector<TProbedPacket> ProbePackets(const std::string &AFile) {
  std::vector<TProbedPacket> packets;
  const std::string out =
      CommandOutput("ffprobe -v error -show_entries packet=stream_index,pts,dts,duration,flags "
                    "-of csv=p=0 " +
                    ShellQuote(AFile));
  for (const std::string &line : SplitText(out, '\n')) {
    const std::vector<std::string> f = SplitText(line, ',');
    if (f.size() < 5)
      continue;
    TProbedPacket p;
    p.Stream = std::atoi(f[0].c_str());
    p.Pts = f[1];
    p.Dts = f[2];
    p.Duration = f[3];
    p.Key = f[4].find('K') != std::string::npos;
    packets.push_back(p);
  }
  return packets;
}

struct TProbedStream {
  std::string Type, Codec;
  int Width = 0, Height = 0, SampleRate = 0, Channels = 0;
  double FrameRate = 0; // average frame rate; 0 when none
};

inline std::vector<TProbedStream> ProbeStreams(const std::string &AFile) {
  std::vector<TProbedStream> streams;
  const std::string out = CommandOutput(
      "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,sample_rate,"
      "channels,avg_frame_rate -of flat=s=_ " +
      ShellQuote(AFile));
  std::map<int, TProbedStream> byIndex;
  for (const std::string &line : SplitText(out, '\n')) {
    // streams_stream_0_codec_type="video"
    int index = -1;
    char key[64] = {0}, value[256] = {0};
    if (std::sscanf(line.c_str(), "streams_stream_%d_%63[^=]=%255[^\n]", &index, key, value) != 3)
      continue;
    std::string v = value;
    if (v.size() >= 2 && v.front() == '"')
      v = v.substr(1, v.size() - 2);
    TProbedStream &s = byIndex[index];
    const std::string k = key;
    if (k == "codec_type")
      s.Type = v;
    else if (k == "codec_name")
      s.Codec = v;
    else if (k == "width")
      s.Width = std::atoi(v.c_str());
    else if (k == "height")
      s.Height = std::atoi(v.c_str());
    else if (k == "sample_rate")
      s.SampleRate = std::atoi(v.c_str());
    else if (k == "channels")
      s.Channels = std::atoi(v.c_str());
    else if (k == "avg_frame_rate") {
      int num = 0, den = 0;
      if (std::sscanf(v.c_str(), "%d/%d", &num, &den) == 2 && den != 0)
        s.FrameRate = static_cast<double>(num) / den;
    }
  }
  for (auto &[i, s] : byIndex)
    streams.push_back(s);
  return streams;
}

// The container's duration in seconds; -1 when ffprobe gives none.
inline double ProbeDuration(const std::string &AFile) {
  const std::string out = CommandOutput(
      "ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellQuote(AFile));
  return out.empty() || out[0] == 'N' ? -1 : std::atof(out.c_str());
}

// The file's sound decoded by the ffmpeg tool to signed 16-bit samples, channels interleaved.
inline std::vector<int16_t> DecodedSamples(const std::string &AFile) {
  const std::string raw = CommandOutput("ffmpeg -nostdin -v error -i " + ShellQuote(AFile) +
                                        " -map 0:a:0 -f s16le -c:a pcm_s16le -");
  std::vector<int16_t> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

// True when the ffmpeg tool decodes the whole file without a single error.
inline bool DecodesCleanly(const std::string &AFile, std::string *AErrors = nullptr) {
  int status = -1;
  const std::string errors = CommandOutput(
      "ffmpeg -nostdin -v error -i " + ShellQuote(AFile) + " -f null - 2>&1", &status);
  if (AErrors != nullptr)
    *AErrors = errors;
  return status == 0 && errors.empty();
}

// Loads the libraries, records the log and gives each test an empty output folder.
class TranscodeTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
    GetLogger()->SetTriggerEventInMainThread(false);
    GetLogger()->SetLogLevel(llVerbose);
    GetLogger()->SetOnLog([this](const void *s, uint32_t, TLogLevel l, const std::string &m) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.push_back({s, l, m});
    });
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name)
      if (c == '/')
        c = '_';
    FDir = std::filesystem::path(LC_TEST_BINARY_DIR) / "transcode-out" / name;
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override {
    GetLogger()->SetOnLog(nullptr);
    GetLogger()->SetLogLevel(llInfo);
    // The log explains a failure best.
    if (HasFailure()) {
      std::lock_guard<std::mutex> lock(FLock);
      for (const auto &l : FLines)
        if (l.Level <= llWarning)
          std::fprintf(stderr, "  log %d: %s\n", static_cast<int>(l.Level), l.Msg.c_str());
    }
  }

  std::string Out(const std::string &AName) const { return (FDir / AName).string(); }

  // A task with its templates, as the task layer makes one.
  static std::unique_ptr<TCustomFFmpeg> NewTask() {
    auto task = std::make_unique<TCustomFFmpeg>();
    task->Reinitialize();
    return task;
  }

  bool Logged(TLogLevel ALevel, const std::string &AMsg) {
    std::lock_guard<std::mutex> lock(FLock);
    for (const auto &l : FLines)
      if (l.Level == ALevel && l.Msg == AMsg)
        return true;
    return false;
  }
  bool LoggedContaining(const std::string &APart) {
    std::lock_guard<std::mutex> lock(FLock);
    for (const auto &l : FLines)
      if (l.Msg.find(APart) != std::string::npos)
        return true;
    return false;
  }

  // The files in the output folder.
  std::vector<std::string> OutputFiles() const {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(FDir))
      names.push_back(e.path().filename().string());
    return names;
  }

  struct TLine {
    const void *Sender;
    TLogLevel Level;
    std::string Msg;
  };
  std::mutex FLock; // protects FLines
  std::vector<TLine> FLines;
  std::filesystem::path FDir;
};
