// The transcoder's option vocabulary: each family of options, every refusal with its message,
// the value parsers' edge cases and the library option templates.
#include "ff_logger.h"
#include "ff_utils.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"
#include "option_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <functional>
#include <mutex>

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

// A task with its templates, and the log lines it and the libraries write.
class OptionsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
    GetLogger()->SetLogLevel(llInfo);
    GetLogger()->InstallAVLogCallback();
    GetLogger()->SetOnLog([this](const void *, uint32_t, TLogLevel l, const std::string &m) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.emplace_back(l, m);
    });
    FTask.Reinitialize();
    ASSERT_TRUE(FTask.FOptions);
  }
  void TearDown() override {
    GetLogger()->SetOnLog(nullptr);
    GetLogger()->SetLogLevel(llInfo);
  }
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
  // The FFmpegException message of one option, or "" when it was accepted.
  std::string Refusal(const std::string &AName, const std::string &AValue) {
    try {
      FTask.ParseOption(AName, AValue);
    } catch (const FFmpegException &e) {
      return e.what();
    }
    return std::string();
  }
  int64_t TemplateInt(int AType, const char *AName) {
    int64_t v = 0;
    EXPECT_GE(av_opt_get_int(FTask.FOptions->avcodec_opts[AType].get(), AName, 0, &v), 0);
    return v;
  }
  std::string PrivateOption(int AType, const char *AName) {
    const AVDictionaryEntry *e =
        av_dict_get(FTask.FOptions->codec_private_opts[AType].get(), AName, nullptr, 0);
    return e ? e->value : "<none>";
  }

  TCustomFFmpeg FTask;
  std::mutex FLock; // protects FLines
  std::vector<std::pair<TLogLevel, std::string>> FLines;
};

TEST(OptionVocabulary, HasTheNamesInMatchingOrder) {
  const std::vector<std::string> expected = {"L",
                                             "h",
                                             "version",
                                             "formats",
                                             "codecs",
                                             "bsfs",
                                             "protocols",
                                             "filters",
                                             "loglevel",
                                             "f",
                                             "i",
                                             "y",
                                             "map",
                                             "map_meta_data",
                                             "t",
                                             "fs",
                                             "ss",
                                             "itsoffset",
                                             "itsscale",
                                             "timestamp",
                                             "metadata",
                                             "dframes",
                                             "benchmark",
                                             "timelimit",
                                             "dump",
                                             "hex",
                                             "re",
                                             "loop_input",
                                             "loop_output",
                                             "v",
                                             "target",
                                             "threads",
                                             "vsync",
                                             "async",
                                             "adrift_threshold",
                                             "vglobal",
                                             "copyts",
                                             "shortest",
                                             "dts_delta_threshold",
                                             "programid",
                                             "xerror",
                                             "copyinkf",
                                             "b",
                                             "vb",
                                             "vframes",
                                             "r",
                                             "s",
                                             "aspect",
                                             "pix_fmt",
                                             "croptop",
                                             "cropbottom",
                                             "cropleft",
                                             "cropright",
                                             "padtop",
                                             "padbottom",
                                             "padleft",
                                             "padright",
                                             "padcolor",
                                             "intra",
                                             "vn",
                                             "vdt",
                                             "qscale",
                                             "rc_override",
                                             "vcodec",
                                             "me_threshold",
                                             "sameq",
                                             "pass",
                                             "passlogfile",
                                             "deinterlace",
                                             "psnr",
                                             "vstats",
                                             "vstats_file",
                                             "vhook",
                                             "vfilters",
                                             "vf",
                                             "intra_matrix",
                                             "inter_matrix",
                                             "top",
                                             "dc",
                                             "vtag",
                                             "newvideo",
                                             "vlang",
                                             "qphist",
                                             "force_fps",
                                             "streamid",
                                             "ab",
                                             "aframes",
                                             "aq",
                                             "ar",
                                             "ac",
                                             "an",
                                             "acodec",
                                             "atag",
                                             "vol",
                                             "newaudio",
                                             "alang",
                                             "sample_fmt",
                                             "sn",
                                             "scodec",
                                             "newsubtitle",
                                             "slang",
                                             "stag",
                                             "vc",
                                             "tvstd",
                                             "isync",
                                             "muxdelay",
                                             "muxpreload",
                                             "absf",
                                             "vbsf",
                                             "sbsf",
                                             "apre",
                                             "vpre",
                                             "spre",
                                             "fpre"};
  EXPECT_EQ(expected.size(), 114u);
  EXPECT_EQ(TCustomFFmpeg::OptionNames(), expected);
}

