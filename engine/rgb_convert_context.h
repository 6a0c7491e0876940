// Conversion of a decoded picture into a 24-bit RGB bitmap and back, with cached scaler contexts.
// Used by the transcoder's hooks and previews, the prober and the player. One context per user;
// it is not shared between threads.
#pragma once

#include "ff_picture.h"
#include "ff_ptr.h"

#include <QImage>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

class TRGBConvertContext {
public:
  TRGBConvertContext();
  TRGBConvertContext(const TRGBConvertContext &) = delete;
  TRGBConvertContext &operator=(const TRGBConvertContext &) = delete;

  // Converts APicture (pixel format APixFmt, AWidth x AHeight) into Bitmap(), which becomes a
  // 24-bit RGB image of that size, rows top first. False when the size or format cannot be
  // converted (no scaler context for it, or no memory for the bitmap).
  bool PictureToBitmap(const TPicture &APicture, int APixFmt, int AHeight, int AWidth);

  // Writes Bitmap() (for instance after a handler drew on it) back into APicture, converting to
  // APixFmt where needed. The bitmap must still be AWidth x AHeight. False when it is not, or
  // when no reverse scaler context can be had.
  bool BitmapToPicture(TPicture &APicture, int APixFmt, int AHeight, int AWidth);

  // Frees the bitmap and both scaler contexts.
  void ResetRGBContext();

  // The bitmap; null until the first successful conversion.
  QImage &Bitmap() { return FBitmap; }
  const QImage &Bitmap() const { return FBitmap; }
  // The library's pixel format whose byte order matches the bitmap's.
  AVPixelFormat RGBPixFmt() const { return FRGBPixFmt; }
  QImage::Format BMPPixFmt() const { return FBMPPixFmt; }

private:
  // Makes FBitmap an unshared AWidth x AHeight image, so that writing to it never touches a
  // copy a caller took earlier. False when the image cannot be allocated.
  bool PrepareBitmap(int AHeight, int AWidth);
  // Lays FRGBPicture over FRGBBuf for an AWidth x AHeight RGB picture. The scaler's vector code
  // reads and writes whole blocks past a row's last pixel, so rows are padded and the picture
  // is converted here, never straight into the bitmap's tightly sized rows.
  void PrepareRGBPicture(int AHeight, int AWidth);

  AVPixelFormat FRGBPixFmt = AV_PIX_FMT_RGB24;
  QImage::Format FBMPPixFmt = QImage::Format_RGB888;
  QImage FBitmap;
  std::vector<uint8_t> FRGBBuf;
  TPicture FRGBPicture; // over FRGBBuf
  SwsContextPtr FToRGB;
  SwsContextPtr FFromRGB;
};
