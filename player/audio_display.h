// Pictures of the sound for files without video: a waveform, or a scrolling spectrogram.
#pragma once

#include "ff_ptr.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

class TAudioDisplay {
public:
  // Draws AFrames interleaved samples of AChannels channels as one waveform band per channel.
  void DrawWave(QImage &AImage, QSize ASize, const int16_t *ASamples, int AFrames, int AChannels);
  // Adds one column of spectra (one band per channel) to the spectrogram and returns it in
  // AImage. ASamples must hold SpectrumWindow(ASize, AChannels) frames.
  void DrawSpectrum(QImage &AImage, QSize ASize, const int16_t *ASamples, int AChannels);
  // The frames one spectrum column reads.
  static int SpectrumWindow(QSize ASize, int AChannels);
  void Reset();

private:
  TXContextPtr FTx;
  av_tx_fn FTxFn = nullptr;
  int FTxLength = 0;
  std::vector<float> FIn;
  std::vector<AVComplexFloat> FOut;
  QImage FSpectrum;
  int FXPos = 0;
};

inline constexpr QRgb AudioBackground = 0xff000000;
inline constexpr QRgb WaveColour = 0xffffffff;
