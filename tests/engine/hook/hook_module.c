/* A frame-hook module for the tests, built three ways: with every entry point (inverts the first
 * plane), with Process only, and without Process. HookCalls reports how often each entry point
 * ran and with what. */
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

struct hook_picture {
  uint8_t *data[4];
  int linesize[4];
};

static int configured, processed, released;
static int64_t last_pts = -1;

void HookCalls(int *AConfigured, int *AProcessed, int *AReleased, int64_t *ALastPts) {
  *AConfigured = configured;
  *AProcessed = processed;
  *AReleased = released;
  *ALastPts = last_pts;
}

#ifdef HOOK_CONFIGURE
struct hook_ctx {
  int planes;
};

/* Arguments: the module's name, then "fail" to refuse. */
int Configure(void **ctxp, int argc, char *argv[]) {
  if (argc > 1 && strcmp(argv[1], "fail") == 0)
    return -1;
  struct hook_ctx *ctx = calloc(1, sizeof(*ctx));
  if (ctx == NULL)
    return -1;
  ctx->planes = 1;
  *ctxp = ctx;
  ++configured;
  return 0;
}

void Release(void *ctx) {
  free(ctx);
  ++released;
}
#endif

#ifdef HOOK_PROCESS
void Process(void *ctx, struct hook_picture *pict, int pix_fmt, int width, int height,
             int64_t pts) {
  (void)ctx;
  (void)pix_fmt;
  for (int y = 0; y < height; ++y) {
    uint8_t *row = pict->data[0] + (ptrdiff_t)y * pict->linesize[0];
    for (int x = 0; x < width; ++x)
      row[x] = (uint8_t)(255 - row[x]);
  }
  ++processed;
  last_pts = pts;
}
#endif
