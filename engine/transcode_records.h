// The transcoder's per-stream records: what creating an output stream decided (kept from the
// output's creation until its files are closed), and the run records that a conversion builds
// from the opened files and frees at its end. The video and audio output paths keep their
// working state here too.
#pragma once

#include "amrnb_encoder.h"
#include "ff_ptr.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

// What new_video_stream, new_audio_stream and new_subtitle_stream decided for one output stream.
// Its codec context carries the stream's settings; for an encoded stream the encoder is opened
// on it when the run starts.
struct TOutputStreamSetup {
  CodecContextPtr codec;
  // The encoder chosen by name; null when the encoder follows from the codec id.
  const AVCodec *encoder = nullptr;
  // The encoder name asked for when another encoder serves it ("libfaac" by the native "aac",
  // "libopencore_amrnb" by the engine's own AMR-NB encoder); empty otherwise.
  std::string substituted_name;
  // The stream is encoded by the engine's AMR-NB encoder, open while the stream's encoder is.
  bool use_amrnb = false;
  std::unique_ptr<TAMRNBEncoder> amrnb;
  bool stream_copy = false;
  // Stream quality (quantiser × 118) for a fixed-quantiser encoder; 0 = none.
  float quality = 0;
  // The output stream's bitstream-filter chain, initialised once its parameters are known.
  std::vector<BSFContextPtr> bitstream_filters;
  bool bitstream_filters_ready = false;
  // The stream's time reached: end of the latest packet written, in the stream's time base.
  // Kept here since the join entries of one stream share it.
  int64_t last_ts = AV_NOPTS_VALUE;
  // Decode time of the latest packet handed to the muxer, in the stream's time base.
  int64_t last_dts = AV_NOPTS_VALUE;
};

// Room for samples of one format, grown on demand and reused.
struct TSampleBuffer {
  uint8_t **planes = nullptr; // one per channel for planar formats, else one
  int capacity = 0;           // samples per channel
  int channels = 0;
  int format = -1;

  TSampleBuffer() = default;
  TSampleBuffer(const TSampleBuffer &) = delete;
  TSampleBuffer &operator=(const TSampleBuffer &) = delete;
  ~TSampleBuffer() { Free(); }
  // Room for ASamples samples per channel; false when out of memory.
  bool Reserve(int ASamples, int AChannels, AVSampleFormat AFormat);
  void Free();
};

struct TAVInputFile {
  int eof_reached = 0;
  int ist_index = 0;  // index of the file's first stream in the input-stream table
  int nb_streams = 0; // streams known when the run was prepared; later ones are ignored
};

struct TAVOutputStream;

struct TAVInputStream {
  int file_index = 0;
  int index = 0;
  AVStream *st = nullptr; // borrowed from the input's format context
  // The decoder context made when the input was opened, handed to the run; opened when
  // decoding_needed. Closing a codec frees its context.
  CodecContextPtr dec;
  int discard = 1; // 1 until an output stream takes this stream
  bool decoding_needed = false;
  int64_t sample_index = 0;
  int64_t start = 0;                 // wall clock (µs) when reading started, for rate emulation
  int64_t next_pts = AV_NOPTS_VALUE; // µs
  int64_t pts = 0;                   // µs, the current frame
  int is_start = 1;                  // at start and after a discontinuity
  bool showed_multi_packet_warning = false;
  bool is_past_recording_time = false;
  bool decoder_flushed = false;
  float quality = 0; // of the last decoded picture

  // Decoded data handed to the output paths; reused for every frame.
  FramePtr decoded_frame;
  // Video filter graph: source and the engine's sink, and the picture taken from the sink.
  FilterGraphPtr filter_graph;
  AVFilterContext *input_video_filter = nullptr;
  AVFilterContext *out_video_filter = nullptr;
  FramePtr filter_frame;
  bool has_filter_frame = false;
  // The output stream the graph was built for, and the picture geometry it takes.
  TAVOutputStream *filter_ost = nullptr;
  int filter_width = 0, filter_height = 0, filter_format = -1;
  // Deinterlacing stage ahead of the hooks: its graph, ends and the geometry it was made for.
  FilterGraphPtr deint_graph;
  AVFilterContext *deint_src = nullptr;
  AVFilterContext *deint_sink = nullptr;
  int deint_width = 0, deint_height = 0, deint_format = -1;
  FramePtr deint_frame;
};

