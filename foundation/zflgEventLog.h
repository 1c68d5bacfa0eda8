// The event log: records, filters, the patterned line formatter, direct and cached handlers, and
// the logs that write UTF-16LE text files (no byte-order mark, CR LF line ends) with rotation.
//
// Locks: the log's lock (the component's dependents lock) guards the settings, the handler choice
// and the hand-over of a record; clStorageLock guards formatting and writing a line. When both are
// taken, the log's lock comes first. The cached handler's dispatch thread takes only the storage
// lock, so a setter that waits for that thread while holding the log's lock cannot deadlock.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/zfllComponent.h"
#include "foundation/zfllQueue.h"
#include "foundation/zfllThread.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

class TzfCustomLog;
class TzfBaseEventLogDispatcher;

// The default line pattern and date pattern.
inline constexpr const char16_t* zfDefaultLogFormat = u"%0:s%1:s %3:12d %4:8d [$%5:x/%5:d] %6:s %7:s %8:s";
inline constexpr const char16_t* zfDefaultLogDateFormat = u"yyyy-mm-dd hh:nn:ss.zzz";

// "+01:00", "-01:00", "+00:00"; a bias between -59 and -1 keeps its sign ("-00:30").
UnicodeString zfLogBiasText(int32_t aBias);

// One log record. A when of exactly 0 takes the current local time; the bias zfLogBiasDefault
// stands for this machine's bias, computed when first asked.
class TzfLogData : public TzfInterfacedObject, public IzfLogData {
 public:
  TzfLogData(const UnicodeString& aMsg, uint32_t aMsgNumber, TzfLogPriority aPriority, const UnicodeString& aCategory,
             TDateTime aWhen, int32_t aWhenBias);
  int32_t _AddRef() override { return TzfInterfacedObject::_AddRef(); }
  int32_t _Release() override { return TzfInterfacedObject::_Release(); }
  uint32_t GetMsgNumber() const override { return ldMsgNumber; }
  UnicodeString GetMsg() const override { return ldMsg; }
  UnicodeString GetCategory() const override { return ldCategory; }
  TzfLogPriority GetPriority() const override { return ldPriority; }
  TDateTime GetWhen() const override { return ldWhen; }
  int32_t GetWhenBias() const override;
  TDateTime GetUTCWhen() const override;

 private:
  uint32_t ldMsgNumber;
  UnicodeString ldMsg;
  UnicodeString ldCategory;
  TzfLogPriority ldPriority;
  TDateTime ldWhen;
  mutable std::atomic<int32_t> ldWhenBias;
};

// ---------------------------------------------------------------------------------------------
// Formatters

class TzfBaseLogDataFormatter : public TzfObject {
 public:
  TzfBaseLogDataFormatter(const UnicodeString& aPrefix, const UnicodeString& aSuffix)
      : bldfPrefix(aPrefix), bldfSuffix(aSuffix) {}
  ~TzfBaseLogDataFormatter() override = default;
  virtual UnicodeString GetDateFormatString() = 0;
  virtual UnicodeString GetFormatString() = 0;
  virtual void FormatDataChanged(const UnicodeString& aFormatString, const UnicodeString& aDateFormatString) {}
  // prefix + Format(pattern, the nine arguments) + suffix.
  virtual UnicodeString FormatLogData(const IzfLogData& aLogData);
  // "DEBUG", "INFO ", "WARN ", "ERROR", "FATAL".
  static UnicodeString PriorityToStr(TzfLogPriority aPriority);

 protected:
  UnicodeString bldfPrefix;
  UnicodeString bldfSuffix;
};

// Translates the short codes of a line pattern (%C %D %M %N %P %T %U) into Format specifiers.
class TzfPatternedLogDataFormatter : public TzfBaseLogDataFormatter {
 public:
  using TzfBaseLogDataFormatter::TzfBaseLogDataFormatter;
  UnicodeString GetDateFormatString() override { return pldfDateFormatString; }
  UnicodeString GetFormatString() override { return pldfTranslatedFormatString; }
  void FormatDataChanged(const UnicodeString& aFormatString, const UnicodeString& aDateFormatString) override;
  static UnicodeString TranslatePattern(const UnicodeString& aPattern);

