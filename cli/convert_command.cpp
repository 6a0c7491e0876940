#include "convert_command.h"

#include "av_probe.h"
#include "choice_lists.h"
#include "ff_logger.h"
#include "ff_utils.h"
#include "ffmpeg_vcl.h"
#include "option_assembly.h"
#include "progress_view.h"
#include "working_parameters.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Library error lines kept per task (and per thread until the thread's task is known).
constexpr size_t MaxErrorLines = 8;

std::string Program(const std::string &AText) {
  return "lingchuan-cli: " + AText;
}

// "[mp2 @ 0x55d0c0e8]bitrate 16 ..." -> "[mp2] bitrate 16 ...": the address means nothing to
// the user.
std::string WithoutAddress(const std::string &ALine) {
  if (ALine.empty() || ALine[0] != '[')
    return ALine;
  const size_t at = ALine.find(" @ 0x");
  const size_t close = ALine.find(']');
  if (at == std::string::npos || close == std::string::npos || at > close)
    return ALine;
  std::string line = ALine.substr(0, at) + "]";
  const std::string rest = ALine.substr(close + 1);
  return rest.empty() || rest[0] == ' ' ? line + rest : line + " " + rest;
}

void Keep(std::deque<std::string> &ALines, const std::string &ALine) {
  ALines.push_back(ALine);
  if (ALines.size() > MaxErrorLines)
    ALines.pop_front();
}

// The same file however it is named (symbolic links, "..", relative names).
std::string PathKey(const std::string &APath) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(APath, ec);
  if (ec)
    return APath;
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : canonical).string();
}

// The outputs go into AFolder ("" is the current folder), made when missing. Raises EUsageError
// when it is no folder or nothing can be written into it.
void PrepareOutputFolder(const std::string &AFolder) {
  const std::string folder = AFolder.empty() ? std::string(".") : AFolder;
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode))
      throw EUsageError("the output folder " + folder + " is not a folder");
  } else {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
      throw EUsageError("cannot make the output folder " + folder + ": " + ec.message());
  }
  // Permission bits do not tell (they do not bind root, nor a read-only file system): try it.
  std::string probe = (fs::path(folder) / ".lingchuan-cli-XXXXXX").string();
  const int fd = mkstemp(probe.data());
  if (fd < 0)
    throw EUsageError("cannot write into the output folder " + folder + ": " +
                      std::strerror(errno));
  close(fd);
  unlink(probe.c_str());
}

class TConvertRun {
public:
  TConvertRun(const TCliOptions &AOptions, const TProfile &AProfile,
              const TChoiceSelection &ASelection, TSignalWatch &ASignals);
  ~TConvertRun();
  int Run();

private:
  struct TJob {
    std::string Input;
    std::string Output;
  };

  // Builds the file's task as the window's add path does; false (reported) when it cannot.
  bool AddFile(const std::string &AFile);
  void Fail(const std::string &AFile, const std::string &AReason,
            const std::deque<std::string> &ADetails = {});
  // Runs the tasks until the final termination, stopping them when a signal comes.
  void Convert();
  // Reports the terminations delivered so far; true once the final one has come.
  bool ReportTerminations();
  void ShowProgress();
  void PrintLog();
  int Finish();

  void TaskProgress(const TProgressInfo &AInfo);
  void TaskTerminate(const TTerminateInfo &AInfo);
  void LogLine(const void *ASender, uint32_t AThread, TLogLevel ALevel, const std::string &AMsg);

  const TCliOptions &FOptions;
  const TProfile &FProfile;
  const TChoiceSelection FSelection;
  TSignalWatch &FSignals;
  TProgressView FView;
  TWakeEvent FWake;
  int FSignal = 0;
  int FConverted = 0;
  int FFailed = 0;
  std::set<std::string> FReserved; // inputs of the run and outputs promised so far, by PathKey
  std::vector<TJob> FJobs;         // by task index
  std::vector<bool> FEnded;        // by task index: its termination was reported
  std::vector<int> FStopped;       // tasks that ended neither converted nor failed

  std::mutex FLock; // protects the members from here to FVCL, shared with the handlers
  std::vector<TFileProgress> FProgress;           // by task index
  std::vector<std::deque<std::string>> FErrors;   // library error lines by task index
  std::deque<TTerminateInfo> FTerminations;       // delivered, not yet reported
  std::unordered_map<const void *, int> FSenders; // task objects as log senders -> index
  std::unordered_map<uint32_t, int> FThreadTasks; // worker thread -> its task
  std::unordered_map<uint32_t, std::deque<std::string>> FThreadErrors; // before the task is known
  std::deque<std::string> FLog;                                        // -v: lines to print

