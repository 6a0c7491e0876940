#include "player_fixture.h"

#include "audio_display.h"
#include "ff_error.h"
#include "snapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <dirent.h>
#include <fstream>

using namespace std::chrono_literals;

namespace {

int ThreadCount() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/task")) {
    while (dirent *e = readdir(d))
      n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

int CountPixels(const QImage &AImage, QRgb AColour) {
  int n = 0;
  const QImage image = AImage.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < image.height(); y++)
    for (int x = 0; x < image.width(); x++)
      n += (image.pixel(x, y) & 0xffffff) == (AColour & 0xffffff);
  return n;
}

bool IsBlack(const QImage &AImage) {
  return CountPixels(AImage, qRgb(0, 0, 0)) == AImage.width() * AImage.height();
}

// A copy of a sample with every byte from AFrom on replaced by what AMangle makes of it.
std::string MangledCopy(const std::string &AFolder, const std::string &AName, double AKeep,
                        bool ACorrupt) {
  std::ifstream in(MediaPath(AName), std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (ACorrupt) {
    // Damage a few hundred bytes every 8 KB after the headers.
    for (size_t at = 16384; at + 256 < data.size(); at += 8192)
      for (size_t i = 0; i < 256; i++)
        data[at + i] = char((at + i * 7) & 0xff);
  }
  data.resize(size_t(data.size() * AKeep));
  const std::string out = AFolder + "/" + (ACorrupt ? "corrupt_" : "short_") + AName;
  std::ofstream(out, std::ios::binary) << data;
  return out;
}

} // namespace

TEST_F(PlayerTest, WithoutLibrariesOpenFails) {
  FPlayer->UnloadAVLib();
  EXPECT_FALSE(FPlayer->AVLibLoaded());
  EXPECT_FALSE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true));
  EXPECT_EQ(FPlayer->LastErrMsg(), "libav or libsdl not loaded.");
  ASSERT_TRUE(FPlayer->LoadAVLib("")) << FPlayer->LastErrMsg();
  EXPECT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true));
}

TEST_F(PlayerTest, NothingOpen) {
  int64_t pts = 0;
  EXPECT_TRUE(FPlayer->CurrentFrame(pts).isNull());
  EXPECT_EQ(pts, -1);
  EXPECT_TRUE(FPlayer->Paused());
  EXPECT_FALSE(FPlayer->Seek(int64_t(1000000), {}, true));
  FPlayer->Pause();
  FPlayer->Resume();
  FPlayer->StepToNextFrame();
  FPlayer->Stop(true);
  EXPECT_TRUE(FStates.empty());
  EXPECT_EQ(FPlayer->Version(), "2.3");
  EXPECT_THROW(FPlayer->SetFormat("no_such_format"), FFmpegException);
  FPlayer->SetFormat("matroska");
  EXPECT_EQ(FPlayer->Format(), "matroska");
}

