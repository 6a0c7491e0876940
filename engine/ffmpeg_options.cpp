#include "ffmpeg_transcoder.h"

#include "ff_logger.h"
#include "ff_utils.h"
#include "option_text.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

namespace {

[[noreturn]] void Raise(const std::string &AMessage) {
  throw FFmpegException(AMessage);
}

bool BoolValue(const std::string &AValue) {
  return AValue != "0";
}

// A strict number that must also fit a single float.
float StrToSingle(const std::string &AValue) {
  const double v = StrToFloat(AValue);
  if (std::fabs(v) > FLT_MAX)
    throw EConvertError("'" + AValue + "' is not a valid floating point value");
  return static_cast<float>(v);
}

// Reads an integer with C conventions (leading "0x" hexadecimal, "0" octal) at AText and moves
// past it; 0 when there is none. Limited to the int range.
int ReadCInt(const char *&AText) {
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(AText, &end, 0);
  AText = end;
  return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

// Reads a decimal number at AText, independent of the process locale; 0 when there is none.
double ReadDouble(const char *AText) {
  while (*AText == ' ' || *AText == '\t')
    ++AText;
  if (*AText == '+')
    ++AText;
  double v = 0;
  const char *end = AText + std::strlen(AText);
  if (std::from_chars(AText, end, v).ec != std::errc())
    return 0;
  return v;
}

// AValue / ADivisor rounded to the nearest integer, halves to even.
int64_t RoundDivEven(int64_t AValue, int64_t ADivisor) {
  int64_t q = AValue / ADivisor;
  int64_t r = AValue % ADivisor;
  if (r < 0) {
    r += ADivisor;
    --q;
  }
  if (2 * r > ADivisor || (2 * r == ADivisor && (q & 1) != 0))
    ++q;
  return q;
}

int64_t ParseTime(const std::string &AName, const std::string &AValue, bool ADuration) {
  int64_t us = 0;
  if (AValue.find('\0') != std::string::npos || av_parse_time(&us, AValue.c_str(), ADuration) < 0)
    Raise(Format("Invalid %s specification for %s: %s", ADuration ? "duration" : "date",
                 AName.c_str(), AValue.c_str()));
  return us;
}

} // namespace

void TCustomFFmpeg::Log(int ALevel, const std::string &AText) const {
  GetLogger()->Log(this, static_cast<TLogLevel>(ALevel), AText);
}

// ---------------------------------------------------------------------------------------------
// Defaults

void TCustomFFmpeg::ResetOptions() {
  Flast_asked_format.clear();
  Fframe_width = 0;
  Fframe_height = 0;
  Fframe_aspect_ratio = 0;
  Fframe_pix_fmt = AV_PIX_FMT_NONE;
  Faudio_sample_fmt = AV_SAMPLE_FMT_NONE;
  Fframe_topBand = 0;
  Fframe_bottomBand = 0;
  Fframe_leftBand = 0;
  Fframe_rightBand = 0;
  Fmax_frames.fill(INT_MAX);
  Fframe_rate = AVRational{0, 0};
  Fvideo_qscale = 0;
  Fintra_matrix.reset();
  Finter_matrix.reset();
  Fvideo_rc_override_string.clear();
  Fvideo_disable = false;
  Faudio_disable = false;
  Fsubtitle_disable = false;
  Fvideo_discard = 0;
  Fvideo_codec_name.clear();
  Faudio_codec_name.clear();
  Fsubtitle_codec_name.clear();
  Fvideo_stream_copy = 0;
  Faudio_stream_copy = 0;
  Fsubtitle_stream_copy = 0;
  Fvideo_codec_tag = 0;
  Faudio_codec_tag = 0;
  Fsubtitle_codec_tag = 0;
  Fvideo_language.clear();
  Faudio_language.clear();
  Fsubtitle_language.clear();
  Fsame_quality = false;
  Fdo_deinterlace = false;
  Ftop_field_first = -1;
  Fme_threshold = 0;
  Fintra_dc_precision = 8;
  Floop_input = false;
  Floop_output = -1;
  Fqp_hist = false;
  Fvfilters.clear();
  Fintra_only = false;
  Faudio_sample_rate = 44100;
  Fchannel_layout = 0;
  Faudio_qscale = -99999;
  Faudio_channels = 2;
  Fmux_preload = 0.5f;
  Fmux_max_delay = 0.7f;
  Frecording_time = INT64_MAX;
  Fstart_time = 0;
  Frecording_timestamp = 0;
  Finput_ts_offset = 0;
  Fmetadata.clear();
  Fdo_hex_dump = false;
  Fdo_pkt_dump = false;
  Fdo_psnr = false;
  Fdo_pass = 0;
  Fpass_logfilename_prefix.clear();
  Fvideo_sync_method = -1;
  Faudio_sync_method = 0;
  Faudio_drift_threshold = 0.1f;
  Fcopy_ts = false;
  Fopt_shortest = false;
  Fvideo_global_header = 0;
  Fvstats_filename.clear();
  Fopt_programid = 0;
  Fcopy_initial_nonkeyframes = 0;
  Frate_emu = false;
  Fvideo_channel = 0;
  Fvideo_standard.clear();
  Ftarget_rate_range.clear();
  Faudio_volume = 256;
  Fexit_on_error = false;
  Fusing_vhook = false;
  FHookFrameNumber = 0;
  Fverbose = 1;
  Fthread_count = 1;
  Finput_sync = false;
  Flimit_filesize = 0;
  Fforce_fps = false;
  Fpgmyuv_compatibility_hack = 0;
  Fdts_delta_threshold = 10;
  Fsws_flags = 4; // bicubic
  Fstreamid_map.fill(0);
  Fstream_maps.clear();
  Fmeta_data_maps.clear();
  Finput_files_ts_scale.assign(static_cast<size_t>(FMaxFiles), {});
  Fvideo_bitstream_filters.clear();
  Faudio_bitstream_filters.clear();
  Fsubtitle_bitstream_filters.clear();
  ReleaseFrameHooks(&FFirstHook);
  // The engine's own sink filter is a buffersink instance made per graph: nothing to install.
}

// ---------------------------------------------------------------------------------------------
// The vocabulary

const std::vector<TCustomFFmpeg::TOptionDef> &TCustomFFmpeg::OptionTable() {
  using T = TCustomFFmpeg;
  static const std::vector<TOptionDef> table = {
      {"L", &T::opt_do_nothing},
      {"h", &T::opt_do_nothing},
      {"version", &T::opt_do_nothing},
      {"formats", &T::opt_do_nothing},
      {"codecs", &T::opt_do_nothing},
      {"bsfs", &T::opt_do_nothing},
      {"protocols", &T::opt_do_nothing},
      {"filters", &T::opt_do_nothing},
      {"loglevel", &T::opt_loglevel},
      {"f", &T::opt_format},
      {"i", &T::opt_do_nothing},
      {"y", &T::opt_do_nothing},
      {"map", &T::opt_map},
      {"map_meta_data", &T::opt_map_meta_data},
      {"t", &T::opt_recording_time},
      {"fs", &T::opt_limit_filesize},
      {"ss", &T::opt_start_time},
      {"itsoffset", &T::opt_input_ts_offset},
      {"itsscale", &T::opt_input_ts_scale},
      {"timestamp", &T::opt_recording_timestamp},
      {"metadata", &T::opt_metadata},
      {"dframes", &T::opt_max_frames},
      {"benchmark", &T::opt_do_nothing},
      {"timelimit", &T::opt_timelimit},
      {"dump", &T::opt_bool},
      {"hex", &T::opt_bool},
      {"re", &T::opt_bool},
      {"loop_input", &T::opt_bool},
      {"loop_output", &T::opt_int},
      {"v", &T::opt_verbose},
      {"target", &T::opt_target},
      {"threads", &T::opt_threads},
      {"vsync", &T::opt_int},
      {"async", &T::opt_int},
      {"adrift_threshold", &T::opt_float},
      {"vglobal", &T::opt_int},
      {"copyts", &T::opt_set_true},
      {"shortest", &T::opt_bool},
      {"dts_delta_threshold", &T::opt_float},
      {"programid", &T::opt_int},
      {"xerror", &T::opt_set_true},
      {"copyinkf", &T::opt_int},
      {"b", &T::opt_bitrate},
      {"vb", &T::opt_bitrate},
      {"vframes", &T::opt_max_frames},
      {"r", &T::opt_frame_rate},
      {"s", &T::opt_frame_size},
      {"aspect", &T::opt_frame_aspect_ratio},
      {"pix_fmt", &T::opt_pix_fmt},
      {"croptop", &T::opt_crop},
      {"cropbottom", &T::opt_crop},
      {"cropleft", &T::opt_crop},
      {"cropright", &T::opt_crop},
      {"padtop", &T::opt_pad},
      {"padbottom", &T::opt_pad},
      {"padleft", &T::opt_pad},
      {"padright", &T::opt_pad},
      {"padcolor", &T::opt_pad},
      {"intra", &T::opt_bool},
      {"vn", &T::opt_bool},
      {"vdt", &T::opt_int},
      {"qscale", &T::opt_qscale},
      {"rc_override", &T::opt_text},
      {"vcodec", &T::opt_codec},
      {"me_threshold", &T::opt_int},
      {"sameq", &T::opt_bool},
      {"pass", &T::opt_pass},
      {"passlogfile", &T::opt_text},
      {"deinterlace", &T::opt_bool},
      {"psnr", &T::opt_bool},
      {"vstats", &T::opt_vstats},
      {"vstats_file", &T::opt_text},
      {"vhook", &T::opt_vhook},
      {"vfilters", &T::opt_vfilters},
      {"vf", &T::opt_vfilters},
      {"intra_matrix", &T::opt_matrix},
      {"inter_matrix", &T::opt_matrix},
      {"top", &T::opt_int},
      {"dc", &T::opt_int},
      {"vtag", &T::opt_codec_tag},
      {"newvideo", &T::opt_new_stream},
      {"vlang", &T::opt_text},
      {"qphist", &T::opt_bool},
      {"force_fps", &T::opt_bool},
      {"streamid", &T::opt_streamid},
      {"ab", &T::opt_bitrate},
      {"aframes", &T::opt_max_frames},
      {"aq", &T::opt_float},
      {"ar", &T::opt_audio_rate},
      {"ac", &T::opt_audio_channels},
      {"an", &T::opt_bool},
      {"acodec", &T::opt_codec},
      {"atag", &T::opt_codec_tag},
      {"vol", &T::opt_int},
      {"newaudio", &T::opt_new_stream},
      {"alang", &T::opt_text},
      {"sample_fmt", &T::opt_sample_fmt},
      {"sn", &T::opt_bool},
      {"scodec", &T::opt_codec},
      {"newsubtitle", &T::opt_new_stream},
      {"slang", &T::opt_text},
      {"stag", &T::opt_codec_tag},
      {"vc", &T::opt_int},
      {"tvstd", &T::opt_text},
      {"isync", &T::opt_bool},
      {"muxdelay", &T::opt_float},
      {"muxpreload", &T::opt_float},
      {"absf", &T::opt_bsf},
      {"vbsf", &T::opt_bsf},
      {"sbsf", &T::opt_bsf},
      {"apre", &T::opt_preset},
      {"vpre", &T::opt_preset},
      {"spre", &T::opt_preset},
      {"fpre", &T::opt_preset},
  };
  return table;
}

const std::vector<std::string> &TCustomFFmpeg::OptionNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const TOptionDef &d : OptionTable())
      n.emplace_back(d.Name);
    return n;
  }();
  return names;
}

