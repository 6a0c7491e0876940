// The output paths. A decoded picture is deinterlaced and handed to the custom hook or the
// frame-hook chain, then for each output stream synchronised to the frame rate, cropped, scaled,
// previewed and encoded. Decoded sound gets its gain, is converted to each encoder's format, rate
// and layout, synchronised to the timestamps and encoded in the encoder's frame size from a
// sample queue. Subtitles are re-encoded with corrected times.
#include "ffmpeg_transcoder.h"

#include "ff_logger.h"
#include "sync_call.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

namespace {

[[noreturn]] void Raise(const std::string &AMessage) {
  throw FFmpegException(AMessage);
}

TPicture PictureOf(const AVFrame *AFrame) {
  TPicture p;
  for (int i = 0; i < 4; ++i) {
    p.data[i] = AFrame->data[i];
    p.linesize[i] = AFrame->linesize[i];
  }
  return p;
}

bool SameGeometry(const AVFrame *AFrame, int AWidth, int AHeight, int AFormat) {
  return AFrame->width == AWidth && AFrame->height == AHeight && AFrame->format == AFormat;
}

// A picture with buffers of its own; null when they cannot be had.
FramePtr NewPicture(int AFormat, int AWidth, int AHeight) {
  FramePtr frame(av_frame_alloc());
  if (!frame)
    return frame;
  frame->format = AFormat;
  frame->width = AWidth;
  frame->height = AHeight;
  if (av_frame_get_buffer(frame.get(), 0) < 0)
    frame.reset();
  return frame;
}

// Sample value scaled by AVolume/256 with the rounding of the 16-bit case, clipped to [ALo, AHi].
template <typename T, typename TWide>
void ScaleIntegers(uint8_t *AData, int ACount, int AVolume, TWide ACentre, TWide ALo, TWide AHi) {
  T *s = reinterpret_cast<T *>(AData);
  for (int i = 0; i < ACount; ++i) {
    const TWide v = ((static_cast<TWide>(s[i]) - ACentre) * AVolume + 128) >> 8;
    s[i] = static_cast<T>(std::clamp<TWide>(v + ACentre, ALo, AHi));
  }
}

template <typename T> void ScaleFloats(uint8_t *AData, int ACount, int AVolume) {
  T *s = reinterpret_cast<T *>(AData);
  const T gain = static_cast<T>(AVolume) / 256;
  for (int i = 0; i < ACount; ++i)
    s[i] *= gain;
}

// The layout of decoded sound; a bare channel count stands for its usual layout.
void LayoutOf(const AVFrame *AFrame, AVChannelLayout &ALayout) {
  av_channel_layout_uninit(&ALayout);
  if (AFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
      av_channel_layout_copy(&ALayout, &AFrame->ch_layout) < 0)
    av_channel_layout_default(&ALayout, AFrame->ch_layout.nb_channels);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Pictures: pre-processing

void TCustomFFmpeg::PreprocessVideoFrame(TAVInputStream *AIst, AVFrame *AFrame) {
  ++FHookFrameNumber;
  const int64_t pts = AIst->pts;
  const bool frameHooks = Fusing_vhook && FFirstHook != nullptr;
  if (!OnCustomHook && !frameHooks)
    return;
  // The hooks draw on a picture of our own, never on one the decoder still refers to.
  if (!FHookBuf || !SameGeometry(FHookBuf.get(), AFrame->width, AFrame->height, AFrame->format) ||
      !av_frame_is_writable(FHookBuf.get()))
    FHookBuf = NewPicture(AFrame->format, AFrame->width, AFrame->height);
  if (!FHookBuf || av_frame_copy(FHookBuf.get(), AFrame) < 0 ||
      av_frame_copy_props(FHookBuf.get(), AFrame) < 0) {
    FHookBuf.reset();
    Log(llError, "hook buf malloc error.");
    return;
  }
  AVFrame *picture = FHookBuf.get();
  if (OnCustomHook) {
    RunCustomHook(picture, pts);
  } else {
    TFrameHookPicture hookPicture;
    for (int i = 0; i < 4; ++i) {
      hookPicture.data[i] = picture->data[i];
      hookPicture.linesize[i] = picture->linesize[i];
    }
    ProcessFrameHooks(FFirstHook, &hookPicture, picture->format, picture->width, picture->height,
                      pts);
  }
  av_frame_unref(AFrame);
  if (av_frame_ref(AFrame, picture) < 0)
    throw std::bad_alloc();
}

void TCustomFFmpeg::RunCustomHook(AVFrame *APicture, int64_t APts) {
  TPicture picture = PictureOf(APicture);
  TRGBConvertContext &context = FHookContext.Context;
  bool stop = false;
  if (!context.PictureToBitmap(picture, APicture->format, APicture->height, APicture->width)) {
    Log(llError, "Cannot initialize the toRGB conversion context");
    stop = true;
  } else {
    bool update = true;
    try {
      OnCustomHook(this, context.Bitmap(), FHookFrameNumber, APts, update, stop);
    } catch (const std::exception &e) {
      Log(llError, std::string("Error occurs OnCustomHook: ") + e.what());
      update = false;
    } catch (...) {
      Log(llError, "Error occurs OnCustomHook: unknown exception");
      update = false;
    }
    if (update &&
        !context.BitmapToPicture(picture, APicture->format, APicture->height, APicture->width)) {
      Log(llError, "Cannot initialize the fromRGB conversion context");
      stop = true;
    }
  }
  // A stopped hook stays stopped for the rest of the run, the frame hooks with it.
  if (stop) {
    OnCustomHook = nullptr;
    Fusing_vhook = false;
  }
}

// The old per-picture deinterlacer is gone from the libraries; yadif, one picture out per picture
// in, takes its place. It looks one picture ahead, so it hands each picture on when the next
// arrives, and the last at the end of the stream.
bool TCustomFFmpeg::BuildDeinterlacer(TAVInputStream *AIst, const AVFrame *AFrame) {
  AIst->deint_graph.reset();
  AIst->deint_src = AIst->deint_sink = nullptr;
  FilterGraphPtr graph(avfilter_graph_alloc());
  if (!graph)
    return false;
  graph->nb_threads = std::max(1, Fthread_count);
  const AVRational sar =
      AFrame->sample_aspect_ratio.num != 0 ? AFrame->sample_aspect_ratio : AVRational{0, 1};
  const std::string args =
      Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", AFrame->width,
             AFrame->height, AFrame->format, AV_TIME_BASE, sar.num, sar.den);
  AVFilterContext *src = nullptr, *yadif = nullptr, *sink = nullptr;
  const AVPixelFormat formats[] = {static_cast<AVPixelFormat>(AFrame->format), AV_PIX_FMT_NONE};
  if (avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), "src", args.c_str(),
                                   nullptr, graph.get()) < 0 ||
      avfilter_graph_create_filter(&yadif, avfilter_get_by_name("yadif"), "deinterlace",
                                   "mode=send_frame:parity=auto:deint=all", nullptr,
                                   graph.get()) < 0 ||
      avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                   nullptr, graph.get()) < 0 ||
      av_opt_set_int_list(sink, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN) < 0 ||
      avfilter_link(src, 0, yadif, 0) < 0 || avfilter_link(yadif, 0, sink, 0) < 0 ||
      avfilter_graph_config(graph.get(), nullptr) < 0)
    return false;
  if (!AIst->deint_frame)
    AIst->deint_frame.reset(av_frame_alloc());
  if (!AIst->deint_frame)
    return false;
  AIst->deint_graph = std::move(graph);
  AIst->deint_src = src;
  AIst->deint_sink = sink;
  AIst->deint_width = AFrame->width;
  AIst->deint_height = AFrame->height;
  AIst->deint_format = AFrame->format;
  return true;
}

