// The player component: plays one media file onto a screen widget, with sound, and reports the
// file's properties, the position and its play state through events.
#pragma once

#include "av_probe.h"
#include "ff_base_component.h"
#include "ff_event.h"
#include "ff_logger.h"
#include "owned_thread.h"
#include "picture_convert.h"
#include "play_event.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TPlayerScreen;
class TScreenSurface;
struct TVideoState;
class TPlayPipeline;

enum TPlayState : int { psPlay, psPause, psResume, psStep, psStop, psEnd };
enum TRepeatType : int { rtNone, rtStop, rtLoop };
enum TShowAudio : int { saNone, saWave, saRDFT };
enum TAudioDriver : int { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver : int { vdDefault, vdDirectDraw, vdGDI };
enum Tav_sync_type : int { AV_SYNC_AUDIO_MASTER, AV_SYNC_VIDEO_MASTER, AV_SYNC_EXTERNAL_CLOCK };

// Seek flags are the prober's set (TSeekFlags): its Bits() are the library's backward, byte, any
// and frame flags.

// 0 to 128, where 128 is full volume.
using TAudioVolume = uint8_t;

inline constexpr int64_t NoPTS = INT64_MIN; // the libraries' "no value" for times

// Tuning values, taken when a file is opened.
struct TPlayerTuning {
  Tav_sync_type av_sync_type = AV_SYNC_AUDIO_MASTER;
  int seek_by_bytes = -1; // -1: decide from the format
  int64_t start_time = NoPTS;
  int workaround_bugs = 1;
  int debug_mv = 0;
  bool fast = false;
  bool genpts = false;
  int decoder_reorder_pts = -1; // -1: automatic
  int framedrop = 1;
  int rdftspeed = 20; // milliseconds
  int lowres = 0;
  int idct_algo = 0;
  int skip_frame = 0;
  int skip_idct = 0;
  int skip_loop_filter = 0;
  int error_recognition = 1;
  int error_concealment = 3;
  int wanted_audio_stream = -1; // -1: choose automatically
  int wanted_video_stream = -1;
  int wanted_subtitle_stream = -1;
};

class TCustomPlayer;
using TFileOpenEvent = std::function<void(TCustomPlayer *Sender, int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int &AScreenWidth, int &AScreenHeight)>;
using TPositionEvent = std::function<void(TCustomPlayer *Sender, int64_t APTS)>;
using TPlayStateEvent = std::function<void(TCustomPlayer *Sender, TPlayState AState)>;
using THookEvent = std::function<void(TCustomPlayer *Sender, QImage &ABitmap, int64_t APTS)>;

class TCustomPlayer : public TFFBaseComponent {
public:
  explicit TCustomPlayer(void *AOwner = nullptr);
  ~TCustomPlayer() override;

  // The player's library set: avCodec, avFilter, avFormat, avUtil, swScale, myUtil, lbSDL.
  bool AVLibLoaded() const;
  bool LoadAVLib(const std::string &APath);
  void UnloadAVLib();

  // Opens AFileName (UTF-8) and starts playing onto AScreen (may be null: nothing is painted).
  // False with LastErrMsg when the file cannot be played. Main thread.
  bool Open(const std::string &AFileName, TPlayerScreen *AScreen, bool APaused);
  // Ends playing. With waiting, returns when every thread of the file has ended.
  void Stop(bool AWaitForStop);
  void Pause();
  void Resume();
  void TogglePause();
  // Shows the next picture, then stays paused.
  void StepToNextFrame();
  // Cycles the sound display 0, 1, 2 (none, waveform, spectrogram).
  void ToggleAudioDisplay();
  // Absolute seek: APTS in microseconds, or bytes with sfByte. False when ignored (nothing
  // open, or another seek still pending).
  bool Seek(int64_t APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd);
  bool Seek(int APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
    return Seek(int64_t(APTS), ASeekFlags, AWaitForSeekEnd);
  }
  // Relative seek by ADelta seconds (bytes estimated from the bit rate with sfByte).
  bool Seek(double ADelta, TSeekFlags ASeekFlags, bool AWaitForSeekEnd);
  // The picture on screen (or, right after a seek, the one about to be shown) as a 24-bit
  // image of the video's size; null without video. APTS: its time in microseconds, -1 without.
  QImage CurrentFrame();
  QImage CurrentFrame(int64_t &APTS);
  void UpdateScreenPosition() {}

