// The worker thread that runs one task's conversion, and the scheduling priorities it can run at.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Gives the calling thread the Linux scheduling that stands for APriority: SCHED_IDLE for tpIdle,
// else a nice value (10, 5, 0, -5, -10, -15). Raising the priority needs a permission the process
// may lack; then the thread keeps its priority. False when the change was refused.
bool SetCurrentThreadPriority(TThreadPriority APriority);

// A worker created suspended: nothing runs until the first Resume. Suspend holds the worker at
// its next hold point (HoldWhileSuspended), where it owns no lock, until Resume. The owner joins
// it: the destructor waits for the work to end.
class TConvertThread {
public:
  TConvertThread(std::function<void()> AExecute, TThreadPriority APriority);
  ~TConvertThread();
  TConvertThread(const TConvertThread &) = delete;
  TConvertThread &operator=(const TConvertThread &) = delete;

  // Starts the worker on the first call; later calls release a suspended worker.
  void Resume();
  void Suspend();
  bool Suspended() const;
  bool Started() const;
  TThreadPriority Priority() const { return FPriority; }

  // Called on the worker: returns at once unless suspended, else when resumed.
  void HoldWhileSuspended();
  // True on the worker thread itself.
  bool IsCurrentThread() const;
  // Waits for the work to end. Not on the worker itself (returns at once there).
  void Join();

private:
  std::function<void()> FExecute;
  TThreadPriority FPriority;
  mutable std::mutex FLock; // protects FSuspended, FStarted, FThread
  std::condition_variable FResumed;
  bool FSuspended = true;
  bool FStarted = false;
  std::thread FThread;
  std::thread::id FThreadID; // written before the worker starts, read-only afterwards
};
