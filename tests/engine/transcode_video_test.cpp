// The video output path: frame-rate sync, the custom hook, previews, size changes, deinterlacing,
// the statistics file, whole re-encodes and the disc targets against the ffmpeg tool.
#include "transcode_test_util.h"

#include <QColor>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

class TranscodeVideoTest : public TranscodeTest {
protected:
  // Converts AInput into AOutput with the options, after ASetup, on the calling thread.
  std::unique_ptr<TCustomFFmpeg> Run(const std::string &AInput, const std::string &AOutput,
                                     const TOptions &AOptions,
                                     const std::function<void(TCustomFFmpeg &)> &ASetup = {}) {
    auto task = NewTask();
    EXPECT_TRUE(task->OpenInputFile(MediaPath(AInput))) << task->FLastErrMsg;
    for (const auto &[name, value] : AOptions)
      task->ParseOption(name, value);
    EXPECT_GE(task->OpenOutputFile(AOutput, false), 1) << task->FLastErrMsg;
    if (ASetup)
      ASetup(*task);
    task->StartConvert(false, tpNormal);
    return task;
  }
  int CountLogged(const std::string &APart) {
    std::lock_guard<std::mutex> lock(FLock);
    int n = 0;
    for (const auto &l : FLines)
      n += l.Msg.find(APart) != std::string::npos;
    return n;
  }
};

std::vector<TProbedPacket> VideoPackets(const std::string &AFile) {
  std::vector<TProbedPacket> out;
  for (const TProbedPacket &p : ProbePackets(AFile))
    if (p.Stream == 0)
      out.push_back(p);
  return out;
}

// Mean luma of the file's first picture.
double FirstPictureLuma(const std::string &AFile) {
  const std::string raw = CommandOutput("ffmpeg -nostdin -v error -i " + ShellQuote(AFile) +
                                        " -frames:v 1 -f rawvideo -pix_fmt gray -");
  double sum = 0;
  for (unsigned char c : raw)
    sum += c;
  return raw.empty() ? -1 : sum / static_cast<double>(raw.size());
}

const TOptions SmallMPEG4 = {{"an", ""}, {"vcodec", "mpeg4"}, {"s", "160x90"}, {"r", "25"}};

TEST_F(TranscodeVideoTest, FrameRateSyncWritesDuplicatesOnlyForConstantRateFormats) {
  // gap_160x120.mkv: 25 frames a second with frames 10 to 12 missing, their times kept.
  const struct {
    const char *Input, *Output, *VSync;
    int Frames, Dups;
  } cases[] = {
      // One frame per input frame.
      {"h264_aac_640x360.mp4", "cfr.avi", "-1", 75, 0},
      // The frame after the gap fills it: written 3 times.
      {"gap_160x120.mkv", "gap.avi", "1", 24, 2},
      // A format of variable rate keeps the gap instead.
      {"gap_160x120.mkv", "gap.mkv", "-1", 22, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Output);
    TOptions options = SmallMPEG4;
    options.emplace_back("vsync", c.VSync);
    auto task = Run(c.Input, Out(c.Output), options);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    const auto packets = VideoPackets(Out(c.Output));
    EXPECT_EQ(static_cast<int>(packets.size()), c.Frames);
    EXPECT_EQ(task->Fnb_frames_dup, c.Dups);
    EXPECT_EQ(task->Fnb_frames_drop, 0);
    if (std::string(c.Output) == "gap.mkv" && packets.size() > 10) {
      EXPECT_EQ(packets[10].Pts, "520"); // the frame after the gap keeps its time (ms)
    }
  }
}

TEST_F(TranscodeVideoTest, StopEndsTheCopiesOfADuplicatedPicture) {
  // The 11th picture of gap_160x120.mkv fills a gap of 3 frames; a stop during its first copy
  // leaves out the other two.
  int bitmaps = 0;
  TOptions options = SmallMPEG4;
  options.emplace_back("vsync", "1");
  auto task = Run("gap_160x120.mkv", Out("stopped.avi"), options, [&](TCustomFFmpeg &ATask) {
    ATask.PreviewInterval = 0;
    ATask.OnPreviewBitmap = [&](TCustomFFmpeg *ASender, const QImage &, int AFrame, int64_t) {
      ++bitmaps;
      if (AFrame == 11)
        ASender->Stop(false);
    };
    ATask.SetPostHooks(TCustomFFmpeg::phBitmap);
  });
  EXPECT_FALSE(task->Finished());
  EXPECT_FALSE(task->FatalException()) << task->FatalMessage();
  EXPECT_EQ(bitmaps, 11);
  EXPECT_EQ(VideoPackets(Out("stopped.avi")).size(), 11u);
}

