#include "ffmpeg_transcoder.h"

#include "ffmpeg_loader.h"

#include <algorithm>

TCustomFFmpeg::TCustomFFmpeg(int AMaxFiles, void *AOwner)
    : TFFBaseComponent(AOwner), FMaxFiles(std::clamp(AMaxFiles, MIN_FILES, MAX_FILES)) {
  ResetOptions();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  // No thread outlives its transcoder: stop the run and wait for it.
  Stop(true);
  FThread.reset();
  if (FDoTerminateThread.joinable()) {
    if (FDoTerminateThread.get_id() == std::this_thread::get_id())
      FDoTerminateThread.detach();
    else
      FDoTerminateThread.join();
  }
  CloseFilesNow();
  ReleaseFrameHooks(&FFirstHook);
}

void TCustomFFmpeg::Reinitialize() {
  if (!FFLoader().Loaded(TaskListLibraries))
    return;
  CloseFiles();
  ResetOptions();
  ResetRunState();
  FTotalOutputDuration = -1;
  FOptions = std::make_unique<TFFOptions>(Fsws_flags);
}