bool TCustomFFmpeg::DeinterlaceFrame(TAVInputStream *AIst, AVFrame *AFrame) {
  if (AIst->deint_graph &&
      !SameGeometry(AFrame, AIst->deint_width, AIst->deint_height, AIst->deint_format))
    DrainDeinterlacer(AIst);
  if (!AIst->deint_graph && !BuildDeinterlacer(AIst, AFrame)) {
    Log(llError, "Deinterlacing failed.");
    return false;
  }
  const int64_t pts = AIst->pts;
  AFrame->pts = pts;
  if (av_buffersrc_add_frame_flags(AIst->deint_src, AFrame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
    Log(llError, "Deinterlacing failed.");
    AIst->deint_graph.reset();
    AIst->deint_src = AIst->deint_sink = nullptr;
    return false;
  }
  TakeDeinterlaced(AIst);
  AIst->pts = pts;
  return true;
}

void TCustomFFmpeg::TakeDeinterlaced(TAVInputStream *AIst) {
  AVFrame *out = AIst->deint_frame.get();
  // The deinterlacer counts in half the time base it was given.
  const AVRational tb = av_buffersink_get_time_base(AIst->deint_sink);
  while (av_buffersink_get_frame(AIst->deint_sink, out) >= 0) {
    AIst->pts = av_rescale_q(out->pts, tb, AV_TIME_BASE_Q);
    DeliverDecoded(AIst, out);
    av_frame_unref(out);
  }
}

void TCustomFFmpeg::DrainDeinterlacer(TAVInputStream *AIst) {
  if (!AIst->deint_graph)
    return;
  const int64_t pts = AIst->pts;
  if (av_buffersrc_add_frame(AIst->deint_src, nullptr) >= 0)
    TakeDeinterlaced(AIst);
  AIst->pts = pts;
  AIst->deint_graph.reset();
  AIst->deint_src = AIst->deint_sink = nullptr;
}

int TCustomFFmpeg::GetFilteredPicture(AVFilterContext *ASink, AVFrame *APicture, int64_t &APts) {
  if (av_buffersink_get_frame(ASink, APicture) < 0)
    return -1;
  // Filters may count time in another base than the source's microseconds.
  APts = APicture->pts == AV_NOPTS_VALUE
             ? AV_NOPTS_VALUE
             : av_rescale_q(APicture->pts, av_buffersink_get_time_base(ASink), AV_TIME_BASE_Q);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Pictures: encoding

int TCustomFFmpeg::EncodeAndWrite(TAVOutputStream *AOst, AVFrame *AFrame, const char *AFailure,
                                  int64_t &ASize) {
  AVCodecContext *enc = AOst->enc();
  TAMRNBEncoder *amrnb = AOst->setup->amrnb.get();
  int ret = amrnb ? amrnb->SendFrame(AFrame) : avcodec_send_frame(enc, AFrame);
  if (ret == AVERROR_EOF && AFrame == nullptr)
    return 0; // drained before
  if (ret < 0)
    Raise(AFailure);
  AVPacket *pkt = FOutPacket.get();
  int bytes = 0;
  for (;;) {
    ret = amrnb ? amrnb->ReceivePacket(pkt) : avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
      return bytes;
    if (ret < 0)
      Raise(AFailure);
    bytes += pkt->size;
    ASize += pkt->size;
    size_t sideSize = 0;
    if (const uint8_t *stats = av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &sideSize);
        stats != nullptr && sideSize >= 6) {
      AOst->quality = static_cast<float>(AV_RL32(stats));
      AOst->pict_type = stats[4];
      const int errors = std::min<int>(stats[5], 4);
      for (int i = 0; i < errors && sideSize >= 8 + 8 * static_cast<size_t>(i + 1); ++i)
        AOst->error[i] = AV_RL64(stats + 8 + 8 * i);
    }
    if (AOst->logfile != nullptr && enc->stats_out != nullptr)
      std::fputs(enc->stats_out, AOst->logfile);
    av_packet_rescale_ts(pkt, enc->time_base, AOst->st->time_base);
    write_frame(AOst, pkt);
  }
}

void TCustomFFmpeg::CheckPictureGeometry(TAVOutputStream *AOst, TAVInputStream *AIst,
                                         const AVFrame *AFrame) {
  AVCodecContext *enc = AOst->enc();
  const int width = AFrame->width - (AOst->leftBand + AOst->rightBand);
  const int height = AFrame->height - (AOst->topBand + AOst->bottomBand);
  // An input whose pictures could not be probed: the first picture sets the geometry.
  if (AOst->resample_pix_fmt == AV_PIX_FMT_NONE || AOst->resample_width <= 0 ||
      AOst->resample_height <= 0) {
    AOst->resample_width = width;
    AOst->resample_height = height;
    AOst->resample_pix_fmt = AFrame->format;
    if (AOst->original_width <= 0 || AOst->original_height <= 0) {
      AOst->original_width = AFrame->width;
      AOst->original_height = AFrame->height;
    }
    AOst->video_resample =
        width != enc->width || height != enc->height || AFrame->format != enc->pix_fmt;
    return;
  }
  if (width == AOst->resample_width && height == AOst->resample_height &&
      AFrame->format == AOst->resample_pix_fmt)
    return;
  const char *name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(AFrame->format));
  const std::string msg =
      Format("Input Stream #%d.%d frame size changed to %dx%d, %s", AIst->file_index, AIst->index,
             AFrame->width, AFrame->height, name != nullptr ? name : "none");
  Log(llQuiet, msg);
  if (!AOst->video_resample)
    Raise(msg);
  // The bands keep their share of the new size, rounded down to even numbers.
  if (AOst->original_width > 0 && AOst->original_height > 0) {
    const auto share = [](int ASize, int ABand, int AOriginal) {
      return static_cast<int>(static_cast<int64_t>(ASize) * ABand / AOriginal) & ~1;
    };
    AOst->topBand = share(AFrame->height, AOst->original_topBand, AOst->original_height);
    AOst->bottomBand = share(AFrame->height, AOst->original_bottomBand, AOst->original_height);
    AOst->leftBand = share(AFrame->width, AOst->original_leftBand, AOst->original_width);
    AOst->rightBand = share(AFrame->width, AOst->original_rightBand, AOst->original_width);
  }
  AOst->resample_width = AFrame->width - (AOst->leftBand + AOst->rightBand);
  AOst->resample_height = AFrame->height - (AOst->topBand + AOst->bottomBand);
  AOst->resample_pix_fmt = AFrame->format;
  if (FOptions)
    Fsws_flags = FOptions->SwsFlags();
  AOst->img_resample_ctx.reset();
  const auto format = static_cast<AVPixelFormat>(AFrame->format);
  if (AOst->resample_width > 0 && AOst->resample_height > 0 && sws_isSupportedInput(format))
    AOst->img_resample_ctx.reset(
        sws_getContext(AOst->resample_width, AOst->resample_height, format, enc->width, enc->height,
                       enc->pix_fmt, static_cast<int>(Fsws_flags), nullptr, nullptr, nullptr));
  if (!AOst->img_resample_ctx)
    Raise("Cannot get resampling context");
}

