#include "ff_error.h"
#include "ff_logger.h"
#include "ff_utils.h"
#include "sync_call.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace {

struct TLine {
  const void *Sender;
  uint32_t ThreadID;
  TLogLevel Level;
  std::string Msg;
};

// Collects every line the process logger delivers while the fixture lives.
class LoggerTest : public ::testing::Test {
protected:
  void SetUp() override {
    FLogger = GetLogger();
    FLogger->SetTriggerEventInMainThread(true);
    FLogger->SetLogLevel(llInfo);
    FLogger->InstallAVLogCallback();
    FLogger->SetOnLog([this](const void *s, uint32_t t, TLogLevel l, const std::string &m) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.push_back({s, t, l, m});
    });
  }
  void TearDown() override {
    FLogger->SetOnLog(nullptr);
    FLogger->SetLogLevel(llInfo);
  }
  std::vector<TLine> Lines() {
    std::lock_guard<std::mutex> lock(FLock);
    return FLines;
  }

  TFFLogger *FLogger = nullptr;
  std::mutex FLock; // protects FLines
  std::vector<TLine> FLines;
};

TEST(LogLevelMap, LibraryLevelsMapBothWays) {
  const struct {
    int Library;
    TLogLevel Level;
  } cases[] = {{-100, llQuiet}, {-8, llQuiet}, {-7, llPanic}, {0, llPanic},    {7, llPanic},
               {8, llFatal},    {16, llError}, {20, llError}, {24, llWarning}, {32, llInfo},
               {40, llVerbose}, {48, llDebug}, {56, llDebug}, {1000, llDebug}};
  for (const auto &c : cases)
    EXPECT_EQ(LogLevelFromLibrary(c.Library), c.Level) << c.Library;
  EXPECT_EQ(LibraryLevelFromLogLevel(llQuiet), -8);
  EXPECT_EQ(LibraryLevelFromLogLevel(llInfo), 32);
  EXPECT_EQ(LibraryLevelFromLogLevel(llDebug), 48);
}

TEST_F(LoggerTest, SecondInstanceIsRefused) {
  try {
    TFFLogger second;
    FAIL() << "a second logger was created";
  } catch (const std::exception &e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  EXPECT_EQ(GetLogger(), FLogger);
}

TEST_F(LoggerTest, LibraryLinesAreAssembledAcrossCalls) {
  av_log(nullptr, AV_LOG_INFO, "abc");
  EXPECT_TRUE(Lines().empty());
  av_log(nullptr, AV_LOG_INFO, "def\nghi\n");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Msg, "abcdef");
  EXPECT_EQ(lines[1].Msg, "ghi");
  EXPECT_EQ(lines[0].Sender, FLogger);
  EXPECT_EQ(lines[0].ThreadID, CurrentThreadID());
  EXPECT_EQ(lines[0].Level, llInfo);
}

TEST_F(LoggerTest, ContextPrefixOnlyStartsALine) {
  AVCodecContext *ctx = avcodec_alloc_context3(nullptr);
  ASSERT_NE(ctx, nullptr);
  av_log(ctx, AV_LOG_WARNING, "abc");
  av_log(ctx, AV_LOG_WARNING, "def\n");
  char expected[128];
  std::snprintf(expected, sizeof(expected), "[NULL @ %p]abcdef", static_cast<void *>(ctx));
  avcodec_free_context(&ctx);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Msg, expected);
  EXPECT_EQ(lines[0].Level, llWarning);
}

TEST_F(LoggerTest, LibraryOutputAboveTheLibraryLevelIsDropped) {
  av_log(nullptr, AV_LOG_VERBOSE, "hidden\n");
  av_log(nullptr, AV_LOG_ERROR, "shown\n");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Msg, "shown");
  EXPECT_EQ(lines[0].Level, llError);
}

