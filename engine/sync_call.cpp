#include "sync_call.h"

#include "ff_event.h"

#include <QCoreApplication>
#include <QThread>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// Calls waiting for the main thread. The queue is ours rather than Qt's blocking call so that
// every hand-over between threads goes through a lock the thread checkers can see.
struct TPendingCall {
  const std::function<void()> *Method;
  TEvent *Done;
};

std::mutex GPendingLock; // protects GPending
std::deque<TPendingCall> GPending;

void RunPendingCalls() {
  for (;;) {
    TPendingCall call;
    {
      std::lock_guard<std::mutex> lock(GPendingLock);
      if (GPending.empty())
        return;
      call = GPending.front();
      GPending.pop_front();
    }
    (*call.Method)();
    call.Done->Set();
  }
}

} // namespace

bool IsMainThread() {
  QCoreApplication *app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

bool OnEventLoopThread() {
  QCoreApplication *app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void SyncCall(const std::function<void()> &AMethod) {
  if (IsMainThread()) {
    AMethod();
    return;
  }
  TEvent done;
  {
    std::lock_guard<std::mutex> lock(GPendingLock);
    GPending.push_back({&AMethod, &done});
    // Posted under the lock: the main thread takes the lock before it frees the posted call.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &RunPendingCalls, Qt::QueuedConnection);
  }
  done.Wait();
}

void ProcessPendingMessages() {
  if (!OnEventLoopThread())
    return;
  RunPendingCalls();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitServing(const std::function<bool()> &ADone, std::chrono::milliseconds ATimeout) {
  using clock = std::chrono::steady_clock;
  const bool serve = OnEventLoopThread();
  const auto start = clock::now();
  while (!ADone()) {
    if (ATimeout != std::chrono::milliseconds::max() && clock::now() - start >= ATimeout)
      return ADone();
    if (serve)
      ProcessPendingMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(serve ? 2 : 5));
  }
  return true;
}
