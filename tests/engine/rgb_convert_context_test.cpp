#include "rgb_convert_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

// A picture with its own planes, laid out with the given alignment (padding after each row).
struct TOwnedPicture {
  TOwnedPicture(AVPixelFormat AFmt, int AWidth, int AHeight, int AAlign = 32)
      : Fmt(AFmt), Width(AWidth), Height(AHeight) {
    Buffer.resize(static_cast<size_t>(av_image_get_buffer_size(AFmt, AWidth, AHeight, AAlign)));
    av_image_fill_arrays(Pic.data, Pic.linesize, Buffer.data(), AFmt, AWidth, AHeight, AAlign);
  }
  // Fills a planar YUV 4:2:0 picture: rows above ASplit with one colour, the rest another.
  void FillYUV(int ASplit, const uint8_t ATop[3], const uint8_t ABottom[3]) {
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x)
        Pic.data[0][y * Pic.linesize[0] + x] = y < ASplit ? ATop[0] : ABottom[0];
    for (int y = 0; y < (Height + 1) / 2; ++y)
      for (int x = 0; x < (Width + 1) / 2; ++x)
        for (int p = 1; p <= 2; ++p)
          Pic.data[p][y * Pic.linesize[p] + x] = y * 2 < ASplit ? ATop[p] : ABottom[p];
  }
  AVPixelFormat Fmt;
  int Width, Height;
  std::vector<uint8_t> Buffer;
  TPicture Pic;
};

void ExpectPixel(const QImage &AImage, int AX, int AY, int AR, int AG, int AB, int ATolerance) {
  const uint8_t *p = AImage.constScanLine(AY) + AX * 3;
  EXPECT_NEAR(p[0], AR, ATolerance) << AX << "," << AY;
  EXPECT_NEAR(p[1], AG, ATolerance) << AX << "," << AY;
  EXPECT_NEAR(p[2], AB, ATolerance) << AX << "," << AY;
}

const uint8_t YUVWhite[3] = {235, 128, 128};
const uint8_t YUVRed[3] = {81, 90, 240}; // BT.601 limited range

// Rows come out top first in R, G, B byte order, for even and odd sizes.
TEST(RGBConvertContext, YUVPictureBecomesRGBRowsTopFirst) {
  const struct { int Width, Height; } sizes[] = {{640, 360}, {321, 241}, {2, 2}, {1, 1}};
  TRGBConvertContext ctx;
  for (const auto &s : sizes) {
    TOwnedPicture pic(AV_PIX_FMT_YUV420P, s.Width, s.Height);
    // Far from the edge between the colours, which chroma filtering blurs.
    const int split = s.Height >= 16 ? s.Height / 2 & ~1 : 0;
    pic.FillYUV(split, YUVWhite, YUVRed);
    ASSERT_TRUE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, s.Height, s.Width));
    const QImage &bmp = ctx.Bitmap();
    ASSERT_EQ(bmp.width(), s.Width);
    ASSERT_EQ(bmp.height(), s.Height);
    ASSERT_EQ(bmp.format(), QImage::Format_RGB888);
    if (split > 0)
      ExpectPixel(bmp, s.Width - 1, 0, 255, 255, 255, 2);
    ExpectPixel(bmp, 0, s.Height - 1, 255, 0, 0, 4);
  }
}

// RGB pictures are copied row by row, whatever their row padding, and in both directions.
TEST(RGBConvertContext, RGBPicturesAreCopiedExactlyBothWays) {
  const struct { int Width, Height, Align; } cases[] = {{5, 3, 1}, {5, 3, 64}, {64, 4, 1}};
  TRGBConvertContext ctx;
  for (const auto &c : cases) {
    TOwnedPicture pic(AV_PIX_FMT_RGB24, c.Width, c.Height, c.Align);
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width * 3; ++x)
        pic.Pic.data[0][y * pic.Pic.linesize[0] + x] = static_cast<uint8_t>(y * 50 + x);
    ASSERT_TRUE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, c.Height, c.Width));
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width * 3; ++x)
        ASSERT_EQ(ctx.Bitmap().constScanLine(y)[x], static_cast<uint8_t>(y * 50 + x));
    // A handler paints the bitmap blue; the picture receives it, odd sizes too.
    ctx.Bitmap().fill(QColor(0, 0, 255));
    ASSERT_TRUE(ctx.BitmapToPicture(pic.Pic, pic.Fmt, c.Height, c.Width));
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width; ++x) {
        const uint8_t *p = pic.Pic.data[0] + y * pic.Pic.linesize[0] + x * 3;
        ASSERT_EQ(p[0] + p[1] * 256 + p[2] * 65536, 255 * 65536) << x << "," << y;
      }
  }
}