AVFrame *TCustomFFmpeg::ScalePicture(TAVOutputStream *AOst, const AVFrame *APicture) {
  AVCodecContext *enc = AOst->enc();
  const auto format = static_cast<AVPixelFormat>(APicture->format);
  if (!sws_isSupportedInput(format) || !sws_isSupportedOutput(enc->pix_fmt))
    Raise("Cannot get resampling context");
  AOst->img_resample_ctx.reset(sws_getCachedContext(
      AOst->img_resample_ctx.release(), APicture->width, APicture->height, format, enc->width,
      enc->height, enc->pix_fmt, static_cast<int>(Fsws_flags), nullptr, nullptr, nullptr));
  if (!AOst->img_resample_ctx)
    Raise("Cannot get resampling context");
  // A fresh picture when the encoder still holds the previous one; it is overwritten whole.
  if (!AOst->pict_tmp ||
      !SameGeometry(AOst->pict_tmp.get(), enc->width, enc->height, enc->pix_fmt) ||
      !av_frame_is_writable(AOst->pict_tmp.get())) {
    AOst->pict_tmp = NewPicture(enc->pix_fmt, enc->width, enc->height);
    if (!AOst->pict_tmp)
      Raise("Cannot allocate temp picture, check pix fmt");
  }
  sws_scale(AOst->img_resample_ctx.get(), APicture->data, APicture->linesize, 0, APicture->height,
            AOst->pict_tmp->data, AOst->pict_tmp->linesize);
  return AOst->pict_tmp.get();
}

