#include "ff_logger.h"

#include "ff_error.h"
#include "ff_utils.h"
#include "sync_call.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <memory>

extern "C" {
#include <libavutil/log.h>
}

namespace {

std::atomic<int> GLibraryLogLevel{AV_LOG_INFO};

// protects GLogger and GOwnedLogger; recursive because GetLogger constructs under it
std::recursive_mutex GLoggerLock;
TFFLogger *GLogger = nullptr;
std::unique_ptr<TFFLogger> GOwnedLogger; // the logger GetLogger created, if any

} // namespace

TLogLevel LogLevelFromLibrary(int ALevel) {
  int n = ALevel / 8 + 1;
  return static_cast<TLogLevel>(
      std::clamp(n, static_cast<int>(llQuiet), static_cast<int>(llDebug)));
}

int LibraryLevelFromLogLevel(TLogLevel ALevel) {
  return (static_cast<int>(ALevel) - 1) * 8;
}

int LibraryLogLevel() {
  return GLibraryLogLevel.load();
}

TLogList &ProcessLogList() {
  static TLogList list;
  return list;
}

void TLogList::Clear() {
  std::lock_guard<std::mutex> lock(FLock);
  FItems.clear();
}

std::vector<std::string> TLogList::Append(uint32_t AThreadID, const std::string &AText) {
  std::vector<std::string> lines;
  std::lock_guard<std::mutex> lock(FLock);
  std::string &text = FItems[AThreadID];
  text += AText;
  size_t start = 0, lf;
  while ((lf = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  text.erase(0, start);
  if (text.empty())
    FItems.erase(AThreadID);
  return lines;
}

bool TLogList::HasText(uint32_t AThreadID) {
  std::lock_guard<std::mutex> lock(FLock);
  auto it = FItems.find(AThreadID);
  return it != FItems.end() && !it->second.empty();
}

std::string TLogList::ForThread(uint32_t AThreadID) {
  std::lock_guard<std::mutex> lock(FLock);
  auto it = FItems.find(AThreadID);
  return it == FItems.end() ? std::string() : it->second;
}

TFFLogger::TFFLogger(void *AOwner) : TFFBaseComponent(AOwner) {
  std::lock_guard<std::recursive_mutex> lock(GLoggerLock);
  if (GLogger != nullptr)
    throw std::runtime_error("Allow creating only one instance of TFFLogger.");
  FLogLevel = LogLevelFromLibrary(GLibraryLogLevel.load());
  GLogger = this;
}

TFFLogger::~TFFLogger() {
  std::lock_guard<std::recursive_mutex> lock(GLoggerLock);
  if (GLogger == this)
    GLogger = nullptr;
}

TFFLogger *GetLogger() {
  std::lock_guard<std::recursive_mutex> lock(GLoggerLock);
  if (GLogger == nullptr)
    GOwnedLogger = std::make_unique<TFFLogger>();
  return GLogger;
}

void TFFLogger::InstallAVLogCallback() {
  av_log_set_callback(LibraryLogCallback);
  av_log_set_level(LibraryLevelFromLogLevel(LogLevel()));
  GLibraryLogLevel = LibraryLevelFromLogLevel(LogLevel());
}

TLogLevel TFFLogger::LogLevel() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FLogLevel;
}

void TFFLogger::SetLogLevel(TLogLevel AValue) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FLogLevel == AValue)
      return;
    FLogLevel = AValue;
  }
  GLibraryLogLevel = LibraryLevelFromLogLevel(AValue);
  av_log_set_level(GLibraryLogLevel.load());
}

void TFFLogger::OptLogLevel(const std::string &AValue) {
  static const struct {
    const char *Name;
    int Level;
  } words[] = {{"quiet", -8},   {"panic", 0}, {"fatal", 8},    {"error", 16},
               {"warning", 24}, {"info", 32}, {"verbose", 40}, {"debug", 48}};
  std::string lower = AValue;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const auto &w : words)
    if (lower == w.Name) {
      SetLogLevel(LogLevelFromLibrary(w.Level));
      return;
    }
  SetLogLevel(LogLevelFromLibrary(StrToInt(AValue)));
}

