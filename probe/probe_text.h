// Texts the prober builds its information text from: sizes, rates, tag names, metadata lists,
// times and codec names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/dict.h>
}

// "1.50 GB", "1024.00 KB", "512 Byte" (binary units; -1 gives "-1 Byte").
std::string SizeText(int64_t ASize);

// ", 25 fps", ", 29.97 fps", ", 90k tbn": two decimals unless the value is whole, and thousands
// as "k" when the value is a whole multiple of 1000.
std::string RateText(double AValue, const std::string &AUnit);

// The readable name of a metadata key ("TIT2" -> "title"); other keys unchanged.
std::string TagDisplayName(const std::string &AKey);

// Appends "<indent>Metadata:" and one "<indent>  <name>: <value>" line per tag to ALines. Adds
// nothing for an absent set or one holding only "language"; "language" itself is never listed.
void MetadataListing(const AVDictionary *AMetadata, const std::string &AIndent,
                     std::vector<std::string> &ALines);

// "seconds.micro" with six digits, as "1.500000" or "-0.021333".
std::string StartTimeText(int64_t ATime_us);

// A time stamp (seconds since 1970 UTC) as "yyyy-mm-dd hh:nn:ss" in the zone's standard local
// time (daylight saving not applied).
std::string TimeStampText(int64_t ASeconds);

// The decoder's name with its long name, as "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)";
// for codecs without a decoder the codec's own name or its tag.
std::string CodecDisplayName(const AVCodecParameters *APar);

// A number with ADigits decimals, whatever the process locale says about decimal separators.
std::string FixedText(double AValue, int ADigits);
