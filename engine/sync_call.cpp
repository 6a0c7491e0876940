#include "sync_call.h"

#include "ff_event.h"

#include "sync_call_receiver.h"

#include <QCoreApplication>
#include <QThread>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Calls waiting for the main thread. The queue is ours rather than Qt's blocking call so that
// every hand-over between threads goes through a lock the thread checkers can see.
struct TPendingCall {
  const std::function<void()> *Method;
  TEvent *Done;
};

std::mutex GPendingLock; // protects GPending and GReceiver
std::deque<TPendingCall> GPending;
std::unique_ptr<TSyncCallReceiver> GReceiver;

// Made on the main thread as soon as the application object exists, so that a worker's first
// call finds it: made by a worker and first used by the main thread, its creation would be
// ordered only through the library's event queue, which the thread checker cannot see.
void MakeReceiver() {
  std::lock_guard<std::mutex> lock(GPendingLock);
  GReceiver = std::make_unique<TSyncCallReceiver>();
}
Q_COREAPP_STARTUP_FUNCTION(MakeReceiver)

} // namespace

void RunPendingSyncCalls() {
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

void TSyncCallReceiver::RunPending() {
  RunPendingSyncCalls();
}

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
    // The wake-up is posted by name, so the library builds and frees the queued call itself and
    // everything we hand over passes through GPendingLock, where thread checkers can see it.
    QThread *mainThread = QCoreApplication::instance()->thread();
    if (!GReceiver || GReceiver->thread() != mainThread) {
      GReceiver = std::make_unique<TSyncCallReceiver>();
      GReceiver->moveToThread(mainThread);
    }
    QMetaObject::invokeMethod(GReceiver.get(), "RunPending", Qt::QueuedConnection);
  }
  done.Wait();
}

void ProcessPendingMessages() {
  if (!OnEventLoopThread())
    return;
  RunPendingSyncCalls();
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
