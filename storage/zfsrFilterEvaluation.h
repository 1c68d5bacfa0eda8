// The filter test that record and index engines call while they scan.
//
// Record engines sit below the index layer, which owns the filter engines. A scan that takes a
// filter holds it as this interface: the index layer's filter engines implement it, and the
// storage layer never includes index code. Header-only on purpose.
#pragma once
#include <cstdint>

namespace zf {

class IzfFilterEvaluation {
 public:
  // True when the buffer (a record, or an index key for a key filter) passes. An inactive filter
  // passes every buffer.
  virtual bool MatchesBuffer(const uint8_t* aBuffer) = 0;
  // True while the filter is switched on.
  virtual bool IsActive() = 0;

 protected:
  ~IzfFilterEvaluation() = default;
};

}  // namespace zf
