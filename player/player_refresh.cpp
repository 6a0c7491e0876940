// The refresh timer, picture timing and display, the sound displays, and the position and end
// reports that follow each refresh.
#include "video_state.h"

#include "player_screen.h"

#include <QPainter>

#include <chrono>
#include <cmath>
#include <thread>

using namespace std::chrono_literals;

namespace {

// When the picture at APTS is due, on the wall clock; advances frame_timer.
double ComputeTargetTime(TVideoState *is, double APTS) {
  double delay = APTS - is->frame_last_pts;
  if (!is->frame_last_pts_valid || delay <= 0 || delay >= 10.0)
    delay = is->frame_last_delay; // a jump in the timestamps: keep the previous pace
  is->frame_last_delay = delay;
  is->frame_last_pts = APTS;
  is->frame_last_pts_valid = true;
  const bool videoMaster = is->av_sync_type == AV_SYNC_VIDEO_MASTER ||
                           (is->av_sync_type == AV_SYNC_AUDIO_MASTER && !is->audio_st);
  if (!videoMaster) {
    const double diff = TPlayPipeline::GetVideoClock(is) - TPlayPipeline::GetMasterClock(is);
    const double threshold = std::max(AV_SYNC_THRESHOLD, delay);
    if (std::fabs(diff) < AV_NOSYNC_THRESHOLD) {
      if (diff <= -threshold)
        delay = 0;
      else if (diff >= threshold)
        delay = 2 * delay;
    }
  }
  is->frame_timer += delay;
  return is->frame_timer;
}

// The text of a subtitle: the event text of an ASS line, without its override codes.
QString SubtitleText(const AVSubtitleRect *ARect) {
  QString raw;
  if (ARect->ass) {
    const char *p = ARect->ass;
    for (int commas = 0; *p && commas < 8; p++)
      if (*p == ',')
        commas++;
    raw = QString::fromUtf8(p);
  } else if (ARect->text) {
    raw = QString::fromUtf8(ARect->text);
  }
  QString text;
  bool inCode = false;
  for (int i = 0; i < raw.size(); i++) {
    const QChar c = raw[i];
    if (c == '{') {
      inCode = true;
    } else if (c == '}') {
      inCode = false;
    } else if (!inCode) {
      if (c == '\\' && i + 1 < raw.size() && (raw[i + 1] == 'N' || raw[i + 1] == 'n')) {
        text += '\n';
        i++;
      } else if (c == '\\' && i + 1 < raw.size() && raw[i + 1] == 'h') {
        text += ' ';
        i++;
      } else {
        text += c;
      }
    }
  }
  return text.trimmed();
}

void DrawSubtitle(QImage &AImage, const AVSubtitle &ASub, int AVideoWidth, int AVideoHeight) {
  if (ASub.num_rects == 0 || AVideoWidth <= 0 || AVideoHeight <= 0)
    return;
  QPainter p(&AImage);
  const double sx = double(AImage.width()) / AVideoWidth;
  const double sy = double(AImage.height()) / AVideoHeight;
  for (unsigned i = 0; i < ASub.num_rects; i++) {
    const AVSubtitleRect *r = ASub.rects[i];
    if (r->type == SUBTITLE_BITMAP && r->data[0] && r->data[1] && r->w > 0 && r->h > 0) {
      QImage bitmap(r->data[0], r->w, r->h, r->linesize[0], QImage::Format_Indexed8);
      QList<QRgb> palette(std::max(r->nb_colors, 1));
      std::memcpy(palette.data(), r->data[1], sizeof(QRgb) * size_t(palette.size()));
      bitmap.setColorTable(palette);
      p.drawImage(QRectF(r->x * sx, r->y * sy, r->w * sx, r->h * sy), bitmap);
    } else if (r->type == SUBTITLE_TEXT || r->type == SUBTITLE_ASS) {
      const QString text = SubtitleText(r);
      if (text.isEmpty())
        continue;
      QFont font = p.font();
      font.setPixelSize(std::max(10, AImage.height() / 16));
      p.setFont(font);
      const QRect box(0, 0, AImage.width(), AImage.height() - AImage.height() / 20);
      const int flags = Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap;
      p.setPen(Qt::black);
      for (const QPoint d : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)})
        p.drawText(box.translated(d), flags, text);
      p.setPen(Qt::white);
      p.drawText(box, flags, text);
    }
  }
}