TEST_F(PlayerTest, OpenPausedReportsPlayThenPauseAndShowsTheFirstPicture) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true))
      << FPlayer->LastErrMsg();
  ASSERT_EQ(FOpens.size(), 1u);
  EXPECT_EQ(FOpens[0].Width, 640);
  EXPECT_EQ(FOpens[0].Height, 360);
  EXPECT_NEAR(FOpens[0].Duration, 3000000, 100000);
  EXPECT_EQ(FPlayer->ScreenWidth(), 320);
  ASSERT_TRUE(WaitFor([&] { return FStates.size() >= 2 && !FScreen->Picture().isNull(); }));
  EXPECT_EQ(FStates[0], psPlay);
  EXPECT_EQ(FStates[1], psPause);
  EXPECT_TRUE(FPlayer->Paused());
  // The 16:9 picture fills the 320x180 screen.
  EXPECT_EQ(FScreen->Surface()->PictureRect(), QRect(0, 0, 320, 180));
  EXPECT_FALSE(IsBlack(FScreen->Picture()));
  int64_t pts = -1;
  const QImage frame = FPlayer->CurrentFrame(pts);
  EXPECT_EQ(frame.size(), QSize(640, 360));
  EXPECT_EQ(frame.format(), QImage::Format_RGB888);
  EXPECT_EQ(pts, 0);
  // Still paused: no other picture comes.
  const uint64_t generation = FScreen->Surface()->Generation();
  WaitFor([] { return false; }, 200ms);
  EXPECT_EQ(FScreen->Surface()->Generation(), generation);

  // The flip applies to the picture handed out as well.
  FPlayer->SetVerticalFlip(true);
  EXPECT_EQ(FPlayer->CurrentFrame(), frame.mirrored(false, true));
  FPlayer->SetVerticalFlip(false);

  FPlayer->StepToNextFrame();
  ASSERT_TRUE(WaitFor([&] {
    int64_t p = -1;
    FPlayer->CurrentFrame(p);
    return p > 0 && CountState(psStep) == 1;
  }));
  FPlayer->CurrentFrame(pts);
  EXPECT_EQ(pts, 40000) << "one frame further";
  EXPECT_TRUE(FPlayer->Paused());

  // A larger screen: the paused picture is converted again for its size.
  FScreen->resize(640, 480);
  ASSERT_TRUE(WaitFor([&] { return FScreen->Surface()->PictureRect() == QRect(0, 60, 640, 360); }));
  EXPECT_EQ(FScreen->Picture().size(), QSize(640, 360));
  EXPECT_EQ(FPlayer->ScreenHeight(), 480);

  FPlayer->Stop(true);
  EXPECT_EQ(FStates.back(), psStop);
  EXPECT_TRUE(FPlayer->Paused());
  EXPECT_TRUE(FScreen->Picture().isNull());
}

TEST_F(PlayerTest, SoundOnlyReportsNoPictureSizeAndDrawsTheWaveform) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("audio.wav"), FScreen.get(), false)) << FPlayer->LastErrMsg();
  ASSERT_EQ(FOpens.size(), 1u);
  EXPECT_EQ(FOpens[0].Width, -1);
  EXPECT_EQ(FOpens[0].Height, -1);
  EXPECT_EQ(FPlayer->VideoStreamIndex(), -1);
  ASSERT_TRUE(WaitFor([&] {
    const QImage p = FScreen->Picture();
    return !p.isNull() && CountPixels(p, WaveColour) > p.width() / 2;
  })) << "no waveform drawn";
  EXPECT_TRUE(FPlayer->CurrentFrame().isNull());
  EXPECT_EQ(FScreen->Picture().size(), QSize(320, 180));

  // The spectrogram is the other sound display.
  FPlayer->ToggleAudioDisplay();
  ASSERT_TRUE(WaitFor([&] {
    const QImage p = FScreen->Picture();
    return !p.isNull() && !IsBlack(p) && CountPixels(p, WaveColour) == 0;
  })) << "no spectrogram drawn";
}

TEST_F(PlayerTest, OpenPausedSoundOnlyReportsPause) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("audio.mp3"), FScreen.get(), true));
  ASSERT_TRUE(WaitFor([&] { return FStates.size() >= 2; }));
  EXPECT_EQ(FStates[0], psPlay);
  EXPECT_EQ(FStates[1], psPause);
  EXPECT_TRUE(FPlayer->Paused());
}

TEST_F(PlayerTest, OpenPausedReportsPlayFirstAlsoAfterASlowFileOpenHandler) {
  // An owner that reads the file once more in its handler, serving queued calls meanwhile:
  // the first pictures are decoded before the play thread starts.
  FPlayer->SetOnFileOpen([](TCustomPlayer *, int64_t, int, int, int &, int &) {
    WaitFor([] { return false; }, 300ms);
  });
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true));
  ASSERT_TRUE(WaitFor([&] { return FStates.size() >= 2; }));
  EXPECT_EQ(FStates, (std::vector<TPlayState>{psPlay, psPause}));
}