void TCustomFFmpeg::ParseOption(const std::string &AName, const std::string &AValue) {
  for (const TOptionDef &d : OptionTable())
    if (AName == d.Name) {
      (this->*d.Handler)(AName, AValue);
      return;
    }
  SetCodecOption(AName, AValue);
}

bool *TCustomFFmpeg::BoolField(const std::string &AName) {
  const std::pair<const char *, bool *> fields[] = {{"dump", &Fdo_pkt_dump},
                                                    {"hex", &Fdo_hex_dump},
                                                    {"re", &Frate_emu},
                                                    {"loop_input", &Floop_input},
                                                    {"shortest", &Fopt_shortest},
                                                    {"intra", &Fintra_only},
                                                    {"vn", &Fvideo_disable},
                                                    {"an", &Faudio_disable},
                                                    {"sn", &Fsubtitle_disable},
                                                    {"sameq", &Fsame_quality},
                                                    {"deinterlace", &Fdo_deinterlace},
                                                    {"psnr", &Fdo_psnr},
                                                    {"qphist", &Fqp_hist},
                                                    {"force_fps", &Fforce_fps},
                                                    {"isync", &Finput_sync},
                                                    {"copyts", &Fcopy_ts},
                                                    {"xerror", &Fexit_on_error}};
  for (const auto &f : fields)
    if (AName == f.first)
      return f.second;
  return nullptr;
}

