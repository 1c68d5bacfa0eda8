// Pieces of the server cursor that stand on their own: the insert options and their named
// options, the filter deadline of filtered scans, and the result of a refused lock request.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/rtl/rtlEnumSet.h"
#include "foundation/zfllException.h"
#include "index/zfsdFilterEngineBase.h"

namespace zf {

class TzfLockFailureReason;

// Applied by a table cursor to each insert; all three are on when a cursor opens, the recover's
// inserts run with ioValidate only.
enum TzfInsertOption : uint8_t { ioSetDefault, ioSetAutoInc, ioValidate };
using TzfInsertOptions = rtl::EnumSet<TzfInsertOption>;
inline TzfInsertOptions zfAllInsertOptions() { return TzfInsertOptions{ioSetDefault, ioSetAutoInc, ioValidate}; }

// A changed cursor option: "INSERT_OPTIONS_SETDEFAULT", "INSERT_OPTIONS_SETAUTOINC" and
// "INSERT_OPTIONS_VALIDATE" (case ignored) include their option for the value "True" (case
// ignored) and exclude it for any other value ("1" too). False for other names, which change nothing.
bool zfApplyInsertOption(TzfInsertOptions& aOptions, const UnicodeString& aName, const UnicodeString& aValue);

// The deadline of a filtered scan. Begin before the first record; Check after every record the
// filter rejected. Times are tick counts in ms on the monotonic clock (os::GetTickCount64), thread
// deadlines as zfTimeoutDeadline answers them.
class TzfFilterDeadline {
 public:
  static constexpr uint32_t kDefaultTimeout = 500;

  // Until := now + Timeout, lowered to a real thread deadline that comes earlier; 0 (none) for a
  // Timeout of 0.
  void Begin(uint64_t aNow, int64_t aThreadDeadline);
  void Begin();
  // True stops the scan: 15444 when the filter limit passed (not while disabled), else 15461 when
  // the thread's deadline passed.
  bool Check(uint64_t aNow, int64_t aThreadDeadline, uint32_t& aResult) const;
  bool Check(uint32_t& aResult) const;
  // Nesting pair: while disabled only the operation deadline stops a scan.
  void Disable() { ++fdLock; }
  void Enable() { --fdLock; }

  uint32_t Timeout = kDefaultTimeout;  // 0: no filter limit
  int64_t Until = 0;                   // 0: none

 private:
  int32_t fdLock = 0;
};

// The result of a refused lock: with reasons, 10254 when the conflict was within the own session,
// and the message "<[!þOrgþ!>", two carriage returns and the reasons one per line (the reasons are
// cleared); without, an empty message. The code and message become the thread's pending error;
// the code is answered. aReason may be nil.
uint32_t zfLockFailureResult(TzfLockFailureReason* aReason, uint32_t aCode);

// A cursor's read-only state, decided once when it opens. Write operations of a read-only cursor
// are refused with Error() before the session lock is taken.
struct TzfReadOnlyState {
  bool IsReadOnly = false;
  uint32_t Result = 10763;            // "Table is read only."
  const char16_t* Message = nullptr;  // custom text for Result, nil: the code's own text
  // Opened omReadOnly: 10763 with the code's text.
  void SetOpenedReadOnly();
  // A dictionary older than version 2: 12040 with the outdated-format text.
  void SetFormatOutdated();
  // An index whose stored keys were sorted under other sorting rules than the system's today:
  // 12040 with the text that asks for a pack.
  void SetStoredKeysOutdated();
  // Result, with Message (when set) as the thread's pending text for it.
  uint32_t Error() const;
};

// A cursor's filter (or key filter) slot: empty, one engine, or a hub of engines.
// Attaches aEngine: an empty slot takes it, a hub adds it, a single engine becomes a hub over
// both. Answers the new engine's ID.
TzfFilterID zfFilterAttach(std::unique_ptr<TzfBaseFilterEngine>& aSlot, std::unique_ptr<TzfBaseFilterEngine> aEngine);
// ID 0 frees the whole slot (0 also for an empty slot); another ID removes that engine, a hub
// collapsing to its last member or to nothing; 10050 for an ID no attached engine has.
uint32_t zfFilterRemove(std::unique_ptr<TzfBaseFilterEngine>& aSlot, TzfFilterID aID);
// Switches an engine (ID 0: all) on or off; 10050 for an empty slot or an unknown ID.
uint32_t zfFilterActivate(std::unique_ptr<TzfBaseFilterEngine>& aSlot, TzfFilterID aID, bool aActive);

// A key buffer a client hands in for a search or a range end, checked before any byte is read:
// 9986 when it is missing or shorter than the key, or when the field count lies outside 0 to the
// key's field count or the partial length outside 0 to the key length; 0 otherwise.
uint32_t zfCheckClientKey(const uint8_t* aKey, uint32_t aSize, uint32_t aKeyLength, int32_t aFieldCount,
                          int32_t aKeyFieldCount, int32_t aPartialLen);

}  // namespace zf
