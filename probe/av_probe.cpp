#include "av_probe.h"

#include "ff_error.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "probe_text.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdint>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

constexpr AVRational MicroSeconds{1, 1000000};

// A step back that never finds an earlier picture gives up after this many frame durations (or
// the prober's time-out), so a file with a bogus duration or no working seek cannot hold the
// caller.
constexpr int64_t MaxPreviousKeyFrameSteps = 1000;

// Decoders that keep failing while they are drained are given up on after this many errors.
constexpr int MaxDrainErrors = 32;

constexpr int PictureAlign = 32;
constexpr size_t PicturePadding = 64;

int64_t SatAdd(int64_t A, int64_t B) {
  int64_t r;
  if (__builtin_add_overflow(A, B, &r))
    return B > 0 ? INT64_MAX : INT64_MIN + 1;
  return r;
}

int64_t SatSub(int64_t A, int64_t B) {
  int64_t r;
  if (__builtin_sub_overflow(A, B, &r))
    return B < 0 ? INT64_MAX : INT64_MIN + 1;
  return r;
}

bool Within(const uint8_t *P, const std::vector<uint8_t> &ABuffer) {
  const auto p = reinterpret_cast<uintptr_t>(P);
  const auto b = reinterpret_cast<uintptr_t>(ABuffer.data());
  return P != nullptr && p >= b && p < b + ABuffer.size();
}

} // namespace

TFrameInfo::TFrameInfo(const TFrameInfo &AOther) {
  *this = AOther;
}

TFrameInfo &TFrameInfo::operator=(const TFrameInfo &AOther) {
  if (this == &AOther)
    return *this;
  PixFmt = AOther.PixFmt;
  Width = AOther.Width;
  Height = AOther.Height;
  IsKeyFrame = AOther.IsKeyFrame;
  PictureType = AOther.PictureType;
  PTS = AOther.PTS;
  OriginalDTS = AOther.OriginalDTS;
  OriginalPTS = AOther.OriginalPTS;
  StreamIndex = AOther.StreamIndex;
  Position = AOther.Position;
  Ready = AOther.Ready;
  Buffer = AOther.Buffer;
  Size = AOther.Size;
  for (int i = 0; i < 4; ++i) {
    Picture.linesize[i] = AOther.Picture.linesize[i];
    Picture.data[i] = Within(AOther.Picture.data[i], AOther.Buffer)
                          ? Buffer.data() + (AOther.Picture.data[i] - AOther.Buffer.data())
                          : AOther.Picture.data[i];
  }
  return *this;
}

TAVProbe::TAVProbe(void *AOwner)
    : TCustomAVProbe(AOwner), FFrame(av_frame_alloc()), FPacket(av_packet_alloc()) {}

TAVProbe::~TAVProbe() {
  TAVProbe::CloseFile();
}

void TAVProbe::RefreshInfo() {
  TCustomAVProbe::RefreshInfo();
  FSeekIndex = FFirstVideoStreamIndex >= 0 ? FFirstVideoStreamIndex : FFirstAudioStreamIndex;
  if (FFileHandle != nullptr) {
    const int64_t start =
        FSeekIndex >= 0 ? FFileHandle->streams[FSeekIndex]->start_time : FFileHandle->start_time;
    FStartTime = start == AV_NOPTS_VALUE ? 0 : start;
  }
}

void TAVProbe::CloseFile() {
  FSeekIndex = -1;
  FStartTime = -1;
  FDecodeIndex = -1;
  FEOF = false;
  ResetPicture();
  FLastPTS = AV_NOPTS_VALUE;
  FLastPos = -1;
  CloseDecoder();
  FRGBContext.ResetRGBContext();
  TCustomAVProbe::CloseFile();
}