int *TCustomFFmpeg::IntField(const std::string &AName) {
  const std::pair<const char *, int *> fields[] = {
      {"loop_output", &Floop_output}, {"vsync", &Fvideo_sync_method},
      {"async", &Faudio_sync_method}, {"vglobal", &Fvideo_global_header},
      {"programid", &Fopt_programid}, {"copyinkf", &Fcopy_initial_nonkeyframes},
      {"vdt", &Fvideo_discard},       {"me_threshold", &Fme_threshold},
      {"top", &Ftop_field_first},     {"dc", &Fintra_dc_precision},
      {"vol", &Faudio_volume},        {"vc", &Fvideo_channel}};
  for (const auto &f : fields)
    if (AName == f.first)
      return f.second;
  return nullptr;
}

float *TCustomFFmpeg::FloatField(const std::string &AName) {
  const std::pair<const char *, float *> fields[] = {{"adrift_threshold", &Faudio_drift_threshold},
                                                     {"dts_delta_threshold", &Fdts_delta_threshold},
                                                     {"aq", &Faudio_qscale},
                                                     {"muxdelay", &Fmux_max_delay},
                                                     {"muxpreload", &Fmux_preload}};
  for (const auto &f : fields)
    if (AName == f.first)
      return f.second;
  return nullptr;
}

