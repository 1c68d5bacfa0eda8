// The stream engine "zf1xDefault": every stream is a chain of blocks of the table's main file; the
// names of the named streams map to their chains in one more chain, the stream map ("SMAP").
//
// Header section (8 bytes; name: the stream descriptor's header section, "Stream" without one):
//
// | offset | size | content                                                   |
// |--------|------|-----------------------------------------------------------|
// | 0      | 4    | first block of the "DICT" stream; 0 = no dictionary       |
// | 4      | 4    | first block of the stream map; 0 = no named streams       |
//
// Stream block (every block of a chain):
//
// | offset | size       | content                                                           |
// |--------|------------|-------------------------------------------------------------------|
// | 0      | 4          | signature "ZFSH"                                                  |
// | 4      | 4          | number of this block                                              |
// | 8      | 8          | LSN (0 when created; the cache stamps it)                         |
// | 16     | 4          | next block of the chain; 0xFFFFFFFF = last                        |
// | 20     | 4          | stream signature, the same in every block of the chain            |
// | 24     | 4          | total length of the stream (first block only, 0 in the others)   |
// | 28     | 4          | first block of the chain (the stream number), in every block      |
// | 32     | usable-32  | stream data                                                       |
//
// A stream of length L takes max(1, ceil(L / (usable - 32))) blocks. A new block is zero-filled
// from offset 32 to the end of its usable part; a stream rewritten shorter keeps stale bytes behind
// its length.
//
// Stream map (content of the "SMAP" stream): a 4-byte entry count, then per entry a name length
// byte, the name in the system ANSI code page and the 4-byte first block of the stream. Entries are
// sorted with ASCII case ignored; names are unique without regard to case; "DICT" is never in it.
//
// Checks on reading: every block of a chain must be a valid block number of the file (15409),
// carry "ZFSH" and its own number (15421), and, after the first, name the chain's first block and
// signature (15421: a block of another chain). A chain is followed at most once per block (a cycle
// is 15421), ends exactly where its length says (15421 when it ends early), and a length that the
// file's blocks cannot hold is refused before anything is allocated (15421). A map whose count,
// names or entries do not fit its bytes, or that repeats a name, is refused with 8962. The same
// checks guard the deletion of a chain, so a damaged chain never frees a block of another owner.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "storage/zfsrStreamEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfseStreamEngineExcpetion, EzfStreamEngineException)

inline constexpr TzfBlockSignature kzfStreamBlockSignature{'Z', 'F', 'S', 'H'};
inline constexpr TzfBlockSignature kzfStreamSigDictionary{'D', 'I', 'C', 'T'};
inline constexpr TzfBlockSignature kzfStreamSigUser{'U', 'S', 'E', 'R'};
inline constexpr TzfBlockSignature kzfStreamSigMap{'S', 'M', 'A', 'P'};
inline constexpr uint32_t kzfStreamBlockHeaderSize = 32;
inline constexpr uint32_t kzfStreamLastBlock = 0xFFFFFFFF;

// One entry of the stream map: name and first block.
using TzfStreamMapEntry = std::pair<UnicodeString, uint32_t>;
using TzfStreamMap = std::vector<TzfStreamMapEntry>;

// Parses the bytes of a stream map (8962 when they are damaged; aFileName names the file in the
// message). Entries come out in the stored order, which must be sorted and free of repeats.
TzfStreamMap zfParseStreamMap(const uint8_t* aData, size_t aSize, const UnicodeString& aFileName);
// The bytes of a map (names converted to the system ANSI code page; a name longer than 255 bytes
// is a range error).
std::string zfBuildStreamMap(const TzfStreamMap& aMap);

class TzfSimpleStreamEngine : public TzfBaseStreamEngine {
 public:
  // Registers the header section: creates it with both words 0 when aTrans is given (table being
  // created), looks it up otherwise (table being opened).
  TzfSimpleStreamEngine(TzfBaseStreamDescriptor* aDescriptor, TzfBaseTransaction* aTrans, TzfBlockAccess* aDataFile);

  static const TzfStreamEngineClass& ClassInfo();
  const TzfStreamEngineClass& ClassType() const override { return ClassInfo(); }

  void DeleteStream(TzfBaseTransaction* aTrans, uint32_t aStreamNr) override;
  void ReadStream(TzfBaseTransaction* aTrans, uint32_t aStreamNr, rtl::TStream& aStream) override;
  void WriteStream(TzfBaseTransaction* aTrans, uint32_t& aStreamNr, rtl::TStream& aStream, bool aCreateNew,
                   const TzfBlockSignature& aStreamSig) override;
  uint32_t GetNamedStreamList(TzfBaseTransaction* aTrans, rtl::TStrings& aStreams) override;
  uint32_t GetNamedStreamCount(TzfBaseTransaction* aTrans, uint32_t& aCount) override;
  uint32_t DeleteNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName) override;
  uint32_t ReadNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName, rtl::TStream& aStream) override;
  uint32_t WriteNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName, rtl::TStream& aStream) override;

  // The stream map as stored (empty without named streams).
  TzfStreamMap ReadMap(TzfBaseTransaction* aTrans);

  uint16_t seHeaderSection = 0;

 private:
  uint32_t DictWord(TzfBaseTransaction* aTrans);
  uint32_t MapWord(TzfBaseTransaction* aTrans);
  void SetWord(TzfBaseTransaction* aTrans, uint32_t aOffset, uint32_t aValue);
  void WriteMap(TzfBaseTransaction* aTrans, const TzfStreamMap& aMap);
  void DeleteChain(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess& aHeader, uint32_t aStreamNr,
                   bool aSpareFirst);
};

rtl::TUnitInit& zfseStreamEngineSimpleUnit();

}  // namespace zf
