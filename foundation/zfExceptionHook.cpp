#include "foundation/zfExceptionHook.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <random>
#include <thread>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "foundation/zfllConst.h"
#include "foundation/zfllUtils.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

namespace {

// Serialises reports and the change of the process's hook. A signal waits for it only so long, so
// that a crash while another thread writes never hangs the process.
std::timed_mutex gGate;
std::atomic<TzfExceptionHook*> gHook{nullptr};
// Set while this thread builds or writes a report: whatever it raises meanwhile is not reported.
thread_local bool tInReport = false;

class TInReport {
 public:
  TInReport() { tInReport = true; }
  ~TInReport() { tInReport = false; }
  TInReport(const TInReport&) = delete;
  TInReport& operator=(const TInReport&) = delete;
};

UnicodeString Hex8(uint64_t aValue) { return rtl::Format(u"%.8X", {static_cast<uint32_t>(aValue)}); }
UnicodeString Hex16(uint64_t aValue) {
  return rtl::Format(u"%.8X%.8X", {static_cast<uint32_t>(aValue >> 32), static_cast<uint32_t>(aValue)});
}

UnicodeString Demangled(const char* aName) {
  int status = 0;
  char* d = abi::__cxa_demangle(aName, nullptr, nullptr, &status);
  UnicodeString r = rtl::u16(status == 0 && d ? d : aName);
  std::free(d);
  return r;
}

// Names code addresses through libdw: the modules of the process are reported once and again when
// an address lies outside all of them (a library loaded since). Used under gGate only.
class TSymbolizer {
 public:
  ~TSymbolizer() {
    if (FDwfl) dwfl_end(FDwfl);
  }

  UnicodeString Describe(uintptr_t aAddress, uintptr_t aLookup) {
    auto it = FCache.find(aLookup);
    if (it != FCache.end()) return u"[" + Hex16(aAddress) + u"]" + it->second;
    Dwfl_Module* m = Module(aLookup);
    UnicodeString where;
    if (m) {
      int line = 0;
      const char* file = nullptr;
      if (Dwfl_Line* l = dwfl_module_getsrc(m, aLookup)) file = dwfl_lineinfo(l, nullptr, &line, nullptr, nullptr, nullptr);
      if (file) {
        const char* slash = std::strrchr(file, '/');
        where += u" " + rtl::u16(slash ? slash + 1 : file);
      }
      if (const char* name = dwfl_module_addrname(m, aLookup)) where += u" " + Demangled(name);
      if (file && line > 0) where += u" (Line " + rtl::IntToStr(line) + u")";
    }
    FCache.emplace(aLookup, where);
    return u"[" + Hex16(aAddress) + u"]" + where;
  }

 private:
  Dwfl_Module* Module(uintptr_t aAddress) {
    if (!FDwfl) {
      FDwfl = dwfl_begin(&kCallbacks);
      if (!FDwfl) return nullptr;
      ReportModules();
    }
    Dwfl_Module* m = dwfl_addrmodule(FDwfl, aAddress);
    if (!m) {
      ReportModules();
      m = dwfl_addrmodule(FDwfl, aAddress);
    }
    return m;
  }

  void ReportModules() {
    dwfl_report_begin(FDwfl);
    dwfl_linux_proc_report(FDwfl, ::getpid());
    dwfl_report_end(FDwfl, nullptr, nullptr);
  }

  static inline char* sDebugInfoPath = nullptr;
  static inline const Dwfl_Callbacks kCallbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                                   &sDebugInfoPath};
  Dwfl* FDwfl = nullptr;
  std::unordered_map<uintptr_t, UnicodeString> FCache;
};

TSymbolizer& Symbolizer() {
  static TSymbolizer* s = new TSymbolizer();  // kept to the end of the process: reports may come late
  return *s;
}

// The text of one frame as the crash log lists it; under gGate. A return address lies after its
// call, so the call is looked up one byte back.
UnicodeString DescribeFrame(void* aAddress) {
  const auto address = reinterpret_cast<uintptr_t>(aAddress);
  return Symbolizer().Describe(address, address > 0 ? address - 1 : address);
}

