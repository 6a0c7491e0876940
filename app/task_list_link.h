// The main window's calls into the task-list component that runs the conversions. The window
// only ever speaks to the component through these, so the component can be bound in one place
// and tests can stand in for it. Progress and termination come back through
// TForm1::ShowTaskProgress and TForm1::ShowTaskTermination on the main thread.
#pragma once

#include "option_records.h"

#include <QString>

#include <vector>

class TTaskListLink {
public:
  virtual ~TTaskListLink() = default;

  // Whether the component's libraries are loaded.
  virtual bool AVLibLoaded() const = 0;
  // Loads them, searching APath first; false with the reason in LastErrMsg.
  virtual bool LoadAVLib(const QString &APath) = 0;
  // The reason of the last refused operation.
  virtual QString LastErrMsg() const = 0;

  // Opens AFileName as the one input of a new task at the end of the list, with AOptions
  // applied first (its FileName is filled with AFileName when empty). The new task's index, or
  // -1 with the reason in LastErrMsg.
  virtual int AddTask(const QString &AFileName, TInputOptions &AOptions) = 0;
  // Gives task ATaskIndex its output AFileName made by AOptions (its FileName is filled with
  // AFileName when empty). False with the reason in LastErrMsg.
  virtual bool SetOutputFile(int ATaskIndex, const QString &AFileName,
                             TOutputOptions &AOptions) = 0;
  // Removes the task at ATaskIndex (the job numbered ATaskIndex + 1).
  virtual void RemoveTask(int ATaskIndex) = 0;
  // Removes every task.
  virtual void ClearTasks() = 0;
  // The real-time preview of the tasks, for new and existing ones.
  virtual void SetPreview(bool AValue) = 0;
  // Worker priority: 0 idle, 1 lowest, 2 lower, 3 normal.
  virtual void SetThreadPriority(int APriority) = 0;
  // Starts the tasks, AThreadCount at a time.
  virtual void Start(int AThreadCount) = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // Stops every task and returns when all have ended; their terminations, and the final one,
  // reach the window before it returns.
  virtual void Stop() = 0;
  // No progress or termination reaches the window after this.
  virtual void DetachEvents() = 0;
};

// Stands in while no transcoder is bound: keeps the tasks it is given, opening each input only
// to see that it is a readable file, and runs nothing.
class TNoTaskList : public TTaskListLink {
public:
  bool AVLibLoaded() const override;
  bool LoadAVLib(const QString &APath) override;
  QString LastErrMsg() const override { return FLastErrMsg; }
  int AddTask(const QString &AFileName, TInputOptions &AOptions) override;
  bool SetOutputFile(int ATaskIndex, const QString &AFileName, TOutputOptions &AOptions) override;
  void RemoveTask(int ATaskIndex) override;
  void ClearTasks() override;
  void SetPreview(bool) override {}
  void SetThreadPriority(int) override {}
  void Start(int) override {}
  void Pause() override {}
  void Resume() override {}
  void Stop() override {}
  void DetachEvents() override {}

  int TasksCount() const { return static_cast<int>(FTasks.size()); }

private:
  struct TTask {
    TInputOptions Input;
    TOutputOptions Output;
  };
  std::vector<TTask> FTasks;
  QString FLastErrMsg;
};
