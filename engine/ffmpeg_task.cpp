#include "ffmpeg_task.h"

#include "av_probe.h"
#include "ff_error.h"

#include <stdexcept>

TFFmpeg::TFFmpeg(int AMaxFiles, void *AOwner) : TCustomFFmpeg(AMaxFiles, AOwner) {
  FAVProbes.resize(static_cast<size_t>(MaxFiles()));
  FInputOptions.resize(static_cast<size_t>(MaxFiles()));
  FOutputOptions.resize(static_cast<size_t>(MaxFiles()));
}

TFFmpeg::~TFFmpeg() {
  // The run's termination reaches the probers below, so it must be over before they go.
  Stop(true);
}

void TFFmpeg::CheckFileIndex(int AIndex) const {
  if (AIndex < 0 || AIndex >= MaxFiles())
    throw std::out_of_range(Format("List index out of bounds (%d)", AIndex));
}

TAVProbe *TFFmpeg::GetAVProbe(int AIndex) {
  CheckFileIndex(AIndex);
  auto &probe = FAVProbes[static_cast<size_t>(AIndex)];
  if (!probe)
    probe = std::make_unique<TAVProbe>(this);
  return probe.get();
}

TAVProbe *TFFmpeg::AVProbe(int AIndex) const {
  CheckFileIndex(AIndex);
  return FAVProbes[static_cast<size_t>(AIndex)].get();
}

void TFFmpeg::DropProbeBindings() {
  for (auto &probe : FAVProbes)
    if (probe && probe->FileHandle() != nullptr && !probe->OwnHandle())
      probe->CloseFile();
}

void TFFmpeg::ApplyExtOptions(const std::string &AText, bool AInputSide) {
  ::ApplyExtOptions(*this, AText, AInputSide);
}

void TFFmpeg::StoreInputOptions(int AIndex, const TInputOptions *AOptions) {
  CheckFileIndex(AIndex);
  auto &stored = FInputOptions[static_cast<size_t>(AIndex)];
  if (!stored)
    stored = std::make_unique<TInputOptions>();
  if (AOptions != nullptr)
    *stored = *AOptions;
  else
    InitInputOptions(*stored);
}

void TFFmpeg::StoreOutputOptions(int AIndex, const TOutputOptions *AOptions) {
  CheckFileIndex(AIndex);
  auto &stored = FOutputOptions[static_cast<size_t>(AIndex)];
  if (!stored)
    stored = std::make_unique<TOutputOptions>();
  if (AOptions != nullptr)
    *stored = *AOptions;
  else
    InitOutputOptions(*stored);
}
