// Session notifications: objects that want to hear when a session goes away register here.
//
// A session (the server's and the client's) owns one TzfSessionNotifications, made on first
// request. Register answers a 16-byte cookie (four 32-bit words: the list's identity, the item's
// identity, the registration tick and the XOR of the three; all zero for nothing registered);
// Unregister drops a registration only for a cookie that passes every check, so forged, stale or
// foreign cookies do nothing. Identities are serial numbers, never addresses. Disconnected tells
// every registrant once (also those that register meanwhile) and drops them.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllSync.h"
#include "platform/rtl/rtlGuid.h"

namespace zf {

// The registrant: told once when the session goes away. Counted: the list holds a reference.
class IzfSessionNotifier {
 public:
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;
  virtual void SessionDisconnected() = 0;

 protected:
  ~IzfSessionNotifier() = default;
};

class IzfSessionNotifications {
 public:
  // A null notifier gives the empty cookie and registers nothing.
  virtual void Register(IzfSessionNotifier* aNotifier, rtl::TGUID& aCookie) = 0;
  // Never raises; a cookie that fails a check does nothing.
  virtual void Unregister(const rtl::TGUID& aCookie) = 0;

 protected:
  ~IzfSessionNotifications() = default;
};

class TzfSessionNotifications : public TzfObject, public IzfSessionNotifications {
 public:
  TzfSessionNotifications();
  // Disconnected first.
  ~TzfSessionNotifications() override;

  void Register(IzfSessionNotifier* aNotifier, rtl::TGUID& aCookie) override;
  void Unregister(const rtl::TGUID& aCookie) override;
  // Tells and drops every registrant, first registered first; a registrant's exception is dropped.
  void Disconnected();
  int32_t Count();

 private:
  struct TItem {
    uint32_t Id;
    uint32_t TickCount;
    RefPtr<IzfSessionNotifier> Notifier;
  };
  TzfPadlock snPadlock{true};
  std::vector<TItem> snItems;  // in registration order
  uint32_t snId;
  uint32_t snNextItemId = 0;
};

}  // namespace zf