TEST_F(TranscodeVideoTest, CustomHookThatStopsOnTheFirstFrameKeepsEveryFrame) {
  int calls = 0;
  auto task = Run("h264_aac_640x360.mp4", Out("hook.avi"), SmallMPEG4, [&](TCustomFFmpeg &ATask) {
    ATask.OnCustomHook = [&](TCustomFFmpeg *, QImage &, int, int64_t, bool &, bool &AStop) {
      ++calls;
      AStop = true;
    };
  });
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(task->OnCustomHook);
  EXPECT_EQ(VideoPackets(Out("hook.avi")).size(), 75u);
}

TEST_F(TranscodeVideoTest, CustomHookDrawsOnThePicturesItReceives) {
  std::vector<int> frames;
  std::vector<int64_t> times;
  QSize size;
  auto task = Run("h264_aac_640x360.mp4", Out("white.avi"), SmallMPEG4, [&](TCustomFFmpeg &ATask) {
    ATask.OnCustomHook = [&](TCustomFFmpeg *, QImage &ABitmap, int AFrame, int64_t APts,
                             bool &AUpdate, bool &) {
      frames.push_back(AFrame);
      times.push_back(APts);
      size = ABitmap.size();
      ABitmap.fill(QColor(255, 255, 255));
      AUpdate = true;
    };
  });
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  ASSERT_EQ(frames.size(), 75u);
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(frames[i], static_cast<int>(i) + 1);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  EXPECT_NEAR(static_cast<double>(times.back() - times.front()), 74 * 40000.0, 1000);
  // The hook sees the decoded picture; the encoder gets what it drew.
  EXPECT_EQ(size, QSize(640, 360));
  EXPECT_GT(FirstPictureLuma(Out("white.avi")), 230);
  EXPECT_LT(FirstPictureLuma(MediaPath("h264_aac_640x360.mp4")), 200);
}

// A hook module's entry points, as a loaded module would give them: Process blackens the luma.
struct THookRecord {
  int Calls = 0, Released = 0;
  int64_t LastPts = -1;
  bool Geometry = true;
};
extern "C" void BlackenLuma(void *ACtx, TFrameHookPicture *APicture, int APixFmt, int AWidth,
                            int AHeight, int64_t APts) {
  auto *record = static_cast<THookRecord *>(ACtx);
  ++record->Calls;
  record->Geometry = record->Geometry && APixFmt == AV_PIX_FMT_YUV420P && AWidth == 640 &&
                     AHeight == 360 && APts > record->LastPts;
  record->LastPts = APts;
  for (int y = 0; y < AHeight; ++y)
    std::memset(APicture->data[0] + static_cast<ptrdiff_t>(y) * APicture->linesize[0], 16,
                static_cast<size_t>(AWidth));
}
extern "C" void CountRelease(void *ACtx) {
  ++static_cast<THookRecord *>(ACtx)->Released;
}

TEST_F(TranscodeVideoTest, FrameHooksRunOnlyWithoutACustomHook) {
  for (const bool custom : {false, true}) {
    SCOPED_TRACE(custom ? "custom hook" : "frame hooks");
    THookRecord record;
    int customCalls = 0;
    const std::string out = Out(custom ? "custom.avi" : "chain.avi");
    auto task = Run("h264_aac_640x360.mp4", out, SmallMPEG4, [&](TCustomFFmpeg &ATask) {
      ATask.FFirstHook = new TFrameHookEntry{nullptr, nullptr, BlackenLuma, CountRelease, &record};
      ATask.Fusing_vhook = true;
      if (custom)
        ATask.OnCustomHook = [&](TCustomFFmpeg *, QImage &, int, int64_t, bool &AUpdate, bool &) {
          ++customCalls;
          AUpdate = false;
        };
    });
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    EXPECT_EQ(record.Released, 1); // the chain goes with the files
    if (custom) {
      EXPECT_EQ(customCalls, 75);
      EXPECT_EQ(record.Calls, 0);
      EXPECT_GT(FirstPictureLuma(out), 60);
    } else {
      EXPECT_EQ(record.Calls, 75);
      EXPECT_TRUE(record.Geometry);
      EXPECT_LT(FirstPictureLuma(out), 20);
    }
  }
}

