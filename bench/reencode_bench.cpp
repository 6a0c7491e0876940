// Times a full re-encode with the transcoder next to the ffmpeg tool doing the same conversion of
// the same file with one thread everywhere, and prints the wall-time ratio and both peak memory
// sizes. Each conversion runs in a child process of its own, so that its peak memory is its own.
// Usage: reencode_bench INPUT mpeg4|x264 [RUNS]
//        reencode_bench --memory SHORT_INPUT LONG_INPUT   (peak memory of both, same settings)
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using TOptions = std::vector<std::pair<std::string, std::string>>;

struct TSettings {
  const char *Name;
  TOptions Ours;                 // the transcoder's options
  std::vector<std::string> Tool; // the same for the ffmpeg tool
};

const TSettings Settings[] = {
    {"mpeg4",
     {{"vcodec", "mpeg4"},
      {"s", "640x480"},
      {"b", "768000"},
      {"r", "25"},
      {"acodec", "aac"},
      {"ab", "128000"},
      {"ar", "48000"},
      {"ac", "2"}},
     {"-c:v", "mpeg4", "-s", "640x480", "-b:v", "768000", "-r", "25", "-c:a", "aac", "-b:a",
      "128000", "-ar", "48000", "-ac", "2"}},
    {"x264",
     {{"vcodec", "libx264"},
      {"s", "1280x720"},
      {"b", "1500000"},
      {"r", "25"},
      {"acodec", "aac"},
      {"ab", "128000"},
      {"ar", "48000"},
      {"ac", "2"}},
     {"-c:v", "libx264", "-s", "1280x720", "-b:v", "1500000", "-r", "25", "-c:a", "aac", "-b:a",
      "128000", "-ar", "48000", "-ac", "2"}},
};

struct TResult {
  double Seconds = 0;
  long PeakKiB = 0;
};

// Waits for the child; its wall time from AStart and its peak resident size.
TResult Wait(pid_t APid, Clock::time_point AStart) {
  int status = 0;
  struct rusage usage {};
  if (wait4(APid, &status, 0, &usage) != APid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a conversion failed\n");
    std::exit(1);
  }
  return {std::chrono::duration<double>(Clock::now() - AStart).count(), usage.ru_maxrss};
}

int ConvertHere(const std::string &AInput, const std::string &AOutput, const TSettings &ASet) {
  if (!FFLoader().Load(TaskListLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return 1;
  }
  GetLogger()->SetTriggerEventInMainThread(false);
  GetLogger()->SetLogLevel(llQuiet);
  TCustomFFmpeg task;
  task.Reinitialize();
  task.SetVerbose(-1);
  if (!task.OpenInputFile(AInput)) {
    std::fprintf(stderr, "%s\n", task.FLastErrMsg.c_str());
    return 1;
  }
  for (const auto &[name, value] : ASet.Ours)
    task.ParseOption(name, value);
  if (task.OpenOutputFile(AOutput, false) < 0) {
    std::fprintf(stderr, "%s\n", task.FLastErrMsg.c_str());
    return 1;
  }
  task.StartConvert(false, tpNormal);
  if (!task.Finished()) {
    std::fprintf(stderr, "%s\n", task.FatalMessage().c_str());
    return 1;
  }
  return 0;
}

TResult Ours(const std::string &AInput, const std::string &AOutput, const TSettings &ASet) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0)
    _exit(ConvertHere(AInput, AOutput, ASet));
  return Wait(pid, start);
}

TResult Tool(const std::string &AInput, const std::string &AOutput, const TSettings &ASet) {
  // One thread for the decoders, the filters and the encoders, as the transcoder has.
  std::vector<std::string> args = {
      "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",           "-y", "-threads", "1",
      "-i",     AInput,     "-threads",     "1",         "-filter_threads", "1"};
  args.insert(args.end(), ASet.Tool.begin(), ASet.Tool.end());
  args.push_back(AOutput);
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    std::fprintf(stderr, "cannot start ffmpeg\n");
    std::exit(1);
  }
  return Wait(pid, start);
}

double Median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  return AValues[AValues.size() / 2];
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc >= 4 && std::strcmp(argv[1], "--memory") == 0) {
    // MPEG-TS keeps no index in memory, so what grows with the length is the converter's own.
    const TSettings &set = Settings[0];
    std::printf("peak memory, %s settings to MPEG-TS\n", set.Name);
    long ours[2] = {0, 0}, tool[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      const std::string input = argv[2 + i];
      const std::string output = input + ".out.ts";
      const TResult o = Ours(input, output, set);
      const TResult t = Tool(input, output, set);
      ours[i] = o.PeakKiB;
      tool[i] = t.PeakKiB;
      std::printf("  %s\n    transcoder %7.1f MiB in %6.1f s, ffmpeg %7.1f MiB in %6.1f s\n",
                  input.c_str(), o.PeakKiB / 1024.0, o.Seconds, t.PeakKiB / 1024.0, t.Seconds);
      std::remove(output.c_str());
    }
    std::printf("  long/short: transcoder %.2f, ffmpeg %.2f\n",
                static_cast<double>(ours[1]) / ours[0], static_cast<double>(tool[1]) / tool[0]);
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: reencode_bench INPUT mpeg4|x264 [RUNS]\n"
                         "       reencode_bench --memory SHORT_INPUT LONG_INPUT\n");
    return 2;
  }
  const std::string input = argv[1];
  const TSettings *set = nullptr;
  for (const TSettings &s : Settings)
    if (s.Name == std::string(argv[2]))
      set = &s;
  if (set == nullptr) {
    std::fprintf(stderr, "unknown settings %s\n", argv[2]);
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const std::string ours = input + ".ours.mp4";
  const std::string tool = input + ".tool.mp4";
  // Taken in turns, so that both see the same cache and load.
  std::vector<double> oursTimes, toolTimes;
  long oursPeak = 0, toolPeak = 0;
  for (int i = 0; i < runs; ++i) {
    const TResult t = Tool(input, tool, *set);
    const TResult o = Ours(input, ours, *set);
    toolTimes.push_back(t.Seconds);
    oursTimes.push_back(o.Seconds);
    toolPeak = std::max(toolPeak, t.PeakKiB);
    oursPeak = std::max(oursPeak, o.PeakKiB);
  }
  const double o = Median(oursTimes), t = Median(toolTimes);
  std::printf("re-encode %s with %s settings, median of %d\n", input.c_str(), set->Name, runs);
  std::printf("  transcoder: %8.2f s  peak %7.1f MiB\n", o, oursPeak / 1024.0);
  std::printf("  ffmpeg:     %8.2f s  peak %7.1f MiB\n", t, toolPeak / 1024.0);
  std::printf("  time ratio: %8.3f    memory ratio %5.2f\n", o / t,
              static_cast<double>(oursPeak) / toolPeak);
  std::remove(ours.c_str());
  std::remove(tool.c_str());
  return 0;
}
