#include "av_probe.h"
#include "probe_test_util.h"

#include <QImage>

#include <cstdlib>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

using AVProbeTest = ProbeTest;

TEST_F(AVProbeTest, TwoDecodesFromTheStart) {
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("h264_aac_640x360.mp4")));
  EXPECT_FALSE(probe.FrameInfo().Ready);
  ASSERT_TRUE(probe.Decode()) << probe.LastErrMsg();
  const TFrameInfo &fi = probe.FrameInfo();
  EXPECT_TRUE(fi.Ready);
  EXPECT_EQ(fi.PTS, 0);
  EXPECT_TRUE(fi.IsKeyFrame);
  EXPECT_EQ(fi.PictureType, ptI);
  EXPECT_EQ(fi.Width, 640);
  EXPECT_EQ(fi.Height, 360);
  EXPECT_EQ(fi.PixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(fi.StreamIndex, 0);
  EXPECT_EQ(fi.OriginalPTS, 0);
  EXPECT_GE(fi.Position, 0);
  EXPECT_EQ(fi.Size, 640 * 360 * 3 / 2);
  EXPECT_EQ(fi.Picture.data[0], fi.Buffer.data());
  ASSERT_TRUE(probe.Decode());
  EXPECT_EQ(probe.FrameInfo().PTS, 40000);
  EXPECT_FALSE(probe.FrameInfo().IsKeyFrame);
  EXPECT_EQ(probe.FrameInfo().PictureType, ptP);
  EXPECT_EQ(probe.FrameInfo().OriginalPTS, 512); // 40 ms in 1/12800
  // A copy of the record points into its own buffer.
  const TFrameInfo copy = probe.FrameInfo();
  EXPECT_EQ(copy.Picture.data[0], copy.Buffer.data());
  EXPECT_EQ(copy.Picture.data[1] - copy.Picture.data[0],
            probe.FrameInfo().Picture.data[1] - probe.FrameInfo().Picture.data[0]);
}

// Stepping back retraces the pictures decoded going forwards, on files of different rates,
// containers, start times and key frame intervals (the mkv has a single key frame).
TEST_F(AVProbeTest, StepsBackRetraceTheForwardPictures) {
  for (const char *name : {"h264_aac_640x360.mp4", "two_audio_sub.mkv", "mpeg4_mp3_320x240.avi"}) {
    SCOPED_TRACE(name);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(MediaPath(name)));
    std::vector<int64_t> seen;
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(probe.Decode()) << probe.LastErrMsg();
      seen.push_back(probe.FrameInfo().PTS);
    }
    EXPECT_EQ(seen[0], 0); // times count from the stream's start
    for (int i = 1; i <= 6; ++i) {
      ASSERT_TRUE(probe.DecodePreviousFrame()) << probe.LastErrMsg();
      EXPECT_EQ(probe.FrameInfo().PTS, seen[seen.size() - 1 - i]) << "step " << i;
    }
    // A backward seek lands on a key frame at or before the target.
    ASSERT_TRUE(probe.Seek(1000000, {sfBackward}));
    ASSERT_TRUE(probe.Decode());
    EXPECT_TRUE(probe.FrameInfo().IsKeyFrame);
    EXPECT_LE(probe.FrameInfo().PTS, 1000000);
    // A negative time goes back to the first picture.
    ASSERT_TRUE(probe.Seek(-5000000));
    ASSERT_TRUE(probe.Decode());
    EXPECT_EQ(probe.FrameInfo().PTS, 0);
    EXPECT_TRUE(probe.FrameInfo().IsKeyFrame);
  }
}

TEST_F(AVProbeTest, PreviousFrameFromOneSecondIsAt960000) {
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("h264_aac_640x360.mp4")));
  ASSERT_TRUE(probe.Seek(1000000));
  ASSERT_TRUE(probe.Decode());
  ASSERT_EQ(probe.FrameInfo().PTS, 1000000);
  ASSERT_TRUE(probe.DecodePreviousFrame()) << probe.LastErrMsg();
  EXPECT_EQ(probe.FrameInfo().PTS, 960000);
  EXPECT_FALSE(probe.FrameInfo().IsKeyFrame);
}