// A preview window that the user closes after AOpenFor pictures.
class TFakePreviewer : public TPreviewerBase {
public:
  struct TRecord {
    std::atomic<int> Created{0}, Painted{0}, Destroyed{0};
    QSize Size;
    int OpenFor = 1000;
  };
  explicit TFakePreviewer(TRecord &ARecord) : FRecord(ARecord) { ++FRecord.Created; }
  ~TFakePreviewer() override { ++FRecord.Destroyed; }
  bool PaintFrame(const QImage &ABitmap, int, int64_t) override {
    FRecord.Size = ABitmap.size();
    return ++FRecord.Painted < FRecord.OpenFor;
  }

private:
  TRecord &FRecord;
};

TEST_F(TranscodeVideoTest, PreviewsStopWhenTheWindowIsClosed) {
  const struct {
    const char *Name;
    TCustomFFmpeg::TPostHooks Hooks;
    bool BitmapHandler;
    int64_t Interval;
    int OpenFor, Created, Painted, Bitmaps;
  } cases[] = {
      // Closed after the third picture: no more pictures, the window object goes at once.
      {"closed", TCustomFFmpeg::phPreview, false, 0, 3, 1, 3, 0},
      // An interval longer than the run: the first picture only.
      {"interval", TCustomFFmpeg::phPreview, false, 3600000000LL, 1000, 1, 1, 0},
      // The bitmap event takes the pictures in place of the window.
      {"bitmap", TCustomFFmpeg::phPreview | TCustomFFmpeg::phBitmap, true, 0, 1000, 0, 0, 75},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TFakePreviewer::TRecord record;
    record.OpenFor = c.OpenFor;
    int bitmaps = 0;
    QSize bitmapSize;
    auto task = Run(
        "h264_aac_640x360.mp4", Out(std::string(c.Name) + ".avi"), SmallMPEG4,
        [&](TCustomFFmpeg &ATask) {
          ATask.PreviewInterval = c.Interval;
          ATask.PreviewerFactory = [&record] { return std::make_unique<TFakePreviewer>(record); };
          if (c.BitmapHandler)
            ATask.OnPreviewBitmap = [&](TCustomFFmpeg *, const QImage &ABitmap, int, int64_t) {
              ++bitmaps;
              bitmapSize = ABitmap.size();
            };
          ATask.SetPostHooks(c.Hooks);
        });
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    EXPECT_EQ(record.Created, c.Created);
    EXPECT_EQ(record.Painted, c.Painted);
    EXPECT_EQ(bitmaps, c.Bitmaps);
    // Previews show the encoder's picture.
    if (c.Painted > 0) {
      EXPECT_EQ(record.Size, QSize(160, 90));
    }
    if (c.Bitmaps > 0) {
      EXPECT_EQ(bitmapSize, QSize(160, 90));
    }
    if (c.OpenFor == 3) {
      EXPECT_EQ(task->PostHooks() & TCustomFFmpeg::phPreview, 0u);
      EXPECT_EQ(record.Destroyed, 1);
    }
    EXPECT_EQ(VideoPackets(Out(std::string(c.Name) + ".avi")).size(), 75u);
    task.reset();
    EXPECT_EQ(record.Destroyed, record.Created);
  }
}

TEST_F(TranscodeVideoTest, PicturesThatChangeSizeAreRescaledWhenTheStreamConverts) {
  // size_change.mkv: 25 pictures of 320x240, then 25 of 160x120.
  const struct {
    const char *Output;
    TOptions Options;
  } cases[] = {
      {"scaled.avi", {{"vcodec", "mpeg4"}, {"s", "176x144"}}},
      {"cropped.avi", {{"vcodec", "mpeg4"}, {"s", "176x144"}, {"croptop", "40"}}},
      {"filtered.avi", {{"vcodec", "mpeg4"}, {"s", "176x144"}, {"vf", "hflip"}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Output);
    auto task = Run("size_change.mkv", Out(c.Output), c.Options);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    EXPECT_TRUE(LoggedContaining("Input Stream #0.0 frame size changed to 160x120, yuv420p"));
    EXPECT_EQ(VideoPackets(Out(c.Output)).size(), 50u);
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(Out(c.Output), &errors)) << errors;
  }
  // Pictures of the output's size and format need no conversion, so none is set up: the run
  // cannot go on.
  auto task = Run("size_change.mkv", Out("same.avi"), {{"vcodec", "mpeg4"}, {"s", "320x240"}});
  EXPECT_FALSE(task->Finished());
  EXPECT_EQ(task->FatalMessage(), "Input Stream #0.0 frame size changed to 160x120, yuv420p");
}

