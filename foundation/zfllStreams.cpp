#include "foundation/zfllStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/zfllException.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

using zf::rtl::TSeekOrigin;
using zf::rtl::TStream;
using zf::rtl::UnicodeString;

namespace {

constexpr const char* kUnit = "zfllStreams";
constexpr int64_t kPageSize = 4096;
constexpr int64_t kReserveGranularity = 65536;
// A reservation that would have to double from this size or more exceeds what a stream may hold.
constexpr int64_t kMaxReserveStart = 1073741823;

int64_t RoundUp(int64_t aValue, int64_t aUnit) { return (aValue + aUnit - 1) / aUnit * aUnit; }

// The operating system refused a reservation, commit or release of a stream's memory: an engine
// exception with the OS error, the stream class and the call as the action, and the default code.
[[noreturn]] void RaiseStreamOSError(const char16_t* aCall) {
  zf::os::SetLastError(errno);
  zfRaiseLastOSError(UnicodeString(u"TzfMemoryStream/") + aCall);
}

// Address space with no access; answers nullptr when aAddress was given and could not be had there.
uint8_t* Reserve(int64_t aSize, uint8_t* aAddress) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  if (aAddress) flags |= MAP_FIXED_NOREPLACE;
  void* p = ::mmap(aAddress, static_cast<size_t>(aSize), PROT_NONE, flags, -1, 0);
  if (p == MAP_FAILED) {
    if (aAddress) return nullptr;
    if (errno == ENOMEM) zf::rtl::RaiseOutOfMemory();
    RaiseStreamOSError(u"mmap");
  }
  if (aAddress && p != aAddress) {  // a kernel that ignores the no-replace flag placed it elsewhere
    ::munmap(p, static_cast<size_t>(aSize));
    return nullptr;
  }
  return static_cast<uint8_t*>(p);
}

bool Commit(uint8_t* aFrom, int64_t aSize) {
  if (aSize <= 0) return true;
  return ::mprotect(aFrom, static_cast<size_t>(aSize), PROT_READ | PROT_WRITE) == 0;
}

// A new reservation anywhere with its first aCommit bytes committed; given back when the commit
// is refused.
uint8_t* ReserveCommitted(int64_t aReserve, int64_t aCommit) {
  uint8_t* mem = Reserve(aReserve, nullptr);
  if (!Commit(mem, aCommit)) {
    int err = errno;
    ::munmap(mem, static_cast<size_t>(aReserve));
    errno = err;
    RaiseStreamOSError(u"mprotect");
  }
  return mem;
}

void Release(uint8_t* aBase, int64_t aSize) {
  if (::munmap(aBase, static_cast<size_t>(aSize)) != 0) RaiseStreamOSError(u"munmap");
}


// A whole file opened through POSIX, as a stream for loading and saving.
class TFileHandleStream : public TStream {
 public:
  TFileHandleStream(const UnicodeString& aFileName, bool aCreate) {
    std::string name = zf::rtl::u8(aFileName);
    FHandle = aCreate ? ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                      : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle < 0) {
      int err = errno;
      throw zf::rtl::EStreamError(zf::rtl::Format(aCreate ? u"Cannot create file \"%s\". %s" : u"Cannot open file \"%s\". %s",
                                                  {aFileName, zf::rtl::u16(zf::os::SysErrorMessage(err))}));
    }
  }
  ~TFileHandleStream() override { ::close(FHandle); }
  int32_t Read(void* aBuffer, int32_t aCount) override {
    if (aCount <= 0) return 0;
    ssize_t n;
    do n = ::read(FHandle, aBuffer, static_cast<size_t>(aCount));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : static_cast<int32_t>(n);
  }
  int32_t Write(const void* aBuffer, int32_t aCount) override {
    if (aCount <= 0) return 0;
    ssize_t n;
    do n = ::write(FHandle, aBuffer, static_cast<size_t>(aCount));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : static_cast<int32_t>(n);
  }
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override {
    int whence = aOrigin == TSeekOrigin::soBeginning ? SEEK_SET : aOrigin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(FHandle, static_cast<off_t>(aOffset), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
  }

 private:
  int FHandle = -1;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TzfCustomMemoryStream

int32_t TzfCustomMemoryStream::Read(void* aBuffer, int32_t aCount) {
  if (cmsPosition < 0 || aCount < 0) return 0;
  int64_t n = std::min<int64_t>(aCount, cmsSize - cmsPosition);
  if (n <= 0) return 0;
  std::memcpy(aBuffer, cmsMemory + cmsPosition, static_cast<size_t>(n));
  cmsPosition += n;
  return static_cast<int32_t>(n);
}

int64_t TzfCustomMemoryStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
  switch (aOrigin) {
    case TSeekOrigin::soBeginning: cmsPosition = aOffset; break;
    case TSeekOrigin::soCurrent: cmsPosition = zf::rtl::CheckedAdd(cmsPosition, aOffset); break;
    case TSeekOrigin::soEnd: cmsPosition = zf::rtl::CheckedAdd(cmsSize, aOffset); break;
  }
  return cmsPosition;
}

