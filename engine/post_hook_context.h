// What the video path keeps for the picture hooks that follow encoding: the bitmap conversion,
// the task's preview window and the preview clock.
#pragma once

#include "previewer.h"
#include "rgb_convert_context.h"

#include <cstdint>
#include <memory>

struct TPostHookContext {
  TRGBConvertContext Context;
  std::unique_ptr<TPreviewerBase> Previewer; // made when the first picture is to be shown
  int64_t preview_last_time = 0;             // µs
  int64_t preview_cur_time = 0;              // µs
};

// Frees the conversion's bitmap and scalers and the preview window, and zeroes the clock.
void ResetPostHookContext(TPostHookContext &AContext);
