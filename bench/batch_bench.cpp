// Converts a batch of files with one profile through the task list at thread counts 1 and 2,
// next to the ffmpeg tool converting the same files with the same settings, one after another
// and two at a time. Prints files per minute for each and the ratios.
// Usage: batch_bench OUTPUT_FOLDER INPUT...
#include "choice_lists.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_vcl.h"
#include "option_assembly.h"
#include "profile_catalog.h"
#include "working_parameters.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// The profile: Android手机AVI视频 with its default choices.
constexpr int KCategory = 0;
constexpr int KProfile = 0;

double Seconds(Clock::duration D) {
  return std::chrono::duration<double>(D).count();
}

// Processor seconds used so far by this process (ASelf) or by its ended children.
double CPUSeconds(bool ASelf) {
  rusage usage{};
  getrusage(ASelf ? RUSAGE_SELF : RUSAGE_CHILDREN, &usage);
  const auto s = [](const timeval &T) { return T.tv_sec + T.tv_usec / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

// Wall and processor seconds of one batch.
struct TTiming {
  double Wall = 0;
  double CPU = 0;
};

pid_t Spawn(std::vector<std::string> AArgs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char *> argv;
  for (std::string &a : AArgs)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string LoadAverage() {
  char text[128] = {0};
  if (FILE *f = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(text, sizeof(text), f) == nullptr)
      text[0] = 0;
    std::fclose(f);
  }
  return text;
}

TOutputOptions ProfileRecord() {
  const TProfile &profile = *FindProfile(KCategory, KProfile);
  TWorkingParameters params;
  ApplyProfileParameters(params, profile);
  ConfirmChoices(params, profile, DefaultSelection(profile));
  TOutputOptions record;
  InitOutputOptions(record);
  OutputRecordFromParameters(record, params);
  return record;
}

std::string OutputName(const std::string &AFolder, const std::string &ATag, size_t AIndex) {
  return AFolder + "/" + ATag + "_" + std::to_string(AIndex) + ".avi";
}

// The whole batch through the task list.
TTiming Ours(const std::vector<std::string> &AInputs, const std::string &AFolder, int AThreads) {
  const auto start = Clock::now();
  const double cpu = CPUSeconds(true);
  TFFmpegVCL vcl;
  vcl.SetVerbose(-1);
  for (size_t i = 0; i < AInputs.size(); ++i) {
    const int task = vcl.AddTask(AInputs[i]);
    TOutputOptions record = ProfileRecord();
    if (task < 0 || !vcl.SetOutputFile(
                        task, OutputName(AFolder, "ours" + std::to_string(AThreads), i), record)) {
      std::fprintf(stderr, "%s: %s\n", AInputs[i].c_str(), vcl.LastErrMsg().c_str());
      std::exit(1);
    }
  }
  int failed = 0;
  vcl.OnTerminate = [&failed](TCustomFFmpegVCL *, const TTerminateInfo &AInfo) {
    if (AInfo.TaskIndex >= 0 && !AInfo.Finished) {
      std::fprintf(stderr, "task %d: %s\n", AInfo.TaskIndex, AInfo.ExceptionMsg.c_str());
      ++failed;
    }
  };
  vcl.Start(AThreads);
  while (!vcl.Terminated())
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  vcl.Stop(true); // the last delivery
  if (failed > 0)
    std::exit(1);
  return {Seconds(Clock::now() - start), CPUSeconds(true) - cpu};
}

// The whole batch through the tool, AParallel processes at a time.
TTiming Tool(const std::vector<std::string> &AInputs, const std::string &AFolder, int AParallel) {
  const TOutputOptions r = ProfileRecord();
  // The same settings as the record gives the task.
  const auto command = [&](size_t AIndex) {
    std::vector<std::string> args = {
        "ffmpeg", "-nostdin",      "-y",         "-threads", "1",
        "-i",     AInputs[AIndex], "-threads",   "1",        "-filter_threads",
        "1",      "-c:v",          r.VideoCodec, "-b:v",     std::to_string(r.VideoBitrate)};
    const auto add = [&args](const char *AName, const std::string &AValue) {
      if (!AValue.empty() && AValue != "-1") {
        args.push_back(AName);
        args.push_back(AValue);
      }
    };
    std::string size = r.FrameSize;
    std::replace(size.begin(), size.end(), '*', 'x');
    add("-s", size);
    add("-r", r.FrameRate);
    add("-aspect", r.FrameAspectRatio);
    add("-c:a", r.AudioCodec);
    add("-ac", std::to_string(r.AudioChannels));
    add("-ar", std::to_string(r.AudioSampleRate));
    add("-b:a", std::to_string(r.AudioBitrate));
    args.push_back(OutputName(AFolder, "tool" + std::to_string(AParallel), AIndex));
    return args;
  };
  const auto start = Clock::now();
  const double cpu = CPUSeconds(false);
  std::vector<pid_t> running;
  size_t next = 0;
  while (next < AInputs.size() || !running.empty()) {
    while (next < AInputs.size() && static_cast<int>(running.size()) < AParallel)
      running.push_back(Spawn(command(next++)));
    int status = 0;
    const pid_t done = wait(&status);
    if (done <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "ffmpeg failed\n");
      std::exit(1);
    }
    std::erase(running, done);
  }
  return {Seconds(Clock::now() - start), CPUSeconds(false) - cpu};
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER INPUT...\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const std::vector<std::string> inputs(argv + 2, argv + argc);
  if (!FFLoader().Load(TaskListLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return 1;
  }
  GetLogger()->SetLogLevel(llQuiet);
  const TOutputOptions r = ProfileRecord();
  const std::string caption(FindProfile(KCategory, KProfile)->Caption);
  std::printf("%zu files, profile %s: %s %s %d bit/s, %s %d Hz %d bit/s\n", inputs.size(),
              caption.c_str(), r.VideoCodec.c_str(), r.FrameSize.c_str(), r.VideoBitrate,
              r.AudioCodec.c_str(), r.AudioSampleRate, r.AudioBitrate);
  const auto perMinute = [&](double ASeconds) { return inputs.size() * 60.0 / ASeconds; };
  const TTiming ours1 = Ours(inputs, folder, 1);
  const TTiming ours2 = Ours(inputs, folder, 2);
  const TTiming tool1 = Tool(inputs, folder, 1);
  const TTiming tool2 = Tool(inputs, folder, 2);
  // Processor seconds show what the batch cost whatever else the machine was doing.
  const auto line = [&](const char *AName, const TTiming &T) {
    std::printf("%-21s: %6.2f s  %6.1f files/min  (cpu %6.2f s, %.2f cores busy)", AName, T.Wall,
                perMinute(T.Wall), T.CPU, T.CPU / T.Wall);
  };
  line("task list, 1 thread", ours1);
  std::printf("\n");
  line("task list, 2 threads", ours2);
  std::printf("  x%.2f of 1 thread\n", ours1.Wall / ours2.Wall);
  line("ffmpeg, one by one", tool1);
  std::printf("\n");
  line("ffmpeg, two at once", tool2);
  std::printf("  x%.2f of one by one\n", tool1.Wall / tool2.Wall);
  std::printf("task list / ffmpeg   : x%.2f at 1, x%.2f at 2 (above 1: ours faster)\n",
              tool1.Wall / ours1.Wall, tool2.Wall / ours2.Wall);
  std::printf("online processors    : %ld; load average now: %s", sysconf(_SC_NPROCESSORS_ONLN),
              LoadAverage().c_str());
  return 0;
}
