#include "ff_player.h"

#include "ff_error.h"
#include "ffmpeg_loader.h"
#include "player_screen.h"
#include "sync_call.h"
#include "video_state.h"

#include <QCoreApplication>

#include <chrono>
#include <cmath>

extern "C" {
#include <libavutil/time.h>
}

using namespace std::chrono_literals;

namespace {

const char *SDLAudioDriverName(TAudioDriver ADriver) {
  switch (ADriver) {
  case adDirectSound:
    return "pulseaudio";
  case adWaveOut:
    return "alsa";
  default:
    return nullptr; // SDL's own choice (and the SDL_AUDIODRIVER variable)
  }
}

// Waits up to ATimeout for AEvent; on the main thread queued calls are served meanwhile.
bool WaitEvent(TEvent &AEvent, std::chrono::milliseconds ATimeout) {
  if (OnEventLoopThread())
    return WaitServing([&] { return AEvent.IsSet(); }, ATimeout);
  return AEvent.WaitFor(ATimeout);
}

} // namespace

double NowSeconds() {
  return av_gettime_relative() / 1000000.0;
}

TCustomPlayer::TCustomPlayer(void *AOwner)
    : TFFBaseComponent(AOwner), FPlayEvent(std::make_shared<TEventChannel>()) {}

TCustomPlayer::~TCustomPlayer() {
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    FOnPosition = nullptr;
    FOnState = nullptr;
    FOnHook = nullptr;
  }
  Stop(true);
  JoinEventThreads();
}

bool TCustomPlayer::AVLibLoaded() const {
  return FFLoader().Loaded(PlayerLibraries);
}

bool TCustomPlayer::LoadAVLib(const std::string &APath) {
  FFLoader().SetLibraryPath(APath);
  if (FFLoader().Load(PlayerLibraries))
    return true;
  SetLastErrMsg(FFLoader().LastErrMsg());
  return false;
}

void TCustomPlayer::UnloadAVLib() {
  FFLoader().Unload(PlayerLibraries);
}

std::string TCustomPlayer::About() const {
  return "TFFPlayer: previews media files with sound, version " + Version();
}

void TCustomPlayer::SetFormat(const std::string &AValue) {
  if (!AVLibLoaded()) {
    SetLastErrMsg("libav or libsdl not loaded.");
    return;
  }
  if (!AValue.empty() && av_find_input_format(AValue.c_str()) == nullptr)
    throw FFmpegException(::Format("Unknown input format: %s", AValue.c_str()));
  FFormat = AValue;
}

std::string TCustomPlayer::FileName() const {
  std::lock_guard<std::mutex> lock(FTextLock);
  return FFileName;
}

std::string TCustomPlayer::LastErrMsg() const {
  std::lock_guard<std::mutex> lock(FTextLock);
  return FLastErrMsg;
}

void TCustomPlayer::SetLastErrMsg(const std::string &AMsg) {
  std::lock_guard<std::mutex> lock(FTextLock);
  FLastErrMsg = AMsg;
}

void TCustomPlayer::Log(TLogLevel ALevel, const std::string &AMsg) const {
  GetLogger()->Log(this, ALevel, AMsg);
}

void TCustomPlayer::Error(const std::string &AMsg, bool AKeep) {
  if (AKeep)
    SetLastErrMsg(AMsg);
  Log(llError, AMsg);
}

void TCustomPlayer::SetOnFileOpen(TFileOpenEvent AHandler) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnFileOpen = std::move(AHandler);
}

void TCustomPlayer::SetOnPosition(TPositionEvent AHandler) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnPosition = std::move(AHandler);
}

void TCustomPlayer::SetOnState(TPlayStateEvent AHandler) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnState = std::move(AHandler);
}

TFileOpenEvent TCustomPlayer::FileOpenHandler() const {
  std::lock_guard<std::mutex> lock(FEventLock);
  return FOnFileOpen;
}

TPositionEvent TCustomPlayer::PositionHandler() const {
  std::lock_guard<std::mutex> lock(FEventLock);
  return FOnPosition;
}

