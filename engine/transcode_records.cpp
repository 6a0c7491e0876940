#include "transcode_records.h"

#include "ffmpeg_loader.h"

#include <algorithm>

void CloseEncoderList(TCodecItem<TAVOutputStream> **AHead) {
  for (TCodecItem<TAVOutputStream> *item = *AHead; item != nullptr;) {
    TAVOutputStream *ost = item->st;
    if (ost->encoding_needed && ost->setup->codec) {
      av_freep(&ost->setup->codec->stats_in);
      TLibraryLockGuard lock;
      ost->setup->codec.reset();
      ost->setup->amrnb.reset();
    }
    TCodecItem<TAVOutputStream> *next = item->Next;
    delete item;
    item = next;
  }
  *AHead = nullptr;
}

void CloseDecoderList(TCodecItem<TAVInputStream> **AHead) {
  for (TCodecItem<TAVInputStream> *item = *AHead; item != nullptr;) {
    TAVInputStream *ist = item->st;
    if (ist->decoding_needed && ist->dec) {
      TLibraryLockGuard lock;
      ist->dec.reset();
    }
    TCodecItem<TAVInputStream> *next = item->Next;
    delete item;
    item = next;
  }
  *AHead = nullptr;
}

bool TSampleBuffer::Reserve(int ASamples, int AChannels, AVSampleFormat AFormat) {
  if (planes != nullptr && ASamples <= capacity && AChannels == channels && AFormat == format)
    return true;
  Free();
  const int samples = std::max(ASamples, 1);
  if (av_samples_alloc_array_and_samples(&planes, nullptr, AChannels, samples, AFormat, 0) < 0) {
    planes = nullptr;
    return false;
  }
  capacity = samples;
  channels = AChannels;
  format = AFormat;
  return true;
}

void TSampleBuffer::Free() {
  if (planes != nullptr)
    av_freep(&planes[0]);
  av_freep(&planes);
  capacity = channels = 0;
  format = -1;
}