int TCustomFFmpeg::EncodeVideoFrame(TAVOutputStream *AOst, TAVInputStream *AIst, AVFrame *AFrame) {
  AVCodecContext *enc = AOst->enc();
  const AVFormatContext *oc = OutputFile(AOst->file_index);

  // Frame-rate sync: the input's time in encoder ticks against the frames written.
  const double syncIpts = static_cast<double>(AOst->sync_ist->pts - Fstart_time) / AV_TIME_BASE /
                          av_q2d(enc->time_base);
  double frames = 1;
  if (Fvideo_sync_method == 0) {
    AOst->sync_opts = std::llrint(syncIpts);
  } else {
    const double vdelta = syncIpts - static_cast<double>(AOst->sync_opts);
    if (vdelta < -1.1) {
      frames = 0;
    } else if (Fvideo_sync_method == 2 ||
               (Fvideo_sync_method < 0 && (oc->oformat->flags & AVFMT_VARIABLE_FPS))) {
      if (vdelta <= -0.6)
        frames = 0;
      else if (vdelta > 0.6)
        AOst->sync_opts = std::llrint(syncIpts);
    } else if (vdelta > 1.1) {
      frames = std::nearbyint(vdelta);
    }
  }
  // The frame limit bounds the copies before they become a count.
  const double room = static_cast<double>(Fmax_frames[AVMEDIA_TYPE_VIDEO]) - AOst->frame_number;
  const int n = static_cast<int>(std::min(frames, std::min(room, static_cast<double>(INT_MAX))));
  if (frames == 0) {
    ++Fnb_frames_drop;
    FShowDupOrDrop = true;
    if (Fverbose > 2)
      Log(llVerbose, "*** drop!");
  } else if (frames > 1) {
    const int dup = static_cast<int>(std::min(frames - 1, static_cast<double>(INT_MAX)));
    Fnb_frames_dup += dup;
    FShowDupOrDrop = true;
    if (Fverbose > 2)
      GetLogger()->LogFmt(this, llVerbose, "*** %d dup!", dup);
  }
  if (n <= 0)
    return 0;

  // Geometry first, so that a changed picture is cropped with bands made for its size.
  AVFrame *picture = AFrame;
  FramePtr cropped;
  if (!AIst->filter_graph) {
    CheckPictureGeometry(AOst, AIst, AFrame);
    if (AOst->video_crop) {
      cropped.reset(av_frame_clone(AFrame));
      if (!cropped)
        throw std::bad_alloc();
      cropped->crop_top = static_cast<size_t>(std::max(AOst->topBand, 0));
      cropped->crop_bottom = static_cast<size_t>(std::max(AOst->bottomBand, 0));
      cropped->crop_left = static_cast<size_t>(std::max(AOst->leftBand, 0));
      cropped->crop_right = static_cast<size_t>(std::max(AOst->rightBand, 0));
      if (av_frame_apply_cropping(cropped.get(), AV_FRAME_CROP_UNALIGNED) < 0) {
        if (Fexit_on_error)
          Raise("error cropping picture");
        Log(llError, "error cropping picture");
        return 0;
      }
      picture = cropped.get();
    }
  }
  if (!SameGeometry(picture, enc->width, enc->height, enc->pix_fmt))
    picture = ScalePicture(AOst, picture);

  int frameSize = 0;
  for (int i = 0; i < n; ++i) {
    // A stop ends the copies of a duplicated picture.
    if (FBroken)
      break;
    picture->interlaced_frame = AFrame->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
      picture->top_field_first =
          Ftop_field_first == -1 ? AFrame->top_field_first : Ftop_field_first;
    picture->quality =
        static_cast<int>(std::lrint(Fsame_quality ? AIst->quality : AOst->setup->quality));
    if (!Fme_threshold)
      picture->pict_type = AV_PICTURE_TYPE_NONE;
    picture->pts = AOst->sync_opts;
    if (PostHooks() != 0)
      RunPostHooks(picture, enc);
    frameSize += EncodeAndWrite(AOst, picture, "Video encoding failed", Fvideo_size);
    ++AOst->sync_opts;
    ++AOst->frame_number;
  }
  return frameSize;
}