TPlayStateEvent TCustomPlayer::StateHandler() const {
  std::lock_guard<std::mutex> lock(FEventLock);
  return FOnState;
}

void TCustomPlayer::SetOnHook(THookEvent AHandler) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnHook = std::move(AHandler);
}

// The main thread serves queued calls while it waits: the holder may be logging through it.
std::unique_lock<std::recursive_mutex> TCustomPlayer::LockData() const {
  std::unique_lock<std::recursive_mutex> lock(FDataLock, std::defer_lock);
  if (!OnEventLoopThread()) {
    lock.lock();
    return lock;
  }
  while (!lock.try_lock()) {
    ProcessPendingMessages();
    std::this_thread::sleep_for(1ms);
  }
  return lock;
}

void TCustomPlayer::InitSDLAudio() {
  if (FSDLAudioInited)
    return;
  if (const char *name = SDLAudioDriverName(FAudioDriver))
    SDL_SetHint(SDL_HINT_AUDIODRIVER, name);
  else
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  // Audio brings up SDL's event part, which would otherwise swallow SIGINT and SIGTERM.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
    // The picture can still be previewed; sound streams will fail to open.
    Log(llError, ::Format("Could not initialize SDL audio: %s", SDL_GetError()));
    return;
  }
  FSDLAudioInited = true;
  const char *driver = SDL_GetCurrentAudioDriver();
  Log(llDebug, ::Format("using audio driver: %s\n", driver ? driver : "none"));
}

void TCustomPlayer::QuitSDLAudio() {
  if (!FSDLAudioInited)
    return;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  FSDLAudioInited = false;
}

bool TCustomPlayer::Open(const std::string &AFileName, TPlayerScreen *AScreen, bool APaused) {
  if (!AVLibLoaded()) {
    Error("libav or libsdl not loaded.");
    return false;
  }
  Stop(true);
  if (FDisableDisplay)
    FDisableVideo = true;
  InitSDLAudio();
  FScreen = AScreen;
  FSurface = AScreen ? AScreen->Surface() : nullptr;
  FPlayEvent = std::make_shared<TEventChannel>();
  {
    std::lock_guard<std::mutex> lock(FPlayQueueLock);
    FPlayQueue.clear();
  }
  if (!OpenStream(AFileName, APaused)) {
    FScreen = nullptr;
    FSurface.reset();
    QuitSDLAudio();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(FTextLock);
    FFileName = AFileName;
  }
  FPlaying = true;
  TVideoState *is;
  {
    auto lock = LockData();
    is = FVideoState;
  }
  DoFileOpen(is);
  FStopEvent.Reset();
  FEventThread = std::make_unique<TOwnedThread>();
  FEventThread->Start([this, channel = FPlayEvent] { EventThreadMain(channel); });
  FPlayThread.Start([this] { PlayThreadMain(); });
  return true;
}

bool TCustomPlayer::OpenStream(const std::string &AFileName, bool APaused) {
  auto *is = new TVideoState;
  is->Owner = this;
  TPipelineOptions &o = is->Options;
  o.Tuning = FTuning;
  o.DisableAudio = FDisableAudio;
  o.DisableDisplay = FDisableDisplay;
  o.DisableVideo = FDisableVideo;
  o.VideoFilters = FVideoFilters;
  o.Format = FFormat;
  o.FrameWidth = FFrameWidth;
  o.FrameHeight = FFrameHeight;
  o.ShowAudio = FShowAudio;
  o.OpenPaused = APaused;
  if (APaused) {
    is->paused = true;
    is->pause_start = NowSeconds();
    is->open_paused = 1;
  }
  is->show_first = true;
  is->step = false;
  is->filename = AFileName;
  is->av_sync_type = FTuning.av_sync_type;
  is->external_clock_time = NowSeconds();
  FLoopArmed = true;
  is->parse_tid.Start([is] { TPlayPipeline::ReadThread(is); });
  WaitServing([is] { return is->Opened.load() != 0; });
  if (is->Opened == 1) {
    {
      auto lock = LockData();
      FVideoState = is;
      if (is->video_st == nullptr && !o.DisableDisplay)
        is->show_audio = FShowAudio.load();
    }
    is->refresh_tid.Start([is] { TPlayPipeline::RefreshThread(is); });
    return true;
  }
  WaitServing([is] { return is->Opened.load() != -1; });
  is->parse_tid.Join();
  delete is;
  ResetFileState();
  ResetFileSettings();
  return false;
}

