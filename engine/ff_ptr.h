// Owners for FFmpeg objects. Every FFmpeg object the program creates is held by one of these;
// a raw pointer to such an object is borrowed.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/tx.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

struct CodecContextDeleter {
  void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct FrameDeleter {
  void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
  void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// Input contexts: avformat_close_input, and the wide-name I/O context when one was attached.
struct InputFormatContextDeleter {
  void operator()(AVFormatContext *c) const;
};
using InputFormatContextPtr = std::unique_ptr<AVFormatContext, InputFormatContextDeleter>;

// Output contexts: close the I/O context (ours or the library's), then free the context.
struct OutputFormatContextDeleter {
  void operator()(AVFormatContext *c) const;
};
using OutputFormatContextPtr = std::unique_ptr<AVFormatContext, OutputFormatContextDeleter>;

struct SwsContextDeleter {
  void operator()(SwsContext *c) const { sws_freeContext(c); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

struct SwrContextDeleter {
  void operator()(SwrContext *c) const { swr_free(&c); }
};
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;

struct AudioFifoDeleter {
  void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

struct FilterGraphDeleter {
  void operator()(AVFilterGraph *g) const { avfilter_graph_free(&g); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

struct BSFContextDeleter {
  void operator()(AVBSFContext *b) const { av_bsf_free(&b); }
};
using BSFContextPtr = std::unique_ptr<AVBSFContext, BSFContextDeleter>;

struct TXContextDeleter {
  void operator()(AVTXContext *t) const { av_tx_uninit(&t); }
};
using TXContextPtr = std::unique_ptr<AVTXContext, TXContextDeleter>;

// An AVDictionary owner; use .get() for reading and Ref() where the library fills or consumes it.
class TDictionary {
public:
  TDictionary() = default;
  TDictionary(const TDictionary &) = delete;
  TDictionary &operator=(const TDictionary &) = delete;
  TDictionary(TDictionary &&o) noexcept : FDict(o.FDict) { o.FDict = nullptr; }
  TDictionary &operator=(TDictionary &&o) noexcept {
    if (this != &o) {
      av_dict_free(&FDict);
      FDict = o.FDict;
      o.FDict = nullptr;
    }
    return *this;
  }
  ~TDictionary() { av_dict_free(&FDict); }
  AVDictionary *get() const { return FDict; }
  AVDictionary **Ref() { return &FDict; }
  int Count() const { return av_dict_count(FDict); }
  void Clear() { av_dict_free(&FDict); }
  TDictionary Copy() const {
    TDictionary d;
    av_dict_copy(d.Ref(), FDict, 0);
    return d;
  }

private:
  AVDictionary *FDict = nullptr;
};
