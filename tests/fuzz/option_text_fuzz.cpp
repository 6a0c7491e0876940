// Option texts of any bytes, applied line by line and as output and input records, never crash
// the transcoder; refusals are exceptions of the two option error types only.
#include "ff_error.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"
#include "option_records.h"
#include "option_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

namespace {

void Quiet(void *, int, const char *, va_list) {}

// Lines that would load modules or read files named by the input.
bool Skipped(const std::string &AName) {
  return AName == "vhook" || AName == "apre" || AName == "vpre" || AName == "spre" ||
         AName == "fpre";
}

std::string WithoutSkipped(const std::string &AText) {
  std::string r;
  for (const TOptionLine &l : SplitOptionText(AText))
    if (!Skipped(LowerCaseText(l.Name)))
      r += l.Name + "=" + l.Value + "\n";
  return r;
}

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
  const std::string text =
      WithoutSkipped(std::string(reinterpret_cast<const char *>(AData), ASize));
  {
    TCustomFFmpeg task(4);
    task.Reinitialize();
    for (const TOptionLine &l : SplitOptionText(text))
      Guarded([&] { task.ParseOption(LowerCaseText(l.Name), l.Value); });
    // The task stays usable after whatever came before.
    task.ParseOption("vcodec", "mpeg4");
    if (task.Fvideo_codec_name != "mpeg4")
      std::abort();
  }
  {
    TCustomFFmpeg task(4);
    task.Reinitialize();
    TInputOptions in = InputOptionsFromText(text);
    Guarded([&] { ApplyInputOptions(task, in, "in"); });
    TOutputOptions out = OutputOptionsFromText(text);
    TDefaultsList defaults;
    Guarded([&] { PrepareOutput(task, out, defaults, "out"); });
    Guarded([&] { ApplyNewStreams(task, out.ExtOptions, defaults); });
  }
  GetLogger()->SetLogLevel(llInfo);
  return 0;
}
