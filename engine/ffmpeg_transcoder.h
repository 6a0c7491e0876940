// The transcoder: one conversion task. It receives options one at a time (a name and a text
// value, or a typed setter), keeps them in its fields until the next input is opened, the next
// output is created or the conversion runs, and then does the conversion.
//
// One header, one source file per concern:
//   ffmpeg_transcoder.cpp  creation, Reinitialize
//   ffmpeg_options.cpp     option fields, ParseOption, value parsers, setters, codec options
//   ffmpeg_presets.cpp     built-in and file presets, disc targets
//   ffmpeg_files.cpp       input opening, output creation, CloseFiles
#pragma once

#include "ff_base_component.h"
#include "ff_error.h"
#include "ff_options.h"
#include "ff_ptr.h"
#include "frame_hook.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Streams per file the option tables have room for.
constexpr int MAX_STREAMS = 20;
// The range of files per task.
constexpr int MIN_FILES = 1;
constexpr int MAX_FILES = 512;

// One "map" option.
struct TAVStreamMap {
  int file_index = 0;
  int stream_index = 0;
  int sync_file_index = 0;
  int sync_stream_index = 0;
};

// One "map_meta_data" option.
struct TAVMetaDataMap {
  int out_file = 0;
  int in_file = 0;
};

// 64 quantiser coefficients, in the order the encoder takes them.
using TQuantMatrix = std::array<uint16_t, 64>;

class TCustomFFmpeg : public TFFBaseComponent {
public:
  // AMaxFiles: inputs and outputs this task can have, limited to 1..512.
  explicit TCustomFFmpeg(int AMaxFiles = 20, void *AOwner = nullptr);
  ~TCustomFFmpeg() override;

  int MaxFiles() const { return FMaxFiles; }

  // Frees everything of an earlier run, gives every option its default and creates the option
  // templates. Does nothing while the libraries are not loaded.
  void Reinitialize();

  // ===== Options (ffmpeg_options.cpp, ffmpeg_presets.cpp) =====

  // Gives every option field its default; clears the timestamp scales, the stream-identifier
  // map, the map lists and the frame-hook chain. Leaves the templates alone.
  void ResetOptions();

  // Applies one option of the vocabulary; a name outside it goes to SetCodecOption. Errors
  // raise FFmpegException with the option's message, numbers that do not read EConvertError.
  void ParseOption(const std::string &AName, const std::string &AValue);
  // The vocabulary, in matching order.
  static const std::vector<std::string> &OptionNames();

  // Stores a library option in the templates; false for an unknown name or a refused value.
  // Old option names of the presets are translated first (option_translation.h).
  bool SetCodecOption(const std::string &AName, const std::string &AValue);
  bool SetCodecOptionInt(const std::string &AName, int64_t AValue);

  // AOption: "apre", "vpre", "spre" or "fpre"; AName a built-in preset, a name that with the
  // codec name of that kind makes one ("default" after vcodec libx264), or a preset file.
  void ApplyPreset(const std::string &AOption, const std::string &AName);
  // Applies the key=value lines of a preset; APresetName appears in the messages.
  void ApplyPresetText(const std::string &APresetName, const std::string &AText);

  // "pal-dvd", "ntsc-vcd", "dv50" ...
  void SplitTarget(const std::string &AValue);
  // ATarget "vcd", "svcd", "dvd", "dv" or "dv50"; ANorm "pal", "ntsc", "film" or anything
  // else to decide from the frame rate; ANormDefault decides when nothing else does.
  void SetTarget(const std::string &ATarget, const std::string &ANorm,
                 const std::string &ANormDefault);

  void AddMetadata(const std::string &AKey, const std::string &AValue);

  // Typed setters: each does what the option of the same effect does.
  void SetFileFormat(const std::string &AValue);       // "f"
  void SetFrameRate(const std::string &AValue);        // "r"
  void SetFrameSize(const std::string &AValue);        // "s"
  void SetFrameAspectRatio(const std::string &AValue); // "aspect"
  void SetCropTop(int AValue);
  void SetCropBottom(int AValue);
  void SetCropLeft(int AValue);
  void SetCropRight(int AValue);
  void SetAudioSampleRate(int AValue); // "ar"
  void SetAudioChannels(int AValue);   // "ac"
  void SetVideoCodec(const std::string &AValue);
  void SetAudioCodec(const std::string &AValue);
  void SetSubtitleCodec(const std::string &AValue);
  void SetVideoTag(const std::string &AValue);
  void SetAudioTag(const std::string &AValue);
  void SetVideoFilters(const std::string &AValue);
  void SetVerbose(int AValue); // "v"
  // Ignores AV_NOPTS_VALUE; else also the expected output duration.
  void SetRecordingTime(int64_t ATime_us);
  // Ignores AV_NOPTS_VALUE.
  void SetStartTime(int64_t ATime_us);
  // Ignores values below 0.
  void SetProgramID(int AValue);
  // Ignores values below 0.
  void SetAudioVolume(int AValue);
  void SetAudioSyncMethod(int AValue) { Faudio_sync_method = AValue; }
  void SetVideoSyncMethod(int AValue) { Fvideo_sync_method = AValue; }
  void SetMuxMaxDelay(float ASeconds) { Fmux_max_delay = ASeconds; }
  void SetMuxPreload(float ASeconds) { Fmux_preload = ASeconds; }

