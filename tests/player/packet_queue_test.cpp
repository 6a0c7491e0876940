#include "packet_queue.h"

#include <gtest/gtest.h>

TEST(ReadMustWait, LimitsOfTheQueues) {
  const struct {
    TQueueLevels Levels;
    bool Wait;
  } cases[] = {
      // Everything below its mark: read.
      {{true, MinAudioQueueSize, true, MinFrames, true, MinFrames, 0}, false},
      // Audio full, video still hungry: read.
      {{true, MinAudioQueueSize + 1, true, MinFrames, false, 0, 0}, false},
      // Every open stream above its mark: wait.
      {{true, MinAudioQueueSize + 1, true, MinFrames + 1, true, MinFrames + 1, 0}, true},
      // Closed streams need nothing.
      {{false, 0, true, MinFrames + 1, false, 0, 0}, true},
      {{true, MinAudioQueueSize + 1, false, 0, false, 0, 0}, true},
      {{true, 0, false, 0, false, 0, 0}, false},
      // Too much in all: wait, however hungry one stream is.
      {{true, 0, true, 0, true, 0, MaxQueueSize + 1}, true},
      {{true, 0, true, 0, true, 0, MaxQueueSize}, false},
  };
  for (size_t i = 0; i < std::size(cases); i++)
    EXPECT_EQ(ReadMustWait(cases[i].Levels), cases[i].Wait) << "case " << i;
}

TEST(PacketQueue, StartsWithFlushCountsSizeAndAborts) {
  TPacketQueue q;
  TPacketItem item;
  EXPECT_EQ(q.Get(item, false), -1) << "a queue not started is aborted";
  q.Start();
  PacketPtr pkt(av_packet_alloc());
  ASSERT_EQ(av_new_packet(pkt.get(), 1000), 0);
  q.Put(std::move(pkt));
  q.PutDrain();
  EXPECT_EQ(q.Packets(), 3);
  EXPECT_EQ(q.Size(), 1000 + 3 * TPacketQueue::PacketOverhead);
  ASSERT_EQ(q.Get(item, false), 1);
  EXPECT_EQ(item.Kind, TPacketKind::Flush);
  ASSERT_EQ(q.Get(item, false), 1);
  EXPECT_EQ(item.Kind, TPacketKind::Data);
  EXPECT_EQ(item.Packet->size, 1000);
  ASSERT_EQ(q.Get(item, false), 1);
  EXPECT_EQ(item.Kind, TPacketKind::Drain);
  EXPECT_EQ(q.Get(item, false), 0);
  EXPECT_EQ(q.Size(), 0);
  q.PutFlush();
  q.Flush();
  EXPECT_EQ(q.Packets(), 0);
  q.Abort();
  EXPECT_EQ(q.Get(item, true), -1) << "an aborted queue never blocks";
}
