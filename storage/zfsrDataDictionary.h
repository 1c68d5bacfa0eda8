// The server-side data dictionary: the class of every opened table's dictionary. It lives in the
// table file as the named stream "DICT" of the table's stream engine, adds the storage checks
// (header format, every sub-engine kind) to the dictionary's validation and computes usable block
// sizes with the file format's reserves.
#pragma once
#include <cstdint>

#include "dictionary/zfsdDataDictionary.h"
#include "storage/zfsrExceptions.h"
#include "storage/zfsrStreamEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfServerDataDictException, EzfServerException)

class TzfServerDataDict : public TzfDataDictionary {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfServerDataDictException)
 public:
  TzfServerDataDict() = default;

  // Reads "DICT" through the stream engine (9992 "The data dictionary is missing (%s)" with the
  // table file's name when there is none), then ReadFromStream with the data file's base name; the
  // header signature becomes the table file's; the dictionary becomes read-only.
  void ReadFromFile(TzfBaseStreamEngine& aStreamEngine, TzfBaseTransaction* aTrans);
  // CheckValid(False), ddBaseName := the data file's base name, writes the dictionary for client
  // version aVersion as "DICT", makes the dictionary read-only. Nothing is written when the check
  // fails.
  void WriteToFile(TzfBaseStreamEngine& aStreamEngine, TzfBaseTransaction* aTrans, int32_t aVersion);
  void ForceOnReadOnly() { MakeReadOnly(); }
  // Clears the read-only flag and deactivates the caches.
  void ForceOffReadOnly();

  // The dictionary's check, then the header format's (15414, 15504) and every sub-engine kind's.
  void CheckValid(bool aForBuild) override;
  // The block minus the encryption engine's per-block reserve (when one is named) minus the
  // header format's reserve (4 for "ZF!2").
  uint32_t UsableBlockSize(TzfBlockSize aBlockSize) override;
  // Also equal in class to a plain TzfDataDictionary.
  bool IsEqualClass(const TzfDictionaryItem* aItem) const override;
};

rtl::TUnitInit& zfsrDataDictionaryUnit();

}  // namespace zf