TEST_F(PlayerTest, EndIsReportedOnceAndTheOwnerMayRewindFromItsHandler) {
  for (const char *name : {"h264_aac_640x360.mp4", "audio.wav"}) {
    SCOPED_TRACE(name);
    FStates.clear();
    FPositions.clear();
    // What the window does at the end: back to the start, paused.
    FPlayer->SetOnState([this](TCustomPlayer *p, TPlayState s) {
      FStates.push_back(s);
      if (s == psEnd) {
        p->Seek(int64_t(0), {sfAny}, false);
        p->Pause();
      }
    });
    ASSERT_TRUE(FPlayer->Open(MediaPath(name), FScreen.get(), false)) << FPlayer->LastErrMsg();
    ASSERT_TRUE(WaitFor([&] { return CountState(psEnd) == 1; }));
    ASSERT_TRUE(WaitFor([&] { return FPlayer->Paused() && FPlayer->CurrentPTS() < 100000; }))
        << FPlayer->CurrentPTS();
    ASSERT_FALSE(FPositions.empty());
    EXPECT_GE(*std::max_element(FPositions.begin(), FPositions.end()), 2900000);
    WaitFor([] { return false; }, 300ms);
    EXPECT_EQ(CountState(psEnd), 1);
    EXPECT_TRUE(LogContains("reach end of file: "));
    FPlayer->Stop(true);
  }
}

TEST_F(PlayerTest, PositionsArriveInOrderAndCollapse) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("audio.wav"), nullptr, false));
  ASSERT_TRUE(WaitFor([&] { return !FPositions.empty() && FPositions.back() > 1000000; }));
  // Without serving the main thread for a while, the waiting positions collapse into one.
  const size_t before = FPositions.size();
  std::this_thread::sleep_for(300ms);
  WaitFor([] { return false; }, 50ms);
  EXPECT_LE(FPositions.size(), before + 6);
  for (size_t i = 1; i < FPositions.size(); i++)
    EXPECT_GT(FPositions[i], FPositions[i - 1]);
}

TEST_F(PlayerTest, PlayTimeWithLoopReturnsToTheStart) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), false));
  FPlayer->SetPlayTime(1000000);
  FPlayer->SetRepeatType(rtLoop);
  int loops = 0;
  int64_t last = 0;
  ASSERT_TRUE(WaitFor([&] {
    for (; !FPositions.empty(); FPositions.erase(FPositions.begin())) {
      if (FPositions.front() + 500000 < last)
        loops++;
      last = FPositions.front();
    }
    return loops >= 2;
  }));
  EXPECT_EQ(CountState(psEnd), 0);
  FPlayer->Stop(true);
  EXPECT_EQ(FPlayer->PlayTime(), NoPTS) << "reset with the file";
  EXPECT_EQ(FPlayer->RepeatType(), rtStop);
}

TEST_F(PlayerTest, SeekWithWaitingReturnsWithTheNewPictureAndASecondPendingSeekIsIgnored) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true));
  ASSERT_TRUE(WaitFor([&] { return FStates.size() >= 2; }));
  ASSERT_TRUE(FPlayer->Seek(int64_t(2000000), {}, true));
  int64_t pts = -1;
  EXPECT_FALSE(FPlayer->CurrentFrame(pts).isNull());
  EXPECT_EQ(pts, 2000000);
  ASSERT_TRUE(WaitFor([&] { return FPlayer->CurrentPTS() == 2000000; }))
      << "the paused screen shows the new place";

  // The read thread takes seeks only every few milliseconds; the second comes at once.
  ASSERT_TRUE(FPlayer->Seek(int64_t(1000000), {}, false));
  EXPECT_FALSE(FPlayer->Seek(int64_t(2500000), {}, false));
  ASSERT_TRUE(WaitFor([&] { return !FPlayer->Seeking() || FPlayer->Paused(); }));
  ASSERT_TRUE(WaitFor([&] {
    FPlayer->CurrentFrame(pts);
    return pts == 1000000;
  })) << pts;

  // Relative seeks move from the current place.
  ASSERT_TRUE(FPlayer->Seek(1.0, {}, true));
  FPlayer->CurrentFrame(pts);
  EXPECT_EQ(pts, 2000000);
}

