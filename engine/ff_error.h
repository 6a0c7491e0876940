// Error texts and the exception types shared by the engine, the prober and the player.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Raised by the transcoder for option and set-up errors; the task layer keeps its message.
class FFmpegException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Raised when a text that must be a number is not one.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "name: text" for a library error code, with the fixed texts for the common conditions.
std::string FormatLibraryError(const std::string &AName, int ACode);
// The fixed text alone.
std::string LibraryErrorText(int ACode);

// "Video", "Audio", "Data", "Subtitle", "Attachment" or "Unknown".
std::string StreamTypeName(int AType);

// Strict number conversions: the whole text (surrounding blanks allowed) must be the number.
// They raise EConvertError naming the text otherwise.
int StrToInt(const std::string &S);
int64_t StrToInt64(const std::string &S);
double StrToFloat(const std::string &S);
// As above but returning ADefault for text that is not a number.
int StrToIntDef(const std::string &S, int ADefault);

// printf into a std::string.
std::string Format(const char *AFormat, ...) __attribute__((format(printf, 1, 2)));
