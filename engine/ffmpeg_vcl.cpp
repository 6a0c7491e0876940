#include "ffmpeg_vcl.h"

#include "av_probe.h"
#include "ff_error.h"
#include "ff_event.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "sync_call.h"

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <exception>

namespace {

// Depth of the component's event handlers on this thread: a waiting Stop from inside a handler
// would wait on itself.
thread_local int GHandlerDepth = 0;

struct THandlerScope {
  THandlerScope() { ++GHandlerDepth; }
  ~THandlerScope() { --GHandlerDepth; }
  THandlerScope(const THandlerScope &) = delete;
  THandlerScope &operator=(const THandlerScope &) = delete;
};

// Calls AHandler, logging what it throws: nothing may escape into a worker's report or into
// the main thread's queue of synchronised calls.
template <class F> void CallHandler(const void *ASender, const char *AName, F &&AHandler) {
  THandlerScope scope;
  try {
    AHandler();
  } catch (const std::exception &e) {
    GetLogger()->Log(ASender, llError, std::string("Error occurs ") + AName + ": " + e.what());
  } catch (...) {
    GetLogger()->Log(ASender, llError, std::string("Error occurs ") + AName);
  }
}

// Runs AWork off the main thread while the main thread keeps serving synchronised calls: a
// worker holding a task's post-hook lock may be waiting for the main thread to paint.
void RunServing(const std::function<void()> &AWork) {
  if (!OnEventLoopThread()) {
    AWork();
    return;
  }
  TEvent done;
  std::thread helper([&] {
    AWork();
    done.Set();
  });
  WaitServing([&done] { return done.IsSet(); });
  helper.join();
}

std::string StreamName(const std::iostream &AStream, const std::string &APrivateData) {
  return Format("stream:%" PRIuPTR ":%s", reinterpret_cast<uintptr_t>(&AStream),
                APrivateData.c_str());
}

} // namespace

TCustomFFmpegVCL::TCustomFFmpegVCL(void *AOwner)
    : TFFBaseComponent(AOwner), FAVProbe(std::make_unique<TAVProbe>(this)),
      FCallProgress([this] { CallProgress(); }),
      FCallPreviewBitmap([this] { CallPreviewBitmap(); }) {}

TCustomFFmpegVCL::~TCustomFFmpegVCL() {
  bool running;
  {
    auto lock = LockTerminate();
    running = FWorking && !FTerminated;
  }
  if (running)
    Stop(true);
  WaitForDeliveries();
  FFFmpegList.Clear();
  FAVProbe.reset();
  // Nobody may still be inside a lock when it goes.
  for (std::mutex *m : {&FHookLock, &FPreviewLock, &FProgressLock}) {
    m->lock();
    m->unlock();
  }
  FTerminateLock.lock();
  FTerminateLock.unlock();
}

