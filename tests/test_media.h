// Where the generated sample media lie, and small helpers the tests share.
#pragma once

#include <string>

inline std::string MediaPath(const std::string &AName) {
  return std::string(LC_TEST_MEDIA_DIR) + "/" + AName;
}
