// The output paths for decoded pictures, sound and subtitles. This is the plain path: crop and
// scale each picture to the encoder's geometry, give it the next frame time, resample the sound
// into a sample queue and encode it in the encoder's frame size. Frame-rate synchronisation,
// audio synchronisation, volume, hooks and previews belong here too.
#include "ffmpeg_transcoder.h"

#include "ff_logger.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/pixdesc.h>
}

namespace {

[[noreturn]] void Raise(const std::string &AMessage) {
  throw FFmpegException(AMessage);
}

// Plane pointers of AFrame moved in by the crop bands; false for a format that cannot be cropped
// by moving pointers.
bool CroppedPlanes(const AVFrame *AFrame, int ATop, int ALeft, uint8_t *AData[4]) {
  const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(AFrame->format));
  if (desc == nullptr || (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)))
    return false;
  for (int i = 0; i < 4; ++i)
    AData[i] = AFrame->data[i];
  for (int c = 0; c < desc->nb_components; ++c) {
    const AVComponentDescriptor &comp = desc->comp[c];
    const bool chroma = c == 1 || c == 2;
    const int top = chroma ? ATop >> desc->log2_chroma_h : ATop;
    const int left = chroma ? ALeft >> desc->log2_chroma_w : ALeft;
    AData[comp.plane] = AFrame->data[comp.plane] +
                        static_cast<ptrdiff_t>(top) * AFrame->linesize[comp.plane] +
                        static_cast<ptrdiff_t>(left) * comp.step;
  }
  return true;
}

} // namespace

void TCustomFFmpeg::PreprocessVideoFrame(TAVInputStream *, AVFrame *) {}

void TCustomFFmpeg::ApplyVolume(AVFrame *) {}

// Sends AFrame (null: the end) to the stream's encoder and writes every packet it gives.
static void EncodeAndWrite(TCustomFFmpeg &ATask, TAVOutputStream *AOst, AVFrame *AFrame,
                           const char *AFailure, int64_t &ASize) {
  AVCodecContext *enc = AOst->enc();
  int ret = avcodec_send_frame(enc, AFrame);
  if (ret == AVERROR_EOF && AFrame == nullptr)
    return; // drained before
  if (ret < 0)
    throw FFmpegException(AFailure);
  PacketPtr pkt(av_packet_alloc());
  if (!pkt)
    throw std::bad_alloc();
  for (;;) {
    ret = avcodec_receive_packet(enc, pkt.get());
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
      return;
    if (ret < 0)
      throw FFmpegException(AFailure);
    ASize += pkt->size;
    size_t sideSize = 0;
    if (const uint8_t *stats =
            av_packet_get_side_data(pkt.get(), AV_PKT_DATA_QUALITY_STATS, &sideSize);
        stats != nullptr && sideSize >= 6) {
      AOst->quality = static_cast<float>(AV_RL32(stats));
      const int errors = std::min<int>(stats[5], 4);
      for (int i = 0; i < errors && sideSize >= 8 + 8 * static_cast<size_t>(i + 1); ++i)
        AOst->error[i] = AV_RL64(stats + 8 + 8 * i);
    }
    if (AOst->logfile != nullptr && enc->stats_out != nullptr)
      std::fputs(enc->stats_out, AOst->logfile);
    av_packet_rescale_ts(pkt.get(), enc->time_base, AOst->st->time_base);
    ATask.write_frame(AOst, pkt.get());
  }
}

