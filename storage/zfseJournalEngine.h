// The fail-safe journal: a fail-safe commit writes the images of the blocks it commits into a
// journal file before any table file is written. When the process stops between the two, the next
// Check of the folder finds the journal and replays it: after-images bring the table files forward
// to the committed state, before-images bring them back to the state before the commit.
//
// Classes: Tzf1xJournalEngine (both images, kind 0) > Tzf1xCommitJournalEngine (after-images,
// kind 1), Tzf1xRollbackJournalEngine (before-images, kind 2, the default of the engine setting).
//
// Journal file (folder + transaction number + ".z$2"), little-endian:
//
// | offset | size | header                                                                |
// |--------|------|-----------------------------------------------------------------------|
// | 0      | 4    | "ZFJH"                                                                |
// | 4      | 4    | complete flag: 0xFFFFFFFF once finalized, 0 while being written       |
// | 8      | 4    | journal kind: 0 both images, 1 after-images, 2 before-images          |
//
// then records from offset 12:
//
// | offset | size          | record                                                         |
// |--------|---------------|----------------------------------------------------------------|
// | 0      | 4             | "ZFJR"                                                         |
// | 4      | 4             | block number                                                   |
// | 8      | 1             | block size code of the table file (0..4)                       |
// | 9      | 1             | 0xFF before-image, 0 after-image                               |
// | 10     | 1             | 1: the block had no committed content (new in the commit)      |
// | 11     | 1             | zero                                                           |
// | 12     | 256           | table file name: length byte, ANSI name (no folder), zeros     |
// | 268    | physical size | the image as the table file stores it (encrypted when it is)   |
//
// A before-image of a block that is new in its commit has no content: it is written as zeros with
// byte 10 set, so every record carries a whole image and a reader stays in step; replay skips it
// (the restored block 0 no longer counts the block).
//
// Replay validates the whole journal before it writes a byte: every record header read in full
// (9217 otherwise), its signature, size code and flags, its image read in full, its target an
// existing table file of the journal's folder (a header signature that is registered and the
// record's size code) and its block number within the file plus the blocks the journal can add.
// A journal that fails any check is left in place and reported; no table file is touched.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "storage/zfsrFile.h"
#include "storage/zfsrTransaction.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(Ezf1xJournalEngineException, EzfBaseJournalEngineException)

inline constexpr char16_t kzfJournalExtension[] = u"z$2";
inline constexpr uint32_t kzfJournalHeaderSize = 12;
inline constexpr uint32_t kzfJournalRecordHeaderSize = 268;

class Tzf1xJournalEngine;

// Class reference of a journal class: name, kind and virtual constructor (the file name).
struct TzfJournalEngineClass {
  const char16_t* Name;
  int32_t Kind;
  std::unique_ptr<Tzf1xJournalEngine> (*Create)(const UnicodeString& aFileName);
};

// The journal classes by name (case ignored).
void zfRegisterJournalEngineClass(const TzfJournalEngineClass& aClass);
void zfUnregisterJournalEngineClass(const TzfJournalEngineClass& aClass);
const TzfJournalEngineClass* zfFindJournalEngineClass(const UnicodeString& aName);
// The engine's setting "JournalEngineClass" (the journal unit sets the rollback journal when it is
// still unset at start and clears it at stop when it holds one of its classes).
extern const TzfJournalEngineClass* zfJournalEngineClassSetting;

// Events of the journal-check callback: 0 a complete journal of both images under a class of kind 0
// (the answer True chooses after-images), 1 an incomplete journal (removed), 2 a journal that could
// not be opened or read, 3 a journal whose replay failed (aError: the message of the failure).
enum TzfJournalCheckEvent : int32_t { jceChooseImages = 0, jceIncomplete = 1, jceOpenFailed = 2, jceReplayFailed = 3 };
using TzfJournalCheckCallback =
    std::function<bool(TzfJournalCheckEvent aEvent, const UnicodeString& aAlias, const UnicodeString& aPath,
                       const UnicodeString& aError, const UnicodeString& aJournalFile)>;