TEST_F(AVProbeTest, PreviousKeyFrameOfAFreshFileIsTheLastOne) {
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("h264_aac_640x360.mp4")));
  ASSERT_TRUE(probe.DecodePreviousKeyFrame()) << probe.LastErrMsg();
  EXPECT_EQ(probe.FrameInfo().PTS, 2000000);
  EXPECT_TRUE(probe.FrameInfo().IsKeyFrame);
}

TEST_F(AVProbeTest, PreviousKeyFrameFromInsideAGroup) {
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("h264_aac_640x360.mp4")));
  ASSERT_TRUE(probe.Seek(2000000));
  for (int i = 0; i < 13; ++i)
    ASSERT_TRUE(probe.Decode());
  ASSERT_EQ(probe.FrameInfo().PTS, 2480000);
  ASSERT_TRUE(probe.DecodePreviousKeyFrame());
  EXPECT_EQ(probe.FrameInfo().PTS, 2000000);
  ASSERT_TRUE(probe.DecodePreviousKeyFrame());
  EXPECT_EQ(probe.FrameInfo().PTS, 1000000);
  ASSERT_TRUE(probe.DecodeNextKeyFrame());
  EXPECT_EQ(probe.FrameInfo().PTS, 2000000);
  EXPECT_FALSE(probe.DecodeNextKeyFrame());
}

TEST_F(AVProbeTest, DecodingToTheEndLosesNoPicture) {
  const struct {
    const char *Name;
    int Pictures;
  } cases[] = {{"h264_aac_640x360.mp4", 75}, {"mpeg4_mp3_320x240.avi", 90}};
  for (const auto &c : cases) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(MediaPath(c.Name)));
    int n = 0;
    int64_t last = -1;
    while (probe.Decode()) {
      EXPECT_GT(probe.FrameInfo().PTS, last) << c.Name;
      last = probe.FrameInfo().PTS;
      ++n;
    }
    EXPECT_EQ(n, c.Pictures) << c.Name;
    EXPECT_TRUE(probe.Eof());
    EXPECT_EQ(probe.LastErrMsg(), "stream eof reached.");
    EXPECT_TRUE(Logged(&probe, llInfo, "stream eof reached."));
    EXPECT_FALSE(probe.Decode());
    // A seek clears the end.
    ASSERT_TRUE(probe.Seek(1000000, {sfBackward})) << probe.LastErrMsg();
    EXPECT_FALSE(probe.Eof());
    ASSERT_TRUE(probe.Decode());
    EXPECT_GT(probe.FrameInfo().PTS, 0);
    EXPECT_LE(probe.FrameInfo().PTS, 1000000);
    ASSERT_TRUE(probe.Seek(0));
    ASSERT_TRUE(probe.Decode());
    EXPECT_EQ(probe.FrameInfo().PTS, 0);
  }
}

TEST_F(AVProbeTest, SeekByBytes) {
  TAVProbe probe;
  // The mp4 reader cannot seek by bytes.
  ASSERT_TRUE(probe.LoadFile(MediaPath("h264_aac_640x360.mp4")));
  EXPECT_FALSE(probe.Seek(1000, {sfByte}));
  EXPECT_EQ(probe.LastErrMsg(), "could not seek to position 1000 bytes");
  EXPECT_TRUE(Logged(&probe, llError, "could not seek to position 1000 bytes"));
  // The transport stream reader can.
  ASSERT_TRUE(probe.LoadFile(ProbeMedia("programs.ts")));
  ASSERT_TRUE(probe.Decode());
  ASSERT_TRUE(probe.Decode());
  EXPECT_GT(probe.Position(), 0);
  ASSERT_TRUE(probe.Seek(0, {sfByte}));
  ASSERT_TRUE(probe.Decode());
  EXPECT_EQ(probe.FrameInfo().PTS, 0);
}

