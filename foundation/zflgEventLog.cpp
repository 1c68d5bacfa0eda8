#include "foundation/zflgEventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/rtl/rtlDateTime.h"
#include "platform/os/osSystem.h"

namespace zf {

using zf::rtl::Format;

namespace {

std::string NativePath(const UnicodeString& aName) { return zf::rtl::u8(aName); }

// One line on the standard error stream for failures a log cannot write into itself.
void ReportLogFailure(const TzfCustomLog* aLog, const UnicodeString& aText) {
  std::fprintf(stderr, "Event log %s: %s\n", zf::rtl::u8(aLog->DisplayName()).c_str(), zf::rtl::u8(aText).c_str());
}

UnicodeString MessageOf(const std::exception& E) {
  if (const auto* e = dynamic_cast<const zf::rtl::Exception*>(&E)) return e->Message();
  return zf::rtl::u16(E.what());
}

}  // namespace

UnicodeString zfLogBiasText(int32_t aBias) {
  const int64_t magnitude = aBias < 0 ? -static_cast<int64_t>(aBias) : aBias;
  return Format(u"%s%.2d:%.2d", {aBias < 0 ? u"-" : u"+", magnitude / 60, magnitude % 60});
}

// ---------------------------------------------------------------------------------------------
// TzfLogData

TzfLogData::TzfLogData(const UnicodeString& aMsg, uint32_t aMsgNumber, TzfLogPriority aPriority,
                       const UnicodeString& aCategory, TDateTime aWhen, int32_t aWhenBias)
    : ldMsgNumber(aMsgNumber),
      ldMsg(aMsg),
      ldCategory(aCategory),
      ldPriority(aPriority),
      ldWhen(aWhen == 0 ? zf::rtl::Now() : aWhen),
      ldWhenBias(aWhenBias) {}

int32_t TzfLogData::GetWhenBias() const {
  int32_t bias = ldWhenBias.load();
  if (bias == zfLogBiasDefault) {
    bias = -zf::rtl::LocalUtcOffsetMinutes();
    ldWhenBias.store(bias);
  }
  return bias;
}

TDateTime TzfLogData::GetUTCWhen() const { return ldWhen + GetWhenBias() / 1440.0; }

// ---------------------------------------------------------------------------------------------
// Formatters

UnicodeString TzfBaseLogDataFormatter::PriorityToStr(TzfLogPriority aPriority) {
  switch (aPriority) {
    case lpDebug: return u"DEBUG";
    case lpInfo: return u"INFO ";
    case lpWarn: return u"WARN ";
    case lpError: return u"ERROR";
    case lpFatal: return u"FATAL";
  }
  return {};
}

UnicodeString TzfBaseLogDataFormatter::FormatLogData(const IzfLogData& aLogData) {
  const UnicodeString datePattern = GetDateFormatString();
  const UnicodeString local = zf::rtl::FormatDateTime(datePattern, aLogData.GetWhen());
  const UnicodeString bias = zfLogBiasText(aLogData.GetWhenBias());
  const UnicodeString utc = zf::rtl::FormatDateTime(datePattern, aLogData.GetUTCWhen());
  const uint32_t tick = zf::os::GetTickCount();
  const uint32_t thread = zf::os::GetCurrentThreadId();
  return bldfPrefix +
         Format(GetFormatString(), {local, bias, utc, tick, thread, aLogData.GetMsgNumber(),
                                    PriorityToStr(aLogData.GetPriority()), aLogData.GetCategory(), aLogData.GetMsg()}) +
         bldfSuffix;
}

UnicodeString TzfPatternedLogDataFormatter::TranslatePattern(const UnicodeString& aPattern) {
  UnicodeString out;
  out.reserve(aPattern.size() + 16);
  size_t i = 0;
  while (i < aPattern.size()) {
    const char16_t c = aPattern[i];
    if (c != u'%' || i + 1 >= aPattern.size()) {
      out += c;
      ++i;
      continue;
    }
    const char16_t code = aPattern[i + 1];
    switch (zf::rtl::AsciiUpper(code)) {
      case u'C': out += u"%7:s"; break;
      case u'D': out += u"%0:s%1:s"; break;
      case u'M': out += u"%8:s"; break;
      case u'N': out += u"[$%5:x/%5:d]"; break;
      case u'P': out += u"%6:s"; break;
      case u'T': out += u"%4:8d"; break;
      case u'U': out += u"%2:s"; break;
      default:
        out += u'%';
        out += code;
        break;
    }
    i += 2;
  }
  return out;
}

void TzfPatternedLogDataFormatter::FormatDataChanged(const UnicodeString& aFormatString,
                                                     const UnicodeString& aDateFormatString) {
  pldfTranslatedFormatString = aFormatString.empty() ? UnicodeString(zfDefaultLogFormat) : TranslatePattern(aFormatString);
  pldfDateFormatString = aDateFormatString.empty() ? UnicodeString(zfDefaultLogDateFormat) : aDateFormatString;
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TzfDirectLogDataHandler::DoLogData(const IzfLogDataRef& aLogData) { bldhLogger->DoWriteLogData(aLogData); }

TzfLogDispatchThread::TzfLogDispatchThread(std::function<void()> aOnDispatch, uint32_t aInterval,
                                           TzfThreadPriority aPriority)
    : TzfTimerThread(aInterval, aPriority, u"zfLogDispatch"), FOnDispatch(std::move(aOnDispatch)) {
  ZF_ASSERT(static_cast<bool>(FOnDispatch), "zflgEventLog");
}

TzfCachedLogDataHandler::TzfCachedLogDataHandler(TzfCustomLog* aLogger, uint32_t aInterval)
    : TzfBaseLogDataHandler(aLogger) {
  cldhCycleThread = zfCreateThread<TzfLogDispatchThread>([this] { Cycle(); }, aInterval, zftpNormal);
}

TzfCachedLogDataHandler::~TzfCachedLogDataHandler() {
  cldhCycleThread.reset();  // stops and joins the dispatch thread
  // Write out both queues here; a failing write gets two more tries before the lines are given up
  // (and reported as lost).
  for (int attempt = 0; attempt < 3; ++attempt) {
    cldhFlushOnCycle.store(true);
    Cycle();
    if (PendingCount() == 0) return;
  }
  std::lock_guard<std::mutex> g(FCycleLock);
  size_t lost = FPending.size();
  for (TzfLogDataQueue& q : cldhDataQueues) {
    q.Lock();
    while (TzfQueueItem* item = q.Dequeue()) {
      delete item;
      ++lost;
    }
    q.UnLock();
  }
  if (lost > 0)
    ReportLogFailure(bldhLogger, Format(u"%d lines could not be written before the cache was closed", {lost}));
}

void TzfCachedLogDataHandler::DoLogData(const IzfLogDataRef& aLogData) {
  // The dispatch thread switches the index under the lock of the queue it leaves; a writer that
  // read the old index finds it changed once it holds that lock and moves to the new queue, so
  // nothing is appended to a queue after it was drained.
  for (;;) {
    const int index = cldhLoggingQueue.load();
    TzfLogDataQueue& queue = cldhDataQueues[index];
    queue.Lock();
    if (cldhLoggingQueue.load() == index) {
      try {
        new TzfLogQueueItem(&queue, aLogData);
      } catch (...) {
        queue.UnLock();
        throw;
      }
      queue.UnLock();
      return;
    }
    queue.UnLock();
  }
}

bool TzfCachedLogDataHandler::WritePending() {
  while (!FPending.empty()) {
    try {
      bldhLogger->DoWriteLogData(FPending.front());
    } catch (const std::exception& E) {
      if (!FFailureReported) {
        FFailureReported = true;
        ReportLogFailure(bldhLogger, u"cannot write lines (" + MessageOf(E) + u"); they are kept and retried");
      }
      return false;
    } catch (...) {
      if (!FFailureReported) {
        FFailureReported = true;
        ReportLogFailure(bldhLogger, u"cannot write lines; they are kept and retried");
      }
      return false;
    }
    FPending.pop_front();
    FFailureReported = false;
  }
  return true;
}

void TzfCachedLogDataHandler::Cycle() {
  std::lock_guard<std::mutex> g(FCycleLock);
  auto takeFillingQueue = [this] {
    const int index = cldhLoggingQueue.load();
    TzfLogDataQueue& queue = cldhDataQueues[index];
    queue.Lock();
    cldhLoggingQueue.store(1 - index);
    while (TzfQueueItem* item = queue.Dequeue()) {
      FPending.push_back(std::move(static_cast<TzfLogQueueItem*>(item)->lqiLogData));
      delete item;
    }
    queue.UnLock();
  };
  takeFillingQueue();
  if (!WritePending()) return;
  if (cldhFlushOnCycle.exchange(false)) {
    takeFillingQueue();
    if (!WritePending()) cldhFlushOnCycle.store(true);
  }
}

size_t TzfCachedLogDataHandler::PendingCount() {
  std::lock_guard<std::mutex> g(FCycleLock);
  size_t n = FPending.size();
  for (TzfLogDataQueue& q : cldhDataQueues) {
    q.Lock();
    n += q.Count();
    q.UnLock();
  }
  return n;
}

// ---------------------------------------------------------------------------------------------
// TzfCustomLog

TzfCustomLog::TzfCustomLog(TComponent* aOwner) : TzfBaseLog(aOwner) { TzfBaseLog::SetEnabled(true); }

TzfCustomLog::~TzfCustomLog() {
  // The most derived log has shut down already; this covers a log whose class does not.
  TzfPadlockGuard g(LogLock());
  clLogDataHandler.reset();
}

void TzfCustomLog::BeforeDestruction() {
  ShutdownLog();
  TzfBaseLog::BeforeDestruction();
}

// Closing at shut-down must not raise, but a failure to close (the last lines may not have
// reached the disk) is reported, never dropped.
void TzfCustomLog::CloseStorageReporting() {
  try {
    CloseStorage();
  } catch (const zf::rtl::Exception& E) {
    ReportLogFailure(this, u"closing the storage failed (" + MessageOf(E) + u")");
  } catch (...) {
    ReportLogFailure(this, u"closing the storage failed");
  }
}

void TzfCustomLog::ShutdownLog() {
  TzfPadlockGuard g(LogLock());
  if (FShutDown) return;
  FShutDown = true;
  if (clEventDispatcher) SetEventDispatcher(nullptr);
  {
    TzfPadlockGuard s(clStorageLock);
    CloseStorageReporting();
  }
  FreeLogDataHandler();
  {
    // The last drain may have reopened the file: close it again.
    TzfPadlockGuard s(clStorageLock);
    CloseStorageReporting();
    clLogDataFormatter.reset();
  }
}

void TzfCustomLog::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  TzfBaseLog::ReceiveNotification(aSender, aKind, aData);
  if (aKind == zfcnDestroying && aSender && aSender == static_cast<TzfComponent*>(clEventDispatcher))
    clEventDispatcher = nullptr;
}

void TzfCustomLog::FreeLogDataHandler() {
  TzfPadlockGuard g(LogLock());
  std::unique_ptr<TzfBaseLogDataHandler> handler = std::move(clLogDataHandler);
  handler.reset();
}

void TzfCustomLog::SetEnabled(bool aValue) {
  TzfPadlockGuard g(LogLock());
  if (aValue == TzfBaseLog::Enabled()) return;
  FreeLogDataHandler();
  TzfBaseLog::SetEnabled(aValue);
}

// The handler lives under the log's lock (the setters replace it there), so everything that
// reaches it takes the log's lock first and the storage lock inside it: the one order of the two
// locks. The dispatch thread takes only the storage lock and never reaches the handler field.
void TzfCustomLog::Clear() {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  ClearStorage();
}

void TzfCustomLog::Flush() {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  CloseStorage();
}

void TzfCustomLog::CloseStorage() {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  if (clLogDataHandler) clLogDataHandler->Flush();
}

void TzfCustomLog::WriteString(const UnicodeString& aMsg, uint32_t aMsgNumber, TzfLogPriority aPriority,
                               const UnicodeString& aCategory, TDateTime aWhen, int32_t aWhenBias) {
  WriteStrings({aMsg}, aMsgNumber, aPriority, aCategory, aWhen, aWhenBias);
}

void TzfCustomLog::WriteStrings(const std::vector<UnicodeString>& aMsgs, uint32_t aMsgNumber,
                                TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen,
                                int32_t aWhenBias) {
  if (!Enabled()) return;
  for (const UnicodeString& msg : aMsgs)
    WriteLogData(RefPtr<TzfLogData>::Create(msg, aMsgNumber, aPriority, aCategory, aWhen, aWhenBias));
}

void TzfCustomLog::WriteLogData(const IzfLogDataRef& aLogData) {
  TzfPadlockGuard g(LogLock());
  if (FShutDown || !TzfBaseLog::Enabled() || IsFiltered(aLogData)) return;
  GetLogDataHandler()->DoLogData(aLogData);
}

void TzfCustomLog::WriteBlock(const UnicodeString& S, const void* Buf, int32_t BufLen, uint32_t aMsgNumber,
                              TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen,
                              int32_t aWhenBias) {
  if (!Enabled() || !clWriteBlockData) return;
  std::vector<UnicodeString> lines;
  WriteHexDump(S, Buf, lines, BufLen);
  WriteStrings(lines, aMsgNumber, aPriority, aCategory, aWhen, aWhenBias);
}

bool TzfCustomLog::IsFiltered(const IzfLogDataRef& aLogData) {
  bool filtered = !clPrioritiesToLog.Contains(aLogData->GetPriority());
  if (clOnLogDataFilter) clOnLogDataFilter(aLogData, filtered);
  return filtered;
}

void TzfCustomLog::WriteHexDump(const UnicodeString& S, const void* Buf, std::vector<UnicodeString>& aLines,
                                int32_t BufLen) {
  static constexpr char16_t kHex[] = u"0123456789abcdef";
  static constexpr int kHexPos[16] = {1, 4, 7, 10, 14, 17, 20, 23, 27, 30, 33, 36, 40, 43, 46, 49};
  const UnicodeString indent(13, u' ');
  aLines.push_back(Format(u"%s  (Size: %d)", {S, BufLen}));
  if (BufLen <= 0 || !Buf) {
    aLines.push_back(indent + u"buffer is nil");
    return;
  }
  int32_t len = BufLen;
  if (len > 1024) {
    aLines.push_back(indent + u"(writing first 1K of buffer only)");
    len = 1024;
  }
  const auto* bytes = static_cast<const uint8_t*>(Buf);
  for (int32_t start = 0; start < len; start += 16) {
    UnicodeString line(70, u' ');
    line[53 - 1] = u'[';
    line[70 - 1] = u']';
    for (int n = 0; n < 16 && start + n < len; ++n) {
      const uint8_t b = bytes[start + n];
      line[static_cast<size_t>(kHexPos[n] - 1)] = kHex[b >> 4];
      line[static_cast<size_t>(kHexPos[n])] = kHex[b & 15];
      line[static_cast<size_t>(54 - 1 + n)] = (b < 32 || b > 127) ? u'.' : static_cast<char16_t>(b);
    }
    aLines.push_back(indent + line);
  }
}

void TzfCustomLog::DoWriteLogData(const IzfLogDataRef& aLogData) {
  TzfPadlockGuard s(clStorageLock);
  WriteLine(GetLogDataFormatter()->FormatLogData(*aLogData));
}

TzfBaseLogDataHandler* TzfCustomLog::GetLogDataHandler() {
  TzfPadlockGuard g(LogLock());
  if (!clLogDataHandler) clLogDataHandler = CreateLogDataHandler();
  return clLogDataHandler.get();
}

std::unique_ptr<TzfBaseLogDataHandler> TzfCustomLog::CreateLogDataHandler() {
  return std::make_unique<TzfDirectLogDataHandler>(this);
}

TzfBaseLogDataFormatter* TzfCustomLog::GetLogDataFormatter() {
  TzfPadlockGuard s(clStorageLock);
  if (!clLogDataFormatter) {
    auto formatter = std::make_unique<TzfPatternedLogDataFormatter>(UnicodeString(), u"\r\n");
    formatter->FormatDataChanged(clFormatString, clDateFormatString);
    clLogDataFormatter = std::move(formatter);
  }
  return clLogDataFormatter.get();
}

UnicodeString TzfCustomLog::FormatString() const {
  TzfPadlockGuard g(LogLock());
  return clFormatString;
}

void TzfCustomLog::SetFormatString(const UnicodeString& aValue) {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  if (aValue == clFormatString) return;
  clLogDataFormatter.reset();
  clFormatString = aValue;
}

UnicodeString TzfCustomLog::DateFormatString() const {
  TzfPadlockGuard g(LogLock());
  return clDateFormatString;
}

void TzfCustomLog::SetDateFormatString(const UnicodeString& aValue) {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  if (aValue == clDateFormatString) return;
  clLogDataFormatter.reset();
  clDateFormatString = aValue;
}

TzfLogPriorities TzfCustomLog::PrioritiesToLog() const {
  TzfPadlockGuard g(LogLock());
  return clPrioritiesToLog;
}

void TzfCustomLog::SetPrioritiesToLog(TzfLogPriorities aValue) {
  TzfPadlockGuard g(LogLock());
  clPrioritiesToLog = aValue;
}

void TzfCustomLog::SetOnLogDataFilter(TzfLogDataFilterEvent aEvent) {
  TzfPadlockGuard g(LogLock());
  clOnLogDataFilter = std::move(aEvent);
}

void TzfCustomLog::SetEventDispatcher(TzfBaseEventLogDispatcher* aDispatcher) {
  TzfPadlockGuard g(LogLock());
  if (aDispatcher == clEventDispatcher) return;
  if (TzfBaseEventLogDispatcher* old = clEventDispatcher) {
    UnlinkDependent(old);
    old->RemoveLogger(this);
    clEventDispatcher = nullptr;
  }
  if (aDispatcher) {
    aDispatcher->AddLogger(this);
    LinkDependent(aDispatcher);
  }
}

// ---------------------------------------------------------------------------------------------
// TzfCachedEventLog, TzfBaseEventLogDispatcher

bool TzfCachedEventLog::CacheEnabled() const {
  TzfPadlockGuard g(LogLock());
  return celCache;
}

void TzfCachedEventLog::SetCacheEnabled(bool aValue) {
  TzfPadlockGuard g(LogLock());
  if (aValue == celCache) return;
  FreeLogDataHandler();  // a cached handler writes out all it holds before it goes
  celCache = aValue;
}

std::unique_ptr<TzfBaseLogDataHandler> TzfCachedEventLog::CreateLogDataHandler() {
  if (celCache) return std::make_unique<TzfCachedLogDataHandler>(this);
  return TzfCustomLog::CreateLogDataHandler();
}

TzfBaseEventLogDispatcher::~TzfBaseEventLogDispatcher() {
  for (TzfCustomLog* logger : Loggers()) RemoveLogger(logger);
}

void TzfBaseEventLogDispatcher::AddLogger(TzfCustomLog* aLogger) {
  if (!aLogger) return;
  {
    std::lock_guard<std::mutex> g(beldLock);
    beldLoggers.push_back(aLogger);
  }
  aLogger->clEventDispatcher = this;
}

void TzfBaseEventLogDispatcher::RemoveLogger(TzfCustomLog* aLogger) {
  bool listed = false;
  {
    std::lock_guard<std::mutex> g(beldLock);
    for (auto it = beldLoggers.begin(); it != beldLoggers.end(); ++it)
      if (*it == aLogger) {
        beldLoggers.erase(it);
        listed = true;
        break;
      }
  }
  if (listed && aLogger->clEventDispatcher == this) aLogger->clEventDispatcher = nullptr;
}

std::vector<TzfCustomLog*> TzfBaseEventLogDispatcher::Loggers() const {
  std::lock_guard<std::mutex> g(beldLock);
  return beldLoggers;
}

void TzfBaseEventLogDispatcher::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind,
                                                    const void* aData) {
  TzfCachedEventLog::ReceiveNotification(aSender, aKind, aData);
  if (aKind != zfcnDestroying || !aSender) return;
  std::lock_guard<std::mutex> g(beldLock);
  for (auto it = beldLoggers.begin(); it != beldLoggers.end(); ++it)
    if (static_cast<TzfComponent*>(*it) == aSender) {
      beldLoggers.erase(it);
      break;
    }
}