 private:
  UnicodeString pldfTranslatedFormatString = zfDefaultLogFormat;
  UnicodeString pldfDateFormatString = zfDefaultLogDateFormat;
};

// ---------------------------------------------------------------------------------------------
// Handlers

class TzfBaseLogDataHandler : public TzfObject {
 public:
  explicit TzfBaseLogDataHandler(TzfCustomLog* aLogger) : bldhLogger(aLogger) {}
  ~TzfBaseLogDataHandler() override = default;
  virtual void DoLogData(const IzfLogDataRef& aLogData) = 0;
  virtual void Flush() {}

 protected:
  TzfCustomLog* bldhLogger;
};

// Formats and writes each record at once, on the writing thread.
class TzfDirectLogDataHandler : public TzfBaseLogDataHandler {
 public:
  using TzfBaseLogDataHandler::TzfBaseLogDataHandler;
  void DoLogData(const IzfLogDataRef& aLogData) override;
};

class TzfLogQueueItem : public TzfQueueItem {
 public:
  TzfLogQueueItem(TzfQueue* aQueue, IzfLogDataRef aLogData) : TzfQueueItem(aQueue), lqiLogData(std::move(aLogData)) {}
  IzfLogDataRef lqiLogData;
};

class TzfLogDataQueue : public TzfQueue {
 public:
  void Lock() { ldqLock.Lock(); }
  void UnLock() { ldqLock.Unlock(); }

 private:
  TzfPadlock ldqLock{true};
};

// The timer thread of a cached handler: calls its dispatch method on every tick.
class TzfLogDispatchThread : public TzfTimerThread {
 public:
  TzfLogDispatchThread(std::function<void()> aOnDispatch, uint32_t aInterval, TzfThreadPriority aPriority);
  const char* ClassName() const override { return "TzfLogDispatchThread"; }

 protected:
  void TimerTick() override { FOnDispatch(); }

 private:
  std::function<void()> FOnDispatch;
};

// Writers append to one of two queues; the dispatch thread swaps them every 1000 ms and writes
// out the one that was filling. Records that could not be written stay first in line and are
// retried on the next cycle, so a write failure neither loses nor reorders records; it is
// reported once until a write succeeds again.
class TzfCachedLogDataHandler : public TzfBaseLogDataHandler {
 public:
  static constexpr uint32_t kDispatchInterval = 1000;
  explicit TzfCachedLogDataHandler(TzfCustomLog* aLogger, uint32_t aInterval = kDispatchInterval);
  // Stops the dispatch thread and writes out everything still held, in this thread.
  ~TzfCachedLogDataHandler() override;
  void DoLogData(const IzfLogDataRef& aLogData) override;
  // Asks the next cycle to write both queues.
  void Flush() override { cldhFlushOnCycle.store(true); }
  // One dispatch: swap the queues, write out the one that was filling (and with the flush flag,
  // the other one too).
  void Cycle();
  // Records waiting to be written (queued and held back after a failure).
  size_t PendingCount();

 private:
  // Writes the held-back records; false when a write failed (they stay held).
  bool WritePending();

  std::atomic<int> cldhLoggingQueue{0};
  TzfLogDataQueue cldhDataQueues[2];
  std::atomic<bool> cldhFlushOnCycle{false};
  std::mutex FCycleLock;               // one cycle at a time
  std::deque<IzfLogDataRef> FPending;  // taken from a queue, not yet written (under FCycleLock)
  bool FFailureReported = false;
  TzfThreadPtr<TzfLogDispatchThread> cldhCycleThread;
};

// ---------------------------------------------------------------------------------------------
// Logs

using TzfLogDataFilterEvent = std::function<void(const IzfLogDataRef& aLogData, bool& aFiltered)>;

