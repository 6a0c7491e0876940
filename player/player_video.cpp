// The video and subtitle decode threads, the picture and subtitle queues, and the picture hook.
#include "video_state.h"

#include "ff_error.h"

#include <chrono>
#include <cmath>
#include <thread>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

using namespace std::chrono_literals;

namespace {

bool VideoAborted(TVideoState *is) {
  return is->abort_request || is->videoq.Aborted();
}

// (Re)builds the filter graph for pictures of this size and format.
} // namespace

bool TPlayPipeline::ConfigureFilters(TVideoState *is, const AVFrame *AFrame) {
  TCustomPlayer *owner = is->Owner;
  is->filter_graph.reset(avfilter_graph_alloc());
  is->filter_in = is->filter_out = nullptr;
  AVFilterGraph *graph = is->filter_graph.get();
  if (graph == nullptr)
    return false;
  graph->nb_threads = 1;
  const AVRational tb = is->video_st.load()->time_base;
  AVRational sar = AFrame->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0)
    sar = {0, 1};
  const std::string args =
      ::Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", AFrame->width,
               AFrame->height, AFrame->format, tb.num, tb.den, sar.num, sar.den);
  int ret = avfilter_graph_create_filter(&is->filter_in, avfilter_get_by_name("buffer"),
                                         "ffplay_input", args.c_str(), nullptr, graph);
  if (ret >= 0)
    ret = avfilter_graph_create_filter(&is->filter_out, avfilter_get_by_name("buffersink"),
                                       "ffplay_output", nullptr, nullptr, graph);
  if (ret >= 0) {
    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = is->filter_in;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = is->filter_out;
    inputs->pad_idx = 0;
    inputs->next = nullptr;
    ret = avfilter_graph_parse_ptr(graph, is->Options.VideoFilters.c_str(), &inputs, &outputs,
                                   nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
  }
  if (ret >= 0)
    ret = avfilter_graph_config(graph, nullptr);
  if (ret < 0) {
    owner->Error(FormatLibraryError("video filters", ret), false);
    is->filter_graph.reset();
    is->filter_in = is->filter_out = nullptr;
    return false;
  }
  is->filter_w = AFrame->width;
  is->filter_h = AFrame->height;
  is->filter_fmt = AFrame->format;
  return true;
}

void TPlayPipeline::ClearPictureQueue(TVideoState *is) {
  std::lock_guard<std::mutex> lock(is->pictq_mutex);
  for (TVideoPicture &vp : is->pictq)
    vp = TVideoPicture();
  is->pictq_size = is->pictq_rindex = is->pictq_windex = 0;
  is->pictq_cond.notify_all();
}

void TPlayPipeline::ClearSubtitleQueue(TVideoState *is) {
  std::lock_guard<std::mutex> lock(is->subpq_mutex);
  for (TSubPicture &sp : is->subpq) {
    if (sp.valid)
      avsubtitle_free(&sp.sub);
    sp = TSubPicture();
  }
  is->subpq_size = is->subpq_rindex = is->subpq_windex = 0;
  is->subpq_cond.notify_all();
}

void TCustomPlayer::CallHook(AVFrame *AFrame, int64_t APTS) {
  THookEvent handler;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    handler = FOnHook;
  }
  if (!handler)
    return;
  if (!FHookContext.ToImage(AFrame, FHookBitmap, QSize(AFrame->width, AFrame->height),
                            QImage::Format_RGB888, false)) {
    Log(llError, "Cannot initialize the toRGB conversion context");
    return;
  }
  try {
    handler(this, FHookBitmap, APTS);
  } catch (const std::exception &e) {
    Log(llError, std::string("Error occurs OnHook: ") + e.what());
    return;
  }
  if (av_frame_make_writable(AFrame) < 0 || !FHookContext.FromImage(FHookBitmap, AFrame, false))
    Log(llError, "Cannot initialize the fromRGB conversion context");
}