bool IsFatalClass(const std::string& aName) {
  static const char* const kFatal[] = {"EOutOfMemory",   "EInvalidPointer", "EAccessViolation", "EPrivilege",
                                       "EStackOverflow", "EAssertionFailed", "EAbstractError",  "std::bad_alloc"};
  for (const char* f : kFatal)
    if (aName == f) return true;
  return false;
}

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The description and fatality of a signal kind's code.
struct TCodeText {
  uint32_t Code;
  bool Fatal;
  const char16_t* Text;
};
const TCodeText kCodes[] = {
    {0xC0000005, true,
     u"EXCEPTION_ACCESS_VIOLATION - The thread tried to read from or write to a virtual address for which it does "
     u"not have the appropriate access."},
    {0xC0000006, true,
     u"EXCEPTION_IN_PAGE_ERROR - The thread tried to access a page that was not present, and the system was unable "
     u"to load the page. For example, this exception might occur if a network connection is lost while running a "
     u"program over the network."},
    {0xC000001D, true, u"EXCEPTION_ILLEGAL_INSTRUCTION - The thread tried to execute an invalid instruction."},
    {0xC000008E, false,
     u"EXCEPTION_FLT_DIVIDE_BY_ZERO - The thread tried to divide a floating-point value by a floating-point divisor "
     u"of zero."},
    {0xC000008F, false,
     u"EXCEPTION_FLT_INEXACT_RESULT - The result of a floating-point operation cannot be represented exactly as a "
     u"decimal fraction."},
    {0xC0000090, false,
     u"EXCEPTION_FLT_INVALID_OPERATION - This exception represents any floating-point exception not included in "
     u"this list."},
    {0xC0000091, false,
     u"EXCEPTION_FLT_OVERFLOW - The exponent of a floating-point operation is greater than the magnitude allowed "
     u"by the corresponding type."},
    {0xC0000093, false,
     u"EXCEPTION_FLT_UNDERFLOW - The exponent of a floating-point operation is less than the magnitude allowed by "
     u"the corresponding type."},
    {0xC0000094, false,
     u"EXCEPTION_INT_DIVIDE_BY_ZERO - The thread tried to divide an integer value by an integer divisor of zero."},
    {0xC0000095, false,
     u"EXCEPTION_INT_OVERFLOW - The result of an integer operation caused a carry out of the most significant bit "
     u"of the result."},
    {0xC0000096, true,
     u"EXCEPTION_PRIV_INSTRUCTION - The thread tried to execute an instruction whose operation is not allowed in "
     u"the current machine mode."},
};

const TCodeText* FindCode(uint32_t aCode) {
  for (const TCodeText& c : kCodes)
    if (c.Code == aCode) return &c;
  return nullptr;
}

rtl::TDateTime LocalDateTime(time_t aTime) {
  tm t{};
  localtime_r(&aTime, &t);
  rtl::TDateTime d = 0, tod = 0;
  rtl::TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, d);
  rtl::TryEncodeTime(t.tm_hour, t.tm_min, std::min(t.tm_sec, 59), 0, tod);
  return d + tod;
}

// The program file, the computer and the user; each group ends at its first failing step.
void AddProcessFacts(std::vector<UnicodeString>& aLines) {
  const std::string exe = os::ProcessPath();
  const int fd = exe.empty() ? -1 : ::open(exe.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
      aLines.push_back(u"Filesize: " + rtl::IntToStr(static_cast<int64_t>(static_cast<uint32_t>(st.st_size))));
      aLines.push_back(u"Filedate: " + rtl::FormatDateTime(u"yyyy-mm-dd hh:nn:ss", LocalDateTime(st.st_mtime)));
    }
    ::close(fd);
  }
  char host[251] = {};
  if (::gethostname(host, sizeof host - 1) == 0) aLines.push_back(u"Computer: " + rtl::u16(host));
  passwd pw{}, *res = nullptr;
  char buf[4096];
  if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_name)
    aLines.push_back(u"User: " + rtl::u16(std::string(res->pw_name).substr(0, 250)));
}

