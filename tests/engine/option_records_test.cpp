// Per-file option records: defaults, text forms, and how they become transcoder settings.
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"
#include "option_records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

class RecordTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
    FTask.Reinitialize();
  }
  TCustomFFmpeg FTask;
};

// Sets TZ for one scope.
class TZone {
public:
  explicit TZone(const char *AZone) {
    const char *old = std::getenv("TZ");
    FHad = old != nullptr;
    if (FHad)
      FOld = old;
    setenv("TZ", AZone, 1);
    tzset();
  }
  ~TZone() {
    if (FHad)
      setenv("TZ", FOld.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  bool FHad;
  std::string FOld;
};

TEST(OptionRecords, Defaults) {
  TOutputOptions o;
  o.AudioSyncMethod = 5;
  o.VideoSyncMethod = 5;
  o.Info.Year = 2000;
  InitOutputOptions(o);
  EXPECT_EQ(o.AudioSyncMethod, 0);
  EXPECT_EQ(o.VideoSyncMethod, -1);
  EXPECT_EQ(o.TimeStart, AV_NOPTS_VALUE);
  EXPECT_EQ(o.TimeLength, AV_NOPTS_VALUE);
  EXPECT_EQ(o.Info.TimeStamp, -1.0);
  EXPECT_EQ(o.Info.Year, -1);
  EXPECT_EQ(o.TargetType, ttIgnore);
  EXPECT_EQ(o.NormType, ntAuto);
  EXPECT_EQ(o.NormDefault, ntPAL);
  EXPECT_EQ(o.MuxDelay, -1.0f);
  TInputOptions i;
  i.ProgramID = 3;
  InitInputOptions(i);
  EXPECT_EQ(i.ProgramID, -1);
  EXPECT_EQ(i.TimeStart, AV_NOPTS_VALUE);
}

TEST(OptionRecords, TextForms) {
  const TOutputOptions o = OutputOptionsFromText(
      "Join=0\r\nhook=anything\r\nTimeStart=abc\r\ntimelength=5000000\r\nVCodec=mpeg4\r\nvn");
  EXPECT_TRUE(o.Join);
  EXPECT_TRUE(o.CustomHook);
  EXPECT_EQ(o.TimeStart, AV_NOPTS_VALUE);
  EXPECT_EQ(o.TimeLength, 5000000);
  EXPECT_EQ(o.ExtOptions, "VCodec=mpeg4\nvn=\n");
  EXPECT_FALSE(OutputOptionsFromText("a=1").Join);

  const TInputOptions i = InputOptionsFromText("TIMESTART=1500000<CRLF>f=avi<CRLF>CustomHook=1");
  EXPECT_EQ(i.TimeStart, 1500000);
  EXPECT_EQ(i.ExtOptions, "f=avi\nCustomHook=1\n");
  EXPECT_EQ(InputOptionsFromText("TimeStart=1.5").TimeStart, AV_NOPTS_VALUE);
}

TEST(OptionRecords, DefaultsListComparesNamesWithoutCase) {
  TDefaultsList d;
  d.SetValue("def_vcodec", "mpeg4");
  EXPECT_EQ(d.Value("DEF_VCODEC"), "mpeg4");
  d.SetValue("Def_VCodec", "libx264");
  EXPECT_EQ(d.Value("def_vcodec"), "libx264");
  d.SetValue("def_vcodec", "");
  EXPECT_EQ(d.Value("def_vcodec"), "");
  EXPECT_TRUE(d.Lines().empty());
  d.AddPending("vcodec", "a");
  d.AddPending("vcodec", "b");
  std::string v;
  EXPECT_FALSE(d.TakeLine("VCODEC", v)); // pending lines match exactly
  ASSERT_TRUE(d.TakeLine("vcodec", v));
  EXPECT_EQ(v, "a");
  ASSERT_TRUE(d.TakeLine("vcodec", v));
  EXPECT_EQ(v, "b");
  EXPECT_FALSE(d.TakeLine("vcodec", v));
}

TEST_F(RecordTest, InputRecordApplies) {
  TInputOptions i;
  i.ExtOptions = "ACODEC=mp3\nvn=1\nvpre=default\nnewvideo=\ns=320x240\n";
  i.FileFormat = "avi";
  i.TimeStart = 2000000;
  i.ProgramID = 4;
  ApplyInputOptions(FTask, i, "in.avi");
  EXPECT_EQ(i.FileName, "in.avi");
  // The codec and size lines force the decoder and the raw size on the input side.
  EXPECT_EQ(FTask.Faudio_codec_name, "mp3");
  EXPECT_EQ(FTask.Fframe_width, 320);
  EXPECT_TRUE(FTask.Fvideo_disable);
  EXPECT_EQ(FTask.Flast_asked_format, "avi");
  EXPECT_EQ(FTask.Fstart_time, 2000000);
  EXPECT_EQ(FTask.Fopt_programid, 4);

  TInputOptions unset;
  unset.FileName = "kept";
  ApplyInputOptions(FTask, unset, "other");
  EXPECT_EQ(unset.FileName, "kept");
  EXPECT_EQ(FTask.Fstart_time, 2000000);
  EXPECT_EQ(FTask.Fopt_programid, 4);
}

TEST_F(RecordTest, OutputRecordAppliesInTableOrder) {
  FTask.ParseOption("alang", "eng");
  FTask.ParseOption("vol", "300");
  TOutputOptions o;
  o.FileFormat = "mp4";
  o.AudioBitrate = 64000;
  o.VideoBitrate = -1000;
  o.VideoMaxRate = 2000000;
  o.GroupPictureSize = 12;
  o.AudioVolume = -1;
  o.AudioChannels = -1;
  o.AudioSampleRate = 22050;
  o.VideoSyncMethod = 2;
  o.AudioTag = "mp4a";
  o.FrameRate = "30000/1001";
  o.FrameAspectRatio = "4:3";
  o.DisableSubtitle = true;
  o.SubtitleLanguage = "chi";
  o.InputSync = true;
  o.CopyTimestamp = true;
  o.TimeLength = 10000000;
  o.MuxPreload = 0.25f;
  o.Info.Year = 2010;
  o.Info.Track = 0;
  o.Info.Title = "T";
  o.Info.Genre = "G";
  ApplyOutputRecord(FTask, o);
  EXPECT_EQ(FTask.Flast_asked_format, "mp4");
  EXPECT_EQ(FTask.FOptions->avcodec_opts[1]->bit_rate, 64000);
  EXPECT_NE(FTask.FOptions->avcodec_opts[0]->bit_rate, -1000);
  EXPECT_EQ(FTask.FOptions->avcodec_opts[0]->rc_max_rate, 2000000);
  EXPECT_EQ(FTask.FOptions->avcodec_opts[0]->gop_size, 12);
  EXPECT_EQ(FTask.Faudio_volume, 300);
  EXPECT_EQ(FTask.Faudio_channels, 2);
  EXPECT_EQ(FTask.Faudio_sample_rate, 22050);
  EXPECT_EQ(FTask.Faudio_language, ""); // always applied: empty clears
  EXPECT_EQ(FTask.Faudio_sync_method, 0);
  EXPECT_EQ(FTask.Fvideo_sync_method, 2);
  EXPECT_EQ(FTask.Faudio_codec_tag, MKTAG('m', 'p', '4', 'a'));
  EXPECT_EQ(av_cmp_q(FTask.Fframe_rate, AVRational{30000, 1001}), 0);
  EXPECT_FLOAT_EQ(FTask.Fframe_aspect_ratio, 4.0f / 3);
  EXPECT_TRUE(FTask.Fsubtitle_disable);
  EXPECT_EQ(FTask.Fsubtitle_language, "chi");
  EXPECT_TRUE(FTask.Finput_sync);
  EXPECT_TRUE(FTask.Fcopy_ts);
  EXPECT_EQ(FTask.Frecording_time, 10000000);
  EXPECT_EQ(FTask.FTotalOutputDuration, 10000000);
  EXPECT_FLOAT_EQ(FTask.Fmux_preload, 0.25f);
  EXPECT_FLOAT_EQ(FTask.Fmux_max_delay, 0.7f);
  EXPECT_EQ(FTask.Frecording_timestamp, 0);
  const std::vector<std::pair<std::string, std::string>> metadata = {
      {"year", "2010"}, {"title", "T"}, {"genre", "G"}};
  EXPECT_EQ(FTask.Fmetadata, metadata);

  // A refused field ends the record; what came before stays applied.
  TOutputOptions bad;
  bad.AudioSampleRate = 8000;
  bad.AudioTag = "abc";
  bad.VideoTag = "XVID";
  try {
    ApplyOutputRecord(FTask, bad);
    ADD_FAILURE();
  } catch (const FFmpegException &e) {
    EXPECT_STREQ(e.what(), "audio tag parameter must be 4 chars");
  }
  EXPECT_EQ(FTask.Faudio_sample_rate, 8000);
  EXPECT_EQ(FTask.Fvideo_codec_tag, 0u);
}

TEST_F(RecordTest, PrepareOutputTakesCodecsFromTheRecordOrItsText) {
  const struct {
    const char *AudioCodec;
    const char *Text;
    const char *Expected;
    std::vector<std::pair<std::string, std::string>> Pending;
  } cases[] = {
      {"", "acodec=aac<CRLF>newaudio=", "aac", {{"acodec", "aac"}}},
      {"mp2", "ACODEC=aac\nnewaudio=", "mp2", {{"acodec", "aac"}}},
      {"", "acodec=\nacodec=ac3", "ac3", {{"acodec", "ac3"}}},
      {"",
       "vfilters=hflip\nvcodec=mpeg4\nvcodec=libx264",
       "",
       {{"vf", "hflip"}, {"vcodec", "mpeg4"}, {"vcodec", "libx264"}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Text);
    TCustomFFmpeg task;
    task.Reinitialize();
    TOutputOptions o;
    o.AudioCodec = c.AudioCodec;
    o.ExtOptions = c.Text;
    TDefaultsList defaults;
    PrepareOutput(task, o, defaults, "out.mp4");
    EXPECT_EQ(o.FileName, "out.mp4");
    EXPECT_EQ(task.Faudio_codec_name, c.Expected);
    std::vector<std::pair<std::string, std::string>> pending;
    for (const TOptionLine &l : defaults.Lines())
      if (l.Name.rfind("def_", 0) != 0)
        pending.emplace_back(l.Name, l.Value);
    EXPECT_EQ(pending, c.Pending);
  }
}

TEST_F(RecordTest, PrepareOutputOrder) {
  TOutputOptions o;
  o.TargetType = ttDVD;
  o.NormType = ntNTSC;
  o.VideoCodec = "libx264";
  o.VideoPreset = "libx264-default";
  o.FrameSize = "320x240";
  o.VideoFilters = "hflip";
  o.VideoBitrate = 500000;
  // Output side: the size line only feeds the defaults; the codec line is pending.
  o.ExtOptions = "s=640x480\nVCODEC=mpeg4\nb=700000\nvn=1\nvf=vflip";
  TDefaultsList defaults;
  PrepareOutput(FTask, o, defaults, "out.mpg");
  // The target first, then the record's codec and preset, then the text, then the fields.
  EXPECT_EQ(FTask.Fvideo_codec_name, "libx264");
  EXPECT_EQ(FTask.Faudio_codec_name, "ac3");
  EXPECT_EQ(FTask.Flast_asked_format, "dvd");
  EXPECT_EQ(FTask.Fframe_width, 320);
  EXPECT_EQ(FTask.Fframe_height, 240);
  EXPECT_EQ(FTask.Fvfilters, "hflip");
  EXPECT_EQ(FTask.FOptions->avcodec_opts[0]->bit_rate, 500000);
  EXPECT_TRUE(FTask.Fvideo_disable);
  EXPECT_NE(av_dict_get(FTask.FOptions->codec_private_opts[0].get(), "direct-pred", nullptr, 0),
            nullptr);
  EXPECT_EQ(defaults.Value("def_s"), "320x240");
  EXPECT_EQ(defaults.Value("def_vf"), "hflip");
}

TEST_F(RecordTest, NewStreamsTakeTheirPendingLinesInOrder) {
  TOutputOptions o;
  o.ExtOptions = "vcodec=mpeg4\nnewvideo=\nvcodec=libx264\nnewvideo=";
  TDefaultsList defaults;
  PrepareOutput(FTask, o, defaults, "out.mkv");
  EXPECT_EQ(FTask.Fvideo_codec_name, "mpeg4");
  // Stand-in for the main stream consuming the codec name.
  FTask.Fvideo_codec_name.clear();
  // Without an output the first new stream is refused, after taking its codec.
  try {
    ApplyNewStreams(FTask, o.ExtOptions, defaults);
    ADD_FAILURE();
  } catch (const FFmpegException &e) {
    EXPECT_STREQ(e.what(), "At least one output file must be specified");
  }
  EXPECT_EQ(FTask.Fvideo_codec_name, "mpeg4");
  TakePending(FTask, defaults, "vcodec");
  EXPECT_EQ(FTask.Fvideo_codec_name, "libx264");
  // Nothing pending: the "def_" value, here the first line's.
  TakePending(FTask, defaults, "vcodec");
  EXPECT_EQ(FTask.Fvideo_codec_name, "mpeg4");
}

TEST(OptionRecords, TimeStampsBecomeUTCSeconds) {
  int64_t s = 0;
  {
    TZone zone("Asia/Shanghai");
    ASSERT_TRUE(RecordingTimestampOf(40179.5, s)); // 2010-01-01 12:00 local
    EXPECT_EQ(s, 1262318400);                      // 04:00 UTC
  }
  {
    TZone zone("Europe/Berlin");
    ASSERT_TRUE(RecordingTimestampOf(40179.5, s));
    EXPECT_EQ(s, 1262343600);                      // winter: 11:00 UTC
    ASSERT_TRUE(RecordingTimestampOf(40360.5, s)); // 2010-07-01 12:00 local
    EXPECT_EQ(s, 1277978400);                      // summer: 10:00 UTC
  }
  {
    TZone zone("UTC");
    ASSERT_TRUE(RecordingTimestampOf(25569.0, s));
    EXPECT_EQ(s, 0);
    ASSERT_TRUE(RecordingTimestampOf(25569.0 + 0.4 / 86400, s));
    EXPECT_EQ(s, 0);
    ASSERT_TRUE(RecordingTimestampOf(25569.0 + 0.6 / 86400, s));
    EXPECT_EQ(s, 1);
  }
  ASSERT_TRUE(RecordingTimestampOf(0, s));
  EXPECT_LE(std::abs(s - static_cast<int64_t>(std::time(nullptr))), 1);
  EXPECT_FALSE(RecordingTimestampOf(-1, s));
  EXPECT_FALSE(RecordingTimestampOf(1e300, s));
  EXPECT_FALSE(RecordingTimestampOf(std::nan(""), s));
}

TEST_F(RecordTest, RecordTimeStampIsAppliedWhenNotNegative) {
  TOutputOptions o;
  o.Info.TimeStamp = 0;
  ApplyOutputRecord(FTask, o);
  EXPECT_GT(FTask.Frecording_timestamp, 1600000000);
  FTask.Frecording_timestamp = 7;
  o.Info.TimeStamp = -1;
  ApplyOutputRecord(FTask, o);
  EXPECT_EQ(FTask.Frecording_timestamp, 7);
}

} // namespace
