#include "ff_utils.h"

#include "ff_error.h"

#include <climits>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/syscall.h>

extern "C" {
#include <libavutil/avutil.h>
}

std::string DurationText(int64_t ATime_us) {
  if (ATime_us == AV_NOPTS_VALUE)
    return "N/A";
  // Negative times only come from broken files; show their magnitude with a sign.
  const char *sign = ATime_us < 0 ? "-" : "";
  uint64_t t = ATime_us < 0 ? 0 - static_cast<uint64_t>(ATime_us) : static_cast<uint64_t>(ATime_us);
  const uint64_t hours = t / 3600000000ULL;
  const uint64_t minutes = t / 60000000ULL % 60;
  const uint64_t seconds = t / 1000000ULL % 60;
  const uint64_t ms = t % 1000000ULL * 1000 / 1000000ULL;
  return Format("%s%.2llu:%.2llu:%.2llu.%.3llu", sign, static_cast<unsigned long long>(hours),
                static_cast<unsigned long long>(minutes), static_cast<unsigned long long>(seconds),
                static_cast<unsigned long long>(ms));
}

std::string ApplicationFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0)
    return "./";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

uint32_t CurrentThreadID() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

void RaiseOpenFileLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}