void TCustomFFmpeg::WriteVideoStats(TAVOutputStream *AOst, int AFrameSize) {
  if (Fvstats_file == nullptr) {
    Fvstats_file = std::fopen(Fvstats_filename.c_str(), "w");
    if (Fvstats_file == nullptr)
      Raise("fopen fail: " + Fvstats_filename);
  }
  const AVCodecContext *enc = AOst->enc();
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO)
    return;
  std::string line =
      Format("frame= %5d q= %2.1f ", AOst->frame_number, AOst->quality / FF_QP2LAMBDA);
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    line +=
        Format("PSNR= %6.2f ",
               -10.0 * std::log10(static_cast<double>(AOst->error[0]) /
                                  (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0)));
  line += Format("f_size= %6d ", AFrameSize);
  double time = static_cast<double>(AOst->sync_opts) * av_q2d(enc->time_base);
  if (time < 0.01)
    time = 0.01;
  const double bitrate = AFrameSize * 8 / av_q2d(enc->time_base) / 1000.0;
  const double average = static_cast<double>(Fvideo_size) * 8 / time / 1000.0;
  line += Format("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 static_cast<double>(Fvideo_size) / 1024, time, bitrate, average);
  line +=
      Format("type= %c\n", av_get_picture_type_char(static_cast<AVPictureType>(AOst->pict_type)));
  std::fputs(line.c_str(), Fvstats_file);
}

void TCustomFFmpeg::CloseVideoStats() {
  if (Fvstats_file != nullptr)
    std::fclose(Fvstats_file);
  Fvstats_file = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Post hooks

std::unique_lock<std::mutex> TCustomFFmpeg::LockPostHooks() const {
  std::unique_lock<std::mutex> lock(FPostHookLock, std::defer_lock);
  if (OnEventLoopThread())
    WaitServing([&lock] { return lock.try_lock(); });
  else
    lock.lock();
  return lock;
}

void TCustomFFmpeg::StorePostHooks(TPostHooks AValue) {
  FPostHooks = AValue;
  if (!(AValue & phPreview))
    FPostContext.Previewer.reset();
}

void TCustomFFmpeg::SetPostHooks(TPostHooks AValue) {
  auto lock = LockPostHooks();
  StorePostHooks(AValue);
}

TCustomFFmpeg::TPostHooks TCustomFFmpeg::PostHooks() const {
  auto lock = LockPostHooks();
  return FPostHooks;
}

void TCustomFFmpeg::ResetPostHooks() {
  auto lock = LockPostHooks();
  ResetPostHookContext(FPostContext);
}

void TCustomFFmpeg::RunPostHooks(const AVFrame *APicture, const AVCodecContext *AEnc) {
  auto lock = LockPostHooks();
  TPostHooks hooks = FPostHooks;
  TPostHookContext &ctx = FPostContext;
  const bool bitmap = (hooks & phBitmap) && OnPreviewBitmap;
  // Without a window to show pictures in there is nothing to preview.
  const bool preview = !bitmap && (hooks & phPreview) && (ctx.Previewer || PreviewerFactory);
  if (!bitmap && !preview)
    return;
  ctx.preview_cur_time = av_gettime_relative();
  if (ctx.preview_last_time != 0 && ctx.preview_cur_time - ctx.preview_last_time <= PreviewInterval)
    return;
  ctx.preview_last_time = ctx.preview_cur_time;
  const int64_t pts = APicture->pts == AV_NOPTS_VALUE
                          ? AV_NOPTS_VALUE
                          : av_rescale_q(APicture->pts, AEnc->time_base, AV_TIME_BASE_Q);
  const TPicture picture = PictureOf(APicture);
  const bool converted =
      ctx.Context.PictureToBitmap(picture, APicture->format, APicture->height, APicture->width);
  if (!converted)
    Log(llError, "Cannot initialize the toRGB conversion context");
  if (bitmap) {
    if (!converted) {
      hooks &= ~phBitmap;
    } else {
      try {
        OnPreviewBitmap(this, ctx.Context.Bitmap(), FHookFrameNumber, pts);
      } catch (const std::exception &e) {
        Log(llError, std::string("Error occurs OnPreviewBitmap: ") + e.what());
      }
    }
  } else {
    if (converted && !ctx.Previewer)
      ctx.Previewer = PreviewerFactory();
    // A window the user closed shows nothing more for this task.
    if (!converted || !ctx.Previewer ||
        !ctx.Previewer->PaintFrame(ctx.Context.Bitmap(), FHookFrameNumber, pts))
      hooks &= ~phPreview;
  }
  StorePostHooks(hooks);
}

// ---------------------------------------------------------------------------------------------
// Sound

void TCustomFFmpeg::ApplyVolume(AVFrame *AFrame) {
  if (Faudio_volume == 256)
    return;
  const auto format = static_cast<AVSampleFormat>(AFrame->format);
  if (av_get_bytes_per_sample(format) == 0)
    return;
  if (av_frame_make_writable(AFrame) < 0)
    throw std::bad_alloc();
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const int channels = AFrame->ch_layout.nb_channels;
  const int planes = planar ? channels : 1;
  const int count = AFrame->nb_samples * (planar ? 1 : channels);
  const int vol = Faudio_volume;
  for (int p = 0; p < planes; ++p) {
    uint8_t *data = AFrame->extended_data[p];
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
      ScaleIntegers<uint8_t, int64_t>(data, count, vol, 128, 0, 255);
      break;
    case AV_SAMPLE_FMT_S16:
      ScaleIntegers<int16_t, int64_t>(data, count, vol, 0, INT16_MIN, INT16_MAX);
      break;
    case AV_SAMPLE_FMT_S32:
      ScaleIntegers<int32_t, int64_t>(data, count, vol, 0, INT32_MIN, INT32_MAX);
      break;
    case AV_SAMPLE_FMT_S64:
      ScaleIntegers<int64_t, __int128>(data, count, vol, 0, INT64_MIN, INT64_MAX);
      break;
    case AV_SAMPLE_FMT_FLT:
      ScaleFloats<float>(data, count, vol);
      break;
    case AV_SAMPLE_FMT_DBL:
      ScaleFloats<double>(data, count, vol);
      break;
    default:
      break;
    }
  }
}