TEST_F(AVProbeTest, StillImagesDecodeOnce) {
  for (const char *format : {"", "image2"}) {
    SCOPED_TRACE(format);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(ProbeMedia("still.png"), format)) << probe.LastErrMsg();
    ASSERT_TRUE(probe.Decode());
    const uint8_t *first = probe.FrameInfo().Picture.data[0];
    EXPECT_EQ(probe.FrameInfo().Width, 64);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(probe.Decode());
      EXPECT_EQ(probe.FrameInfo().Picture.data[0], first);
    }
    EXPECT_FALSE(probe.Seek(0));
    EXPECT_EQ(probe.LastErrMsg(), "\"image2\" format cannot to be seeked.");
    EXPECT_TRUE(Logged(&probe, llInfo, "\"image2\" format cannot to be seeked."));
    EXPECT_TRUE(probe.DecodePreviousFrame());
    EXPECT_TRUE(probe.FrameInfo().Ready);
  }
}

TEST_F(AVProbeTest, RefusalsWithTheirTexts) {
  TAVProbe probe;
  EXPECT_FALSE(probe.Decode());
  EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
  EXPECT_EQ(probe.Position(), -1);
  EXPECT_FALSE(probe.Seek(0));

  QImage bitmap;
  ASSERT_TRUE(probe.LoadFile(MediaPath("h264_aac_640x360.mp4")));
  ClearLines();
  EXPECT_FALSE(probe.CopyToBitmap(bitmap));
  EXPECT_EQ(probe.LastErrMsg(), "picture not ready, please decode first");
  EXPECT_TRUE(Logged(&probe, llError, "picture not ready, please decode first"));

  const struct {
    const char *File;
    int Stream;
    const char *Msg;
  } cases[] = {{"h264_aac_640x360.mp4", 1, "stream #1 is not video stream."},
               {"h264_aac_640x360.mp4", 7, "stream index #7 is invalid."},
               {"audio.wav", -1, "no video stream."}};
  for (const auto &c : cases) {
    ASSERT_TRUE(probe.LoadFile(MediaPath(c.File)));
    for (int op = 0; op < 4; ++op) {
      bool ok = op == 0   ? probe.Decode(c.Stream)
                : op == 1 ? probe.DecodeNextKeyFrame(c.Stream)
                : op == 2 ? probe.DecodePreviousFrame(c.Stream)
                          : probe.DecodePreviousKeyFrame(c.Stream);
      EXPECT_FALSE(ok);
      EXPECT_EQ(probe.LastErrMsg().substr(probe.LastErrMsg().size() - std::strlen(c.Msg)), c.Msg)
          << op;
      EXPECT_TRUE(Logged(&probe, llError, c.Msg));
    }
  }
}

TEST_F(AVProbeTest, CopyToBitmapMatchesTheToolsConversion) {
  const struct {
    const char *Name;
    int Width, Height;
  } cases[] = {{"h264_aac_640x360.mp4", 640, 360}, {"odd_321x241.avi", 321, 241}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = MediaPath(c.Name);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path));
    ASSERT_TRUE(probe.Decode());
    QImage bitmap;
    ASSERT_TRUE(probe.CopyToBitmap(bitmap));
    ASSERT_EQ(bitmap.width(), c.Width);
    ASSERT_EQ(bitmap.height(), c.Height);
    EXPECT_EQ(bitmap.format(), QImage::Format_RGB888);
    const std::string rgb =
        CommandOutput("ffmpeg -nostdin -v error -i " + ShellQuote(path) +
                      " -frames:v 1 -sws_flags bicubic -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(rgb.size(), static_cast<size_t>(c.Width) * c.Height * 3);
    int64_t sum = 0;
    int worst = 0;
    for (int y = 0; y < c.Height; ++y) {
      const uint8_t *row = bitmap.constScanLine(y);
      for (int x = 0; x < c.Width * 3; ++x) {
        const int d =
            std::abs(row[x] - static_cast<uint8_t>(rgb[static_cast<size_t>(y) * c.Width * 3 + x]));
        sum += d;
        worst = std::max(worst, d);
      }
    }
    EXPECT_LE(worst, 8);
    EXPECT_LT(static_cast<double>(sum) / rgb.size(), 1.0);
    // The copy stays as it was when the prober converts the next picture.
    const QImage kept = bitmap;
    const QImage snapshot = bitmap.copy();
    ASSERT_TRUE(probe.Decode());
    QImage next;
    ASSERT_TRUE(probe.CopyToBitmap(next));
    EXPECT_EQ(kept, snapshot);
  }
}

} // namespace