// Frees subtitles that are over and returns the one due at AVideoPTS, if any (subpq_mutex held).
const TSubPicture *DueSubtitle(TVideoState *is, double AVideoPTS) {
  while (is->subpq_size > 0) {
    TSubPicture &sp = is->subpq[is->subpq_rindex];
    bool over = false;
    if (is->subpq_size > 1) {
      const TSubPicture &next = is->subpq[(is->subpq_rindex + 1) % SUBPICTURE_QUEUE_SIZE];
      over = AVideoPTS > next.pts + next.sub.start_display_time / 1000.0;
    }
    if (sp.sub.end_display_time > 0 && sp.sub.end_display_time != UINT32_MAX &&
        AVideoPTS > sp.pts + sp.sub.end_display_time / 1000.0)
      over = true;
    if (!over)
      break;
    avsubtitle_free(&sp.sub);
    sp = TSubPicture();
    is->subpq_rindex = (is->subpq_rindex + 1) % SUBPICTURE_QUEUE_SIZE;
    is->subpq_size--;
    is->subpq_cond.notify_all();
  }
  if (is->subpq_size == 0)
    return nullptr;
  const TSubPicture &sp = is->subpq[is->subpq_rindex];
  return AVideoPTS >= sp.pts + sp.sub.start_display_time / 1000.0 ? &sp : nullptr;
}

void DrawAudio(TVideoState *is, TScreenSurface *ASurface, QSize ASize) {
  const int ch = is->audio_channels;
  if (ch <= 0)
    return;
  const bool wave = is->show_audio == 1;
  int frames = wave ? ASize.width() : TAudioDisplay::SpectrumWindow(ASize, ch);
  frames = std::min(frames, SAMPLE_ARRAY_SIZE / ch / 2);
  std::vector<int16_t> samples(size_t(frames) * ch);
  {
    std::lock_guard<std::mutex> lock(is->audio_lock);
    if (is->sample_array.empty())
      return;
    // What plays now: behind the newest stored samples by what still waits to be played.
    const int delay = is->audio_write_buf_size / (2 * ch) + SDL_AUDIO_BUFFER_SIZE;
    int at = is->sample_array_index - (delay + frames) * ch;
    at = ((at % SAMPLE_ARRAY_SIZE) + SAMPLE_ARRAY_SIZE) % SAMPLE_ARRAY_SIZE;
    for (size_t i = 0; i < samples.size(); i++)
      samples[i] = is->sample_array[size_t((at + int(i)) % SAMPLE_ARRAY_SIZE)];
  }
  QImage &image = is->display_image[is->display_index];
  is->display_index ^= 1;
  if (wave)
    is->audio_display.DrawWave(image, ASize, samples.data(), frames, ch);
  else
    is->audio_display.DrawSpectrum(image, ASize, samples.data(), ch);
  ASurface->Present(image, QRect(QPoint(0, 0), ASize));
  is->displayed_size = ASize;
}

void ShowPicture(TVideoState *is, TVideoPicture &AVP, double ANow) {
  is->last_shown = std::move(AVP.Frame);
  is->last_shown_pts = AVP.pts;
  is->last_shown_stale = false;
  is->video_current_pts = AVP.pts;
  is->video_current_pts_drift = AVP.pts - (is->paused ? is->pause_start.load() : ANow);
  is->video_current_pos = AVP.pos;
  is->video_clock_valid = true;
  TPlayPipeline::VideoDisplay(is, false);
}