  // What a new output's muxer takes from the options, for avformat_write_header: the private
  // format options, and the mux preload where the muxer has that option. Entries left in it
  // afterwards belong to other formats.
  TDictionary MuxerPrivateOptions(const AVOutputFormat *AFormat) const;
  // The muxer's maximum delay in microseconds.
  int64_t MuxMaxDelay_us() const;

  // ----- Option state: written by the options and setters above, consumed by opening files
  // and by the run. Defaults are in ResetOptions. Times are microseconds unless said. -----
  std::string Flast_asked_format;
  int Fframe_width;
  int Fframe_height;
  float Fframe_aspect_ratio; // width/height; 0 = none
  AVPixelFormat Fframe_pix_fmt;
  AVSampleFormat Faudio_sample_fmt;
  int Fframe_topBand;
  int Fframe_bottomBand;
  int Fframe_leftBand;
  int Fframe_rightBand;
  std::array<int, 4> Fmax_frames; // by media type: video, audio, data, subtitle
  AVRational Fframe_rate;
  float Fvideo_qscale;
  std::optional<TQuantMatrix> Fintra_matrix;
  std::optional<TQuantMatrix> Finter_matrix;
  std::string Fvideo_rc_override_string;
  bool Fvideo_disable;
  bool Faudio_disable;
  bool Fsubtitle_disable;
  int Fvideo_discard;
  std::string Fvideo_codec_name; // empty = none
  std::string Faudio_codec_name;
  std::string Fsubtitle_codec_name;
  int Fvideo_stream_copy;
  int Faudio_stream_copy;
  int Fsubtitle_stream_copy;
  uint32_t Fvideo_codec_tag; // first character in the lowest byte; 0 = library default
  uint32_t Faudio_codec_tag;
  uint32_t Fsubtitle_codec_tag;
  std::string Fvideo_language;
  std::string Faudio_language;
  std::string Fsubtitle_language;
  bool Fsame_quality;
  bool Fdo_deinterlace;
  int Ftop_field_first;
  int Fme_threshold;
  int Fintra_dc_precision;
  bool Floop_input;
  int Floop_output;
  bool Fqp_hist;
  std::string Fvfilters;
  bool Fintra_only;
  int Faudio_sample_rate;
  int64_t Fchannel_layout; // channel mask
  float Faudio_qscale;     // -99999 = none
  int Faudio_channels;
  float Fmux_preload;   // seconds
  float Fmux_max_delay; // seconds
  int64_t Frecording_time;
  int64_t Fstart_time;
  int64_t Frecording_timestamp; // seconds since 1970
  int64_t Finput_ts_offset;
  std::vector<std::pair<std::string, std::string>> Fmetadata;
  bool Fdo_hex_dump;
  bool Fdo_pkt_dump;
  bool Fdo_psnr;
  int Fdo_pass;
  std::string Fpass_logfilename_prefix;
  int Fvideo_sync_method;
  int Faudio_sync_method;
  float Faudio_drift_threshold; // seconds
  bool Fcopy_ts;
  bool Fopt_shortest;
  int Fvideo_global_header;
  std::string Fvstats_filename;
  int Fopt_programid;
  int Fcopy_initial_nonkeyframes;
  bool Frate_emu;
  int Fvideo_channel;
  std::string Fvideo_standard;
  int Faudio_volume; // 256 = unchanged
  bool Fexit_on_error;
  bool Fusing_vhook;
  int Fverbose;
  int Fthread_count;
  bool Finput_sync;
  int64_t Flimit_filesize; // bytes; 0 = no limit
  bool Fforce_fps;
  int Fpgmyuv_compatibility_hack;
  float Fdts_delta_threshold; // seconds
  unsigned Fsws_flags;
  std::array<int, MAX_STREAMS> Fstreamid_map;
  std::vector<TAVStreamMap> Fstream_maps;      // at most MaxFiles() * MAX_STREAMS
  std::vector<TAVMetaDataMap> Fmeta_data_maps; // at most MaxFiles()
  // Per input file (index = its position among the inputs): scale per stream; 0 = none.
  std::vector<std::array<double, MAX_STREAMS>> Finput_files_ts_scale;
  // Bitstream filters for the next stream of each kind, allocated but not yet initialised
  // (their input parameters come from the stream).
  std::vector<BSFContextPtr> Fvideo_bitstream_filters;
  std::vector<BSFContextPtr> Faudio_bitstream_filters;
  std::vector<BSFContextPtr> Fsubtitle_bitstream_filters;
  // Library option templates; exist from Reinitialize until CloseFiles.
  std::unique_ptr<TFFOptions> FOptions;
  // Frame-hook chain added by "vhook".
  TFrameHookEntry *FFirstHook = nullptr;