TEST_F(OptionsTest, ResetOptionsRestoresEveryDefault) {
  // Change a field of every family, then reset.
  const std::pair<const char *, const char *> changes[] = {{"f", "avi"},
                                                           {"s", "640x480"},
                                                           {"aspect", "16:9"},
                                                           {"pix_fmt", "gray"},
                                                           {"sample_fmt", "s16"},
                                                           {"vframes", "5"},
                                                           {"r", "25"},
                                                           {"qscale", "3"},
                                                           {"vn", "1"},
                                                           {"vcodec", "copy"},
                                                           {"acodec", "mp2"},
                                                           {"vtag", "XVID"},
                                                           {"vlang", "eng"},
                                                           {"top", "1"},
                                                           {"dc", "10"},
                                                           {"loop_output", "2"},
                                                           {"vf", "null"},
                                                           {"ar", "22050"},
                                                           {"ac", "1"},
                                                           {"aq", "3"},
                                                           {"muxpreload", "1"},
                                                           {"t", "5"},
                                                           {"ss", "2"},
                                                           {"timestamp", "now"},
                                                           {"metadata", "a=b"},
                                                           {"pass", "1"},
                                                           {"vsync", "1"},
                                                           {"async", "1"},
                                                           {"vol", "512"},
                                                           {"v", "3"},
                                                           {"fs", "100"},
                                                           {"streamid", "1:5"},
                                                           {"map", "0:1"},
                                                           {"map_meta_data", "0:0"},
                                                           {"itsscale", "1:2"},
                                                           {"vbsf", "null"},
                                                           {"adrift_threshold", "1"},
                                                           {"dts_delta_threshold", "1"},
                                                           {"croptop", "2"}};
  for (const auto &[name, value] : changes)
    ASSERT_EQ(Refusal(name, value), "") << name;
  FTask.ResetOptions();
  const TCustomFFmpeg fresh;
  EXPECT_EQ(FTask.Flast_asked_format, "");
  EXPECT_EQ(FTask.Fframe_width, 0);
  EXPECT_EQ(FTask.Fframe_aspect_ratio, 0);
  EXPECT_EQ(FTask.Fframe_pix_fmt, AV_PIX_FMT_NONE);
  EXPECT_EQ(FTask.Faudio_sample_fmt, AV_SAMPLE_FMT_NONE);
  EXPECT_EQ(FTask.Fmax_frames, (std::array<int, 4>{INT_MAX, INT_MAX, INT_MAX, INT_MAX}));
  EXPECT_EQ(FTask.Fframe_rate.num, 0);
  EXPECT_EQ(FTask.Fframe_rate.den, 0);
  EXPECT_FALSE(FTask.Fvideo_disable);
  EXPECT_EQ(FTask.Fvideo_stream_copy, 0);
  EXPECT_EQ(FTask.Faudio_codec_name, "");
  EXPECT_EQ(FTask.Fvideo_codec_tag, 0u);
  EXPECT_EQ(FTask.Ftop_field_first, -1);
  EXPECT_EQ(FTask.Fintra_dc_precision, 8);
  EXPECT_EQ(FTask.Floop_output, -1);
  EXPECT_EQ(FTask.Faudio_sample_rate, 44100);
  EXPECT_EQ(FTask.Faudio_channels, 2);
  EXPECT_EQ(FTask.Faudio_qscale, -99999);
  EXPECT_FLOAT_EQ(FTask.Fmux_preload, 0.5f);
  EXPECT_FLOAT_EQ(FTask.Fmux_max_delay, 0.7f);
  EXPECT_EQ(FTask.Frecording_time, INT64_MAX);
  EXPECT_EQ(FTask.Fstart_time, 0);
  EXPECT_EQ(FTask.Frecording_timestamp, 0);
  EXPECT_TRUE(FTask.Fmetadata.empty());
  EXPECT_EQ(FTask.Fdo_pass, 0);
  EXPECT_EQ(FTask.Fvideo_sync_method, -1);
  EXPECT_EQ(FTask.Faudio_sync_method, 0);
  EXPECT_FLOAT_EQ(FTask.Faudio_drift_threshold, 0.1f);
  EXPECT_EQ(FTask.Faudio_volume, 256);
  EXPECT_EQ(FTask.Fverbose, 1);
  EXPECT_EQ(FTask.Fthread_count, 1);
  EXPECT_EQ(FTask.Flimit_filesize, 0);
  EXPECT_FLOAT_EQ(FTask.Fdts_delta_threshold, 10);
  EXPECT_EQ(FTask.Fsws_flags, 4u);
  EXPECT_EQ(FTask.Fstreamid_map, fresh.Fstreamid_map);
  EXPECT_TRUE(FTask.Fstream_maps.empty());
  EXPECT_TRUE(FTask.Fmeta_data_maps.empty());
  EXPECT_EQ(FTask.Finput_files_ts_scale, fresh.Finput_files_ts_scale);
  EXPECT_EQ(FTask.Finput_files_ts_scale.size(), 20u);
  EXPECT_TRUE(FTask.Fvideo_bitstream_filters.empty());
  EXPECT_FALSE(FTask.Fintra_matrix.has_value());
  EXPECT_EQ(FTask.Fvfilters, "");
}