// ---------------------------------------------------------------------------------------------
// TzfStreamEventLog

TzfStreamEventLog::~TzfStreamEventLog() { CloseStream(); }

void TzfStreamEventLog::CloseStream() {
  if (selPersistStream >= 0) ::close(selPersistStream);
  selPersistStream = -1;
  selStreamSize = 0;
}

void TzfStreamEventLog::CloseStorage() {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  TzfCachedEventLog::CloseStorage();
  CloseStream();
}

void TzfStreamEventLog::WriteLine(const UnicodeString& aLine) {
  const int fd = GetStream();
  if (aLine.empty() || fd < 0) return;
  // UTF-16 code units, little-endian, no byte-order mark.
  std::string bytes(aLine.size() * 2, '\0');
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(bytes.data(), aLine.data(), bytes.size());
  } else {
    for (size_t i = 0; i < aLine.size(); ++i) {
      bytes[2 * i] = static_cast<char>(aLine[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<char>(aLine[i] >> 8);
    }
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      zf::os::SetLastError(errno);
      selStreamSize += static_cast<int64_t>(done);
      throw zf::rtl::EWriteError(u"Stream write error");
    }
    done += static_cast<size_t>(n);
  }
  selStreamSize += static_cast<int64_t>(bytes.size());
}

// ---------------------------------------------------------------------------------------------
// TzfEventLog

