#include "picture_convert.h"

#include <cmath>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

AVPixelFormat PixelFormatOf(QImage::Format AFormat) {
  switch (AFormat) {
  case QImage::Format_RGB32:
  case QImage::Format_ARGB32:
    return AV_PIX_FMT_RGB32; // native-endian 0xAARRGGBB, as QImage keeps it
  case QImage::Format_RGB888:
    return AV_PIX_FMT_RGB24;
  default:
    return AV_PIX_FMT_NONE;
  }
}

} // namespace

QRect DisplayRect(QSize AScreen, int AWidth, int AHeight, AVRational ASampleAspect,
                  float AAspectRatio) {
  const int sw = AScreen.width(), sh = AScreen.height();
  if (sw <= 0 || sh <= 0 || AWidth <= 0 || AHeight <= 0)
    return QRect();
  double aspect;
  if (AAspectRatio > 0) {
    aspect = AAspectRatio;
  } else if (AAspectRatio < 0) {
    aspect = double(sw) / sh;
  } else {
    double sar = 1.0;
    if (ASampleAspect.num > 0 && ASampleAspect.den > 0)
      sar = av_q2d(ASampleAspect);
    aspect = sar * AWidth / AHeight;
  }
  int h = sh;
  int w = int(std::lrint(h * aspect)) & ~1;
  if (w > sw) {
    w = sw & ~1;
    h = int(std::lrint(w / aspect)) & ~1;
  }
  w = std::max(w, std::min(sw, 2));
  h = std::max(h, std::min(sh, 2));
  return QRect((sw - w) / 2, (sh - h) / 2, w, h);
}

void FlippedPlanes(const AVFrame *AFrame, uint8_t *AData[4], int ALineSize[4]) {
  const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(AFrame->format));
  const bool paletted = desc && (desc->flags & AV_PIX_FMT_FLAG_PAL);
  for (int i = 0; i < 4; i++) {
    AData[i] = AFrame->data[i];
    ALineSize[i] = AFrame->linesize[i];
    if (AFrame->data[i] == nullptr || (paletted && i > 0))
      continue;
    int h = AFrame->height;
    if (desc && (i == 1 || i == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB))
      h = AV_CEIL_RSHIFT(h, desc->log2_chroma_h);
    AData[i] = AFrame->data[i] + ptrdiff_t(AFrame->linesize[i]) * (h - 1);
    ALineSize[i] = -AFrame->linesize[i];
  }
}

bool TPictureConverter::ToImage(const AVFrame *AFrame, QImage &AImage, QSize ASize,
                                QImage::Format AFormat, bool AFlip) {
  const AVPixelFormat dstFormat = PixelFormatOf(AFormat);
  if (AFrame == nullptr || AFrame->width <= 0 || AFrame->height <= 0 || ASize.isEmpty() ||
      dstFormat == AV_PIX_FMT_NONE)
    return false;
  SwsContext *ctx = sws_getCachedContext(
      FTo.release(), AFrame->width, AFrame->height, AVPixelFormat(AFrame->format), ASize.width(),
      ASize.height(), dstFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
  FTo.reset(ctx);
  if (ctx == nullptr)
    return false;
  if (AImage.size() != ASize || AImage.format() != AFormat)
    AImage = QImage(ASize, AFormat);
  if (AImage.isNull())
    return false;
  uint8_t *src[4];
  int srcStride[4];
  if (AFlip) {
    FlippedPlanes(AFrame, src, srcStride);
  } else {
    for (int i = 0; i < 4; i++) {
      src[i] = AFrame->data[i];
      srcStride[i] = AFrame->linesize[i];
    }
  }
  uint8_t *dst[4] = {AImage.bits(), nullptr, nullptr, nullptr}; // bits() detaches when shared
  int dstStride[4] = {int(AImage.bytesPerLine()), 0, 0, 0};
  return sws_scale(ctx, src, srcStride, 0, AFrame->height, dst, dstStride) > 0;
}

bool TPictureConverter::FromImage(const QImage &AImage, AVFrame *AFrame, bool AFlip) {
  const AVPixelFormat srcFormat = PixelFormatOf(AImage.format());
  if (AImage.isNull() || srcFormat == AV_PIX_FMT_NONE || AImage.width() != AFrame->width ||
      AImage.height() != AFrame->height)
    return false;
  SwsContext *ctx = sws_getCachedContext(
      FFrom.release(), AImage.width(), AImage.height(), srcFormat, AFrame->width, AFrame->height,
      AVPixelFormat(AFrame->format), SWS_BICUBIC, nullptr, nullptr, nullptr);
  FFrom.reset(ctx);
  if (ctx == nullptr)
    return false;
  const uint8_t *src[4] = {AImage.constBits(), nullptr, nullptr, nullptr};
  int srcStride[4] = {int(AImage.bytesPerLine()), 0, 0, 0};
  uint8_t *dst[4];
  int dstStride[4];
  if (AFlip) {
    FlippedPlanes(AFrame, dst, dstStride);
  } else {
    for (int i = 0; i < 4; i++) {
      dst[i] = AFrame->data[i];
      dstStride[i] = AFrame->linesize[i];
    }
  }
  return sws_scale(ctx, src, srcStride, 0, AImage.height(), dst, dstStride) > 0;
}

void TPictureConverter::Reset() {
  FTo.reset();
  FFrom.reset();
}
