// Finds the media libraries, checks that they are the generation the program was built for,
// and runs what registration they still need. Also owns the library lock.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

enum TLibrary : int { avCodec, avDevice, avFilter, avFormat, avUtil, swScale, myUtil, lbSDL };
constexpr int LibraryCount = lbSDL + 1;

// A set of libraries.
class TLibraries {
public:
  constexpr TLibraries() = default;
  constexpr TLibraries(std::initializer_list<TLibrary> ALibs) {
    for (TLibrary l : ALibs)
      FBits |= 1u << l;
  }
  constexpr bool Contains(TLibrary ALib) const { return (FBits >> ALib) & 1u; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TLibraries &Include(TLibrary ALib) {
    FBits |= 1u << ALib;
    return *this;
  }

private:
  uint32_t FBits = 0;
};

// The sets the components load.
inline constexpr TLibraries TaskListLibraries{avCodec, avFilter, avFormat, avUtil, swScale, myUtil};
inline constexpr TLibraries ProbeLibraries{avCodec, avFormat, avUtil, swScale, myUtil};
inline constexpr TLibraries PlayerLibraries{avCodec, avFilter, avFormat, avUtil,
                                            swScale, myUtil,   lbSDL};

struct TLibraryItem {
  TLibrary Lib;
  const char *Name;     // base name
  int Version;          // major version the program was built for; -1 = not checked
  const char *FileName; // shared-object name the library is found by
};

// The table of libraries, indexed by TLibrary.
const TLibraryItem &LibraryItem(TLibrary ALib);

struct TLibraryStatus {
  TLibrary Lib;
  std::string Name; // file name replacing the table's; empty = the table's
  void *Handle = nullptr;
  bool Fixuped = false;
};

class TFFmpegLoader {
public:
  TFFmpegLoader() = default;

  bool Load(TLibrary ALibrary);
  // Loads each member in order; on the first failure unloads every member and returns false.
  // An empty set raises std::invalid_argument.
  bool Load(TLibraries ALibraries);
  bool Loaded(TLibrary ALibrary) const;
  bool Loaded(TLibraries ALibraries) const;
  void Unload(TLibrary ALibrary);
  void Unload(TLibraries ALibraries);

  bool InstallLogger() const { return FInstallLogger; }
  void SetInstallLogger(bool AValue) { FInstallLogger = AValue; }

  std::string LastErrMsg() const;
  std::string LibraryPath() const;
  void SetLibraryPath(const std::string &APath);

  // The file name a library is loaded from: the status name when set, else the table's.
  std::string LibraryFileName(TLibrary ALibrary) const;
  // Replaces the table's file name for one library (empty restores it).
  void SetLibraryFileName(TLibrary ALibrary, const std::string &AName);

private:
  bool FInstallLogger = true;
};

// The process loader.
TFFmpegLoader &FFLoader();

// The process-wide library lock, held around every codec open and close and around stream
// probing. Recursive, since an open may happen inside a section that already holds it.
std::recursive_mutex &LibraryLock();

// Holds the library lock. On the main thread it waits in slices and serves queued calls,
// because a worker holding the lock may be waiting for the main thread to deliver a log line.
class TLibraryLockGuard {
public:
  TLibraryLockGuard();
  ~TLibraryLockGuard();
  TLibraryLockGuard(const TLibraryLockGuard &) = delete;
  TLibraryLockGuard &operator=(const TLibraryLockGuard &) = delete;
};
