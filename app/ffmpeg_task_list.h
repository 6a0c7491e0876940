// The window's task list bound to the task-list component: progress reaches the window's rows on
// the main thread, terminations too (the component hands them over on delivery threads), and
// each task shows its live preview in a window of its own.
#pragma once

#include "ffmpeg_vcl.h"
#include "task_list_link.h"

#include <QPointer>

class TForm1;

class TFFmpegTaskList : public TTaskListLink {
public:
  TFFmpegTaskList();
  // Stops a run and waits for it.
  ~TFFmpegTaskList() override;

  // The window that shows the reports; null shows them nowhere.
  void BindWindow(TForm1 *AForm) { FForm = AForm; }

  bool AVLibLoaded() const override;
  bool LoadAVLib(const QString &APath) override;
  QString LastErrMsg() const override { return FLastErrMsg; }
  int AddTask(const QString &AFileName, TInputOptions &AOptions) override;
  bool SetOutputFile(int ATaskIndex, const QString &AFileName, TOutputOptions &AOptions) override;
  void RemoveTask(int ATaskIndex) override;
  void ClearTasks() override;
  void SetPreview(bool AValue) override;
  void SetThreadPriority(int APriority) override;
  void Start(int AThreadCount) override;
  void Pause() override;
  void Resume() override;
  void Stop() override;
  void DetachEvents() override;

  TFFmpegVCL &Component() { return FFVCL; }

private:
  void FFVCLProgress(const TProgressInfo &AInfo);
  void FFVCLTerminate(const TTerminateInfo &AInfo);
  // Runs AOperation, turning a refusal into LastErrMsg; false when it was refused.
  bool Guarded(const std::function<void()> &AOperation);

  TFFmpegVCL FFVCL;
  // Main thread only: the reports are handed to the window there.
  QPointer<TForm1> FForm;
  bool FAttached = true;
  int FInTermination = 0; // the window is handling a termination
  QString FLastErrMsg;
};