void TAVProbe::ResetPicture() {
  if (FPicture.PTS != AV_NOPTS_VALUE)
    FLastPTS = FPicture.PTS;
  if (FPicture.Position != -1)
    FLastPos = FPicture.Position;
  FPicture.PixFmt = FPicture.Width = FPicture.Height = FPicture.StreamIndex = -1;
  FPicture.Position = -1;
  FPicture.IsKeyFrame = FPicture.Ready = false;
  FPicture.PictureType = ptUnknown;
  FPicture.PTS = FPicture.OriginalDTS = FPicture.OriginalPTS = AV_NOPTS_VALUE;
  FPicture.Picture = TPicture();
}

int64_t TAVProbe::IOPosition() const {
  return FFileHandle && FFileHandle->pb ? avio_tell(FFileHandle->pb) : -1;
}

int64_t TAVProbe::Position() {
  if (!CheckFileLoaded())
    return -1;
  if (FFileHandle->pb == nullptr) {
    ReportError(AV_LOG_WARNING, "cannot get position");
    return -1;
  }
  return avio_tell(FFileHandle->pb);
}

bool TAVProbe::IsStillImage() const {
  if (FFileHandle == nullptr || FFileHandle->iformat == nullptr)
    return false;
  std::string name = FFileHandle->iformat->name ? FFileHandle->iformat->name : "";
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // Single pictures open as "image2" or, by their content, as one of the "<codec>_pipe" readers.
  return name == "image2" || name == "image2pipe" ||
         (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0);
}

bool TAVProbe::CheckSeekable() {
  if (!CheckFileLoaded())
    return false;
  if (!FOwnHandle) {
    const char *msg = "file cannot be seeked, handle is readonly.";
    ReportError(AV_LOG_WARNING, msg);
    throw EAVProbeError(msg);
  }
  return true;
}

bool TAVProbe::CanSeek() {
  if (!CheckSeekable())
    return false;
  if (IsStillImage()) {
    ReportError(AV_LOG_INFO, "\"image2\" format cannot to be seeked.");
    return false;
  }
  return true;
}

bool TAVProbe::SelectDecodeStream(int AStreamIndex) {
  if (!CheckSeekable())
    return false;
  int index = AStreamIndex;
  if (index < 0) {
    index = FDecodeIndex >= 0 ? FDecodeIndex : FFirstVideoStreamIndex;
    if (index < 0) {
      ReportError(AV_LOG_ERROR, "no video stream.");
      return false;
    }
  }
  if (index >= FStreamCount || index >= static_cast<int>(FFileHandle->nb_streams)) {
    ReportError(AV_LOG_ERROR, Format("stream index #%d is invalid.", index));
    return false;
  }
  if (FFileHandle->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    ReportError(AV_LOG_ERROR, Format("stream #%d is not video stream.", index));
    return false;
  }
  if (index != FDecodeIndex)
    ResetPicture();
  FDecodeIndex = index;
  return true;
}

void TAVProbe::CloseDecoder() {
  if (FCodec) {
    TLibraryLockGuard lock;
    FCodec.reset();
  }
  FCodecIndex = -1;
  FDraining = false;
}

bool TAVProbe::OpenDecoder(int AStreamIndex) {
  AVStream *st = StreamAt(AStreamIndex);
  const AVCodecParameters *par = st->codecpar;
  if (par->width <= 0 || par->height <= 0) {
    ReportError(AV_LOG_ERROR, "frame size of codec is invalid.");
    return false;
  }
  if (FCodec && FCodecIndex == AStreamIndex)
    return true;
  CloseDecoder();
  const AVCodec *codec = avcodec_find_decoder(par->codec_id);
  if (codec == nullptr) {
    ReportError(AV_LOG_ERROR, Format("Unsupported codec (id=%d) for input file stream #%d",
                                     static_cast<int>(par->codec_id), AStreamIndex));
    return false;
  }
  CodecContextPtr ctx(avcodec_alloc_context3(codec));
  int ret = ctx ? avcodec_parameters_to_context(ctx.get(), par) : AVERROR(ENOMEM);
  if (ret >= 0) {
    ctx->pkt_timebase = st->time_base;
    // One thread: each picture comes out of the packet that completes it, which is what the
    // picture's time is taken from, and nothing is held back in other threads.
    ctx->thread_count = 1;
    TLibraryLockGuard lock;
    ret = avcodec_open2(ctx.get(), codec, nullptr);
    if (ret < 0)
      ctx.reset();
  }
  if (ret < 0) {
    ReportError(AV_LOG_ERROR,
                Format("Error while opening codec for input file stream #%d", AStreamIndex));
    return false;
  }
  FCodec = std::move(ctx);
  FCodecIndex = AStreamIndex;
  FDraining = false;
  return true;
}

