// Conversions between decoded pictures and QImage for the player: the shown picture at the
// screen's size, the current picture at its own size, and the hook's round trip.
#pragma once

#include "ff_ptr.h"

#include <QImage>
#include <QRect>
#include <QSize>

// Where a picture goes on a screen: AAspectRatio > 0 forces that width:height, 0 keeps the
// picture's own (sample aspect x width / height, square pixels when unknown), < 0 fills the
// screen. The rectangle is fitted and centred, with even width and height.
QRect DisplayRect(QSize AScreen, int AWidth, int AHeight, AVRational ASampleAspect,
                  float AAspectRatio);

// A cached bicubic scaler from decoded pictures to QImage (RGB32 or RGB888).
class TPictureConverter {
public:
  // Converts AFrame into AImage at ASize; AImage is reused when it already has that size and
  // format and is not shared. AFlip reads the picture bottom-up. False when the scaler refuses.
  bool ToImage(const AVFrame *AFrame, QImage &AImage, QSize ASize, QImage::Format AFormat,
               bool AFlip);
  // Converts AImage back into AFrame (same size; AFrame must be writable). AFlip writes the
  // picture bottom-up, undoing a flipped ToImage.
  bool FromImage(const QImage &AImage, AVFrame *AFrame, bool AFlip);
  void Reset();

private:
  SwsContextPtr FTo;
  SwsContextPtr FFrom;
};

// Plane pointers and line sizes of AFrame that read it bottom-up.
void FlippedPlanes(const AVFrame *AFrame, uint8_t *AData[4], int ALineSize[4]);
