// The prober with access to a file's video pictures: seeking by time or byte position, decoding
// forwards, stepping back to the previous picture or key frame, and copying the picture into a
// bitmap. Frame access works only on files the prober opened itself (LoadFile).
#pragma once

#include "custom_av_probe.h"
#include "ff_picture.h"
#include "ff_ptr.h"
#include "rgb_convert_context.h"

#include <QImage>
#include <cstdint>
#include <initializer_list>
#include <vector>

// The library's picture types 0 to 7.
enum TPictureType : int { ptUnknown, ptI, ptP, ptB, ptS, ptSI, ptSP, ptBI };

// The last decoded picture. Picture points into Buffer; a copy points into its own Buffer.
struct TFrameInfo {
  TFrameInfo() = default;
  TFrameInfo(const TFrameInfo &AOther);
  TFrameInfo &operator=(const TFrameInfo &AOther);

  int PixFmt = -1; // AVPixelFormat
  int Width = -1;
  int Height = -1;
  bool IsKeyFrame = false;
  TPictureType PictureType = ptUnknown;
  int64_t PTS = AV_NOPTS_VALUE;         // microseconds from the stream start
  int64_t OriginalDTS = AV_NOPTS_VALUE; // stream time base
  int64_t OriginalPTS = AV_NOPTS_VALUE; // stream time base
  int StreamIndex = -1;
  int64_t Position = -1; // byte position before the reading that produced the picture
  bool Ready = false;
  TPicture Picture;
  std::vector<uint8_t> Buffer; // grows, never shrinks
  int Size = 0;                // bytes of Buffer that Picture covers
};

enum TSeekFlag : int { sfBackward, sfByte, sfAny, sfFrame };

// A set of seek flags; Bits() gives the library's flag word (1, 2, 4, 8).
class TSeekFlags {
public:
  constexpr TSeekFlags() = default;
  constexpr TSeekFlags(std::initializer_list<TSeekFlag> AFlags) {
    for (TSeekFlag f : AFlags)
      FBits |= 1 << f;
  }
  constexpr bool Contains(TSeekFlag AFlag) const { return (FBits >> AFlag) & 1; }
  constexpr TSeekFlags With(TSeekFlag AFlag) const { return FromBits(FBits | (1 << AFlag)); }
  constexpr TSeekFlags Without(TSeekFlag AFlag) const { return FromBits(FBits & ~(1 << AFlag)); }
  constexpr int Bits() const { return FBits; }

private:
  static constexpr TSeekFlags FromBits(int ABits) {
    TSeekFlags f;
    f.FBits = ABits;
    return f;
  }
  int FBits = 0;
};

class TAVProbe : public TCustomAVProbe {
public:
  explicit TAVProbe(void *AOwner = nullptr);
  ~TAVProbe() override;

  void CloseFile() override;
  void RefreshInfo() override;

  // Moves the read position to APTS (microseconds from the stream start, or bytes with sfByte).
  // A negative APTS goes to the start.
  bool Seek(int64_t APTS, TSeekFlags ASeekFlags = {});
  // Decodes the next picture of the stream (-1: the current decode stream, else the first
  // video stream). A still image decodes once; later calls return the same picture.
  bool Decode(int AStreamIndex = -1);
  bool DecodeNextKeyFrame(int AStreamIndex = -1);
  bool DecodePreviousFrame(int AStreamIndex = -1);
  // Without a picture, finds the last key frame of the file.
  bool DecodePreviousKeyFrame(int AStreamIndex = -1);
  // Copies the current picture into ABitmap as 24-bit RGB. False before any decode; on a
  // failed conversion ABitmap becomes a black picture of the picture's size.
  bool CopyToBitmap(QImage &ABitmap);

  const TFrameInfo &FrameInfo() const { return FPicture; }
  // The end of the file was reached; cleared by the next seek.
  bool Eof() const { return FEOF; }
  // The current byte position of the read buffer; -1 without a file or byte stream.
  int64_t Position();

private:
  bool CheckSeekable();
  bool CanSeek();
  bool SelectDecodeStream(int AStreamIndex);
  bool OpenDecoder(int AStreamIndex);
  void CloseDecoder();
  int64_t FrameDuration(int AStreamIndex);
  void ResetPicture();
  bool StorePicture(const AVFrame *AFrame, int64_t APosition);
  bool IsStillImage() const;
  // The byte position of the read buffer, or -1; reports nothing.
  int64_t IOPosition() const;

  CodecContextPtr FCodec;
  int FCodecIndex = -1; // the stream FCodec was opened for
  TRGBConvertContext FRGBContext;
  int FSeekIndex = -1;
  int64_t FStartTime = -1;
  int FDecodeIndex = -1;
  bool FEOF = false;
  bool FDraining = false; // the decoder was sent the end of input
  TFrameInfo FPicture;
  int64_t FLastPTS = AV_NOPTS_VALUE;
  int64_t FLastPos = -1;
  FramePtr FFrame;
  PacketPtr FPacket;
  int64_t FLastPacketPTS = AV_NOPTS_VALUE; // of the last packet sent to the decoder
  int64_t FLastPacketDTS = AV_NOPTS_VALUE;
  int FLastPacketFlags = 0;
};