void TCustomFFmpeg::DrainAudioConverter(TAVOutputStream *AOst) {
  if (!AOst->resample || !AOst->fifo)
    return;
  const AVCodecContext *enc = AOst->enc();
  const int rest = swr_get_out_samples(AOst->resample.get(), 0);
  if (rest <= 0)
    return;
  if (!Faudio_buf.Reserve(rest, enc->ch_layout.nb_channels, enc->sample_fmt))
    Raise("Out of memory in do_audio_out");
  const int got = swr_convert(AOst->resample.get(), Faudio_buf.planes, rest, nullptr, 0);
  if (got > 0 && av_audio_fifo_write(AOst->fifo.get(), reinterpret_cast<void **>(Faudio_buf.planes),
                                     got) < got)
    Raise("av_fifo_realloc2() failed");
}

void TCustomFFmpeg::PrepareAudioConverter(TAVOutputStream *AOst, const AVFrame *AFrame) {
  AVCodecContext *enc = AOst->enc();
  AVChannelLayout in{};
  LayoutOf(AFrame, in);
  const bool sameInput = AOst->resample && AOst->resample_in_format == AFrame->format &&
                         AOst->resample_in_rate == AFrame->sample_rate &&
                         av_channel_layout_compare(&AOst->resample_in_layout, &in) == 0;
  const bool needed = AOst->audio_resample || AFrame->format != enc->sample_fmt ||
                      av_channel_layout_compare(&in, &enc->ch_layout) != 0;
  if (sameInput || (!needed && !AOst->resample)) {
    av_channel_layout_uninit(&in);
    return;
  }
  // Sound of another kind than the converter was made for: what it holds goes first.
  if (AOst->resample) {
    DrainAudioConverter(AOst);
    AOst->resample.reset();
  }
  if (!needed) {
    av_channel_layout_uninit(&in);
    return;
  }
  const auto decFormat = static_cast<AVSampleFormat>(AFrame->format);
  SwrContext *swr = nullptr;
  int ret = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &in,
                                decFormat, AFrame->sample_rate, 0, nullptr);
  AOst->resample.reset(swr);
  // Drift compensation stretches the sound, which needs a resampling converter.
  if (ret >= 0 && Faudio_sync_method > 1)
    ret = av_opt_set_int(swr, "flags", SWR_FLAG_RESAMPLE, 0);
  if (ret >= 0)
    ret = swr_init(swr);
  if (ret < 0) {
    av_channel_layout_uninit(&in);
    AOst->resample.reset();
    const char *from = av_get_sample_fmt_name(decFormat);
    const char *to = av_get_sample_fmt_name(enc->sample_fmt);
    if (!AOst->audio_resample)
      Raise(Format("Cannot convert %s sample format to %s sample format", from ? from : "none",
                   to ? to : "none"));
    Raise(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                 AFrame->ch_layout.nb_channels, AFrame->sample_rate, enc->ch_layout.nb_channels,
                 enc->sample_rate));
  }
  char inName[128] = "", outName[128] = "";
  av_channel_layout_describe(&in, inName, sizeof(inName));
  av_channel_layout_describe(&enc->ch_layout, outName, sizeof(outName));
  GetLogger()->LogFmt(
      this, llVerbose, "Converting audio for output stream #%d.%d: %d Hz %s %s to %d Hz %s %s",
      AOst->file_index, AOst->index, AFrame->sample_rate, inName, av_get_sample_fmt_name(decFormat),
      enc->sample_rate, outName, av_get_sample_fmt_name(enc->sample_fmt));
  AOst->resample_in_format = AFrame->format;
  AOst->resample_in_rate = AFrame->sample_rate;
  av_channel_layout_uninit(&AOst->resample_in_layout);
  AOst->resample_in_layout = in; // takes over the layout
}

