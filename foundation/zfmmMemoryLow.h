// Whether the system or the process's control group is short of memory.
//
// Linux overcommits: committing address space always "succeeds", so a reserve that is only
// spent when a commit fails never signals anything. The answer comes instead from what the
// kernel reports: MemAvailable in /proc/meminfo, and the memory limit and usage of the process's
// cgroup (v2 memory.max / memory.current, v1 memory.limit_in_bytes / memory.usage_in_bytes, less
// the inactive file cache the kernel can drop at once). Nothing here allocates.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zf::mm {

struct TzfMemorySignal {
  uint64_t MemTotal = 0;      // bytes; 0 when unknown
  uint64_t MemAvailable = 0;  // bytes
  uint64_t CgroupLimit = 0;   // bytes; 0 when the cgroup has no limit
  uint64_t CgroupUsage = 0;   // bytes in use, inactive file cache excluded
};

// Reads "MemTotal:" and "MemAvailable:" (kB) out of /proc/meminfo text. False when either is missing.
bool zfmmParseMeminfo(const char* aText, size_t aLength, uint64_t& aTotal, uint64_t& aAvailable);
// The value of the line "<aKey> <number>" of a memory.stat text; false when absent.
bool zfmmParseStatValue(const char* aText, size_t aLength, const char* aKey, uint64_t& aValue);
// Low when available memory is below 5% of the total (at least 32 MB, at most 512 MB) or the
// cgroup's headroom is below 5% of its limit (at least 16 MB, at most 512 MB).
bool zfmmEvaluateMemoryLow(const TzfMemorySignal& aSignal);
// Reads the current figures from the kernel; false when /proc/meminfo cannot be read.
bool zfmmReadMemorySignal(TzfMemorySignal& aSignal);
// zfmmEvaluateMemoryLow of the current figures, refreshed at most every 250 ms.
bool zfmmIsSystemMemoryLow();

}  // namespace zf::mm
