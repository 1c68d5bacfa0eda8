// Pass-through interfaces an engine session may implement when it is reached through a transport
// (no engine session of this system does). The client session forwards its calls to them.
#pragma once
#include <cstdint>

namespace zf {
namespace rtl {
class TStream;
}

class IzfSessionPassThrough {
 public:
  virtual int32_t PassThrough(int32_t aValue) = 0;

 protected:
  ~IzfSessionPassThrough() = default;
};

// Each call carries the time it may take in milliseconds.
class IzfSessionTimedPassThrough {
 public:
  virtual uint32_t TimedPassThrough(uint32_t aTimeout, int32_t aValue, int32_t& aResult) = 0;
  virtual uint32_t TimedPassThroughStream(uint32_t aTimeout, rtl::TStream* aRequest, rtl::TStream* aReply) = 0;
  virtual void TimedNotify(uint32_t aTimeout) = 0;

 protected:
  ~IzfSessionTimedPassThrough() = default;
};

}  // namespace zf
