// The frame-hook chain: shared objects loaded at run time that receive every decoded picture.
#pragma once

#include <cstdint>

extern "C" {
// The picture a hook receives.
struct TFrameHookPicture {
  uint8_t *data[4];
  int linesize[4];
};
typedef int (*TFrameHookConfigureFn)(void **ctxp, int argc, char *argv[]);
typedef void (*TFrameHookProcessFn)(void *ctx, TFrameHookPicture *pict, int pix_fmt, int width,
                                    int height, int64_t pts);
typedef void (*TFrameHookReleaseFn)(void *ctx);
}

struct TFrameHookEntry {
  TFrameHookEntry *next = nullptr;
  TFrameHookConfigureFn Configure = nullptr;
  TFrameHookProcessFn Process = nullptr;
  TFrameHookReleaseFn Release = nullptr;
  void *ctx = nullptr;
};

// Loads the module named by AArgv[0] (once per name, compared without regard to case), calls its
// "Configure" with the arguments and appends it to the chain. 0 on success; -1 when the module
// cannot be loaded, -2 for missing entry points or no arguments, -12 when out of memory, -22
// when "Configure" fails.
int AddFrameHook(TFrameHookEntry **AHead, int AArgc, char *AArgv[]);
void ProcessFrameHooks(TFrameHookEntry *AHead, TFrameHookPicture *APicture, int APixFmt, int AWidth,
                       int AHeight, int64_t APTS);
// Calls each entry's "Release" and empties the chain; the modules stay loaded.
void ReleaseFrameHooks(TFrameHookEntry **AHead);