void TzfCustomMemoryStream::SaveToStream(TStream& aStream) {
  if (cmsSize != 0) aStream.WriteBuffer(cmsMemory, cmsSize);
}

void TzfCustomMemoryStream::SaveToFile(const UnicodeString& aFileName) {
  TFileHandleStream file(aFileName, true);
  SaveToStream(file);
}

// ---------------------------------------------------------------------------------------------
// TzfMemoryStream

TzfMemoryStream::TzfMemoryStream(int32_t aInitial) {
  if (aInitial == -1)
    msReserveInitial = kReserveGranularity;
  else if (aInitial < kReserveGranularity)
    msReserveInitial = 524288;
  else
    msReserveInitial = RoundUp(aInitial, kReserveGranularity);
}

TzfMemoryStream::~TzfMemoryStream() {
  try {
    Clear();
  } catch (...) {
    // A release the system refuses leaves the address space to the process; nothing else to do.
  }
}

void TzfMemoryStream::SetCapacity(int64_t aNewCapacity) {
  if (aNewCapacity < 0) zf::rtl::RaiseRangeError();
  int64_t cap = aNewCapacity;
  uint8_t* mem = Realloc(cap);
  SetPointer(mem, cmsSize);
  msCommited = cap;
}

void TzfMemoryStream::Grow(int64_t aEnd) {
  if (aEnd > kMaxSize) zf::rtl::RaiseOutOfMemory();
  if (aEnd > msCommited) SetCapacity(aEnd);
}

void TzfMemoryStream::SetSize(int64_t aNewSize) {
  if (aNewSize < 0) zf::rtl::RaiseRangeError();
  Grow(aNewSize);
  cmsSize = aNewSize;
  if (cmsPosition > aNewSize) cmsPosition = aNewSize;
}

int32_t TzfMemoryStream::Write(const void* aBuffer, int32_t aCount) {
  if (cmsPosition < 0 || aCount < 0) return 0;
  // A position past the limit can hold nothing (and must not overflow the end computed below).
  if (cmsPosition > kMaxSize) zf::rtl::RaiseOutOfMemory();
  int64_t end = cmsPosition + aCount;
  if (end <= 0) return 0;
  if (end > cmsSize) {
    Grow(end);
    cmsSize = end;
  }
  std::memcpy(cmsMemory + cmsPosition, aBuffer, static_cast<size_t>(aCount));
  cmsPosition = end;
  return aCount;
}

void TzfMemoryStream::Clear() {
  SetCapacity(0);
  cmsSize = 0;
  cmsPosition = 0;
}

void TzfMemoryStream::ReleaseAll() {
  if (msReservedBases.empty()) {
    if (cmsMemory) Release(cmsMemory, msReserved);
  } else {
    // The reservations are contiguous and in address order: each runs up to the next base.
    uint8_t* end = cmsMemory + msReserved;
    for (size_t i = msReservedBases.size(); i-- > 0;) {
      uint8_t* base = msReservedBases[i];
      Release(base, end - base);
      end = base;
    }
  }
  msReservedBases.clear();
  msReserved = 0;
}

uint8_t* TzfMemoryStream::Realloc(int64_t& aNewCapacity) {
  ZF_ASSERT((cmsMemory == nullptr) == (msReserved == 0), kUnit);
  ZF_ASSERT(cmsMemory != nullptr || msCommited == 0, kUnit);

  if (aNewCapacity == 0) {
    ReleaseAll();
    return nullptr;
  }
  if (aNewCapacity > kMaxSize) zf::rtl::RaiseOutOfMemory();
  aNewCapacity = RoundUp(aNewCapacity, kPageSize);
  if (aNewCapacity == msCommited) return cmsMemory;

  if (aNewCapacity > msReserved) {
    int64_t start = msReserved != 0 ? msReserved : msReserveInitial;
    if (start >= kMaxReserveStart) zf::rtl::RaiseOutOfMemory();
    int64_t reserve = start;
    while (reserve < aNewCapacity) reserve *= 2;
    ZF_ASSERT(reserve > msReserved, kUnit);
    ZF_ASSERT(reserve >= aNewCapacity, kUnit);

    if (cmsMemory) {
      // Preferably extend the reservation in place, so the content does not move.
      uint8_t* next = cmsMemory + msReserved;
      if (uint8_t* added = Reserve(reserve - msReserved, next)) {
        if (msReservedBases.empty()) msReservedBases.push_back(cmsMemory);
        msReservedBases.push_back(added);
        msReserved = reserve;
        if (!Commit(cmsMemory + msCommited, aNewCapacity - msCommited)) RaiseStreamOSError(u"mprotect");
        return cmsMemory;
      }
      // Elsewhere, then copy the content and give the old range back.
      uint8_t* mem = ReserveCommitted(reserve, aNewCapacity);
      if (cmsSize > 0) std::memcpy(mem, cmsMemory, static_cast<size_t>(cmsSize));
      ReleaseAll();
      msReserved = reserve;
      cmsMemory = mem;
      return mem;
    }
    uint8_t* mem = ReserveCommitted(reserve, aNewCapacity);
    msReserved = reserve;
    return mem;
  }

  if (aNewCapacity > msCommited) {
    if (!Commit(cmsMemory + msCommited, aNewCapacity - msCommited)) RaiseStreamOSError(u"mprotect");
    return cmsMemory;
  }
  // Committed memory is given back only by capacity 0.
  aNewCapacity = msCommited;
  return cmsMemory;
}

