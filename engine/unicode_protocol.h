// File names handed to the media libraries. Names the libraries would not take as they stand
// (bytes that are not UTF-8, or a relative name that reads like "scheme:...") are passed as
// "unicode:utf8:" + name and opened through an I/O context of our own.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

inline constexpr const char *UnicodeURLPrefix = "unicode:utf8:";

bool IsUnicodeName(const std::string &AFileName);
std::string FileNameToURL(const std::string &AFileName);
bool IsUnicodeURL(const std::string &AURL);
std::string URLToFileName(const std::string &AURL);
// Nothing to register with today's libraries: "unicode:utf8:" names are opened by
// FFOpenInput and FFOpenOutputIO. Kept so the loader's after-load step has one place.
void RegisterUnicodeProtocol();

// avformat_open_input for a URL from FileNameToURL. *ACtx may hold a context allocated by the
// caller (for its interrupt callback) or be null. On failure *ACtx is freed and null.
int FFOpenInput(AVFormatContext **ACtx, const std::string &AURL, const AVInputFormat *AFormat,
                AVDictionary **AOptions);

// Opens AOut->pb for writing the URL, using AOut's interrupt callback.
int FFOpenOutputIO(AVFormatContext *AOut, const std::string &AURL, AVDictionary **AOptions);

// Closes an I/O context opened by either of the above.
void FFCloseIO(AVIOContext **APB);
