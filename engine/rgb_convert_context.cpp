#include "rgb_convert_context.h"

#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

bool ValidGeometry(int APixFmt, int AHeight, int AWidth) {
  return AWidth > 0 && AHeight > 0 && av_pix_fmt_desc_get(static_cast<AVPixelFormat>(APixFmt)) &&
         av_image_check_size(static_cast<unsigned>(AWidth), static_cast<unsigned>(AHeight), 0,
                             nullptr) == 0;
}

} // namespace

TRGBConvertContext::TRGBConvertContext() {
  ResetRGBContext();
}

void TRGBConvertContext::ResetRGBContext() {
  FBitmap = QImage();
  FToRGB.reset();
  FFromRGB.reset();
  FRGBPixFmt = AV_PIX_FMT_RGB24;
  FBMPPixFmt = QImage::Format_RGB888;
}

bool TRGBConvertContext::PrepareBitmap(int AHeight, int AWidth) {
  if (FBitmap.isNull() || FBitmap.width() != AWidth || FBitmap.height() != AHeight ||
      FBitmap.format() != FBMPPixFmt || !FBitmap.isDetached())
    FBitmap = QImage(AWidth, AHeight, FBMPPixFmt);
  return !FBitmap.isNull();
}

bool TRGBConvertContext::PictureToBitmap(const TPicture &APicture, int APixFmt, int AHeight,
                                         int AWidth) {
  if (!ValidGeometry(APixFmt, AHeight, AWidth) || APicture.data[0] == nullptr)
    return false;
  const size_t rowBytes = static_cast<size_t>(AWidth) * 3;
  if (APixFmt == FRGBPixFmt && APicture.linesize[0] >= static_cast<int>(rowBytes)) {
    if (!PrepareBitmap(AHeight, AWidth))
      return false;
    for (int y = 0; y < AHeight; ++y)
      std::memcpy(FBitmap.scanLine(y),
                  APicture.data[0] + static_cast<ptrdiff_t>(y) * APicture.linesize[0], rowBytes);
    return true;
  }
  const auto src = static_cast<AVPixelFormat>(APixFmt);
  if (!sws_isSupportedInput(src))
    return false;
  SwsContext *ctx = sws_getCachedContext(FToRGB.release(), AWidth, AHeight, src, AWidth, AHeight,
                                         FRGBPixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
  FToRGB.reset(ctx);
  if (ctx == nullptr || !PrepareBitmap(AHeight, AWidth))
    return false;
  // The scaler writes straight into the bitmap's rows (32-bit aligned), saving a copy.
  uint8_t *dst[4] = {FBitmap.bits(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {static_cast<int>(FBitmap.bytesPerLine()), 0, 0, 0};
  return sws_scale(ctx, APicture.data, APicture.linesize, 0, AHeight, dst, dstStride) == AHeight;
}

bool TRGBConvertContext::BitmapToPicture(TPicture &APicture, int APixFmt, int AHeight, int AWidth) {
  if (!ValidGeometry(APixFmt, AHeight, AWidth) || APicture.data[0] == nullptr ||
      FBitmap.width() != AWidth || FBitmap.height() != AHeight)
    return false;
  // A handler may have replaced the image by one of another format.
  if (FBitmap.format() != FBMPPixFmt)
    FBitmap.convertTo(FBMPPixFmt);
  const size_t rowBytes = static_cast<size_t>(AWidth) * 3;
  if (APixFmt == FRGBPixFmt && APicture.linesize[0] >= static_cast<int>(rowBytes)) {
    for (int y = 0; y < AHeight; ++y)
      std::memcpy(APicture.data[0] + static_cast<ptrdiff_t>(y) * APicture.linesize[0],
                  FBitmap.constScanLine(y), rowBytes);
    return true;
  }
  const auto dstFmt = static_cast<AVPixelFormat>(APixFmt);
  if (!sws_isSupportedOutput(dstFmt))
    return false;
  SwsContext *ctx = sws_getCachedContext(FFromRGB.release(), AWidth, AHeight, FRGBPixFmt, AWidth,
                                         AHeight, dstFmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
  FFromRGB.reset(ctx);
  if (ctx == nullptr)
    return false;
  const uint8_t *src[4] = {FBitmap.constBits(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {static_cast<int>(FBitmap.bytesPerLine()), 0, 0, 0};
  return sws_scale(ctx, src, srcStride, 0, AHeight, APicture.data, APicture.linesize) == AHeight;
}
