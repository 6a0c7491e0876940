// Any bytes, taken as a media file: the prober opens, describes, decodes and steps through it
// without crashing or hanging.
#include "av_probe.h"
#include "ff_logger.h"
#include "ffmpeg_loader.h"

#include <QImage>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string GFileName;

void RemoveFile() {
  if (!GFileName.empty())
    unlink(GFileName.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!FFLoader().Load(ProbeLibraries))
    std::abort();
  GetLogger()->SetLogLevel(llQuiet);
  char name[] = "/tmp/probe_fuzz_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0)
    std::abort();
  close(fd);
  GFileName = name;
  std::atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize) {
  FILE *f = std::fopen(GFileName.c_str(), "wb");
  if (f == nullptr)
    return 0;
  if (ASize > 0)
    std::fwrite(AData, 1, ASize, f);
  std::fclose(f);

  TAVProbe probe;
  probe.SetTimeout(std::chrono::seconds(1));
  if (!probe.LoadFile(GFileName))
    return 0;
  probe.FileInfoText();
  probe.FileStreamInfo();
  probe.FirstVideoStreamInfo();
  probe.FirstAudioStreamInfo();
  probe.FirstSubtitleStreamInfo();
  for (int i = 0; i < 3 && probe.Decode(); ++i) {
  }
  QImage bitmap;
  probe.CopyToBitmap(bitmap);
  probe.DecodePreviousFrame();
  probe.DecodeNextKeyFrame();
  probe.Seek(-1);
  probe.DecodePreviousKeyFrame();
  return 0;
}
