#include "play_event.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<TPlayEventEntry> TakeAll(TPlayEvent &ARing) {
  std::vector<TPlayEventEntry> out;
  TPlayEventEntry e;
  while (ARing.Take(e))
    out.push_back(e);
  return out;
}

} // namespace

TEST(PlayEventRing, PositionsCollapseIntoTheLatestButStatesAreKept) {
  TPlayEvent ring;
  ring.Put(pekState, 0);
  ring.Put(pekPosition, 100);
  ring.Put(pekPosition, 200);
  ring.Put(pekPosition, 300);
  ring.Put(pekState, 1);
  ring.Put(pekState, 5);
  ring.Put(pekPosition, 400);
  const auto got = TakeAll(ring);
  const std::vector<std::pair<int, int64_t>> want = {
      {pekState, 0}, {pekPosition, 300}, {pekState, 1}, {pekState, 5}, {pekPosition, 400}};
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); i++) {
    EXPECT_EQ(got[i].Kind, want[i].first) << i;
    EXPECT_EQ(got[i].Value, want[i].second) << i;
  }
}

TEST(PlayEventRing, HoldsNineAndDropsTheOldest) {
  TPlayEvent ring;
  for (int i = 0; i < 12; i++)
    ring.Put(pekState, i);
  EXPECT_EQ(ring.Count(), TPlayEvent::Slots - 1);
  const auto got = TakeAll(ring);
  ASSERT_EQ(got.size(), 9u);
  EXPECT_EQ(got.front().Value, 3);
  EXPECT_EQ(got.back().Value, 11);
}

TEST(PlayEventRing, EventIsSetWhileEntriesWait) {
  TPlayEvent ring;
  EXPECT_FALSE(ring.Event.IsSet());
  ring.Put(pekPosition, 1);
  ring.Put(pekEnd, 0);
  EXPECT_TRUE(ring.Event.IsSet());
  TPlayEventEntry e;
  ASSERT_TRUE(ring.Take(e));
  EXPECT_TRUE(ring.Event.IsSet());
  ASSERT_TRUE(ring.Take(e));
  EXPECT_EQ(e.Kind, pekEnd);
  EXPECT_FALSE(ring.Event.IsSet());
  EXPECT_FALSE(ring.Take(e));
  // A position after the ring was emptied is a new entry, not an overwrite of a taken one.
  ring.Put(pekPosition, 7);
  ASSERT_TRUE(ring.Take(e));
  EXPECT_EQ(e.Value, 7);
}
