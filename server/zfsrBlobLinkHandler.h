// The database's BLOB link handler: resolves BLOBs that stand for a BLOB of another table of the
// same database. A BLOB engine that meets a link calls BlobLinkRead or BlobLinkGetLength with the
// linked table's name and BLOB number; the handler reads it through a read-only cursor on that
// table, opened on first use and kept, one per table (names compared without regard to case).
//
// A kept cursor registers a request-close handler, so that a table that wants to close (delete,
// rename, close of inactive tables) gets it out of the way; the next link read opens the table
// again. A cursor in use by a read is never freed under it: the request is then declined and the
// table stays open for that round.
//
// Locking: blhLock guards the list and the use counts only. No read, open or free runs under it,
// so a link read never holds the handler's lock while it opens a cursor (which takes the folder's
// table padlock) and a table closing on another thread (which holds that padlock and asks the
// handler to drop its cursor) never waits for a read.
//
// Cursors are used only from within operations of the database's own cursors, under the session
// lock those operations hold.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "storage/zfsrBlobEngineBase.h"

namespace zf {

class TzfServerDatabase;
class TzfServerTableCursor;

class TzfBlobLinkHandler : public TzfBaseBlobLinkHandler {
 public:
  explicit TzfBlobLinkHandler(TzfServerDatabase* aDatabase) : blhDatabase(aDatabase) {}
  // Frees every kept cursor (a failure of one is dropped).
  ~TzfBlobLinkHandler() override;
  TzfBlobLinkHandler(const TzfBlobLinkHandler&) = delete;
  TzfBlobLinkHandler& operator=(const TzfBlobLinkHandler&) = delete;

  // aLen bytes from aOffset of BLOB aBlobNr of table aTableName appended to aStream; the code of
  // the table's open or of the cursor's read.
  uint32_t BlobLinkRead(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                        rtl::TStream& aStream) override;
  uint32_t BlobLinkGetLength(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t& aLength) override;

  // The request-close handler of every kept cursor: frees it unless a read uses it.
  void blhCursorRequestClose(TzfServerTableCursor* aCursor);

  // Diagnostics: whether the list was ever made, and how many cursors it keeps.
  bool blhListCreated();
  int32_t blhCursorCount();

 private:
  struct TEntry {
    TzfServerTableCursor* Cursor;
    int32_t Busy;
  };
  // Finds or opens the cursor of aTableName and marks it busy; 0 or the open's code.
  uint32_t blhGetCursor(const UnicodeString& aTableName, const UnicodeString& aPassword,
                        TzfServerTableCursor*& aCursor);
  void blhRelease(TzfServerTableCursor* aCursor);
  uint32_t blhWithCursor(const UnicodeString& aTableName, const std::function<uint32_t(TzfServerTableCursor&)>& aWork);

  TzfServerDatabase* blhDatabase;
  std::mutex blhLock;
  // Upper-cased table name -> cursor; made on first use.
  std::unique_ptr<std::map<UnicodeString, TEntry>> blhBlobCursors;
};

}  // namespace zf
