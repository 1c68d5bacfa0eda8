#include "server/zfsrBlobLinkHandler.h"

#include <functional>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/rtl/rtlText.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerTableCursor.h"

namespace zf {

TzfBlobLinkHandler::~TzfBlobLinkHandler() {
  // One entry at a time out of the list, then its handler and the cursor without the lock: a table
  // closing meanwhile finds the cursor gone from the list and declines.
  for (;;) {
    TzfServerTableCursor* cursor = nullptr;
    {
      std::lock_guard g(blhLock);
      if (!blhBlobCursors || blhBlobCursors->empty()) break;
      auto last = std::prev(blhBlobCursors->end());
      cursor = last->second.Cursor;
      blhBlobCursors->erase(last);
    }
    try {
      cursor->sbcSetOnRequestClose(nullptr);
      cursor->Free();
    } catch (const std::exception&) {
      // A cursor that cannot be freed cleanly is dropped all the same.
    }
  }
}

bool TzfBlobLinkHandler::blhListCreated() {
  std::lock_guard g(blhLock);
  return blhBlobCursors != nullptr;
}

int32_t TzfBlobLinkHandler::blhCursorCount() {
  std::lock_guard g(blhLock);
  return blhBlobCursors ? static_cast<int32_t>(blhBlobCursors->size()) : 0;
}

uint32_t TzfBlobLinkHandler::blhGetCursor(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                          TzfServerTableCursor*& aCursor) {
  aCursor = nullptr;
  const UnicodeString key = rtl::UpperCase(aTableName);
  {
    std::lock_guard g(blhLock);
    if (!blhBlobCursors) blhBlobCursors = std::make_unique<std::map<UnicodeString, TEntry>>();
    if (auto it = blhBlobCursors->find(key); it != blhBlobCursors->end()) {
      ++it->second.Busy;
      aCursor = it->second.Cursor;
      return 0;
    }
  }
  // Opened outside the lock: the open takes the folder's table padlock.
  TzfServerTableCursor* opened = nullptr;
  if (const uint32_t r = zfOpenTableCursor(blhDatabase, aTableName, aPassword, omReadOnly, smShared,
                                           blhDatabase->atoGetTimeout(), opened))
    return r;
  opened->sbcSetOnRequestClose([this](TzfServerTableCursor* aSender) { blhCursorRequestClose(aSender); });
  TzfServerTableCursor* surplus = nullptr;
  {
    std::lock_guard g(blhLock);
    auto [it, added] = blhBlobCursors->try_emplace(key, TEntry{opened, 0});
    // Another read opened the same table meanwhile: its cursor serves, this one goes.
    if (!added) surplus = opened;
    ++it->second.Busy;
    aCursor = it->second.Cursor;
  }
  if (surplus) {
    surplus->sbcSetOnRequestClose(nullptr);
    surplus->Free();
  }
  return 0;
}

void TzfBlobLinkHandler::blhRelease(TzfServerTableCursor* aCursor) {
  std::lock_guard g(blhLock);
  for (auto& [key, entry] : *blhBlobCursors)
    if (entry.Cursor == aCursor) {
      --entry.Busy;
      return;
    }
}

void TzfBlobLinkHandler::blhCursorRequestClose(TzfServerTableCursor* aCursor) {
  {
    std::lock_guard g(blhLock);
    if (!blhBlobCursors) return;
    auto it = blhBlobCursors->begin();
    while (it != blhBlobCursors->end() && it->second.Cursor != aCursor) ++it;
    // Not ours any more, or a read uses it right now: the table stays open this round.
    if (it == blhBlobCursors->end() || it->second.Busy > 0) return;
    blhBlobCursors->erase(it);
  }
  aCursor->sbcSetOnRequestClose(nullptr);
  aCursor->Free();
}

namespace {
// Links read through links: a chain longer than this (or a loop) is damage, not data.
constexpr int kMaxLinkDepth = 16;
thread_local int tLinkDepth = 0;
}  // namespace

uint32_t TzfBlobLinkHandler::blhWithCursor(const UnicodeString& aTableName,
                                           const std::function<uint32_t(TzfServerTableCursor&)>& aWork) {
  if (tLinkDepth >= kMaxLinkDepth)
    return EzfBaseException::zfSetMessage(zfErrBlobGeneral, u"BLOB link chain too long or circular");
  struct TDepth {
    TDepth() { ++tLinkDepth; }
    ~TDepth() { --tLinkDepth; }
  } depth;
  TzfServerTableCursor* cursor = nullptr;
  if (const uint32_t r = blhGetCursor(aTableName, u"", cursor)) return r;
  struct TRelease {
    TzfBlobLinkHandler* Handler;
    TzfServerTableCursor* Cursor;
    ~TRelease() { Handler->blhRelease(Cursor); }
  } release{this, cursor};
  return aWork(*cursor);
}

uint32_t TzfBlobLinkHandler::BlobLinkRead(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t aOffset,
                                          uint32_t aLen, rtl::TStream& aStream) {
  // Field number -1: the BLOB is addressed by its number alone.
  return blhWithCursor(aTableName, [&](TzfServerTableCursor& aCursor) {
    return aCursor.sbcBlobRead(-1, aBlobNr, aOffset, aLen, aStream, false);
  });
}

uint32_t TzfBlobLinkHandler::BlobLinkGetLength(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t& aLength) {
  return blhWithCursor(aTableName, [&](TzfServerTableCursor& aCursor) {
    return aCursor.sbcBlobGetLength(-1, aBlobNr, aLength, false);
  });
}

}  // namespace zf