TEST_F(OptionsTest, RefusalsRaiseTheirMessageAndLeaveTheTaskUsable) {
  FTask.ParseOption("s", "720x576");
  const std::string matrix63 = [] {
    std::string m;
    for (int i = 0; i < 63; ++i)
      m += (i ? "," : "") + std::to_string(i + 1);
    return m;
  }();
  const struct {
    const char *Name;
    std::string Value;
    std::string Message;
  } cases[] = {
      {"threads", "2", "TODO: option - threads"},
      {"padtop", "8", "Please use vfilters=pad"},
      {"padbottom", "8", "Please use vfilters=pad"},
      {"padleft", "8", "Please use vfilters=pad"},
      {"padright", "8", "Please use vfilters=pad"},
      {"padcolor", "000000", "Please use vfilters=pad"},
      {"r", "abc", "Incorrect frame rate"},
      {"r", "0", "Incorrect frame rate"},
      {"r", "-25", "Incorrect frame rate"},
      {"s", "abc", "Incorrect frame size"},
      {"s", "0x0", "Incorrect frame size"},
      {"pix_fmt", "nonsense", "Unknown pixel format requested: nonsense"},
      {"aspect", "4:0", "Incorrect aspect ratio specification."},
      {"aspect", "abc", "Incorrect aspect ratio specification."},
      {"aspect", "0", "Incorrect aspect ratio specification."},
      {"aspect", "-4:3", "Incorrect aspect ratio specification."},
      {"aspect", "1e300", "Incorrect aspect ratio specification."},
      {"croptop", "576",
       "Vertical crop dimensions are outside the range of the original image.\nRemember to crop "
       "first and scale second."},
      {"cropbottom", "600",
       "Vertical crop dimensions are outside the range of the original image.\nRemember to crop "
       "first and scale second."},
      {"cropleft", "720",
       "Horizontal crop dimensions are outside the range of the original image.\nRemember to "
       "crop first and scale second."},
      {"qscale", "0", "qscale must be > 0.0 and <= 255"},
      {"qscale", "255.5", "qscale must be > 0.0 and <= 255"},
      {"qscale", "-1", "qscale must be > 0.0 and <= 255"},
      {"pass", "0", "pass number can be only 1 or 2"},
      {"pass", "3", "pass number can be only 1 or 2"},
      {"intra_matrix", "", "Syntax error in matrix \"\" at coeff 0"},
      {"intra_matrix", "8,16", "Syntax error in matrix \"8,16\" at coeff 1"},
      {"inter_matrix", matrix63, "Syntax error in matrix \"" + matrix63 + "\" at coeff 62"},
      {"inter_matrix", "8;16", "Syntax error in matrix \"8;16\" at coeff 0"},
      {"intra_matrix", "0,8", "Syntax error in matrix \"0,8\" at coeff 0"},
      {"intra_matrix", "8,256", "Syntax error in matrix \"8,256\" at coeff 1"},
      {"vtag", "DX50x", "video tag parameter must be 4 chars"},
      {"atag", "abc", "audio tag parameter must be 4 chars"},
      {"stag", "abcde", "subtitle tag parameter must be 4 chars"},
      {"metadata", "title", "Missing ="},
      {"itsscale", "20:2", "stream index over MAX_STREAMS(20)"},
      {"itsscale", "-1:2", "stream index over MAX_STREAMS(20)"},
      {"streamid", "1",
       "Invalid value \"1\" for option \"streamid\", required syntax is "
       "\"index:value\""},
      {"streamid", ":5",
       "Invalid value \":5\" for option \"streamid\", required syntax is "
       "\"index:value\""},
      {"streamid", "5:",
       "Invalid value \"5:\" for option \"streamid\", required syntax is "
       "\"index:value\""},
      {"streamid", "20:1",
       "Invalid value \"20:1\" for option \"streamid\", required syntax is "
       "\"index:value\""},
      {"t", "abc", "Invalid duration specification for t: abc"},
      {"ss", "1:2:3:4", "Invalid duration specification for ss: 1:2:3:4"},
      {"itsoffset", "", "Invalid duration specification for itsoffset: "},
      {"timestamp", "yesterday", "Invalid date specification for timestamp: yesterday"},
      {"vbsf", "nosuch", "Unknown bitstream filter nosuch"},
      {"absf", "  nosuch=3 ", "Unknown bitstream filter nosuch=3"},
      {"vhook", "/nonexistent/hook.so -a 1",
       "Failed to add video hook function: /nonexistent/hook.so -a 1"},
      {"vhook", "", "Failed to add video hook function: "},
      {"newvideo", "", "At least one output file must be specified"},
      {"newaudio", "", "At least one output file must be specified"},
      {"newsubtitle", "", "At least one output file must be specified"},
      {"vpre", "no_such_preset", "Preset \"no_such_preset\" not found"},
      {"fpre", "/nonexistent/preset.ffpreset", "Preset \"/nonexistent/preset.ffpreset\" not found"},
      {"fpre", "/dev/zero", "Preset \"/dev/zero\" not found"},
      {"target", "pal-xyz", "Unknown target type"},
      {"target", "dvd", "frame_rate is invalid."},
      {"target", "xyz", "frame_rate is invalid."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.Name) + "=" + c.Value);
    EXPECT_EQ(Refusal(c.Name, c.Value), c.Message);
    // Still usable: the next option takes effect.
    FTask.ParseOption("vcodec", "mpeg4");
    EXPECT_EQ(FTask.Fvideo_codec_name, "mpeg4");
    FTask.ParseOption("vcodec", "");
  }
  // Refused values leave their fields as they were.
  EXPECT_EQ(FTask.Fframe_width, 720);
  EXPECT_EQ(FTask.Fframe_height, 576);
  EXPECT_EQ(FTask.Fframe_aspect_ratio, 0);
  EXPECT_EQ(FTask.Fvideo_qscale, 0);
  EXPECT_EQ(FTask.Fdo_pass, 0);
  EXPECT_FALSE(FTask.Fintra_matrix.has_value());
  EXPECT_FALSE(FTask.Finter_matrix.has_value());
  EXPECT_FALSE(FTask.Fusing_vhook);
  EXPECT_EQ(FTask.Fframe_topBand, 0);
}

TEST_F(OptionsTest, NumbersThatDoNotReadRaiseTheConversionError) {
  const struct {
    const char *Name;
    const char *Value;
  } cases[] = {{"vframes", "abc"},
               {"aframes", "1.5"},
               {"dframes", ""},
               {"fs", "12x"},
               {"ar", "4.5"},
               {"ac", "two"},
               {"v", ""},
               {"vsync", "1 1"},
               {"dc", "1e3"},
               {"croptop", "8px"},
               {"pass", "one"},
               {"vol", "9999999999"},
               {"aq", "x"},
               {"muxdelay", "1,5"},
               {"qscale", "q"},
               {"adrift_threshold", "nan"},
               {"muxpreload", "1e300"},
               {"streamid", "a:1"},
               {"streamid", "1:b"},
               {"loglevel", "chatty"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.Name) + "=" + c.Value);
    try {
      FTask.ParseOption(c.Name, c.Value);
      ADD_FAILURE() << "accepted";
    } catch (const EConvertError &e) {
      EXPECT_NE(std::string(e.what()).find("is not a valid"), std::string::npos) << e.what();
    }
  }
}