TEST_F(PlayerTest, SnapshotsOfTheCurrentPicture) {
  const std::string folder = MakeTempFolder();
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true));
  ASSERT_TRUE(WaitFor([&] { return !FPlayer->CurrentFrame().isNull(); }));
  const QString base = SnapShotBaseName("/v/clip.avi");
  const QString dir = QString::fromStdString(folder);
  const struct {
    TPictureFormat Format;
    const char *Name;
  } shots[] = {{pfBMP, "clip_1.bmp"},
               {pfBMP, "clip_2.bmp"},
               {pfPNG, "clip_1.png"},
               {pfJPG, "clip_1.jpg"},
               {pfGIF, "clip_1.gif"}};
  for (const auto &s : shots) {
    QString error;
    const QString name = SaveSnapShot(FPlayer->CurrentFrame(), dir, base, s.Format, &error);
    EXPECT_EQ(name, dir + "/" + s.Name) << error.toStdString();
    EXPECT_EQ(ProbePictureSize(name.toStdString()), "640x360") << s.Name;
  }
  RemoveFolder(folder);
}

TEST_F(PlayerTest, FilesThatCannotBePlayedLeaveThePlayerUsable) {
  const struct {
    const char *Name;
    const char *Message;
  } cases[] = {{"no_such_file.mp4", "No such file or directory"},
               {"empty.mp4", ""},
               {"text.mp4", ""},
               {"random.avi", ""},
               {"truncated.mp4", ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_FALSE(FPlayer->Open(MediaPath(c.Name), FScreen.get(), true));
    EXPECT_FALSE(FPlayer->LastErrMsg().empty());
    EXPECT_NE(FPlayer->LastErrMsg().find(c.Message), std::string::npos) << FPlayer->LastErrMsg();
    EXPECT_TRUE(LogContains(FPlayer->LastErrMsg()));
    EXPECT_TRUE(FPlayer->Paused());
  }
  EXPECT_TRUE(FStates.empty());
  ASSERT_TRUE(FPlayer->Open(MediaPath("mpeg4_mp3_320x240.avi"), FScreen.get(), true));
  ASSERT_TRUE(WaitFor([&] { return !FScreen->Picture().isNull(); }));
}

TEST_F(PlayerTest, DamagedFilesPlayToTheEnd) {
  const std::string folder = MakeTempFolder();
  const std::string files[] = {MangledCopy(folder, "mpeg4_mp3_320x240.avi", 0.5, false),
                               MangledCopy(folder, "mpeg4_mp3_320x240.avi", 1.0, true),
                               MangledCopy(folder, "h264_aac_640x360.mp4", 1.0, true)};
  for (const std::string &f : files) {
    SCOPED_TRACE(f);
    FStates.clear();
    ASSERT_TRUE(FPlayer->Open(f, FScreen.get(), false)) << FPlayer->LastErrMsg();
    EXPECT_TRUE(WaitFor([&] { return CountState(psEnd) == 1; }));
    FPlayer->Stop(true);
  }
  RemoveFolder(folder);
}

TEST_F(PlayerTest, WithoutSoundDeviceThePictureStillShows) {
  const char *old = getenv("SDL_AUDIODRIVER");
  const std::string saved = old ? old : "";
  setenv("SDL_AUDIODRIVER", "no_such_driver", 1);
  const bool opened = FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), false);
  const bool soundOnly = FPlayer->Open(MediaPath("audio.wav"), FScreen.get(), false);
  const std::string soundOnlyError = FPlayer->LastErrMsg();
  const bool again = FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), false);
  setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
  EXPECT_TRUE(opened);
  EXPECT_FALSE(soundOnly);
  EXPECT_NE(soundOnlyError.find("could not open codecs, no stream to play."), std::string::npos)
      << soundOnlyError;
  ASSERT_TRUE(again) << FPlayer->LastErrMsg();
  EXPECT_EQ(FPlayer->AudioStreamIndex(), -1);
  EXPECT_TRUE(LogContains("Could not initialize SDL audio"));
  ASSERT_TRUE(WaitFor([&] { return CountState(psEnd) == 1; }));
  EXPECT_FALSE(FScreen->Picture().isNull());
}

TEST_F(PlayerTest, PictureWithoutSoundPlays) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("odd_321x241.avi"), FScreen.get(), false));
  EXPECT_EQ(FPlayer->AudioStreamIndex(), -1);
  EXPECT_EQ(FOpens.at(0).Width, 321);
  ASSERT_TRUE(WaitFor([&] { return CountState(psEnd) == 1; }));
  EXPECT_EQ(FPlayer->CurrentFrame().size(), QSize(321, 241));
}

