#include "post_hook_context.h"

void ResetPostHookContext(TPostHookContext &AContext) {
  AContext.Context.ResetRGBContext();
  AContext.Previewer.reset();
  AContext.preview_last_time = 0;
  AContext.preview_cur_time = 0;
}
