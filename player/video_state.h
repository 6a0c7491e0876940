// The per-file state of the player while a file is open, and the pipeline that works on it.
// Internal to the player.
#pragma once

#include "audio_display.h"
#include "ff_player.h"
#include "owned_thread.h"
#include "packet_queue.h"
#include "picture_convert.h"

#include <SDL2/SDL.h>

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

inline constexpr int VIDEO_PICTURE_QUEUE_SIZE = 2;
inline constexpr int SUBPICTURE_QUEUE_SIZE = 4;
inline constexpr int SDL_AUDIO_BUFFER_SIZE = 1024;
inline constexpr int SAMPLE_ARRAY_SIZE = 2 * 65536;
inline constexpr double AV_SYNC_THRESHOLD = 0.01;
inline constexpr double AV_NOSYNC_THRESHOLD = 10.0;
inline constexpr double FRAME_SKIP_FACTOR = 0.05;
inline constexpr int AUDIO_DIFF_AVG_NB = 20;
inline constexpr int SAMPLE_CORRECTION_PERCENT_MAX = 10;

struct TVideoPicture {
  FramePtr Frame; // the decoded picture, a reference
  double pts = 0; // seconds
  int64_t pos = -1;
  double target = 0; // when to show it, on the wall clock in seconds; set when it comes first
  bool target_set = false;
};

struct TSubPicture {
  AVSubtitle sub{};
  double pts = 0; // seconds
  bool valid = false;
};

// The settings of the component that the pipeline reads, taken when the file is opened.
struct TPipelineOptions {
  TPlayerTuning Tuning;
  bool DisableAudio = false;
  bool DisableVideo = false;
  bool DisableDisplay = false;
  std::string VideoFilters;
  std::string Format;
  int FrameWidth = 0;
  int FrameHeight = 0;
  TShowAudio ShowAudio = saWave;
  bool OpenPaused = false;
};

struct TVideoState {
  TCustomPlayer *Owner = nullptr;
  TPipelineOptions Options;
  std::string filename; // UTF-8

  TOwnedThread parse_tid, video_tid, subtitle_tid, refresh_tid;

  std::atomic<bool> abort_request{false};
  std::atomic<bool> paused{false};
  bool last_paused = false; // read thread only
  int read_pause_return = 0;
  std::atomic<bool> step{false};       // show one more picture while paused
  std::atomic<bool> show_first{false}; // show the first picture after an open or a seek at once
  std::atomic<double> pause_start{0};  // wall clock when paused

  // Seek request: the fields are written before seek_req is set and read after it is seen.
  std::atomic<bool> seek_req{false};
  int seek_flags = 0;
  int64_t seek_pos = 0;
  int64_t seek_rel = 0;
  std::atomic<bool> seek_paused{false};
  std::atomic<bool> seek_serving{false}; // the video thread decodes while paused until it shows
  std::atomic<bool> seek_flushed{true};  // under pictq_mutex when changed with the picture event

  std::atomic<int> Opened{0};
  int64_t StartTime = -1;
  int64_t Duration = -1;
  int64_t AudioDuration = -1;
  bool IsImage2 = false;
  bool IsDevice = false;
  std::atomic<bool> ErrorEOF{false};
  std::atomic<bool> EventEOF{false};
  std::atomic<bool> ReachEOF{false};
  std::atomic<bool> Reading{false};
  std::atomic<int> open_paused{0}; // counts pictures until the pause is reported; 0 = done

  InputFormatContextPtr ic;
  int av_sync_type = AV_SYNC_AUDIO_MASTER;
  std::atomic<int> seek_by_bytes{0};

  // The open streams. Changed by stream switching with stream_lock held; the read thread routes
  // packets under it.
  std::mutex stream_lock; // protects audio_stream, video_stream, subtitle_stream
  int audio_stream = -1;
  int video_stream = -1;
  int subtitle_stream = -1;
  std::atomic<AVStream *> audio_st{nullptr};
  std::atomic<AVStream *> video_st{nullptr};
  std::atomic<AVStream *> subtitle_st{nullptr};
  CodecContextPtr audio_dec;
  CodecContextPtr video_dec;
  CodecContextPtr subtitle_dec;
  TPacketQueue audioq, videoq, subtitleq;

