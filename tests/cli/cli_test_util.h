// Running lingchuan-cli as a user would, and reading its outputs back with ffprobe.
#pragma once

#include "test_media.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

// A started lingchuan-cli (or any program) with its standard output and error read through
// pipes. The destructor kills and reaps a process that is still running.
class TChild {
public:
  TChild(const std::string &AProgram, const std::vector<std::string> &AArgs,
         const std::string &AFolder = {}) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!AFolder.empty())
      posix_spawn_file_actions_addchdir_np(&actions, AFolder.c_str());
    std::vector<std::string> all{AProgram};
    all.insert(all.end(), AArgs.begin(), AArgs.end());
    std::vector<char *> argv;
    for (std::string &a : all)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&FPid, AProgram.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    FOut = out[0];
    FErr = err[0];
  }
  ~TChild() {
    if (FPid > 0 && FStatus < 0) {
      kill(FPid, SIGKILL);
      Wait();
    }
    if (FOut >= 0)
      close(FOut);
    if (FErr >= 0)
      close(FErr);
  }
  TChild(const TChild &) = delete;
  TChild &operator=(const TChild &) = delete;

  bool Started() const { return FPid > 0; }
  pid_t Pid() const { return FPid; }
  const std::string &Out() const { return FOutText; }
  const std::string &Err() const { return FErrText; }

  // Reads what the program has written until APredicate holds on the standard output read so
  // far, the program has closed both pipes, or ATimeout passes. Returns APredicate's value.
  template <class TPredicate>
  bool ReadUntil(TPredicate APredicate, std::chrono::milliseconds ATimeout) {
    const auto end = std::chrono::steady_clock::now() + ATimeout;
    while (!APredicate(FOutText)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || (FOut < 0 && FErr < 0))
        return APredicate(FOutText);
      pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
      if (poll(fds, 2, static_cast<int>(left.count())) <= 0)
        continue;
      Drain(fds[0], FOut, FOutText);
      Drain(fds[1], FErr, FErrText);
    }
    return true;
  }

  // Reads everything to the end and waits for the exit: the exit status, 128 + the signal's
  // number for a program killed by a signal, -1 when it did not end within ATimeout.
  int Wait(std::chrono::milliseconds ATimeout = std::chrono::minutes(5)) {
    if (FStatus >= 0)
      return FStatus;
    ReadUntil([](const std::string &) { return false; }, ATimeout);
    if (FPid <= 0)
      return -1;
    int status = 0;
    if (FOut >= 0 || FErr >= 0) {
      // Still open after the timeout: the program hangs.
      kill(FPid, SIGKILL);
      waitpid(FPid, &status, 0);
      FStatus = 1000;
      return -1;
    }
    waitpid(FPid, &status, 0);
    FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return FStatus;
  }

private:
  static void Drain(const pollfd &AFd, int &AHandle, std::string &AText) {
    if (AHandle < 0 || !(AFd.revents & (POLLIN | POLLHUP | POLLERR)))
      return;
    char buf[4096];
    const ssize_t n = read(AHandle, buf, sizeof(buf));
    if (n > 0) {
      AText.append(buf, static_cast<size_t>(n));
    } else {
      close(AHandle);
      AHandle = -1;
    }
  }

  pid_t FPid = -1;
  int FOut = -1;
  int FErr = -1;
  int FStatus = -1;
  std::string FOutText;
  std::string FErrText;
};

struct TCliResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs lingchuan-cli to its end in AFolder (the current folder when empty).
inline TCliResult RunCli(const std::vector<std::string> &AArgs, const std::string &AFolder = {}) {
  TChild child(LC_CLI_PATH, AArgs, AFolder);
  TCliResult r;
  r.Status = child.Wait();
  r.Out = child.Out();
  r.Err = child.Err();
  return r;
}

inline std::vector<std::string> Lines(const std::string &AText) {
  std::vector<std::string> lines;
  std::stringstream ss(AText);
  std::string line;
  while (std::getline(ss, line))
    lines.push_back(line);
  return lines;
}

