// The sample log table of the developer tool, made through the server engine as the product's
// log files are: ID AutoInc (unique index "ByID"), Stamp DateTime, Level Int32 (validation
// "LevelRange": 0 to 5), Text NullString(60), Memo BlobMemo (on some records); optionally a
// full-text index over Text.
// Used by `zftable make-log`, the recover tests and the recover fuzz target.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "dictionary/zfsdDataDictionary.h"

namespace zf {
class TzfServerDatabase;
}

namespace zf::kit {

struct TLogOptions {
  uint32_t Records = 0;
  uint64_t Seed = 1;
  // Records whose level is outside the validation's range, inserted with validation off: one in
  // every InvalidEvery (0: none).
  uint32_t InvalidEvery = 0;
  // Records with a memo BLOB of 40 to 6000 bytes: one in every MemoEvery (0: none).
  uint32_t MemoEvery = 5;
  // The encryption engine of the table ("" for none); an enciphered table gets the built-in
  // password.
  std::u16string Encryption;
  // A full-text index "Words" over Text: words split at the default categories, lower-cased, kept
  // as keys of the index "Tokens" and as bit arrays per location.
  bool Fulltext = false;
};

inline constexpr int32_t kLogLevelMax = 5;

// The log table's dictionary (with aFulltext its full-text index and the index "Tokens").
std::unique_ptr<TzfDataDictionary> LogDictionary(bool aFulltext = false);

// Builds aTableName on aDatabase (replacing it) and inserts the records through a cursor, in one
// transaction per 1000 records; IDs 1 .. Records from the auto-increment counter. Raises a coded
// error on failure. The caller's session lock is taken per operation (public operations).
void FillLogTable(TzfServerDatabase& aDatabase, const std::u16string& aTableName, const TLogOptions& aOptions);

// Makes the table file aPath (its folder, its name, its extension as the table extension;
// "dvl7" without one) with an engine of its own. The server layer must be started
// (zfStartServer). Raises a coded error on failure.
void MakeLogTable(const std::string& aPath, const TLogOptions& aOptions);

}  // namespace zf::kit