  // Audio output. The callback owns the buffer; the clock values it publishes are under
  // audio_lock.
  SDL_AudioDeviceID audio_dev = 0;
  int audio_channels = 0;
  int audio_freq = 0;
  int audio_bytes_per_sec = 0;
  SwrContextPtr swr;
  int swr_in_format = -1; // what swr was set up for
  int swr_in_rate = 0;
  AVChannelLayout swr_in_layout{};
  FramePtr audio_frame;
  std::vector<uint8_t> audio_buf;
  int audio_buf_size = 0;
  int audio_buf_index = 0;
  bool audio_need_packet = true;
  double audio_diff_cum = 0;
  double audio_diff_avg_coef = 0;
  double audio_diff_threshold = 0;
  int audio_diff_avg_count = 0;
  std::atomic<bool> audio_drained{false};
  std::mutex audio_lock; // protects the fields down to audio_log
  double audio_clock = 0;
  bool audio_clock_valid = false;
  int audio_write_buf_size = 0;
  double audio_callback_time = 0;
  std::vector<int16_t> sample_array;
  int sample_array_index = 0;
  std::vector<std::pair<TLogLevel, std::string>> audio_log; // written out by the play thread

  std::atomic<int> show_audio{0};

  // Clocks.
  std::atomic<double> video_current_pts{0};
  std::atomic<double> video_current_pts_drift{0};
  std::atomic<int64_t> video_current_pos{-1};
  std::atomic<bool> video_clock_valid{false};
  std::atomic<bool> timing_reset{true}; // the video thread met a flush: restart picture timing
  std::atomic<double> external_clock{0};
  std::atomic<double> external_clock_time{0};

  // Picture timing: under the data lock (play thread and the component's operations).
  double frame_timer = 0;
  double frame_last_pts = 0;
  bool frame_last_pts_valid = false;
  double frame_last_delay = 0.04;

  // Video decoding (video thread).
  double video_clock = 0;
  double skip_frames_index = 0;
  std::atomic<bool> video_drained{false};
  FilterGraphPtr filter_graph;
  AVFilterContext *filter_in = nullptr;
  AVFilterContext *filter_out = nullptr;
  int filter_w = 0, filter_h = 0, filter_fmt = -1;

  std::mutex pictq_mutex; // protects pictq, pictq_size, pictq_rindex, pictq_windex, skip_frames
  std::condition_variable pictq_cond;
  TVideoPicture pictq[VIDEO_PICTURE_QUEUE_SIZE];
  int pictq_size = 0, pictq_rindex = 0, pictq_windex = 0;
  double skip_frames = 1.0;

  std::mutex subpq_mutex; // protects subpq, subpq_size, subpq_rindex, subpq_windex
  std::condition_variable subpq_cond;
  TSubPicture subpq[SUBPICTURE_QUEUE_SIZE];
  int subpq_size = 0, subpq_rindex = 0, subpq_windex = 0;

  // Display (play thread, under the data lock).
  FramePtr last_shown; // the picture on screen
  double last_shown_pts = 0;
  bool last_shown_stale = true; // a seek made it old: CurrentFrame prefers a queued picture
  TPictureConverter display_converter;
  QImage display_image[2];
  int display_index = 0;
  QSize displayed_size;
  TAudioDisplay audio_display;
  std::atomic<bool> refresh_pending{false};
  std::atomic<int> refresh_interval_ms{5};
  AVRational sample_aspect{0, 1};

  TVideoState() = default;
  TVideoState(const TVideoState &) = delete;
  TVideoState &operator=(const TVideoState &) = delete;
  ~TVideoState();
};

// Wall clock in seconds.
double NowSeconds();

// The pipeline's work, spread over player_read.cpp, player_video.cpp, player_audio.cpp and
// player_refresh.cpp. A friend of the component.
class TPlayPipeline {
public:
  // Read thread.
  static void ReadThread(TVideoState *is);
  static int StreamComponentOpen(TVideoState *is, int AStreamIndex);
  static void StreamComponentClose(TVideoState *is, int AStreamIndex);
  static void CloseAllComponents(TVideoState *is);
  static void PerformSeek(TVideoState *is);

  // Video and subtitle threads.
  static void VideoThread(TVideoState *is);
  static void SubtitleThread(TVideoState *is);
  static void ClearPictureQueue(TVideoState *is);
  static void ClearSubtitleQueue(TVideoState *is);
  static bool ConfigureFilters(TVideoState *is, const AVFrame *AFrame);
  static int QueuePicture(TVideoState *is, AVFrame *AFrame, double APTS);
  static int OutputPicture(TVideoState *is, AVFrame *AFrame, AVRational ATimeBase,
                           AVRational ARate);

  // Audio.
  static void SDLCALL AudioCallback(void *AUserData, Uint8 *AStream, int ALen);
  static double GetAudioClock(TVideoState *is);
  static double GetVideoClock(TVideoState *is);
  static double GetExternalClock(TVideoState *is);
  static double GetMasterClock(TVideoState *is);
  static void AudioLog(TVideoState *is, TLogLevel ALevel, const std::string &AText);

  // Refresh and display (play thread, under the data lock).
  static void RefreshThread(TVideoState *is);
  static void VideoRefresh(TVideoState *is);
  static void VideoDisplay(TVideoState *is, bool AForce);
  static void StreamPause(TVideoState *is, bool APause);
  static void FlushAudioLog(TVideoState *is);
};