// Queues one decoded picture. -1 when the queue was aborted.
int TPlayPipeline::QueuePicture(TVideoState *is, AVFrame *AFrame, double APTS) {
  TCustomPlayer *owner = is->Owner;
  if (owner->Hook()) {
    const int64_t start = is->StartTime != -1 ? is->StartTime : 0;
    owner->CallHook(AFrame, int64_t(APTS * AV_TIME_BASE) - start);
  }
  {
    std::unique_lock<std::mutex> lock(is->pictq_mutex);
    if (is->pictq_size > 1)
      is->skip_frames =
          std::max(1.0 - FRAME_SKIP_FACTOR, is->skip_frames * (1.0 - FRAME_SKIP_FACTOR));
    // A seek that is under way makes this picture old: stop waiting for room then.
    is->pictq_cond.wait(lock, [is] {
      return is->pictq_size < VIDEO_PICTURE_QUEUE_SIZE || VideoAborted(is) || !is->seek_flushed;
    });
    if (VideoAborted(is))
      return -1;
    if (!is->seek_flushed)
      return 0;
    TVideoPicture &vp = is->pictq[is->pictq_windex];
    vp.Frame.reset(av_frame_alloc());
    av_frame_move_ref(vp.Frame.get(), AFrame);
    vp.pts = APTS;
    vp.pos = vp.Frame->pkt_pos;
    vp.target_set = false;
    is->pictq_windex = (is->pictq_windex + 1) % VIDEO_PICTURE_QUEUE_SIZE;
    is->pictq_size++;
    owner->FPictEvent.Set();
  }
  is->EventEOF = false;
  is->seek_serving = false;
  if (!is->paused)
    owner->FSeeking = false;
  if (const int n = is->open_paused) {
    if (n >= 2) {
      is->open_paused = 0;
      // Through the play thread, which reports psPlay first: the pictures may be decoded
      // before it starts, while the owner's file-open handler still runs.
      owner->PostPlayEvent(TCustomPlayer::TPlayThreadEventKind::Task,
                           [owner] { owner->ReportState(psPause); });
    } else {
      is->open_paused = n + 1;
    }
  }
  return 0;
}

// Times a decoded picture, drops it when the display falls behind, and queues it.
int TPlayPipeline::OutputPicture(TVideoState *is, AVFrame *AFrame, AVRational ATimeBase,
                                 AVRational ARate) {
  int64_t ts;
  switch (is->Options.Tuning.decoder_reorder_pts) {
  case 0:
    ts = AFrame->pkt_dts;
    break;
  case 1:
    ts = AFrame->pts;
    break;
  default:
    ts = AFrame->best_effort_timestamp; // the source with fewer detected faults
    break;
  }
  double pts = ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(ATimeBase);
  if (std::isnan(pts))
    pts = is->video_clock;
  else
    is->video_clock = pts;
  double frameDelay = ARate.num > 0 && ARate.den > 0 ? av_q2d(av_inv_q(ARate)) : 0.04;
  frameDelay += AFrame->repeat_pict * (frameDelay * 0.5);
  is->video_clock += frameDelay;

  double skip;
  {
    std::lock_guard<std::mutex> lock(is->pictq_mutex);
    skip = is->skip_frames;
  }
  is->skip_frames_index += 1.0;
  if (is->skip_frames_index < skip && !is->paused) {
    av_frame_unref(AFrame);
    return 0;
  }
  is->skip_frames_index = std::max(0.0, is->skip_frames_index - std::max(skip, 1.0));
  return QueuePicture(is, AFrame, pts);
}

