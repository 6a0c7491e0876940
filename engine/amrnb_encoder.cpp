#include "amrnb_encoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
#include <opencore-amrnb/interf_enc.h>
}

namespace {

// Bit rate of each mode, MR475 to MR122.
constexpr int ModeRates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
constexpr int ModeCount = sizeof(ModeRates) / sizeof(ModeRates[0]);
// The longest frame the library writes (MR122: header byte and 31 bytes of speech bits).
constexpr int MaxFrameBytes = 32;

} // namespace

int TAMRNBEncoder::ModeOf(int64_t ABitRate) {
  int best = 0;
  for (int m = 1; m < ModeCount; ++m)
    if (std::llabs(ModeRates[m] - ABitRate) < std::llabs(ModeRates[best] - ABitRate))
      best = m;
  return best;
}

int TAMRNBEncoder::BitRateOf(int AMode) {
  return AMode >= 0 && AMode < ModeCount ? ModeRates[AMode] : 0;
}

TAMRNBEncoder::~TAMRNBEncoder() {
  if (FState != nullptr)
    Encoder_Interface_exit(FState);
}

int TAMRNBEncoder::Open(const AVCodecContext *AContext) {
  if (AContext->sample_rate != SampleRate || AContext->ch_layout.nb_channels != 1 ||
      AContext->sample_fmt != SampleFormat)
    return AVERROR(EINVAL);
  if (FState != nullptr)
    Encoder_Interface_exit(FState);
  FState = Encoder_Interface_init(0);
  if (FState == nullptr)
    return AVERROR(ENOMEM);
  FMode = ModeOf(AContext->bit_rate);
  FDraining = false;
  FPending.clear();
  return 0;
}

int TAMRNBEncoder::SendFrame(const AVFrame *AFrame) {
  if (FState == nullptr)
    return AVERROR(EINVAL);
  if (FDraining)
    return AVERROR_EOF;
  if (AFrame == nullptr) {
    FDraining = true;
    return 0;
  }
  if (AFrame->nb_samples <= 0 || AFrame->nb_samples > FrameSize || AFrame->format != SampleFormat)
    return AVERROR(EINVAL);
  short speech[FrameSize] = {};
  std::memcpy(speech, AFrame->data[0], static_cast<size_t>(AFrame->nb_samples) * sizeof(short));
  unsigned char out[MaxFrameBytes + 32];
  const int bytes =
      Encoder_Interface_Encode(FState, static_cast<enum ::Mode>(FMode), speech, out, 0);
  if (bytes <= 0 || bytes > MaxFrameBytes)
    return AVERROR_EXTERNAL;
  PacketPtr pkt(av_packet_alloc());
  if (!pkt || av_new_packet(pkt.get(), bytes) < 0)
    return AVERROR(ENOMEM);
  std::memcpy(pkt->data, out, static_cast<size_t>(bytes));
  pkt->pts = pkt->dts = AFrame->pts;
  pkt->duration = FrameSize;
  pkt->flags |= AV_PKT_FLAG_KEY;
  FPending.push_back(std::move(pkt));
  return 0;
}

int TAMRNBEncoder::ReceivePacket(AVPacket *APkt) {
  if (FPending.empty())
    return FDraining ? AVERROR_EOF : AVERROR(EAGAIN);
  av_packet_move_ref(APkt, FPending.front().get());
  FPending.pop_front();
  return 0;
}