std::string ToUtf16LE(const UnicodeString& aText) {
  std::string bytes;
  bytes.reserve(aText.size() * 2);
  for (char16_t c : aText) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

bool WriteAll(int aFd, const std::string& aBytes) {
  size_t done = 0;
  while (done < aBytes.size()) {
    const ssize_t n = ::write(aFd, aBytes.data() + done, aBytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// ---- what a raise is ----

// The object of a raise as the class it was thrown as, if it is one (the run time's own catch
// test, with the pointer adjusted to the base).
template <class T>
const T* As(void* aObject, const std::type_info* aType) {
  void* p = aObject;
  if (!typeid(T).__do_catch(aType, &p, 1)) return nullptr;
  return static_cast<const T*>(p);
}

}  // namespace

// Never raises; a raise inside it is not reported.
void zfReportRaise(void* aObject, const std::type_info* aType, void* aRaiser) noexcept {
  if (tInReport || !gHook.load(std::memory_order_acquire)) return;
  TInReport guard;
  try {
    std::unique_lock lock(gGate);
    TzfExceptionHook* hook = gHook.load(std::memory_order_acquire);
    // A full log or a quiet hook costs a raise no more than this look.
    if (!hook || hook->FileName().empty() || hook->LooksFull()) return;
    void* frames[zfCrashLogMaxFrames + 2];
    const int n = ::backtrace(frames, zfCrashLogMaxFrames + 2);
    TzfRaiseInfo info;
    info.HasObject = true;
    // The stack from the raising function on: this function and the raise entry are left out.
    int first = 0;
    while (first < n && frames[first] != aRaiser) ++first;
    if (first == n) first = std::min(n, 2);
    info.Frames = frames + first;
    info.FrameCount = n - first;
    if (const rtl::Exception* e = As<rtl::Exception>(aObject, aType)) {
      info.ClassName = e->ClassName();
      info.HasMessage = true;
      info.Message = e->Message();
    } else {
      info.ClassName = rtl::u8(Demangled(aType->name()));
      if (const std::exception* s = As<std::exception>(aObject, aType)) {
        info.HasMessage = true;
        info.Message = rtl::u16(s->what());
      }
    }
    hook->Report(info);
  } catch (...) {
    // A report that fails is dropped: the raise it was about goes on as it was.
  }
}

namespace {

// ---- fatal signals ----

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction gPrevious[sizeof kSignals / sizeof kSignals[0]];
bool gSignalsInstalled = false;

uint32_t SignalCode(int aSignal, int aCode) {
  switch (aSignal) {
    case SIGBUS: return aCode == BUS_ADRERR ? 0xC0000006 : 0xC0000005;
    case SIGILL: return aCode == ILL_PRVOPC || aCode == ILL_PRVREG ? 0xC0000096 : 0xC000001D;
    case SIGFPE:
      switch (aCode) {
        case FPE_INTDIV: return 0xC0000094;
        case FPE_INTOVF: return 0xC0000095;
        case FPE_FLTDIV: return 0xC000008E;
        case FPE_FLTOVF: return 0xC0000091;
        case FPE_FLTUND: return 0xC0000093;
        case FPE_FLTRES: return 0xC000008F;
        default: return 0xC0000090;
      }
    default: return 0xC0000005;
  }
}

void OnSignal(int aSignal, siginfo_t* aInfo, void* aContext) {
  size_t slot = 0;
  while (kSignals[slot] != aSignal) ++slot;
  if (!tInReport && gHook.load(std::memory_order_acquire)) {
    TInReport guard;
    try {
      void* frames[zfCrashLogMaxFrames + 1];
      const int n = ::backtrace(frames, zfCrashLogMaxFrames + 1);
      TzfRaiseInfo info;
      info.IsSignal = true;
      info.Code = SignalCode(aSignal, aInfo ? aInfo->si_code : 0);
      info.RecordAddress = reinterpret_cast<uintptr_t>(aInfo);
      info.FaultAddress = aInfo ? reinterpret_cast<uintptr_t>(aInfo->si_addr) : 0;
      info.Frames = frames + std::min(n, 1);  // without this handler
      info.FrameCount = std::max(n - 1, 0);
      info.ThreadId = os::GetCurrentThreadId();
      // The handler may run on a small alternate stack (a sanitizer's, or after a stack overflow):
      // the report is written on a thread of its own, with a whole stack.
      std::thread writer([&info] {
        TInReport writing;
        try {
          std::unique_lock lock(gGate, std::chrono::seconds(2));
          if (lock.owns_lock())
            if (TzfExceptionHook* hook = gHook.load(std::memory_order_acquire)) hook->Report(info);
        } catch (...) {
        }
      });
      writer.join();
    } catch (...) {
    }
  }
  // The handler before this one decides what the signal does; the default ends the process.
  const struct sigaction& prev = gPrevious[slot];
  if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
    prev.sa_sigaction(aSignal, aInfo, aContext);
  } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN && prev.sa_handler) {
    prev.sa_handler(aSignal);
  } else {
    ::sigaction(aSignal, &prev, nullptr);
    if (prev.sa_handler == SIG_DFL) ::raise(aSignal);
  }
}

void InstallSignals() {
  if (gSignalsInstalled) return;
  struct sigaction sa {};
  sa.sa_sigaction = &OnSignal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) ::sigaction(kSignals[i], &sa, &gPrevious[i]);
  gSignalsInstalled = true;
}

void RemoveSignals() {
  if (!gSignalsInstalled) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  gSignalsInstalled = false;
}

// ---- the unit ----

TzfExceptionHook* gUnitHook = nullptr;

void Start() {
  zfRaiseEntryLinked = true;
  gUnitHook = new TzfExceptionHook();
  InstallSignals();
}

void Stop() {
  RemoveSignals();
  delete gUnitHook;
  gUnitHook = nullptr;
}

UnicodeString HomeFileName() {
  UnicodeString dir;
  zfGetAppHomeDirectory(u"ZofrinDB3\\zfRecover", dir);
  UnicodeString name = rtl::u16(os::ProcessPath());
  const size_t slash = name.rfind(u'/');
  if (slash != UnicodeString::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind(u'.');
  if (dot != UnicodeString::npos && dot > 0) name.erase(dot);
  return dir + name + u"Exception.log";
}

}  // namespace

// ---- TzfExceptionHook ----

TzfExceptionHook::TzfExceptionHook() : TzfExceptionHook(HomeFileName()) {}

TzfExceptionHook::TzfExceptionHook(UnicodeString aFileName) : ehFileName(std::move(aFileName)) {
  std::unique_lock lock(gGate);
  ehPrevious = gHook.load(std::memory_order_relaxed);
  gHook.store(this, std::memory_order_release);
}

TzfExceptionHook::~TzfExceptionHook() {
  std::unique_lock lock(gGate);
  if (gHook.load(std::memory_order_relaxed) == this) gHook.store(ehPrevious, std::memory_order_release);
}

TzfExceptionHook* zfExceptionHook() { return gHook.load(std::memory_order_acquire); }

bool TzfExceptionHook::Report(const TzfRaiseInfo& aInfo) {
  if (ehFileName.empty()) return false;  // a quiet hook
  try {
    struct stat st {};
    // A full log takes no more: stop before building the report.
    if (::stat(rtl::u8(ehFileName).c_str(), &st) == 0 && st.st_size >= zfCrashLogMaxSize) {
      ehFullSince = std::max<uint64_t>(os::GetTickCount64(), 1);
      return false;
    }
    ehFullSince = 0;
    const UnicodeString text = BuildReport(aInfo);
    return !text.empty() && Append(text);
  } catch (...) {
    return false;
  }
}

bool TzfExceptionHook::LooksFull() const {
  return ehFullSince != 0 && os::GetTickCount64() - ehFullSince < 1000;
}

UnicodeString TzfExceptionHook::BuildReport(const TzfRaiseInfo& aInfo) {
  if (aInfo.HasObject && (SameText(aInfo.ClassName, "EzfSharedMemoryDisconnected") ||
                          SameText(aInfo.ClassName, "EDelayedCall")))
    return {};
  if (aInfo.HasMessage && (aInfo.Message == u"External exception 406D1388" ||
                           (aInfo.Message == u"Operation aborted" && aInfo.ClassName == "EAbort")))
    return {};
  std::vector<UnicodeString> lines;
  if (!ehExceptionLogged) lines.push_back(u" *** Server started *** ");
  lines.push_back(u"Time: [" + rtl::IntToStr(static_cast<int64_t>(os::GetTickCount())) + u"] " +
                  rtl::DateTimeToStr(rtl::Now()));
  bool fatal = false;
  if (aInfo.IsSignal) {
    const TCodeText* code = FindCode(aInfo.Code);
    lines.push_back(u"ExceptionInfo: $" + Hex8(aInfo.RecordAddress));
    lines.push_back(u"  ExceptionRecord: $" + Hex8(aInfo.RecordAddress));
    lines.push_back(u"    ExceptionCode: $" + Hex8(aInfo.Code) + (code ? u" = " + UnicodeString(code->Text) : u""));
    lines.push_back(u"    ExceptionFlags: $" + Hex8(0));
    lines.push_back(u"    ExceptionRecord: $" + Hex8(0));
    lines.push_back(u"    ExceptionAddress: $" + Hex8(aInfo.FaultAddress));
    lines.push_back(u"  ContextRecord: nil");
    fatal = code && code->Fatal;
  } else {
    lines.push_back(u"ExceptionInfo: nil");
  }
  if (aInfo.HasObject) {
    if (!ehFatal && IsFatalClass(aInfo.ClassName)) fatal = true;
    lines.push_back(u"Exception: " + rtl::u16(aInfo.ClassName));
  } else {
    lines.push_back(u"Exception: nil!");
  }
  const bool setsFlag = fatal && !ehFatal;
  if (setsFlag)
    ehFatal = true;
  else if (ehFatal)
    lines.push_back(u"Server suspended: true");
  if (aInfo.HasMessage) lines.push_back(u"Message: " + aInfo.Message);
  AddProcessFacts(lines);
  const uint32_t thread = aInfo.ThreadId ? aInfo.ThreadId : os::GetCurrentThreadId();
  lines.push_back(u"ThreadID: " + rtl::IntToStr(static_cast<int64_t>(thread)));
  lines.push_back(u"ProcessID: " + rtl::IntToStr(static_cast<int64_t>(::getpid())));
  lines.push_back(u"Version: " + rtl::FloatToStr(zfEngineVersion / 10000.0L));
  lines.push_back(UnicodeString(62, u'-'));
  lines.push_back(u"Callstack (Frames):");
  for (int i = 0; i < aInfo.FrameCount; ++i) lines.push_back(DescribeFrame(aInfo.Frames[i]));
  lines.push_back(UnicodeString(62, u'='));
  lines.push_back(u"");
  if (setsFlag) {
    const UnicodeString stars = u" " + UnicodeString(41, u'*');
    lines.push_back(stars);
    lines.push_back(u" *** Fatal Exception Flag has been set ***");
    lines.push_back(stars);
    lines.push_back(u"");
  }
  ehExceptionLogged = true;
  UnicodeString text;
  for (const UnicodeString& l : lines) text += l + u"\r\n";
  return text;
}

bool TzfExceptionHook::Append(const UnicodeString& aText) {
  const std::string path = rtl::u8(ehFileName);
  const std::string bytes = ToUtf16LE(aText);
  thread_local std::minstd_rand random(static_cast<uint32_t>(os::GetCurrentThreadId()));
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      bool written = false;
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
          if (st.st_size + static_cast<int64_t>(bytes.size()) + 2 > zfCrashLogMaxSize) {
            ::close(fd);
            ehFullSince = std::max<uint64_t>(os::GetTickCount64(), 1);
            return false;
          }
          const std::string mark = st.st_size == 0 ? std::string("\xFF\xFE", 2) : std::string();
          written = WriteAll(fd, mark + bytes);
        }
      }
      ::close(fd);  // also releases the lock
      if (written) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 100));
  }
  return false;
}

rtl::TUnitInit& zfExceptionHookUnit() {
  static rtl::TUnitInit unit("zfExceptionHook", &Start, &Stop);
  return unit;
}

}  // namespace zf
