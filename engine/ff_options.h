// The transcoder's library option templates: every option that the transcoder does not handle
// itself is checked against the libraries' option classes and kept here until streams and files
// are created from it.
#pragma once

#include "ff_ptr.h"
#include "option_translation.h"

#include <array>
#include <string>
#include <vector>

// Templates are kept per media type: video, audio, data, subtitle, attachment.
constexpr int OptionMediaTypes = 5;

// The names that decide which encoder (or decoder), muxer (or demuxer) checks a private option.
struct TOptionOwners {
  std::string VideoCodec;
  std::string AudioCodec;
  std::string SubtitleCodec;
  std::string Format;
};

enum class TOptionResult { orSet, orNotFound, orInvalid };

class TFFOptions {
public:
  // The scaler template is made for 16x16 pictures of pixel format 0 with ASwsFlags.
  explicit TFFOptions(unsigned ASwsFlags);
  TFFOptions(const TFFOptions &) = delete;
  TFFOptions &operator=(const TFFOptions &) = delete;

  // Sets one option on the first place that knows the name: the generic codec options (on
  // every media type's template whose flags the option carries), an encoder's or decoder's
  // private options, the generic format options, a muxer's or demuxer's private options, the
  // scaler options, and last, for a name starting with "a", "v" or "s", the rest of the name
  // on that media type's generic template. On success the name of the option set is appended
  // to opt_names and returned in ASetName.
  TOptionResult Set(const std::string &AName, const std::string &AValue,
                    const TOptionOwners &AOwners, std::string &ASetName);

  // Names of the options set, in order (repeats included).
  std::vector<std::string> opt_names;
  int opt_name_count() const { return static_cast<int>(opt_names.size()); }

  // Generic templates: codec contexts without codec, one per media type; a format context
  // without format; a scaler context.
  std::array<CodecContextPtr, OptionMediaTypes> avcodec_opts;
  OutputFormatContextPtr avformat_opts;
  SwsContextPtr sws_opts;
  // Private options, already checked against the codec or muxer that has them. They only take
  // effect through the options dictionary given to avcodec_open2, avformat_write_header or
  // avformat_open_input; what the library leaves in that dictionary was for another codec or
  // format.
  std::array<TDictionary, OptionMediaTypes> codec_private_opts;
  TDictionary format_private_opts;

  TLegacyOptionState LegacyState;

  // Copies the generic codec options that were set and carry all of AFlags (for example
  // AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM) from the template of AType to ACtx.
  // Flag options copy only the bits the options changed, so a codec's own default bits stay.
  // Returns 0 or a library error code.
  int ApplyCodecOptions(AVCodecContext *ACtx, AVMediaType AType, int AFlags) const;
  TDictionary CodecPrivateOptions(AVMediaType AType) const;
  // The same for the generic format options (AV_OPT_FLAG_ENCODING_PARAM or _DECODING_PARAM).
  int ApplyFormatOptions(AVFormatContext *ACtx, int AFlags) const;
  TDictionary FormatPrivateOptions() const { return format_private_opts.Copy(); }
  // The scaler flags of the template.
  unsigned SwsFlags() const;

private:
  TOptionResult SetCodecPrivate(const std::string &AName, const std::string &AValue,
                                const TOptionOwners &AOwners, std::string &ASetName);
  TOptionResult SetFormatPrivate(const std::string &AName, const std::string &AValue,
                                 const TOptionOwners &AOwners, std::string &ASetName);
};

// Index of a media type in the templates; -1 for none.
int OptionMediaIndex(AVMediaType AType);