  // Made last, gone first: no handler runs once it is destroyed.
  std::unique_ptr<TFFmpegVCL> FVCL;
};

TConvertRun::TConvertRun(const TCliOptions &AOptions, const TProfile &AProfile,
                         const TChoiceSelection &ASelection, TSignalWatch &ASignals)
    : FOptions(AOptions), FProfile(AProfile), FSelection(ASelection), FSignals(ASignals),
      FView(stdout, isatty(STDOUT_FILENO) == 1) {
  // The handlers only record and wake the main loop; without an event loop, a call handed to
  // the main thread would wait for nobody. So they run on the reporting threads themselves.
  GetLogger()->SetTriggerEventInMainThread(false);
  GetLogger()->SetOnLog(
      [this](const void *ASender, uint32_t AThread, TLogLevel ALevel, const std::string &AMsg) {
        LogLine(ASender, AThread, ALevel, AMsg);
      });
  FVCL = std::make_unique<TFFmpegVCL>();
  FVCL->SetTriggerEventInMainThread(false);
  FVCL->SetThreadPriority(AOptions.Priority);
  FVCL->SetProgressInterval(250);
  FVCL->OnProgress = [this](TCustomFFmpegVCL *, TProgressInfo *AInfo) { TaskProgress(*AInfo); };
  FVCL->OnTerminate = [this](TCustomFFmpegVCL *, const TTerminateInfo &AInfo) {
    TaskTerminate(AInfo);
  };
}

TConvertRun::~TConvertRun() {
  FVCL.reset();
  GetLogger()->SetOnLog(nullptr);
}

void TConvertRun::LogLine(const void *ASender, uint32_t AThread, TLogLevel ALevel,
                          const std::string &AMsg) {
  std::lock_guard<std::mutex> lock(FLock);
  if (FOptions.Verbose && ALevel <= llInfo)
    FLog.push_back(AMsg);
  if (const auto sender = FSenders.find(ASender); sender != FSenders.end()) {
    // A task speaks from this thread: what the libraries said here before was about it.
    const int task = sender->second;
    std::deque<std::string> &before = FThreadErrors[AThread];
    for (const std::string &line : before)
      Keep(FErrors[task], line);
    before.clear();
    FThreadTasks[AThread] = task;
    return;
  }
  if (ASender != GetLogger() || ALevel < llPanic || ALevel > llError)
    return;
  const std::string line = WithoutAddress(AMsg);
  if (const auto bound = FThreadTasks.find(AThread); bound != FThreadTasks.end())
    Keep(FErrors[bound->second], line);
  else
    Keep(FThreadErrors[AThread], line);
}

void TConvertRun::TaskProgress(const TProgressInfo &AInfo) {
  std::lock_guard<std::mutex> lock(FLock);
  if (AInfo.TaskIndex < 0 || AInfo.TaskIndex >= static_cast<int>(FProgress.size()))
    return;
  TFileProgress &p = FProgress[static_cast<size_t>(AInfo.TaskIndex)];
  p.Reported = true;
  ++p.Reports;
  p.Percent = AInfo.TotalDuration > 0
                  ? static_cast<int>(std::clamp<int64_t>(
                        AInfo.CurrentDuration * 100 / AInfo.TotalDuration, 0, 100))
                  : -1;
  p.FPS = AInfo.FPS;
  p.Position_us = AInfo.CurrentDuration;
  p.Size = AInfo.CurrentSize;
}

void TConvertRun::TaskTerminate(const TTerminateInfo &AInfo) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FTerminations.push_back(AInfo);
  }
  FWake.Set();
}

void TConvertRun::Fail(const std::string &AFile, const std::string &AReason,
                       const std::deque<std::string> &ADetails) {
  ++FFailed;
  // The library's messages often name the file already.
  const bool named = AReason.compare(0, AFile.size() + 2, AFile + ": ") == 0;
  FView.Message(Program(named ? AReason : AFile + ": " + AReason), true);
  for (const std::string &line : ADetails)
    FView.Message("  " + line, true);
}

