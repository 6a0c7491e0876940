// The audio callback, the clocks and the audio correction.
#include "video_state.h"

#include "ff_error.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

enum : int { NoAudioData = -2, AudioDecodeError = -1 };

bool SwrMatches(TVideoState *is, const AVFrame *AFrame) {
  return is->swr && AFrame->format == is->swr_in_format && AFrame->sample_rate == is->swr_in_rate &&
         av_channel_layout_compare(&AFrame->ch_layout, &is->swr_in_layout) == 0;
}

void StoreSamples(TVideoState *is, const uint8_t *AData, int ASize) {
  const int16_t *s = reinterpret_cast<const int16_t *>(AData);
  int n = ASize / 2;
  std::lock_guard<std::mutex> lock(is->audio_lock);
  if (is->sample_array.empty())
    return;
  while (n > 0) {
    const int len = std::min(n, SAMPLE_ARRAY_SIZE - is->sample_array_index);
    std::memcpy(&is->sample_array[size_t(is->sample_array_index)], s, size_t(len) * 2);
    s += len;
    n -= len;
    is->sample_array_index = (is->sample_array_index + len) % SAMPLE_ARRAY_SIZE;
  }
}

// Shortens or lengthens the buffer towards the master clock when sound is not the master.
int SynchronizeAudio(TVideoState *is, int ASize) {
  const bool audioMaster = is->av_sync_type == AV_SYNC_AUDIO_MASTER;
  if (audioMaster)
    return ASize;
  const double diff = TPlayPipeline::GetAudioClock(is) - TPlayPipeline::GetMasterClock(is);
  if (std::isnan(diff) || std::fabs(diff) >= AV_NOSYNC_THRESHOLD) {
    // Too far apart to mend by stretching: start the average again.
    is->audio_diff_avg_count = 0;
    is->audio_diff_cum = 0;
    return ASize;
  }
  is->audio_diff_cum = diff + is->audio_diff_avg_coef * is->audio_diff_cum;
  if (is->audio_diff_avg_count < AUDIO_DIFF_AVG_NB) {
    is->audio_diff_avg_count++;
    return ASize;
  }
  const double avg = is->audio_diff_cum * (1.0 - is->audio_diff_avg_coef);
  if (std::fabs(avg) < is->audio_diff_threshold)
    return ASize;
  const int frameBytes = 2 * is->audio_channels;
  int wanted = ASize + int(diff * is->audio_freq) * frameBytes;
  const int lo = ASize * (100 - SAMPLE_CORRECTION_PERCENT_MAX) / 100;
  const int hi = ASize * (100 + SAMPLE_CORRECTION_PERCENT_MAX) / 100;
  wanted = std::clamp(wanted, lo, hi) / frameBytes * frameBytes;
  if (wanted > ASize && ASize >= frameBytes) {
    // Repeat the last sample to fill the longer buffer.
    if (int(is->audio_buf.size()) < wanted)
      is->audio_buf.resize(size_t(wanted));
    const uint8_t *last = is->audio_buf.data() + ASize - frameBytes;
    for (int at = ASize; at < wanted; at += frameBytes)
      std::memcpy(is->audio_buf.data() + at, last, size_t(frameBytes));
  }
  return wanted > 0 ? wanted : ASize;
}

// Decodes the next piece of sound into audio_buf. Returns its size, NoAudioData when nothing
// is queued, or AudioDecodeError.
int AudioDecodeFrame(TVideoState *is) {
  AVCodecContext *dec = is->audio_dec.get();
  AVFrame *frame = is->audio_frame.get();
  for (;;) {
    if (!is->audio_need_packet) {
      const int ret = avcodec_receive_frame(dec, frame);
      if (ret >= 0) {
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, is->audio_channels);
        if (!SwrMatches(is, frame)) {
          SwrContext *swr = nullptr;
          int err = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, is->audio_freq,
                                        &frame->ch_layout, AVSampleFormat(frame->format),
                                        frame->sample_rate, 0, nullptr);
          if (err >= 0)
            err = swr_init(swr);
          if (err < 0) {
            swr_free(&swr);
            is->swr.reset();
            const char *from = av_get_sample_fmt_name(AVSampleFormat(frame->format));
            TPlayPipeline::AudioLog(is, llError,
                                    ::Format("Cannot convert %s sample format to %s sample format",
                                             from ? from : "unknown", "s16"));
            av_frame_unref(frame);
            return AudioDecodeError;
          }
          is->swr.reset(swr);
          is->swr_in_format = frame->format;
          is->swr_in_rate = frame->sample_rate;
          av_channel_layout_uninit(&is->swr_in_layout);
          av_channel_layout_copy(&is->swr_in_layout, &frame->ch_layout);
        }
        const int outCount =
            int(av_rescale_rnd(swr_get_delay(is->swr.get(), frame->sample_rate) + frame->nb_samples,
                               is->audio_freq, frame->sample_rate, AV_ROUND_UP)) +
            256;
        const size_t need = size_t(outCount) * 2 * is->audio_channels;
        // Room for the correction to lengthen the buffer.
        if (is->audio_buf.size() < need * 11 / 10 + 16)
          is->audio_buf.resize(need * 11 / 10 + 16);
        uint8_t *out = is->audio_buf.data();
        const int n =
            swr_convert(is->swr.get(), &out, outCount,
                        const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
        if (n < 0) {
          TPlayPipeline::AudioLog(is, llError, "av_audio_convert() failed");
          av_frame_unref(frame);
          return AudioDecodeError;
        }
        int size = n * 2 * is->audio_channels;
        const double pts = frame->pts == AV_NOPTS_VALUE
                               ? NAN
                               : frame->pts * av_q2d(is->audio_st.load()->time_base);
        av_frame_unref(frame);
        {
          std::lock_guard<std::mutex> lock(is->audio_lock);
          if (!std::isnan(pts))
            is->audio_clock = pts;
          if (!std::isnan(pts) || is->audio_clock_valid) {
            is->audio_clock += double(size) / is->audio_bytes_per_sec;
            is->audio_clock_valid = true;
          }
        }
        if (is->show_audio)
          StoreSamples(is, is->audio_buf.data(), size);
        size = SynchronizeAudio(is, size);
        if (size == 0)
          continue;
        return size;
      }
      if (ret == AVERROR_EOF) {
        is->audio_drained = true;
        return NoAudioData;
      }
      is->audio_need_packet = true;
    }
    TPacketItem item;
    if (is->audioq.Get(item, false) <= 0)
      return NoAudioData;
    if (item.Kind == TPacketKind::Flush) {
      avcodec_flush_buffers(dec);
      is->swr.reset();
      is->audio_drained = false;
      std::lock_guard<std::mutex> lock(is->audio_lock);
      is->audio_clock_valid = false;
      continue;
    }
    const int ret =
        avcodec_send_packet(dec, item.Kind == TPacketKind::Drain ? nullptr : item.Packet.get());
    is->audio_need_packet = false;
    if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
      TPlayPipeline::AudioLog(is, llInfo, "avcodec_decode_audio2() failed");
      return AudioDecodeError;
    }
  }
}

} // namespace

