// The media prober: opens a file (or takes an input context opened elsewhere) and answers
// questions about its container and streams, and renders them as an information text.
#pragma once

#include "ff_base_component.h"
#include "ff_ptr.h"

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

// Raised when a library the prober needs is not loaded, and by frame access on a context that
// was handed in.
class EAVProbeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Container facts. Without a file every number is -1.
struct TFileStreamInfo {
  int64_t StartTime = -1; // microseconds; -1 when unknown
  int64_t Duration = -1;  // microseconds; -1 when unknown
  int64_t BitRate = -1;   // bits per second; 0 when unknown
  int64_t TimeStamp = -1; // seconds since 1970 UTC ("creation_time"); 0 when absent
  int Year = -1;          // from "year" or the year of "date"; 0 when absent
  int Track = -1;         // from "track"; 0 when absent
  std::string Title, Author, Copyright, Comment, Album, Genre;
};

// One audio stream. Raw times are in the stream's time base (AV_NOPTS_VALUE when unknown),
// scaled ones in microseconds (-1 when unknown).
struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeScaled = -1;
  int64_t Duration = -1;
  int64_t DurationScaled = -1;
  int64_t BitRate = -1;
  int Channels = -1;
  int SampleRate = -1;
  int SampleFormat = -1; // AVSampleFormat
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeScaled = -1;
  int64_t Duration = -1;
  int64_t DurationScaled = -1;
  int64_t BitRate = -1;
  int Height = -1;
  int Width = -1;
  float AspectRatio = -1.0f; // display aspect ratio; 0 when the sample aspect ratio is unknown
  int PixFmt = -1;           // AVPixelFormat
  AVRational FrameRate{-1, -1};
};

struct TSubtitleStreamInfo {
  std::string Language;
  std::string CodecName;
};

class TCustomAVProbe : public TFFBaseComponent {
public:
  explicit TCustomAVProbe(void *AOwner = nullptr);
  ~TCustomAVProbe() override;

  // The loader's state for the prober's libraries (codec, format, util, scale, C library).
  bool AVLibLoaded() const;
  // Sets the loader's library folder and loads the prober's set; false with the loader's
  // message in LastErrMsg.
  bool LoadAVLib(const std::string &APath);
  void UnloadAVLib();
  // Raises EAVProbeError "LibAVCodec not loaded." (or LibAVFormat, LibAVUtil, LibSwScale).
  void CheckLibraries() const;

  // Opens AFileName (AFormatName empty: detect the format). False with the reason in
  // LastErrMsg, leaving the prober empty. Raises when the libraries are not loaded.
  bool LoadFile(const std::string &AFileName, const std::string &AFormatName = "");
  // Takes an input context opened elsewhere, without ownership: the prober never closes it.
  virtual void BindFileHandle(AVFormatContext *AContext);
  // Closes an owned context, forgets a borrowed one.
  virtual void CloseFile();
  // Recomputes the size, the counts and the first indexes from the context.
  virtual void RefreshInfo();

  AVFormatContext *FileHandle() const { return FFileHandle; }
  void SetFileHandle(AVFormatContext *AContext) { BindFileHandle(AContext); }
  bool OwnHandle() const { return FOwnHandle; }

  const std::string &LastErrMsg() const { return FLastErrMsg; }
  const std::string &ForceFormat() const { return FForceFormat; }
  int64_t FileSize() const { return FFileSize; }
  int StreamCount() const { return FStreamCount; }
  int ProgramCount() const { return FProgramCount; }
  int AudioStreamCount() const { return FAudioStreamCount; }
  int VideoStreamCount() const { return FVideoStreamCount; }
  int SubtitleStreamCount() const { return FSubtitleStreamCount; }
  int FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
  int FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
  int FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }

  // The getters below read the context live. Without a file they report "file not loaded." and
  // return empty text, false or a record with its starting values.
  std::string FileName();
  std::string FormatName();
  std::string FormatLongName();
  TFileStreamInfo FileStreamInfo();
  TAudioStreamInfo FirstAudioStreamInfo() { return AudioStreamInfo(-1); }
  TVideoStreamInfo FirstVideoStreamInfo() { return VideoStreamInfo(-1); }
  TSubtitleStreamInfo FirstSubtitleStreamInfo() { return SubtitleStreamInfo(-1); }
  // An index below 0 means the first stream of that kind.
  TAudioStreamInfo AudioStreamInfo(int AStreamIndex);
  TVideoStreamInfo VideoStreamInfo(int AStreamIndex);
  TSubtitleStreamInfo SubtitleStreamInfo(int AStreamIndex);
  bool IsAudioStream(int AStreamIndex);
  bool IsVideoStream(int AStreamIndex);
  bool IsSubtitleStream(int AStreamIndex);

  // The information text: CR LF separated lines, ending with CR LF.
  std::string FileInfoText();

  // The longest one library call sequence on an owned context may take (opening and probing,
  // one decode, one seek) before the libraries are told to give up.
  std::chrono::milliseconds Timeout() const { return FTimeout; }
  void SetTimeout(std::chrono::milliseconds AValue) { FTimeout = AValue; }

protected:
  // Logs AMsg at the log level matching the library level and keeps it in LastErrMsg.
  void ReportError(int ALibraryLevel, const std::string &AMsg);
  // Reports "file not loaded." when there is no context.
  bool CheckFileLoaded();
  // Starts the time allowed for the next library call sequence on an owned context.
  void StartDeadline();
  bool DeadlinePassed() const;
  // The stream, with a time base whose denominator is not 0.
  AVStream *StreamAt(int AStreamIndex);

  AVFormatContext *FFileHandle = nullptr;
  bool FOwnHandle = false;
  std::string FLastErrMsg;
  std::string FForceFormat;
  int64_t FFileSize = -1;
  int FStreamCount = -1;
  int FProgramCount = -1;
  int FAudioStreamCount = -1;
  int FVideoStreamCount = -1;
  int FSubtitleStreamCount = -1;
  int FFirstAudioStreamIndex = -1;
  int FFirstVideoStreamIndex = -1;
  int FFirstSubtitleStreamIndex = -1;

private:
  static int InterruptCallback(void *AOpaque);
  // Resolves an index for a stream getter; -1 after reporting why there is no such stream.
  int StreamIndexOfKind(int AStreamIndex, AVMediaType AType, const char *AKindName,
                        int AFirstIndex);
  bool IsStreamOfKind(int AStreamIndex, AVMediaType AType);
  std::string StreamLine(int AStreamIndex);

  InputFormatContextPtr FOwnedContext; // set while FOwnHandle
  std::chrono::milliseconds FTimeout{10000};
  std::chrono::steady_clock::time_point FDeadline;
};
