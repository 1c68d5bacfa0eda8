// The exception hook and its crash log.
//
// Every C++ exception raised anywhere in the process (the hook stands in for the run time's raise
// entry, __cxa_throw, and passes every raise on unchanged) and every fatal signal (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE; the handler chains to the one installed before it) is reported with its
// call stack to the crash log: the engine's home directory + the program name + "Exception.log".
// Frames come from the C library's unwinder (backtrace) and are named through elfutils' libdw
// (function, source file and line where the binary carries debug information).
//
// Crash log: UTF-16LE, a new or empty file starts with FF FE; reports follow one another, every
// line ended by CR LF. A report:
//    *** Server started ***                    (the first report of the hook only)
//   Time: [<tick count>] <local date and time>
//   ExceptionInfo: nil                          (a C++ exception)
//   ExceptionInfo: $<address>                   (a signal: its record, as below)
//     ExceptionRecord: $<address>
//       ExceptionCode: $<code> = <description>  (the code of the signal's kind)
//       ExceptionFlags: $00000000
//       ExceptionRecord: $00000000
//       ExceptionAddress: $<faulting address>
//     ContextRecord: nil
//   Exception: <class name>                     ("Exception: nil!" for a signal)
//   Server suspended: true                      (once the fatal flag is set, by later reports)
//   Message: <message>                          (an exception object with a message)
//   Filesize / Filedate / Computer / User       (the program file and who runs it)
//   ThreadID / ProcessID / Version
//   62 "-", "Callstack (Frames):", one line per frame "[<address>] <file> <function> (Line <n>)"
//   62 "=", an empty line, and for the report that set the fatal flag the asterisk block.
// Not reported: EAbort "Operation aborted", the class names EzfSharedMemoryDisconnected and
// EDelayedCall, and "External exception 406D1388". Fatal: EOutOfMemory (and std::bad_alloc),
// EInvalidPointer, EAccessViolation, EPrivilege, EStackOverflow, EAssertionFailed, EAbstractError
// and the fatal signal kinds; the first fatal report sets the flag.
//
// Rules the hook keeps whatever happens while it writes:
//   1. It never reports itself: an exception raised while a thread writes a report is passed on
//      unreported, and any failure of the report (the file cannot be opened after 100 tries, say)
//      drops that report; the raise it was about goes on unchanged.
//   2. Reports are whole: one process-wide gate serialises them, the file is locked (flock)
//      while a report is appended, and each report is one write.
//   3. The file stays within zfCrashLogMaxSize: a report that would pass it is dropped, so the
//      first reports (the ones that tell how trouble began) are kept. A log found full is looked
//      at again a second later, not at every raise in between.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <typeinfo>

#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

using rtl::UnicodeString;

inline constexpr int64_t zfCrashLogMaxSize = 16 * 1024 * 1024;
// Frames listed per report at most.
inline constexpr int zfCrashLogMaxFrames = 48;

// What one report is about.
struct TzfRaiseInfo {
  bool HasObject = false;        // an exception object (not a signal)
  std::string ClassName;         // the object's class name
  bool HasMessage = false;       // the object is an exception with a message
  UnicodeString Message;
  // A signal: the code of its kind (e.g. $C0000005) and the faulting address.
  bool IsSignal = false;
  uint32_t Code = 0;
  uintptr_t RecordAddress = 0;
  uintptr_t FaultAddress = 0;
  void* const* Frames = nullptr;  // return addresses, innermost first
  uint32_t ThreadId = 0;          // the thread it happened on; 0: the reporting thread
  int FrameCount = 0;
};

class TzfExceptionHook {
 public:
  // The crash log in the home directory ("ZofrinDB3\zfRecover" sub-path). Becomes the process's
  // hook until it is destroyed, when the one before it (if any) is put back.
  TzfExceptionHook();
  // The same with the crash log at aFileName. An empty name makes a quiet hook: while it is the
  // process's hook nothing is reported (a process that raises by the thousand, such as a fuzz run,
  // turns the log off with one).
  explicit TzfExceptionHook(UnicodeString aFileName);
  ~TzfExceptionHook();
  TzfExceptionHook(const TzfExceptionHook&) = delete;
  TzfExceptionHook& operator=(const TzfExceptionHook&) = delete;

  const UnicodeString& FileName() const { return ehFileName; }
  // Whether a fatal report has been written (never cleared).
  bool FatalFlag() const { return ehFatal; }

  // Writes the report on aInfo; answers False when it was left out or dropped. Never raises.
  bool Report(const TzfRaiseInfo& aInfo);
  // The log was found full less than a second ago: a report would be dropped.
  bool LooksFull() const;

 private:
  // The report's text, empty when it is left out.
  UnicodeString BuildReport(const TzfRaiseInfo& aInfo);
  // Appends aText under the file lock, with up to 100 tries; False when dropped.
  bool Append(const UnicodeString& aText);

  UnicodeString ehFileName;
  bool ehExceptionLogged = false;
  bool ehFatal = false;
  uint64_t ehFullSince = 0;  // tick count when the log was last found full; 0: not full
  TzfExceptionHook* ehPrevious = nullptr;
};

// The process's hook; nullptr when none.
TzfExceptionHook* zfExceptionHook();

// Reports the raise of aObject of aType; the stack starts at aRaiser, the return address into the
// raising function (the raise entry calls it). Never raises.
void zfReportRaise(void* aObject, const std::type_info* aType, void* aRaiser) noexcept;
// Defined beside the raise entry: touching it links the entry into every program of the hook.
extern bool zfRaiseEntryLinked;

// The unit: its start creates the process's hook (and installs the signal handlers), its stop
// frees it.
rtl::TUnitInit& zfExceptionHookUnit();

}  // namespace zf