bool TFFLogger::TriggerEventInMainThread() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FTriggerEventInMainThread;
}

void TFFLogger::SetTriggerEventInMainThread(bool AValue) {
  std::lock_guard<std::mutex> lock(FLock);
  FTriggerEventInMainThread = AValue;
}

void TFFLogger::SetOnLog(TLogEvent AHandler) {
  std::lock_guard<std::mutex> lock(FLock);
  FOnLog = std::move(AHandler);
}

bool TFFLogger::HasOnLog() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<bool>(FOnLog);
}

// Each line travels in its own record, so lines logged at once by several threads never share
// one; no lock is held while the handler runs, so the main thread may log from inside it.
void TFFLogger::Deliver(const TLogInfo &AInfo) {
  TLogEvent handler;
  bool mainThread;
  {
    std::lock_guard<std::mutex> lock(FLock);
    handler = FOnLog;
    mainThread = FTriggerEventInMainThread;
  }
  if (!handler)
    return;
  auto call = [&] { handler(AInfo.Sender, AInfo.ThreadID, AInfo.LogLevel, AInfo.LogMsg); };
  if (mainThread)
    SyncCall(call);
  else
    call();
}

void TFFLogger::Log(const void *Sender, TLogLevel ALogLevel, const std::string &ALogMsg) {
  const TLogLevel level = LogLevel();
  if (!(ALogLevel <= level || (ALogLevel == llVerbose && level != llQuiet)))
    return;
  Deliver(TLogInfo{Sender, CurrentThreadID(), ALogLevel, ALogMsg});
}

void TFFLogger::LogFmt(const void *Sender, TLogLevel ALogLevel, const char *AFormat, ...) {
  va_list ap;
  va_start(ap, AFormat);
  char small[512];
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof(small), AFormat, ap);
  std::string msg;
  if (n >= 0 && static_cast<size_t>(n) < sizeof(small)) {
    msg.assign(small, static_cast<size_t>(n));
  } else if (n > 0) {
    msg.resize(static_cast<size_t>(n));
    std::vsnprintf(msg.data(), msg.size() + 1, AFormat, ap2);
  }
  va_end(ap2);
  va_end(ap);
  Log(Sender, ALogLevel, msg);
}

void TFFLogger::DeliverLibraryLine(uint32_t AThreadID, int ALibraryLevel,
                                   const std::string &ALine) {
  Deliver(TLogInfo{this, AThreadID, LogLevelFromLibrary(ALibraryLevel), ALine});
}

void LibraryLogCallback(void *AContext, int ALevel, const char *AFormat, va_list AArgs) {
  if (ALevel > GLibraryLogLevel.load())
    return;
  const uint32_t tid = CurrentThreadID();
  TLogList &list = ProcessLogList();

  std::string text;
  if (AContext != nullptr && !list.HasText(tid)) {
    const AVClass *cls = *static_cast<AVClass **>(AContext);
    const char *name = "NULL";
    if (cls != nullptr)
      name = cls->item_name ? cls->item_name(AContext) : cls->class_name;
    char prefix[256];
    std::snprintf(prefix, sizeof(prefix), "[%s @ %p]", name ? name : "NULL", AContext);
    text = prefix;
  }
  // The whole message is kept, however long: it is measured first, then formatted.
  char small[2048];
  va_list args2;
  va_copy(args2, AArgs);
  int n = std::vsnprintf(small, sizeof(small), AFormat, AArgs);
  if (n >= 0 && static_cast<size_t>(n) < sizeof(small)) {
    text.append(small, static_cast<size_t>(n));
  } else if (n > 0) {
    std::string big(static_cast<size_t>(n), '\0');
    std::vsnprintf(big.data(), big.size() + 1, AFormat, args2);
    text += big;
  }
  va_end(args2);

  std::vector<std::string> lines = list.Append(tid, text);
  if (lines.empty())
    return;
  TFFLogger *logger;
  {
    std::lock_guard<std::recursive_mutex> lock(GLoggerLock);
    logger = GLogger;
  }
  if (logger == nullptr)
    return;
  for (const std::string &line : lines)
    logger->DeliverLibraryLine(tid, ALevel, line);
}