void TCustomPlayer::DoFileOpen(TVideoState *is) {
  {
    auto lock = LockData();
    FRGBContext.Reset();
  }
  const int64_t duration = is->IsImage2 ? 0 : is->Duration;
  int w = -1, h = -1;
  if (is->video_st) {
    w = is->video_st.load()->codecpar->width;
    h = is->video_st.load()->codecpar->height;
  }
  int sw = FScreenWidth, sh = FScreenHeight;
  if (FileOpenHandler()) {
    // Read again where the call runs: the owner may have detached while the call waited.
    auto call = [&] {
      if (const TFileOpenEvent handler = FileOpenHandler())
        handler(this, duration, w, h, sw, sh);
    };
    if (FTriggerEventInMainThread)
      SyncCall(call);
    else
      call();
  }
  if ((sw == 0 || sh == 0) && FSurface) {
    const QSize s = FSurface->Size();
    sw = s.width();
    sh = s.height();
  }
  FScreenWidth = sw;
  FScreenHeight = sh;
}

void TCustomPlayer::ResetFileState() {
  FCurrentPTS = -1;
  FLastPTS = NoPTS;
  FSeeking = false;
  FSeekEvent.Set();
  FPictEvent.Set();
  FPlaying = false;
}

void TCustomPlayer::ResetFileSettings() {
  FPlayTime = NoPTS;
  FTuning.start_time = NoPTS;
  FRepeatType = rtStop;
  FVerticalFlip = false;
  FTuning.seek_by_bytes = -1;
  FTuning.wanted_audio_stream = -1;
  FTuning.wanted_video_stream = -1;
  FTuning.wanted_subtitle_stream = -1;
}

void TCustomPlayer::CloseStream() {
  TVideoState *is = FVideoState;
  if (is == nullptr)
    return;
  is->abort_request = true;
  is->audioq.Abort();
  is->videoq.Abort();
  is->subtitleq.Abort();
  {
    std::lock_guard<std::mutex> lock(is->pictq_mutex);
    is->pictq_cond.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(is->subpq_mutex);
    is->subpq_cond.notify_all();
  }
  is->parse_tid.Join(); // the read thread closes the streams and the input
  is->refresh_tid.Join();
  FVideoState = nullptr;
  delete is;
  FHookContext.Reset();
  FRGBContext.Reset();
  ResetFileState();
  if (FSurface)
    FSurface->Clear();
}

void TCustomPlayer::PostPlayEvent(TPlayThreadEventKind AKind, std::function<void()> ATask) {
  std::lock_guard<std::mutex> lock(FPlayQueueLock);
  FPlayQueue.push_back({AKind, std::move(ATask)});
  FPlayQueueCond.notify_one();
}

bool TCustomPlayer::RunOnPlayThread(const std::function<void()> &ATask) {
  if (FPlayThread.IsCurrent()) {
    ATask();
    return true;
  }
  if (!FPlayThread.Joinable() || FPlayThread.Finished())
    return false;
  auto done = std::make_shared<TEvent>();
  PostPlayEvent(TPlayThreadEventKind::Task, [ATask, done] {
    ATask();
    done->Set();
  });
  WaitServing([&] { return done->IsSet() || FPlayThread.Finished(); });
  return done->IsSet();
}

