// Disc targets: the norm rules, and every kind with every norm.
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"
#include "test_media.h"
#include "unicode_protocol.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

class TargetTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
    GetLogger()->SetLogLevel(llInfo);
    GetLogger()->SetOnLog([this](const void *, uint32_t, TLogLevel l, const std::string &m) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.emplace_back(l, m);
    });
  }
  void TearDown() override { GetLogger()->SetOnLog(nullptr); }
  bool Logged(TLogLevel ALevel, const std::string &AText) {
    std::lock_guard<std::mutex> lock(FLock);
    for (const auto &[l, m] : FLines)
      if (l == ALevel && m == AText)
        return true;
    return false;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> lock(FLock);
    FLines.clear();
  }

  std::mutex FLock; // protects FLines
  std::vector<std::pair<TLogLevel, std::string>> FLines;
};

std::string TemplateText(void *AObject, const std::string &AName) {
  uint8_t *s = nullptr;
  if (av_opt_get(AObject, AName.c_str(), 0, &s) < 0)
    return "<unset>";
  std::string r = reinterpret_cast<char *>(s);
  av_free(s);
  return r;
}

// Everything a target set, named as the notes on the library's options name it: the codec and
// format choices, picture and sound parameters, and each library option with the value the
// encoder or muxer will get.
std::map<std::string, std::string> TargetSettings(TCustomFFmpeg &ATask, bool AChannels) {
  std::map<std::string, std::string> r;
  r["c:v"] = ATask.Fvideo_codec_name;
  r["c:a"] = ATask.Faudio_codec_name;
  r["f"] = ATask.Flast_asked_format;
  r["s"] = std::to_string(ATask.Fframe_width) + "x" + std::to_string(ATask.Fframe_height);
  r["r"] = ATask.Fframe_rate.den == 1 ? std::to_string(ATask.Fframe_rate.num)
                                      : std::to_string(ATask.Fframe_rate.num) + "/" +
                                            std::to_string(ATask.Fframe_rate.den);
  r["ar"] = std::to_string(ATask.Faudio_sample_rate);
  if (AChannels)
    r["ac"] = std::to_string(ATask.Faudio_channels);
  TFFOptions &o = *ATask.FOptions;
  for (const std::string &name : o.opt_names) {
    if (name == "ab")
      r["b:a"] = TemplateText(o.avcodec_opts[1].get(), "b");
    else if (name == "b")
      r["b:v"] = TemplateText(o.avcodec_opts[0].get(), "b");
    else if (av_opt_find(o.avcodec_opts[0].get(), name.c_str(), nullptr, 0, 0))
      r[name] = TemplateText(o.avcodec_opts[0].get(), name);
    else if (av_opt_find(o.avformat_opts.get(), name.c_str(), nullptr, 0, 0))
      r[name] = TemplateText(o.avformat_opts.get(), name);
  }
  for (const TDictionary *d : {&o.codec_private_opts[0], &o.format_private_opts})
    for (const AVDictionaryEntry *e = nullptr;
         (e = av_dict_get(d->get(), "", e, AV_DICT_IGNORE_SUFFIX));)
      r[e->key] = e->value;
  TDictionary mux = ATask.MuxerPrivateOptions(
      av_guess_format(ATask.Flast_asked_format.c_str(), nullptr, nullptr));
  if (const AVDictionaryEntry *e = av_dict_get(mux.get(), "preload", nullptr, 0))
    r["preload"] = e->value;
  return r;
}

