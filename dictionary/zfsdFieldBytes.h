// Small helpers over the bytes of a record field, shared by the key field engines and the filter
// expression engine.
#pragma once
#include <cstdint>
#include <cstring>

namespace zf {

// The value of type T at p, in the order the record holds it (the host's own).
template <typename T>
inline T zfLoadField(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

// -1, 0 or 1 as a sorts before, with or after b.
template <typename T>
inline int8_t zfCompareValues(T a, T b) {
  if (a < b) return -1;
  if (b < a) return 1;
  return 0;
}

}  // namespace zf