void TPlayPipeline::AudioLog(TVideoState *is, TLogLevel ALevel, const std::string &AText) {
  std::lock_guard<std::mutex> lock(is->audio_lock);
  if (is->audio_log.size() < 100)
    is->audio_log.emplace_back(ALevel, AText);
}

void TPlayPipeline::FlushAudioLog(TVideoState *is) {
  std::vector<std::pair<TLogLevel, std::string>> lines;
  {
    std::lock_guard<std::mutex> lock(is->audio_lock);
    lines.swap(is->audio_log);
  }
  for (const auto &[level, text] : lines)
    is->Owner->Log(level, text);
}

// Runs on SDL's audio thread. It never waits for the main thread: its log lines are handed to
// the play thread, since the device is closed by threads the main thread may be waiting for.
void SDLCALL TPlayPipeline::AudioCallback(void *AUserData, Uint8 *AStream, int ALen) {
  auto *is = static_cast<TVideoState *>(AUserData);
  TCustomPlayer *owner = is->Owner;
  const double callbackTime = NowSeconds();
  std::memset(AStream, 0, size_t(ALen));
  if (is->paused)
    return;
  const bool mute = owner->Mute();
  const int volume = owner->AudioVolume();
  while (ALen > 0) {
    if (is->audio_buf_index >= is->audio_buf_size) {
      const int size = AudioDecodeFrame(is);
      if (size == NoAudioData) {
        is->audio_buf_size = is->audio_buf_index = 0;
        break; // the rest stays silent
      }
      if (size < 0) {
        is->audio_buf.assign(1024, 0);
        is->audio_buf_size = 1024;
      } else {
        is->audio_buf_size = size;
      }
      is->audio_buf_index = 0;
    }
    const int len = std::min(ALen, is->audio_buf_size - is->audio_buf_index);
    if (!mute)
      SDL_MixAudioFormat(AStream, is->audio_buf.data() + is->audio_buf_index, AUDIO_S16SYS,
                         Uint32(len), volume);
    ALen -= len;
    AStream += len;
    is->audio_buf_index += len;
  }
  std::lock_guard<std::mutex> lock(is->audio_lock);
  is->audio_write_buf_size = is->audio_buf_size - is->audio_buf_index;
  is->audio_callback_time = callbackTime;
}

double TPlayPipeline::GetAudioClock(TVideoState *is) {
  std::lock_guard<std::mutex> lock(is->audio_lock);
  if (!is->audio_clock_valid || is->audio_bytes_per_sec <= 0)
    return NAN;
  const double handed =
      is->audio_clock - double(is->audio_write_buf_size) / is->audio_bytes_per_sec;
  // The device plays what it was handed over one buffer's time after the callback.
  const double device = double(SDL_AUDIO_BUFFER_SIZE) / is->audio_freq;
  const double elapsed = std::clamp(NowSeconds() - is->audio_callback_time, 0.0, device);
  return handed - device + elapsed;
}

double TPlayPipeline::GetVideoClock(TVideoState *is) {
  if (!is->video_clock_valid)
    return NAN;
  const double base = is->paused ? is->pause_start.load() : NowSeconds();
  return is->video_current_pts_drift + base;
}

double TPlayPipeline::GetExternalClock(TVideoState *is) {
  return is->external_clock + (NowSeconds() - is->external_clock_time);
}

double TPlayPipeline::GetMasterClock(TVideoState *is) {
  switch (is->av_sync_type) {
  case AV_SYNC_VIDEO_MASTER:
    return is->video_st ? GetVideoClock(is) : GetAudioClock(is);
  case AV_SYNC_AUDIO_MASTER:
    return is->audio_st ? GetAudioClock(is) : GetVideoClock(is);
  default:
    return GetExternalClock(is);
  }
}
