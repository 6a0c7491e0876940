#include "picture_convert.h"

#include <gtest/gtest.h>

TEST(DisplayRect, AspectRules) {
  const struct {
    QSize Screen;
    int W, H;
    AVRational Sar;
    float Aspect;
    QRect Want;
  } cases[] = {
      // The picture's own shape, letterboxed or pillarboxed and centred.
      {{320, 240}, 640, 360, {1, 1}, 0, {0, 30, 320, 180}},
      {{320, 180}, 320, 240, {0, 1}, 0, {40, 0, 240, 180}},
      // Anamorphic: 720x576 with 16:15 pixels is 4:3.
      {{400, 300}, 720, 576, {16, 15}, 0, {0, 0, 400, 300}},
      // A forced ratio wins over the picture's.
      {{320, 240}, 320, 240, {1, 1}, 16.0f / 9.0f, {0, 30, 320, 180}},
      // Negative: fill the screen.
      {{300, 100}, 640, 360, {1, 1}, -1, {0, 0, 300, 100}},
      // Even width and height.
      {{321, 241}, 640, 360, {1, 1}, 0, {0, 30, 320, 180}},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    const auto &c = cases[i];
    EXPECT_EQ(DisplayRect(c.Screen, c.W, c.H, c.Sar, c.Aspect), c.Want) << "case " << i;
  }
  EXPECT_TRUE(DisplayRect({0, 0}, 640, 360, {1, 1}, 0).isEmpty());
}

TEST(PictureConverter, FlipReadsThePictureBottomUp) {
  // A YUV picture, white in its top half and black below.
  FramePtr frame(av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = 64;
  frame->height = 48;
  ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  for (int y = 0; y < 48; y++)
    memset(frame->data[0] + y * frame->linesize[0], y < 24 ? 235 : 16, 64);
  for (int p = 1; p < 3; p++)
    for (int y = 0; y < 24; y++)
      memset(frame->data[p] + y * frame->linesize[p], 128, 32);
  TPictureConverter conv;
  QImage straight, flipped;
  ASSERT_TRUE(conv.ToImage(frame.get(), straight, {64, 48}, QImage::Format_RGB888, false));
  ASSERT_TRUE(conv.ToImage(frame.get(), flipped, {64, 48}, QImage::Format_RGB888, true));
  EXPECT_GT(qGray(straight.pixel(32, 4)), 200);
  EXPECT_LT(qGray(straight.pixel(32, 44)), 50);
  EXPECT_EQ(flipped, straight.mirrored(false, true));

  // And back: the picture written bottom-up again reads as it was.
  ASSERT_TRUE(conv.FromImage(flipped, frame.get(), true));
  QImage again;
  ASSERT_TRUE(conv.ToImage(frame.get(), again, {64, 48}, QImage::Format_RGB888, false));
  EXPECT_GT(qGray(again.pixel(32, 4)), 200);
  EXPECT_LT(qGray(again.pixel(32, 44)), 50);
}
