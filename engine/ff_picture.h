// A picture as plane pointers and line sizes, the form the hooks, the prober and the bitmap
// conversion share. It owns nothing: the planes belong to a frame or a buffer elsewhere.
#pragma once

#include <cstdint>

struct TPicture {
  uint8_t *data[4] = {nullptr, nullptr, nullptr, nullptr};
  int linesize[4] = {0, 0, 0, 0};
};
