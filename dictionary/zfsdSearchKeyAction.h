// How a key search picks its key, shared by the cursor interface and the index engines.
#pragma once
#include <cstdint>

namespace zf {

enum TzfSearchKeyAction : uint8_t {
  skaEqualFirst, skaGreaterEqual, skaGreater, skaEqualLast, skaSmallerEqual, skaSmaller, skaAnyEqual,
  skaAnyGreaterEqual, skaAnyGreater, skaAnySmallerEqual, skaAnySmaller
};

}  // namespace zf
