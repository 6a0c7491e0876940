// AMR-NB encoding over the opencore-amr library, serving the encoder name "libopencore_amrnb"
// that today's FFmpeg builds no longer have. It takes frames of 160 samples of 8 kHz mono
// signed 16-bit sound and gives one packet per frame (header byte and speech bits), the packet
// layout the "amr" muxer stores.
#pragma once

#include "ff_ptr.h"

#include <cstdint>
#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
}

class TAMRNBEncoder {
public:
  static constexpr int SampleRate = 8000;
  static constexpr int FrameSize = 160;
  static constexpr AVSampleFormat SampleFormat = AV_SAMPLE_FMT_S16;

  // The mode whose bit rate is nearest ABitRate (7400 gives MR74), and a mode's bit rate.
  static int ModeOf(int64_t ABitRate);
  static int BitRateOf(int AMode);

  TAMRNBEncoder() = default;
  TAMRNBEncoder(const TAMRNBEncoder &) = delete;
  TAMRNBEncoder &operator=(const TAMRNBEncoder &) = delete;
  ~TAMRNBEncoder();

  // Opens for AContext's bit rate; its sound must be 8000 Hz mono signed 16-bit. 0 or a library
  // error code.
  int Open(const AVCodecContext *AContext);
  int Mode() const { return FMode; }

  // As avcodec_send_frame and avcodec_receive_packet: a null frame ends the input, and a short
  // last frame is padded with silence.
  int SendFrame(const AVFrame *AFrame);
  int ReceivePacket(AVPacket *APkt);

private:
  void *FState = nullptr;
  int FMode = 0;
  bool FDraining = false;
  std::deque<PacketPtr> FPending;
};