  // ===== Input and output files (ffmpeg_files.cpp) =====

  // Adds one stream of that kind to AOutput from the pending options and clears them.
  void new_video_stream(AVFormatContext *AOutput);
  void new_audio_stream(AVFormatContext *AOutput);
  void new_subtitle_stream(AVFormatContext *AOutput);
  // Frees files, templates and everything an earlier run left. Nothing while the libraries are
  // not loaded.
  void CloseFiles();

  std::vector<InputFormatContextPtr> Finput_files;
  int Fnb_input_files = 0;
  std::vector<OutputFormatContextPtr> Foutput_files;
  int Fnb_output_files = 0;
  // Expected output length in microseconds; -1 = unknown.
  int64_t FTotalOutputDuration = -1;
  std::string FLastErrMsg;

  // ===== Conversion run =====

  // Clears the flags and counters of a run.
  void ResetRunState();

private:
  // One handler per option of the vocabulary (ffmpeg_options.cpp).
  using TOptionHandler = void (TCustomFFmpeg::*)(const std::string &AName,
                                                 const std::string &AValue);
  struct TOptionDef {
    const char *Name;
    TOptionHandler Handler;
  };
  static const std::vector<TOptionDef> &OptionTable();

  void opt_do_nothing(const std::string &AName, const std::string &AValue);
  void opt_loglevel(const std::string &AName, const std::string &AValue);
  void opt_format(const std::string &AName, const std::string &AValue);
  void opt_map(const std::string &AName, const std::string &AValue);
  void opt_map_meta_data(const std::string &AName, const std::string &AValue);
  void opt_recording_time(const std::string &AName, const std::string &AValue);
  void opt_limit_filesize(const std::string &AName, const std::string &AValue);
  void opt_start_time(const std::string &AName, const std::string &AValue);
  void opt_input_ts_offset(const std::string &AName, const std::string &AValue);
  void opt_input_ts_scale(const std::string &AName, const std::string &AValue);
  void opt_recording_timestamp(const std::string &AName, const std::string &AValue);
  void opt_metadata(const std::string &AName, const std::string &AValue);
  void opt_max_frames(const std::string &AName, const std::string &AValue);
  void opt_timelimit(const std::string &AName, const std::string &AValue);
  void opt_bool(const std::string &AName, const std::string &AValue);
  void opt_int(const std::string &AName, const std::string &AValue);
  void opt_float(const std::string &AName, const std::string &AValue);
  void opt_set_true(const std::string &AName, const std::string &AValue);
  void opt_verbose(const std::string &AName, const std::string &AValue);
  void opt_target(const std::string &AName, const std::string &AValue);
  void opt_threads(const std::string &AName, const std::string &AValue);
  void opt_bitrate(const std::string &AName, const std::string &AValue);
  void opt_frame_rate(const std::string &AName, const std::string &AValue);
  void opt_frame_size(const std::string &AName, const std::string &AValue);
  void opt_frame_aspect_ratio(const std::string &AName, const std::string &AValue);
  void opt_pix_fmt(const std::string &AName, const std::string &AValue);
  void opt_crop(const std::string &AName, const std::string &AValue);
  void opt_pad(const std::string &AName, const std::string &AValue);
  void opt_qscale(const std::string &AName, const std::string &AValue);
  void opt_text(const std::string &AName, const std::string &AValue);
  void opt_codec(const std::string &AName, const std::string &AValue);
  void opt_pass(const std::string &AName, const std::string &AValue);
  void opt_vstats(const std::string &AName, const std::string &AValue);
  void opt_vhook(const std::string &AName, const std::string &AValue);
  void opt_vfilters(const std::string &AName, const std::string &AValue);
  void opt_matrix(const std::string &AName, const std::string &AValue);
  void opt_codec_tag(const std::string &AName, const std::string &AValue);
  void opt_new_stream(const std::string &AName, const std::string &AValue);
  void opt_streamid(const std::string &AName, const std::string &AValue);
  void opt_audio_rate(const std::string &AName, const std::string &AValue);
  void opt_audio_channels(const std::string &AName, const std::string &AValue);
  void opt_sample_fmt(const std::string &AName, const std::string &AValue);
  void opt_bsf(const std::string &AName, const std::string &AValue);
  void opt_preset(const std::string &AName, const std::string &AValue);

  // Option fields reached by name from opt_bool, opt_int, opt_float and opt_text.
  bool *BoolField(const std::string &AName);
  int *IntField(const std::string &AName);
  float *FloatField(const std::string &AName);
  std::string *TextField(const std::string &AName);

  void SetCrop(int &ABand, int &AExtent, int AValue, bool AVertical);
  void SetCodecName(std::string &AName, int &AStreamCopy, const std::string &AValue);
  void SetCodecTag(uint32_t &ATag, const std::string &AValue, const char *AKind);
  void Log(int ALevel, const std::string &AText) const;

  int FMaxFiles;
};
