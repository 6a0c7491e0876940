// Ctrl+C and SIGTERM as readable events: the signals are blocked in every thread and read from a
// descriptor by the main loop, so that no work happens inside a signal handler.
#pragma once

#include <csignal>

class TSignalWatch {
public:
  // Blocks SIGINT and SIGTERM in the calling thread before any other thread exists (threads
  // inherit the mask) and opens a descriptor that reads them. Raises std::system_error.
  TSignalWatch();
  // Closes the descriptor and unblocks the signals.
  ~TSignalWatch();
  TSignalWatch(const TSignalWatch &) = delete;
  TSignalWatch &operator=(const TSignalWatch &) = delete;

  // Readable while a signal is pending.
  int Fd() const { return FFd; }
  // The first signal received so far (SIGINT or SIGTERM), 0 while none; never waits.
  int Received();

private:
  sigset_t FOldMask;
  int FFd = -1;
  int FReceived = 0;
};

// A wake-up that other threads give the main loop: Set is safe from any thread.
class TWakeEvent {
public:
  TWakeEvent();
  ~TWakeEvent();
  TWakeEvent(const TWakeEvent &) = delete;
  TWakeEvent &operator=(const TWakeEvent &) = delete;

  int Fd() const { return FFd; }
  void Set();
  // Empties the event after a wake-up.
  void Reset();

private:
  int FFd = -1;
};