bool TConvertRun::AddFile(const std::string &AFile) {
  struct stat st {};
  if (::stat(AFile.c_str(), &st) != 0) {
    Fail(AFile, std::strerror(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    Fail(AFile, "is a folder; give the files in it");
    return false;
  }
  const uint32_t self = CurrentThreadID();
  const auto takeDetails = [&] {
    std::lock_guard<std::mutex> lock(FLock);
    std::deque<std::string> details;
    details.swap(FThreadErrors[self]);
    return details;
  };
  takeDetails();

  TWorkingParameters params;
  params.Video_AddFileName = AFile;
  TInputOptions input;
  InitInputOptions(input);
  TOutputOptions output;
  InitOutputOptions(output);
  int index = -1;
  std::string refusal;
  try {
    // Never the input itself, another input of this run, or another file's output.
    ApplyProfile(params, FProfile, FOptions.OutputFolder, FOptions.Overwrite,
                 [this](const std::string &APath) { return FReserved.count(PathKey(APath)) > 0; });
    ConfirmChoices(params, FProfile, FSelection);
    OutputRecordFromParameters(output, params);
    for (const std::string &line : FOptions.ExtraOptions)
      output.ExtOptions += line + "\n";
    index = FVCL->AddTask(AFile, input);
    if (index < 0) {
      Fail(AFile, FVCL->LastErrMsg(), takeDetails());
      return false;
    }
    if (!FVCL->SetOutputFile(index, params.Video_OutPutFileName, output))
      refusal = FVCL->LastErrMsg();
  } catch (const std::exception &e) {
    refusal = e.what();
  }
  if (!refusal.empty() || index < 0) {
    // The task goes, and with it an output file it may have made.
    if (index >= 0)
      FVCL->RemoveTask(index);
    Fail(AFile, refusal.empty() ? std::string("cannot be converted") : refusal, takeDetails());
    return false;
  }
  FJobs.push_back({AFile, params.Video_OutPutFileName});
  FReserved.insert(PathKey(params.Video_OutPutFileName));
  return true;
}

void TConvertRun::PrintLog() {
  std::deque<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(FLock);
    lines.swap(FLog);
  }
  for (const std::string &line : lines)
    FView.Message("log: " + line, true);
}

bool TConvertRun::ReportTerminations() {
  std::deque<TTerminateInfo> ended;
  std::map<int, std::deque<std::string>> errors; // of the tasks that failed
  {
    std::lock_guard<std::mutex> lock(FLock);
    ended.swap(FTerminations);
    for (const TTerminateInfo &info : ended)
      if (info.Exception && info.TaskIndex >= 0 &&
          info.TaskIndex < static_cast<int>(FErrors.size()))
        errors[info.TaskIndex] = FErrors[static_cast<size_t>(info.TaskIndex)];
  }
  bool all = false;
  for (const TTerminateInfo &info : ended) {
    if (info.TaskIndex < 0) {
      all = true;
      continue;
    }
    const auto task = static_cast<size_t>(info.TaskIndex);
    if (task >= FJobs.size())
      continue;
    FEnded[task] = true;
    const TJob &job = FJobs[task];
    if (info.Finished) {
      ++FConverted;
      FView.Message("converted: " + job.Input + " -> " + job.Output);
    } else if (info.Exception) {
      Fail(job.Input, info.ExceptionMsg, errors[info.TaskIndex]);
    } else {
      FStopped.push_back(static_cast<int>(task));
    }
  }
  return all;
}

void TConvertRun::ShowProgress() {
  int ended = 0;
  for (bool e : FEnded)
    ended += e ? 1 : 0;
  // Each ended task lets the next one start, until a stop.
  const size_t started =
      FSignal != 0 ? 0 : std::min(FJobs.size(), static_cast<size_t>(FOptions.Jobs + ended));
  std::vector<TFileProgress> running;
  {
    std::lock_guard<std::mutex> lock(FLock);
    for (size_t i = 0; i < FProgress.size(); ++i)
      if (!FEnded[i] && (FProgress[i].Reported || i < started))
        running.push_back(FProgress[i]);
  }
  FView.Update(running);
}

void TConvertRun::Convert() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FProgress.resize(FJobs.size());
    FErrors.resize(FJobs.size());
    std::map<std::string, int> names;
    for (const TJob &job : FJobs)
      ++names[fs::path(job.Input).filename().string()];
    for (size_t i = 0; i < FJobs.size(); ++i) {
      FProgress[i].Task = static_cast<int>(i);
      // Files of the same name are told apart by their place on the command line.
      const std::string name = fs::path(FJobs[i].Input).filename().string();
      FProgress[i].Name = names[name] > 1 ? "#" + std::to_string(i + 1) + " " + name : name;
      FSenders[static_cast<const TCustomFFmpeg *>(FVCL->Tasks(static_cast<int>(i)))] =
          static_cast<int>(i);
    }
  }
  FEnded.assign(FJobs.size(), false);
  FVCL->Start(FOptions.Jobs);
  for (;;) {
    pollfd fds[2] = {{FSignals.Fd(), POLLIN, 0}, {FWake.Fd(), POLLIN, 0}};
    poll(fds, 2, FView.Terminal() ? 200 : 250);
    FWake.Reset();
    // Read on every round: a pending signal keeps the descriptor readable.
    if (const int signal = FSignals.Received(); signal != 0 && FSignal == 0) {
      FSignal = signal;
      FView.Message(Program("stopping: the files being converted are closed where they are"), true);
      FVCL->Stop(false);
    }
    PrintLog();
    if (ReportTerminations())
      break;
    ShowProgress();
  }
  FView.Clear();
}