// Each option applied in order to one task, then its effect checked.
TEST_F(OptionsTest, OptionFamiliesSetTheirFields) {
  TCustomFFmpeg &t = FTask;
  const struct {
    const char *Name;
    const char *Value;
    std::function<bool()> Check;
  } cases[] = {
      // Booleans: true for every value but "0"; copyts and xerror for any value.
      {"vn", "0", [&] { return !t.Fvideo_disable; }},
      {"vn", "1", [&] { return t.Fvideo_disable; }},
      {"an", "yes", [&] { return t.Faudio_disable; }},
      {"sn", "", [&] { return t.Fsubtitle_disable; }},
      {"dump", "1", [&] { return t.Fdo_pkt_dump; }},
      {"hex", "1", [&] { return t.Fdo_hex_dump; }},
      {"re", "1", [&] { return t.Frate_emu; }},
      {"loop_input", "1", [&] { return t.Floop_input; }},
      {"shortest", "1", [&] { return t.Fopt_shortest; }},
      {"intra", "1", [&] { return t.Fintra_only; }},
      {"sameq", "1", [&] { return t.Fsame_quality; }},
      {"deinterlace", "1", [&] { return t.Fdo_deinterlace; }},
      {"psnr", "1", [&] { return t.Fdo_psnr; }},
      {"qphist", "1", [&] { return t.Fqp_hist; }},
      {"force_fps", "1", [&] { return t.Fforce_fps; }},
      {"isync", "1", [&] { return t.Finput_sync; }},
      {"copyts", "0", [&] { return t.Fcopy_ts; }},
      {"xerror", "0", [&] { return t.Fexit_on_error; }},
      // Integers and numbers.
      {"loop_output", "3", [&] { return t.Floop_output == 3; }},
      {"vsync", "2", [&] { return t.Fvideo_sync_method == 2; }},
      {"async", "100", [&] { return t.Faudio_sync_method == 100; }},
      {"vglobal", "2", [&] { return t.Fvideo_global_header == 2; }},
      {"programid", "7", [&] { return t.Fopt_programid == 7; }},
      {"copyinkf", "1", [&] { return t.Fcopy_initial_nonkeyframes == 1; }},
      {"vdt", "48", [&] { return t.Fvideo_discard == 48; }},
      {"me_threshold", "5", [&] { return t.Fme_threshold == 5; }},
      {"top", "0", [&] { return t.Ftop_field_first == 0; }},
      {"dc", "9", [&] { return t.Fintra_dc_precision == 9; }},
      {"vol", "512", [&] { return t.Faudio_volume == 512; }},
      {"vc", " 2 ", [&] { return t.Fvideo_channel == 2; }},
      {"v", "-1", [&] { return t.Fverbose == -1; }},
      {"vframes", "100", [&] { return t.Fmax_frames[0] == 100; }},
      {"aframes", "200", [&] { return t.Fmax_frames[1] == 200; }},
      {"dframes", "300", [&] { return t.Fmax_frames[2] == 300; }},
      {"fs", "5000000000", [&] { return t.Flimit_filesize == 5000000000LL; }},
      {"adrift_threshold", "0.25", [&] { return t.Faudio_drift_threshold == 0.25f; }},
      {"dts_delta_threshold", "3", [&] { return t.Fdts_delta_threshold == 3; }},
      {"aq", "4", [&] { return t.Faudio_qscale == 4; }},
      {"muxdelay", "0.2", [&] { return t.Fmux_max_delay == 0.2f; }},
      {"muxpreload", "0.3", [&] { return t.Fmux_preload == 0.3f; }},
      {"qscale", "255", [&] { return t.Fvideo_qscale == 255; }},
      {"pass", "2", [&] { return t.Fdo_pass == 2; }},
      // Texts, kept as given.
      {"rc_override", "0,10,2/11,20,-50",
       [&] { return t.Fvideo_rc_override_string == "0,10,2/11,20,-50"; }},
      {"passlogfile", "stats", [&] { return t.Fpass_logfilename_prefix == "stats"; }},
      {"vstats_file", "v.log", [&] { return t.Fvstats_filename == "v.log"; }},
      {"vlang", "chi", [&] { return t.Fvideo_language == "chi"; }},
      {"alang", "eng", [&] { return t.Faudio_language == "eng"; }},
      {"slang", "fre", [&] { return t.Fsubtitle_language == "fre"; }},
      {"tvstd", "pal", [&] { return t.Fvideo_standard == "pal"; }},
      {"vfilters", "scale=320:240", [&] { return t.Fvfilters == "scale=320:240"; }},
      {"vf", "", [&] { return t.Fvfilters == "scale=320:240"; }},
      {"vf", "hflip", [&] { return t.Fvfilters == "hflip"; }},
      // Picture and sound parameters; empty values change nothing.
      {"r", "ntsc", [&] { return t.Fframe_rate.num == 30000 && t.Fframe_rate.den == 1001; }},
      {"r", "25", [&] { return t.Fframe_rate.num == 25 && t.Fframe_rate.den == 1; }},
      {"r", "", [&] { return t.Fframe_rate.num == 25; }},
      {"s", "640*480", [&] { return t.Fframe_width == 640 && t.Fframe_height == 480; }},
      {"s", "", [&] { return t.Fframe_width == 640; }},
      {"aspect", "16:9", [&] { return t.Fframe_aspect_ratio == 1.7777778f; }},
      {"aspect", "1.5", [&] { return t.Fframe_aspect_ratio == 1.5f; }},
      {"aspect", "", [&] { return t.Fframe_aspect_ratio == 1.5f; }},
      {"pix_fmt", "yuv422p", [&] { return t.Fframe_pix_fmt == AV_PIX_FMT_YUV422P; }},
      {"sample_fmt", "s16", [&] { return t.Faudio_sample_fmt == AV_SAMPLE_FMT_S16; }},
      {"sample_fmt", "nonsense", [&] { return t.Faudio_sample_fmt == AV_SAMPLE_FMT_NONE; }},
      {"ar", "22050", [&] { return t.Faudio_sample_rate == 22050; }},
      {"ar", "0", [&] { return t.Faudio_sample_rate == 22050; }},
      {"ac", "6", [&] { return t.Faudio_channels == 6; }},
      {"ac", "-1", [&] { return t.Faudio_channels == 6; }},
      // Cropping: 0 or less is ignored; a band shrinks the picture.
      {"croptop", "0", [&] { return t.Fframe_topBand == 0 && t.Fframe_height == 480; }},
      {"croptop", "-5", [&] { return t.Fframe_topBand == 0 && t.Fframe_height == 480; }},
      {"croptop", "8", [&] { return t.Fframe_topBand == 8 && t.Fframe_height == 472; }},
      {"cropbottom", "8", [&] { return t.Fframe_bottomBand == 8 && t.Fframe_height == 464; }},
      {"cropleft", "10", [&] { return t.Fframe_leftBand == 10 && t.Fframe_width == 630; }},
      {"cropright", "629", [&] { return t.Fframe_rightBand == 629 && t.Fframe_width == 1; }},
      // Codec names: "copy" sets stream copy and drops the name; a later name leaves copy on.
      {"vcodec", "mpeg4",
       [&] { return t.Fvideo_codec_name == "mpeg4" && t.Fvideo_stream_copy == 0; }},
      {"vcodec", "copy", [&] { return t.Fvideo_codec_name.empty() && t.Fvideo_stream_copy == 1; }},
      {"vcodec", "libx264",
       [&] { return t.Fvideo_codec_name == "libx264" && t.Fvideo_stream_copy == 1; }},
      {"vcodec", "", [&] { return t.Fvideo_codec_name == "libx264"; }},
      {"acodec", "copy", [&] { return t.Faudio_stream_copy == 1; }},
      {"scodec", "mov_text", [&] { return t.Fsubtitle_codec_name == "mov_text"; }},
      // Tags: the first character in the lowest byte.
      {"vtag", "XVID", [&] { return t.Fvideo_codec_tag == 0x44495658u; }},
      {"atag", "mp4a", [&] { return t.Faudio_codec_tag == MKTAG('m', 'p', '4', 'a'); }},
      {"stag", "tx3g", [&] { return t.Fsubtitle_codec_tag == MKTAG('t', 'x', '3', 'g'); }},
      {"vtag", "", [&] { return t.Fvideo_codec_tag == 0x44495658u; }},
      // Formats.
      {"f", "avi", [&] { return t.Flast_asked_format == "avi"; }},
      {"f", "", [&] { return t.Flast_asked_format == "avi"; }},
      {"f", "pgmyuv",
       [&] { return t.Flast_asked_format == "image2" && t.Fpgmyuv_compatibility_hack == 1; }},
      // Times: durations in microseconds, the time stamp rounded to seconds.
      {"t", "00:01:02.5",
       [&] { return t.Frecording_time == 62500000 && t.FTotalOutputDuration == 62500000; }},
      {"ss", "90", [&] { return t.Fstart_time == 90000000; }},
      {"itsoffset", "-1.5", [&] { return t.Finput_ts_offset == -1500000; }},
      {"timestamp", "2010-01-01 00:00:00.4Z", [&] { return t.Frecording_timestamp == 1262304000; }},
      {"timestamp", "2010-01-01 00:00:00.6Z", [&] { return t.Frecording_timestamp == 1262304001; }},
      {"timestamp", "2010-01-01 00:00:00.5Z", [&] { return t.Frecording_timestamp == 1262304000; }},
      // Lists: metadata splits at the first "="; a repeated key is kept in order.
      {"metadata", "title=A=B",
       [&] { return t.Fmetadata.size() == 1 && t.Fmetadata[0].second == "A=B"; }},
      {"metadata", "title=C",
       [&] { return t.Fmetadata.size() == 2 && t.Fmetadata[1].second == "C"; }},
      {"metadata", "=x", [&] { return t.Fmetadata.size() == 3 && t.Fmetadata[2].first.empty(); }},
      {"streamid", "3:32", [&] { return t.Fstreamid_map[3] == 32; }},
      {"streamid", "0:1:2", [&] { return false; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.Name) + "=" + c.Value);
    if (std::string(c.Name) == "streamid" && std::string(c.Value) == "0:1:2") {
      // The value side must be one integer.
      EXPECT_THROW(t.ParseOption(c.Name, c.Value), EConvertError);
      continue;
    }
    ASSERT_EQ(Refusal(c.Name, c.Value), "");
    EXPECT_TRUE(c.Check());
  }
}

