// The working parameters: what the next added file (or the selected job row) takes from the
// selected profile and the six choices. The main window owns one TWorkingParameters; the
// command-line tool one per file.
//
// Window operations and what they call here:
//   Button6Click  (初始化数据)          -> TWorkingParameters::Reset
//   Button5Click  (根据combox添加数据)  -> ApplyProfile, then, from the profile picker's change
//                                          handler with a row selected, WriteProfileColumns
//                                          (job_row.h)
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "profile_catalog.h"

// Bit rate sentinels of the working parameters and job rows.
inline constexpr int BitrateNotSet = -1;
inline constexpr int BitrateNoValue = -1000;

struct TWorkingParameters {
  std::string Video_AddFileName;    // input being added or re-profiled; Reset keeps it
  std::string Video_OutPutFileName; // full output path for that input
  std::string Video_FileExt;
  std::string Video_VideoCodec;
  std::string Video_VideoTag;
  std::string Video_FrameSize; // "640*480"; "" keeps the input's size
  int Video_VideoBitrate = BitrateNotSet;
  std::string Video_FrameRate;
  std::string Video_FrameAspectRatio;
  std::string Video_AudioCodec;
  std::string Video_AudioChannels;
  std::string Video_AudioSampleRate;
  int Video_AudioBitrate = BitrateNotSet;
  std::string Video_AudioVolume = "256";
  bool Video_DisableVideo = false;
  std::string Video_TargetType;
  std::string Video_NormType;
  std::string Video_FileFormat;
  std::string Video_VideoFilters;
  std::string Video_CopyTimestamp;
  int64_t Video_TimeStart = -1;
  int64_t Video_TimeLength = -1;

  // Every field back to its value above, except Video_AddFileName.
  void Reset();

  bool operator==(const TWorkingParameters &) const = default;
};

// Reset, then the profile's parameter set. The output name is left as Reset made it.
void ApplyProfileParameters(TWorkingParameters &AParams, const TProfile &AProfile);

// Reports whether a candidate output path is already promised elsewhere (another job's output).
using TNameReserved = std::function<bool(const std::string &APath)>;

// AFolder + "/" + AName ("" folder: the name alone; no doubled "/").
std::string JoinOutputPath(const std::string &AFolder, const std::string &AName);

// The file-name part of APath with its extension replaced by AExt (AExt includes the dot). A
// name without an extension, or one whose only dot leads it (".profile"), gets AExt appended.
std::string ReplaceFileExt(const std::string &APath, const std::string &AExt);

// Collision avoidance for an output path: APath itself unless it is taken, else the first of
// rest + "_1" + ext, rest + "_2" + ext, ... that is free. A path is taken when something exists
// under it (a dangling link too) and AOverwrite is off, when it is the input file AInputFile
// itself (never overwritten, whatever AOverwrite says), or when AReserved says so.
std::string AvoidCollision(const std::string &APath, bool AOverwrite,
                           const std::string &AInputFile = {}, const TNameReserved &AReserved = {});

// Button5Click without its row write: reset, the profile's parameter set, then
// Video_OutPutFileName from AOutputFolder and Video_AddFileName with the profile's output
// extension, made collision-free.
void ApplyProfile(TWorkingParameters &AParams, const TProfile &AProfile,
                  const std::string &AOutputFolder, bool AOverwrite,
                  const TNameReserved &AReserved = {});