void TzfMemoryStream::LoadFromStream(TStream& aStream) {
  aStream.SetPosition(0);
  int64_t size = aStream.GetSize();
  if (size < 0 || size > kMaxSize) zf::rtl::RaiseRangeError();
  SetSize(size);
  if (size != 0) aStream.ReadBuffer(cmsMemory, size);
}

void TzfMemoryStream::LoadFromFile(const UnicodeString& aFileName) {
  TFileHandleStream file(aFileName, false);
  LoadFromStream(file);
}

// ---------------------------------------------------------------------------------------------
// TzfStaticMemoryStream

TzfStaticMemoryStream::TzfStaticMemoryStream(void* aMemory, int32_t aSize) {
  SetPointer(aMemory, std::max<int32_t>(aSize, 0));
}

int32_t TzfStaticMemoryStream::Write(const void* aBuffer, int32_t aCount) {
  if (cmsPosition < 0 || aCount < 0) return 0;
  if (cmsPosition == 0 && aCount == 0) return 0;  // position + count not above 0
  if (cmsPosition >= cmsSize) {
    // Full: nothing is stored, and the count says so (never a negative count).
    cmsPosition = cmsSize;
    return 0;
  }
  int64_t n = std::min<int64_t>(aCount, cmsSize - cmsPosition);
  std::memcpy(cmsMemory + cmsPosition, aBuffer, static_cast<size_t>(n));
  cmsPosition += n;
  return static_cast<int32_t>(n);
}

// ---------------------------------------------------------------------------------------------
// TzfAnsiStringStream

int32_t TzfAnsiStringStream::Read(void* aBuffer, int32_t aCount) {
  const std::string& data = assDataString.Bytes();
  int64_t n = std::min<int64_t>(aCount, static_cast<int64_t>(data.size()) - assPosition);
  if (n < 1) return 0;
  std::memcpy(aBuffer, data.data() + assPosition, static_cast<size_t>(n));
  assPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TzfAnsiStringStream::Write(const void* aBuffer, int32_t aCount) {
  if (aCount < 1) return 0;
  std::string& data = assDataString.Bytes();
  int64_t end = assPosition + aCount;
  if (end > TzfCustomMemoryStream::kMaxSize) zf::rtl::RaiseOutOfMemory();
  if (static_cast<int64_t>(data.size()) < end) data.resize(static_cast<size_t>(end));
  std::memcpy(data.data() + assPosition, aBuffer, static_cast<size_t>(aCount));
  assPosition = end;
  return aCount;
}

int64_t TzfAnsiStringStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
  int64_t len = static_cast<int64_t>(assDataString.Length());
  int64_t pos = assPosition;
  switch (aOrigin) {
    case TSeekOrigin::soBeginning: pos = aOffset; break;
    case TSeekOrigin::soCurrent: pos = zf::rtl::CheckedAdd(assPosition, aOffset); break;
    case TSeekOrigin::soEnd: pos = zf::rtl::CheckedAdd(len, aOffset); break;  // the stream contract: end + offset
  }
  assPosition = std::clamp<int64_t>(pos, 0, len);
  return assPosition;
}

void TzfAnsiStringStream::SetSize(int64_t aNewSize) {
  if (aNewSize < 0) zf::rtl::RaiseRangeError();
  if (aNewSize > TzfCustomMemoryStream::kMaxSize) zf::rtl::RaiseOutOfMemory();
  assDataString.Bytes().resize(static_cast<size_t>(aNewSize));
  if (assPosition > aNewSize) assPosition = aNewSize;
}

zf::rtl::AnsiString TzfAnsiStringStream::ReadString(int32_t aCount) {
  const std::string& data = assDataString.Bytes();
  int64_t n = std::min<int64_t>(aCount, static_cast<int64_t>(data.size()) - assPosition);
  if (n < 1) return zf::rtl::AnsiString();
  zf::rtl::AnsiString r(data.substr(static_cast<size_t>(assPosition), static_cast<size_t>(n)));
  assPosition += n;
  return r;
}

void TzfAnsiStringStream::WriteString(const zf::rtl::AnsiString& aString) {
  if (aString.IsEmpty()) return;
  const uint16_t cp = aString.CodePage();
  if (cp == zf::rtl::CP_RAWBYTES || zf::rtl::ResolveCodePage(cp) == zf::rtl::ResolveCodePage(zf::rtl::CP_ACP)) {
    WriteBuffer(aString.Bytes().data(), static_cast<int64_t>(aString.Length()));
    return;
  }
  zf::rtl::AnsiString converted = zf::rtl::UnicodeToAnsi(zf::rtl::AnsiToUnicode(aString), zf::rtl::CP_ACP);
  if (!converted.IsEmpty()) WriteBuffer(converted.Bytes().data(), static_cast<int64_t>(converted.Length()));
}

}  // namespace zf
