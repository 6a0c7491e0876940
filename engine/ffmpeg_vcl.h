// The task-list component: the one object through which the window drives conversions. It builds
// tasks from per-file option records, runs them on worker threads (a chosen number at a time,
// each next task starting when one ends) or one after another on the calling thread, pauses,
// resumes and stops them, and reports progress, preview pictures and terminations as events.
//
// Run states: idle (Working false) -> running (Start) -> done (the final termination record,
// TaskIndex -1) -> idle (ClearTasks). While running or done, the operations that change the list
// raise "Cannot %s while working.".
//
// Threads: operations are called from the main thread. Progress and preview-bitmap handlers run
// on the main thread (TriggerEventInMainThread) while the reporting worker waits; the custom
// hook runs on the worker. In thread mode every termination record is handed to OnTerminate on
// a delivery thread of its own, in the order the tasks ended, the final record last. Set the
// handlers while no run is going.
#pragma once

#include "ff_base_component.h"
#include "ffmpeg_list.h"
#include "option_records.h"
#include "previewer.h"
#include "task_events.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TAVProbe;
class TEvent;

class TCustomFFmpegVCL : public TFFBaseComponent {
public:
  using TProgressEvent =
      std::function<void(TCustomFFmpegVCL *Sender, TProgressInfo *AProgressInfo)>;
  using TTerminateEvent =
      std::function<void(TCustomFFmpegVCL *Sender, const TTerminateInfo &ATerminateInfo)>;
  using TPreviewBitmapEvent =
      std::function<void(TCustomFFmpegVCL *Sender, const TPreviewInfo &APreviewInfo)>;
  using TCustomHookEvent = std::function<void(TCustomFFmpegVCL *Sender, THookInfo *AHookInfo)>;

  explicit TCustomFFmpegVCL(void *AOwner = nullptr);
  // Stops a run and waits for it, then frees every task: no thread of the component or its tasks
  // is left running when this returns.
  ~TCustomFFmpegVCL() override;

  // The loader's state for the component's libraries (not avdevice, not SDL).
  bool AVLibLoaded() const;
  // Loads them searching APath first; false with the loader's message in LastErrMsg.
  bool LoadAVLib(const std::string &APath);
  void UnloadAVLib();

  // A new task with AFileName as its one input, the record (or the option text) applied first.
  // Its index, or -1 with the reason in LastErrMsg (the task is freed).
  int AddTask(const std::string &AFileName);
  int AddTask(const std::string &AFileName, TInputOptions &AOptions);
  int AddTask(const std::string &AFileName, const std::string &AExtOptions);
  // Input named "stream:%d:%s" from the stream's identity and APrivateData; it opens only where
  // a protocol for such names is supplied.
  int AddTask(std::iostream &AStream, const std::string &APrivateData,
              TInputOptions *AOptions = nullptr);
  // One more input for task ATaskIndex; false with the reason in LastErrMsg.
  bool AddInputFile(int ATaskIndex, const std::string &AFileName);
  bool AddInputFile(int ATaskIndex, const std::string &AFileName, TInputOptions &AOptions);
  bool AddInputFile(int ATaskIndex, const std::string &AFileName, const std::string &AExtOptions);
  // One output for task ATaskIndex; false with the reason in LastErrMsg.
  bool SetOutputFile(int ATaskIndex, const std::string &AFileName);
  bool SetOutputFile(int ATaskIndex, const std::string &AFileName, TOutputOptions &AOptions);
  bool SetOutputFile(int ATaskIndex, const std::string &AFileName, const std::string &AExtOptions);
  bool SetOutputStream(int ATaskIndex, std::iostream &AStream, const std::string &APrivateData,
                       TOutputOptions *AOptions = nullptr);

  // Frees every task and returns to idle; refused while a run has not delivered its final record.
  void ClearTasks();
  void Exchange(int ATaskIndex1, int ATaskIndex2);
  void RemoveTask(int ATaskIndex);

  // Starts the run: with AThreadCount above 0 that many tasks at once on workers, each later
  // task when a running one ends; otherwise every task on the calling thread, returning after the
  // final record. An empty list delivers the final record at once.
  void Start(int AThreadCount);
  // Holds every running worker at its next loop boundary; no task starts while paused.
  void Pause();
  void Resume();
  // Starts no further task and stops every task; tasks that never ran still report their
  // termination, so the final record follows. With AWaitFor, returns after every termination,
  // the final one included, has been handed to OnTerminate (on the main thread serving
  // synchronised calls meanwhile); called from inside an event handler it does not wait.
  void Stop(bool AWaitFor);

