// The read thread: opens the file, chooses and opens the streams, and feeds the packet queues.
#include "video_state.h"

#include "ff_error.h"
#include "ffmpeg_loader.h"
#include "unicode_protocol.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

extern "C" {
#include <libavutil/opt.h>
}

using namespace std::chrono_literals;

namespace {

int DecodeInterruptCallback(void *AContext) {
  return static_cast<TVideoState *>(AContext)->abort_request.load() ? 1 : 0;
}

int ErrorRecognitionFlags(int AValue) {
  switch (AValue) {
  case 0:
    return 0;
  case 1:
    return AV_EF_CAREFUL;
  case 2:
    return AV_EF_CAREFUL | AV_EF_COMPLIANT;
  default:
    return AV_EF_CAREFUL | AV_EF_COMPLIANT | AV_EF_AGGRESSIVE;
  }
}

bool IsDeviceFormat(const AVInputFormat *AFormat) {
  if (std::strcmp(AFormat->name, "vfwcap") == 0 || std::strcmp(AFormat->name, "vfwcapture") == 0)
    return true;
  const AVClass *c = AFormat->priv_class;
  return c && AV_IS_INPUT_DEVICE(c->category);
}

} // namespace

void TPlayPipeline::PerformSeek(TVideoState *is) {
  TCustomPlayer *owner = is->Owner;
  AVFormatContext *ic = is->ic.get();
  const int64_t target = is->seek_pos;
  const int64_t rel = is->seek_rel;
  const int flags = is->seek_flags;
  const int64_t lo = rel > 0 ? target - rel + 2 : INT64_MIN;
  const int64_t hi = rel < 0 ? target - rel - 2 : INT64_MAX;
  int ret = avformat_seek_file(ic, -1, lo, target, hi, flags);
  if (ret < 0)
    ret = av_seek_frame(ic, -1, target, flags);
  if (ret < 0)
    ret = av_seek_frame(ic, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
  bool video;
  {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    video = is->video_stream >= 0;
    if (ret >= 0) {
      if (is->audio_stream >= 0) {
        is->audioq.Flush();
        is->audioq.PutFlush();
      }
      if (is->subtitle_stream >= 0) {
        is->subtitleq.Flush();
        is->subtitleq.PutFlush();
      }
      if (video) {
        {
          // With the picture queue's lock: a picture the video thread is queueing now is
          // either in before this (and flushed) or refused after it.
          std::lock_guard<std::mutex> q(is->pictq_mutex);
          is->seek_flushed = false;
          owner->FPictEvent.Reset();
          is->pictq_cond.notify_all();
        }
        is->seek_serving = true;
        is->videoq.Flush();
        is->videoq.PutFlush();
      }
    }
  }
  if (ret < 0) {
    owner->Error(::Format("%s: error while seeking", is->filename.c_str()), false);
    if (video)
      owner->FPictEvent.Set();
  } else if (!(flags & AVSEEK_FLAG_BYTE)) {
    is->external_clock = target / double(AV_TIME_BASE);
    is->external_clock_time = NowSeconds();
    // Paused, the callback does not meet the flush until playing resumes; the position must
    // show the new place meanwhile.
    std::lock_guard<std::mutex> lock(is->audio_lock);
    if (is->audio_bytes_per_sec > 0) {
      is->audio_clock = target / double(AV_TIME_BASE);
      is->audio_write_buf_size = 0;
      is->audio_callback_time = 0;
      is->audio_clock_valid = true;
    }
  }
  is->ErrorEOF = false;
  is->ReachEOF = false;
  is->EventEOF = false;
  is->seek_req = false;
  owner->FSeekEvent.Set();
  if (!video)
    owner->FSeeking = false;
}

TVideoState::~TVideoState() {
  av_channel_layout_uninit(&swr_in_layout);
  for (TSubPicture &sp : subpq)
    if (sp.valid)
      avsubtitle_free(&sp.sub);
}

void TPlayPipeline::ReadThread(TVideoState *is) {
  TCustomPlayer *owner = is->Owner;
  const TPipelineOptions &o = is->Options;
  const TPlayerTuning &t = o.Tuning;
  bool eof = false, drainSent = false, loopError = false;

  AVFormatContext *ic = avformat_alloc_context();
  if (ic == nullptr) {
    owner->Error("av_mallocz() failed.");
  } else {
    ic->interrupt_callback.callback = DecodeInterruptCallback;
    ic->interrupt_callback.opaque = is;
    const AVInputFormat *fmt = o.Format.empty() ? nullptr : av_find_input_format(o.Format.c_str());
    TDictionary options;
    if (fmt) {
      // For raw and device inputs, which carry no size or rate of their own.
      if (o.FrameWidth > 0 && o.FrameHeight > 0)
        av_dict_set(options.Ref(), "video_size",
                    ::Format("%dx%d", o.FrameWidth, o.FrameHeight).c_str(), 0);
      av_dict_set(options.Ref(), "framerate", "25", 0);
    }
    int err = FFOpenInput(&ic, FileNameToURL(is->filename), fmt, options.Ref());
    if (err < 0) {
      owner->Error(FormatLibraryError(is->filename, err));
      goto done;
    }
    is->ic.reset(ic);
    if (t.genpts)
      ic->flags |= AVFMT_FLAG_GENPTS;
    {
      TLibraryLockGuard guard;
      err = avformat_find_stream_info(ic, nullptr);
    }
    if (err < 0) {
      owner->Error(::Format("%s: could not find codec parameters", is->filename.c_str()));
      goto done;
    }
    if (ic->pb)
      ic->pb->eof_reached = 0;
    is->seek_by_bytes =
        t.seek_by_bytes >= 0 ? t.seek_by_bytes : ((ic->iformat->flags & AVFMT_TS_DISCONT) ? 1 : 0);
    is->IsImage2 = std::strcmp(ic->iformat->name, "image2") == 0;
    is->IsDevice = IsDeviceFormat(ic->iformat);
    is->StartTime = ic->start_time == AV_NOPTS_VALUE ? -1 : ic->start_time;
    is->Duration = ic->duration == AV_NOPTS_VALUE ? -1 : ic->duration;

    if (t.start_time != NoPTS) {
      int64_t ts = t.start_time;
      if (ic->start_time != AV_NOPTS_VALUE)
        ts += ic->start_time;
      if (avformat_seek_file(ic, -1, INT64_MIN, ts, INT64_MAX, 0) < 0)
        owner->Error(::Format("%s: could not seek to position %0.3f", is->filename.c_str(),
                              double(ts) / AV_TIME_BASE),
                     false);
    }

    int video = -1, audio = -1, subtitle = -1;
    if (!o.DisableVideo)
      video = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, t.wanted_video_stream, -1, nullptr, 0);
    if (!o.DisableAudio)
      audio = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, t.wanted_audio_stream,
                                  video >= 0 ? video : -1, nullptr, 0);
    if (!o.DisableVideo)
      subtitle = av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, t.wanted_subtitle_stream,
                                     audio >= 0 ? audio : (video >= 0 ? video : -1), nullptr, 0);
    if (audio >= 0)
      StreamComponentOpen(is, audio);
    int ret = -1;
    if (video >= 0)
      ret = StreamComponentOpen(is, video);
    if (ret < 0 && !o.DisableDisplay)
      is->show_audio = 2;
    if (subtitle >= 0)
      StreamComponentOpen(is, subtitle);
    if (is->audio_stream < 0 && is->video_stream < 0) {
      owner->Error(::Format("%s: could not open codecs, no stream to play.", is->filename.c_str()));
      goto done;
    }
    is->Opened = 1;

    PacketPtr pkt(av_packet_alloc());
    while (!is->abort_request) {
      if (is->paused != is->last_paused) {
        is->last_paused = is->paused;
        if (is->last_paused)
          is->read_pause_return = av_read_pause(ic);
        else
          av_read_play(ic);
      }
      if (is->seek_req) {
        PerformSeek(is);
        eof = false;
        drainSent = false;
      }
      TQueueLevels levels;
      {
        std::lock_guard<std::mutex> lock(is->stream_lock);
        levels.AudioOpen = is->audio_stream >= 0;
        levels.VideoOpen = is->video_stream >= 0;
        levels.SubtitleOpen = is->subtitle_stream >= 0;
      }
      levels.AudioSize = is->audioq.Size();
      levels.VideoPackets = is->videoq.Packets();
      levels.SubtitlePackets = is->subtitleq.Packets();
      levels.TotalSize = int64_t(levels.AudioSize) + is->videoq.Size() + is->subtitleq.Size();
      if (ReadMustWait(levels)) {
        std::this_thread::sleep_for(10ms);
        continue;
      }
      if (eof) {
        if (!drainSent) {
          // Ask the decoders for what they still hold.
          std::lock_guard<std::mutex> lock(is->stream_lock);
          if (is->video_stream >= 0)
            is->videoq.PutDrain();
          if (is->audio_stream >= 0)
            is->audioq.PutDrain();
          drainSent = true;
        }
        std::this_thread::sleep_for(10ms);
        if (is->audioq.Packets() == 0 && is->videoq.Packets() == 0 && is->subtitleq.Packets() == 0)
          is->ReachEOF = true;
        continue;
      }
      is->Reading = true;
      ret = av_read_frame(ic, pkt.get());
      is->Reading = false;
      if (ret < 0) {
        if (ret == AVERROR(EAGAIN)) {
          std::this_thread::sleep_for(10ms);
          continue;
        }
        if (is->abort_request)
          break;
        // At the end the video thread says when no picture will come; after an error nothing
        // may come at all.
        if (levels.VideoOpen && ret != AVERROR_EOF)
          owner->FPictEvent.Set();
        if (!is->ErrorEOF && !is->IsImage2) {
          is->ErrorEOF = true;
          if (ret == AVERROR_EOF)
            owner->Log(llInfo, ::Format("reach end of file: %s", is->filename.c_str()));
          else
            owner->Error(::Format("error #%d while reading file: %s", ret, is->filename.c_str()),
                         false);
        }
        if (ret == AVERROR_EOF || (ic->pb && avio_feof(ic->pb)))
          eof = true;
        if (ic->pb && ic->pb->error) {
          loopError = true;
          break;
        }
        if (!eof)
          std::this_thread::sleep_for(100ms);
        continue;
      }
      PacketPtr item(av_packet_alloc());
      av_packet_move_ref(item.get(), pkt.get());
      std::lock_guard<std::mutex> lock(is->stream_lock);
      if (item->stream_index == is->audio_stream)
        is->audioq.Put(std::move(item));
      else if (item->stream_index == is->video_stream)
        is->videoq.Put(std::move(item));
      else if (item->stream_index == is->subtitle_stream)
        is->subtitleq.Put(std::move(item));
    }
    if (loopError) {
      // The input is broken for good: what was read keeps playing until the owner stops.
      is->ReachEOF = true;
      while (!is->abort_request)
        std::this_thread::sleep_for(100ms);
    }
  }
