// Packet queues between the read thread and the decoders, with the flush and drain markers.
#pragma once

#include "ff_ptr.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

// Flush marks a seek: decoders flush their state when they meet it. Drain asks the decoder for
// the pictures or samples it still holds at the end of the input.
enum class TPacketKind { Data, Flush, Drain };

struct TPacketItem {
  TPacketKind Kind = TPacketKind::Data;
  PacketPtr Packet; // set for Data only
};

class TPacketQueue {
public:
  // Every packet counts its data size plus this much towards Size().
  static constexpr int PacketOverhead = 72;

  // Clears the abort flag and puts a flush marker first, so the decoder starts clean.
  void Start();
  // Wakes every waiter; Get returns -1 from now on.
  void Abort();
  // Drops every waiting packet.
  void Flush();
  void Put(PacketPtr APacket);
  void PutFlush();
  void PutDrain();
  // 1: an item was taken; 0: none waits (only without blocking); -1: the queue was aborted.
  int Get(TPacketItem &AItem, bool ABlock);

  int Packets() const;
  int Size() const;
  bool Aborted() const;

private:
  void PutItem(TPacketItem AItem, int ASize);

  mutable std::mutex FMutex; // protects FItems, FPackets, FSize, FAbort
  std::condition_variable FCond;
  std::deque<TPacketItem> FItems;
  int FPackets = 0;
  int FSize = 0;
  bool FAbort = true;
};

// How full the queues are, for the read thread's decision to wait.
struct TQueueLevels {
  bool AudioOpen = false;
  int AudioSize = 0;
  bool VideoOpen = false;
  int VideoPackets = 0;
  bool SubtitleOpen = false;
  int SubtitlePackets = 0;
  int64_t TotalSize = 0;
};

inline constexpr int64_t MaxQueueSize = 15 * 1024 * 1024;
inline constexpr int MinAudioQueueSize = 20 * 16 * 1024;
inline constexpr int MinFrames = 5;

// True when the read thread should not read now: the queues together hold too much, or no
// open stream needs more.
bool ReadMustWait(const TQueueLevels &ALevels);