class TzfCustomLog : public TzfBaseLog {
 public:
  explicit TzfCustomLog(TComponent* aOwner = nullptr);
  ~TzfCustomLog() override;
  const char16_t* ClassName() const override { return u"TzfCustomLog"; }
  void BeforeDestruction() override;
  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;

  void SetEnabled(bool aValue) override;
  void Clear() override;
  void Flush() override;

  using TzfBaseLog::WriteString;
  void WriteBlock(const UnicodeString& S, const void* Buf, int32_t BufLen, uint32_t aMsgNumber,
                  TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen = 0,
                  int32_t aWhenBias = zfLogBiasDefault) override;
  void WriteString(const UnicodeString& aMsg, uint32_t aMsgNumber, TzfLogPriority aPriority,
                   const UnicodeString& aCategory, TDateTime aWhen = 0, int32_t aWhenBias = zfLogBiasDefault) override;
  void WriteStrings(const std::vector<UnicodeString>& aMsgs, uint32_t aMsgNumber, TzfLogPriority aPriority,
                    const UnicodeString& aCategory, TDateTime aWhen = 0, int32_t aWhenBias = zfLogBiasDefault) override;
  void WriteLogData(const IzfLogDataRef& aLogData) override;

  UnicodeString FormatString() const;
  void SetFormatString(const UnicodeString& aValue);
  UnicodeString DateFormatString() const;
  void SetDateFormatString(const UnicodeString& aValue);
  TzfLogPriorities PrioritiesToLog() const;
  void SetPrioritiesToLog(TzfLogPriorities aValue);
  void SetOnLogDataFilter(TzfLogDataFilterEvent aEvent);
  TzfBaseEventLogDispatcher* EventDispatcher() const { return clEventDispatcher; }
  void SetEventDispatcher(TzfBaseEventLogDispatcher* aDispatcher);

  // The hex dump that WriteBlock writes: a title line, then one line per 16 bytes (first 1 KiB).
  virtual void WriteHexDump(const UnicodeString& S, const void* Buf, std::vector<UnicodeString>& aLines,
                            int32_t BufLen);
  // Formats the record and writes the line, under the storage lock.
  virtual void DoWriteLogData(const IzfLogDataRef& aLogData);

 protected:
  friend class TzfBaseEventLogDispatcher;
  virtual void WriteLine(const UnicodeString& aLine) = 0;
  virtual TzfBaseLogDataHandler* GetLogDataHandler();
  virtual std::unique_ptr<TzfBaseLogDataHandler> CreateLogDataHandler();
  virtual TzfBaseLogDataFormatter* GetLogDataFormatter();
  virtual bool IsFiltered(const IzfLogDataRef& aLogData);
  // Both reach the handler or the file name: they take the log's lock, then the storage lock.
  virtual void CloseStorage();
  virtual void ClearStorage() {}
  // Frees the handler (a cached one writes out what it holds first). Under the log's lock.
  void FreeLogDataHandler();
  // Stops the handler and closes the storage; run while the whole object still stands, so the
  // last lines go through the derived class's WriteLine. Safe to call more than once.
  void ShutdownLog();
  // CloseStorage that reports a failure instead of raising (shut-down must not raise).
  void CloseStorageReporting();

  TzfPadlock clStorageLock{true};
  bool clWriteBlockData = false;

 private:
  TzfBaseEventLogDispatcher* clEventDispatcher = nullptr;
  TzfLogPriorities clPrioritiesToLog = TzfLogPriorities::All();
  TzfLogDataFilterEvent clOnLogDataFilter;
  UnicodeString clFormatString;
  UnicodeString clDateFormatString;
  std::unique_ptr<TzfBaseLogDataHandler> clLogDataHandler;
  std::unique_ptr<TzfBaseLogDataFormatter> clLogDataFormatter;
  bool FShutDown = false;
};

