// Readable failure output for the catalog's records.
#pragma once

#include <ostream>

#include "job_row.h"
#include "working_parameters.h"

inline void PrintTo(const TWorkingParameters &P, std::ostream *Os) {
  *Os << "{add=" << P.Video_AddFileName << " out=" << P.Video_OutPutFileName
      << " ext=" << P.Video_FileExt << " vcodec=" << P.Video_VideoCodec
      << " tag=" << P.Video_VideoTag << " size=" << P.Video_FrameSize
      << " vb=" << P.Video_VideoBitrate << " rate=" << P.Video_FrameRate
      << " aspect=" << P.Video_FrameAspectRatio << " acodec=" << P.Video_AudioCodec
      << " ch=" << P.Video_AudioChannels << " ar=" << P.Video_AudioSampleRate
      << " ab=" << P.Video_AudioBitrate << " vol=" << P.Video_AudioVolume
      << " novideo=" << P.Video_DisableVideo << " target=" << P.Video_TargetType
      << " norm=" << P.Video_NormType << " format=" << P.Video_FileFormat
      << " vf=" << P.Video_VideoFilters << " copyts=" << P.Video_CopyTimestamp
      << " ss=" << P.Video_TimeStart << " t=" << P.Video_TimeLength << "}";
}

inline void PrintTo(const TJobRow &R, std::ostream *Os) {
  *Os << "{";
  for (int I = 0; I < JobColumnCount; ++I)
    *Os << (I ? "|" : "") << R.Columns[I];
  *Os << "}";
}
