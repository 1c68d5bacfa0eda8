// Shared by the recovery tool's end-to-end tests and its benchmark (no GoogleTest here): a child
// program with its standard output and error in files and its resource use, and the records of a
// table counted by the block that holds them.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/zfdb.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrRecordEngineBase.h"
#include "tool/zfRecoverComponents.h"

extern char** environ;

namespace zf::test {

inline std::string ReadTextFile(const std::filesystem::path& aPath) {
  std::ifstream f(aPath, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::vector<std::string> SplitLines(const std::string& aText) {
  std::vector<std::string> lines;
  std::stringstream s(aText);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

// A program run with standard input from /dev/null, standard output and error into files, and no
// display in its environment (so the tool runs headless).
class TChild {
 public:
  using Clock = std::chrono::steady_clock;

  TChild(const std::filesystem::path& aExe, const std::vector<std::string>& aArgs, const std::filesystem::path& aOutDir,
         const std::string& aOutName = "stdout.txt") {
    Out = aOutDir / aOutName;
    Err = aOutDir / (aOutName + ".err");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args{aExe.string()};
    args.insert(args.end(), aArgs.begin(), aArgs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "WAYLAND_DISPLAY=", 16) != 0) envp.push_back(*e);
    envp.push_back(nullptr);
    Started = Clock::now();
    if (posix_spawn(&Pid, aExe.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~TChild() {
    if (Pid > 0) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  // The exit code (128 + signal when killed by one); -1 when it did not end within aLimit (it is
  // killed then) or could not be started.
  int Wait(std::chrono::seconds aLimit = std::chrono::seconds(600)) {
    const auto end = Clock::now() + aLimit;
    int status = 0;
    while (Pid > 0) {
      rusage usage{};
      const pid_t r = wait4(Pid, &status, WNOHANG, &usage);
      if (r == Pid) {
        Pid = -1;
        Seconds = std::chrono::duration<double>(Clock::now() - Started).count();
        PeakRssKiB = usage.ru_maxrss;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() > end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
  }
  // Waits until standard output holds aText.
  bool WaitForOutput(const std::string& aText, std::chrono::seconds aLimit = std::chrono::seconds(60)) const {
    const auto end = Clock::now() + aLimit;
    while (Clock::now() < end) {
      if (ReadTextFile(Out).find(aText) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  void Signal(int aSignal) const {
    if (Pid > 0) kill(Pid, aSignal);
  }
  std::string StdOut() const { return ReadTextFile(Out); }
  std::string StdErr() const { return ReadTextFile(Err); }

  pid_t Pid = -1;
  std::filesystem::path Out, Err;
  Clock::time_point Started;
  double Seconds = 0;    // wall time from start to end
  long PeakRssKiB = 0;   // the child's peak resident set
};

// The records of table aTable in folder aFolder (a ".dvl7" table) by the block that holds them: a
// record's bookmark is its reference number, the block in the high 32 bits. The client layer must
// be started. Raises on failure.
inline std::map<uint32_t, uint64_t> RecordsByBlock(const std::filesystem::path& aFolder, const UnicodeString& aTable) {
  std::map<uint32_t, uint64_t> perBlock;
  TzfRecoverComponents engine;
  engine.Start();
  engine.OpenDatabase(rtl::u16(aFolder.string()));
  TzfAbstractCursor* c = nullptr;
  zfRaiseIfError(engine.Database().AbstractDatabase()->CursorOpen(c, aTable, u"", omReadOnly, smShared, 10000, false));
  struct TFree {
    TzfAbstractCursor* C;
    uint8_t* Rec;
    ~TFree() {
      C->RecordBufferFree(Rec);
      C->Free();
    }
  } cursor{c, c->RecordBufferAlloc()};
  zfRaiseIfError(c->SetToBegin());
  uint8_t bookmark[8];
  while (c->RecordGetNext(zfltNoLock, cursor.Rec) == 0) {
    zfRaiseIfError(c->GetBookmark(bookmark, 8));
    ++perBlock[zfRefBlock(int64_t(zfGetLE64(bookmark)))];
  }
  return perBlock;
}

}  // namespace zf::test