int64_t TAVProbe::FrameDuration(int AStreamIndex) {
  const AVRational r = FFileHandle->streams[AStreamIndex]->r_frame_rate;
  if (r.num <= 0 || r.den <= 0)
    return 40000;
  // At least 1 µs, so that stepping back by frame durations always moves.
  return std::max<int64_t>(1, 1000000LL * r.den / r.num);
}

bool TAVProbe::Seek(int64_t APTS, TSeekFlags ASeekFlags) {
  if (!CanSeek())
    return false;
  StartDeadline();
  GetLogger()->LogFmt(this, llDebug, "currunt position %lld bytes",
                      static_cast<long long>(IOPosition()));
  int64_t target = APTS < 0 ? 0 : APTS;
  if (!ASeekFlags.Contains(sfByte)) {
    if (FSeekIndex >= 0)
      target = av_rescale_q(target, MicroSeconds, StreamAt(FSeekIndex)->time_base);
    if (FStartTime > 0)
      target = SatAdd(target, FStartTime);
  }
  if (FCodec)
    avcodec_flush_buffers(FCodec.get());
  FDraining = false;
  FEOF = false;
  ResetPicture();

  int ret;
  if (APTS > 0) {
    ret = av_seek_frame(FFileHandle, FSeekIndex, target, ASeekFlags.Bits());
  } else {
    ret = av_seek_frame(FFileHandle, FSeekIndex, 0, ASeekFlags.With(sfBackward).Bits());
    if (ret < 0)
      ret = av_seek_frame(FFileHandle, FSeekIndex, APTS, ASeekFlags.Without(sfBackward).Bits());
  }
  bool result = true;
  if (ret < 0) {
    ReportError(AV_LOG_ERROR,
                ASeekFlags.Contains(sfByte)
                    ? Format("could not seek to position %lld bytes", static_cast<long long>(APTS))
                    : "could not seek to position " +
                          FixedText(static_cast<double>(APTS) / 1000000, 3) + " seconds");
    result = false;
  }
  GetLogger()->LogFmt(this, llDebug, "seek to position %lld bytes",
                      static_cast<long long>(IOPosition()));
  if (FFileHandle->pb && avio_feof(FFileHandle->pb)) {
    if (ret >= 0)
      ReportError(AV_LOG_INFO, "stream eof reached.");
    FEOF = true;
    result = false;
  }
  return result;
}

