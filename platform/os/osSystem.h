// Process, thread and clock facts from the operating system (POSIX).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zf::os {

// Kernel thread id of the calling thread.
uint32_t GetCurrentThreadId();

// Milliseconds of a monotonic clock since an arbitrary start. Deadlines are compared on this
// 64-bit value; GetTickCount is its low 32 bits, which wrap after 49.7 days.
uint64_t GetTickCount64();
uint32_t GetTickCount();

// The calling thread's last operating-system error. POSIX calls report through errno; code that
// wraps a failing call stores it here so that exception builders can read it later.
int GetLastError();
void SetLastError(int aError);

// Text the system gives for an error number.
std::string SysErrorMessage(int aError);

// Full path of the running executable ("" when it cannot be read).
std::string ProcessPath();

// The process's command-line parameters after the program name, as given (from /proc/self/cmdline).
std::vector<std::string> CommandLineParameters();

}  // namespace zf::os