TEST_F(TranscodeVideoTest, DeinterlacingKeepsEveryPicture) {
  TOptions options = SmallMPEG4;
  options.emplace_back("deinterlace", "");
  auto task = Run("h264_aac_640x360.mp4", Out("deint.avi"), options);
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  // The deinterlacer looks one picture ahead; the last comes out at the end of the stream.
  EXPECT_EQ(VideoPackets(Out("deint.avi")).size(), 75u);
  EXPECT_EQ(task->Fnb_frames_dup + task->Fnb_frames_drop, 0);
}

TEST_F(TranscodeVideoTest, StatisticsFileHasALinePerEncodedPicture) {
  const std::string stats = Out("vstats.log");
  TOptions options = SmallMPEG4;
  options.emplace_back("vstats_file", stats);
  auto task = Run("h264_aac_640x360.mp4", Out("stats.avi"), options);
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  std::ifstream in(stats);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 75u);
  const std::regex form(R"(frame= +\d+ q= \d+\.\d f_size= +\d+ s_size= +\d+kB time= \d+\.\d{3} )"
                        R"(br= +\d+\.\dkbits/s avg_br= +\d+\.\dkbits/s type= [IPB])");
  for (const std::string &line : lines)
    EXPECT_TRUE(std::regex_match(line, form)) << line;
  EXPECT_EQ(lines.front().substr(0, 12), "frame=     1");
  EXPECT_NE(lines.front().find("type= I"), std::string::npos);
  EXPECT_EQ(lines.back().substr(0, 12), "frame=    75");
}

TEST_F(TranscodeVideoTest, FullReencodesGiveWhatWasAskedFor) {
  const struct {
    const char *Output;
    TOptions Options;
    int Width, Height;
    double Rate;
    int SampleRate, Channels;
  } cases[] = {
      {"mpeg4_mp3.avi",
       {{"vcodec", "mpeg4"},
        {"acodec", "libmp3lame"},
        {"s", "320x240"},
        {"r", "25"},
        {"ar", "44100"},
        {"ac", "2"}},
       320,
       240,
       25,
       44100,
       2},
      {"x264_aac.mp4",
       {{"vcodec", "libx264"},
        {"acodec", "aac"},
        {"s", "320x180"},
        {"r", "30"},
        {"ar", "48000"},
        {"ac", "1"}},
       320,
       180,
       30,
       48000,
       1},
      {"mpeg2_mp2.mpg",
       {{"vcodec", "mpeg2video"},
        {"acodec", "mp2"},
        {"s", "352x288"},
        {"r", "25"},
        {"ar", "44100"},
        {"ac", "2"}},
       352,
       288,
       25,
       44100,
       2},
  };
  const double inputDuration = ProbeDuration(MediaPath("h264_aac_640x360.mp4"));
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Output);
    auto task = Run("h264_aac_640x360.mp4", Out(c.Output), c.Options);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    const auto streams = ProbeStreams(Out(c.Output));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].Width, c.Width);
    EXPECT_EQ(streams[0].Height, c.Height);
    EXPECT_NEAR(streams[0].FrameRate, c.Rate, 0.01);
    EXPECT_EQ(streams[1].SampleRate, c.SampleRate);
    EXPECT_EQ(streams[1].Channels, c.Channels);
    EXPECT_NEAR(ProbeDuration(Out(c.Output)), inputDuration, 0.2);
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(Out(c.Output), &errors)) << errors;
  }
}

std::string FileMD5(const std::string &AFile) {
  const std::string out = CommandOutput("md5sum " + ShellQuote(AFile));
  return out.substr(0, out.find(' '));
}

TEST_F(TranscodeVideoTest, DiscTargetsMatchTheToolByteForByte) {
  const std::string input = MediaPath("h264_aac_640x360.mp4");
  for (const char *kind : {"vcd", "svcd", "dvd"}) {
    SCOPED_TRACE(kind);
    const std::string ours = Out(std::string("ours_") + kind + ".mpg");
    const std::string tool = Out(std::string("tool_") + kind + ".mpg");
    // Both with one codec thread (the transcoder's only setting).
    auto task = Run("h264_aac_640x360.mp4", ours,
                    {{"target", std::string("pal-") + kind},
                     {"aspect", "16:9"},
                     {"fflags", "+bitexact"},
                     {"flags", "+bitexact"}});
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    int status = -1;
    CommandOutput("ffmpeg -nostdin -v error -y -i " + ShellQuote(input) + " -target pal-" + kind +
                      " -aspect 16:9 -fflags +bitexact -flags:v +bitexact -flags:a +bitexact "
                      "-threads 1 " +
                      ShellQuote(tool),
                  &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(FileMD5(ours), FileMD5(tool));
  }
}

} // namespace