  // ----- Properties -----
  const std::string &About() const { return FAbout; }
  void SetAbout(const std::string &AValue) { FAbout = AValue; }
  const std::string &LastErrMsg() const { return FLastErrMsg; }
  void *UserData() const { return FData; }
  void SetUserData(void *AValue) { FData = AValue; }
  // Inputs and outputs per new task (the transcoder takes 1 to 512).
  int CustomMaxFiles() const { return FCustomMaxFiles; }
  void SetCustomMaxFiles(int AValue) { FCustomMaxFiles = AValue; }
  bool Preview() const { return FPreview; }
  void SetPreview(bool AValue);
  bool PreviewBitmap() const { return FPreviewBitmap; }
  void SetPreviewBitmap(bool AValue);
  // Milliseconds between two progress reports of a task; 100 or less is stored as 100.
  int ProgressInterval() const { return FProgressInterval.load(); }
  void SetProgressInterval(int AValue);
  TThreadPriority ThreadPriority() const { return FThreadPriority.load(); }
  void SetThreadPriority(TThreadPriority AValue) { FThreadPriority = AValue; }
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread.load(); }
  void SetTriggerEventInMainThread(bool AValue) { FTriggerEventInMainThread = AValue; }
  int Verbose() const { return FVerbose; }
  void SetVerbose(int AValue) { FVerbose = AValue; }
  // Makes each new task's preview window.
  const TPreviewerFactory &PreviewerFactory() const { return FPreviewerFactory; }
  void SetPreviewerFactory(TPreviewerFactory AValue) { FPreviewerFactory = std::move(AValue); }

  TAVProbe *AVProbe() const { return FAVProbe.get(); }
  // The prober bound to input AFileIndex of task ATaskIndex; null when that input was not
  // opened. Bindings are dropped when the task's run has closed its files.
  TAVProbe *AVProbes(int ATaskIndex, int AFileIndex) const;
  int TasksCount() const { return FFFmpegList.Count(); }
  // The task at ATaskIndex (index error outside the list), for reading its state.
  TFFmpeg *Tasks(int ATaskIndex) const { return FFFmpegList.Items(ATaskIndex); }
  static std::string Version() { return "3.3"; }
  bool Terminated() const;
  bool Working() const;

  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  TPreviewBitmapEvent OnPreviewBitmap;
  TCustomHookEvent OnCustomHook;

protected:
  // Bound to each task's events; called on the thread that runs the task.
  virtual void TaskCustomHook(TCustomFFmpeg *Sender, QImage &ABitmap, int AFrameNumber,
                              int64_t APTS, bool &AUpdate, bool &AStopHook);
  virtual void TaskPreviewBitmap(TCustomFFmpeg *Sender, const QImage &ABitmap, int AFrameNumber,
                                 int64_t APTS);
  virtual void TaskProgress(TCustomFFmpeg *Sender, int AFileIndex, int AFrameNumber, int AFPS,
                            float AQuality, float ABitRate, int64_t ACurrentSize,
                            int64_t ACurrentDuration, int64_t ATotalDuration);
  virtual void TaskTerminate(TCustomFFmpeg *Sender);

  // Raises "Cannot %s while working." with AOperation while a run is set up.
  void CheckWorking(const std::string &AOperation) const;

private:
  // The component's own termination delivery thread: one OnTerminate call with a private copy
  // of the record, after the delivery before it has finished.
  struct TDoTerminateThread {
    TTerminateEvent FOnTerminate;
    TTerminateInfo FTerminateInfo;
    std::shared_ptr<TEvent> FPrevious; // done event of the delivery before; may be null
    std::shared_ptr<TEvent> FDone;
    std::thread FThread;
  };

  int DoAddTask(const std::string &AFileName, TInputOptions *AOptions);
  bool DoAddInputFile(int ATaskIndex, const std::string &AFileName, TInputOptions *AOptions);
  bool DoSetOutputFile(int ATaskIndex, const std::string &AFileName, TOutputOptions *AOptions);
  // Binds the prober of the task's last opened input to that input.
  static void BindLastInput(TFFmpeg &ATask);

  void StartNext();
  void FinishAll();
  void CallProgress();
  void CallPreviewBitmap();
  // Hands one record to OnTerminate: on a delivery thread in thread mode, else directly.
  // FTerminateLock is held.
  void DeliverTermination(const TTerminateInfo &AInfo);
  // Joins the delivery threads that have finished. FTerminateLock may be held.
  void ReapDeliveries();
  // Waits until every delivery has finished (serving synchronised calls on the main thread) and
  // joins them; the calling delivery thread itself is left.
  void WaitForDeliveries();
  // FTerminateLock, taken on the main thread in slices that serve synchronised calls.
  std::unique_lock<std::recursive_mutex> LockTerminate() const;

  std::string FAbout;
  std::string FLastErrMsg;
  void *FData = nullptr;
  int FCustomMaxFiles = 20;
  bool FPreview = false;
  bool FPreviewBitmap = false;
  std::atomic<int> FProgressInterval{500};
  std::atomic<TThreadPriority> FThreadPriority{tpNormal};
  std::atomic<bool> FTriggerEventInMainThread{true};
  int FVerbose = 1;
  TPreviewerFactory FPreviewerFactory;
  THookInfo FHookInfo;
  TProgressInfo FProgressInfo;
  TTerminateInfo FTerminateInfo;
  TPreviewInfo FPreviewInfo;
  // Lock order: FTerminateLock before FDeliveryLock; the event locks stand alone.
  std::mutex FHookLock;                        // protects FHookInfo up to the handler's return
  std::mutex FPreviewLock;                     // protects FPreviewInfo up to the handler's return
  std::mutex FProgressLock;                    // protects FProgressInfo up to the handler's return
  mutable std::recursive_mutex FTerminateLock; // protects the run state below and FTerminateInfo
  std::unique_ptr<TAVProbe> FAVProbe;
  TFFmpegList FFFmpegList;
  int FCompleteTasks = 0;
  int FCurrentTask = -1;
  int FPendingTasks = 0;
  bool FTerminated = false;
  bool FThreadMode = false;
  bool FWorking = false;
  bool FPaused = false;         // tasks started meanwhile wait for Resume
  std::thread::id FStartThread; // runs the tasks without thread mode

  std::mutex FDeliveryLock; // protects FDeliveries and FLastDelivery
  std::list<std::unique_ptr<TDoTerminateThread>> FDeliveries;
  std::shared_ptr<TEvent> FLastDelivery;

  // Made once, so that a report allocates nothing.
  std::function<void()> FCallProgress;
  std::function<void()> FCallPreviewBitmap;
};

// The same component; it adds nothing.
class TFFmpegVCL : public TCustomFFmpegVCL {
public:
  using TCustomFFmpegVCL::TCustomFFmpegVCL;
};
