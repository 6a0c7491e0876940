// The transcoder: one conversion task. It receives options one at a time (a name and a text
// value, or a typed setter), keeps them in its fields until the next input is opened, the next
// output is created or the conversion runs, and then does the conversion.
//
// One header, one source file per concern:
//   ffmpeg_transcoder.cpp  creation, Reinitialize
//   ffmpeg_options.cpp     option fields, ParseOption, value parsers, setters, codec options
//   ffmpeg_presets.cpp     built-in and file presets, disc targets
//   ffmpeg_files.cpp       input opening, output creation, CloseFiles
//   ffmpeg_mapping.cpp     stream mapping, codec setup, headers
//   ffmpeg_run.cpp         the run, the transcode loop, stream copy, progress, stop and pause
//   ffmpeg_av_out.cpp      the output paths for decoded pictures, sound and subtitles
#pragma once

#include "convert_thread.h"
#include "ff_base_component.h"
#include "ff_error.h"
#include "ff_event.h"
#include "ff_options.h"
#include "ff_ptr.h"
#include "frame_hook.h"
#include "post_hook_context.h"
#include "previewer.h"
#include "rgb_convert_context.h"
#include "transcode_records.h"

#include <QImage>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
  // The disc target ("vcd") that fixed both a minimum and a maximum video rate; empty when none
  // did. A chosen bit rate outside them is brought into that range when the stream is set up,
  // since the encoder refuses to open otherwise.
  std::string Ftarget_rate_range;
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

  // Opens one input with the pending input options. False with FLastErrMsg set; some failures
  // raise FFmpegException.
  bool OpenInputFile(const std::string &AFileName);
  // Creates one output with the pending output options: the new number of output entries, or
  // -1 with FLastErrMsg set. With AJoinMode and several open inputs, the inputs are written one
  // after another into this output.
  int OpenOutputFile(const std::string &AFileName, bool AJoinMode);
  // Adds one stream of that kind to AOutput from the pending options and clears them. Raise
  // FFmpegException on failure.
  void new_video_stream(AVFormatContext *AOutput);
  void new_audio_stream(AVFormatContext *AOutput);
  void new_subtitle_stream(AVFormatContext *AOutput);
  // Clears each flag whose kind of stream no open input has (only the first input with
  // AFirstOnly). Raises "invalid codec_type of input file" for a stream of unknown type.
  void check_audio_video_sub_inputs(bool &AHasVideo, bool &AHasAudio, bool AFirstOnly,
                                    bool &AHasSubtitle);
  // The codec id of the encoder (AEncoder) or decoder named AName; an empty name gives
  // AV_CODEC_ID_NONE. False with FLastErrMsg set for an unknown, mistyped or experimental one.
  bool FindCodecByName(const std::string &AName, AVMediaType AType, AVCodecID &ACodecID,
                       int AStrict, bool AEncoder);
  // Frees files, templates and everything an earlier run left; deletes an output that stayed
  // empty. Nothing while the libraries are not loaded.
  void CloseFiles();

  int nb_input_files() const { return Fnb_input_files; }
  int nb_output_files() const { return Fnb_output_files; }
  // The format context of output entry AEntry (in join mode every entry is the one output).
  AVFormatContext *OutputFile(int AEntry) const;
  // The setup of stream AStream of output entry AEntry.
  TOutputStreamSetup *OutputStreamSetup(int AEntry, int AStream) const;

  std::vector<InputFormatContextPtr> Finput_files;
  int Fnb_input_files = 0;
  // Per input: microseconds added to every packet's timestamps.
  std::vector<int64_t> Finput_files_ts_offset;
  // Per input stream over all inputs in order: the decoder named when the input was opened
  // (null = from the codec id), and the decoder context made for the stream.
  std::vector<const AVCodec *> Finput_codecs;
  std::vector<CodecContextPtr> Finput_codec_contexts;
  int Fnb_icodecs = 0;
  // The distinct output files (one in join mode) and their streams' setups.
  std::vector<OutputFormatContextPtr> Foutput_files;
  std::vector<std::vector<std::unique_ptr<TOutputStreamSetup>>> Foutput_streams;
  // Output entries: the distinct outputs, or in join mode one entry per input.
  int Fnb_output_files = 0;
  int Fnb_ocodecs = 0;
  // Expected output length in microseconds; -1 = unknown.
  int64_t FTotalOutputDuration = -1;
  bool FJoinMode = false;
  bool FEnableFilter = false;
  std::string FLastErrMsg;

  // ===== Stream mapping and codec setup (ffmpeg_mapping.cpp) =====

  // Builds the run records, sets up stream copy and encoding, opens encoders and decoders,
  // copies metadata and chapters and writes the headers. Raises FFmpegException.
  void PrepareTranscode();
  // Builds the video filter graph from AIst's decoder to AOst's encoder; 0 or -1 (with
  // FLastErrMsg set when the reason is known).
  int ConfigureFilters(TAVInputStream *AIst, TAVOutputStream *AOst);
  // The same for pictures of AWidth x AHeight in AFormat; an open encoder keeps its size.
  int ConfigureFilters(TAVInputStream *AIst, TAVOutputStream *AOst, int AWidth, int AHeight,
                       int AFormat);
  // Join mode, between inputs: a fresh encoder for each encoded stream of the first entry.
  void ReopenEncoders();
  void CloseEncoders();
  void CloseDecoders();
  void FreeRunTables();

  std::vector<TAVInputFile> Ffile_table;
  std::vector<std::unique_ptr<TAVInputStream>> Fist_table;
  std::vector<std::unique_ptr<TAVOutputStream>> Fost_table;
  TCodecItem<TAVOutputStream> *FEncoderList = nullptr;
  TCodecItem<TAVInputStream> *FDecoderList = nullptr;
  // Per distinct output: its header was written (a trailer follows only then), and its
  // trailer was written.
  std::vector<bool> Foutput_started;
  std::vector<bool> Foutput_finished;
  // Per distinct output: a packet reached the muxer. A stop before that leaves no file, since
  // a header without media is no playable file.
  std::vector<bool> Foutput_written;
  // Per output file: device and inode of the file made under its name ({0, 0}: none made).
  // A finished run checks that the file is still there, and cleaning up removes only it.
  std::vector<std::pair<uint64_t, uint64_t>> Foutput_identity;
  // A failed run removes the outputs whose trailer was not written, not only empty ones.
  bool FDeletePartialOutputs = false;

  // ===== Conversion run (ffmpeg_run.cpp) =====

  // (Sender, AFileIndex, AFrameNumber, AFPS, AQuality, ABitRate, ACurrentSize,
  //  ACurrentDuration, ATotalDuration); called on the thread that runs the conversion.
  using TProgressEvent = std::function<void(
      TCustomFFmpeg *Sender, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
      float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration)>;
  using TNotifyEvent = std::function<void(TCustomFFmpeg *Sender)>;

  // Starts the run: on a worker at APriority (returned suspended; the caller resumes it, and
  // this transcoder owns and joins it), or with AUseThread false on the calling thread, which
  // returns after the run (result null). Null also when the run was started before, or when a
  // missing input or output ended the task at once.
  TConvertThread *StartConvert(bool AUseThread, TThreadPriority APriority);
  // The body of a run; never throws.
  void RunConversion();
  // Asks the run to end. A suspended worker is resumed first. With AWaitFor, returns after the
  // worker has finished (on the main thread serving queued calls meanwhile).
  void Stop(bool AWaitFor);
  // Stop for a started task; a task that never ran delivers its termination once, on a short
  // thread of its own (waited for with AWaitFor).
  void StopTask(bool AWaitFor);
  // Hold and release the worker at the top of a loop round, where it owns no lock; a paused
  // task makes no progress and raises no event.
  void Pause();
  void Resume();
  void DoTerminate();
  // One progress report; AInputIndex -1 in the last.
  void ReportProgress(bool AIsLast, int AInputIndex);

  bool Converting() const { return FConverting.load(); }
  bool Broken() const { return FBroken.load(); }
  bool Finished() const { return FFinished.load(); }
  bool Terminated() const { return FTerminated.load(); }
  bool FatalException() const { return FFatalException.load(); }
  std::string FatalMessage() const;

  TProgressEvent OnProgress;
  TNotifyEvent OnTerminate;
  int64_t ReportInterval = 500000;  // µs
  int64_t PreviewInterval = 100000; // µs

  int64_t Ftimer_start = 0;
  int64_t Fvideo_size = 0;
  int64_t Faudio_size = 0;
  int64_t Fextra_size = 0;
  int Fnb_frames_dup = 0;
  int Fnb_frames_drop = 0;
  bool FShowDupOrDrop = false;

  // Clears the flags and counters of a run.
  void ResetRunState();

  // ===== Output paths (ffmpeg_av_out.cpp) =====
  // The loop hands every decoded frame here, per output stream fed by it, and flushes the
  // encoders at the end of each input stream. Packets leave through write_frame.

  // Counts the picture and runs the custom hook or, without one, the frame-hook chain on a copy
  // of it, which then replaces AFrame. Deinterlacing comes before (DeinterlaceFrame).
  void PreprocessVideoFrame(TAVInputStream *AIst, AVFrame *AFrame);
  // Takes the next picture from the filter graph's sink into APicture, its time in µs into APts:
  // 1, or -1 when the sink has none.
  static int GetFilteredPicture(AVFilterContext *ASink, AVFrame *APicture, int64_t &APts);
  // One picture for one encoded video stream: frame-rate sync (duplicates, drops), crop, scale,
  // encode. The picture's time is AOst->sync_ist's pts. Returns the bytes the encoder gave.
  int EncodeVideoFrame(TAVOutputStream *AOst, TAVInputStream *AIst, AVFrame *AFrame);
  // Appends the line of the latest encoded picture to the statistics file ("vstats").
  void WriteVideoStats(TAVOutputStream *AOst, int AFrameSize);
  // Preview window and preview bitmaps for a picture about to be encoded by AEnc.
  void RunPostHooks(const AVFrame *APicture, const AVCodecContext *AEnc);
  // Gain on decoded sound, in its own sample format: 256 leaves it unchanged, integer formats
  // are clipped to their range.
  void ApplyVolume(AVFrame *AFrame);
  // Decoded sound for one encoded audio output stream: conversion to the encoder's format, rate
  // and layout, timestamp sync, encoding in the encoder's frame size.
  void do_audio_out(TAVOutputStream *AOst, TAVInputStream *AIst, AVFrame *AFrame);
  // One decoded subtitle; APts in AIst's stream time base.
  void EncodeSubtitle(TAVOutputStream *AOst, TAVInputStream *AIst, AVSubtitle *ASub, int64_t APts);
  // What the stream's sound converter still holds joins its sample queue.
  void DrainAudioConverter(TAVOutputStream *AOst);
  // End of the source stream: drains what the stream's encoder still holds.
  void flush_encoder(TAVOutputStream *AOst);
  // Pictures counted by PreprocessVideoFrame in this run's files; the hooks' frame number.
  int FHookFrameNumber = 0;
  // Passes one packet (in the output stream's time base) through the stream's bitstream
  // filters and writes it interleaved; the packet is consumed. Raises on a write error.
  void write_frame(TAVOutputStream *AOst, AVPacket *APkt);
  // Drains the stream's bitstream filters at the end of the run.
  void flush_bitstream_filters(TAVOutputStream *AOst);

  // Picture hooks the video path serves; stream copy refuses them.
  enum TPostHook { phPreview = 1, phBitmap = 2, phHBITMAP = 4 };
  using TPostHooks = unsigned;
  void SetPostHooks(TPostHooks AValue);
  TPostHooks PostHooks() const;
  // (Sender, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook)
  using TCustomHookEvent =
      std::function<void(TCustomFFmpeg *Sender, QImage &ABitmap, int AFrameNumber, int64_t APTS,
                         bool &AUpdate, bool &AStopHook)>;
  // (Sender, ABitmap, AFrameNumber, APTS)
  using TPreviewBitmapEvent = std::function<void(TCustomFFmpeg *Sender, const QImage &ABitmap,
                                                 int AFrameNumber, int64_t APTS)>;
  TCustomHookEvent OnCustomHook;
  TPreviewBitmapEvent OnPreviewBitmap;
  // Makes the preview window when phPreview first has a picture to show; none = no preview.
  TPreviewerFactory PreviewerFactory;

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

  // Input and output (ffmpeg_files.cpp).
  void SetupNewStream(AVFormatContext *AOutput, AVMediaType AType, TOutputStreamSetup *&ASetup,
                      AVStream *&AStream);
  AVCodecContext *StreamTemplate(AVMediaType AType) const;
  int ReadFeedStreams(AVFormatContext *AOutput, const std::string &AFileName);
  // The format writes numbered files, so the name must hold a number pattern.
  bool NeedsNumber(const AVOutputFormat *AFormat) const;
  // CloseFiles whether or not the libraries count as loaded (they are linked in).
  void CloseFilesNow();
  // The name of output AIndex when the file made under it is no longer there (removed, or
  // another file in its place); "" otherwise.
  std::string MissingOutputFile(size_t AIndex) const;

  // Mapping (ffmpeg_mapping.cpp).
  void SetupStreamCopy(TAVOutputStream *AOst, TAVInputStream *AIst);
  void SetupEncoding(TAVOutputStream *AOst, TAVInputStream *AIst);
  void OpenEncoder(TAVOutputStream *AOst, bool AReopen);
  void OpenAMRNBEncoder(TAVOutputStream *AOst, bool AReopen);
  void OpenDecoder(TAVInputStream *AIst);
  void InitBitstreamFilters(TAVOutputStream *AOst);
  void CopyChapters();
  void LogStreamMapping();

  // The loop (ffmpeg_run.cpp).
  void Transcode();
  int ChooseInput(int ACurrentInput) const;
  int ProcessInputPacket(TAVInputStream *AIst, const AVPacket *APkt);
  void DeliverFrame(TAVInputStream *AIst, AVFrame *AFrame);
  // A decoded (and deinterlaced) frame through the hooks, the filter graph and the outputs.
  void DeliverDecoded(TAVInputStream *AIst, AVFrame *AFrame);
  // Feeds the video filter graph, rebuilding it first for a picture of another geometry.
  void FilterPicture(TAVInputStream *AIst, AVFrame *AFrame);
  // Every picture the filter graph gives goes to the outputs.
  void TakeFiltered(TAVInputStream *AIst);
  // Hands a picture to each encoded video stream fed by AIst, with a statistics line.
  void VideoToOutputs(TAVInputStream *AIst, AVFrame *AFrame);
  void DoStreamCopy(TAVOutputStream *AOst, TAVInputStream *AIst, const AVPacket *APkt);
  void KeepTimestampsIncreasing(TAVOutputStream *AOst, AVPacket *APkt);
  void FlushInputStream(TAVInputStream *AIst);
  void EndJoinedInput(int AInput);
  // Holds here while the worker is paused.
  void CheckPause();
  static int InterruptCallback(void *AOpaque);
  static int OutputInterruptCallback(void *AOpaque);

  int FMaxFiles;

  // Run state shared between the worker and the thread that controls it.
  std::atomic<bool> FConverting{false};
  std::atomic<bool> FBroken{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFatalException{false};
  // Output I/O may be interrupted only while no run writes: a stop must still get its trailer.
  std::atomic<bool> FOutputWriting{false};
  mutable std::mutex FFatalLock; // protects FFatalMessage
  std::string FFatalMessage;
  TEvent FStopEvent{true};
  TEvent FTermEvent{true};
  std::unique_ptr<TConvertThread> FThread;
  std::thread FDoTerminateThread;
  bool FTermDelivering = false; // StopTask started the termination of a task that never ran

  // The post hooks' state. The worker holds the lock while a preview paints (which waits for
  // the main thread), so the main thread takes it only while serving queued calls.
  mutable std::mutex FPostHookLock; // protects FPostHooks, FPostContext
  TPostHooks FPostHooks = 0;
  TPostHookContext FPostContext;
  std::unique_lock<std::mutex> LockPostHooks() const;
  // Sets the hooks with the lock held; removing phPreview frees the preview window.
  void StorePostHooks(TPostHooks AValue);
  // Frees the post hooks' bitmap, scalers and preview window (CloseFiles).
  void ResetPostHooks();

  // The custom hook's bitmap conversion, and the picture the hooks draw on (worker only).
  struct TCustomHookContext {
    TRGBConvertContext Context;
  };
  TCustomHookContext FHookContext;
  FramePtr FHookBuf;
  void RunCustomHook(AVFrame *APicture, int64_t APts);

  // Video path helpers (ffmpeg_av_out.cpp).
  // Deinterlaces AFrame and hands every deinterlaced picture to DeliverDecoded; false (logged)
  // when the stage failed, and the picture then goes on as it is.
  bool DeinterlaceFrame(TAVInputStream *AIst, AVFrame *AFrame);
  bool BuildDeinterlacer(TAVInputStream *AIst, const AVFrame *AFrame);
  void TakeDeinterlaced(TAVInputStream *AIst);
  // End of the stream: the deinterlacer gives the pictures it still holds.
  void DrainDeinterlacer(TAVInputStream *AIst);
  // A decoded picture of another size or format than the stream was set up for.
  void CheckPictureGeometry(TAVOutputStream *AOst, TAVInputStream *AIst, const AVFrame *AFrame);
  AVFrame *ScalePicture(TAVOutputStream *AOst, const AVFrame *APicture);
  // Sends AFrame (null: the end) to the stream's encoder and writes every packet it gives; the
  // bytes written.
  int EncodeAndWrite(TAVOutputStream *AOst, AVFrame *AFrame, const char *AFailure, int64_t &ASize);
  // Converter from the decoded sound AFrame to AOst's encoder, made or remade for its format.
  void PrepareAudioConverter(TAVOutputStream *AOst, const AVFrame *AFrame);
  // Encodes whole frames from the stream's sample queue; with AFinal also the short rest.
  void EncodeAudioQueue(TAVOutputStream *AOst, bool AFinal);
  // Closes the statistics file.
  void CloseVideoStats();

  // Audio buffers of the task, reused: converted sound, and input with silence in front.
  TSampleBuffer Faudio_buf;
  TSampleBuffer Finput_tmp;
  FILE *Fvstats_file = nullptr;

  // Loop state.
  std::vector<bool> Fno_packet;
  int Fno_packet_count = 0;
  int64_t Flast_report_time = 0;
  PacketPtr FPacket;    // the one packet in flight
  PacketPtr FOutPacket; // packets built for writing
  std::array<int, 52> Fqp_histogram{};
  std::vector<uint8_t> Fsubtitle_out; // encoded subtitle, allocated on first use
};