// Unset in the engine; an application (or a test) may install one.
extern TzfJournalCheckCallback zfJournalCheckCallback;

// Points at which a test may make the process "stop": the hook answers True to stop there. The
// journal then stays on disk as it is (the file is closed, never deleted) and the operation raises
// 9218, as when the process died. jcpPrepared: after the header; jcpRecord: after each record
// (aRecords written so far); jcpFinalized: after the complete flag; jcpBeforeDelete: when a
// finished commit frees its journal.
enum class TzfJournalCrashPoint { jcpPrepared, jcpRecord, jcpFinalized, jcpBeforeDelete };
using TzfJournalCrashHook = std::function<bool(TzfJournalCrashPoint aPoint, int32_t aRecords)>;
extern TzfJournalCrashHook zfJournalCrashHook;

class Tzf1xJournalEngine : public TzfBaseJournalEngine {
 public:
  explicit Tzf1xJournalEngine(UnicodeStringView aFileName) : TzfBaseJournalEngine(aFileName) {}
  // Closes the journal and deletes the file it created; not after a test crash point, and not
  // a finalized journal whose commit's write-out failed (the next check replays it).
  ~Tzf1xJournalEngine() override;

  static const TzfJournalEngineClass& ClassInfo();
  virtual const TzfJournalEngineClass& ClassType() const { return ClassInfo(); }

  // Replays and removes the journals of folder aPath under the journal class aClass (see the unit
  // comment); a folder that does not exist raises 10018. A journal that fails stays in place.
  static void Check(const TzfJournalEngineClass& aClass, const UnicodeString& aAlias, const UnicodeString& aPath);

  // Creates the journal file and writes the header (incomplete), flushed to disk.
  void PrepareJournal() override;
  // A before-image record (kinds 0 and 2), then an after-image record (kinds 0 and 1).
  void AddBlock(TzfBaseTransaction* aTrans, TzfReadOnlyBlock* aBlock) override;
  // Sets the complete flag, flushed to disk.
  void FinalizeJournal() override;
  // A finalized journal whose write-out failed is not deleted when the object goes.
  void KeepForReplay() override { jeKeep = jeFinalized; }

  virtual int32_t JournalKind() const { return 0; }
  // Applies the images of one kind of an open journal (position after the header) to the table
  // files of aFolder, after validating the whole journal.
  static void ReplayJournal(TzfBaseFile& aJournalFile, bool aAfterImages, const UnicodeString& aFolder);
  void WriteJournalHeader(bool aComplete);
  void WriteJournalRecord(TzfReadOnlyBlock* aBlock, TzfBaseTransaction* aTrans, TzfBlockSize aBlockSize, bool aBefore);

  std::unique_ptr<TzfBaseFile> jeJournalFile;
  int64_t jeWritePos = 0;
  int32_t jeRecords = 0;
  bool jeAbandoned = false;
  bool jeCreated = false;
  bool jeFinalized = false;
  bool jeKeep = false;

 private:
  void CrashPoint(TzfJournalCrashPoint aPoint);
};

class Tzf1xCommitJournalEngine : public Tzf1xJournalEngine {
 public:
  using Tzf1xJournalEngine::Tzf1xJournalEngine;
  static const TzfJournalEngineClass& ClassInfo();
  const TzfJournalEngineClass& ClassType() const override { return ClassInfo(); }
  int32_t JournalKind() const override { return 1; }
};

class Tzf1xRollbackJournalEngine : public Tzf1xJournalEngine {
 public:
  using Tzf1xJournalEngine::Tzf1xJournalEngine;
  static const TzfJournalEngineClass& ClassInfo();
  const TzfJournalEngineClass& ClassType() const override { return ClassInfo(); }
  int32_t JournalKind() const override { return 2; }
};

rtl::TUnitInit& zfseJournalEngineUnit();

}  // namespace zf
