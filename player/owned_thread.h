// A std::thread with an owner that joins it. The end of the thread can be awaited on the main
// thread without stopping its queued calls, since the thread may be waiting for one of them.
#pragma once

#include "ff_event.h"
#include "sync_call.h"

#include <thread>
#include <utility>

class TOwnedThread {
public:
  TOwnedThread() = default;
  TOwnedThread(const TOwnedThread &) = delete;
  TOwnedThread &operator=(const TOwnedThread &) = delete;
  ~TOwnedThread() { Join(); }

  template <class F> void Start(F &&AFunc) {
    Join();
    FDone.Reset();
    FThread = std::thread([this, f = std::forward<F>(AFunc)]() mutable {
      f();
      FDone.Set();
    });
  }
  bool Joinable() const { return FThread.joinable(); }
  bool Finished() const { return FDone.IsSet(); }
  bool IsCurrent() const { return FThread.get_id() == std::this_thread::get_id(); }
  // Waits for the end and joins; never call on the thread itself.
  void Join() {
    if (!FThread.joinable() || IsCurrent())
      return;
    if (OnEventLoopThread())
      WaitServing([this] { return FDone.IsSet(); });
    FThread.join();
  }

private:
  std::thread FThread;
  TEvent FDone{true};
};
