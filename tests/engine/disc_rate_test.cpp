// A chosen video bit rate against the fixed rate of a disc target, and the frame rates an encoder
// only takes from its own list.
#include "transcode_test_util.h"

#include "option_records.h"

namespace {

class DiscRateTest : public TranscodeTest {};

TEST_F(DiscRateTest, ChosenVideoRateIsBroughtIntoTheFixedRangeOfTheTarget) {
  const struct {
    TOptionTargetType Target;
    int Chosen;
    int64_t Expected;
    bool Announced;
  } cases[] = {
      // The VCD target fixes 1150000 as both minimum and maximum.
      {ttVCD, 528000, 1150000, true},
      {ttVCD, 2000000, 1150000, true},
      {ttVCD, 1150000, 1150000, false},
      // The other targets set no minimum: the chosen rate stands.
      {ttSVCD, 528000, 528000, false},
      {ttDVD, 816000, 816000, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.Target) + " " + std::to_string(c.Chosen));
    {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.clear();
    }
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath("h264_aac_640x360.mp4"))) << task->FLastErrMsg;
    // As the window builds the record of a disc profile with a choice from its list.
    TOutputOptions o;
    InitOutputOptions(o);
    o.TargetType = c.Target;
    o.NormType = ntPAL;
    o.VideoBitrate = c.Chosen;
    o.AudioVolume = 256;
    TDefaultsList defaults;
    const std::string out =
        Out("disc_" + std::to_string(c.Target) + "_" + std::to_string(c.Chosen) + ".mpg");
    PrepareOutput(*task, o, defaults, out);
    ASSERT_GE(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    const TOutputStreamSetup *video = task->OutputStreamSetup(0, 0);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->codec->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(video->codec->bit_rate, c.Expected);
    const std::string note = "Video bit rate " + std::to_string(c.Chosen) +
                             " is outside the vcd target's range 1150000-1150000, using 1150000";
    EXPECT_EQ(Logged(llInfo, note), c.Announced);
    if (c.Target == ttVCD && c.Announced) {
      // The encoder refused to open with the chosen rate; now the whole file converts.
      task->StartConvert(false, tpNormal);
      EXPECT_TRUE(task->Finished()) << task->FatalMessage();
      std::string errors;
      EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
    }
  }
}

TEST_F(DiscRateTest, FrameRateOutsideTheEncodersListTakesTheNearestAndSaysSo) {
  const struct {
    const char *Codec;
    const char *Rate;
    const char *Output;
    const char *Note; // nullptr: the rate is taken as it is
    AVRational Expected;
  } cases[] = {
      {"mpeg2video",
       "29.97",
       "a.mpg",
       "Frame rate 2997/100 unsupported by mpeg2video, using closest supported (30000/1001)",
       {30000, 1001}},
      {"mpeg1video", "25", "b.mpg", nullptr, {25, 1}},
      {"mpeg4", "29.97", "c.avi", nullptr, {2997, 100}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Output);
    {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.clear();
    }
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath("h264_aac_640x360.mp4"))) << task->FLastErrMsg;
    task->ParseOption("vcodec", c.Codec);
    task->ParseOption("r", c.Rate);
    ASSERT_GE(task->OpenOutputFile(Out(c.Output), false), 1) << task->FLastErrMsg;
    const TOutputStreamSetup *video = task->OutputStreamSetup(0, 0);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(av_cmp_q(video->codec->framerate, c.Expected), 0)
        << video->codec->framerate.num << "/" << video->codec->framerate.den;
    if (c.Note != nullptr)
      EXPECT_TRUE(Logged(llWarning, c.Note));
    else
      EXPECT_FALSE(LoggedContaining("unsupported by"));
  }
}

} // namespace