TEST_F(OptionsTest, MapsReadIndicesWithCConventions) {
  const struct {
    const char *Value;
    TAVStreamMap Map;
  } cases[] = {
      {"0:1", {0, 1, 0, 1}},
      {"1.2:3.4", {1, 2, 3, 4}},
      {"0x1:010", {1, 8, 1, 8}},
      {"2", {2, 0, 2, 0}},
      {"a:b", {0, 0, 0, 0}},
      {"1:2:3", {1, 2, 3, 0}},
      {"99999999999:1", {INT_MAX, 1, INT_MAX, 1}},
  };
  for (const auto &c : cases)
    FTask.ParseOption("map", c.Value);
  ASSERT_EQ(FTask.Fstream_maps.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].Value);
    const TAVStreamMap &m = FTask.Fstream_maps[i];
    EXPECT_EQ(m.file_index, cases[i].Map.file_index);
    EXPECT_EQ(m.stream_index, cases[i].Map.stream_index);
    EXPECT_EQ(m.sync_file_index, cases[i].Map.sync_file_index);
    EXPECT_EQ(m.sync_stream_index, cases[i].Map.sync_stream_index);
  }
  FTask.ParseOption("map_meta_data", "1:0");
  ASSERT_EQ(FTask.Fmeta_data_maps.size(), 1u);
  EXPECT_EQ(FTask.Fmeta_data_maps[0].out_file, 1);
  EXPECT_EQ(FTask.Fmeta_data_maps[0].in_file, 0);
}

TEST_F(OptionsTest, MapListsAreBoundedByTheFileCount) {
  TCustomFFmpeg task(1);
  task.Reinitialize();
  for (int i = 0; i < MAX_STREAMS; ++i)
    task.ParseOption("map", "0:" + std::to_string(i));
  EXPECT_THROW(task.ParseOption("map", "0:0"), FFmpegException);
  EXPECT_EQ(task.Fstream_maps.size(), static_cast<size_t>(MAX_STREAMS));
  task.ParseOption("map_meta_data", "0:0");
  EXPECT_THROW(task.ParseOption("map_meta_data", "0:0"), FFmpegException);
}

TEST_F(OptionsTest, TimestampScalesGoToTheNextInput) {
  FTask.ParseOption("itsscale", "1:0.5");
  FTask.ParseOption("itsscale", "19,2e1");
  FTask.ParseOption("itsscale", "2");
  EXPECT_EQ(FTask.Finput_files_ts_scale[0][1], 0.5);
  EXPECT_EQ(FTask.Finput_files_ts_scale[0][19], 20);
  EXPECT_EQ(FTask.Finput_files_ts_scale[0][2], 0);
  // Once an input is open, the next scales belong to the second one.
  FTask.Fnb_input_files = 1;
  FTask.ParseOption("itsscale", "1:3");
  EXPECT_EQ(FTask.Finput_files_ts_scale[1][1], 3);
  EXPECT_EQ(FTask.Finput_files_ts_scale[0][1], 0.5);
  FTask.Fnb_input_files = FTask.MaxFiles();
  EXPECT_NO_THROW(FTask.ParseOption("itsscale", "1:4"));
  FTask.Fnb_input_files = 0;
}

TEST_F(OptionsTest, MatricesTakeSixtyFourCoefficients) {
  std::string text;
  for (int i = 0; i < 64; ++i)
    text += (i ? ", " : "") + std::to_string(i + 1);
  FTask.ParseOption("intra_matrix", text + ",junk after the last");
  ASSERT_TRUE(FTask.Fintra_matrix.has_value());
  EXPECT_EQ((*FTask.Fintra_matrix)[0], 1);
  EXPECT_EQ((*FTask.Fintra_matrix)[63], 64);
  EXPECT_FALSE(FTask.Finter_matrix.has_value());
  // A refused text keeps the matrix there was.
  EXPECT_THROW(FTask.ParseOption("intra_matrix", "1,2,3"), FFmpegException);
  EXPECT_EQ((*FTask.Fintra_matrix)[2], 3);
  EXPECT_EQ((*FTask.Fintra_matrix)[63], 64);
}

