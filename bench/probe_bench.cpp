// Times examining files as the window does when they are added (LoadFile + FileInfoText),
// next to the ffprobe tool showing format and streams for the same files.
// Usage: probe_bench FILE...
#include "av_probe.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

double OursPerFile(const std::vector<std::string> &AFiles, size_t &ATextBytes) {
  TAVProbe probe;
  ATextBytes = 0;
  const auto start = Clock::now();
  for (const std::string &f : AFiles) {
    if (!probe.LoadFile(f)) {
      std::fprintf(stderr, "%s\n", probe.LastErrMsg().c_str());
      continue;
    }
    ATextBytes += probe.FileInfoText().size();
  }
  return Seconds(Clock::now() - start) / static_cast<double>(AFiles.size());
}

double ToolPerFile(const std::vector<std::string> &AFiles) {
  const auto start = Clock::now();
  for (const std::string &f : AFiles)
    if (!Run({"ffprobe", "-v", "quiet", "-show_format", "-show_streams", f}))
      std::fprintf(stderr, "ffprobe failed on %s\n", f.c_str());
  return Seconds(Clock::now() - start) / static_cast<double>(AFiles.size());
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty()) {
    std::fprintf(stderr, "usage: probe_bench FILE...\n");
    return 2;
  }
  if (!FFLoader().Load(ProbeLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return 1;
  }
  GetLogger()->SetLogLevel(llQuiet);

  size_t textBytes = 0;
  OursPerFile(files, textBytes); // warm the page cache and the libraries
  ToolPerFile(files);
  const int rounds = 3;
  std::vector<double> ours, tool, start;
  for (int r = 0; r < rounds; ++r) {
    ours.push_back(OursPerFile(files, textBytes));
    tool.push_back(ToolPerFile(files));
    // What the tool spends on starting alone, to read its figure by.
    const auto s = Clock::now();
    for (int i = 0; i < 20; ++i)
      Run({"ffprobe", "-version"});
    start.push_back(Seconds(Clock::now() - s) / 20);
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double o = median(ours), t = median(tool), s = median(start);
  std::printf("files: %zu, information text: %zu bytes a file\n", files.size(),
              textBytes / files.size());
  std::printf("LoadFile + FileInfoText:          %8.3f ms a file\n", o * 1000);
  std::printf("ffprobe -show_format -show_streams: %8.3f ms a file\n", t * 1000);
  std::printf("  of which the tool's start:        %8.3f ms\n", s * 1000);
  std::printf("ratio ours / tool:                  %8.3f\n", o / t);
  std::printf("ratio ours / tool less its start:   %8.3f\n", t > s ? o / (t - s) : 0.0);
  return 0;
}
