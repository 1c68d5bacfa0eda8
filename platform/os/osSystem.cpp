#include "platform/os/osSystem.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sys/syscall.h>
#include <unistd.h>

namespace zf::os {

uint32_t GetCurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

uint64_t GetTickCount64() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t GetTickCount() { return static_cast<uint32_t>(GetTickCount64()); }

namespace {
thread_local int tLastError = 0;
}

int GetLastError() { return tLastError; }
void SetLastError(int aError) { tLastError = aError; }

std::string SysErrorMessage(int aError) {
  char buf[256];
  buf[0] = 0;
  // GNU strerror_r may return a static string instead of filling buf.
  const char* r = ::strerror_r(aError, buf, sizeof buf);
  return r ? std::string(r) : std::string(buf);
}

std::string ProcessPath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

std::vector<std::string> CommandLineParameters() {
  std::ifstream f("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<std::string> params;
  size_t start = 0;
  bool first = true;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!first) params.emplace_back(all, start, end - start);
    first = false;
    start = end + 1;
  }
  return params;
}

}  // namespace zf::os
