#include "convert_thread.h"

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

bool SetCurrentThreadPriority(TThreadPriority APriority) {
  if (APriority == tpIdle) {
    sched_param param{};
    param.sched_priority = 0;
    return pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0;
  }
  static const int nice[] = {0, 10, 5, 0, -5, -10, -15};
  // On Linux the nice value is per thread, addressed by the thread's id.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  return setpriority(PRIO_PROCESS, tid, nice[APriority]) == 0;
}

TConvertThread::TConvertThread(std::function<void()> AExecute, TThreadPriority APriority)
    : FExecute(std::move(AExecute)), FPriority(APriority) {}

TConvertThread::~TConvertThread() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(FLock);
    worker = std::move(FThread);
  }
  if (!worker.joinable())
    return;
  // Freed from its own work (an event handler deleting its task): it cannot wait for itself.
  if (worker.get_id() == std::this_thread::get_id())
    worker.detach();
  else
    worker.join();
}

void TConvertThread::Resume() {
  std::lock_guard<std::mutex> lock(FLock);
  FSuspended = false;
  if (!FStarted) {
    FStarted = true;
    FThread = std::thread([this] {
      SetCurrentThreadPriority(FPriority);
      FExecute();
    });
    FThreadID = FThread.get_id();
    return;
  }
  FResumed.notify_all();
}

void TConvertThread::Suspend() {
  std::lock_guard<std::mutex> lock(FLock);
  FSuspended = true;
}

bool TConvertThread::Suspended() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FSuspended;
}

bool TConvertThread::Started() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FStarted;
}

void TConvertThread::HoldWhileSuspended() {
  std::unique_lock<std::mutex> lock(FLock);
  FResumed.wait(lock, [this] { return !FSuspended; });
}

bool TConvertThread::IsCurrentThread() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FStarted && FThreadID == std::this_thread::get_id();
}

void TConvertThread::Join() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id())
      return;
    worker = std::move(FThread);
  }
  worker.join();
}
