#include "ffmpeg_task_list.h"

#include "ff_logger.h"
#include "main_window.h"
#include "previewer_window.h"
#include "sync_call.h"

TFFmpegTaskList::TFFmpegTaskList() {
  FFVCL.SetPreviewerFactory(PreviewWindowFactory());
  FFVCL.OnProgress = [this](TCustomFFmpegVCL *, TProgressInfo *AInfo) { FFVCLProgress(*AInfo); };
  FFVCL.OnTerminate = [this](TCustomFFmpegVCL *, const TTerminateInfo &AInfo) {
    FFVCLTerminate(AInfo);
  };
}

TFFmpegTaskList::~TFFmpegTaskList() {
  FAttached = false;
  FFVCL.Stop(true);
}

bool TFFmpegTaskList::Guarded(const std::function<void()> &AOperation) {
  try {
    AOperation();
    return true;
  } catch (const std::exception &e) {
    FLastErrMsg = QString::fromStdString(e.what());
    GetLogger()->Log(&FFVCL, llError, e.what());
    return false;
  }
}

bool TFFmpegTaskList::AVLibLoaded() const {
  return FFVCL.AVLibLoaded();
}

bool TFFmpegTaskList::LoadAVLib(const QString &APath) {
  if (FFVCL.LoadAVLib(APath.toStdString()))
    return true;
  FLastErrMsg = QString::fromStdString(FFVCL.LastErrMsg());
  return false;
}

int TFFmpegTaskList::AddTask(const QString &AFileName, TInputOptions &AOptions) {
  int index = -1;
  if (!Guarded([&] { index = FFVCL.AddTask(AFileName.toStdString(), AOptions); }))
    return -1;
  if (index < 0)
    FLastErrMsg = QString::fromStdString(FFVCL.LastErrMsg());
  return index;
}

bool TFFmpegTaskList::SetOutputFile(int ATaskIndex, const QString &AFileName,
                                    TOutputOptions &AOptions) {
  bool done = false;
  if (!Guarded([&] { done = FFVCL.SetOutputFile(ATaskIndex, AFileName.toStdString(), AOptions); }))
    return false;
  if (!done)
    FLastErrMsg = QString::fromStdString(FFVCL.LastErrMsg());
  return done;
}

void TFFmpegTaskList::RemoveTask(int ATaskIndex) {
  Guarded([&] { FFVCL.RemoveTask(ATaskIndex); });
}

void TFFmpegTaskList::ClearTasks() {
  if (Guarded([&] { FFVCL.ClearTasks(); }))
    FLastErrMsg.clear();
}

void TFFmpegTaskList::SetPreview(bool AValue) {
  FFVCL.SetPreview(AValue);
}

void TFFmpegTaskList::SetThreadPriority(int APriority) {
  static const TThreadPriority priorities[] = {tpIdle, tpLowest, tpLower, tpNormal};
  FFVCL.SetThreadPriority(APriority >= 0 && APriority <= 3 ? priorities[APriority] : tpNormal);
}

void TFFmpegTaskList::Start(int AThreadCount) {
  Guarded([&] { FFVCL.Start(AThreadCount); });
}

void TFFmpegTaskList::Pause() {
  FFVCL.Pause();
}

void TFFmpegTaskList::Resume() {
  FFVCL.Resume();
}

void TFFmpegTaskList::Stop() {
  // From inside the window's handling of a termination (a message box's own loop), the
  // terminations after it wait for that handling: waiting for them here would never end.
  FFVCL.Stop(FInTermination == 0);
}

void TFFmpegTaskList::DetachEvents() {
  FAttached = false;
}

void TFFmpegTaskList::FFVCLProgress(const TProgressInfo &AInfo) {
  if (FAttached && FForm)
    FForm->ShowTaskProgress(AInfo.TaskIndex, AInfo.CurrentDuration, AInfo.TotalDuration, AInfo.FPS,
                            AInfo.CurrentSize);
}

void TFFmpegTaskList::FFVCLTerminate(const TTerminateInfo &AInfo) {
  // On a delivery thread: the window's part runs on the main thread.
  SyncCall([this, &AInfo] {
    if (!FAttached || !FForm)
      return;
    ++FInTermination;
    FForm->ShowTaskTermination(AInfo.TaskIndex, AInfo.Finished, AInfo.Exception,
                               QString::fromStdString(AInfo.ExceptionMsg));
    --FInTermination;
  });
}
