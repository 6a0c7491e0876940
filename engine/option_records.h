// Per-file option records: how the owner describes one input or output file of a task, their
// text forms, and how a record becomes settings of the task's transcoder before the file is
// opened.
#pragma once

#include "option_text.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

class TCustomFFmpeg;

enum TOptionTargetType { ttIgnore, ttVCD, ttSVCD, ttDVD };
enum TOptionNormType { ntAuto, ntPAL, ntNTSC };
// Only ntPAL or ntNTSC.
using TOptionNormDefault = TOptionNormType;

// Container metadata of an output.
struct TStreamInfo {
  double TimeStamp = -1.0; // days since 1899-12-30, local time; 0 = now; negative = none
  int Year = -1;
  int Track = -1;
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TInputOptions {
  std::string FileName; // filled with the operation's file name when empty
  std::string FileFormat;
  int64_t TimeStart = AV_NOPTS_VALUE; // microseconds
  int ProgramID = -1;                 // applied when 0 or more
  std::string ExtOptions;             // option text
  int Tag = 0;                        // the owner's
  void *Data = nullptr;               // the owner's
};

// Numbers below 0 (and empty texts) are not applied; see ApplyOutputRecord.
struct TOutputOptions {
  std::string FileName;
  std::string FileExt; // the owner's
  std::string FileFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxDelay = -1.0f;   // seconds
  float MuxPreload = -1.0f; // seconds
  std::string AudioCodec;
  std::string AudioPreset;
  bool DisableAudio = false;
  int AudioVolume = -1;
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1; // bits per second
  int AudioBitRateTolerance = -1;
  std::string AudioLanguage;
  int AudioSyncMethod = 0;
  std::string AudioTag;
  std::string VideoCodec;
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string FrameAspectRatio;
  int CropTop = -1;
  int CropBottom = -1;
  int CropLeft = -1;
  int CropRight = -1;
  int GroupPictureSize = -1;
  int VideoBitrate = -1; // bits per second
  int VideoMaxRate = -1;
  int VideoMinRate = -1;
  int VideoBitRateTolerance = -1;
  int VideoBufSize = -1;
  int VideoSyncMethod = -1;
  std::string VideoTag;
  std::string VideoFilters;
  std::string VideoLanguage;
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool InputSync = false;
  bool CopyTimestamp = false;
  int64_t TimeStart = AV_NOPTS_VALUE;  // microseconds
  int64_t TimeLength = AV_NOPTS_VALUE; // microseconds
  TStreamInfo Info;
  TOptionTargetType TargetType = ttIgnore;
  TOptionNormType NormType = ntAuto;
  TOptionNormDefault NormDefault = ntPAL;
  bool CustomHook = false;
  bool Join = false;
  std::string ExtOptions; // option text
  int Tag = 0;            // the owner's
  void *Data = nullptr;   // the owner's
};

void InitInputOptions(TInputOptions &AOptions);
void InitOutputOptions(TOutputOptions &AOptions);

// Text forms. Input: a "TimeStart" line (any case) gives TimeStart; every other line goes to
// ExtOptions. Output: also "Hook"/"CustomHook" and "Join" lines set their flags whatever the
// value, and "TimeLength" is read like "TimeStart".
TInputOptions InputOptionsFromText(const std::string &AText);
TOutputOptions OutputOptionsFromText(const std::string &AText);

// Name=value lines whose names compare without regard to case (an empty value removes the
// name, an absent name reads empty), plus the pending stream lines of an output's option text.
class TDefaultsList {
public:
  std::string Value(const std::string &AName) const;
  void SetValue(const std::string &AName, const std::string &AValue);
  // Appends one pending line.
  void AddPending(const std::string &AName, const std::string &AValue);
  // Removes the first line named exactly AName and returns its value in AValue.
  bool TakeLine(const std::string &AName, std::string &AValue);
  const std::vector<TOptionLine> &Lines() const { return FLines; }

private:
  std::vector<TOptionLine> FLines;
};

// Applies the plain lines of an option text: never the new-stream, preset and filter lines;
// codec and size lines only on the input side.
void ApplyExtOptions(TCustomFFmpeg &ATask, const std::string &AText, bool AInputSide);

// Applies an input record before the input AFileName is opened.
void ApplyInputOptions(TCustomFFmpeg &ATask, TInputOptions &AOptions, const std::string &AFileName);

// The record's codecs, presets, size and filters as "def_" entries, then the stream lines of its
// option text as pending lines (a first line also fills an empty "def_" entry).
void CollectStreamDefaults(const TOutputOptions &AOptions, TDefaultsList &ADefaults);
// The record's fields in table order.
void ApplyOutputRecord(TCustomFFmpeg &ATask, const TOutputOptions &AOptions);
// Applies an output record before the output AFileName is opened. ADefaults starts empty and is
// kept for ApplyNewStreams.
void PrepareOutput(TCustomFFmpeg &ATask, TOutputOptions &AOptions, TDefaultsList &ADefaults,
                   const std::string &AFileName);
// ParseOption with the first pending line named AName (removing it), else with "def_" + AName.
void TakePending(TCustomFFmpeg &ATask, TDefaultsList &ADefaults, const std::string &AName);
// After the output was opened: one extra stream per new-stream line of the text, each taking
// its pending codec, preset, size and filters.
void ApplyNewStreams(TCustomFFmpeg &ATask, const std::string &AExtOptions,
                     TDefaultsList &ADefaults);

// Seconds since 1970-01-01 UTC of a local date-time in days since 1899-12-30 (0 = now), rounded
// to the nearest second, halves to even. False for a value that is no date.
bool RecordingTimestampOf(double ADateTime, int64_t &ASeconds);