void TCustomPlayer::PlayThreadMain() {
  ReportState(psPlay);
  {
    auto lock = LockData();
    // Without pictures nothing else reports that an open-paused file stands still.
    if (FVideoState && FVideoState->Options.OpenPaused && FVideoState->video_st == nullptr)
      ReportState(psPause);
  }
  try {
    for (bool quit = false; !quit;) {
      TPlayThreadEvent ev;
      {
        std::unique_lock<std::mutex> lock(FPlayQueueLock);
        FPlayQueueCond.wait(lock, [this] { return !FPlayQueue.empty(); });
        ev = std::move(FPlayQueue.front());
        FPlayQueue.pop_front();
      }
      std::lock_guard<std::recursive_mutex> lock(FDataLock);
      switch (ev.Kind) {
      case TPlayThreadEventKind::Quit:
        CloseStream();
        quit = true;
        break;
      case TPlayThreadEventKind::Refresh:
        if (TVideoState *is = FVideoState) {
          TPlayPipeline::VideoRefresh(is);
          if (FVideoState == is)
            is->refresh_pending = false;
        }
        break;
      case TPlayThreadEventKind::Redisplay:
        if (FVideoState)
          TPlayPipeline::VideoDisplay(FVideoState, true);
        break;
      case TPlayThreadEventKind::Task:
        ev.Task();
        break;
      }
    }
  } catch (const std::exception &e) {
    Log(llFatal, std::string("PlayThread Exception: ") + e.what());
    std::lock_guard<std::recursive_mutex> lock(FDataLock);
    CloseStream();
  }
  SDL_TLSCleanup(); // streams switched here open and close sound devices
  ReportState(psStop);
  FStopEvent.Set();
}

void TCustomPlayer::ReportState(TPlayState AState) {
  FState = AState;
  bool hasHandler;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    hasHandler = static_cast<bool>(FOnState);
  }
  if (hasHandler)
    FPlayEvent->Ring.Put(pekState, AState);
  else if (AState == psStop)
    FPlayEvent->Ring.Put(pekEnd, 0);
}

void TCustomPlayer::PutPosition(int64_t APTS) {
  bool hasHandler;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    hasHandler = static_cast<bool>(FOnPosition);
  }
  if (hasHandler)
    FPlayEvent->Ring.Put(pekPosition, APTS);
}

void TCustomPlayer::Deliver(const std::function<void()> &ACall) {
  auto guarded = [this, &ACall] {
    FDeliveryDepth++;
    try {
      ACall();
    } catch (const std::exception &e) {
      Log(llError, std::string("Error occurs in event handler: ") + e.what());
    }
    FDeliveryDepth--;
  };
  if (FTriggerEventInMainThread && !IsMainThread())
    SyncCall(guarded);
  else
    guarded();
}

void TCustomPlayer::EventThreadMain(std::shared_ptr<TEventChannel> AChannel) {
  TPlayEvent &ring = AChannel->Ring;
  for (;;) {
    TPlayEventEntry e;
    if (!ring.Take(e)) {
      if (AChannel->Closed)
        return;
      ring.Event.WaitFor(100ms);
      continue;
    }
    // The handler is read where the call runs: a delivery waits for the main thread, and an
    // owner that detaches meanwhile (a window being destroyed) must not be called any more.
    if (e.Kind == pekPosition) {
      FEventPTS = e.Value;
      if (PositionHandler())
        Deliver([this, &e] {
          if (const TPositionEvent handler = PositionHandler())
            handler(this, e.Value);
        });
    } else if (e.Kind == pekState) {
      FEventState = int(e.Value);
      if (StateHandler())
        Deliver([this, &e] {
          if (const TPlayStateEvent handler = StateHandler())
            handler(this, TPlayState(e.Value));
        });
      if (e.Value == psStop)
        return;
    } else if (e.Kind == pekEnd) {
      return;
    }
  }
}

void TCustomPlayer::JoinEventThreads() {
  // Inside a delivery the event thread that made it waits for this very call to return.
  if (OnEventLoopThread() && FDeliveryDepth > 0)
    return;
  for (auto &t : FRetiredEventThreads)
    if (!t->IsCurrent())
      t->Join();
  std::erase_if(FRetiredEventThreads, [](const auto &t) { return !t->Joinable(); });
}