TzfEventLog::~TzfEventLog() {
  try {
    ShutdownLog();
  } catch (...) {
  }
}

namespace {
TzfRegisterableComponent* CreateEventLog(TComponent* aOwner) { return new TzfEventLog(aOwner); }
}  // namespace

const TzfComponentClass& TzfEventLog::ClassInfo() {
  static const TzfComponentClass info{u"TzfEventLog", &TzfBaseLog::ClassInfo(), &CreateEventLog};
  return info;
}

UnicodeString TzfEventLog::FileName() const {
  TzfPadlockGuard g(LogLock());
  return elFileName;
}

void TzfEventLog::SetFileName(const UnicodeString& aValue) {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  if (aValue == elFileName) return;
  CloseStorage();
  elFileName = aValue;
}

UnicodeString TzfEventLog::zfRotationFileName() const {
  if (selNumRotations <= 0 || elFileName.empty()) return elFileName;
  const UnicodeString ext = zf::rtl::ExtractFileExt(elFileName);
  return zf::rtl::ChangeFileExt(elFileName, Format(u"_%0:2.2d%1:s", {selCurrentRotation + 1, ext}));
}

int TzfEventLog::GetStream() {
  bool rotated = false;
  if (selNumRotations >= 1 && selPersistStream >= 0) {
    constexpr int64_t kMiB = 1024 * 1024;
    const bool over = selRotationSize < std::numeric_limits<int64_t>::max() / kMiB
                          ? selStreamSize > selRotationSize * kMiB
                          : false;
    if (over) {
      selCurrentRotation = (selCurrentRotation + 1) % selNumRotations;
      rotated = true;
      CloseStream();
    }
  }
  if (selCurrentRotation >= selNumRotations && selNumRotations > 0) selCurrentRotation = 0;
  const UnicodeString name = zfRotationFileName();
  if (selPersistStream < 0 && !name.empty()) {
    const std::string path = NativePath(name);
    struct stat st {};
    if (rotated || ::stat(path.c_str(), &st) != 0) {
      // A rotation file being reused starts empty.
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) {
        const int err = errno;
        zf::os::SetLastError(err);
        throw zf::rtl::EFCreateError(
            Format(u"Cannot create file \"%s\". %s", {name, zf::rtl::u16(zf::os::SysErrorMessage(err))}));
      }
      ::close(fd);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      zf::os::SetLastError(err);
      throw zf::rtl::EFOpenError(
          Format(u"Cannot open file \"%s\". %s", {name, zf::rtl::u16(zf::os::SysErrorMessage(err))}));
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    selPersistStream = fd;
    selStreamSize = size < 0 ? 0 : static_cast<int64_t>(size);
  }
  return selPersistStream;
}

