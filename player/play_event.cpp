#include "play_event.h"

void TPlayEvent::Put(int AKind, int64_t AValue) {
  std::lock_guard<std::mutex> lock(Lock);
  const int newest = (Tailer + Slots - 1) % Slots;
  if (Header != Tailer && AKind == pekPosition && Events[newest].Kind == pekPosition) {
    Events[newest].Value = AValue;
  } else {
    Events[Tailer] = {AKind, AValue};
    Tailer = (Tailer + 1) % Slots;
    if (Tailer == Header)
      Header = (Header + 1) % Slots;
  }
  Event.Set();
}

bool TPlayEvent::Take(TPlayEventEntry &AEntry) {
  std::lock_guard<std::mutex> lock(Lock);
  if (Header == Tailer) {
    Event.Reset();
    return false;
  }
  AEntry = Events[Header];
  Header = (Header + 1) % Slots;
  if (Header == Tailer)
    Event.Reset();
  return true;
}

int TPlayEvent::Count() const {
  std::lock_guard<std::mutex> lock(Lock);
  return (Tailer - Header + Slots) % Slots;
}

void TPlayEvent::Clear() {
  std::lock_guard<std::mutex> lock(Lock);
  Header = Tailer = 0;
  Event.Reset();
}
