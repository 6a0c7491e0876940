// Shared by the prober's tests: the libraries, a log recorder, and the extra samples only these
// tests need.
#pragma once

#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

struct TLoggedLine {
  const void *Sender;
  TLogLevel Level;
  std::string Msg;
};

// Loads the prober's libraries and records every line the process logger delivers.
class ProbeTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(ProbeLibraries)) << FFLoader().LastErrMsg();
    GetLogger()->SetTriggerEventInMainThread(false);
    GetLogger()->SetLogLevel(llDebug);
    GetLogger()->SetOnLog([this](const void *s, uint32_t, TLogLevel l, const std::string &m) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.push_back({s, l, m});
    });
  }
  void TearDown() override {
    GetLogger()->SetOnLog(nullptr);
    GetLogger()->SetLogLevel(llInfo);
  }
  // Lines a sender logged.
  std::vector<TLoggedLine> LinesOf(const void *ASender) {
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<TLoggedLine> out;
    for (const auto &l : FLines)
      if (l.Sender == ASender)
        out.push_back(l);
    return out;
  }
  // True when ASender logged AMsg at ALevel.
  bool Logged(const void *ASender, TLogLevel ALevel, const std::string &AMsg) {
    for (const auto &l : LinesOf(ASender))
      if (l.Level == ALevel && l.Msg == AMsg)
        return true;
    return false;
  }
  void ClearLines() {
    std::lock_guard<std::mutex> lock(FLock);
    FLines.clear();
  }

private:
  std::mutex FLock; // protects FLines
  std::vector<TLoggedLine> FLines;
};

// Runs a shell command and returns its standard output.
inline std::string CommandOutput(const std::string &ACommand) {
  std::string out;
  FILE *p = popen(ACommand.c_str(), "r");
  if (p == nullptr)
    return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
    out.append(buf, n);
  pclose(p);
  return out;
}

inline std::string ShellQuote(const std::string &S) {
  std::string q = "'";
  for (char c : S)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Samples made on first use with the ffmpeg tool, beside the shared ones. Each is written under
// a temporary name and renamed, so test processes running at once never see half a file.
inline std::string ProbeMedia(const std::string &AName) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(LC_TEST_BINARY_DIR) / "probe-media";
  const fs::path file = dir / AName;
  if (fs::exists(file))
    return file.string();
  fs::create_directories(dir);
  const std::string ff = "ffmpeg -nostdin -hide_banner -loglevel error -y ";
  const std::string tiny = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.4 ";
  std::string args;
  if (AName == "still.png") {
    args = "-f lavfi -i testsrc2=size=64x48:rate=1:duration=1 -frames:v 1 -f image2 -c:v png";
  } else if (AName == "programs.ts") {
    args = tiny + "-f lavfi -i sine=sample_rate=48000:duration=0.4 -c:v mpeg2video -c:a mp2 "
                  "-metadata service_provider=Prov -metadata service_name=Chan -f mpegts";
  } else if (AName == "created.mp4") {
    args = tiny + "-c:v mpeg4 -metadata creation_time=2010-05-01T12:00:00Z -f mp4";
  } else if (AName == "many_streams.mkv") {
    args = "-f lavfi -i sine=sample_rate=8000:duration=0.2";
    for (int i = 0; i < 300; ++i)
      args += " -map 0:a";
    args += " -c:a pcm_s16le -f matroska";
  } else if (AName == "big_meta.mkv") {
    const fs::path meta = dir / "big_meta.txt";
    if (FILE *f = std::fopen(meta.c_str(), "w")) {
      std::fputs(";FFMETADATA1\n", f);
      for (int i = 0; i < 1000; ++i)
        std::fprintf(f, "key%d=value%d\n", i, i);
      std::fputs("comment=", f);
      for (int i = 0; i < 1024 * 1024; ++i)
        std::fputc('x', f);
      std::fputs("\n", f);
      std::fclose(f);
    }
    args =
        tiny + "-i " + ShellQuote(meta.string()) + " -map 0 -map_metadata 1 -c:v mpeg4 -f matroska";
  } else {
    ADD_FAILURE() << "no recipe for " << AName;
    return file.string();
  }
  const fs::path tmp = dir / (".tmp." + std::to_string(getpid()) + "." + AName);
  const std::string cmd = ff + args + " " + ShellQuote(tmp.string());
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::error_code ec;
  fs::rename(tmp, file, ec);
  return file.string();
}