struct TAVOutputStream {
  int file_index = 0; // output entry
  int index = 0;      // stream index in that output
  int source_index = 0;
  AVStream *st = nullptr;              // borrowed from the output's format context
  TOutputStreamSetup *setup = nullptr; // borrowed; shared by the join entries of one stream
  bool encoding_needed = false;
  int frame_number = 0;
  TAVInputStream *sync_ist = nullptr;
  int64_t sync_opts = 0; // frames (video) or samples (audio) given to the encoder
  float quality = -1;    // of the last encoded picture (quantiser × 118); -1 for stream copy
  uint64_t error[4] = {0, 0, 0, 0}; // the last encoded picture's squared errors per plane
  int pict_type = 0;                // of the last encoded picture
  bool got_frame = false; // a packet was written (stream copy waits for a key frame first)
  int show_fps = 0;

  // Video.
  bool video_resample = false;
  FramePtr pict_tmp;
  SwsContextPtr img_resample_ctx;
  int resample_height = 0;
  int resample_width = 0;
  int resample_pix_fmt = AV_PIX_FMT_NONE;
  int original_height = 0;
  int original_width = 0;
  bool video_crop = false;
  int topBand = 0, bottomBand = 0, leftBand = 0, rightBand = 0;
  int original_topBand = 0, original_bottomBand = 0, original_leftBand = 0, original_rightBand = 0;

  // Audio. One converter does resampling, channel and sample-format conversion; it is made
  // for the decoded sound's format, rate and layout below.
  bool audio_resample = false;
  SwrContextPtr resample;
  int resample_in_format = -1;
  int resample_in_rate = 0;
  AVChannelLayout resample_in_layout{};
  AudioFifoPtr fifo;

  // Two-pass statistics (pass 1 writes them).
  FILE *logfile = nullptr;
  AVCodecID codec_id = AV_CODEC_ID_NONE; // remembered for reopening between joined inputs

  // The encoder (an encoded stream) or the stream's settings (stream copy); null once closed.
  AVCodecContext *enc() const { return setup->codec.get(); }
  // The stream's encoder is open (the library's, or the engine's AMR-NB encoder).
  bool encoder_open() const {
    return setup->codec && (setup->amrnb || avcodec_is_open(setup->codec.get()) != 0);
  }

  TAVOutputStream() = default;
  TAVOutputStream(const TAVOutputStream &) = delete;
  TAVOutputStream &operator=(const TAVOutputStream &) = delete;
  ~TAVOutputStream() { av_channel_layout_uninit(&resample_in_layout); }
};

// The codec lists: every encoder and decoder a run opens is entered, so that after a failure
// every codec still open can be closed.
template <class T> struct TCodecItem {
  T *st = nullptr;
  TCodecItem *Prev = nullptr;
  TCodecItem *Next = nullptr;
};

// Puts a new item for ASt in front of the list.
template <class T> void AddCodecItem(TCodecItem<T> **AHead, T *ASt) {
  auto *item = new TCodecItem<T>{ASt, nullptr, *AHead};
  if (*AHead != nullptr)
    (*AHead)->Prev = item;
  *AHead = item;
}

// Unlinks and frees the first item of ASt, when there is one.
template <class T> void RemoveCodecItem(TCodecItem<T> **AHead, T *ASt) {
  for (TCodecItem<T> *item = *AHead; item != nullptr; item = item->Next) {
    if (item->st != ASt)
      continue;
    if (item->Prev != nullptr)
      item->Prev->Next = item->Next;
    if (item->Next != nullptr)
      item->Next->Prev = item->Prev;
    if (*AHead == item)
      *AHead = item->Next;
    delete item;
    return;
  }
}

// Close, under the library lock, every encoder (decoder) of the list that is still open (closing
// frees the codec context), free every item and empty the list.
void CloseEncoderList(TCodecItem<TAVOutputStream> **AHead);
void CloseDecoderList(TCodecItem<TAVInputStream> **AHead);
