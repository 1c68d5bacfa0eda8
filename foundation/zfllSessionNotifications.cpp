#include "foundation/zfllSessionNotifications.h"

#include "platform/os/osSystem.h"

namespace zf {

namespace {

std::atomic<uint32_t> gNextListId{0};

// The cookie's 16 bytes (the GUID's stored form) as four little-endian 32-bit words.
rtl::TGUID MakeCookie(const uint32_t (&aWords)[4]) {
  uint8_t bytes[16];
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < 4; ++i) bytes[4 * w + i] = static_cast<uint8_t>(aWords[w] >> (8 * i));
  return rtl::GUIDFromBytes(bytes);
}

uint32_t GetWord(const rtl::TGUID& aGuid, int aIndex) {
  uint8_t bytes[16];
  rtl::GUIDToBytes(aGuid, bytes);
  const uint8_t* p = bytes + 4 * aIndex;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

TzfSessionNotifications::TzfSessionNotifications() : snId(gNextListId.fetch_add(1) + 1) {}

TzfSessionNotifications::~TzfSessionNotifications() { Disconnected(); }

void TzfSessionNotifications::Register(IzfSessionNotifier* aNotifier, rtl::TGUID& aCookie) {
  aCookie = rtl::TGUID{};
  if (!aNotifier) return;
  TItem item{0, os::GetTickCount(), RefPtr<IzfSessionNotifier>(aNotifier)};
  {
    TzfPadlockGuard g(snPadlock);
    // 0 is never an item's identity, so no cookie of a registration is empty.
    if (++snNextItemId == 0) ++snNextItemId;
    item.Id = snNextItemId;
    snItems.push_back(item);
  }
  const uint32_t words[4] = {snId, item.Id, item.TickCount, snId ^ item.Id ^ item.TickCount};
  aCookie = MakeCookie(words);
}

void TzfSessionNotifications::Unregister(const rtl::TGUID& aCookie) {
  try {
    const uint32_t owner = GetWord(aCookie, 0), id = GetWord(aCookie, 1), tick = GetWord(aCookie, 2);
    if (owner != snId || (owner ^ id ^ tick) != GetWord(aCookie, 3)) return;
    RefPtr<IzfSessionNotifier> dropped;
    {
      TzfPadlockGuard g(snPadlock);
      for (auto it = snItems.begin(); it != snItems.end(); ++it) {
        if (it->Id != id) continue;
        if (it->TickCount != tick) return;
        dropped = std::move(it->Notifier);
        snItems.erase(it);
        break;
      }
    }
    dropped.reset();  // released outside the padlock
  } catch (...) {
  }
}

void TzfSessionNotifications::Disconnected() {
  for (;;) {
    RefPtr<IzfSessionNotifier> notifier;
    {
      TzfPadlockGuard g(snPadlock);
      if (snItems.empty()) return;
      notifier = std::move(snItems.front().Notifier);
      snItems.erase(snItems.begin());
    }
    try {
      notifier->SessionDisconnected();
    } catch (...) {
    }
    try {
      notifier.reset();
    } catch (...) {
    }
  }
}

int32_t TzfSessionNotifications::Count() {
  TzfPadlockGuard g(snPadlock);
  return static_cast<int32_t>(snItems.size());
}

}  // namespace zf
