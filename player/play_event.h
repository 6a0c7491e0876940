// The ring of notifications between the player's threads and its event thread.
#pragma once

#include "ff_event.h"

#include <cstdint>
#include <mutex>

enum TPlayEventKind : int { pekPosition = 1, pekState = 2, pekEnd = 3 };

struct TPlayEventEntry {
  int Kind = 0;
  int64_t Value = 0;
};

// Ten slots read at Header and written at Tailer; equal indices mean empty, so at most nine
// entries wait. A position overwrites a newest position still waiting (only the latest matters);
// other kinds always append. When full, the oldest entry is dropped.
class TPlayEvent {
public:
  static constexpr int Slots = 10;

  void Put(int AKind, int64_t AValue);
  // Takes the oldest entry; false when none waits. Resets Event when the ring becomes empty.
  bool Take(TPlayEventEntry &AEntry);
  int Count() const;
  void Clear();

  TEvent Event; // set while entries wait

private:
  mutable std::mutex Lock; // protects Header, Tailer, Events
  int Header = 0;
  int Tailer = 0;
  TPlayEventEntry Events[Slots];
};
