// The process logger: library log output and engine messages, filtered by level and handed to
// the owner's OnLog handler.
#pragma once

#include "ff_base_component.h"

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

enum TLogLevel : int { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// Library numeric level -> TLogLevel: L/8 + 1 (toward zero), limited to llQuiet..llDebug.
TLogLevel LogLevelFromLibrary(int ALevel);
// TLogLevel -> library numeric level: (n - 1) * 8.
int LibraryLevelFromLogLevel(TLogLevel ALevel);

// The library log level of the process; library output above it is dropped. Initially 32.
int LibraryLogLevel();

struct TLogInfo {
  const void *Sender = nullptr;
  uint32_t ThreadID = 0;
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;
};

using TLogEvent = std::function<void(const void *Sender, uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string &ALogMsg)>;

// The unfinished library output line of each thread.
class TLogList {
public:
  void Clear();
  // Appends AText to the thread's unfinished text and returns the completed lines, leaving
  // what follows the last line feed unfinished.
  std::vector<std::string> Append(uint32_t AThreadID, const std::string &AText);
  // True when the thread has unfinished text.
  bool HasText(uint32_t AThreadID);
  std::string ForThread(uint32_t AThreadID);

private:
  std::mutex FLock; // protects FItems
  std::unordered_map<uint32_t, std::string> FItems;
};

class TFFLogger : public TFFBaseComponent {
public:
  // Only one logger may exist; a second raises "Allow creating only one instance of TFFLogger.".
  explicit TFFLogger(void *AOwner = nullptr);
  ~TFFLogger() override;

  // Installs the library log callback and applies the level.
  void InstallAVLogCallback();

  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel AValue);
  // "quiet" ... "debug" in any case, or a decimal library level; other text raises
  // EConvertError.
  void OptLogLevel(const std::string &AValue);

  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool AValue);

  void SetOnLog(TLogEvent AHandler);
  bool HasOnLog() const;

  void Log(const void *Sender, TLogLevel ALogLevel, const std::string &ALogMsg);
  void LogFmt(const void *Sender, TLogLevel ALogLevel, const char *AFormat, ...)
      __attribute__((format(printf, 4, 5)));

  // One complete library line from a thread (used by the library callback).
  void DeliverLibraryLine(uint32_t AThreadID, int ALibraryLevel, const std::string &ALine);

private:
  void Deliver(const TLogInfo &AInfo);

  mutable std::mutex FLock; // protects FLogLevel, FTriggerEventInMainThread, FOnLog
  TLogLevel FLogLevel = llInfo;
  bool FTriggerEventInMainThread = true;
  TLogEvent FOnLog;
};

// The process logger, created without owner when there is none.
TFFLogger *GetLogger();

// The callback installed into the libraries.
void LibraryLogCallback(void *AContext, int ALevel, const char *AFormat, va_list AArgs);

// The process list of unfinished library lines.
TLogList &ProcessLogList();
