// What a table's full-text indexes hold, read through their engines outside any transaction:
// the keys of a main-index token index and the bits of the bit arrays of a bit-array token index.
// Shared by the full-text tests and the tests of the tasks that copy or sort such tables.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "foundation/zfllStreams.h"
#include "index/zfsdKeyEngineToken.h"
#include "index/zfseFulltextEngineTable.h"
#include "index/zfseIndicesEngineKind.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrBlobEngineBase.h"

namespace zf::test {

// The words of aText as the default category separator and the lower-case filter give them for
// plain ASCII text: runs of letters, digits and '-', lower-cased.
inline std::set<UnicodeString> Words(const UnicodeString& aText) {
  std::set<UnicodeString> r;
  UnicodeString w;
  for (char16_t c : aText + u" ") {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-') {
      w += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    } else if (!w.empty()) {
      r.insert(w);
      w.clear();
    }
  }
  return r;
}

using TBitEntry = std::tuple<uint16_t, UnicodeString, int16_t, uint32_t>;  // segment, token, field, bit

// What the tables hold, read through their engines outside any transaction.
class TIndexReader {
 public:
  explicit TIndexReader(TzfServerTableCursor& aCursor) : FTable(*aCursor.Table()) {}

  // Every key of main index aNumber as (token, location).
  std::multiset<std::pair<UnicodeString, uint32_t>> MainKeys(int32_t aNumber) {
    std::multiset<std::pair<UnicodeString, uint32_t>> r;
    EachMainKey(aNumber, [&](const UnicodeString& aToken, uint32_t aLocation, int64_t) { r.emplace(aToken, aLocation); });
    return r;
  }
  // Every key of main index aNumber as (token, reference number of its record).
  std::multiset<std::pair<UnicodeString, int64_t>> MainKeyRefs(int32_t aNumber) {
    std::multiset<std::pair<UnicodeString, int64_t>> r;
    EachMainKey(aNumber, [&](const UnicodeString& aToken, uint32_t, int64_t aRefNr) { r.emplace(aToken, aRefNr); });
    return r;
  }

  // Every bit of every array under the forward tree of full-text index aIndex's token index
  // aTokenIndex (its place in the hub); checks each array's count and, when there is one, the
  // reverse tree's keys and arrays.
  std::set<TBitEntry> Bits(int32_t aIndex, int32_t aTokenIndex = 0) {
    auto& table = dynamic_cast<TzfFulltextTableEngine&>(*FTable.sbtFulltextEngine);
    auto& bits = dynamic_cast<TzfBitArrayTokenIndexTableEngine&>(
        table.ftteFulltextIndices[static_cast<size_t>(aIndex)]->fiteTokenIndexHub->TokenIndex(aTokenIndex));
    std::set<TBitEntry> r;
    std::map<std::tuple<uint16_t, UnicodeString, int16_t>, int64_t> forward = Tree(table, *bits.batiteIndexEngine);
    for (const auto& [key, blob] : forward) {
      const std::string bytes = ReadBlob(table, blob);
      EXPECT_GE(bytes.size(), 5u);
      uint32_t count = 0, set = 0;
      std::memcpy(&count, bytes.data(), 4);
      for (size_t i = 4; i < bytes.size(); ++i)
        for (int b = 0; b < 8; ++b)
          if (static_cast<uint8_t>(bytes[i]) >> b & 1) {
            r.emplace(std::get<0>(key), std::get<1>(key), std::get<2>(key), static_cast<uint32_t>((i - 4) * 8 + b));
            ++set;
          }
      EXPECT_EQ(count, set) << "count of the array of " << rtl::u8(std::get<1>(key));
    }
    if (bits.batiteReverseIndexEngine) {
      auto reverse = Tree(table, *bits.batiteReverseIndexEngine);
      std::map<std::tuple<uint16_t, UnicodeString, int16_t>, int64_t> unreversed;
      for (const auto& [key, blob] : reverse) {
        UnicodeString t = std::get<1>(key);
        std::reverse(t.begin(), t.end());
        unreversed[{std::get<0>(key), t, std::get<2>(key)}] = blob;
      }
      EXPECT_EQ(unreversed, forward);
    }
    return r;
  }

 private:
  template <class TVisit>
  void EachMainKey(int32_t aNumber, TVisit aVisit) {
    TzfBaseIndicesEngine& ix = *FTable.sbtIndicesEngine;
    ix.SetTransaction(nullptr);
    TzfBaseIndexEngine& e = ix.GetIndexEngine(aNumber);
    auto& key = dynamic_cast<TzfMainIndexTokenKeyEngine&>(*e.bieKeyEngine);
    auto path = e.CreateIndexPath();
    path->SetToBof();
    while (e.NextKey(ix.Indices().Store(aNumber), *path, nullptr))
      aVisit(zfWideStringToUnicodeString(key.KeyToken(path->Key)), key.KeyLocation(path->Key), path->RefNr);
  }
  std::map<std::tuple<uint16_t, UnicodeString, int16_t>, int64_t> Tree(TzfFulltextTableEngine& aTable,
                                                                       TzfBaseIndexEngine& aEngine) {
    std::map<std::tuple<uint16_t, UnicodeString, int16_t>, int64_t> r;
    TzfBaseIndicesEngine& ix = *aTable.ftteIndicesEngine;
    ix.SetTransaction(nullptr);
    auto& key = dynamic_cast<TzfBitArrayTokenKeyEngine&>(*aEngine.bieKeyEngine);
    auto path = aEngine.CreateIndexPath();
    path->SetToBof();
    while (aEngine.NextKey(ix.Indices().Store(aEngine.bieIndexNumber), *path, nullptr)) {
      const bool fresh = r.emplace(std::make_tuple(TzfBitArrayTokenKeyEngine::KeySegment(path->Key),
                                                   zfWideStringToUnicodeString(key.KeyToken(path->Key)),
                                                   key.KeyField(path->Key)),
                                   path->RefNr)
                             .second;
      EXPECT_TRUE(fresh);
    }
    return r;
  }
  static std::string ReadBlob(TzfFulltextTableEngine& aTable, int64_t aBlob) {
    uint32_t len = 0;
    EXPECT_EQ(aTable.ftteBlobEngine->GetBlobLength(nullptr, aBlob, {}, len), 0u);
    TzfMemoryStream ms;
    EXPECT_EQ(aTable.ftteBlobEngine->Read(nullptr, aBlob, 0, len, {}, ms), 0u);
    return std::string(static_cast<const char*>(ms.Memory()), static_cast<size_t>(ms.Size()));
  }

  TzfServerBaseTable& FTable;
};

}  // namespace zf::test
