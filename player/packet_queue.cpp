#include "packet_queue.h"

void TPacketQueue::Start() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FAbort = false;
  }
  PutFlush();
}

void TPacketQueue::Abort() {
  std::lock_guard<std::mutex> lock(FMutex);
  FAbort = true;
  FCond.notify_all();
}

void TPacketQueue::Flush() {
  std::deque<TPacketItem> dropped;
  std::lock_guard<std::mutex> lock(FMutex);
  dropped.swap(FItems);
  FPackets = 0;
  FSize = 0;
}

void TPacketQueue::PutItem(TPacketItem AItem, int ASize) {
  std::lock_guard<std::mutex> lock(FMutex);
  FItems.push_back(std::move(AItem));
  FPackets++;
  FSize += ASize + PacketOverhead;
  FCond.notify_one();
}

void TPacketQueue::Put(PacketPtr APacket) {
  const int size = APacket->size;
  PutItem({TPacketKind::Data, std::move(APacket)}, size);
}

void TPacketQueue::PutFlush() {
  PutItem({TPacketKind::Flush, nullptr}, 0);
}

void TPacketQueue::PutDrain() {
  PutItem({TPacketKind::Drain, nullptr}, 0);
}

int TPacketQueue::Get(TPacketItem &AItem, bool ABlock) {
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    if (FAbort)
      return -1;
    if (!FItems.empty()) {
      AItem = std::move(FItems.front());
      FItems.pop_front();
      FPackets--;
      FSize -= (AItem.Packet ? AItem.Packet->size : 0) + PacketOverhead;
      return 1;
    }
    if (!ABlock)
      return 0;
    FCond.wait(lock);
  }
}

int TPacketQueue::Packets() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FPackets;
}

int TPacketQueue::Size() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FSize;
}

bool TPacketQueue::Aborted() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FAbort;
}

bool ReadMustWait(const TQueueLevels &ALevels) {
  if (ALevels.TotalSize > MaxQueueSize)
    return true;
  const bool audioFull = !ALevels.AudioOpen || ALevels.AudioSize > MinAudioQueueSize;
  const bool videoFull = !ALevels.VideoOpen || ALevels.VideoPackets > MinFrames;
  const bool subtitleFull = !ALevels.SubtitleOpen || ALevels.SubtitlePackets > MinFrames;
  return audioFull && videoFull && subtitleFull;
}