  // Properties.
  float AspectRatio() const { return FAspectRatio; }
  void SetAspectRatio(float AValue);
  TAudioDriver AudioDriver() const { return FAudioDriver; }
  void SetAudioDriver(TAudioDriver AValue) { FAudioDriver = AValue; }
  TAudioVolume AudioVolume() const { return FAudioVolume; }
  void SetAudioVolume(TAudioVolume AValue) { FAudioVolume = std::min<TAudioVolume>(AValue, 128); }
  bool DisableAudio() const { return FDisableAudio; }
  void SetDisableAudio(bool AValue) { FDisableAudio = AValue; }
  bool DisableVideo() const { return FDisableVideo; }
  void SetDisableVideo(bool AValue) { FDisableVideo = AValue; }
  bool DisableDisplay() const { return FDisableDisplay; }
  void SetDisableDisplay(bool AValue) { FDisableDisplay = AValue; }
  bool Mute() const { return FMute; }
  void SetMute(bool AValue) { FMute = AValue; }
  int FrameWidth() const { return FFrameWidth; }
  void SetFrameWidth(int AValue) { FFrameWidth = AValue; }
  int FrameHeight() const { return FFrameHeight; }
  void SetFrameHeight(int AValue) { FFrameHeight = AValue; }
  bool Hook() const { return FHook; }
  void SetHook(bool AValue) { FHook = AValue; }
  int ScreenWidth() const { return FScreenWidth; }
  void SetScreenWidth(int AValue) { FScreenWidth = AValue; }
  int ScreenHeight() const { return FScreenHeight; }
  void SetScreenHeight(int AValue) { FScreenHeight = AValue; }
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
  void SetTriggerEventInMainThread(bool AValue) { FTriggerEventInMainThread = AValue; }
  TVideoDriver VideoDriver() const { return FVideoDriver; }
  void SetVideoDriver(TVideoDriver AValue) { FVideoDriver = AValue; }
  std::string About() const;
  std::string Version() const { return "2.3"; }
  std::string Format() const { return FFormat; }
  // Raises FFmpegException "Unknown input format: %s" for a name the libraries do not know.
  void SetFormat(const std::string &AValue);
  std::string FileName() const;
  std::string LastErrMsg() const;
  TPlayerScreen *ScreenHandle() const { return FScreen; }
  bool FullScreen() const { return false; }
  int AudioStreamIndex() const;
  int VideoStreamIndex() const;
  int SubtitleStreamIndex() const;
  // Switch to another stream of the same kind; false with LastErrMsg when refused.
  bool SetAudioStreamIndex(int AValue);
  bool SetVideoStreamIndex(int AValue);
  bool SetSubtitleStreamIndex(int AValue);
  int64_t CurrentPTS() const { return FCurrentPTS; }
  bool Paused() const;
  TPlayState PlayState() const { return FState; }
  int64_t PlayTime() const { return FPlayTime; }
  void SetPlayTime(int64_t AValue) { FPlayTime = AValue; }
  TRepeatType RepeatType() const { return FRepeatType; }
  void SetRepeatType(TRepeatType AValue) { FRepeatType = AValue; }
  bool Seeking() const { return FSeeking; }
  TShowAudio ShowAudio() const { return FShowAudio; }
  void SetShowAudio(TShowAudio AValue);
  bool VerticalFlip() const { return FVerticalFlip; }
  void SetVerticalFlip(bool AValue) { FVerticalFlip = AValue; }
  std::string VideoFilters() const { return FVideoFilters; }
  void SetVideoFilters(const std::string &AValue) { FVideoFilters = AValue; }
  // The tuning values; change them before Open.
  TPlayerTuning &Tuning() { return FTuning; }
  const TPlayerTuning &Tuning() const { return FTuning; }

  // Events. OnFileOpen, OnPosition and OnState run on the main thread while
  // TriggerEventInMainThread is set; OnHook runs on the video thread.
  void SetOnFileOpen(TFileOpenEvent AHandler);
  void SetOnPosition(TPositionEvent AHandler);
  void SetOnState(TPlayStateEvent AHandler);
  void SetOnHook(THookEvent AHandler);

private:
  friend class TPlayPipeline;

  enum class TPlayThreadEventKind { Quit, Refresh, Redisplay, Task };
  struct TPlayThreadEvent {
    TPlayThreadEventKind Kind;
    std::function<void()> Task;
  };
  // The notification ring of the open file, with the flag that no more entries will come. Each
  // file has its own, so that an event thread still finishing the previous file's deliveries
  // never takes the next file's.
  struct TEventChannel {
    TPlayEvent Ring;
    std::atomic<bool> Closed{false};
  };

  void SetLastErrMsg(const std::string &AMsg);
  void Error(const std::string &AMsg, bool AKeep = true);
  // The handlers as they are now.
  TFileOpenEvent FileOpenHandler() const;
  TPositionEvent PositionHandler() const;
  TPlayStateEvent StateHandler() const;
  void Log(TLogLevel ALevel, const std::string &AMsg) const;