void TCustomPlayer::Stop(bool AWaitForStop) {
  bool open;
  {
    auto lock = LockData();
    TVideoState *is = FVideoState;
    open = is != nullptr;
    if (is) {
      if (is->paused)
        TPlayPipeline::StreamPause(is, false);
      is->step = false;
    }
  }
  if (open)
    PostPlayEvent(TPlayThreadEventKind::Quit);
  if (!AWaitForStop)
    return;
  const bool hadThread = FPlayThread.Joinable();
  if (hadThread && !FPlayThread.IsCurrent()) {
    int taken = 0;
    while (!WaitEvent(FStopEvent, 100ms)) {
      // The play thread has not answered: once its lock can be had often enough, close the
      // file from here.
      std::unique_lock<std::recursive_mutex> lock(FDataLock, std::defer_lock);
      const auto until = std::chrono::steady_clock::now() + 100ms;
      while (!lock.try_lock() && std::chrono::steady_clock::now() < until) {
        if (OnEventLoopThread())
          ProcessPendingMessages();
        std::this_thread::sleep_for(1ms);
      }
      if (!lock.owns_lock() || FVideoState == nullptr)
        continue;
      taken++;
      if (taken >= 20 || (taken >= 10 && FVideoState->Reading)) {
        Log(llWarning, "the play thread does not answer; closing the file directly");
        CloseStream();
      } else {
        PostPlayEvent(TPlayThreadEventKind::Quit);
      }
    }
    FPlayThread.Join();
  }
  FPlayEvent->Closed = true;
  FPlayEvent->Ring.Event.Set(); // wakes the event thread to see that nothing more will come
  if (FEventThread) {
    FRetiredEventThreads.push_back(std::move(FEventThread));
    JoinEventThreads();
  }
  if (open || hadThread)
    ResetFileSettings();
  QuitSDLAudio();
}

bool TCustomPlayer::Paused() const {
  auto lock = LockData();
  return FVideoState == nullptr || FVideoState->paused;
}

void TCustomPlayer::Pause() {
  bool video;
  {
    auto lock = LockData();
    if (FVideoState == nullptr || FVideoState->paused)
      return;
    video = FVideoState->video_st != nullptr;
  }
  if (!WaitEvent(FSeekEvent, 250ms))
    FSeekEvent.Set();
  if (video && !WaitEvent(FPictEvent, 250ms))
    FPictEvent.Set();
  {
    auto lock = LockData();
    TVideoState *is = FVideoState;
    if (is == nullptr || is->paused)
      return;
    TPlayPipeline::StreamPause(is, true);
    is->step = false;
  }
  ReportState(psPause);
}

void TCustomPlayer::Resume() {
  {
    auto lock = LockData();
    if (FVideoState == nullptr || !FVideoState->paused)
      return;
  }
  if (!WaitEvent(FSeekEvent, 250ms))
    FSeekEvent.Set();
  {
    auto lock = LockData();
    TVideoState *is = FVideoState;
    if (is == nullptr || !is->paused)
      return;
    TPlayPipeline::StreamPause(is, false);
    is->step = false;
  }
  ReportState(psResume);
}

void TCustomPlayer::TogglePause() {
  bool paused;
  {
    auto lock = LockData();
    if (FVideoState == nullptr)
      return;
    paused = FVideoState->paused;
  }
  if (paused)
    Resume();
  else
    Pause();
}

void TCustomPlayer::StepToNextFrame() {
  bool already;
  {
    auto lock = LockData();
    TVideoState *is = FVideoState;
    if (is == nullptr)
      return;
    if (is->video_st) {
      // Stays paused; the refresh shows one more picture.
      if (!is->paused)
        TPlayPipeline::StreamPause(is, true);
    } else if (is->paused) {
      TPlayPipeline::StreamPause(is, false);
    }
    already = is->step.exchange(true);
  }
  if (!already)
    ReportState(psStep);
}

void TCustomPlayer::ToggleAudioDisplay() {
  auto lock = LockData();
  TVideoState *is = FVideoState;
  if (is == nullptr)
    return;
  is->show_audio = (is->show_audio + 1) % 3;
  is->audio_display.Reset();
  if (FSurface)
    FSurface->Clear();
  if (is->video_st)
    PostPlayEvent(TPlayThreadEventKind::Redisplay);
}