void TPlayPipeline::VideoThread(TVideoState *is) {
  AVCodecContext *dec = is->video_dec.get();
  const AVRational tb = is->video_st.load()->time_base;
  const AVRational rate = av_guess_frame_rate(is->ic.get(), is->video_st.load(), nullptr);
  const bool filtered = !is->Options.VideoFilters.empty();
  bool filtersBroken = false;
  FramePtr frame(av_frame_alloc());
  FramePtr filteredFrame(av_frame_alloc());

  // Passes one decoded picture on, through the filters when there are any. -1 on abort.
  auto passOn = [&](AVFrame *f) -> int {
    if (!filtered || filtersBroken)
      return OutputPicture(is, f, tb, rate);
    if (!is->filter_graph || f->width != is->filter_w || f->height != is->filter_h ||
        f->format != is->filter_fmt) {
      if (!ConfigureFilters(is, f)) {
        filtersBroken = true; // reported once; the pictures go on unfiltered
        return OutputPicture(is, f, tb, rate);
      }
    }
    if (av_buffersrc_add_frame(is->filter_in, f) < 0) {
      av_frame_unref(f);
      return 0;
    }
    const AVRational outTb = av_buffersink_get_time_base(is->filter_out);
    while (av_buffersink_get_frame(is->filter_out, filteredFrame.get()) >= 0) {
      if (OutputPicture(is, filteredFrame.get(), outTb, rate) < 0)
        return -1;
    }
    return 0;
  };
  auto receiveAll = [&]() -> int {
    for (;;) {
      const int ret = avcodec_receive_frame(dec, frame.get());
      if (ret == AVERROR_EOF) {
        is->video_drained = true;
        is->Owner->FPictEvent.Set(); // no further picture: nobody waits for one
        // A file with a single picture never queues a second one.
        if (is->open_paused) {
          is->open_paused = 0;
          is->Owner->ReportState(psPause);
        }
        return 0;
      }
      if (ret < 0)
        return 0;
      if (passOn(frame.get()) < 0)
        return -1;
    }
  };

  for (;;) {
    while (is->paused && !VideoAborted(is) && !is->seek_req && !is->seek_serving &&
           !is->open_paused && !is->step)
      std::this_thread::sleep_for(10ms);
    TPacketItem item;
    if (is->videoq.Get(item, true) < 0)
      break;
    if (item.Kind == TPacketKind::Flush) {
      avcodec_flush_buffers(dec);
      ClearPictureQueue(is);
      {
        std::lock_guard<std::mutex> lock(is->pictq_mutex);
        is->skip_frames = 1.0;
        is->seek_flushed = true;
      }
      is->skip_frames_index = 0;
      is->video_drained = false;
      is->video_clock_valid = false;
      is->timing_reset = true;
      // Shown at once should the player be (or become) paused before it is due.
      is->show_first = true;
      if (is->filter_graph)
        is->filter_graph.reset();
      continue;
    }
    const AVPacket *pkt = item.Kind == TPacketKind::Drain ? nullptr : item.Packet.get();
    int ret = avcodec_send_packet(dec, pkt);
    if (ret == AVERROR(EAGAIN)) {
      if (receiveAll() < 0)
        break;
      ret = avcodec_send_packet(dec, pkt);
    }
    // A damaged packet is skipped; the decoder has said why.
    if (receiveAll() < 0)
      break;
  }
}

void TPlayPipeline::SubtitleThread(TVideoState *is) {
  AVCodecContext *dec = is->subtitle_dec.get();
  const AVRational tb = is->subtitle_st.load()->time_base;
  for (;;) {
    while (is->paused && !is->abort_request && !is->subtitleq.Aborted() && !is->seek_req &&
           !is->seek_serving)
      std::this_thread::sleep_for(10ms);
    TPacketItem item;
    if (is->subtitleq.Get(item, true) < 0)
      break;
    if (item.Kind == TPacketKind::Flush) {
      avcodec_flush_buffers(dec);
      ClearSubtitleQueue(is);
      continue;
    }
    if (item.Kind != TPacketKind::Data)
      continue;
    {
      std::unique_lock<std::mutex> lock(is->subpq_mutex);
      is->subpq_cond.wait(lock, [is] {
        return is->subpq_size < SUBPICTURE_QUEUE_SIZE || is->abort_request ||
               is->subtitleq.Aborted();
      });
      if (is->abort_request || is->subtitleq.Aborted())
        break;
    }
    AVSubtitle sub{};
    int got = 0;
    if (avcodec_decode_subtitle2(dec, &sub, &got, item.Packet.get()) < 0 || !got)
      continue;
    double pts = 0;
    if (sub.pts != AV_NOPTS_VALUE)
      pts = sub.pts / double(AV_TIME_BASE);
    else if (item.Packet->pts != AV_NOPTS_VALUE)
      pts = item.Packet->pts * av_q2d(tb);
    std::lock_guard<std::mutex> lock(is->subpq_mutex);
    TSubPicture &sp = is->subpq[is->subpq_windex];
    sp.sub = sub;
    sp.pts = pts;
    sp.valid = true;
    is->subpq_windex = (is->subpq_windex + 1) % SUBPICTURE_QUEUE_SIZE;
    is->subpq_size++;
  }
}