std::unique_lock<std::recursive_mutex> TCustomFFmpegVCL::LockTerminate() const {
  std::unique_lock<std::recursive_mutex> lock(FTerminateLock, std::defer_lock);
  if (!OnEventLoopThread()) {
    lock.lock();
    return lock;
  }
  // A worker holding it may be waiting for the main thread (a log line, a report).
  while (!lock.try_lock()) {
    ProcessPendingMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return lock;
}

// ---------------------------------------------------------------------------------------------
// Libraries

bool TCustomFFmpegVCL::AVLibLoaded() const {
  return FFLoader().Loaded(TaskListLibraries);
}

bool TCustomFFmpegVCL::LoadAVLib(const std::string &APath) {
  FFLoader().SetLibraryPath(APath);
  if (FFLoader().Load(TaskListLibraries))
    return true;
  FLastErrMsg = FFLoader().LastErrMsg();
  return false;
}

void TCustomFFmpegVCL::UnloadAVLib() {
  FFLoader().Unload(TaskListLibraries);
}

// ---------------------------------------------------------------------------------------------
// Building tasks

void TCustomFFmpegVCL::CheckWorking(const std::string &AOperation) const {
  auto lock = LockTerminate();
  if (FWorking)
    throw FFmpegException(Format("Cannot %s while working.", AOperation.c_str()));
}

void TCustomFFmpegVCL::BindLastInput(TFFmpeg &ATask) {
  const int index = ATask.nb_input_files() - 1;
  ATask.GetAVProbe(index)->BindFileHandle(ATask.Finput_files[static_cast<size_t>(index)].get());
}

int TCustomFFmpegVCL::DoAddTask(const std::string &AFileName, TInputOptions *AOptions) {
  CheckWorking("AddTask");
  auto task = std::make_unique<TFFmpeg>(FCustomMaxFiles);
  try {
    task->Reinitialize();
    task->SetVerbose(FVerbose);
    TCustomFFmpeg::TPostHooks hooks = 0;
    if (FPreview)
      hooks |= TCustomFFmpeg::phPreview;
    if (FPreviewBitmap)
      hooks |= TCustomFFmpeg::phBitmap;
    task->SetPostHooks(hooks);
    task->PreviewerFactory = FPreviewerFactory;
    task->OnPreviewBitmap = [this](TCustomFFmpeg *ASender, const QImage &ABitmap, int AFrameNumber,
                                   int64_t APTS) {
      TaskPreviewBitmap(ASender, ABitmap, AFrameNumber, APTS);
    };
    if (AOptions != nullptr)
      ApplyInputOptions(*task, *AOptions, AFileName);
    task->StoreInputOptions(0, AOptions);
    if (!task->OpenInputFile(AFileName)) {
      FLastErrMsg = task->FLastErrMsg;
      return -1;
    }
    BindLastInput(*task);
    task->OnProgress = [this](TCustomFFmpeg *ASender, int AFileIndex, int AFrameNumber, int AFPS,
                              float AQuality, float ABitRate, int64_t ACurrentSize,
                              int64_t ACurrentDuration, int64_t ATotalDuration) {
      TaskProgress(ASender, AFileIndex, AFrameNumber, AFPS, AQuality, ABitRate, ACurrentSize,
                   ACurrentDuration, ATotalDuration);
    };
    task->OnTerminate = [this](TCustomFFmpeg *ASender) { TaskTerminate(ASender); };
  } catch (const std::exception &e) {
    FLastErrMsg = e.what();
    return -1;
  }
  return FFFmpegList.Add(std::move(task));
}

int TCustomFFmpegVCL::AddTask(const std::string &AFileName) {
  return DoAddTask(AFileName, nullptr);
}

int TCustomFFmpegVCL::AddTask(const std::string &AFileName, TInputOptions &AOptions) {
  return DoAddTask(AFileName, &AOptions);
}

int TCustomFFmpegVCL::AddTask(const std::string &AFileName, const std::string &AExtOptions) {
  TInputOptions options = InputOptionsFromText(AExtOptions);
  return DoAddTask(AFileName, &options);
}

int TCustomFFmpegVCL::AddTask(std::iostream &AStream, const std::string &APrivateData,
                              TInputOptions *AOptions) {
  return DoAddTask(StreamName(AStream, APrivateData), AOptions);
}

bool TCustomFFmpegVCL::DoAddInputFile(int ATaskIndex, const std::string &AFileName,
                                      TInputOptions *AOptions) {
  CheckWorking("AddInputFile");
  TFFmpeg *task = FFFmpegList.Items(ATaskIndex);
  if (task->nb_input_files() >= task->MaxFiles()) {
    FLastErrMsg = Format("max input files %d reached", task->MaxFiles());
    return false;
  }
  try {
    const int index = task->nb_input_files();
    if (AOptions != nullptr)
      ApplyInputOptions(*task, *AOptions, AFileName);
    task->StoreInputOptions(index, AOptions);
    if (!task->OpenInputFile(AFileName)) {
      task->StoreInputOptions(index, nullptr);
      FLastErrMsg = task->FLastErrMsg;
      return false;
    }
    BindLastInput(*task);
  } catch (const std::exception &e) {
    FLastErrMsg = e.what();
    return false;
  }
  return true;
}

bool TCustomFFmpegVCL::AddInputFile(int ATaskIndex, const std::string &AFileName) {
  return DoAddInputFile(ATaskIndex, AFileName, nullptr);
}

bool TCustomFFmpegVCL::AddInputFile(int ATaskIndex, const std::string &AFileName,
                                    TInputOptions &AOptions) {
  return DoAddInputFile(ATaskIndex, AFileName, &AOptions);
}

bool TCustomFFmpegVCL::AddInputFile(int ATaskIndex, const std::string &AFileName,
                                    const std::string &AExtOptions) {
  TInputOptions options = InputOptionsFromText(AExtOptions);
  return DoAddInputFile(ATaskIndex, AFileName, &options);
}

bool TCustomFFmpegVCL::DoSetOutputFile(int ATaskIndex, const std::string &AFileName,
                                       TOutputOptions *AOptions) {
  CheckWorking("SetOutputFile");
  TFFmpeg *task = FFFmpegList.Items(ATaskIndex);
  if (task->nb_output_files() >= task->MaxFiles()) {
    FLastErrMsg = Format("max output files %d reached", task->MaxFiles());
    return false;
  }
  try {
    TDefaultsList defaults;
    const int index = task->nb_output_files();
    bool join = false;
    if (AOptions != nullptr) {
      PrepareOutput(*task, *AOptions, defaults, AFileName);
      if (AOptions->CustomHook)
        task->OnCustomHook = [this](TCustomFFmpeg *ASender, QImage &ABitmap, int AFrameNumber,
                                    int64_t APTS, bool &AUpdate, bool &AStopHook) {
          TaskCustomHook(ASender, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
        };
      join = AOptions->Join;
    }
    task->StoreOutputOptions(index, AOptions);
    if (task->OpenOutputFile(AFileName, join) < 0) {
      task->StoreOutputOptions(index, nullptr);
      FLastErrMsg = task->FLastErrMsg;
      return false;
    }
    if (AOptions != nullptr)
      ApplyNewStreams(*task, AOptions->ExtOptions, defaults);
  } catch (const std::exception &e) {
    FLastErrMsg = e.what();
    return false;
  }
  return true;
}

bool TCustomFFmpegVCL::SetOutputFile(int ATaskIndex, const std::string &AFileName) {
  return DoSetOutputFile(ATaskIndex, AFileName, nullptr);
}

bool TCustomFFmpegVCL::SetOutputFile(int ATaskIndex, const std::string &AFileName,
                                     TOutputOptions &AOptions) {
  return DoSetOutputFile(ATaskIndex, AFileName, &AOptions);
}

bool TCustomFFmpegVCL::SetOutputFile(int ATaskIndex, const std::string &AFileName,
                                     const std::string &AExtOptions) {
  TOutputOptions options = OutputOptionsFromText(AExtOptions);
  return DoSetOutputFile(ATaskIndex, AFileName, &options);
}

bool TCustomFFmpegVCL::SetOutputStream(int ATaskIndex, std::iostream &AStream,
                                       const std::string &APrivateData, TOutputOptions *AOptions) {
  return DoSetOutputFile(ATaskIndex, StreamName(AStream, APrivateData), AOptions);
}

void TCustomFFmpegVCL::ClearTasks() {
  {
    auto lock = LockTerminate();
    if (FWorking && !FTerminated)
      throw FFmpegException("Cannot ClearTasks while working.");
  }
  // Inside a handler the deliveries after this one wait for it; they are joined later.
  if (GHandlerDepth == 0)
    WaitForDeliveries();
  FFFmpegList.Clear();
  FLastErrMsg.clear();
  auto lock = LockTerminate();
  FCompleteTasks = 0;
  FCurrentTask = -1;
  FPendingTasks = 0;
  FTerminated = false;
  FThreadMode = false;
  FWorking = false;
  FPaused = false;
}

void TCustomFFmpegVCL::Exchange(int ATaskIndex1, int ATaskIndex2) {
  CheckWorking("Exchange");
  FFFmpegList.Exchange(ATaskIndex1, ATaskIndex2);
}

void TCustomFFmpegVCL::RemoveTask(int ATaskIndex) {
  CheckWorking("RemoveTask");
  FFFmpegList.Delete(ATaskIndex);
}

// ---------------------------------------------------------------------------------------------
// Properties

void TCustomFFmpegVCL::SetPreview(bool AValue) {
  RunServing([this, AValue] { FFFmpegList.PreviewAll(AValue); });
  FPreview = AValue;
}

void TCustomFFmpegVCL::SetPreviewBitmap(bool AValue) {
  RunServing([this, AValue] { FFFmpegList.PreviewBitmapAll(AValue); });
  FPreviewBitmap = AValue;
}

void TCustomFFmpegVCL::SetProgressInterval(int AValue) {
  FProgressInterval = AValue <= 100 ? 100 : AValue;
}

TAVProbe *TCustomFFmpegVCL::AVProbes(int ATaskIndex, int AFileIndex) const {
  return FFFmpegList.Items(ATaskIndex)->AVProbe(AFileIndex);
}

bool TCustomFFmpegVCL::Terminated() const {
  auto lock = LockTerminate();
  return FTerminated;
}

bool TCustomFFmpegVCL::Working() const {
  auto lock = LockTerminate();
  return FWorking;
}

// ---------------------------------------------------------------------------------------------
// Running

void TCustomFFmpegVCL::Start(int AThreadCount) {
  CheckWorking("StartTask");
  {
    auto lock = LockTerminate();
    FCompleteTasks = 0;
    FCurrentTask = 0;
    FPendingTasks = TasksCount();
    FTerminated = false;
    FThreadMode = AThreadCount > 0;
    FWorking = true;
    FPaused = false;
    if (FPendingTasks == 0) {
      FinishAll();
      return;
    }
    if (FThreadMode) {
      // Held while the first tasks start: a worker that ends meanwhile waits for it.
      while (FPendingTasks > 0) {
        StartNext();
        if (--AThreadCount == 0)
          break;
      }
      return;
    }
    FStartThread = std::this_thread::get_id();
  }
  // Without thread mode each task converts and terminates inside StartNext.
  for (;;) {
    {
      auto lock = LockTerminate();
      if (FPendingTasks <= 0)
        break;
    }
    StartNext();
  }
  // A Stop from a handler lets the tasks that never ran report on threads of their own.
  WaitServing([this] { return Terminated(); });
  auto lock = LockTerminate();
  FStartThread = std::thread::id();
}

void TCustomFFmpegVCL::StartNext() {
  auto lock = LockTerminate();
  if (FPendingTasks <= 0)
    return;
  --FPendingTasks;
  // Counted before the start: a task that fails its start terminates inside it, and the next
  // task is started from there.
  TFFmpeg *task = FFFmpegList.Items(FCurrentTask++);
  task->ReportInterval = static_cast<int64_t>(FProgressInterval.load()) * 1000;
  if (FThreadMode) {
    if (TConvertThread *worker = task->StartConvert(true, FThreadPriority.load()))
      if (!FPaused)
        worker->Resume();
    return;
  }
  lock.unlock();
  task->StartConvert(false, FThreadPriority.load());
}

void TCustomFFmpegVCL::TaskTerminate(TCustomFFmpeg *Sender) {
  auto lock = LockTerminate();
  auto *task = static_cast<TFFmpeg *>(Sender);
  task->DropProbeBindings();
  if (OnTerminate) {
    TTerminateInfo info;
    info.TaskIndex = FFFmpegList.IndexOf(task);
    info.Finished = task->Finished();
    info.Exception = task->FatalException();
    info.ExceptionMsg = task->FatalMessage();
    DeliverTermination(info);
  }
  ++FCompleteTasks;
  if (FPendingTasks < 1) {
    if (FCompleteTasks >= TasksCount())
      FinishAll();
  } else if (FThreadMode) {
    StartNext();
  }
}

void TCustomFFmpegVCL::FinishAll() {
  if (OnTerminate) {
    TTerminateInfo info;
    info.TaskIndex = -1;
    info.Finished = true;
    DeliverTermination(info);
  }
  FTerminated = true;
}

void TCustomFFmpegVCL::DeliverTermination(const TTerminateInfo &AInfo) {
  if (!FThreadMode) {
    FTerminateInfo = AInfo;
    CallHandler(this, "OnTerminate", [this] { OnTerminate(this, FTerminateInfo); });
    return;
  }
  ReapDeliveries();
  auto delivery = std::make_unique<TDoTerminateThread>();
  TDoTerminateThread *d = delivery.get();
  d->FOnTerminate = OnTerminate;
  d->FTerminateInfo = AInfo;
  d->FDone = std::make_shared<TEvent>();
  std::lock_guard<std::mutex> lock(FDeliveryLock);
  d->FPrevious = FLastDelivery;
  FLastDelivery = d->FDone;
  d->FThread = std::thread([this, d] {
    // In the order the tasks ended, so the final record comes last.
    if (d->FPrevious)
      d->FPrevious->Wait();
    // The terminating thread still holds the lock: wait until its record of the run is complete.
    { std::lock_guard<std::recursive_mutex> state(FTerminateLock); }
    CallHandler(this, "OnTerminate", [this, d] { d->FOnTerminate(this, d->FTerminateInfo); });
    d->FDone->Set();
  });
  FDeliveries.push_back(std::move(delivery));
}

void TCustomFFmpegVCL::ReapDeliveries() {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(FDeliveryLock);
  for (auto it = FDeliveries.begin(); it != FDeliveries.end();) {
    TDoTerminateThread &d = **it;
    if (d.FDone->IsSet() && d.FThread.get_id() != self) {
      d.FThread.join();
      it = FDeliveries.erase(it);
    } else {
      ++it;
    }
  }
}

void TCustomFFmpegVCL::WaitForDeliveries() {
  const std::thread::id self = std::this_thread::get_id();
  WaitServing([this, self] {
    std::lock_guard<std::mutex> lock(FDeliveryLock);
    for (const auto &d : FDeliveries)
      if (d->FThread.get_id() != self && !d->FDone->IsSet())
        return false;
    return true;
  });
  ReapDeliveries();
}

void TCustomFFmpegVCL::Pause() {
  auto lock = LockTerminate();
  if (!FWorking || FTerminated)
    return;
  FPaused = true;
  FFFmpegList.PauseAll();
}

void TCustomFFmpegVCL::Resume() {
  auto lock = LockTerminate();
  if (!FWorking || FTerminated)
    return;
  FPaused = false;
  FFFmpegList.ResumeAll();
}

void TCustomFFmpegVCL::Stop(bool AWaitFor) {
  bool done;
  bool self;
  {
    auto lock = LockTerminate();
    if (!FWorking)
      return; // no run: tasks that never ran are not ended
    done = FTerminated;
    FPendingTasks = 0;
    FPaused = false;
    // Without thread mode the thread that called Start runs the tasks: it cannot wait for them.
    self = GHandlerDepth > 0 || (!FThreadMode && FStartThread == std::this_thread::get_id());
  }
  const bool wait = AWaitFor && !self;
  if (!done)
    FFFmpegList.StopAll(wait);
  if (!wait)
    return;
  WaitServing([this] { return Terminated(); });
  WaitForDeliveries();
}

// ---------------------------------------------------------------------------------------------
// Reports

void TCustomFFmpegVCL::TaskProgress(TCustomFFmpeg *Sender, int AFileIndex, int AFrameNumber,
                                    int AFPS, float AQuality, float ABitRate, int64_t ACurrentSize,
                                    int64_t ACurrentDuration, int64_t ATotalDuration) {
  if (!OnProgress)
    return;
  // Held across the synchronised call: a second report waits until this one was handled.
  std::lock_guard<std::mutex> lock(FProgressLock);
  FProgressInfo.TaskIndex = FFFmpegList.IndexOf(Sender);
  FProgressInfo.FileIndex = AFileIndex;
  FProgressInfo.FrameNumber = AFrameNumber;
  FProgressInfo.FPS = AFPS;
  FProgressInfo.Quality = AQuality;
  FProgressInfo.BitRate = ABitRate;
  FProgressInfo.CurrentSize = ACurrentSize;
  FProgressInfo.CurrentDuration = ACurrentDuration;
  FProgressInfo.TotalDuration = ATotalDuration;
  if (FTriggerEventInMainThread)
    SyncCall(FCallProgress);
  else
    CallProgress();
}

void TCustomFFmpegVCL::CallProgress() {
  if (OnProgress)
    CallHandler(this, "OnProgress", [this] { OnProgress(this, &FProgressInfo); });
}

void TCustomFFmpegVCL::TaskPreviewBitmap(TCustomFFmpeg *Sender, const QImage &ABitmap,
                                         int AFrameNumber, int64_t APTS) {
  if (!OnPreviewBitmap)
    return;
  std::lock_guard<std::mutex> lock(FPreviewLock);
  FPreviewInfo.TaskIndex = FFFmpegList.IndexOf(Sender);
  FPreviewInfo.Bitmap = &ABitmap;
  FPreviewInfo.FrameNumber = AFrameNumber;
  FPreviewInfo.PTS = APTS;
  if (FTriggerEventInMainThread)
    SyncCall(FCallPreviewBitmap);
  else
    CallPreviewBitmap();
}

void TCustomFFmpegVCL::CallPreviewBitmap() {
  if (OnPreviewBitmap)
    CallHandler(this, "OnPreviewBitmap", [this] { OnPreviewBitmap(this, FPreviewInfo); });
}

void TCustomFFmpegVCL::TaskCustomHook(TCustomFFmpeg *Sender, QImage &ABitmap, int AFrameNumber,
                                      int64_t APTS, bool &AUpdate, bool &AStopHook) {
  if (!OnCustomHook)
    return;
  std::lock_guard<std::mutex> lock(FHookLock);
  FHookInfo.TaskIndex = FFFmpegList.IndexOf(Sender);
  FHookInfo.Bitmap = &ABitmap;
  FHookInfo.FrameNumber = AFrameNumber;
  FHookInfo.PTS = APTS;
  FHookInfo.Update = AUpdate;
  FHookInfo.StopHook = AStopHook;
  // Never synchronised: the handler works on the worker's own bitmap.
  CallHandler(this, "OnCustomHook", [this] { OnCustomHook(this, &FHookInfo); });
  AUpdate = FHookInfo.Update;
  AStopHook = FHookInfo.StopHook;
}