// Takes the first picture out of the queue (pictq_mutex held).
TVideoPicture PopPicture(TVideoState *is) {
  TVideoPicture vp = std::move(is->pictq[is->pictq_rindex]);
  is->pictq[is->pictq_rindex] = TVideoPicture();
  is->pictq_rindex = (is->pictq_rindex + 1) % VIDEO_PICTURE_QUEUE_SIZE;
  is->pictq_size--;
  is->pictq_cond.notify_all();
  return vp;
}

} // namespace

void TPlayPipeline::RefreshThread(TVideoState *is) {
  while (!is->abort_request) {
    if (!is->refresh_pending.exchange(true))
      is->Owner->PostPlayEvent(TCustomPlayer::TPlayThreadEventKind::Refresh);
    std::this_thread::sleep_for(std::chrono::milliseconds(is->refresh_interval_ms.load()));
  }
}

void TPlayPipeline::StreamPause(TVideoState *is, bool APause) {
  if (APause == is->paused)
    return;
  const double now = NowSeconds();
  if (APause) {
    is->pause_start = now;
    is->paused = true;
    return;
  }
  // Everything timed on the wall clock moves on by the time spent paused.
  const double paused = now - is->pause_start;
  is->frame_timer += paused;
  {
    std::lock_guard<std::mutex> lock(is->pictq_mutex);
    for (TVideoPicture &vp : is->pictq)
      if (vp.target_set)
        vp.target += paused;
  }
  is->video_current_pts_drift = is->video_current_pts_drift - paused;
  is->paused = false;
}

void TPlayPipeline::VideoDisplay(TVideoState *is, bool) {
  TScreenSurface *surface = is->Owner->FSurface.get();
  if (surface == nullptr)
    return;
  const QSize size = surface->Size();
  if (size.isEmpty())
    return;
  if (is->audio_st && is->show_audio) {
    DrawAudio(is, surface, size);
    return;
  }
  const AVFrame *f = is->last_shown.get();
  AVStream *st = is->video_st;
  if (f == nullptr || st == nullptr)
    return;
  const AVRational sar = av_guess_sample_aspect_ratio(is->ic.get(), st, const_cast<AVFrame *>(f));
  const QRect r = DisplayRect(size, f->width, f->height, sar, is->Owner->AspectRatio());
  if (r.isEmpty())
    return;
  QImage &image = is->display_image[is->display_index];
  is->display_index ^= 1;
  if (!is->display_converter.ToImage(f, image, r.size(), QImage::Format_RGB32,
                                     is->Owner->VerticalFlip()))
    return;
  if (is->subtitle_st) {
    std::lock_guard<std::mutex> lock(is->subpq_mutex);
    if (const TSubPicture *sp = DueSubtitle(is, is->last_shown_pts)) {
      int w = f->width, h = f->height;
      if (is->subtitle_dec && is->subtitle_dec->width > 0 && is->subtitle_dec->height > 0) {
        w = is->subtitle_dec->width;
        h = is->subtitle_dec->height;
      }
      DrawSubtitle(image, sp->sub, w, h);
    }
  }
  surface->Present(image, r);
  is->displayed_size = size;
  // The screen's size is the player's screen size from now on.
  is->Owner->SetScreenWidth(size.width());
  is->Owner->SetScreenHeight(size.height());
}

