#include "audio_display.h"

#include <algorithm>
#include <cmath>

namespace {

int SpectrumLength(QSize ASize, int AChannels) {
  const int band = std::max(1, ASize.height() / std::max(1, AChannels));
  int len = 2;
  while (len / 2 < band)
    len *= 2; // at least one frequency bin per row of the band
  return len;
}

} // namespace

void TAudioDisplay::DrawWave(QImage &AImage, QSize ASize, const int16_t *ASamples, int AFrames,
                             int AChannels) {
  if (ASize.isEmpty() || AChannels <= 0)
    return;
  if (AImage.size() != ASize || AImage.format() != QImage::Format_RGB32)
    AImage = QImage(ASize, QImage::Format_RGB32);
  AImage.fill(AudioBackground);
  const int w = ASize.width(), h = ASize.height();
  const int band = h / AChannels;
  if (band <= 0 || AFrames <= 0)
    return;
  for (int c = 0; c < AChannels; c++) {
    const int centre = c * band + band / 2;
    int prevY = centre;
    for (int x = 0; x < w; x++) {
      const int frame = int(int64_t(x) * AFrames / w);
      const int sample = ASamples[int64_t(frame) * AChannels + c];
      int y = centre - sample * (band / 2) / 32768;
      y = std::clamp(y, c * band, c * band + band - 1);
      // A vertical run joins this sample to the previous one, so steep waves stay connected.
      const int y0 = std::min(prevY, y), y1 = std::max(prevY, y);
      for (int yy = y0; yy <= y1; yy++)
        reinterpret_cast<QRgb *>(AImage.scanLine(yy))[x] = WaveColour;
      prevY = y;
    }
  }
}

int TAudioDisplay::SpectrumWindow(QSize ASize, int AChannels) {
  return SpectrumLength(ASize, AChannels);
}

void TAudioDisplay::DrawSpectrum(QImage &AImage, QSize ASize, const int16_t *ASamples,
                                 int AChannels) {
  if (ASize.isEmpty() || AChannels <= 0)
    return;
  const int len = SpectrumLength(ASize, AChannels);
  if (len != FTxLength || !FTx) {
    AVTXContext *tx = nullptr;
    const float scale = 1.0f;
    FTx.reset();
    if (av_tx_init(&tx, &FTxFn, AV_TX_FLOAT_RDFT, 0, len, &scale, AV_TX_UNALIGNED) < 0)
      return;
    FTx.reset(tx);
    FTxLength = len;
    FIn.assign(size_t(len), 0.0f);
    FOut.assign(size_t(len / 2 + 1), AVComplexFloat{0, 0});
  }
  if (FSpectrum.size() != ASize) {
    FSpectrum = QImage(ASize, QImage::Format_RGB32);
    FSpectrum.fill(AudioBackground);
    FXPos = 0;
  }
  const int h = ASize.height();
  const int band = h / AChannels;
  const float norm = 1.0f / std::sqrt(float(len / 2));
  for (int c = 0; c < AChannels && band > 0; c++) {
    for (int i = 0; i < len; i++) {
      const float window = 0.5f - 0.5f * std::cos(2.0f * float(M_PI) * i / (len - 1));
      FIn[size_t(i)] = ASamples[int64_t(i) * AChannels + c] / 32768.0f * window;
    }
    FTxFn(FTx.get(), FOut.data(), FIn.data(), sizeof(float));
    for (int row = 0; row < band; row++) {
      // Low frequencies at the bottom of each band.
      const AVComplexFloat &bin = FOut[size_t(row * (len / 2) / band)];
      const float magnitude = std::sqrt(bin.re * bin.re + bin.im * bin.im) * norm;
      const int level = std::min(255, int(std::sqrt(magnitude) * 255.0f));
      const int y = c * band + band - 1 - row;
      reinterpret_cast<QRgb *>(FSpectrum.scanLine(y))[FXPos] =
          qRgb(level, level * level / 255, level / 2); // dark to yellow with loudness
    }
  }
  FXPos = (FXPos + 1) % ASize.width();
  AImage = FSpectrum;
}

void TAudioDisplay::Reset() {
  FTx.reset();
  FTxLength = 0;
  FSpectrum = QImage();
  FXPos = 0;
}