  bool OpenStream(const std::string &AFileName, bool APaused);
  void DoFileOpen(TVideoState *is);
  void ResetFileState();
  void ResetFileSettings();
  void CloseStream(); // with FDataLock held

  void ReportState(TPlayState AState);
  void PutPosition(int64_t APTS);
  void PositionAndEnd(TVideoState *is);
  void Deliver(const std::function<void()> &ACall);

  void PostPlayEvent(TPlayThreadEventKind AKind, std::function<void()> ATask = nullptr);
  void PlayThreadMain();
  void EventThreadMain(std::shared_ptr<TEventChannel> AChannel);
  void JoinEventThreads();
  void StreamSeek(TVideoState *is, int64_t APos, int64_t ARel, int AFlags);
  void WaitSeekEnd(bool AHasVideo);
  std::unique_lock<std::recursive_mutex> LockData() const;
  bool RunOnPlayThread(const std::function<void()> &ATask);
  bool SwitchStream(int AMediaType, int AValue);
  void CallHook(AVFrame *AFrame, int64_t APTS);
  void InitSDLAudio();
  void QuitSDLAudio();

  // Component state.
  std::atomic<int64_t> FLastPTS{NoPTS};
  std::atomic<int64_t> FCurrentPTS{-1};
  std::atomic<bool> FPlaying{false};
  TPlayerScreen *FScreen = nullptr;
  std::shared_ptr<TScreenSurface> FSurface;
  // Protects FVideoState (the pointer and its display and timing fields) between the play thread
  // and the owner's operations. Recursive: a refresh may stop or seek from inside.
  mutable std::recursive_mutex FDataLock;
  TEvent FSeekEvent{true};
  TEvent FPictEvent{true};
  TEvent FStopEvent{true};
  std::shared_ptr<TEventChannel> FPlayEvent; // the open file's
  std::atomic<int> FEventState{psStop};
  std::atomic<int64_t> FEventPTS{0};
  std::atomic<bool> FSeeking{false};
  std::atomic<float> FAspectRatio{0};
  std::atomic<TAudioVolume> FAudioVolume{128};
  std::atomic<TShowAudio> FShowAudio{saWave};
  std::atomic<bool> FMute{false};
  std::atomic<int64_t> FPlayTime{NoPTS};
  std::atomic<TRepeatType> FRepeatType{rtStop};
  std::atomic<bool> FVerticalFlip{false};
  TAudioDriver FAudioDriver = adDefault;
  TVideoDriver FVideoDriver = vdDefault;
  TPictureConverter FRGBContext;  // CurrentFrame, under FDataLock
  TPictureConverter FHookContext; // the hook, on the video thread
  QImage FHookBitmap;
  std::atomic<bool> FHook{false};
  std::atomic<bool> FTriggerEventInMainThread{true};
  std::atomic<TPlayState> FState{psStop};
  TVideoState *FVideoState = nullptr; // under FDataLock

  bool FDisableAudio = false;
  bool FDisableVideo = false;
  bool FDisableDisplay = false;
  int FFrameWidth = 0;
  int FFrameHeight = 0;
  std::atomic<int> FScreenWidth{0};
  std::atomic<int> FScreenHeight{0};
  std::string FFormat;
  std::string FVideoFilters;
  TPlayerTuning FTuning;

  mutable std::mutex FTextLock; // protects FFileName, FLastErrMsg
  std::string FFileName;
  std::string FLastErrMsg;

  mutable std::mutex FEventLock; // protects the four handlers
  TFileOpenEvent FOnFileOpen;
  TPositionEvent FOnPosition;
  TPlayStateEvent FOnState;
  THookEvent FOnHook;

  // The play thread's events.
  std::mutex FPlayQueueLock; // protects FPlayQueue
  std::condition_variable FPlayQueueCond;
  std::deque<TPlayThreadEvent> FPlayQueue;

  TOwnedThread FPlayThread;
  std::unique_ptr<TOwnedThread> FEventThread;
  // Event threads that could not be joined when their file stopped, because the stop came from
  // inside one of their deliveries; joined by a later stop or the destructor. Main thread only.
  std::vector<std::unique_ptr<TOwnedThread>> FRetiredEventThreads;
  // How deep the main thread is inside deliveries of the event thread.
  std::atomic<int> FDeliveryDepth{0};
  bool FSDLAudioInited = false;
  bool FLoopArmed = true; // play thread: the position was below the play time since the last loop
};

// The published component; it adds nothing.
class TFFPlayer : public TCustomPlayer {
public:
  using TCustomPlayer::TCustomPlayer;
};