void TCustomPlayer::SetAspectRatio(float AValue) {
  if (FAspectRatio == AValue)
    return;
  FAspectRatio = AValue;
  if (FPlaying)
    PostPlayEvent(TPlayThreadEventKind::Redisplay);
}

void TCustomPlayer::SetShowAudio(TShowAudio AValue) {
  FShowAudio = AValue;
  auto lock = LockData();
  if (FVideoState && FVideoState->audio_st && !FVideoState->Options.DisableDisplay)
    FVideoState->show_audio = AValue;
}

void TCustomPlayer::StreamSeek(TVideoState *is, int64_t APos, int64_t ARel, int AFlags) {
  is->seek_pos = APos;
  is->seek_rel = ARel;
  is->seek_flags = AFlags;
  FSeeking = true;
  is->seek_paused = is->paused.load();
  FSeekEvent.Reset();
  is->seek_req = true;
}

bool TCustomPlayer::Seek(int64_t APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  bool video;
  {
    auto lock = LockData();
    TVideoState *is = FVideoState;
    if (is == nullptr || is->seek_req)
      return false;
    int64_t pos = APTS;
    if (!ASeekFlags.Contains(sfByte)) {
      if (is->Duration >= 0 && pos > is->Duration)
        pos = is->Duration;
      if (is->StartTime != -1)
        pos += is->StartTime;
    }
    StreamSeek(is, pos, APTS <= 0 ? 1 : 0, ASeekFlags.Bits());
    video = is->video_st != nullptr;
  }
  if (AWaitForSeekEnd)
    WaitSeekEnd(video);
  return true;
}

bool TCustomPlayer::Seek(double ADelta, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  bool video;
  {
    auto lock = LockData();
    TVideoState *is = FVideoState;
    if (is == nullptr || is->seek_req)
      return false;
    int64_t pos, rel;
    if (ASeekFlags.Contains(sfByte)) {
      pos = is->video_current_pos;
      if (pos < 0 && is->ic && is->ic->pb)
        pos = avio_tell(is->ic->pb);
      const int64_t bitRate = is->ic ? is->ic->bit_rate : 0;
      const double incr = bitRate > 0 ? ADelta * bitRate / 8.0 : ADelta * 180000.0;
      pos += int64_t(incr);
      rel = int64_t(incr);
    } else {
      // A clock that has not started yet (sound never played while paused) gives way.
      double clock = TPlayPipeline::GetMasterClock(is);
      if (std::isnan(clock))
        clock = TPlayPipeline::GetVideoClock(is);
      if (std::isnan(clock))
        clock = TPlayPipeline::GetAudioClock(is);
      if (std::isnan(clock))
        clock = 0;
      pos = int64_t((clock + ADelta) * AV_TIME_BASE);
      rel = int64_t(ADelta * AV_TIME_BASE);
    }
    StreamSeek(is, pos, rel, ASeekFlags.Bits());
    video = is->video_st != nullptr;
  }
  if (AWaitForSeekEnd)
    WaitSeekEnd(video);
  return true;
}

void TCustomPlayer::WaitSeekEnd(bool AHasVideo) {
  // Bounded, so a file that never gets there cannot hold the caller for ever.
  WaitServing([this] { return FSeekEvent.IsSet(); }, 10s);
  if (AHasVideo)
    WaitServing([this] { return FPictEvent.IsSet(); }, 10s);
}

QImage TCustomPlayer::CurrentFrame() {
  int64_t pts;
  return CurrentFrame(pts);
}