TEST(RGBConvertContext, ChangedBitmapIsWrittenBackIntoAYUVPicture) {
  TRGBConvertContext ctx;
  TOwnedPicture pic(AV_PIX_FMT_YUV420P, 33, 17);
  pic.FillYUV(0, YUVWhite, YUVWhite);
  ASSERT_TRUE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, 17, 33));
  ctx.Bitmap().fill(QColor(255, 0, 0));
  ASSERT_TRUE(ctx.BitmapToPicture(pic.Pic, pic.Fmt, 17, 33));
  for (int p = 0; p < 3; ++p)
    EXPECT_NEAR(pic.Pic.data[p][pic.Pic.linesize[p] * 4 + 4], YUVRed[p], 3) << "plane " << p;
  // A handler that swapped the image for another format is converted back first.
  ctx.Bitmap() = ctx.Bitmap().convertToFormat(QImage::Format_ARGB32);
  ctx.Bitmap().fill(QColor(255, 255, 255));
  ASSERT_TRUE(ctx.BitmapToPicture(pic.Pic, pic.Fmt, 17, 33));
  EXPECT_NEAR(pic.Pic.data[0][0], 235, 2);
  // One of another size is refused.
  ctx.Bitmap() = QImage(10, 10, QImage::Format_RGB888);
  EXPECT_FALSE(ctx.BitmapToPicture(pic.Pic, pic.Fmt, 17, 33));
}

TEST(RGBConvertContext, EarlierCopiesOfTheBitmapStayUnchanged) {
  TRGBConvertContext ctx;
  TOwnedPicture white(AV_PIX_FMT_YUV420P, 16, 16), red(AV_PIX_FMT_YUV420P, 16, 16);
  white.FillYUV(0, YUVWhite, YUVWhite);
  red.FillYUV(0, YUVRed, YUVRed);
  ASSERT_TRUE(ctx.PictureToBitmap(white.Pic, white.Fmt, 16, 16));
  const QImage kept = ctx.Bitmap();
  ASSERT_TRUE(ctx.PictureToBitmap(red.Pic, red.Fmt, 16, 16));
  ExpectPixel(kept, 8, 8, 255, 255, 255, 2);
  ExpectPixel(ctx.Bitmap(), 8, 8, 255, 0, 0, 4);
}

TEST(RGBConvertContext, RefusesWhatCannotBeConverted) {
  TRGBConvertContext ctx;
  TOwnedPicture pic(AV_PIX_FMT_YUV420P, 8, 8);
  TPicture none;
  EXPECT_FALSE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, 8, 0));
  EXPECT_FALSE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, -1, 8));
  EXPECT_FALSE(ctx.PictureToBitmap(pic.Pic, AV_PIX_FMT_NONE, 8, 8));
  EXPECT_FALSE(ctx.PictureToBitmap(pic.Pic, AV_PIX_FMT_NB + 10, 8, 8));
  EXPECT_FALSE(ctx.PictureToBitmap(none, pic.Fmt, 8, 8));
  EXPECT_FALSE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, 8, 1 << 30));
  EXPECT_FALSE(ctx.BitmapToPicture(pic.Pic, pic.Fmt, 8, 8)); // no bitmap yet
  ASSERT_TRUE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, 8, 8));
  EXPECT_FALSE(ctx.Bitmap().isNull());
  ctx.ResetRGBContext();
  EXPECT_TRUE(ctx.Bitmap().isNull());
  EXPECT_EQ(ctx.RGBPixFmt(), AV_PIX_FMT_RGB24);
  EXPECT_EQ(ctx.BMPPixFmt(), QImage::Format_RGB888);
  ASSERT_TRUE(ctx.PictureToBitmap(pic.Pic, pic.Fmt, 8, 8));
}

} // namespace
