#include "transcode_records.h"

#include "ffmpeg_loader.h"

void CloseEncoderList(TCodecItem<TAVOutputStream> **AHead) {
  for (TCodecItem<TAVOutputStream> *item = *AHead; item != nullptr;) {
    TAVOutputStream *ost = item->st;
    if (ost->encoding_needed && ost->setup->codec) {
      av_freep(&ost->setup->codec->stats_in);
      TLibraryLockGuard lock;
      ost->setup->codec.reset();
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
