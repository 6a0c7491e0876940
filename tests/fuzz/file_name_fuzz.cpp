// File names of any bytes survive the trip to the libraries' form and back.
#include "unicode_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize) {
  const std::string name(reinterpret_cast<const char *>(AData), ASize);
  const std::string url = FileNameToURL(name);
  if (IsUnicodeURL(url) != IsUnicodeName(name) && !IsUnicodeURL(name))
    std::abort();
  if (IsUnicodeName(name) && URLToFileName(url) != name)
    std::abort();
  return 0;
}