TEST_F(PlayerTest, SwitchingStreams) {
  ASSERT_TRUE(FPlayer->Open(MediaPath("two_audio_sub.mkv"), FScreen.get(), true));
  EXPECT_EQ(FPlayer->VideoStreamIndex(), 0);
  const int audio = FPlayer->AudioStreamIndex();
  ASSERT_TRUE(audio == 1 || audio == 2);
  EXPECT_EQ(FPlayer->SubtitleStreamIndex(), 3);
  const struct {
    bool (TCustomPlayer::*Set)(int);
    int Value;
    const char *Error;
  } refused[] = {{&TCustomPlayer::SetAudioStreamIndex, 9, "the stream index is not valid."},
                 {&TCustomPlayer::SetAudioStreamIndex, -1, "the stream index is not valid."},
                 {&TCustomPlayer::SetVideoStreamIndex, 1, "the stream type is not matched."},
                 {&TCustomPlayer::SetSubtitleStreamIndex, 0, "the stream type is not matched."}};
  for (const auto &r : refused) {
    EXPECT_FALSE((FPlayer.get()->*r.Set)(r.Value)) << r.Value;
    EXPECT_EQ(FPlayer->LastErrMsg(), r.Error);
  }
  const int other = audio == 1 ? 2 : 1;
  EXPECT_TRUE(FPlayer->SetAudioStreamIndex(other)) << FPlayer->LastErrMsg();
  EXPECT_EQ(FPlayer->AudioStreamIndex(), other);
  EXPECT_TRUE(FPlayer->SetSubtitleStreamIndex(-1));
  EXPECT_EQ(FPlayer->SubtitleStreamIndex(), -1);
  EXPECT_TRUE(FPlayer->SetSubtitleStreamIndex(3)) << "subtitles come back on";
  EXPECT_EQ(FPlayer->SubtitleStreamIndex(), 3);
  FPlayer->Resume();
  ASSERT_TRUE(WaitFor([&] { return CountState(psEnd) == 1; }));
}

TEST_F(PlayerTest, HookSeesAndChangesEveryPicture) {
  int calls = 0;
  FPlayer->Tuning().framedrop = 0; // a slow machine would skip pictures, and the hook with them
  FPlayer->SetHook(true);
  FPlayer->SetOnHook([&](TCustomPlayer *, QImage &bitmap, int64_t) {
    calls++;
    if (calls == 1)
      throw std::runtime_error("boom");
    bitmap.fill(Qt::white);
  });
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), false));
  ASSERT_TRUE(WaitFor([&] { return CountState(psEnd) == 1; }));
  EXPECT_EQ(calls, 75);
  EXPECT_TRUE(LogContains("Error occurs OnHook: boom"));
  const QImage last = FPlayer->CurrentFrame();
  EXPECT_EQ(CountPixels(last, qRgb(255, 255, 255)), last.width() * last.height());
}

TEST_F(PlayerTest, StopFromTheStateHandlerReturns) {
  FPlayer->SetOnState([this](TCustomPlayer *p, TPlayState s) {
    FStates.push_back(s);
    if (s == psPause)
      p->Stop(true);
  });
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true));
  ASSERT_TRUE(WaitFor([&] { return CountState(psStop) == 1; }));
  EXPECT_TRUE(FPlayer->Paused());
  ASSERT_TRUE(FPlayer->Open(MediaPath("mpeg4_mp3_320x240.avi"), FScreen.get(), true));
  ASSERT_TRUE(WaitFor([&] { return CountState(psStop) == 2; }));
}

TEST_F(PlayerTest, OpeningAndStoppingAHundredTimesLeavesNoThread) {
  // Once first, so that threads the libraries keep for the process are there already.
  ASSERT_TRUE(FPlayer->Open(MediaPath("h264_aac_640x360.mp4"), FScreen.get(), true));
  FPlayer->Stop(true);
  const int threads = ThreadCount();
  for (int i = 0; i < 100; i++) {
    ASSERT_TRUE(FPlayer->Open(MediaPath(i % 2 ? "audio.wav" : "h264_aac_640x360.mp4"),
                              FScreen.get(), i % 3 == 0))
        << i << ": " << FPlayer->LastErrMsg();
    FPlayer->Stop(true);
  }
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_EQ(CountState(psStop), CountState(psPlay));
}