void TCustomFFmpeg::do_video_out(TAVOutputStream *AOst, TAVInputStream *AIst, AVFrame *AFrame) {
  AVCodecContext *enc = AOst->enc();
  if (AOst->frame_number >= Fmax_frames[AVMEDIA_TYPE_VIDEO])
    return;
  (void)AIst;

  // Crop (without a filter graph, which crops itself) and convert to the encoder's picture.
  AVFrame *picture = AFrame;
  const bool crop = AOst->video_crop && !AIst->filter_graph;
  const int top = crop ? AOst->topBand : 0, left = crop ? AOst->leftBand : 0;
  const int width = AFrame->width - (crop ? AOst->leftBand + AOst->rightBand : 0);
  const int height = AFrame->height - (crop ? AOst->topBand + AOst->bottomBand : 0);
  if (crop || width != enc->width || height != enc->height || AFrame->format != enc->pix_fmt) {
    uint8_t *planes[4];
    if (!CroppedPlanes(AFrame, top, left, planes)) {
      if (Fexit_on_error)
        Raise("error cropping picture");
      Log(llError, "error cropping picture");
      return;
    }
    const auto format = static_cast<AVPixelFormat>(AFrame->format);
    if (width <= 0 || height <= 0 || !sws_isSupportedInput(format) ||
        !sws_isSupportedOutput(enc->pix_fmt))
      Raise("Cannot get resampling context");
    AOst->img_resample_ctx.reset(sws_getCachedContext(
        AOst->img_resample_ctx.release(), width, height, static_cast<AVPixelFormat>(AFrame->format),
        enc->width, enc->height, enc->pix_fmt, static_cast<int>(Fsws_flags), nullptr, nullptr,
        nullptr));
    if (!AOst->img_resample_ctx)
      Raise("Cannot get resampling context");
    if (!AOst->pict_tmp || AOst->pict_tmp->width != enc->width ||
        AOst->pict_tmp->height != enc->height || AOst->pict_tmp->format != enc->pix_fmt) {
      AOst->pict_tmp.reset(av_frame_alloc());
      if (!AOst->pict_tmp)
        throw std::bad_alloc();
      AOst->pict_tmp->format = enc->pix_fmt;
      AOst->pict_tmp->width = enc->width;
      AOst->pict_tmp->height = enc->height;
      if (av_frame_get_buffer(AOst->pict_tmp.get(), 0) < 0)
        Raise("Cannot allocate temp picture, check pix fmt");
    }
    // The encoder may still hold the previous picture.
    if (av_frame_make_writable(AOst->pict_tmp.get()) < 0)
      throw std::bad_alloc();
    sws_scale(AOst->img_resample_ctx.get(), planes, AFrame->linesize, 0, height,
              AOst->pict_tmp->data, AOst->pict_tmp->linesize);
    picture = AOst->pict_tmp.get();
  }

  // The frame's time in encoder ticks, never before the previous frame.
  const double seconds = static_cast<double>(AOst->sync_ist->pts - Fstart_time) / AV_TIME_BASE;
  const int64_t ticks = std::llrint(seconds / av_q2d(enc->time_base));
  const int64_t pts = std::max(ticks, AOst->sync_opts);
  picture->pts = pts;
  picture->pict_type = AV_PICTURE_TYPE_NONE;
  picture->quality = static_cast<int>(AOst->setup->quality);
  EncodeAndWrite(*this, AOst, picture, "Video encoding failed", Fvideo_size);
  AOst->sync_opts = pts + 1;
  ++AOst->frame_number;
}

void TCustomFFmpeg::do_audio_out(TAVOutputStream *AOst, TAVInputStream *AIst, AVFrame *AFrame) {
  AVCodecContext *enc = AOst->enc();
  if (!AOst->resample) {
    AVChannelLayout in{};
    if (AFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&in, AFrame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &AFrame->ch_layout) < 0)
      throw std::bad_alloc();
    SwrContext *swr = nullptr;
    int ret = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &in,
                                  static_cast<AVSampleFormat>(AFrame->format), AFrame->sample_rate,
                                  0, nullptr);
    av_channel_layout_uninit(&in);
    AOst->resample.reset(swr);
    if (ret >= 0)
      ret = swr_init(swr);
    if (ret < 0)
      Raise(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                   AFrame->ch_layout.nb_channels, AFrame->sample_rate, enc->ch_layout.nb_channels,
                   enc->sample_rate));
  }
  if (!AOst->fifo) {
    AOst->fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1024));
    if (!AOst->fifo)
      Raise("av_fifo_alloc fail");
  }
  // The first sound of the stream sets the output clock; after that it only counts samples.
  if (AOst->frame_number == 0 && AOst->sync_opts == 0 && av_audio_fifo_size(AOst->fifo.get()) == 0)
    AOst->sync_opts =
        std::max<int64_t>(0, std::llround(static_cast<double>(AOst->sync_ist->pts - Fstart_time) *
                                          enc->sample_rate / AV_TIME_BASE));

  const int room = swr_get_out_samples(AOst->resample.get(), AFrame->nb_samples);
  uint8_t **buffer = nullptr;
  if (room < 0 || av_samples_alloc_array_and_samples(&buffer, nullptr, enc->ch_layout.nb_channels,
                                                     std::max(room, 1), enc->sample_fmt, 0) < 0)
    Raise("Out of memory in do_audio_out");
  const int got =
      swr_convert(AOst->resample.get(), buffer, room,
                  const_cast<const uint8_t **>(AFrame->extended_data), AFrame->nb_samples);
  const int written =
      got > 0 ? av_audio_fifo_write(AOst->fifo.get(), reinterpret_cast<void **>(buffer), got) : got;
  av_freep(&buffer[0]);
  av_freep(&buffer);
  if (got < 0)
    Raise(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                 AFrame->ch_layout.nb_channels, AFrame->sample_rate, enc->ch_layout.nb_channels,
                 enc->sample_rate));
  if (written < got)
    Raise("Out of memory in do_audio_out");
  (void)AIst;

  // Whole encoder frames from the queue; encoders of any frame size take what is there.
  const bool anySize =
      enc->frame_size <= 1 || (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int frameSize = anySize ? 0 : enc->frame_size;
  while (av_audio_fifo_size(AOst->fifo.get()) > 0 &&
         av_audio_fifo_size(AOst->fifo.get()) >= frameSize) {
    const int count = frameSize > 0 ? frameSize : av_audio_fifo_size(AOst->fifo.get());
    FramePtr frame(av_frame_alloc());
    if (!frame)
      throw std::bad_alloc();
    frame->nb_samples = count;
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0)
      Raise("Out of memory in do_audio_out");
    av_audio_fifo_read(AOst->fifo.get(), reinterpret_cast<void **>(frame->data), count);
    frame->pts = AOst->sync_opts;
    AOst->sync_opts += count;
    EncodeAndWrite(*this, AOst, frame.get(), "Audio encoding failed", Faudio_size);
    ++AOst->frame_number;
  }
}

