// Blocks of a table file: numbers, sizes, the little-endian field helpers every block format is
// read and written with, the 16-byte common header that begins every block, and the release
// method that comes with every block reference the cache hands out.
//
// Common block header, at offset 0 of every block of every table file:
//
// | offset | size | field          | meaning                                                      |
// |--------|------|----------------|--------------------------------------------------------------|
// | 0      | 4    | `bchSignature` | four ASCII characters naming the block kind ("ZF!2", "DEAD") |
// | 4      | 4    | `bchThisBlock` | the block's own number, unsigned                             |
// | 8      | 8    | `bchLSN`       | signed LSN of the transaction that last wrote the block      |
//
// Block n lies at byte offset n * block size; a table file's block size is 4096 << code, code 0..4.
// Blocks are byte arrays: fields are read and written through the helpers below, never through a
// structure laid over the bytes.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "foundation/zfllMemoryManager.h"

namespace zf {

using TzfBlockNumber = uint32_t;
using TzfLSN = int64_t;
// A block in memory: its first byte. Every block of a file has the file's physical block size.
using PzfBlock = uint8_t*;
using PzfByteArray = uint8_t*;
using TzfByteDynArray = std::vector<uint8_t>;
// The number of a block in the temporary store.
using TzfBlockTmpNum = uint32_t;

inline constexpr uint32_t kzfBlockCommonHeaderSize = 16;
inline constexpr uint32_t kzfMinBlockSizeBytes = 4096;
inline constexpr uint32_t kzfMaxBlockSizeBytes = 65536;

// ---- little-endian fields ----

inline uint16_t zfGetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t zfGetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t zfGetLE64(const uint8_t* p) {
  return static_cast<uint64_t>(zfGetLE32(p)) | (static_cast<uint64_t>(zfGetLE32(p + 4)) << 32);
}
inline void zfPutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void zfPutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void zfPutLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- block sizes ----

// Physical bytes of a table-file block of size code aSize (4096 << code).
constexpr uint32_t zfBlockBytes(TzfBlockSize aSize) { return zfFileBlockSizeBytes(aSize); }
// log2 of the block size: the shift from a block number to its file offset.
constexpr uint32_t zfBlockShift(TzfBlockSize aSize) { return 12u + static_cast<uint32_t>(aSize); }
// The block pool of the same size.
constexpr TzfBlockSizeAll zfBlockSizeAllOf(TzfBlockSize aSize) { return static_cast<TzfBlockSizeAll>(aSize); }
// True for the codes a table file may use (0..4).
constexpr bool zfIsValidBlockSizeCode(uint8_t aCode) { return aCode <= static_cast<uint8_t>(zfbsLastFileBlockSize); }

// ---- common block header ----

struct TzfBlockCommonHeader {
  TzfBlockSignature bchSignature{};
  TzfBlockNumber bchThisBlock = 0;
  TzfLSN bchLSN = 0;
};

inline TzfBlockSignature zfGetBlockSignature(const uint8_t* aBlock) {
  TzfBlockSignature s;
  std::memcpy(s.data(), aBlock, 4);
  return s;
}
inline void zfSetBlockSignature(uint8_t* aBlock, const TzfBlockSignature& aSignature) {
  std::memcpy(aBlock, aSignature.data(), 4);
}
inline TzfBlockNumber zfGetThisBlock(const uint8_t* aBlock) { return zfGetLE32(aBlock + 4); }
inline void zfSetThisBlock(uint8_t* aBlock, TzfBlockNumber aNumber) { zfPutLE32(aBlock + 4, aNumber); }
inline TzfLSN zfGetBlockLSN(const uint8_t* aBlock) { return static_cast<TzfLSN>(zfGetLE64(aBlock + 8)); }
inline void zfSetBlockLSN(uint8_t* aBlock, TzfLSN aLSN) { zfPutLE64(aBlock + 8, static_cast<uint64_t>(aLSN)); }

inline TzfBlockCommonHeader zfReadBlockCommonHeader(const uint8_t* aBlock) {
  return {zfGetBlockSignature(aBlock), zfGetThisBlock(aBlock), zfGetBlockLSN(aBlock)};
}
inline void zfWriteBlockCommonHeader(uint8_t* aBlock, const TzfBlockCommonHeader& aHeader) {
  zfSetBlockSignature(aBlock, aHeader.bchSignature);
  zfSetThisBlock(aBlock, aHeader.bchThisBlock);
  zfSetBlockLSN(aBlock, aHeader.bchLSN);
}

// A signature as text for messages: the four bytes, each byte one character.
rtl::UnicodeString zfSignatureText(const TzfBlockSignature& aSignature);
inline bool zfIsZeroSignature(const TzfBlockSignature& aSignature) {
  return aSignature[0] == 0 && aSignature[1] == 0 && aSignature[2] == 0 && aSignature[3] == 0;
}

// ---- release method ----

// Comes with every block reference the cache hands out: calling it gives the block back and clears
// the holder's variable. A method pointer: code and the object it runs on.
struct TzfReleaseMethod {
  using TProc = void (*)(void* aSelf, PzfBlock& aBlock);
  TProc Proc = nullptr;
  void* Self = nullptr;

  explicit operator bool() const { return Proc != nullptr; }
  void operator()(PzfBlock& aBlock) const {
    if (Proc) Proc(Self, aBlock);
    aBlock = nullptr;
  }
};

// One block reference with its release method, given back when the holder goes (or drops it).
struct TzfHeldBlock {
  PzfBlock Block = nullptr;
  TzfReleaseMethod Release;
  TzfHeldBlock() = default;
  TzfHeldBlock(const TzfHeldBlock&) = delete;
  TzfHeldBlock& operator=(const TzfHeldBlock&) = delete;
  ~TzfHeldBlock() { Drop(); }
  void Drop() {
    if (Block) Release(Block);
    Block = nullptr;
  }
  // Gives back the block held and takes over aOther's, leaving aOther empty.
  void Take(TzfHeldBlock& aOther) {
    Drop();
    Block = aOther.Block;
    Release = aOther.Release;
    aOther.Block = nullptr;
  }
};

// A buffer of one block from the engine's block pool of that size, returned when it goes.
class TzfPooledBlock {
 public:
  explicit TzfPooledBlock(TzfBlockSizeAll aSize);
  ~TzfPooledBlock();
  TzfPooledBlock(const TzfPooledBlock&) = delete;
  TzfPooledBlock& operator=(const TzfPooledBlock&) = delete;
  uint8_t* Data() const { return FData; }
  uint32_t Size() const { return static_cast<uint32_t>(zfBlockSizeBytes(FSize)); }

 private:
  TzfBlockSizeAll FSize;
  uint8_t* FData = nullptr;
};

}  // namespace zf