class TzfCachedEventLog : public TzfCustomLog {
 public:
  explicit TzfCachedEventLog(TComponent* aOwner = nullptr) : TzfCustomLog(aOwner) {}
  const char16_t* ClassName() const override { return u"TzfCachedEventLog"; }
  bool CacheEnabled() const;
  // Switching the cache off writes out every queued line before it returns.
  void SetCacheEnabled(bool aValue);

 protected:
  std::unique_ptr<TzfBaseLogDataHandler> CreateLogDataHandler() override;

 private:
  bool celCache = true;
};

// A log other logs register with; it writes nothing of its own.
class TzfBaseEventLogDispatcher : public TzfCachedEventLog {
 public:
  explicit TzfBaseEventLogDispatcher(TComponent* aOwner = nullptr) : TzfCachedEventLog(aOwner) {}
  ~TzfBaseEventLogDispatcher() override;
  const char16_t* ClassName() const override { return u"TzfBaseEventLogDispatcher"; }
  void AddLogger(TzfCustomLog* aLogger);
  void RemoveLogger(TzfCustomLog* aLogger);
  std::vector<TzfCustomLog*> Loggers() const;
  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;

 private:
  mutable std::mutex beldLock;
  std::vector<TzfCustomLog*> beldLoggers;
};

// Writes lines as UTF-16LE code units into a file stream, rotating over NumRotations files.
class TzfStreamEventLog : public TzfCachedEventLog {
 public:
  explicit TzfStreamEventLog(TComponent* aOwner = nullptr) : TzfCachedEventLog(aOwner) {}
  ~TzfStreamEventLog() override;
  const char16_t* ClassName() const override { return u"TzfStreamEventLog"; }

  int32_t NumRotations() const { return selNumRotations; }
  void SetNumRotations(int32_t aValue) { selNumRotations = aValue; }
  int64_t RotationSize() const { return selRotationSize; }  // MiB
  void SetRotationSize(int64_t aValue) { selRotationSize = aValue; }
  int32_t CurrentRotation() const { return selCurrentRotation; }
  int64_t StreamSize() const { return selStreamSize; }

 protected:
  // The open file descriptor, or -1 (nothing is written).
  virtual int GetStream() = 0;
  void WriteLine(const UnicodeString& aLine) override;
  void CloseStorage() override;
  void CloseStream();

  int selPersistStream = -1;
  int64_t selStreamSize = 0;
  int64_t selRotationSize = 32;
  int32_t selNumRotations = 0;
  int32_t selCurrentRotation = 0;
};

class TzfEventLog : public TzfStreamEventLog {
 public:
  explicit TzfEventLog(TComponent* aOwner = nullptr) : TzfStreamEventLog(aOwner) {}
  ~TzfEventLog() override;
  const char16_t* ClassName() const override { return u"TzfEventLog"; }
  static const TzfComponentClass& ClassInfo();

  UnicodeString FileName() const;
  virtual void SetFileName(const UnicodeString& aValue);
  // Kept, loaded and saved; it limits nothing.
  int32_t MaxSize() const { return REMOVEMaxSize; }
  void SetMaxSize(int32_t aValue) { REMOVEMaxSize = aValue; }
  // The file of the current rotation: FileName, or with NumRotations > 0 the name with
  // "_NN" (rotation + 1) before its extension.
  UnicodeString zfRotationFileName() const;

  // "FileName" and "MaxSize".
  void GetConfigSettings(TzfBaseSettings& aSettings) override;
  void LoadConfig(TzfBaseComponentConfiguration& aConfig) override;
  void SaveConfig(TzfBaseComponentConfiguration& aConfig) override;

  // After the component block: Integer 2 and String FileName (version 1 carries one more Integer).
  void SaveSettingsToStream(TzfWriter& aWriter) override;
  void LoadSettingsFromStream(TzfReader& aReader) override;

 protected:
  int GetStream() override;
  void ClearStorage() override;

 private:
  UnicodeString elFileName;
  int32_t REMOVEMaxSize = 0;
};

zf::rtl::TUnitInit& zflgEventLogUnit();

}  // namespace zf
