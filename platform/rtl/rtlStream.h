// The platform's abstract stream: byte reads and writes at a position, with the exact-count
// forms ReadBuffer/WriteBuffer that raise EReadError/EWriteError when fewer bytes move.
#pragma once
#include <cstdint>

namespace zf::rtl {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Move up to aCount bytes; answer how many moved (0 at the end; never negative).
  virtual int32_t Read(void* aBuffer, int32_t aCount) = 0;
  virtual int32_t Write(const void* aBuffer, int32_t aCount) = 0;
  virtual int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) = 0;

  virtual int64_t GetSize();
  virtual void SetSize(int64_t aNewSize);
  int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t aPos) { Seek(aPos, TSeekOrigin::soBeginning); }

  void ReadBuffer(void* aBuffer, int64_t aCount);         // EReadError "Stream read error"
  void WriteBuffer(const void* aBuffer, int64_t aCount);  // EWriteError "Stream write error"
  // Copies aCount bytes from aSource at its position (0 = the whole source from its start).
  int64_t CopyFrom(TStream& aSource, int64_t aCount);
};

}  // namespace zf::rtl