void TPlayPipeline::VideoRefresh(TVideoState *is) {
  TCustomPlayer *owner = is->Owner;
  const double now = NowSeconds();
  bool displayed = false;
  if (is->timing_reset.exchange(false)) {
    is->frame_timer = now;
    is->frame_last_pts_valid = false;
    is->frame_last_delay = 0;
    is->last_shown_stale = true;
  }
  if (is->video_st) {
    for (;;) {
      std::unique_lock<std::mutex> lock(is->pictq_mutex);
      if (is->pictq_size == 0)
        break;
      TVideoPicture &vp = is->pictq[is->pictq_rindex];
      if (is->paused) {
        // Paused: only the first picture after an open or a seek, or a step, is shown.
        if (!is->show_first && !is->step)
          break;
        TVideoPicture shown = PopPicture(is);
        lock.unlock();
        is->show_first = false;
        is->step = false;
        is->frame_timer = now;
        is->frame_last_pts = shown.pts;
        is->frame_last_pts_valid = true;
        ShowPicture(is, shown, now);
        displayed = true;
        break;
      }
      if (!vp.target_set) {
        vp.target = ComputeTargetTime(is, vp.pts);
        vp.target_set = true;
      }
      if (now < vp.target)
        break;
      double nextTarget = vp.target + is->frame_last_delay;
      if (is->pictq_size > 1) {
        const TVideoPicture &next = is->pictq[(is->pictq_rindex + 1) % VIDEO_PICTURE_QUEUE_SIZE];
        const double d = next.pts - vp.pts;
        if (d > 0 && d < 10.0)
          nextTarget = vp.target + d;
      }
      if (is->Options.Tuning.framedrop && !is->IsDevice && now > nextTarget) {
        is->skip_frames *= 1.0 + FRAME_SKIP_FACTOR;
        if (is->pictq_size > 1 || now > nextTarget + 0.5) {
          PopPicture(is); // late: dropped unseen
          continue;
        }
      }
      TVideoPicture shown = PopPicture(is);
      lock.unlock();
      is->show_first = false;
      ShowPicture(is, shown, now);
      displayed = true;
      break;
    }
  }
  TScreenSurface *surface = owner->FSurface.get();
  const bool audioShown = is->audio_st && is->show_audio;
  if (surface && !displayed) {
    if (audioShown)
      VideoDisplay(is, false); // the sound display moves on every refresh
    else if (is->last_shown && surface->Size() != is->displayed_size)
      VideoDisplay(is, true); // the screen changed size
  }
  is->refresh_interval_ms = audioShown ? std::max(1, is->Options.Tuning.rdftspeed) : 5;
  owner->PositionAndEnd(is);
  FlushAudioLog(is);
}

void TCustomPlayer::PositionAndEnd(TVideoState *is) {
  if (is->IsImage2)
    return;
  const double clock =
      is->video_st ? TPlayPipeline::GetVideoClock(is) : TPlayPipeline::GetAudioClock(is);
  if (!std::isnan(clock)) {
    int64_t t = int64_t(clock * AV_TIME_BASE) - (is->StartTime != -1 ? is->StartTime : 0);
    if (!is->video_st && is->AudioDuration >= 0 && t > is->AudioDuration)
      t = is->AudioDuration;
    t = std::max<int64_t>(t, 0);
    FCurrentPTS = t;
    if (is->Duration > 0 && t >= is->Duration)
      t = is->Duration;
    const int64_t last = FLastPTS;
    if (last == NoPTS || std::llabs(t - last) > 10000) {
      FLastPTS = t;
      PutPosition(t);
    }
    const int64_t playTime = FPlayTime;
    if (playTime != NoPTS && !is->seek_req) {
      const int64_t start = is->Options.Tuning.start_time;
      const int64_t limit = start != NoPTS ? start + playTime : playTime;
      if (t < limit) {
        FLoopArmed = true;
      } else if (FLoopArmed) {
        // Once per pass: the clock may still stand past the limit until the seek shows.
        FLoopArmed = false;
        switch (FRepeatType.load()) {
        case rtStop:
          Stop(false);
          break;
        case rtLoop:
          if (start != NoPTS)
            Seek(start, TSeekFlags(), false);
          else
            Seek(int64_t(0), {sfAny}, false);
          break;
        case rtNone:
          break;
        }
      }
    }
  }
  if (!is->IsDevice && is->ReachEOF && !is->EventEOF) {
    bool played;
    if (is->video_st) {
      std::lock_guard<std::mutex> lock(is->pictq_mutex);
      played = is->pictq_size == 0 && is->video_drained;
    } else {
      std::lock_guard<std::mutex> lock(is->audio_lock);
      played = is->audio_drained && is->audio_write_buf_size == 0;
    }
    if (played) {
      is->EventEOF = true;
      ReportState(psEnd);
    }
  }
}
