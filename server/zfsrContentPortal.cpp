// The root table's content portal; see the header for the rules.
#include "server/zfsrContentPortal.h"

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrContentPortal";
}

bool TzfContentPortal::EnterRead(std::unique_lock<std::mutex>& aLock, const TClock::time_point* aUntil) {
  const auto me = std::this_thread::get_id();
  auto it = cpReads.find(me);
  if (it != cpReads.end() || cpWriter == me) {
    // Nested read, or a read inside the own write: never waits.
    if (it != cpReads.end()) {
      ZF_ASSERT(it->second < 0xFFFFFFFFu, kUnit);
      ++it->second;
    } else {
      cpReads.emplace(me, 1u);
    }
    return true;
  }
  // A new reader waits for the writer and lets waiting writers go first.
  auto admitted = [this] { return cpWriter == std::thread::id() && cpWritersWaiting == 0; };
  if (aUntil) {
    if (!cpChanged.wait_until(aLock, *aUntil, admitted)) return false;
  } else {
    cpChanged.wait(aLock, admitted);
  }
  cpReads.emplace(me, 1u);
  ++cpReaders;
  return true;
}

void TzfContentPortal::BeginRead() {
  std::unique_lock lock(cpMutex);
  EnterRead(lock, nullptr);
}

bool TzfContentPortal::TryBeginRead(uint32_t aTimeoutMs) {
  std::unique_lock lock(cpMutex);
  if (aTimeoutMs == kInfinite) return EnterRead(lock, nullptr);
  const auto until = TClock::now() + std::chrono::milliseconds(aTimeoutMs);
  return EnterRead(lock, &until);
}

void TzfContentPortal::EndRead() {
  bool wake = false;
  {
    std::lock_guard lock(cpMutex);
    const auto me = std::this_thread::get_id();
    auto it = cpReads.find(me);
    ZF_ASSERT(it != cpReads.end(), kUnit);
    if (--it->second == 0) {
      cpReads.erase(it);
      if (cpWriter != me) {
        --cpReaders;
        wake = cpReaders == 0;
      }
    }
  }
  if (wake) cpChanged.notify_all();
}

uint32_t TzfContentPortal::TryBeginWrite(uint32_t aTimeoutMs) {
  std::unique_lock lock(cpMutex);
  const auto me = std::this_thread::get_id();
  if (cpWriter == me) {
    ZF_ASSERT(cpWriteLevels < 0xFFFFFFFFu, kUnit);
    ++cpWriteLevels;
    return 0;
  }
  // Only the holder of the write side may upgrade: a plain reader waiting for the other readers
  // to leave could wait for a reader that waits for it.
  if (cpReads.count(me)) return zfErrDeadlock;
  auto free = [this] { return cpWriter == std::thread::id() && cpReaders == 0; };
  ++cpWritersWaiting;
  bool got;
  if (aTimeoutMs == kInfinite) {
    cpChanged.wait(lock, free);
    got = true;
  } else {
    got = cpChanged.wait_for(lock, std::chrono::milliseconds(aTimeoutMs), free);
  }
  --cpWritersWaiting;
  if (!got) {
    // Readers held back for this writer may enter now.
    lock.unlock();
    cpChanged.notify_all();
    return zfErrLockTimeout;
  }
  cpWriter = me;
  cpWriteLevels = 1;
  return 0;
}

void TzfContentPortal::BeginWrite() {
  const uint32_t r = TryBeginWrite(kInfinite);
  ZF_ASSERT(r == 0, kUnit);
}

void TzfContentPortal::EndWrite() {
  {
    std::lock_guard lock(cpMutex);
    const auto me = std::this_thread::get_id();
    ZF_ASSERT(cpWriter == me && cpWriteLevels > 0, kUnit);
    if (--cpWriteLevels > 0) return;
    cpWriter = std::thread::id();
    // Reads taken inside the write outlive it: the thread stays a reader.
    if (cpReads.count(me)) ++cpReaders;
  }
  cpChanged.notify_all();
}

uint32_t TzfContentPortal::LeaveReads() {
  uint32_t levels = 0;
  bool wake = false;
  {
    std::lock_guard lock(cpMutex);
    const auto me = std::this_thread::get_id();
    if (cpWriter == me) return 0;
    auto it = cpReads.find(me);
    if (it == cpReads.end()) return 0;
    levels = it->second;
    cpReads.erase(it);
    --cpReaders;
    wake = cpReaders == 0;
  }
  if (wake) cpChanged.notify_all();
  return levels;
}

void TzfContentPortal::ReenterReads(uint32_t aLevels) {
  if (aLevels == 0) return;
  std::unique_lock lock(cpMutex);
  EnterRead(lock, nullptr);
  cpReads[std::this_thread::get_id()] += aLevels - 1;
}

uint32_t TzfContentPortal::ReadLevels() const {
  std::lock_guard lock(cpMutex);
  auto it = cpReads.find(std::this_thread::get_id());
  return it == cpReads.end() ? 0 : it->second;
}

uint32_t TzfContentPortal::WriteLevels() const {
  std::lock_guard lock(cpMutex);
  return cpWriter == std::this_thread::get_id() ? cpWriteLevels : 0;
}

uint32_t TzfContentPortal::ReaderCount() const {
  std::lock_guard lock(cpMutex);
  return cpReaders;
}

bool TzfContentPortal::HasWriter() const {
  std::lock_guard lock(cpMutex);
  return cpWriter != std::thread::id();
}

const char* TzfContentPortal::CheckInvariants() const {
  std::lock_guard lock(cpMutex);
  const bool writer = cpWriter != std::thread::id();
  if (writer != (cpWriteLevels > 0)) return "write nesting does not match the writer";
  uint32_t readers = 0;
  for (const auto& [id, n] : cpReads) {
    if (n == 0) return "a thread with read nesting 0 is listed";
    if (id != cpWriter) ++readers;
  }
  if (readers != cpReaders) return "reader count does not match the listed threads";
  if (writer && cpReaders != 0) return "another thread reads while one writes";
  return "";
}

}  // namespace zf
