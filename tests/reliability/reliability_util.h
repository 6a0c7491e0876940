// Shared by the bad-input and fault tests: the corpus, a watchdog that turns a hang into a
// failure naming what hung, conversions through the task list as the add path makes them, and
// counts of the process's threads and open files.
#pragma once

#include "choice_lists.h"
#include "ff_event.h"
#include "ffmpeg_vcl.h"
#include "option_assembly.h"
#include "profile_catalog.h"
#include "working_parameters.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace reliability {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string CorpusFolder() {
  return LC_CORPUS_DIR;
}

// The corpus files (not the intact originals in good/), by name.
inline std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const fs::directory_entry &e : fs::directory_iterator(CorpusFolder()))
    if (e.is_regular_file() && e.path().filename().string()[0] != '.')
      files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// A file name as a test message can show it: control bytes and bytes above 127 escaped.
inline std::string Printable(const std::string &AName) {
  std::string out;
  for (unsigned char c : AName) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

// Ends the test program with a message naming AWhat when the watchdog lives longer than
// ALimit: a hang then fails the test with the file's name instead of stopping CTest at its
// timeout.
class TWatchdog {
public:
  TWatchdog(std::chrono::milliseconds ALimit, std::string AWhat)
      : TWatchdog(ALimit, [AWhat] { return AWhat; }) {}
  // AWhat is asked when the time is up, so that it can name what is still going on.
  TWatchdog(std::chrono::milliseconds ALimit, std::function<std::string()> AWhat)
      : FWhat(std::move(AWhat)), FThread([this, ALimit] {
          std::unique_lock<std::mutex> lock(FLock);
          if (!FDone.wait_for(lock, ALimit, [this] { return FDisarmed; })) {
            std::fprintf(stderr, "\nHANG: %s did not end within %lld ms\n", FWhat().c_str(),
                         static_cast<long long>(ALimit.count()));
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FDisarmed = true;
    }
    FDone.notify_all();
    FThread.join();
  }
  TWatchdog(const TWatchdog &) = delete;
  TWatchdog &operator=(const TWatchdog &) = delete;

private:
  std::function<std::string()> FWhat;
  std::mutex FLock; // protects FDisarmed
  std::condition_variable FDone;
  bool FDisarmed = false;
  std::thread FThread;
};

inline int EntriesOf(const char *AFolder) {
  int n = 0;
  if (DIR *d = opendir(AFolder)) {
    while (dirent *e = readdir(d))
      n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}
// Threads of this process.
inline int ThreadCount() {
  return EntriesOf("/proc/self/task");
}
// The threads before a test: counted once a thread has been made, since the thread checker's
// runtime starts a helper of its own along with the first thread of the process.
inline int BaselineThreadCount() {
  std::thread([] {}).join();
  return ThreadCount();
}
// The names of this process's threads, to tell which one stayed.
inline std::string ThreadNames() {
  std::string names;
  for (const fs::directory_entry &e : fs::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(e.path() / "comm"), name);
    names += name + " ";
  }
  return names;
}
// Threads of this process less the idle workers of Qt's global pool, which Qt's own picture
// scaling starts and which end after 30 s by themselves.
inline int ThreadCountBesidesQtPool() {
  int n = 0;
  for (const fs::directory_entry &e : fs::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(e.path() / "comm"), name);
    n += name != "Thread (pooled)";
  }
  return n;
}
// Open descriptors of this process (the one reading the folder not counted).
inline int OpenFileCount() {
  return EntriesOf("/proc/self/fd") - 1;
}

// Waits up to ALimit for APredicate; its last value.
inline bool WaitUntil(const std::function<bool()> &APredicate,
                      std::chrono::milliseconds ALimit = 10s) {
  const auto end = std::chrono::steady_clock::now() + ALimit;
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

inline std::string FileContent(const std::string &AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every regular file under AFolder with its content, to show that nothing was changed or lost.
inline std::map<std::string, std::string> Snapshot(const std::string &AFolder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const fs::directory_entry &e : fs::recursive_directory_iterator(AFolder, ec))
    if (e.is_regular_file())
      files[e.path().string()] = FileContent(e.path().string());
  return files;
}

// The first profile of the catalog that APredicate accepts.
inline const TProfile *ProfileWhere(const std::function<bool(const TProfile &)> &APredicate) {
  for (const TCategory &category : Categories())
    for (const TProfile &profile : category.Profiles)
      if (APredicate(profile))
        return &profile;
  return nullptr;
}

// Termination records as the task list hands them over.
struct TTerminationLog {
  std::mutex Lock; // protects Records
  std::vector<TTerminateInfo> Records;
  TEvent Final;

  void Bind(TCustomFFmpegVCL &AVCL) {
    AVCL.OnTerminate = [this](TCustomFFmpegVCL *, const TTerminateInfo &AInfo) {
      {
        std::lock_guard<std::mutex> lock(Lock);
        Records.push_back(AInfo);
      }
      if (AInfo.TaskIndex < 0)
        Final.Set();
    };
  }
  std::vector<TTerminateInfo> Copy() {
    std::lock_guard<std::mutex> lock(Lock);
    return Records;
  }
  // The record of task ATask; TaskIndex -2 when none came.
  TTerminateInfo Of(int ATask) {
    std::lock_guard<std::mutex> lock(Lock);
    for (const TTerminateInfo &r : Records)
      if (r.TaskIndex == ATask)
        return r;
    TTerminateInfo none;
    none.TaskIndex = -2;
    return none;
  }
};

// A task list whose handlers run on the reporting threads (no event loop needed).
inline std::unique_ptr<TFFmpegVCL> NewTaskList(TTerminationLog &ALog) {
  auto vcl = std::make_unique<TFFmpegVCL>();
  vcl->SetTriggerEventInMainThread(false);
  vcl->SetProgressInterval(100);
  ALog.Bind(*vcl);
  return vcl;
}

// One job as the add path makes it: the profile's parameters and default choices, an output
// name in AFolder that collides with nothing, the input and output records on a new task.
// The task's index, or -1 with the reason in AReason (the task is gone again then).
inline int AddJob(TFFmpegVCL &AVCL, const std::string &AFile, const TProfile &AProfile,
                  const std::string &AFolder, std::string *AOutput, std::string *AReason) {
  TWorkingParameters params;
  params.Video_AddFileName = AFile;
  TInputOptions input;
  InitInputOptions(input);
  TOutputOptions output;
  InitOutputOptions(output);
  ApplyProfile(params, AProfile, AFolder, false);
  ConfirmChoices(params, AProfile, DefaultSelection(AProfile));
  OutputRecordFromParameters(output, params);
  *AOutput = params.Video_OutPutFileName;
  const int index = AVCL.AddTask(AFile, input);
  if (index < 0) {
    *AReason = AVCL.LastErrMsg();
    return -1;
  }
  if (!AVCL.SetOutputFile(index, params.Video_OutPutFileName, output)) {
    *AReason = AVCL.LastErrMsg();
    AVCL.RemoveTask(index);
    return -1;
  }
  return index;
}

} // namespace reliability
