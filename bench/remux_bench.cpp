// Times a stream-copy remux with the transcoder (open, map, copy every packet, trailer) next to
// the ffmpeg tool doing the same copy of the same file, and prints the ratio.
// Usage: remux_bench INPUT OUTPUT_EXTENSION [RUNS]
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"

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

double Seconds(Clock::duration D) {
  return std::chrono::duration<double>(D).count();
}

// Runs a command with its output thrown away; false when it fails.
bool Run(std::vector<std::string> AArgs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char *> argv;
  for (std::string &a : AArgs)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

double Ours(const std::string &AInput, const std::string &AOutput) {
  const auto start = Clock::now();
  TCustomFFmpeg task;
  task.Reinitialize();
  task.SetVerbose(-1);
  if (!task.OpenInputFile(AInput)) {
    std::fprintf(stderr, "%s\n", task.FLastErrMsg.c_str());
    std::exit(1);
  }
  task.ParseOption("vcodec", "copy");
  task.ParseOption("acodec", "copy");
  if (task.OpenOutputFile(AOutput, false) < 0) {
    std::fprintf(stderr, "%s\n", task.FLastErrMsg.c_str());
    std::exit(1);
  }
  task.StartConvert(false, tpNormal);
  if (!task.Finished()) {
    std::fprintf(stderr, "%s\n", task.FatalMessage().c_str());
    std::exit(1);
  }
  return Seconds(Clock::now() - start);
}

double Tool(const std::string &AInput, const std::string &AOutput) {
  const auto start = Clock::now();
  if (!Run({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", AInput, "-c:v",
            "copy", "-c:a", "copy", AOutput})) {
    std::fprintf(stderr, "ffmpeg failed on %s\n", AInput.c_str());
    std::exit(1);
  }
  return Seconds(Clock::now() - start);
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: remux_bench INPUT OUTPUT_EXTENSION [RUNS]\n");
    return 2;
  }
  const std::string input = argv[1];
  const std::string ext = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  if (!FFLoader().Load(TaskListLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return 1;
  }
  GetLogger()->SetTriggerEventInMainThread(false);
  GetLogger()->SetLogLevel(llQuiet);
  const std::string ours = input + ".ours." + ext;
  const std::string tool = input + ".tool." + ext;
  // Best of the runs, taken in turns so that both see the same cache and load.
  double bestOurs = 1e9, bestTool = 1e9;
  for (int i = 0; i < runs; ++i) {
    bestTool = std::min(bestTool, Tool(input, tool));
    bestOurs = std::min(bestOurs, Ours(input, ours));
  }
  std::printf("stream copy %s -> .%s, best of %d\n", input.c_str(), ext.c_str(), runs);
  std::printf("  transcoder: %8.3f s\n  ffmpeg:     %8.3f s\n  ratio:      %8.2f\n", bestOurs,
              bestTool, bestOurs / bestTool);
  std::remove(ours.c_str());
  std::remove(tool.c_str());
  return 0;
}
