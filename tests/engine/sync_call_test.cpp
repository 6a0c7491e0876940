#include "sync_call.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Calls from several workers reach the main thread while it sits in its event loop, and each
// worker continues only after its call has run.
TEST(SyncCall, WorkersReachAnIdleEventLoop) {
  int argc = 1;
  char name[] = "engine_tests";
  char *argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QEventLoop loop;
  constexpr int workers = 4, calls = 200;
  int ran = 0; // touched on the main thread only
  int finished = 0;
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w)
    threads.emplace_back([&] {
      for (int i = 0; i < calls; ++i) {
        int seen = -1;
        SyncCall([&] {
          EXPECT_EQ(QThread::currentThread(), app.thread());
          seen = ++ran;
        });
        EXPECT_GT(seen, 0); // the call ran before SyncCall returned
      }
      SyncCall([&] {
        if (++finished == workers)
          loop.quit();
      });
    });
  loop.exec();
  for (auto &t : threads)
    t.join();
  EXPECT_EQ(ran, workers * calls);
  // On the main thread the call is direct.
  bool direct = false;
  SyncCall([&] { direct = true; });
  EXPECT_TRUE(direct);
}

} // namespace