void TCustomFFmpeg::do_subtitle_out(TAVOutputStream *AOst, TAVInputStream *AIst, AVSubtitle *ASub,
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
  const int count = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
  for (int i = 0; i < count; ++i) {
    ASub->pts = av_rescale_q(APts, AIst->st->time_base, AV_TIME_BASE_Q) +
                static_cast<int64_t>(ASub->start_display_time) * 1000;
    ASub->end_display_time -= ASub->start_display_time;
    ASub->start_display_time = 0;
    const int size = avcodec_encode_subtitle(enc, Fsubtitle_out.data(), SubtitleBufferSize, ASub);
    if (size < 0)
      Raise("Subtitle encoding failed");
    PacketPtr pkt(av_packet_alloc());
    if (!pkt || av_new_packet(pkt.get(), size) < 0)
      throw std::bad_alloc();
    std::memcpy(pkt->data, Fsubtitle_out.data(), static_cast<size_t>(size));
    const AVRational tb = AOst->st->time_base;
    pkt->pts = av_rescale_q(ASub->pts, AV_TIME_BASE_Q, tb);
    pkt->duration = av_rescale_q(ASub->end_display_time, AVRational{1, 1000}, tb);
    if (enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE)
      pkt->pts += 90 * (i == 0 ? ASub->start_display_time : ASub->end_display_time);
    pkt->dts = pkt->pts;
    write_frame(AOst, pkt.get());
    ++AOst->frame_number;
  }
}

void TCustomFFmpeg::flush_encoder(TAVOutputStream *AOst) {
  AVCodecContext *enc = AOst->enc();
  if (!AOst->encoding_needed || enc == nullptr || !avcodec_is_open(enc))
    return;
  switch (enc->codec_type) {
  case AVMEDIA_TYPE_AUDIO:
    // What the resampler still holds joins the queue.
    if (AOst->resample && AOst->fifo) {
      const int room = swr_get_out_samples(AOst->resample.get(), 0);
      if (room > 0) {
        uint8_t **buffer = nullptr;
        if (av_samples_alloc_array_and_samples(&buffer, nullptr, enc->ch_layout.nb_channels, room,
                                               enc->sample_fmt, 0) < 0)
          Raise("Out of memory in do_audio_out");
        const int got = swr_convert(AOst->resample.get(), buffer, room, nullptr, 0);
        const int written =
            got > 0 ? av_audio_fifo_write(AOst->fifo.get(), reinterpret_cast<void **>(buffer), got)
                    : 0;
        av_freep(&buffer[0]);
        av_freep(&buffer);
        if (written < got)
          Raise("Out of memory in do_audio_out");
      }
    }
    // The short rest of the queue: the library pads it when the encoder needs whole frames.
    if (AOst->fifo && av_audio_fifo_size(AOst->fifo.get()) > 0) {
      const int count = av_audio_fifo_size(AOst->fifo.get());
      FramePtr frame(av_frame_alloc());
      if (!frame)
        throw std::bad_alloc();
      frame->nb_samples = count;
      frame->format = enc->sample_fmt;
      frame->sample_rate = enc->sample_rate;
      if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
          av_frame_get_buffer(frame.get(), 0) < 0)
        Raise("Out of memory in do_audio_out");
      av_audio_fifo_read(AOst->fifo.get(), reinterpret_cast<void **>(frame->data), count);
      frame->pts = AOst->sync_opts;
      AOst->sync_opts += count;
      EncodeAndWrite(*this, AOst, frame.get(), "Audio encoding failed", Faudio_size);
    }
    EncodeAndWrite(*this, AOst, nullptr, "Audio encoding failed", Faudio_size);
    break;
  case AVMEDIA_TYPE_VIDEO:
    EncodeAndWrite(*this, AOst, nullptr, "Video encoding failed", Fvideo_size);
    break;
  default:
    break;
  }
}

void TCustomFFmpeg::SetPostHooks(TPostHooks AValue) {
  std::lock_guard<std::mutex> lock(FPostHookLock);
  FPostHooks = AValue;
}

TCustomFFmpeg::TPostHooks TCustomFFmpeg::PostHooks() const {
  std::lock_guard<std::mutex> lock(FPostHookLock);
  return FPostHooks;
}