TEST_F(OptionsTest, BitstreamFiltersJoinTheChainOfTheirKind) {
  FTask.ParseOption("vbsf", "h264_mp4toannexb");
  FTask.ParseOption("vbsf", "null=ignored=args");
  FTask.ParseOption("absf", "aac_adtstoasc");
  FTask.ParseOption("sbsf", "null");
  FTask.ParseOption("vbsf", "=h264_mp4toannexb");
  ASSERT_EQ(FTask.Fvideo_bitstream_filters.size(), 2u);
  EXPECT_STREQ(FTask.Fvideo_bitstream_filters[0]->filter->name, "h264_mp4toannexb");
  EXPECT_STREQ(FTask.Fvideo_bitstream_filters[1]->filter->name, "null");
  ASSERT_EQ(FTask.Faudio_bitstream_filters.size(), 1u);
  EXPECT_STREQ(FTask.Faudio_bitstream_filters[0]->filter->name, "aac_adtstoasc");
  EXPECT_EQ(FTask.Fsubtitle_bitstream_filters.size(), 1u);
}

TEST_F(OptionsTest, InformationalOptionsOnlyLog) {
  for (const char *name : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters",
                           "i", "y", "benchmark"}) {
    FTask.ParseOption(name, "x");
    EXPECT_TRUE(Logged(llInfo, std::string("Do nothing: option - ") + name)) << name;
  }
  FTask.ParseOption("timelimit", "10");
  EXPECT_TRUE(Logged(llWarning, "Warning: -timelimit not implemented on Windows"));
  FTask.ParseOption("f", "pgmyuv");
  EXPECT_TRUE(Logged(llInfo, "pgmyuv format is deprecated, use image2"));
  FTask.ParseOption("s", "320x240");
  FTask.ParseOption("croptop", "2");
  EXPECT_TRUE(Logged(llWarning, "CropXXX is deprecated in favor of the crop avfilter"));

  ClearLog();
  FTask.ParseOption("pix_fmt", "list");
  {
    std::lock_guard<std::mutex> lock(FLock);
    ASSERT_GT(FLines.size(), 60u);
    EXPECT_EQ(FLines[0].second.rfind("name", 0), 0u) << FLines[0].second;
    EXPECT_EQ(FLines[1].second.rfind("yuv420p", 0), 0u) << FLines[1].second;
  }
  EXPECT_EQ(FTask.Fframe_pix_fmt, AV_PIX_FMT_NONE);
  ClearLog();
  FTask.ParseOption("sample_fmt", "list");
  {
    std::lock_guard<std::mutex> lock(FLock);
    EXPECT_EQ(FLines.size(), 1u + AV_SAMPLE_FMT_NB);
  }
  FTask.ParseOption("loglevel", "warning");
  EXPECT_EQ(GetLogger()->LogLevel(), llWarning);
}

TEST_F(OptionsTest, VstatsNamesAFileInTheProgramFolder) {
  FTask.ParseOption("vstats", "");
  const std::string name = FTask.Fvstats_filename;
  ASSERT_EQ(name.rfind(ApplicationFolder() + "vstats_", 0), 0u) << name;
  const std::string rest = name.substr(ApplicationFolder().size() + 7);
  EXPECT_EQ(rest.size(), 10u) << rest;
  EXPECT_EQ(rest.substr(6), ".log");
  EXPECT_EQ(rest.find_first_not_of("0123456789"), 6u);
}

TEST_F(OptionsTest, BitRatesGoToTheirTemplateAndWarnWhenTooLow) {
  FTask.ParseOption("b", "800000");
  EXPECT_EQ(TemplateInt(0, "b"), 800000);
  // The old bit rate option was video-only; the audio template keeps its own.
  EXPECT_NE(TemplateInt(1, "b"), 800000);
  FTask.ParseOption("ab", "64000");
  EXPECT_EQ(TemplateInt(1, "b"), 64000);
  EXPECT_EQ(TemplateInt(0, "b"), 800000);
  FTask.ParseOption("vb", "900000");
  EXPECT_EQ(TemplateInt(0, "b"), 900000);
  EXPECT_FALSE(Logged(llWarning, "WARNING: The bitrate parameter is set too low. It takes "
                                 "bits/s as argument, not kbits/s"));
  FTask.ParseOption("ab", "64");
  EXPECT_TRUE(Logged(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s "
                                "as argument, not kbits/s"));
  EXPECT_EQ(TemplateInt(0, "b"), 900000);
}

TEST_F(OptionsTest, UnknownNamesAreIgnored) {
  const int before = FTask.FOptions->opt_name_count();
  EXPECT_NO_THROW(FTask.ParseOption("foo", "1"));
  EXPECT_NO_THROW(FTask.ParseOption("g", "not a number"));
  EXPECT_NO_THROW(FTask.ParseOption("", ""));
  EXPECT_NO_THROW(FTask.ParseOption("VCODEC", "mpeg4")); // names arrive lower-cased
  EXPECT_EQ(FTask.Fvideo_codec_name, "");
  EXPECT_EQ(FTask.FOptions->opt_name_count(), before);
  EXPECT_TRUE(Logged(llError, "Invalid value \"not a number\" for option \"g\""));
}

