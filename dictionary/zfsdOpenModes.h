// How tables and files are opened: the open mode, the share mode and the scope of a table. One
// declaration for the abstract server level and the storage files.
#pragma once
#include <cstdint>

namespace zf {

enum TzfOpenMode : uint8_t { omReadOnly, omWriteOnly, omReadWrite };
enum TzfShareMode : uint8_t { smExclusive, smShared, smShareRead };
enum TzfTableScope : uint8_t { tsPersistent, tsTempGlobal, tsTempDatabase, tsTempUnnamed };

}  // namespace zf
