#include "foundation/zfmmMemoryLow.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace zf::mm {

namespace {

constexpr uint64_t kMB = 1024 * 1024;
constexpr uint64_t kNoLimit = uint64_t(1) << 60;  // v1 reports "unlimited" as a huge page-rounded value

// Reads a whole small file into aBuffer (NUL-terminated); the byte count, or -1.
ssize_t ReadSmallFile(const char* aPath, char* aBuffer, size_t aSize) {
  int fd = ::open(aPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t total = 0;
  while (total + 1 < aSize) {
    ssize_t n = ::read(fd, aBuffer + total, aSize - 1 - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return -1;
    }
    if (n == 0) break;
    total += size_t(n);
  }
  ::close(fd);
  aBuffer[total] = 0;
  return ssize_t(total);
}

// Parses a decimal number at p (after blanks); false when there is none.
bool ParseNumber(const char* p, const char* aEnd, uint64_t& aValue) {
  while (p < aEnd && (*p == ' ' || *p == '\t')) ++p;
  if (p >= aEnd || *p < '0' || *p > '9') return false;
  uint64_t v = 0;
  while (p < aEnd && *p >= '0' && *p <= '9') {
    uint64_t digit = uint64_t(*p - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
    ++p;
  }
  aValue = v;
  return true;
}

// Finds the line starting with aKey; returns the position after the key or nullptr.
const char* FindLine(const char* aText, size_t aLength, const char* aKey) {
  size_t keyLen = std::strlen(aKey);
  const char* end = aText + aLength;
  const char* p = aText;
  while (p < end) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    if (!eol) eol = end;
    if (size_t(eol - p) > keyLen && std::memcmp(p, aKey, keyLen) == 0) return p + keyLen;
    p = eol + 1;
  }
  return nullptr;
}

bool ReadNumberFile(const char* aPath, uint64_t& aValue, bool& aUnlimited) {
  char buf[64];
  ssize_t n = ReadSmallFile(aPath, buf, sizeof buf);
  if (n <= 0) return false;
  aUnlimited = std::strncmp(buf, "max", 3) == 0;
  if (aUnlimited) return true;
  return ParseNumber(buf, buf + n, aValue);
}

// Builds aPrefix + aGroup + "/" + aFile into aOut; false when it does not fit.
bool JoinPath(char* aOut, size_t aSize, const char* aPrefix, const char* aGroup, const char* aFile) {
  size_t a = std::strlen(aPrefix), b = std::strlen(aGroup), c = std::strlen(aFile);
  if (a + b + c + 2 > aSize) return false;
  std::memcpy(aOut, aPrefix, a);
  std::memcpy(aOut + a, aGroup, b);
  aOut[a + b] = '/';
  std::memcpy(aOut + a + b + 1, aFile, c + 1);
  return true;
}

// Reads the limit and usage of the cgroup at aDir (aGroup below aPrefix). True when a limit was found.
bool ReadCgroupAt(const char* aPrefix, const char* aGroup, bool aV2, TzfMemorySignal& aSignal) {
  char path[512];
  uint64_t limit = 0, usage = 0;
  bool unlimited = false;
  if (!JoinPath(path, sizeof path, aPrefix, aGroup, aV2 ? "memory.max" : "memory.limit_in_bytes")) return false;
  if (!ReadNumberFile(path, limit, unlimited)) return false;
  if (unlimited || limit >= kNoLimit) return true;  // the group exists and has no limit
  if (!JoinPath(path, sizeof path, aPrefix, aGroup, aV2 ? "memory.current" : "memory.usage_in_bytes")) return false;
  if (!ReadNumberFile(path, usage, unlimited)) return false;
  char stat[8192];
  uint64_t inactive = 0;
  if (JoinPath(path, sizeof path, aPrefix, aGroup, "memory.stat")) {
    ssize_t n = ReadSmallFile(path, stat, sizeof stat);
    if (n > 0) zfmmParseStatValue(stat, size_t(n), aV2 ? "inactive_file" : "total_inactive_file", inactive);
  }
  aSignal.CgroupLimit = limit;
  aSignal.CgroupUsage = usage > inactive ? usage - inactive : 0;
  return true;
}

void ReadCgroup(TzfMemorySignal& aSignal) {
  char text[4096];
  ssize_t n = ReadSmallFile("/proc/self/cgroup", text, sizeof text);
  if (n <= 0) return;
  // Lines are "id:controllers:path". v1 names "memory" among the controllers; v2 is "0::path".
  char v1[1024] = "", v2[1024] = "";
  bool haveV1 = false, haveV2 = false;
  const char* end = text + n;
  for (const char* p = text; p < end;) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    if (!eol) eol = end;
    const char* c1 = static_cast<const char*>(std::memchr(p, ':', size_t(eol - p)));
    const char* c2 = c1 ? static_cast<const char*>(std::memchr(c1 + 1, ':', size_t(eol - c1 - 1))) : nullptr;
    if (c2) {
      size_t pathLen = size_t(eol - c2 - 1);
      if (pathLen < sizeof v1) {
        if (c2 == c1 + 1) {
          std::memcpy(v2, c2 + 1, pathLen);
          v2[pathLen] = 0;
          haveV2 = true;
        } else {
          for (const char* q = c1 + 1; q < c2;) {
            const char* comma = static_cast<const char*>(std::memchr(q, ',', size_t(c2 - q)));
            if (!comma) comma = c2;
            if (comma - q == 6 && std::memcmp(q, "memory", 6) == 0) {
              std::memcpy(v1, c2 + 1, pathLen);
              v1[pathLen] = 0;
              haveV1 = true;
            }
            q = comma + 1;
          }
        }
      }
    }
    p = eol + 1;
  }
  // Inside a container the group's own path is often not visible; its root then is the group.
  if (haveV1) {
    if (ReadCgroupAt("/sys/fs/cgroup/memory", v1, false, aSignal)) return;
    if (ReadCgroupAt("/sys/fs/cgroup/memory", "", false, aSignal)) return;
  }
  if (haveV2) {
    const char* group = std::strcmp(v2, "/") == 0 ? "" : v2;
    if (ReadCgroupAt("/sys/fs/cgroup", group, true, aSignal)) return;
    if (ReadCgroupAt("/sys/fs/cgroup/unified", group, true, aSignal)) return;
    if (*group && ReadCgroupAt("/sys/fs/cgroup", "", true, aSignal)) return;
  }
}

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

std::atomic<uint64_t> gLastCheck{0};
std::atomic<bool> gLastLow{false};

}  // namespace