TEST_F(OptionsTest, CodecOptionsFindTheirPlace) {
  TFFOptions &o = *FTask.FOptions;
  FTask.ParseOption("vcodec", "libx264");
  FTask.ParseOption("f", "vcd");
  const struct {
    std::string Name;
    const char *Value;
    bool Result;
    std::function<bool()> Check;
  } cases[] = {
      {"", "1", false, [] { return true; }},
      {"g", " ", false, [] { return true; }},
      {"bogus_option", "1", false, [] { return true; }},
      {"g", "abc", false, [] { return true; }},
      {std::string("g\0x", 3), "1", false, [] { return true; }},
      // Generic codec options, on every template whose media type they carry.
      {" g ", " 100 ", true, [&] { return o.avcodec_opts[0]->gop_size == 100; }},
      {"strict", "-2", true,
       [&] {
         return o.avcodec_opts[0]->strict_std_compliance == -2 &&
                o.avcodec_opts[1]->strict_std_compliance == -2;
       }},
      {"flags", "+bitexact", true,
       [&] { return (o.avcodec_opts[1]->flags & AV_CODEC_FLAG_BITEXACT) != 0; }},
      // "a", "v" or "s" and an option of that media type's template.
      {"abt", "5000", true, [&] { return o.avcodec_opts[1]->bit_rate_tolerance == 5000; }},
      // Private options of the chosen encoder, kept for avcodec_open2.
      {"coder", "cavlc", true, [&] { return PrivateOption(0, "coder") == "cavlc"; }},
      {"x264-params", "keyint=60", true,
       [&] { return PrivateOption(0, "x264-params") == "keyint=60"; }},
      {"x264-params", "bframes=2", true,
       [&] { return PrivateOption(0, "x264-params") == "keyint=60:bframes=2"; }},
      {"coder", "no_such_coder", false, [&] { return PrivateOption(0, "coder") == "cavlc"; }},
      // Format options: generic on the template, the muxer's own kept for the header.
      {"packetsize", "2324", true, [&] { return o.avformat_opts->packet_size == 2324; }},
      {"muxrate", "1411200", true,
       [&] {
         const AVDictionaryEntry *e =
             av_dict_get(o.format_private_opts.get(), "muxrate", nullptr, 0);
         return e && std::string(e->value) == "1411200";
       }},
      // Scaler options.
      {"sws_flags", "bilinear", true, [&] { return o.SwsFlags() == SWS_BILINEAR; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name + "=" + c.Value);
    EXPECT_EQ(FTask.SetCodecOption(c.Name, c.Value), c.Result);
    EXPECT_TRUE(c.Check());
  }
  EXPECT_TRUE(FTask.SetCodecOptionInt("keyint_min", 12));
  EXPECT_EQ(o.avcodec_opts[0]->keyint_min, 12);
  const std::vector<std::string> names = {"g",       "strict",      "flags",       "bt",
                                          "coder",   "x264-params", "x264-params", "packetsize",
                                          "muxrate", "sws_flags",   "keyint_min"};
  EXPECT_EQ(o.opt_names, names);
}

TEST_F(OptionsTest, DebugOptionRaisesTheLogLevel) {
  EXPECT_TRUE(FTask.SetCodecOption("debug", "pict"));
  EXPECT_EQ(GetLogger()->LogLevel(), llDebug);
}

TEST_F(OptionsTest, TemplatesCopyOnlyWhatWasSet) {
  FTask.ParseOption("b", "800000");
  FTask.ParseOption("flags", "+bitexact");
  FTask.ParseOption("g", "50");
  // An encoder's own default flag bits survive the copy.
  CodecContextPtr video(avcodec_alloc_context3(avcodec_find_encoder_by_name("libx264")));
  ASSERT_TRUE(video->flags & AV_CODEC_FLAG_CLOSED_GOP);
  ASSERT_EQ(FTask.FOptions->ApplyCodecOptions(video.get(), AVMEDIA_TYPE_VIDEO,
                                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM),
            0);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_CLOSED_GOP);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_BITEXACT);
  EXPECT_EQ(video->bit_rate, 800000);
  EXPECT_EQ(video->gop_size, 50);
  // Video-only options do not reach an audio encoder.
  CodecContextPtr audio(avcodec_alloc_context3(avcodec_find_encoder_by_name("mp2")));
  const int64_t rate = audio->bit_rate;
  ASSERT_EQ(FTask.FOptions->ApplyCodecOptions(audio.get(), AVMEDIA_TYPE_AUDIO,
                                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM),
            0);
  EXPECT_EQ(audio->bit_rate, rate);
  EXPECT_EQ(audio->gop_size, 0);
  EXPECT_TRUE(audio->flags & AV_CODEC_FLAG_BITEXACT);

  FTask.ParseOption("packetsize", "2048");
  OutputFormatContextPtr mux(avformat_alloc_context());
  ASSERT_EQ(FTask.FOptions->ApplyFormatOptions(mux.get(), AV_OPT_FLAG_ENCODING_PARAM), 0);
  EXPECT_EQ(mux->packet_size, 2048u);
}

TEST_F(OptionsTest, PrivateOptionsForAnotherEncoderAreLeftOverAtOpen) {
  FTask.ParseOption("vcodec", "libx264");
  FTask.ParseOption("coder", "0");
  FTask.ParseOption("sc_threshold", "0");
  TDictionary priv = FTask.FOptions->CodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
  const AVCodec *mpeg4 = avcodec_find_encoder_by_name("mpeg4");
  CodecContextPtr ctx(avcodec_alloc_context3(mpeg4));
  ctx->width = 64;
  ctx->height = 48;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = {1, 25};
  {
    TLibraryLockGuard lock;
    ASSERT_EQ(avcodec_open2(ctx.get(), mpeg4, priv.Ref()), 0);
  }
  // mpeg4 has a scene-change threshold of its own but no entropy coder choice.
  EXPECT_EQ(priv.Count(), 1);
  EXPECT_NE(av_dict_get(priv.get(), "coder", nullptr, 0), nullptr);
}

TEST_F(OptionsTest, MuxPreloadReachesTheMuxersThatHaveIt) {
  FTask.ParseOption("muxpreload", "0.44");
  TDictionary vcd = FTask.MuxerPrivateOptions(av_guess_format("vcd", nullptr, nullptr));
  const AVDictionaryEntry *e = av_dict_get(vcd.get(), "preload", nullptr, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->value, "440000");
  TDictionary mp4 = FTask.MuxerPrivateOptions(av_guess_format("mp4", nullptr, nullptr));
  EXPECT_EQ(mp4.Count(), 0);
  EXPECT_EQ(FTask.MuxMaxDelay_us(), 700000);
}

TEST_F(OptionsTest, OptionsWithoutTemplatesAreRefusedQuietly) {
  TCustomFFmpeg task;
  EXPECT_FALSE(task.SetCodecOption("g", "10"));
  EXPECT_EQ(Refusal("threads", "1"), "TODO: option - threads");
  try {
    task.ApplyPreset("vpre", "libx264-main");
    ADD_FAILURE() << "applied";
  } catch (const FFmpegException &e) {
    EXPECT_STREQ(e.what(), "libx264-main: Invalid option or argument: \"flags2=-dct8x8\", parsed "
                           "as \"flags2\" = \"-dct8x8\"");
  }
}