// The standard output of a tool run to its end.
inline std::string ToolOutput(const std::vector<std::string> &AArgs) {
  TChild child(AArgs.front(), std::vector<std::string>(AArgs.begin() + 1, AArgs.end()));
  child.Wait();
  return child.Out();
}

struct TProbedStream {
  std::string Type, Codec;
  int Width = 0, Height = 0, SampleRate = 0, Channels = 0;
  double FrameRate = 0; // r_frame_rate
  int Packets = 0;      // packets read
  double End = 0;       // end of its last packet, seconds
};

struct TProbedFile {
  bool Read = false;
  std::string Format;
  double Duration = -1; // the container's, else the end of the last packet
  std::vector<TProbedStream> Streams;

  const TProbedStream *First(const std::string &AType) const {
    for (const TProbedStream &s : Streams)
      if (s.Type == AType)
        return &s;
    return nullptr;
  }
  int Count(const std::string &AType) const {
    int n = 0;
    for (const TProbedStream &s : Streams)
      n += s.Type == AType ? 1 : 0;
    return n;
  }
};

inline double RatioValue(const std::string &AText) {
  const size_t slash = AText.find('/');
  if (slash == std::string::npos)
    return std::atof(AText.c_str());
  const double den = std::atof(AText.c_str() + slash + 1);
  return den == 0 ? 0 : std::atof(AText.c_str()) / den;
}

// Container and stream facts as ffprobe reads them.
inline TProbedFile ProbeFile(const std::string &AFile) {
  TProbedFile f;
  const std::string facts = ToolOutput(
      {"ffprobe", "-v", "error", "-count_packets", "-show_entries",
       "format=format_name,duration:stream=codec_type,codec_name,width,height,r_frame_rate,"
       "sample_rate,channels,nb_read_packets",
       "-of", "flat=s=_", AFile});
  std::map<int, TProbedStream> streams;
  for (const std::string &line : Lines(facts)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      continue;
    const std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"')
      value = value.substr(1, value.size() - 2);
    if (key == "format_format_name") {
      f.Format = value;
      f.Read = true;
    } else if (key == "format_duration" && value != "N/A") {
      f.Duration = std::atof(value.c_str());
    } else if (key.compare(0, 15, "streams_stream_") == 0) {
      const int index = std::atoi(key.c_str() + 15);
      const std::string name = key.substr(key.find('_', 15) + 1);
      TProbedStream &s = streams[index];
      if (name == "codec_type")
        s.Type = value;
      else if (name == "codec_name")
        s.Codec = value;
      else if (name == "width")
        s.Width = std::atoi(value.c_str());
      else if (name == "height")
        s.Height = std::atoi(value.c_str());
      else if (name == "r_frame_rate")
        s.FrameRate = RatioValue(value);
      else if (name == "sample_rate")
        s.SampleRate = std::atoi(value.c_str());
      else if (name == "channels")
        s.Channels = std::atoi(value.c_str());
      else if (name == "nb_read_packets")
        s.Packets = std::atoi(value.c_str());
    }
  }
  // Where the container states no duration, the packets tell where the file ends.
  const std::string packets =
      ToolOutput({"ffprobe", "-v", "error", "-show_entries",
                  "packet=stream_index,pts_time,duration_time", "-of", "csv=p=0", AFile});
  double end = 0;
  for (const std::string &line : Lines(packets)) {
    int index = -1;
    double pts = 0, duration = 0;
    if (std::sscanf(line.c_str(), "%d,%lf,%lf", &index, &pts, &duration) < 2)
      continue;
    end = std::max(end, pts + duration);
    if (streams.count(index) != 0)
      streams[index].End = std::max(streams[index].End, pts + duration);
  }
  if (f.Duration < 0 && end > 0)
    f.Duration = end;
  for (auto &[index, s] : streams)
    f.Streams.push_back(s);
  return f;
}

// An empty folder for one test under the test binary's folder.
inline std::filesystem::path TestFolder(const std::string &AName) {
  std::filesystem::path folder = std::filesystem::path(LC_TEST_BINARY_DIR) / "cli-out" / AName;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

inline std::vector<std::string> FolderFiles(const std::filesystem::path &AFolder) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(AFolder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