TEST_F(LoggerTest, EngineMessagesAreFilteredByLevel) {
  int sender = 0;
  FLogger->Log(&sender, llVerbose, "verbose passes at info");
  FLogger->Log(&sender, llDebug, "debug does not");
  FLogger->Log(&sender, llError, "error passes");
  FLogger->SetLogLevel(llQuiet);
  FLogger->Log(&sender, llVerbose, "verbose does not pass at quiet");
  FLogger->Log(&sender, llPanic, "panic does not pass at quiet");
  FLogger->Log(&sender, llQuiet, "quiet passes");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Msg, "verbose passes at info");
  EXPECT_EQ(lines[0].Sender, &sender);
  EXPECT_EQ(lines[1].Msg, "error passes");
  EXPECT_EQ(lines[2].Msg, "quiet passes");
}

TEST_F(LoggerTest, OptLogLevelTakesWordsAndNumbers) {
  const struct {
    const char *Text;
    TLogLevel Level;
  } cases[] = {{"WARNING", llWarning}, {"quiet", llQuiet}, {"Debug", llDebug},
               {"20", llError},        {"-8", llQuiet},    {"32", llInfo}};
  for (const auto &c : cases) {
    FLogger->OptLogLevel(c.Text);
    EXPECT_EQ(FLogger->LogLevel(), c.Level) << c.Text;
  }
  EXPECT_EQ(LibraryLogLevel(), 32);
  EXPECT_THROW(FLogger->OptLogLevel("loud"), EConvertError);
  EXPECT_EQ(FLogger->LogLevel(), llInfo);
}

TEST_F(LoggerTest, LongMessagesArriveWhole) {
  std::string big(10000, 'x');
  big += "\xe4\xb8\xad"; // a multi-byte character at the end
  av_log(nullptr, AV_LOG_ERROR, "%s\n", big.c_str());
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Msg, big);
}

TEST_F(LoggerTest, ConcurrentLinesKeepTheirOwnValues) {
  constexpr int threads = 8, perThread = 300;
  std::vector<std::thread> workers;
  std::map<int, uint32_t> tids; // worker number -> its thread id
  std::mutex tidLock;           // protects tids
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      {
        std::lock_guard<std::mutex> lock(tidLock);
        tids[t] = CurrentThreadID();
      }
      for (int i = 0; i < perThread; ++i) {
        // Library lines in two pieces, and engine lines, interleaved with the other threads.
        av_log(nullptr, AV_LOG_WARNING, "lib %d ", t);
        av_log(nullptr, AV_LOG_WARNING, "%d\n", i);
        FLogger->LogFmt(&tids, t % 2 ? llError : llInfo, "eng %d %d", t, i);
      }
    });
  for (auto &w : workers)
    w.join();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread * 2));
  std::map<int, int> nextLib, nextEng;
  for (const TLine &l : lines) {
    int t = -1, i = -1;
    if (std::sscanf(l.Msg.c_str(), "lib %d %d", &t, &i) == 2) {
      EXPECT_EQ(l.Sender, FLogger);
      EXPECT_EQ(l.Level, llWarning);
      EXPECT_EQ(i, nextLib[t]++) << l.Msg;
    } else {
      ASSERT_EQ(std::sscanf(l.Msg.c_str(), "eng %d %d", &t, &i), 2) << l.Msg;
      EXPECT_EQ(l.Sender, &tids);
      EXPECT_EQ(l.Level, t % 2 ? llError : llInfo);
      EXPECT_EQ(i, nextEng[t]++) << l.Msg;
    }
    ASSERT_GE(t, 0);
    EXPECT_EQ(l.ThreadID, tids[t]) << l.Msg;
  }
}

// With an application object, worker lines are handed to the main thread, which serves them
// while it waits.
TEST_F(LoggerTest, WorkerLinesRunOnTheMainThread) {
  int argc = 1;
  char name[] = "engine_tests";
  char *argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  std::vector<QThread *> handlerThreads;
  FLogger->SetOnLog([&](const void *, uint32_t, TLogLevel, const std::string &) {
    handlerThreads.push_back(QThread::currentThread()); // main thread only: no lock needed
  });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i)
      av_log(nullptr, AV_LOG_ERROR, "line %d\n", i);
    done = true;
  });
  EXPECT_TRUE(WaitServing([&] { return done.load(); }, std::chrono::seconds(10)));
  worker.join();
  ASSERT_EQ(handlerThreads.size(), 20u);
  for (QThread *t : handlerThreads)
    EXPECT_EQ(t, app.thread());
}

} // namespace
