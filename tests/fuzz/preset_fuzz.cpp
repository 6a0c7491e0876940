// Preset texts and target names of any bytes never crash the preset parser.
#include "ff_error.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

namespace {

void Quiet(void *, int, const char *, va_list) {}

template <typename F> void Guarded(F AAction) {
  try {
    AAction();
  } catch (const FFmpegException &) {
  } catch (const EConvertError &) {
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!FFLoader().Load(TaskListLibraries))
    std::abort();
  av_log_set_callback(Quiet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize) {
  const std::string text(reinterpret_cast<const char *>(AData), ASize);
  TCustomFFmpeg task;
  task.Reinitialize();
  task.ParseOption("vcodec", "libx264");
  Guarded([&] { task.ApplyPresetText("fuzz", text); });
  // A built-in name, or a composed one, but never a file named by the input.
  if (text.find('/') == std::string::npos)
    Guarded([&] {
      if (text.size() < 64 && text.find('.') == std::string::npos)
        task.ApplyPreset("vpre", text);
    });
  task.Fframe_rate = {static_cast<int>(ASize % 60), static_cast<int>(ASize % 3)};
  Guarded([&] { task.SplitTarget(text); });
  GetLogger()->SetLogLevel(llInfo);
  return 0;
}
