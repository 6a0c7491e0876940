#include "rgb_convert_context.h"

#include <cstring>

extern "C" {
#include <libavutil/common.h>
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
  FRGBBuf = std::vector<uint8_t>();
  FRGBPicture = TPicture();
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

void TRGBConvertContext::PrepareRGBPicture(int AHeight, int AWidth) {
  const int stride = FFALIGN(AWidth * 3 + 64, 64);
  const size_t size = static_cast<size_t>(stride) * static_cast<size_t>(AHeight) + 64;
  if (FRGBBuf.size() < size)
    FRGBBuf.resize(size);
  FRGBPicture = TPicture();
  FRGBPicture.data[0] = FRGBBuf.data();
  FRGBPicture.linesize[0] = stride;
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
  PrepareRGBPicture(AHeight, AWidth);
  if (sws_scale(ctx, APicture.data, APicture.linesize, 0, AHeight, FRGBPicture.data,
                FRGBPicture.linesize) != AHeight)
    return false;
  for (int y = 0; y < AHeight; ++y)
    std::memcpy(FBitmap.scanLine(y),
                FRGBPicture.data[0] + static_cast<ptrdiff_t>(y) * FRGBPicture.linesize[0],
                rowBytes);
  return true;
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
  PrepareRGBPicture(AHeight, AWidth);
  for (int y = 0; y < AHeight; ++y)
    std::memcpy(FRGBPicture.data[0] + static_cast<ptrdiff_t>(y) * FRGBPicture.linesize[0],
                FBitmap.constScanLine(y), rowBytes);
  return sws_scale(ctx, FRGBPicture.data, FRGBPicture.linesize, 0, AHeight, APicture.data,
                   APicture.linesize) == AHeight;
}