bool zfmmParseMeminfo(const char* aText, size_t aLength, uint64_t& aTotal, uint64_t& aAvailable) {
  const char* end = aText + aLength;
  const char* t = FindLine(aText, aLength, "MemTotal:");
  const char* a = FindLine(aText, aLength, "MemAvailable:");
  uint64_t total = 0, avail = 0;
  if (!t || !a || !ParseNumber(t, end, total) || !ParseNumber(a, end, avail)) return false;
  if (total > UINT64_MAX / 1024) return false;
  aTotal = total * 1024;
  aAvailable = std::min(avail, total) * 1024;
  return true;
}

bool zfmmParseStatValue(const char* aText, size_t aLength, const char* aKey, uint64_t& aValue) {
  char key[64];
  size_t k = std::strlen(aKey);
  if (k + 2 > sizeof key) return false;
  std::memcpy(key, aKey, k);
  key[k] = ' ';
  key[k + 1] = 0;
  const char* p = FindLine(aText, aLength, key);
  return p && ParseNumber(p, aText + aLength, aValue);
}

bool zfmmEvaluateMemoryLow(const TzfMemorySignal& aSignal) {
  if (aSignal.MemTotal > 0) {
    uint64_t threshold = std::clamp<uint64_t>(aSignal.MemTotal / 20, 32 * kMB, 512 * kMB);
    if (aSignal.MemAvailable < threshold) return true;
  }
  if (aSignal.CgroupLimit > 0) {
    uint64_t threshold = std::clamp<uint64_t>(aSignal.CgroupLimit / 20, 16 * kMB, 512 * kMB);
    uint64_t headroom = aSignal.CgroupLimit > aSignal.CgroupUsage ? aSignal.CgroupLimit - aSignal.CgroupUsage : 0;
    if (headroom < threshold) return true;
  }
  return false;
}

bool zfmmReadMemorySignal(TzfMemorySignal& aSignal) {
  aSignal = TzfMemorySignal{};
  char text[8192];
  ssize_t n = ReadSmallFile("/proc/meminfo", text, sizeof text);
  bool ok = n > 0 && zfmmParseMeminfo(text, size_t(n), aSignal.MemTotal, aSignal.MemAvailable);
  ReadCgroup(aSignal);
  return ok;
}

bool zfmmIsSystemMemoryLow() {
  uint64_t now = NowMs();
  uint64_t last = gLastCheck.load(std::memory_order_acquire);
  if (last != 0 && now - last < 250) return gLastLow.load(std::memory_order_relaxed);
  // One caller refreshes; the others keep the previous answer meanwhile.
  if (!gLastCheck.compare_exchange_strong(last, now == 0 ? 1 : now)) return gLastLow.load(std::memory_order_relaxed);
  TzfMemorySignal signal;
  zfmmReadMemorySignal(signal);
  bool low = zfmmEvaluateMemoryLow(signal);
  gLastLow.store(low, std::memory_order_relaxed);
  return low;
}

}  // namespace zf::mm