bool TAVProbe::Decode(int AStreamIndex) {
  if (!SelectDecodeStream(AStreamIndex))
    return false;
  if (FPicture.Ready && IsStillImage())
    return true;
  if (FEOF) {
    ReportError(AV_LOG_INFO, "stream eof reached.");
    return false;
  }
  if (!OpenDecoder(FDecodeIndex))
    return false;
  if (!FFrame || !FPacket) {
    ReportError(AV_LOG_ERROR, LibraryErrorText(AVERROR(ENOMEM)));
    return false;
  }
  StartDeadline();
  const int64_t startPos = IOPosition();
  AVCodecContext *dec = FCodec.get();
  int drainErrors = 0;
  for (;;) {
    int ret = avcodec_receive_frame(dec, FFrame.get());
    if (ret >= 0) {
      GetLogger()->LogFmt(
          this, llDebug, "pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, pict_type=%d", FDecodeIndex,
          static_cast<long long>(FLastPacketDTS), static_cast<long long>(FLastPacketPTS),
          FLastPacketFlags, static_cast<int>(FFrame->pict_type));
      const bool stored = StorePicture(FFrame.get(), startPos);
      av_frame_unref(FFrame.get());
      return stored;
    }
    if (ret == AVERROR_EOF || DeadlinePassed())
      break;
    if (FDraining) {
      // Errors while draining skip a picture; EAGAIN cannot happen once drained.
      if (ret == AVERROR(EAGAIN) || ++drainErrors > MaxDrainErrors)
        break;
      continue;
    }
    ret = av_read_frame(FFileHandle, FPacket.get());
    if (ret == AVERROR(EAGAIN))
      continue;
    if (ret < 0) {
      // End of input: the decoder hands out the pictures it still holds before the end counts.
      avcodec_send_packet(dec, nullptr);
      FDraining = true;
      continue;
    }
    if (FPacket->stream_index == FDecodeIndex) {
      FLastPacketDTS = FPacket->dts;
      FLastPacketPTS = FPacket->pts;
      FLastPacketFlags = FPacket->flags;
      // A packet the decoder refuses is skipped; the next one is read.
      avcodec_send_packet(dec, FPacket.get());
    }
    av_packet_unref(FPacket.get());
  }
  ReportError(AV_LOG_INFO, "stream eof reached.");
  FEOF = true;
  return false;
}

bool TAVProbe::StorePicture(const AVFrame *AFrame, int64_t APosition) {
  const auto fmt = static_cast<AVPixelFormat>(AFrame->format);
  // Rows aligned and the buffer padded: the scaler's vector code reads whole blocks past a
  // row's last pixel.
  const int size = av_image_get_buffer_size(fmt, AFrame->width, AFrame->height, PictureAlign);
  if (size <= 0) {
    ReportError(AV_LOG_ERROR, "frame size of codec is invalid.");
    return false;
  }
  if (FPicture.Buffer.size() < static_cast<size_t>(size) + PicturePadding)
    FPicture.Buffer.resize(static_cast<size_t>(size) + PicturePadding);
  FPicture.Size = size;
  FPicture.PixFmt = AFrame->format;
  FPicture.Width = AFrame->width;
  FPicture.Height = AFrame->height;
  FPicture.IsKeyFrame = AFrame->key_frame != 0;
  const int type = static_cast<int>(AFrame->pict_type);
  FPicture.PictureType =
      type >= ptUnknown && type <= ptBI ? static_cast<TPictureType>(type) : ptUnknown;

  // The decode time of the packet the picture came out of, else the presentation time the
  // decoder carried along with it, else that of the last packet sent.
  int64_t time = AFrame->pkt_dts;
  if (time == AV_NOPTS_VALUE)
    time = AFrame->pts;
  if (time == AV_NOPTS_VALUE)
    time = FLastPacketPTS;
  if (FPicture.PTS != AV_NOPTS_VALUE)
    FLastPTS = FPicture.PTS;
  if (time == AV_NOPTS_VALUE) {
    FPicture.PTS = AV_NOPTS_VALUE;
  } else {
    const AVStream *st = StreamAt(FDecodeIndex);
    if (st->start_time != AV_NOPTS_VALUE)
      time = SatSub(time, st->start_time);
    FPicture.PTS = av_rescale_q(time, st->time_base, MicroSeconds);
    av_log(nullptr, AV_LOG_DEBUG, "decode PTS: %0.3f\n",
           static_cast<double>(FPicture.PTS) / 1000000);
  }
  FPicture.OriginalDTS = AFrame->pkt_dts;
  FPicture.OriginalPTS = AFrame->pts;
  FPicture.StreamIndex = FDecodeIndex;
  if (FPicture.Position != -1)
    FLastPos = FPicture.Position;
  FPicture.Position = APosition;

  uint8_t *data[4];
  int linesize[4];
  av_image_fill_arrays(data, linesize, FPicture.Buffer.data(), fmt, AFrame->width, AFrame->height,
                       PictureAlign);
  av_image_copy(data, linesize, const_cast<const uint8_t **>(AFrame->data), AFrame->linesize, fmt,
                AFrame->width, AFrame->height);
  for (int i = 0; i < 4; ++i) {
    FPicture.Picture.data[i] = data[i];
    FPicture.Picture.linesize[i] = linesize[i];
  }
  FPicture.Ready = true;
  return true;
}

