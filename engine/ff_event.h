// A manual-reset event: once set it stays set until reset; every waiter is released.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class TEvent {
public:
  explicit TEvent(bool AInitiallySet = false) : FSet(AInitiallySet) {}

  // Notifies under the lock: a waiter may destroy the event as soon as it sees it set.
  void Set() {
    std::lock_guard<std::mutex> lock(FLock);
    FSet = true;
    FCond.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(FLock);
    FSet = false;
  }
  bool IsSet() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSet;
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    FCond.wait(lock, [this] { return FSet; });
  }
  // True when the event was set within the timeout.
  template <class Rep, class Period> bool WaitFor(std::chrono::duration<Rep, Period> ATimeout) {
    std::unique_lock<std::mutex> lock(FLock);
    return FCond.wait_for(lock, ATimeout, [this] { return FSet; });
  }

private:
  mutable std::mutex FLock; // protects FSet
  std::condition_variable FCond;
  bool FSet;
};