int TConvertRun::Finish() {
  // Joins every thread of the run and closes its files; outputs of tasks that never ran go.
  FVCL.reset();
  PrintLog();
  int partial = 0;
  for (int task : FStopped) {
    const TJob &job = FJobs[static_cast<size_t>(task)];
    std::error_code ec;
    if (fs::is_regular_file(job.Output, ec) && fs::file_size(job.Output, ec) > 0) {
      ++partial;
      FView.Message("stopped: " + job.Input + " -> " + job.Output +
                    " (closed where it stopped, playable)");
    }
  }
  const int notConverted = static_cast<int>(FStopped.size()) - partial;
  std::string summary =
      std::to_string(FConverted) + " converted, " + std::to_string(FFailed) + " failed";
  if (!FStopped.empty())
    summary += ", " + std::to_string(partial) + " stopped, " + std::to_string(notConverted) +
               " not converted";
  FView.Message((FSignal != 0 ? "Stopped: " : "Done: ") + summary + ".");
  if (FSignal != 0)
    return 128 + FSignal;
  return FFailed > 0 ? ExitFailed : ExitConverted;
}

int TConvertRun::Run() {
  if (!FVCL->LoadAVLib(ApplicationFolder() + "LibAV")) {
    FView.Message(Program(FVCL->LastErrMsg()), true);
    return ExitFailed;
  }
  for (const std::string &file : FOptions.Files)
    FReserved.insert(PathKey(file));
  for (const std::string &file : FOptions.Files) {
    AddFile(file);
    PrintLog();
    if (const int signal = FSignals.Received(); signal != 0) {
      FSignal = signal;
      FVCL.reset();
      FView.Message("Stopped before converting; nothing was written.");
      return 128 + signal;
    }
  }
  if (!FJobs.empty())
    Convert();
  return Finish();
}

} // namespace

int RunConvert(const TCliOptions &AOptions, TSignalWatch &ASignals) {
  const TProfile *profile = FindProfile(AOptions.Category, AOptions.Profile);
  if (profile == nullptr)
    throw EUsageError("unknown profile");
  const TChoiceSelection selection = ResolveChoices(AOptions, *profile);
  PrepareOutputFolder(AOptions.OutputFolder);
  TConvertRun run(AOptions, *profile, selection, ASignals);
  return run.Run();
}

int RunInfo(const std::string &AFile) {
  struct stat st {};
  if (::stat(AFile.c_str(), &st) != 0) {
    std::fprintf(stderr, "%s\n", Program(AFile + ": " + std::strerror(errno)).c_str());
    return ExitFailed;
  }
  if (S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "%s\n", Program(AFile + ": is a folder, not a file").c_str());
    return ExitFailed;
  }
  TFFmpegVCL vcl;
  if (!vcl.LoadAVLib(ApplicationFolder() + "LibAV")) {
    std::fprintf(stderr, "%s\n", Program(vcl.LastErrMsg()).c_str());
    return ExitFailed;
  }
  TAVProbe &probe = *vcl.AVProbe();
  bool loaded = false;
  std::string reason;
  try {
    loaded = probe.LoadFile(AFile);
    reason = probe.LastErrMsg();
  } catch (const std::exception &e) {
    reason = e.what();
  }
  if (!loaded) {
    std::fprintf(stderr, "%s\n", Program(AFile + ": " + reason).c_str());
    return ExitFailed;
  }
  std::string text = probe.FileInfoText();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  if (!text.empty() && text.back() != '\n')
    text += '\n';
  std::fputs(text.c_str(), stdout);
  probe.CloseFile();
  return ExitConverted;
}