// The option sets that gave output identical to the command-line tool's own PAL targets.
TEST_F(TargetTest, PalTargetsTranslateToTheVerifiedOptionSets) {
  const struct {
    const char *Kind;
    std::map<std::string, std::string> Expected;
  } cases[] = {
      {"vcd",
       {{"c:v", "mpeg1video"},
        {"c:a", "mp2"},
        {"s", "352x288"},
        {"r", "25"},
        {"g", "15"},
        {"b:v", "1150000"},
        {"maxrate", "1150000"},
        {"minrate", "1150000"},
        {"bufsize", "327680"},
        {"b:a", "224000"},
        {"ar", "44100"},
        {"ac", "2"},
        {"f", "vcd"},
        {"packetsize", "2324"},
        {"muxrate", "1411200"},
        {"preload", "440000"}}},
      {"svcd",
       {{"c:v", "mpeg2video"},
        {"c:a", "mp2"},
        {"s", "480x576"},
        {"r", "25"},
        {"g", "15"},
        {"b:v", "2040000"},
        {"maxrate", "2516000"},
        {"minrate", "0"},
        {"bufsize", "1835008"},
        {"scan_offset", "1"},
        {"b:a", "224000"},
        {"ar", "44100"},
        {"f", "svcd"},
        {"packetsize", "2324"},
        {"preload", "500000"}}},
      {"dvd",
       {{"c:v", "mpeg2video"},
        {"c:a", "ac3"},
        {"s", "720x576"},
        {"r", "25"},
        {"g", "15"},
        {"b:v", "6000000"},
        {"maxrate", "9000000"},
        {"minrate", "0"},
        {"bufsize", "1835008"},
        {"b:a", "448000"},
        {"ar", "48000"},
        {"f", "dvd"},
        {"packetsize", "2048"},
        {"muxrate", "10080000"},
        {"preload", "500000"}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Kind);
    TCustomFFmpeg task;
    task.Reinitialize();
    task.ParseOption("target", std::string("pal-") + c.Kind);
    EXPECT_EQ(TargetSettings(task, std::string(c.Kind) == "vcd"), c.Expected);
  }
}

TEST_F(TargetTest, EveryKindWithEveryNorm) {
  struct TNormCase {
    const char *Norm;
    AVRational Rate; // frame rate before the target
    const char *Default;
    bool Pal;
    AVRational Expected;
  };
  const TNormCase norms[] = {
      {"pal", {0, 0}, "ntsc", true, {25, 1}},
      {"ntsc", {0, 0}, "pal", false, {30000, 1001}},
      {"film", {0, 0}, "pal", false, {24000, 1001}},
      {"auto", {25, 1}, "ntsc", true, {25, 1}},
      {"auto", {30000, 1001}, "pal", false, {30000, 1001}},
      {"auto", {24000, 1001}, "pal", false, {30000, 1001}},
      {"auto", {15, 1}, "ntsc", false, {30000, 1001}},
      {"auto", {15, 1}, "pal", true, {25, 1}},
      {"auto", {15, 1}, "film", false, {24000, 1001}},
  };
  const struct {
    const char *Kind;
    int Width;
    int PalHeight, NtscHeight;
    const char *Video, *Audio, *Format;
    int64_t Bitrate, AudioBitrate;
    int SampleRate;
  } kinds[] = {
      {"vcd", 352, 288, 240, "mpeg1video", "mp2", "vcd", 1150000, 224000, 44100},
      {"svcd", 480, 576, 480, "mpeg2video", "mp2", "svcd", 2040000, 224000, 44100},
      {"dvd", 720, 576, 480, "mpeg2video", "ac3", "dvd", 6000000, 448000, 48000},
      {"dv", 720, 576, 480, "", "", "dv", 0, 0, 48000},
      {"dv50", 720, 576, 480, "", "", "dv", 0, 0, 48000},
  };
  for (const auto &k : kinds)
    for (const TNormCase &n : norms) {
      SCOPED_TRACE(std::string(k.Kind) + " " + n.Norm + " default " + n.Default + " rate " +
                   std::to_string(n.Rate.num));
      TCustomFFmpeg task;
      task.Reinitialize();
      task.Fframe_rate = n.Rate;
      task.Faudio_channels = 1;
      ASSERT_NO_THROW(task.SetTarget(k.Kind, n.Norm, n.Default));
      EXPECT_EQ(task.Fframe_width, k.Width);
      EXPECT_EQ(task.Fframe_height, n.Pal ? k.PalHeight : k.NtscHeight);
      EXPECT_EQ(av_cmp_q(task.Fframe_rate, n.Expected), 0);
      EXPECT_EQ(task.Fvideo_codec_name, k.Video);
      EXPECT_EQ(task.Faudio_codec_name, k.Audio);
      EXPECT_EQ(task.Flast_asked_format, k.Format);
      EXPECT_EQ(task.Faudio_sample_rate, k.SampleRate);
      EXPECT_EQ(task.Faudio_channels, 2);
      if (k.Bitrate != 0) {
        EXPECT_EQ(task.FOptions->avcodec_opts[0]->bit_rate, k.Bitrate);
        EXPECT_EQ(task.FOptions->avcodec_opts[1]->bit_rate, k.AudioBitrate);
        EXPECT_EQ(task.FOptions->avcodec_opts[0]->gop_size, n.Pal ? 15 : 18);
      }
      const std::string kind = k.Kind;
      if (kind == "vcd" || kind == "svcd")
        EXPECT_FLOAT_EQ(task.Fframe_aspect_ratio, 4.0f / 3);
      else if (kind == "dvd")
        EXPECT_FLOAT_EQ(task.Fframe_aspect_ratio, 16.0f / 9);
      else
        EXPECT_EQ(task.Fframe_aspect_ratio, 0);
      const AVPixelFormat pix = kind == "dv50" ? AV_PIX_FMT_YUV422P
                                : kind != "dv" ? AV_PIX_FMT_NONE
                                : n.Pal        ? AV_PIX_FMT_YUV420P
                                               : AV_PIX_FMT_YUV411P;
      EXPECT_EQ(task.Fframe_pix_fmt, pix);
    }
}

TEST_F(TargetTest, NormRulesAndMessages) {
  TCustomFFmpeg task;
  task.Reinitialize();
  // Without a frame rate the norm cannot be decided, and that is found before the kind.
  try {
    task.SplitTarget("xyz");
    ADD_FAILURE();
  } catch (const FFmpegException &e) {
    EXPECT_STREQ(e.what(), "frame_rate is invalid.");
  }
  try {
    task.SplitTarget("ntsc-xyz");
    ADD_FAILURE();
  } catch (const FFmpegException &e) {
    EXPECT_STREQ(e.what(), "Unknown target type");
  }
  // The default norm of the option is NTSC; the value is trimmed.
  task.Fframe_rate = {15, 1};
  ClearLog();
  task.ParseOption("target", "  dvd ");
  EXPECT_EQ(task.Fframe_height, 480);
  EXPECT_TRUE(Logged(llVerbose, "Assuming NTSC for target."));
  EXPECT_TRUE(Logged(llInfo, "Assuming 16:9 for aspect ratio"));
  // A given aspect ratio stays; a given norm is not announced.
  ClearLog();
  task.ParseOption("aspect", "2.35");
  task.ParseOption("target", "pal-vcd");
  EXPECT_FLOAT_EQ(task.Fframe_aspect_ratio, 2.35f);
  EXPECT_FALSE(Logged(llVerbose, "Assuming PAL for target."));
  EXPECT_FALSE(Logged(llInfo, "Assuming 4:3 for aspect ratio"));
  // Quiet when not verbose; more channels than two stay.
  ClearLog();
  task.ParseOption("v", "0");
  task.Faudio_channels = 6;
  task.Fframe_rate = {25, 1};
  task.ParseOption("target", "svcd");
  EXPECT_EQ(task.Fframe_height, 576);
  EXPECT_EQ(task.Faudio_channels, 6);
  EXPECT_FALSE(Logged(llVerbose, "Assuming PAL for target."));
}

TEST_F(TargetTest, OpenInputsDecideTheNormWhenTheRateDoesNot) {
  TCustomFFmpeg task;
  task.Reinitialize();
  AVFormatContext *input = nullptr;
  ASSERT_GE(
      FFOpenInput(&input, FileNameToURL(MediaPath("mpeg4_mp3_320x240.avi")), nullptr, nullptr), 0);
  task.Finput_files.emplace_back(input);
  task.Fnb_input_files = 1;
  ASSERT_GE(avformat_find_stream_info(input, nullptr), 0);
  task.Fframe_rate = {15, 1};
  task.SetTarget("dvd", "auto", "pal");
  EXPECT_EQ(task.Fframe_height, 480); // the 29.97 frames per second input
}

} // namespace