done:
  if (is->Opened != 1)
    is->Opened = -1;
  CloseAllComponents(is);
  is->ic.reset();
  // SDL keeps per-thread data (its error text) that it frees itself only on its own threads.
  SDL_TLSCleanup();
  if (is->Opened == -1)
    is->Opened = -2;
}

int TPlayPipeline::StreamComponentOpen(TVideoState *is, int AStreamIndex) {
  TCustomPlayer *owner = is->Owner;
  AVFormatContext *ic = is->ic.get();
  if (AStreamIndex < 0 || AStreamIndex >= int(ic->nb_streams))
    return -1;
  AVStream *st = ic->streams[AStreamIndex];
  const AVCodecParameters *par = st->codecpar;
  const TPlayerTuning &t = is->Options.Tuning;
  const AVCodec *codec = avcodec_find_decoder(par->codec_id);
  CodecContextPtr dec(codec ? avcodec_alloc_context3(codec) : nullptr);
  int ret = -1;
  if (dec && avcodec_parameters_to_context(dec.get(), par) >= 0) {
    dec->pkt_timebase = st->time_base;
    dec->workaround_bugs = t.workaround_bugs;
    if (t.lowres > 0)
      dec->lowres = std::min(t.lowres, int(codec->max_lowres));
    dec->idct_algo = t.idct_algo;
    dec->skip_frame = AVDiscard(t.skip_frame);
    dec->skip_idct = AVDiscard(t.skip_idct);
    dec->skip_loop_filter = AVDiscard(t.skip_loop_filter);
    dec->err_recognition = ErrorRecognitionFlags(t.error_recognition);
    dec->error_concealment = t.error_concealment;
    if (t.fast)
      dec->flags2 |= AV_CODEC_FLAG2_FAST;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
      dec->thread_count = 0; // one per core
    TLibraryLockGuard guard;
    ret = avcodec_open2(dec.get(), codec, nullptr);
  }
  if (ret < 0) {
    owner->Error("avcodec_open() failed.", false);
    if (dec) {
      TLibraryLockGuard guard;
      dec.reset();
    }
    return -1;
  }
  switch (par->codec_type) {
  case AVMEDIA_TYPE_AUDIO: {
    const int channels = dec->ch_layout.nb_channels;
    // Sound with more than two channels is mixed down to two.
    const int outChannels = (channels == 1 || channels == 2) ? channels : 2;
    SDL_AudioSpec wanted{}, obtained{};
    wanted.freq = dec->sample_rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = Uint8(outChannels);
    wanted.samples = SDL_AUDIO_BUFFER_SIZE;
    wanted.callback = AudioCallback;
    wanted.userdata = is;
    SDL_AudioDeviceID dev = 0;
    if (wanted.freq > 0)
      dev = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (dev == 0) {
      owner->Error(std::string("SDL_OpenAudio() failed: ") +
                       (wanted.freq > 0 ? SDL_GetError() : "no sample rate"),
                   false);
      TLibraryLockGuard guard;
      dec.reset();
      return -1;
    }
    is->audio_dev = dev;
    is->audio_channels = outChannels;
    is->audio_freq = wanted.freq;
    is->audio_bytes_per_sec = wanted.freq * outChannels * 2;
    is->AudioDuration = st->duration == AV_NOPTS_VALUE
                            ? -1
                            : av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q);
    is->audio_diff_avg_coef = std::exp(std::log(0.01) / AUDIO_DIFF_AVG_NB);
    is->audio_diff_threshold = 2.0 * SDL_AUDIO_BUFFER_SIZE / wanted.freq;
    is->audio_diff_cum = 0;
    is->audio_diff_avg_count = 0;
    is->audio_buf_size = is->audio_buf_index = 0;
    is->audio_need_packet = true;
    is->audio_drained = false;
    is->audio_frame.reset(av_frame_alloc());
    {
      std::lock_guard<std::mutex> lock(is->audio_lock);
      is->audio_clock_valid = false;
      is->audio_write_buf_size = 0;
      is->sample_array.assign(SAMPLE_ARRAY_SIZE, 0);
      is->sample_array_index = 0;
    }
    is->audio_dec = std::move(dec);
    is->audio_st = st;
    is->audioq.Start();
    {
      std::lock_guard<std::mutex> lock(is->stream_lock);
      is->audio_stream = AStreamIndex;
    }
    SDL_PauseAudioDevice(dev, 0);
    break;
  }
  case AVMEDIA_TYPE_VIDEO:
    is->video_dec = std::move(dec);
    is->video_st = st;
    is->video_drained = false;
    is->sample_aspect =
        st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
    is->videoq.Start();
    {
      std::lock_guard<std::mutex> lock(is->stream_lock);
      is->video_stream = AStreamIndex;
    }
    is->video_tid.Start([is] { VideoThread(is); });
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    is->subtitle_dec = std::move(dec);
    is->subtitle_st = st;
    is->subtitleq.Start();
    {
      std::lock_guard<std::mutex> lock(is->stream_lock);
      is->subtitle_stream = AStreamIndex;
    }
    is->subtitle_tid.Start([is] { SubtitleThread(is); });
    break;
  default: {
    TLibraryLockGuard guard;
    dec.reset();
    return -1;
  }
  }
  return 0;
}