TEST_F(OptionsTest, OddValuesNeverCrashTheParser) {
  const std::string big(1 << 20, '9');
  std::string mixed(1 << 20, 'a');
  mixed[1000] = '\0';
  mixed[2000] = '=';
  mixed[3000] = ':';
  const std::string values[] = {"",    big,      mixed,  "\xff\xfe\x80", std::string("1\0x", 3),
                                ":",   "=",      "-1",   "1e999",        "0x",
                                "+-+", "1:2:3:", "\r\n", "<CRLF>",       "-2147483649"};
  std::vector<std::string> names = TCustomFFmpeg::OptionNames();
  names.insert(names.end(), {"g", "flags", "flags2", "partitions", "coder", "x264-params", big});
  for (const std::string &name : names) {
    // These would load modules or read files named by the value.
    if (name == "vhook" || name == "apre" || name == "vpre" || name == "spre" || name == "fpre")
      continue;
    for (const std::string &value : values) {
      try {
        FTask.ParseOption(name, value);
      } catch (const FFmpegException &) {
      } catch (const EConvertError &) {
      }
    }
  }
  FTask.ParseOption("vcodec", "mpeg4");
  EXPECT_EQ(FTask.Fvideo_codec_name, "mpeg4");
  const std::string text = "a=" + mixed + "\r\n" + big + "<CRLF>b=\xff";
  EXPECT_EQ(SplitOptionText(text).size(), 3u);
}

TEST(OptionText, SplitsNormalizedLines) {
  const struct {
    std::string Text;
    std::vector<std::pair<std::string, std::string>> Lines;
  } cases[] = {
      {"vcodec=mpeg4\r\nb=800000", {{"vcodec", "mpeg4"}, {"b", "800000"}}},
      {"  \t a=1\rb=2\nc=3 \r\n", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"acodec=aac<CRLF>newaudio=", {{"acodec", "aac"}, {"newaudio", ""}}},
      {"metadata=title=A=B", {{"metadata", "title=A=B"}}},
      {"VCODEC = x ", {{"VCODEC ", " x"}}},
      {"vn\n\n=5", {{"vn", ""}, {"", "5"}}},
      {std::string("a=1\0b=2", 7), {{"a", std::string("1\0b=2", 5)}}},
      {"", {}},
  };
  for (const auto &c : cases) {
    std::vector<std::pair<std::string, std::string>> got;
    for (const TOptionLine &l : SplitOptionText(c.Text))
      got.emplace_back(l.Name, l.Value);
    EXPECT_EQ(got, c.Lines) << c.Text;
  }
}

TEST(OptionTranslation, OldNamesBecomeTodaysOptions) {
  using S = std::vector<TCodecSetting>;
  const struct {
    const char *Name;
    const char *Value;
    const char *Codec;
    S Settings;
  } cases[] = {
      {"g", "250", "libx264", {{"g", "250"}}},
      {"directpred", "3", "libx264", {{"direct-pred", "3"}}},
      {"cqp", "0", "libx264", {{"qp", "0"}}},
      {"partitions",
       "+parti8x8+parti4x4+partp8x8+partb8x8",
       "libx264",
       {{"partitions", "i8x8,i4x4,p8x8,b8x8"}}},
      {"partitions", "-parti8x8-parti4x4-partp8x8-partb8x8", "libx264", {{"partitions", "none"}}},
      {"partitions",
       "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8",
       "libx264",
       {{"partitions", "i4x4,p8x8"}}},
      {"partitions", "i8x8,p8x8", "libx264", {{"partitions", "i8x8,p8x8"}}},
      {"flags", "+loop", "libx264", {}},
      {"flags", "-loop", "libx264", {{"x264-params", "no-deblock=1"}}},
      {"flags", "-loop", "h263p", {{"flags", "-loop"}}},
      {"flags", "+scan_offset", "mpeg2video", {{"scan_offset", "1"}}},
      {"flags", "+bitexact+scan_offset", "", {{"flags", "+bitexact"}, {"scan_offset", "1"}}},
      {"flags2", "+local_header", "libx264", {{"flags2", "+local_header"}}},
      {"flags2",
       "+mixed_refs+wpred+dct8x8+fastpskip",
       "libx264",
       {{"weightb", "1"},
        {"mixed-refs", "1"},
        {"8x8dct", "1"},
        {"b-pyramid", "none"},
        {"fast-pskip", "1"},
        {"mbtree", "1"}}},
      {"flags2",
       "-wpred-dct8x8+aud",
       "libx264",
       {{"weightb", "0"},
        {"mixed-refs", "0"},
        {"8x8dct", "0"},
        {"b-pyramid", "none"},
        {"fast-pskip", "1"},
        {"mbtree", "1"},
        {"aud", "1"}}},
      {"flags2", "+ivlc", "mpeg2video", {{"intra_vlc", "1"}}},
      {"flags2", "+wpred++", "libx264", {{"flags2", "+wpred++"}}},
  };
  for (const auto &c : cases) {
    TLegacyOptionState state;
    EXPECT_EQ(TranslateCodecOption(c.Name, c.Value, c.Codec, state), c.Settings)
        << c.Name << "=" << c.Value;
  }
  // The bits carry over from one flags2 text to the next, as the field did.
  TLegacyOptionState state;
  TranslateCodecOption("flags2", "+bpyramid", "libx264", state);
  const S second = TranslateCodecOption("flags2", "-mbtree", "libx264", state);
  EXPECT_NE(std::find(second.begin(), second.end(), TCodecSetting{"b-pyramid", "normal"}),
            second.end());
  EXPECT_NE(std::find(second.begin(), second.end(), TCodecSetting{"mbtree", "0"}), second.end());
}

TEST(OptionTranslation, TargetsAreOptionsOfTheirEncoders) {
  ASSERT_TRUE(FFLoader().Load(TaskListLibraries));
  for (const TTranslationTarget &t : TranslationTargets()) {
    const AVCodec *c = avcodec_find_encoder_by_name(t.Encoder);
    ASSERT_NE(c, nullptr) << t.Encoder;
    EXPECT_NE(av_opt_find(const_cast<const AVClass **>(&c->priv_class), t.Name, nullptr, 0,
                          AV_OPT_SEARCH_FAKE_OBJ),
              nullptr)
        << t.Encoder << " " << t.Name;
  }
}

} // namespace
