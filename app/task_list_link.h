// The main window's calls into the task-list component that runs the conversions. The window
// only ever speaks to the component through these, so the component can be bound in one place
// and tests can stand in for it. Progress and termination come back through
// TForm1::ShowTaskProgress and TForm1::ShowTaskTermination on the main thread.
#pragma once

class TTaskListLink {
public:
  virtual ~TTaskListLink() = default;

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

// Stands in while no task list is bound: holds no task and runs nothing.
class TNoTaskList : public TTaskListLink {
public:
  void RemoveTask(int) override {}
  void ClearTasks() override {}
  void SetPreview(bool) override {}
  void SetThreadPriority(int) override {}
  void Start(int) override {}
  void Pause() override {}
  void Resume() override {}
  void Stop() override {}
  void DetachEvents() override {}
};