void TPlayPipeline::StreamComponentClose(TVideoState *is, int AStreamIndex) {
  AVFormatContext *ic = is->ic.get();
  if (ic == nullptr || AStreamIndex < 0 || AStreamIndex >= int(ic->nb_streams))
    return;
  switch (ic->streams[AStreamIndex]->codecpar->codec_type) {
  case AVMEDIA_TYPE_AUDIO: {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    is->audio_stream = -1;
  }
    is->audioq.Abort();
    if (is->audio_dev) {
      SDL_CloseAudioDevice(is->audio_dev); // returns once the callback has finished
      is->audio_dev = 0;
    }
    is->audioq.Flush();
    {
      TLibraryLockGuard guard;
      is->audio_dec.reset();
    }
    is->swr.reset();
    is->audio_frame.reset();
    is->audio_st = nullptr;
    {
      std::lock_guard<std::mutex> lock(is->audio_lock);
      is->audio_clock_valid = false;
      is->audio_write_buf_size = 0;
    }
    break;
  case AVMEDIA_TYPE_VIDEO: {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    is->video_stream = -1;
  }
    is->videoq.Abort();
    {
      std::lock_guard<std::mutex> lock(is->pictq_mutex);
      is->pictq_cond.notify_all();
    }
    is->video_tid.Join();
    is->videoq.Flush();
    {
      TLibraryLockGuard guard;
      is->video_dec.reset();
    }
    is->filter_graph.reset();
    is->filter_in = is->filter_out = nullptr;
    is->video_st = nullptr;
    ClearPictureQueue(is);
    break;
  case AVMEDIA_TYPE_SUBTITLE: {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    is->subtitle_stream = -1;
  }
    is->subtitleq.Abort();
    {
      std::lock_guard<std::mutex> lock(is->subpq_mutex);
      is->subpq_cond.notify_all();
    }
    is->subtitle_tid.Join();
    is->subtitleq.Flush();
    {
      TLibraryLockGuard guard;
      is->subtitle_dec.reset();
    }
    is->subtitle_st = nullptr;
    ClearSubtitleQueue(is);
    break;
  default:
    break;
  }
}

void TPlayPipeline::CloseAllComponents(TVideoState *is) {
  int audio, video, subtitle;
  {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    audio = is->audio_stream;
    video = is->video_stream;
    subtitle = is->subtitle_stream;
  }
  if (audio >= 0)
    StreamComponentClose(is, audio);
  if (video >= 0)
    StreamComponentClose(is, video);
  if (subtitle >= 0)
    StreamComponentClose(is, subtitle);
}
