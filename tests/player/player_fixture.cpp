#include "player_fixture.h"

#include "ffmpeg_loader.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

class PlayerEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    // The tests must not need a display or a sound card.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    static int argc = 1;
    static char name[] = "player_tests";
    static char *argv[] = {name, nullptr};
    FApp = std::make_unique<QApplication>(argc, argv);
    ASSERT_TRUE(FFLoader().Load(PlayerLibraries)) << FFLoader().LastErrMsg();
  }
  void TearDown() override { FApp.reset(); }

private:
  std::unique_ptr<QApplication> FApp;
};

[[maybe_unused]] auto *GEnvironment = ::testing::AddGlobalTestEnvironment(new PlayerEnvironment);

} // namespace

void PlayerTest::SetUp() {
  TFFLogger *logger = GetLogger();
  logger->SetTriggerEventInMainThread(true);
  logger->SetLogLevel(llDebug);
  logger->SetOnLog([this](const void *, uint32_t, TLogLevel l, const std::string &m) {
    std::lock_guard<std::mutex> lock(FLogLock);
    FLog.push_back({l, m});
  });
  FScreen = std::make_unique<TPlayerScreen>();
  FScreen->resize(320, 180);
  FScreen->show();
  FPlayer = std::make_unique<TFFPlayer>();
  FPlayer->SetOnState([this](TCustomPlayer *, TPlayState s) { FStates.push_back(s); });
  FPlayer->SetOnPosition([this](TCustomPlayer *, int64_t p) { FPositions.push_back(p); });
  FPlayer->SetOnFileOpen([this](TCustomPlayer *, int64_t d, int w, int h, int &, int &) {
    FOpens.push_back({d, w, h});
  });
}

void PlayerTest::TearDown() {
  FPlayer.reset();
  FScreen.reset();
  GetLogger()->SetOnLog(nullptr);
  GetLogger()->SetLogLevel(llInfo);
}

int PlayerTest::CountState(TPlayState AState) const {
  int n = 0;
  for (TPlayState s : FStates)
    n += s == AState;
  return n;
}

std::vector<TLogLine> PlayerTest::Log() const {
  std::lock_guard<std::mutex> lock(FLogLock);
  return FLog;
}

bool PlayerTest::LogContains(const std::string &AText) const {
  for (const TLogLine &l : Log())
    if (l.Msg.find(AText) != std::string::npos)
      return true;
  return false;
}

std::string MakeTempFolder() {
  QTemporaryDir dir(QDir::tempPath() + "/player_test_XXXXXX");
  dir.setAutoRemove(false);
  return dir.path().toStdString();
}

void RemoveFolder(const std::string &AFolder) {
  QDir(QString::fromStdString(AFolder)).removeRecursively();
}

std::string ProbePictureSize(const std::string &AFileName) {
  const std::string cmd = "ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                          "-of csv=s=x:p=0 '" +
                          AFileName + "' 2>/dev/null";
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr)
    return {};
  char buf[128] = {};
  std::string out;
  while (fgets(buf, sizeof(buf), p))
    out += buf;
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
    out.pop_back();
  return out;
}