// The encoder takes sound only in frames of its frame size (the last may be short).
static bool FrameSized(const AVCodecContext *AEnc) {
  return AEnc->frame_size > 1 &&
         !(AEnc->codec && (AEnc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
}

void TCustomFFmpeg::EncodeAudioQueue(TAVOutputStream *AOst, bool AFinal) {
  AVCodecContext *enc = AOst->enc();
  AVAudioFifo *fifo = AOst->fifo.get();
  const bool frameSized = FrameSized(enc);
  for (;;) {
    const int queued = av_audio_fifo_size(fifo);
    if (queued <= 0 || (frameSized && queued < enc->frame_size && !AFinal))
      return;
    const int frameSize = frameSized ? enc->frame_size : queued;
    const int count = std::min(queued, frameSize);
    FramePtr frame(av_frame_alloc());
    if (!frame)
      throw std::bad_alloc();
    frame->nb_samples = count;
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0)
      Raise("Out of memory in do_audio_out");
    av_audio_fifo_read(fifo, reinterpret_cast<void **>(frame->data), count);
    frame->pts = AOst->sync_opts;
    EncodeAndWrite(AOst, frame.get(), "Audio encoding failed", Faudio_size);
    AOst->sync_opts += frameSize;
    ++AOst->frame_number;
  }
}

void TCustomFFmpeg::do_audio_out(TAVOutputStream *AOst, TAVInputStream *AIst, AVFrame *AFrame) {
  AVCodecContext *enc = AOst->enc();
  const auto decFormat = static_cast<AVSampleFormat>(AFrame->format);
  const int decChannels = AFrame->ch_layout.nb_channels;
  const int decRate = AFrame->sample_rate;
  const int encChannels = enc->ch_layout.nb_channels;
  const int encRate = enc->sample_rate;
  const int isize = av_get_bytes_per_sample(decFormat);
  const int osize = av_get_bytes_per_sample(enc->sample_fmt);
  if (decChannels <= 0 || decRate <= 0 || isize <= 0 || encChannels <= 0 || encRate <= 0 ||
      osize <= 0)
    Raise(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", decChannels,
                 decRate, encChannels, encRate));

  // Room for the converted sound of AInSamples input samples (with AAllocate); refuses absurd
  // sizes.
  const auto reserve = [&](int64_t AInSamples, bool AAllocate) {
    int64_t samples = (AInSamples * encRate + decRate) / decRate * 2 + 10000;
    samples = std::max<int64_t>(samples, enc->frame_size);
    const int64_t audioBufSize = samples * osize * encChannels;
    int64_t outBufSize = std::max<int64_t>(audioBufSize, static_cast<int64_t>(enc->frame_size) *
                                                             osize * encChannels);
    const int codedBits = av_get_bits_per_sample(enc->codec_id);
    if (codedBits > 8 * osize)
      outBufSize = outBufSize * codedBits / (8 * osize);
    outBufSize += 16384;
    if (audioBufSize > INT_MAX || outBufSize > INT_MAX)
      Raise("Buffer sizes too large in do_audio_out");
    if (!AAllocate)
      return;
    if (AOst->resample)
      samples = std::max<int64_t>(
          samples, swr_get_out_samples(AOst->resample.get(), static_cast<int>(AInSamples)));
    if (samples > INT_MAX / std::max(1, osize * encChannels) ||
        !Faudio_buf.Reserve(static_cast<int>(samples), encChannels, enc->sample_fmt))
      Raise("Out of memory in do_audio_out");
  };

  if (decChannels != encChannels || decRate != encRate)
    AOst->audio_resample = true;
  if (!AOst->fifo) {
    AOst->fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, encChannels, 1024));
    if (!AOst->fifo)
      Raise("av_fifo_alloc fail");
  }
  PrepareAudioConverter(AOst, AFrame);

  // The input, as plane pointers that dropping samples can move.
  const bool planar = av_sample_fmt_is_planar(decFormat) != 0;
  const int inPlanes = planar ? decChannels : 1;
  std::vector<const uint8_t *> input(AFrame->extended_data, AFrame->extended_data + inPlanes);
  int inSamples = AFrame->nb_samples;

  // Sync to the timestamps: drop samples, put silence in front, or stretch. The converter's
  // own delay counts as queued sound.
  int64_t silence = 0; // input samples of silence to put in front
  const int64_t queued = av_audio_fifo_size(AOst->fifo.get()) +
                         (AOst->resample ? swr_get_delay(AOst->resample.get(), encRate) : 0);
  const double syncIpts = static_cast<double>(AOst->sync_ist->pts - Fstart_time) / AV_TIME_BASE;
  if (Faudio_sync_method != 0) {
    const double delta =
        syncIpts * encRate - static_cast<double>(AOst->sync_opts) - static_cast<double>(queued);
    const double idelta = delta * decRate / encRate;
    const int64_t sampleDelta = static_cast<int64_t>(idelta);
    if (std::fabs(delta) > 50) {
      if (AIst->is_start || std::fabs(delta) > encRate * Faudio_drift_threshold) {
        if (sampleDelta < 0) {
          const int drop = static_cast<int>(std::min<int64_t>(-sampleDelta, inSamples));
          const int step = isize * (planar ? 1 : decChannels);
          for (const uint8_t *&plane : input)
            plane += static_cast<ptrdiff_t>(drop) * step;
          inSamples -= drop;
          if (Fverbose > 2)
            GetLogger()->LogFmt(this, llVerbose, "discarding %d audio samples",
                                static_cast<int>(-delta));
          if (inSamples <= 0)
            return;
          AIst->is_start = 0;
        } else if (sampleDelta > 0) {
          reserve(sampleDelta + inSamples, false);
          AIst->is_start = 0;
          silence = sampleDelta;
          if (Fverbose > 2)
            GetLogger()->LogFmt(this, llVerbose, "adding %d audio samples of silence",
                                static_cast<int>(delta));
        }
      } else if (Faudio_sync_method > 1 && AOst->resample) {
        const int comp =
            std::clamp(static_cast<int>(delta), -Faudio_sync_method, Faudio_sync_method);
        if (Fverbose > 2)
          GetLogger()->LogFmt(this, llVerbose,
                              "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                              comp, encRate);
        swr_set_compensation(AOst->resample.get(), comp, encRate);
      }
    }
  } else {
    AOst->sync_opts = std::llrint(syncIpts * encRate) - queued;
  }

  // Conversion to the encoder's format, rate and layout, then through the queue, which hands
  // frame-sized encoders whole frames and the others all there is.
  const auto queue = [&](const uint8_t *const *APlanes, int ACount) {
    uint8_t *const *data = const_cast<uint8_t *const *>(APlanes);
    int samples = ACount;
    if (AOst->resample) {
      reserve(ACount, true);
      samples = swr_convert(AOst->resample.get(), Faudio_buf.planes, Faudio_buf.capacity,
                            const_cast<const uint8_t **>(APlanes), ACount);
      if (samples < 0) {
        if (AOst->audio_resample)
          Raise(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", decChannels,
                       decRate, encChannels, encRate));
        if (Fexit_on_error)
          Raise("av_audio_convert() failed");
        Log(llError, "av_audio_convert() failed");
        return false;
      }
      data = Faudio_buf.planes;
    }
    if (samples > 0) {
      if (av_audio_fifo_write(AOst->fifo.get(),
                              reinterpret_cast<void **>(const_cast<uint8_t **>(data)),
                              samples) < samples)
        Raise("av_fifo_realloc2() failed");
      EncodeAudioQueue(AOst, false);
    }
    return true;
  };
  // Silence goes in pieces of at most a second, so a long gap needs no long buffer.
  if (silence > 0) {
    const int piece = static_cast<int>(std::min<int64_t>(silence, decRate));
    if (!Finput_tmp.Reserve(piece, decChannels, decFormat))
      Raise("Out of memory in do_audio_out");
    av_samples_set_silence(Finput_tmp.planes, 0, piece, decChannels, decFormat);
    for (int64_t left = silence; left > 0; left -= piece)
      if (!queue(Finput_tmp.planes, static_cast<int>(std::min<int64_t>(left, piece))))
        return;
  }
  queue(input.data(), inSamples);
}