void TzfEventLog::ClearStorage() {
  TzfPadlockGuard g(LogLock());
  TzfPadlockGuard s(clStorageLock);
  CloseStream();
  if (elFileName.empty()) return;
  if (selNumRotations == 0) {
    ::unlink(NativePath(elFileName).c_str());
    return;
  }
  for (int32_t r = selNumRotations - 1; r >= 0; --r) {
    selCurrentRotation = r;
    ::unlink(NativePath(zfRotationFileName()).c_str());
  }
}

void TzfEventLog::GetConfigSettings(TzfBaseSettings& aSettings) {
  TzfStreamEventLog::GetConfigSettings(aSettings);
  for (const char16_t* name : {u"FileName", u"MaxSize"}) {
    TzfBaseSetting& s = aSettings.AddSetting(std::make_unique<TzfBaseSetting>());
    s.fName = name;
    s.fPropertyName = name;
    s.fSettingType = name[0] == u'F' ? zfstString : zfstInteger;
  }
}

void TzfEventLog::LoadConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfStreamEventLog::LoadConfig(aConfig);
  SetFileName(zf::rtl::VarToStr(aConfig.GetValue(u"FileName", FileName())));
  SetMaxSize(aConfig.GetValue(u"MaxSize", MaxSize()).AsInteger());
}

