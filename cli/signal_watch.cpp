#include "signal_watch.h"

#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <pthread.h>
#include <system_error>

TSignalWatch::TSignalWatch() {
  sigset_t watched;
  sigemptyset(&watched);
  sigaddset(&watched, SIGINT);
  sigaddset(&watched, SIGTERM);
  if (const int rc = pthread_sigmask(SIG_BLOCK, &watched, &FOldMask); rc != 0)
    throw std::system_error(rc, std::generic_category(), "pthread_sigmask");
  FFd = signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
  if (FFd < 0) {
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
    throw std::system_error(error, std::generic_category(), "signalfd");
  }
}

TSignalWatch::~TSignalWatch() {
  close(FFd);
  pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
}

int TSignalWatch::Received() {
  signalfd_siginfo info{};
  while (read(FFd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info)))
    if (FReceived == 0)
      FReceived = static_cast<int>(info.ssi_signo);
  return FReceived;
}

TWakeEvent::TWakeEvent() {
  FFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FFd < 0)
    throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWakeEvent::~TWakeEvent() {
  close(FFd);
}

void TWakeEvent::Set() {
  const uint64_t one = 1;
  // A full counter is still readable: the wake-up is not lost.
  [[maybe_unused]] const ssize_t n = write(FFd, &one, sizeof(one));
}

void TWakeEvent::Reset() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(FFd, &count, sizeof(count));
}