// ---------------------------------------------------------------------------------------------
// Subtitles

void TCustomFFmpeg::EncodeSubtitle(TAVOutputStream *AOst, TAVInputStream *AIst, AVSubtitle *ASub,
                                   int64_t APts) {
  if (APts == AV_NOPTS_VALUE) {
    if (Fexit_on_error)
      Raise("Subtitle packets must have a pts");
    Log(llError, "Subtitle packets must have a pts");
    return;
  }
  AVCodecContext *enc = AOst->enc();
  constexpr int SubtitleBufferSize = 1024 * 1024;
  if (Fsubtitle_out.empty())
    Fsubtitle_out.resize(SubtitleBufferSize);
  // A DVB subtitle is shown by one packet and cleared by a second, empty one.
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const unsigned rects = ASub->num_rects;
  const AVRational tb = AOst->st->time_base;
  for (int i = 0; i < (dvb ? 2 : 1); ++i) {
    ASub->pts = av_rescale_q(APts, AIst->st->time_base, AV_TIME_BASE_Q) +
                static_cast<int64_t>(ASub->start_display_time) * 1000;
    ASub->end_display_time -= ASub->start_display_time;
    ASub->start_display_time = 0;
    if (i == 1)
      ASub->num_rects = 0;
    const int size = avcodec_encode_subtitle(enc, Fsubtitle_out.data(), SubtitleBufferSize, ASub);
    ASub->num_rects = rects;
    if (size < 0)
      Raise("Subtitle encoding failed");
    AVPacket *pkt = FOutPacket.get();
    if (av_new_packet(pkt, size) < 0)
      throw std::bad_alloc();
    std::memcpy(pkt->data, Fsubtitle_out.data(), static_cast<size_t>(size));
    pkt->pts = av_rescale_q(ASub->pts, AV_TIME_BASE_Q, tb);
    if (dvb) {
      // The display times are milliseconds, whatever the stream's time base.
      const int64_t shown = i == 0 ? ASub->start_display_time : ASub->end_display_time;
      pkt->pts += av_rescale_q(shown, AVRational{1, 1000}, tb);
    } else {
      pkt->duration = av_rescale_q(ASub->end_display_time, AVRational{1, 1000}, tb);
    }
    pkt->dts = pkt->pts;
    write_frame(AOst, pkt);
    ++AOst->frame_number;
  }
}

// ---------------------------------------------------------------------------------------------
// End of stream

void TCustomFFmpeg::flush_encoder(TAVOutputStream *AOst) {
  AVCodecContext *enc = AOst->enc();
  if (!AOst->encoding_needed || enc == nullptr || !AOst->encoder_open())
    return;
  switch (enc->codec_type) {
  case AVMEDIA_TYPE_AUDIO:
    DrainAudioConverter(AOst);
    // The short rest: the encoder takes a short last frame or pads it itself.
    if (AOst->fifo)
      EncodeAudioQueue(AOst, true);
    EncodeAndWrite(AOst, nullptr, "Audio encoding failed", Faudio_size);
    break;
  case AVMEDIA_TYPE_VIDEO:
    EncodeAndWrite(AOst, nullptr, "Video encoding failed", Fvideo_size);
    break;
  default:
    break;
  }
}