QImage TCustomPlayer::CurrentFrame(int64_t &APTS) {
  APTS = -1;
  auto lock = LockData();
  TVideoState *is = FVideoState;
  if (is == nullptr || is->video_st == nullptr)
    return QImage();
  FramePtr queued;
  double pts = 0;
  {
    std::lock_guard<std::mutex> q(is->pictq_mutex);
    if (is->pictq_size > 0 && (is->last_shown_stale || !is->last_shown || is->show_first)) {
      const TVideoPicture &vp = is->pictq[is->pictq_rindex];
      queued.reset(av_frame_clone(vp.Frame.get()));
      pts = vp.pts;
    }
  }
  const AVFrame *frame = queued.get();
  if (frame == nullptr) {
    frame = is->last_shown.get();
    pts = is->last_shown_pts;
  }
  if (frame == nullptr)
    return QImage();
  QImage bitmap(frame->width, frame->height, QImage::Format_RGB888);
  bitmap.fill(Qt::black);
  if (!FRGBContext.ToImage(frame, bitmap, bitmap.size(), QImage::Format_RGB888, FVerticalFlip))
    return QImage();
  APTS = int64_t(pts * AV_TIME_BASE) - (is->StartTime != -1 ? is->StartTime : 0);
  return bitmap;
}

int TCustomPlayer::AudioStreamIndex() const {
  auto lock = LockData();
  if (FVideoState == nullptr)
    return -1;
  std::lock_guard<std::mutex> s(FVideoState->stream_lock);
  return FVideoState->audio_stream;
}

int TCustomPlayer::VideoStreamIndex() const {
  auto lock = LockData();
  if (FVideoState == nullptr)
    return -1;
  std::lock_guard<std::mutex> s(FVideoState->stream_lock);
  return FVideoState->video_stream;
}

int TCustomPlayer::SubtitleStreamIndex() const {
  auto lock = LockData();
  if (FVideoState == nullptr)
    return -1;
  std::lock_guard<std::mutex> s(FVideoState->stream_lock);
  return FVideoState->subtitle_stream;
}

bool TCustomPlayer::SetAudioStreamIndex(int AValue) {
  return SwitchStream(AVMEDIA_TYPE_AUDIO, AValue);
}

bool TCustomPlayer::SetVideoStreamIndex(int AValue) {
  return SwitchStream(AVMEDIA_TYPE_VIDEO, AValue);
}

bool TCustomPlayer::SetSubtitleStreamIndex(int AValue) {
  return SwitchStream(AVMEDIA_TYPE_SUBTITLE, AValue);
}

bool TCustomPlayer::SwitchStream(int AMediaType, int AValue) {
  TVideoState *is;
  int current;
  {
    auto lock = LockData();
    is = FVideoState;
    if (is == nullptr) {
      Error("the current stream is not valid.");
      return false;
    }
    {
      std::lock_guard<std::mutex> s(is->stream_lock);
      current = AMediaType == AVMEDIA_TYPE_AUDIO   ? is->audio_stream
                : AMediaType == AVMEDIA_TYPE_VIDEO ? is->video_stream
                                                   : is->subtitle_stream;
    }
    const bool subtitle = AMediaType == AVMEDIA_TYPE_SUBTITLE;
    // Subtitles switched off may be switched on again.
    if (current < 0 && !subtitle) {
      Error("the current stream is not valid.");
      return false;
    }
    const int count = int(is->ic->nb_streams);
    if ((AValue < 0 || AValue >= count) && !(subtitle && AValue == -1)) {
      Error("the stream index is not valid.");
      return false;
    }
    if (AValue >= 0) {
      const AVCodecParameters *par = is->ic->streams[AValue]->codecpar;
      if (AMediaType != AVMEDIA_TYPE_AUDIO && AMediaType != AVMEDIA_TYPE_VIDEO && !subtitle) {
        Error("the stream type is invalid.");
        return false;
      }
      if (par->codec_type != AMediaType) {
        Error("the stream type is not matched.");
        return false;
      }
      if (AMediaType == AVMEDIA_TYPE_AUDIO &&
          (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0)) {
        Error("the audio stream is not invalid.");
        return false;
      }
    }
    if (AValue == current)
      return true;
  }
  bool opened = true;
  const bool ran = RunOnPlayThread([&] {
    if (FVideoState != is)
      return;
    if (current >= 0)
      TPlayPipeline::StreamComponentClose(is, current);
    if (AValue >= 0)
      opened = TPlayPipeline::StreamComponentOpen(is, AValue) >= 0;
  });
  return ran && opened;
}
