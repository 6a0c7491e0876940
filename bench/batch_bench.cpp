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

// Seconds for the whole batch through the task list.
double Ours(const std::vector<std::string> &AInputs, const std::string &AFolder, int AThreads) {
  const auto start = Clock::now();
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
  return Seconds(Clock::now() - start);
}

// Seconds for the whole batch through the tool, AParallel processes at a time.
double Tool(const std::vector<std::string> &AInputs, const std::string &AFolder, int AParallel) {
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
  return Seconds(Clock::now() - start);
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
  const double ours1 = Ours(inputs, folder, 1);
  const double ours2 = Ours(inputs, folder, 2);
  const double tool1 = Tool(inputs, folder, 1);
  const double tool2 = Tool(inputs, folder, 2);
  std::printf("task list, 1 thread : %6.2f s  %6.1f files/min\n", ours1, perMinute(ours1));
  std::printf("task list, 2 threads: %6.2f s  %6.1f files/min  (x%.2f of 1 thread)\n", ours2,
              perMinute(ours2), ours1 / ours2);
  std::printf("ffmpeg, one by one  : %6.2f s  %6.1f files/min\n", tool1, perMinute(tool1));
  std::printf("ffmpeg, two at once : %6.2f s  %6.1f files/min  (x%.2f of one by one)\n", tool2,
              perMinute(tool2), tool1 / tool2);
  std::printf("task list / ffmpeg  : x%.2f at 1, x%.2f at 2 (above 1: ours faster)\n",
              tool1 / ours1, tool2 / ours2);
  return 0;
}
