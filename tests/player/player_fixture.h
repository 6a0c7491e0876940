// What the player tests share: an application object (offscreen, dummy sound), the player's
// libraries, and a fixture that records the player's events and the log.
#pragma once

#include "ff_logger.h"
#include "ff_player.h"
#include "player_screen.h"
#include "sync_call.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct TLogLine {
  TLogLevel Level;
  std::string Msg;
};

struct TFileOpenInfo {
  int64_t Duration = 0;
  int Width = 0;
  int Height = 0;
};

class PlayerTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Waits, serving the main thread's queued calls, until APredicate holds (or the bound passes).
  static bool WaitFor(const std::function<bool()> &APredicate,
                      std::chrono::milliseconds ATimeout = std::chrono::seconds(15)) {
    return WaitServing(APredicate, ATimeout);
  }
  int CountState(TPlayState AState) const;
  bool LogContains(const std::string &AText) const;
  std::vector<TLogLine> Log() const;

  std::unique_ptr<TPlayerScreen> FScreen;
  std::unique_ptr<TFFPlayer> FPlayer;
  std::vector<TPlayState> FStates;
  std::vector<int64_t> FPositions;
  std::vector<TFileOpenInfo> FOpens;

private:
  mutable std::mutex FLogLock; // protects FLog
  std::vector<TLogLine> FLog;
};

// A folder of its own for a test, removed afterwards.
std::string MakeTempFolder();
void RemoveFolder(const std::string &AFolder);
// Runs ffprobe on a picture file; "WxH" of its first stream, or empty when it cannot read it.
std::string ProbePictureSize(const std::string &AFileName);
