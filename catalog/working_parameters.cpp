// Working parameters, applying a profile and the output file name.
#include "working_parameters.h"

#include <filesystem>
#include <system_error>

void TWorkingParameters::Reset() {
  TWorkingParameters Fresh;
  Fresh.Video_AddFileName = std::move(Video_AddFileName);
  *this = std::move(Fresh);
}

void ApplyProfileParameters(TWorkingParameters &AParams, const TProfile &AProfile) {
  AParams.Reset();
  AParams.Video_FileExt = AProfile.FileExt;
  AParams.Video_VideoCodec = AProfile.VideoCodec;
  AParams.Video_VideoTag = AProfile.VideoTag;
  AParams.Video_FrameSize = AProfile.FrameSize;
  AParams.Video_VideoBitrate = AProfile.VideoBitrate;
  AParams.Video_FrameRate = AProfile.FrameRate;
  AParams.Video_FrameAspectRatio = AProfile.FrameAspectRatio;
  AParams.Video_AudioCodec = AProfile.AudioCodec;
  AParams.Video_AudioChannels = AProfile.AudioChannels;
  AParams.Video_AudioSampleRate = AProfile.AudioSampleRate;
  AParams.Video_AudioBitrate = AProfile.AudioBitrate;
  AParams.Video_DisableVideo = AProfile.DisableVideo;
  AParams.Video_TargetType = AProfile.TargetType;
  AParams.Video_NormType = AProfile.NormType;
}

std::string JoinOutputPath(const std::string &AFolder, const std::string &AName) {
  if (AFolder.empty())
    return AName;
  if (AFolder.back() == '/')
    return AFolder + AName;
  return AFolder + "/" + AName;
}

namespace {

// Position of the extension's dot in APath, or npos. Only the last path element counts, and a
// dot that begins it marks a hidden file, not an extension.
size_t ExtDot(const std::string &APath) {
  const size_t Slash = APath.rfind('/');
  const size_t NameStart = Slash == std::string::npos ? 0 : Slash + 1;
  const size_t Dot = APath.rfind('.');
  if (Dot == std::string::npos || Dot <= NameStart)
    return std::string::npos;
  return Dot;
}

bool SomethingExists(const std::filesystem::path &APath) {
  std::error_code Ec;
  // symlink_status: a dangling link counts, since writing through it would create its target.
  return std::filesystem::exists(std::filesystem::symlink_status(APath, Ec));
}

bool SameFile(const std::filesystem::path &A, const std::filesystem::path &B) {
  std::error_code Ec;
  return std::filesystem::equivalent(A, B, Ec);
}

} // namespace

std::string ReplaceFileExt(const std::string &APath, const std::string &AExt) {
  const size_t Slash = APath.rfind('/');
  std::string Name = Slash == std::string::npos ? APath : APath.substr(Slash + 1);
  const size_t Dot = ExtDot(Name);
  if (Dot != std::string::npos)
    Name.erase(Dot);
  return Name + AExt;
}

std::string AvoidCollision(const std::string &APath, bool AOverwrite, const std::string &AInputFile,
                           const TNameReserved &AReserved) {
  const auto Taken = [&](const std::string &ACandidate) {
    if (AReserved && AReserved(ACandidate))
      return true;
    if (!SomethingExists(ACandidate))
      return false;
    // Writing over the input would destroy it while it is being read.
    return !AOverwrite || (!AInputFile.empty() && SameFile(ACandidate, AInputFile));
  };
  if (!Taken(APath))
    return APath;
  const size_t Dot = ExtDot(APath);
  const std::string Rest = Dot == std::string::npos ? APath : APath.substr(0, Dot);
  const std::string Ext = Dot == std::string::npos ? std::string() : APath.substr(Dot);
  for (int N = 1;; ++N) {
    std::string Candidate = Rest + "_" + std::to_string(N) + Ext;
    if (!Taken(Candidate))
      return Candidate;
  }
}

void ApplyProfile(TWorkingParameters &AParams, const TProfile &AProfile,
                  const std::string &AOutputFolder, bool AOverwrite,
                  const TNameReserved &AReserved) {
  ApplyProfileParameters(AParams, AProfile);
  const std::string Name = JoinOutputPath(
      AOutputFolder, ReplaceFileExt(AParams.Video_AddFileName, ProfileOutputExt(AProfile)));
  AParams.Video_OutPutFileName =
      AvoidCollision(Name, AOverwrite, AParams.Video_AddFileName, AReserved);
}