std::string *TCustomFFmpeg::TextField(const std::string &AName) {
  const std::pair<const char *, std::string *> fields[] = {
      {"rc_override", &Fvideo_rc_override_string},
      {"passlogfile", &Fpass_logfilename_prefix},
      {"vstats_file", &Fvstats_filename},
      {"vlang", &Fvideo_language},
      {"alang", &Faudio_language},
      {"slang", &Fsubtitle_language},
      {"tvstd", &Fvideo_standard}};
  for (const auto &f : fields)
    if (AName == f.first)
      return f.second;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Option handlers

void TCustomFFmpeg::opt_do_nothing(const std::string &AName, const std::string &) {
  Log(llInfo, "Do nothing: option - " + AName);
}

void TCustomFFmpeg::opt_loglevel(const std::string &, const std::string &AValue) {
  GetLogger()->OptLogLevel(AValue);
}

void TCustomFFmpeg::opt_format(const std::string &, const std::string &AValue) {
  SetFileFormat(AValue);
}

void TCustomFFmpeg::opt_map(const std::string &, const std::string &AValue) {
  const size_t limit = static_cast<size_t>(FMaxFiles) * MAX_STREAMS;
  if (Fstream_maps.size() >= limit)
    Raise(Format("Too many stream maps: at most %zu", limit));
  TAVStreamMap m;
  const char *p = AValue.c_str();
  m.file_index = ReadCInt(p);
  if (*p)
    ++p;
  m.stream_index = ReadCInt(p);
  if (*p) {
    ++p;
    m.sync_file_index = ReadCInt(p);
    if (*p)
      ++p;
    m.sync_stream_index = ReadCInt(p);
  } else {
    m.sync_file_index = m.file_index;
    m.sync_stream_index = m.stream_index;
  }
  Fstream_maps.push_back(m);
}

void TCustomFFmpeg::opt_map_meta_data(const std::string &, const std::string &AValue) {
  if (Fmeta_data_maps.size() >= static_cast<size_t>(FMaxFiles))
    Raise(Format("Too many metadata maps: at most %d", FMaxFiles));
  TAVMetaDataMap m;
  const char *p = AValue.c_str();
  m.out_file = ReadCInt(p);
  if (*p)
    ++p;
  m.in_file = ReadCInt(p);
  Fmeta_data_maps.push_back(m);
}

void TCustomFFmpeg::opt_recording_time(const std::string &AName, const std::string &AValue) {
  SetRecordingTime(ParseTime(AName, AValue, true));
}

void TCustomFFmpeg::opt_limit_filesize(const std::string &, const std::string &AValue) {
  Flimit_filesize = StrToInt64(AValue);
}

void TCustomFFmpeg::opt_start_time(const std::string &AName, const std::string &AValue) {
  Fstart_time = ParseTime(AName, AValue, true);
}

void TCustomFFmpeg::opt_input_ts_offset(const std::string &AName, const std::string &AValue) {
  Finput_ts_offset = ParseTime(AName, AValue, true);
}

void TCustomFFmpeg::opt_input_ts_scale(const std::string &, const std::string &AValue) {
  const char *p = AValue.c_str();
  char *end = nullptr;
  const long long stream = std::strtoll(p, &end, 0);
  p = end;
  if (*p)
    ++p;
  const double scale = ReadDouble(p);
  if (stream < 0 || stream >= MAX_STREAMS)
    Raise(Format("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
  // Once every input is open there is no next input the scale could apply to.
  if (Fnb_input_files < static_cast<int>(Finput_files_ts_scale.size()))
    Finput_files_ts_scale[Fnb_input_files][stream] = std::isfinite(scale) ? scale : 0;
}

void TCustomFFmpeg::opt_recording_timestamp(const std::string &AName, const std::string &AValue) {
  Frecording_timestamp = RoundDivEven(ParseTime(AName, AValue, false), 1000000);
}

void TCustomFFmpeg::opt_metadata(const std::string &, const std::string &AValue) {
  const size_t eq = AValue.find('=');
  if (eq == std::string::npos)
    Raise("Missing =");
  AddMetadata(AValue.substr(0, eq), AValue.substr(eq + 1));
}

void TCustomFFmpeg::opt_max_frames(const std::string &AName, const std::string &AValue) {
  const int index = AName[0] == 'v' ? 0 : AName[0] == 'a' ? 1 : 2;
  Fmax_frames[index] = StrToInt(AValue);
}

void TCustomFFmpeg::opt_timelimit(const std::string &, const std::string &) {
  Log(llWarning, "Warning: -timelimit not implemented on Windows");
}

void TCustomFFmpeg::opt_bool(const std::string &AName, const std::string &AValue) {
  *BoolField(AName) = BoolValue(AValue);
}

void TCustomFFmpeg::opt_int(const std::string &AName, const std::string &AValue) {
  *IntField(AName) = StrToInt(AValue);
}

void TCustomFFmpeg::opt_float(const std::string &AName, const std::string &AValue) {
  *FloatField(AName) = StrToSingle(AValue);
}

void TCustomFFmpeg::opt_set_true(const std::string &AName, const std::string &) {
  *BoolField(AName) = true;
}

void TCustomFFmpeg::opt_text(const std::string &AName, const std::string &AValue) {
  *TextField(AName) = AValue;
}

void TCustomFFmpeg::opt_verbose(const std::string &, const std::string &AValue) {
  SetVerbose(StrToInt(AValue));
}

void TCustomFFmpeg::opt_target(const std::string &, const std::string &AValue) {
  SplitTarget(AValue);
}

void TCustomFFmpeg::opt_threads(const std::string &AName, const std::string &) {
  Raise("TODO: option - " + AName);
}

void TCustomFFmpeg::opt_bitrate(const std::string &AName, const std::string &AValue) {
  if (!SetCodecOption(AName, AValue))
    return;
  const AVCodecContext *tmpl = FOptions->avcodec_opts[AName == "ab" ? 1 : 0].get();
  if (tmpl->bit_rate < 1000)
    Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, "
                   "not kbits/s");
}

void TCustomFFmpeg::opt_frame_rate(const std::string &, const std::string &AValue) {
  SetFrameRate(AValue);
}

void TCustomFFmpeg::opt_frame_size(const std::string &, const std::string &AValue) {
  SetFrameSize(AValue);
}

void TCustomFFmpeg::opt_frame_aspect_ratio(const std::string &, const std::string &AValue) {
  SetFrameAspectRatio(AValue);
}

void TCustomFFmpeg::opt_pix_fmt(const std::string &, const std::string &AValue) {
  if (AValue == "list") {
    char line[256];
    Log(llInfo, av_get_pix_fmt_string(line, sizeof(line), AV_PIX_FMT_NONE));
    for (const AVPixFmtDescriptor *d = av_pix_fmt_desc_next(nullptr); d != nullptr;
         d = av_pix_fmt_desc_next(d))
      Log(llInfo, av_get_pix_fmt_string(line, sizeof(line), av_pix_fmt_desc_get_id(d)));
    return;
  }
  Fframe_pix_fmt =
      AValue.find('\0') == std::string::npos ? av_get_pix_fmt(AValue.c_str()) : AV_PIX_FMT_NONE;
  if (Fframe_pix_fmt == AV_PIX_FMT_NONE)
    Raise(Format("Unknown pixel format requested: %s", AValue.c_str()));
}

void TCustomFFmpeg::opt_crop(const std::string &AName, const std::string &AValue) {
  const int value = StrToInt(AValue);
  if (AName == "croptop")
    SetCropTop(value);
  else if (AName == "cropbottom")
    SetCropBottom(value);
  else if (AName == "cropleft")
    SetCropLeft(value);
  else
    SetCropRight(value);
}

void TCustomFFmpeg::opt_pad(const std::string &, const std::string &) {
  Raise("Please use vfilters=pad");
}

void TCustomFFmpeg::opt_qscale(const std::string &, const std::string &AValue) {
  const float q = StrToSingle(AValue);
  if (!(q > 0 && q <= 255))
    Raise("qscale must be > 0.0 and <= 255");
  Fvideo_qscale = q;
}

void TCustomFFmpeg::opt_codec(const std::string &AName, const std::string &AValue) {
  if (AName[0] == 'v')
    SetVideoCodec(AValue);
  else if (AName[0] == 'a')
    SetAudioCodec(AValue);
  else
    SetSubtitleCodec(AValue);
}

void TCustomFFmpeg::opt_pass(const std::string &, const std::string &AValue) {
  const int pass = StrToInt(AValue);
  if (pass != 1 && pass != 2)
    Raise("pass number can be only 1 or 2");
  Fdo_pass = pass;
}

void TCustomFFmpeg::opt_vstats(const std::string &, const std::string &) {
  const time_t now = std::time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  Fvstats_filename = ApplicationFolder() +
                     Format("vstats_%02d%02d%02d.log", local.tm_hour, local.tm_min, local.tm_sec);
}

void TCustomFFmpeg::opt_vhook(const std::string &, const std::string &AValue) {
  constexpr size_t MaxArguments = 254;
  const bool bars = AValue.find('|') != std::string::npos;
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i <= AValue.size(); ++i) {
    const char c = i < AValue.size() ? AValue[i] : '\0';
    const bool separator = bars ? c == '|' : (c == ' ' || c == '\t');
    if (i == AValue.size() || separator) {
      if (!current.empty() && args.size() < MaxArguments)
        args.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  if (AddFrameHook(&FFirstHook, static_cast<int>(args.size()), argv.data()) != 0)
    Raise("Failed to add video hook function: " + AValue);
  Fusing_vhook = true;
}

void TCustomFFmpeg::opt_vfilters(const std::string &, const std::string &AValue) {
  SetVideoFilters(AValue);
}

void TCustomFFmpeg::opt_matrix(const std::string &AName, const std::string &AValue) {
  // Parsed into a copy: a refused text leaves the matrix as it was, since a zero coefficient
  // would reach the encoder's quantiser as a divisor.
  TQuantMatrix matrix{};
  const char *p = AValue.c_str();
  for (int i = 0; i < 64; ++i) {
    while (*p == ' ' || *p == '\t')
      ++p;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(p, &end, 10);
    const bool number = end != p && errno == 0 && v >= 1 && v <= 255;
    p = end;
    while (*p == ' ' || *p == '\t')
      ++p;
    if (!number || (i < 63 && *p != ','))
      Raise(Format("Syntax error in matrix \"%s\" at coeff %d", AValue.c_str(), i));
    matrix[i] = static_cast<uint16_t>(v);
    if (i < 63)
      ++p;
  }
  (AName == "intra_matrix" ? Fintra_matrix : Finter_matrix) = matrix;
}

void TCustomFFmpeg::opt_codec_tag(const std::string &AName, const std::string &AValue) {
  if (AName[0] == 'v')
    SetVideoTag(AValue);
  else if (AName[0] == 'a')
    SetAudioTag(AValue);
  else
    SetCodecTag(Fsubtitle_codec_tag, AValue, "subtitle");
}

void TCustomFFmpeg::opt_new_stream(const std::string &AName, const std::string &) {
  if (Fnb_output_files <= 0)
    Raise("At least one output file must be specified");
  AVFormatContext *output = OutputFile(Fnb_output_files - 1);
  if (AName == "newvideo")
    new_video_stream(output);
  else if (AName == "newaudio")
    new_audio_stream(output);
  else
    new_subtitle_stream(output);
}

void TCustomFFmpeg::opt_streamid(const std::string &AName, const std::string &AValue) {
  const size_t colon = AValue.find(':');
  const auto syntax = [&] {
    Raise(Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                 AValue.c_str(), AName.c_str()));
  };
  if (colon == std::string::npos || colon == 0 || colon + 1 == AValue.size())
    syntax();
  const int index = StrToInt(AValue.substr(0, colon));
  const int value = StrToInt(AValue.substr(colon + 1));
  if (index < 0 || index >= MAX_STREAMS)
    syntax();
  Fstreamid_map[index] = value;
}

void TCustomFFmpeg::opt_audio_rate(const std::string &, const std::string &AValue) {
  SetAudioSampleRate(StrToInt(AValue));
}

void TCustomFFmpeg::opt_audio_channels(const std::string &, const std::string &AValue) {
  SetAudioChannels(StrToInt(AValue));
}

void TCustomFFmpeg::opt_sample_fmt(const std::string &, const std::string &AValue) {
  if (AValue == "list") {
    char line[128];
    Log(llInfo, av_get_sample_fmt_string(line, sizeof(line), AV_SAMPLE_FMT_NONE));
    for (int f = 0; f < AV_SAMPLE_FMT_NB; ++f)
      Log(llInfo, av_get_sample_fmt_string(line, sizeof(line), static_cast<AVSampleFormat>(f)));
    return;
  }
  Faudio_sample_fmt = AValue.find('\0') == std::string::npos ? av_get_sample_fmt(AValue.c_str())
                                                             : AV_SAMPLE_FMT_NONE;
}

void TCustomFFmpeg::opt_bsf(const std::string &AName, const std::string &AValue) {
  if (!AValue.empty() && AValue[0] == '=')
    return;
  // Arguments after "=" are not used.
  const size_t eq = AValue.find('=');
  const std::string name = TrimText(eq != std::string::npos ? AValue.substr(0, eq) : AValue);
  const AVBitStreamFilter *filter =
      name.find('\0') == std::string::npos ? av_bsf_get_by_name(name.c_str()) : nullptr;
  if (filter == nullptr)
    Raise(Format("Unknown bitstream filter %s", TrimText(AValue).c_str()));
  AVBSFContext *ctx = nullptr;
  if (av_bsf_alloc(filter, &ctx) < 0)
    throw std::bad_alloc();
  BSFContextPtr owned(ctx);
  auto &chain = AName[0] == 'v'   ? Fvideo_bitstream_filters
                : AName[0] == 'a' ? Faudio_bitstream_filters
                                  : Fsubtitle_bitstream_filters;
  chain.push_back(std::move(owned));
}

void TCustomFFmpeg::opt_preset(const std::string &AName, const std::string &AValue) {
  ApplyPreset(AName, AValue);
}

// ---------------------------------------------------------------------------------------------
// Typed setters

void TCustomFFmpeg::SetFileFormat(const std::string &AValue) {
  if (AValue.empty())
    return;
  if (AValue == "pgmyuv") {
    Fpgmyuv_compatibility_hack = 1;
    Log(llInfo, "pgmyuv format is deprecated, use image2");
    Flast_asked_format = "image2";
  } else {
    Flast_asked_format = AValue;
  }
}

void TCustomFFmpeg::SetFrameRate(const std::string &AValue) {
  if (AValue.empty())
    return;
  AVRational rate{0, 0};
  if (AValue.find('\0') != std::string::npos || av_parse_video_rate(&rate, AValue.c_str()) < 0)
    Raise("Incorrect frame rate");
  Fframe_rate = rate;
}

void TCustomFFmpeg::SetFrameSize(const std::string &AValue) {
  if (AValue.empty())
    return;
  int width = 0, height = 0;
  if (AValue.find('\0') != std::string::npos ||
      av_parse_video_size(&width, &height, AValue.c_str()) < 0)
    Raise("Incorrect frame size");
  Fframe_width = width;
  Fframe_height = height;
}

void TCustomFFmpeg::SetFrameAspectRatio(const std::string &AValue) {
  if (AValue.empty())
    return;
  double ratio = 0;
  const size_t colon = AValue.find(':');
  if (colon != std::string::npos) {
    const int w = StrToIntDef(AValue.substr(0, colon), 0);
    const int h = StrToIntDef(AValue.substr(colon + 1), 0);
    ratio = h > 0 ? static_cast<double>(w) / h : 0;
  } else {
    try {
      ratio = StrToFloat(AValue);
    } catch (const EConvertError &) {
      ratio = 0;
    }
  }
  // A negative ratio describes no picture either.
  if (!(ratio > 0) || ratio > FLT_MAX)
    Raise("Incorrect aspect ratio specification.");
  Fframe_aspect_ratio = static_cast<float>(ratio);
}

void TCustomFFmpeg::SetCrop(int &ABand, int &AExtent, int AValue, bool AVertical) {
  if (AValue <= 0)
    return;
  if (AValue >= AExtent)
    Raise(AVertical ? "Vertical crop dimensions are outside the range of the original "
                      "image.\nRemember to crop first and scale second."
                    : "Horizontal crop dimensions are outside the range of the original "
                      "image.\nRemember to crop first and scale second.");
  Log(llWarning, "CropXXX is deprecated in favor of the crop avfilter");
  ABand = AValue;
  AExtent -= AValue;
}

void TCustomFFmpeg::SetCropTop(int AValue) {
  SetCrop(Fframe_topBand, Fframe_height, AValue, true);
}

void TCustomFFmpeg::SetCropBottom(int AValue) {
  SetCrop(Fframe_bottomBand, Fframe_height, AValue, true);
}

void TCustomFFmpeg::SetCropLeft(int AValue) {
  SetCrop(Fframe_leftBand, Fframe_width, AValue, false);
}

void TCustomFFmpeg::SetCropRight(int AValue) {
  SetCrop(Fframe_rightBand, Fframe_width, AValue, false);
}

void TCustomFFmpeg::SetAudioSampleRate(int AValue) {
  if (AValue > 0)
    Faudio_sample_rate = AValue;
}

void TCustomFFmpeg::SetAudioChannels(int AValue) {
  if (AValue > 0)
    Faudio_channels = AValue;
}

void TCustomFFmpeg::SetCodecName(std::string &AName, int &AStreamCopy, const std::string &AValue) {
  if (AValue.empty())
    return;
  AName.clear();
  if (AValue == "copy")
    AStreamCopy = 1;
  else
    AName = AValue;
}

void TCustomFFmpeg::SetVideoCodec(const std::string &AValue) {
  SetCodecName(Fvideo_codec_name, Fvideo_stream_copy, AValue);
}

void TCustomFFmpeg::SetAudioCodec(const std::string &AValue) {
  SetCodecName(Faudio_codec_name, Faudio_stream_copy, AValue);
}

void TCustomFFmpeg::SetSubtitleCodec(const std::string &AValue) {
  SetCodecName(Fsubtitle_codec_name, Fsubtitle_stream_copy, AValue);
}

void TCustomFFmpeg::SetCodecTag(uint32_t &ATag, const std::string &AValue, const char *AKind) {
  if (AValue.empty())
    return;
  if (AValue.size() != 4)
    Raise(std::string(AKind) + " tag parameter must be 4 chars");
  const auto *b = reinterpret_cast<const unsigned char *>(AValue.data());
  ATag = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void TCustomFFmpeg::SetVideoTag(const std::string &AValue) {
  SetCodecTag(Fvideo_codec_tag, AValue, "video");
}

void TCustomFFmpeg::SetAudioTag(const std::string &AValue) {
  SetCodecTag(Faudio_codec_tag, AValue, "audio");
}

void TCustomFFmpeg::SetVideoFilters(const std::string &AValue) {
  if (!AValue.empty())
    Fvfilters = AValue;
}

void TCustomFFmpeg::SetVerbose(int AValue) {
  Fverbose = AValue;
}

void TCustomFFmpeg::SetRecordingTime(int64_t ATime_us) {
  if (ATime_us == AV_NOPTS_VALUE)
    return;
  Frecording_time = ATime_us;
  FTotalOutputDuration = ATime_us;
}

void TCustomFFmpeg::SetStartTime(int64_t ATime_us) {
  if (ATime_us != AV_NOPTS_VALUE)
    Fstart_time = ATime_us;
}

void TCustomFFmpeg::SetProgramID(int AValue) {
  if (AValue >= 0)
    Fopt_programid = AValue;
}

void TCustomFFmpeg::SetAudioVolume(int AValue) {
  if (AValue >= 0)
    Faudio_volume = AValue;
}

void TCustomFFmpeg::AddMetadata(const std::string &AKey, const std::string &AValue) {
  Fmetadata.emplace_back(AKey, AValue);
}

// ---------------------------------------------------------------------------------------------
// Library options

bool TCustomFFmpeg::SetCodecOption(const std::string &AName, const std::string &AValue) {
  const std::string name = TrimText(AName);
  const std::string value = TrimText(AValue);
  if (name.empty() || value.empty() || !FOptions)
    return false;
  // A name or value cut short at a NUL would set something else than was asked for.
  if (name.find('\0') != std::string::npos || value.find('\0') != std::string::npos)
    return false;
  const TOptionOwners owners{Fvideo_codec_name, Faudio_codec_name, Fsubtitle_codec_name,
                             Flast_asked_format};
  for (const TCodecSetting &s :
       TranslateCodecOption(name, value, Fvideo_codec_name, FOptions->LegacyState)) {
    std::string set;
    switch (FOptions->Set(s.Name, s.Value, owners, set)) {
    case TOptionResult::orNotFound:
      return false;
    case TOptionResult::orInvalid:
      av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", s.Value.c_str(),
             s.Name.c_str());
      return false;
    case TOptionResult::orSet:
      break;
    }
  }
  if (FOptions->avcodec_opts[0]->debug != 0 || FOptions->avformat_opts->debug != 0)
    GetLogger()->SetLogLevel(llDebug);
  return true;
}

bool TCustomFFmpeg::SetCodecOptionInt(const std::string &AName, int64_t AValue) {
  return SetCodecOption(AName, std::to_string(AValue));
}

TDictionary TCustomFFmpeg::MuxerPrivateOptions(const AVOutputFormat *AFormat) const {
  TDictionary d = FOptions ? FOptions->FormatPrivateOptions() : TDictionary();
  // The mux preload is today a private option of the muxers that have it, in microseconds.
  if (AFormat != nullptr && AFormat->priv_class != nullptr &&
      av_opt_find(const_cast<const AVClass **>(&AFormat->priv_class), "preload", nullptr, 0,
                  AV_OPT_SEARCH_FAKE_OBJ) != nullptr &&
      av_dict_get(d.get(), "preload", nullptr, AV_DICT_MATCH_CASE) == nullptr)
    av_dict_set_int(d.Ref(), "preload", std::llround(static_cast<double>(Fmux_preload) * 1e6), 0);
  return d;
}

int64_t TCustomFFmpeg::MuxMaxDelay_us() const {
  return std::llround(static_cast<double>(Fmux_max_delay) * 1e6);
}
