// One task of the task list: a transcoder with a prober per opened input and a copy of the option
// record each file was added with.
#pragma once

#include "ffmpeg_transcoder.h"
#include "option_records.h"

#include <memory>
#include <string>
#include <vector>

class TAVProbe;

class TFFmpeg : public TCustomFFmpeg {
public:
  explicit TFFmpeg(int AMaxFiles, void *AOwner = nullptr);
  ~TFFmpeg() override;

  // The prober of input AIndex, created on first use. Raises the list's index error outside
  // 0..MaxFiles()-1.
  TAVProbe *GetAVProbe(int AIndex);
  // The prober of input AIndex, or null while none was made.
  TAVProbe *AVProbe(int AIndex) const;
  // The run closes the inputs the probers borrowed: they must forget them first.
  void DropProbeBindings();

  void ApplyExtOptions(const std::string &AText, bool AInputSide);

  // Keeps a copy of the record a file was added with; null stores the record's defaults.
  void StoreInputOptions(int AIndex, const TInputOptions *AOptions);
  void StoreOutputOptions(int AIndex, const TOutputOptions *AOptions);

private:
  void CheckFileIndex(int AIndex) const;

  std::vector<std::unique_ptr<TAVProbe>> FAVProbes;
  std::vector<std::unique_ptr<TInputOptions>> FInputOptions;
  std::vector<std::unique_ptr<TOutputOptions>> FOutputOptions;
};