bool TAVProbe::DecodeNextKeyFrame(int AStreamIndex) {
  if (!SelectDecodeStream(AStreamIndex))
    return false;
  int64_t target = FrameDuration(FDecodeIndex);
  if (FPicture.PTS != AV_NOPTS_VALUE && FPicture.PTS > 0)
    target = SatAdd(target, FPicture.PTS);
  // Without the backward flag the libraries go to a key frame at or after the target.
  return Seek(target, {}) && Decode(AStreamIndex);
}

bool TAVProbe::DecodePreviousKeyFrame(int AStreamIndex) {
  if (!SelectDecodeStream(AStreamIndex))
    return false;
  const int64_t d = FrameDuration(FDecodeIndex);
  int64_t ref = FPicture.PTS;
  if (ref == AV_NOPTS_VALUE)
    ref = FLastPTS;
  if (ref == AV_NOPTS_VALUE) {
    // No picture yet: the end of the file, so that the last key frame is found.
    const int64_t duration = FFileHandle->duration;
    ref = duration == AV_NOPTS_VALUE || duration < 0 ? 0 : duration;
  }
  const int64_t refPos = FPicture.Position != -1 ? FPicture.Position : FLastPos;
  const auto giveUp = std::chrono::steady_clock::now() + Timeout();
  for (int64_t h = 1; h <= MaxPreviousKeyFrameSteps && std::chrono::steady_clock::now() < giveUp;
       ++h) {
    const int64_t back = h * d;
    const int64_t before = IOPosition();
    Seek(SatSub(ref, back), {sfBackward});
    const int64_t after = IOPosition();
    // Readers that seek their byte stream at once show whether the seek went back far enough;
    // others move it only at the next read, and the decoded picture's time decides instead.
    if (after != before && after >= refPos && refPos > 0 && ref >= back)
      continue;
    if (Decode(AStreamIndex)) {
      if (FPicture.PTS < ref || FPicture.PTS <= 0)
        return true;
      continue;
    }
    if (ref < back)
      break;
  }
  FLastErrMsg = "Could not seek to the previous key-frame. " + FLastErrMsg;
  return false;
}

bool TAVProbe::DecodePreviousFrame(int AStreamIndex) {
  if (!SelectDecodeStream(AStreamIndex))
    return false;
  const int64_t d2 = 2 * FrameDuration(FDecodeIndex);
  int64_t r = -d2;
  if (FPicture.PTS != AV_NOPTS_VALUE)
    r = SatSub(FPicture.PTS, d2);
  else if (FLastPTS != AV_NOPTS_VALUE)
    r = SatSub(FLastPTS, d2);
  if (!DecodePreviousKeyFrame(AStreamIndex))
    return false;
  while (FPicture.PTS == AV_NOPTS_VALUE || FPicture.PTS <= r) {
    // A still image has only the one picture.
    if (IsStillImage())
      return true;
    if (!Decode(AStreamIndex))
      return false;
  }
  return true;
}

bool TAVProbe::CopyToBitmap(QImage &ABitmap) {
  if (!FPicture.Ready) {
    ReportError(AV_LOG_ERROR, "picture not ready, please decode first");
    return false;
  }
  if (FRGBContext.PictureToBitmap(FPicture.Picture, FPicture.PixFmt, FPicture.Height,
                                  FPicture.Width)) {
    ABitmap = FRGBContext.Bitmap();
    return true;
  }
  ABitmap = FPicture.Width > 0 && FPicture.Height > 0
                ? QImage(FPicture.Width, FPicture.Height, QImage::Format_RGB888)
                : QImage();
  ABitmap.fill(0);
  av_log(nullptr, AV_LOG_ERROR, "convert picture to bitmap failed\n");
  return false;
}
