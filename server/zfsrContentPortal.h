// The root table's content portal: the re-entrant read/write lock that guards a table's content
// outside transactions.
//
// Any number of threads read at once; one thread writes. Each thread's read nesting is counted
// per portal, so a thread enters again as often as it likes, also while a writer waits (a waiting
// writer keeps new threads out, never a thread that already reads). The writer enters again for
// writing and may read inside its own write; when it ends its write while still reading, it stays
// a reader.
//
// Only the holder of the write side may ask for it again. A thread that only reads and asks to
// write is refused with zfErrDeadlock (10255): two readers upgrading would each wait for the other
// to leave. A reader that must wait for something another writer needs (a record lock) leaves the
// portal for the wait with TzfPortalReadPause and enters again afterwards.
//
// Invariants (CheckInvariants): the writer holds write nesting >= 1 and no other thread is counted
// as a reader; the reader count equals the number of threads with read nesting >= 1, not counting
// the writer; no thread has a nesting of 0 in the table.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace zf {

class TzfContentPortal {
 public:
  using TClock = std::chrono::steady_clock;
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

  TzfContentPortal() = default;
  ~TzfContentPortal() = default;
  TzfContentPortal(const TzfContentPortal&) = delete;
  TzfContentPortal& operator=(const TzfContentPortal&) = delete;

  // Enters for reading, waiting as long as it takes.
  void BeginRead();
  // Enters for reading, waiting at most aTimeoutMs (kInfinite: no limit); False on time-out.
  bool TryBeginRead(uint32_t aTimeoutMs);
  // Leaves one read level; unbalanced: "Assertion failure".
  void EndRead();

  // Enters for writing, waiting as long as it takes; a reader that does not write is refused
  // with "Assertion failure" (callers that may hold a read use TryBeginWrite).
  void BeginWrite();
  // 0 when entered; zfErrDeadlock (10255) for a thread that reads and does not write (nothing
  // is changed); zfErrLockTimeout (10249) when aTimeoutMs passed.
  uint32_t TryBeginWrite(uint32_t aTimeoutMs);
  // Leaves one write level; by a thread that does not write: "Assertion failure".
  void EndWrite();

  // Leaves every read level of the calling thread and answers how many there were (0 for the
  // writer, whose reads stay: its write keeps others out anyway).
  uint32_t LeaveReads();
  // Enters again with the read levels LeaveReads answered.
  void ReenterReads(uint32_t aLevels);

  // Diagnostics.
  uint32_t ReadLevels() const;   // the calling thread's read nesting
  uint32_t WriteLevels() const;  // the calling thread's write nesting
  uint32_t ReaderCount() const;  // threads that read (the writer not counted)
  bool HasWriter() const;
  // Empty when every invariant holds, else the first broken one.
  const char* CheckInvariants() const;

 private:
  bool EnterRead(std::unique_lock<std::mutex>& aLock, const TClock::time_point* aUntil);

  mutable std::mutex cpMutex;
  std::condition_variable cpChanged;
  std::unordered_map<std::thread::id, uint32_t> cpReads;  // read nesting per thread, never 0
  uint32_t cpReaders = 0;                                 // threads in cpReads other than the writer
  std::thread::id cpWriter;                               // default id: no writer
  uint32_t cpWriteLevels = 0;
  uint32_t cpWritersWaiting = 0;
};

// Holds one read level of a portal for a scope.
class TzfContentReadGuard {
 public:
  explicit TzfContentReadGuard(TzfContentPortal& aPortal) : FPortal(aPortal) { FPortal.BeginRead(); }
  ~TzfContentReadGuard() { FPortal.EndRead(); }
  TzfContentReadGuard(const TzfContentReadGuard&) = delete;
  TzfContentReadGuard& operator=(const TzfContentReadGuard&) = delete;

 private:
  TzfContentPortal& FPortal;
};

// Leaves the calling thread's reads of a portal for a scope (a wait for a record lock) and
// enters them again at its end.
class TzfPortalReadPause {
 public:
  explicit TzfPortalReadPause(TzfContentPortal* aPortal) : FPortal(aPortal), FLevels(aPortal ? aPortal->LeaveReads() : 0) {}
  ~TzfPortalReadPause() {
    if (FPortal) FPortal->ReenterReads(FLevels);
  }
  TzfPortalReadPause(const TzfPortalReadPause&) = delete;
  TzfPortalReadPause& operator=(const TzfPortalReadPause&) = delete;

 private:
  TzfContentPortal* FPortal;
  uint32_t FLevels;
};

}  // namespace zf