void TzfEventLog::SaveConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfStreamEventLog::SaveConfig(aConfig);
  aConfig.SetValue(u"FileName", FileName());
  aConfig.SetValue(u"MaxSize", MaxSize());
}

void TzfEventLog::SaveSettingsToStream(TzfWriter& aWriter) {
  TzfStreamEventLog::SaveSettingsToStream(aWriter);
  aWriter.WriteInteger(int32_t{2});
  aWriter.WriteString(FileName());
}

void TzfEventLog::LoadSettingsFromStream(TzfReader& aReader) {
  TzfStreamEventLog::LoadSettingsFromStream(aReader);
  const int32_t version = aReader.ReadInteger();
  if (version != 1 && version != 2) throw EzfComponentException(this, zfErrIncompatibleStream);
  if (version == 1) aReader.ReadInteger();
  SetFileName(aReader.ReadString());
}

// ---------------------------------------------------------------------------------------------
// Unit

namespace {
void StartEventLogUnit() { TzfRegisterableComponent::RegisterComponentClass(TzfEventLog::ClassInfo()); }
void StopEventLogUnit() { TzfRegisterableComponent::UnregisterComponentClass(TzfEventLog::ClassInfo()); }
}  // namespace

zf::rtl::TUnitInit& zflgEventLogUnit() {
  static zf::rtl::TUnitInit unit("zflgEventLog", &StartEventLogUnit, &StopEventLogUnit);
  return unit;
}

}  // namespace zf
