// In-memory streams of the engine.
//
// TzfMemoryStream keeps its bytes in address space reserved straight from the operating system
// and committed page by page, so that large streams (dictionary images, BLOB copies, whole table
// streams) grow without copying in most cases and without fragmenting the engine heap.
// TzfStaticMemoryStream is a fixed-size stream over memory its caller owns, and
// TzfAnsiStringStream a stream over an 8-bit string that can be taken back as a string.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlStream.h"
#include "platform/rtl/rtlText.h"

namespace zf {

// Base of the memory-backed streams: reading and seeking over cmsMemory/cmsSize.
class TzfCustomMemoryStream : public zf::rtl::TStream {
 public:
  // Largest content a memory stream holds: sizes, counts and positions are 32-bit for callers.
  static constexpr int64_t kMaxSize = 0x7FFFFFFF;

  // 0 when the position or aCount is negative or nothing is left; otherwise copies
  // min(aCount, size - position) bytes and advances.
  int32_t Read(void* aBuffer, int32_t aCount) override;
  // Origin beginning/current/end set, add to, or set to size + offset. No clamping: a position
  // beyond the end or below 0 makes reads and writes do nothing.
  int64_t Seek(int64_t aOffset, zf::rtl::TSeekOrigin aOrigin) override;
  int64_t GetSize() override { return cmsSize; }

  // Writes the whole content to aStream (nothing when empty).
  void SaveToStream(zf::rtl::TStream& aStream);
  // Creates or truncates the file and saves into it.
  void SaveToFile(const zf::rtl::UnicodeString& aFileName);
  zf::rtl::TStream& TheStream() { return *this; }

  void* Memory() const { return cmsMemory; }
  int64_t Size() const { return cmsSize; }
  int64_t Position() const { return cmsPosition; }

 protected:
  void SetPointer(void* aMemory, int64_t aSize) {
    cmsMemory = static_cast<uint8_t*>(aMemory);
    cmsSize = aSize;
  }

  uint8_t* cmsMemory = nullptr;
  int64_t cmsSize = 0;      // bytes of content, 0 .. kMaxSize
  int64_t cmsPosition = 0;  // may lie beyond the size or below 0
};

// Growable stream on reserved-then-committed virtual memory.
class TzfMemoryStream : public TzfCustomMemoryStream {
 public:
  // aInitial: reservation of the first growth. -1 gives 64 KB; below 65536 gives 512 KB;
  // otherwise rounded up to a multiple of 64 KB. Nothing is reserved before the first growth.
  explicit TzfMemoryStream(int32_t aInitial = 0);
  ~TzfMemoryStream() override;
  TzfMemoryStream(const TzfMemoryStream&) = delete;
  TzfMemoryStream& operator=(const TzfMemoryStream&) = delete;

  int32_t Write(const void* aBuffer, int32_t aCount) override;
  // Grows the capacity when needed, sets the size, and pulls the position back to the new end
  // when it lay beyond. Shrinking gives no memory back.
  void SetSize(int64_t aNewSize) override;

  // Commits at least aNewCapacity bytes; a smaller value keeps what is committed, 0 releases all.
  void SetCapacity(int64_t aNewCapacity);
  int64_t Capacity() const { return msCommited; }
  int64_t Reserved() const { return msReserved; }
  int64_t ReserveInitial() const { return msReserveInitial; }

  // Capacity 0, size 0, position 0; every reservation goes back to the operating system.
  void Clear();
  // Replaces the content with the whole of aStream (read from its start).
  void LoadFromStream(zf::rtl::TStream& aStream);
  void LoadFromFile(const zf::rtl::UnicodeString& aFileName);

 protected:
  // Settles the capacity (rounded to pages, never lowered except to 0) and answers the memory.
  virtual uint8_t* Realloc(int64_t& aNewCapacity);

 private:
  void Grow(int64_t aEnd);
  void ReleaseAll();

  int64_t msReserveInitial;
  int64_t msReserved = 0;
  std::vector<uint8_t*> msReservedBases;  // every separate reservation, in address order
  int64_t msCommited = 0;
};

// Fixed-size stream over caller-owned memory. Writes store only what fits.
class TzfStaticMemoryStream : public TzfCustomMemoryStream {
 public:
  TzfStaticMemoryStream(void* aMemory, int32_t aSize);

  // Copies the part that fits below the fixed size, leaves the position at the end of what was
  // written and answers the number of bytes copied (0 when nothing fits).
  int32_t Write(const void* aBuffer, int32_t aCount) override;
  void SetSize(int64_t) override {}
};

// Stream over an 8-bit string; the content can be taken back with DataString.
class TzfAnsiStringStream : public zf::rtl::TStream {
 public:
  explicit TzfAnsiStringStream(zf::rtl::AnsiString aString = {}) : assDataString(std::move(aString)) {}

  int32_t Read(void* aBuffer, int32_t aCount) override;
  int32_t Write(const void* aBuffer, int32_t aCount) override;
  // Beginning/current/end: offset, position + offset, length + offset; clamped to 0 .. length.
  int64_t Seek(int64_t aOffset, zf::rtl::TSeekOrigin aOrigin) override;
  int64_t GetSize() override { return static_cast<int64_t>(assDataString.Length()); }
  // Sets the string's length; the position comes down to it when it lay beyond.
  void SetSize(int64_t aNewSize) override;

  // The next min(aCount, remaining) bytes (empty when none), advancing the position.
  zf::rtl::AnsiString ReadString(int32_t aCount);
  // Writes the string's bytes, converted to the system ANSI code page when it is held in another.
  void WriteString(const zf::rtl::AnsiString& aString);
  const zf::rtl::AnsiString& DataString() const { return assDataString; }

 private:
  zf::rtl::AnsiString assDataString;
  int64_t assPosition = 0;  // 0 .. length
};

}  // namespace zf
