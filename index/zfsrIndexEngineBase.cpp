#include "index/zfsrIndexEngineBase.h"

#include "dictionary/zfsdIndexDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllExceptionData.h"
#include "storage/zfsrFile.h"

namespace zf {

// ---- Records behind an index ----

void TzfIndexRecordSource::IterateRecords(const std::function<bool(int64_t, const uint8_t*)>&) {
  throw EzfBaseIndexEngineException(zfErrNotSupported, u"%s requires a RecordEngine",
                                    {UnicodeString(u"IterateRecords")});
}

// ---- Index header access ----

TzfBaseIndexHeaderAccess::TzfBaseIndexHeaderAccess(TzfBaseTransaction* aTrans, TzfBaseIndexEngine& aIndex,
                                                   int32_t aID, bool aFileMarkDirty, bool aIndexMarkDirty)
    : bhaTrans(aTrans),
      bhaFileMarkDirty(aFileMarkDirty),
      bhaIndexMarkDirty(aIndexMarkDirty),
      bhaID(aID),
      bhaIndex(aIndex) {}

TzfBaseIndexHeaderAccess::~TzfBaseIndexHeaderAccess() = default;

TzfBaseFileHeaderAccess* TzfBaseIndexHeaderAccess::FileHeaderAccess() {
  if (!bhaFileHeaderMade) {
    bhaFileHeader = MakeFileHeaderAccess();
    bhaFileHeaderMade = true;
  }
  return bhaFileHeader.get();
}

void TzfBaseIndexHeaderAccess::CheckWritable() const {
  if (!bhaIndexMarkDirty) throw EzfBaseIndexEngineException(zfErrWriteErr, u"Write failure.");
}

// ---- Index path ----

TzfBaseIndexPath::TzfBaseIndexPath(TzfBaseIndexEngine* aIndexEngine)
    : bipIndexEngine(aIndexEngine),
      bipBookmarkHandler(aIndexEngine ? aIndexEngine->bieBookmarkHandler.get() : &zfStandaloneBookmarkHandler()) {
  if (bipIndexEngine) Key = bipIndexEngine->bieKeyEngine->AllocKey();
}

TzfBaseIndexPath::~TzfBaseIndexPath() {
  if (bipIndexEngine && Key) bipIndexEngine->bieKeyEngine->FreeKey(Key);
}

std::unique_ptr<TzfBaseIndexPath> TzfBaseIndexPath::CreateStandalone() {
  return std::make_unique<TzfBaseIndexPath>(nullptr);
}

std::unique_ptr<TzfBaseIndexPath> TzfBaseIndexPath::NewOfSameClass() const {
  return std::make_unique<TzfBaseIndexPath>(bipIndexEngine);
}

std::unique_ptr<TzfBaseIndexPath> TzfBaseIndexPath::Duplicate() const {
  std::unique_ptr<TzfBaseIndexPath> p = NewOfSameClass();
  p->Assign(*this);
  return p;
}

void TzfBaseIndexPath::Assign(const TzfBaseIndexPath& aSource) {
  if (&aSource == this) return;
  if (aSource.bipIndexEngine != bipIndexEngine)
    throw rtl::EConvertError(u"Cannot assign a " + UnicodeString(aSource.ClassName()) + u" to a " +
                             UnicodeString(ClassName()));
  Clear();
  RefNr = aSource.RefNr;
  Position = aSource.Position;
  KeyValid = aSource.KeyValid;
  if (KeyValid && bipIndexEngine) bipIndexEngine->bieKeyEngine->CopyKey(aSource.Key, Key);
  Deleted = aSource.Deleted;
}

void TzfBaseIndexPath::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfPersistent::AddExceptionData(aContainer);
  aContainer.AddObject(u"IndexEngine", bipIndexEngine);
  aContainer.AddInteger(u"RefNr", RefNr);
  aContainer.AddBoolean(u"KeyValid", KeyValid);
  if (KeyValid && bipIndexEngine) {
    TzfExceptionDataRef key = aContainer.AddContainer(u"Key");
    if (key) bipIndexEngine->bieKeyEngine->KeyAsExceptionData(Key, *key);
  }
  aContainer.AddString(u"Position", zfIndexPathPositionName(Position));
  aContainer.AddBoolean(u"Deleted", Deleted);
}

void TzfBaseIndexPath::Clear() {
  RefNr = 0;
  KeyValid = false;
  Position = ippUnknown;
  Deleted = false;
}

void TzfBaseIndexPath::SetToEof() {
  Clear();
  Position = ippEof;
}

void TzfBaseIndexPath::SetToBof() {
  Clear();
  Position = ippBof;
}

void TzfBaseIndexPath::SetToCrackBefore() {
  if (IsOnCrack() || IsOnKey()) {
    Position = ippOnCrackBefore;
    Deleted = false;
  }
}

void TzfBaseIndexPath::SetToCrackAfter() {
  if (IsOnCrack() || IsOnKey()) {
    Position = ippOnCrackAfter;
    Deleted = false;
  }
}

void TzfBaseIndexPath::SetToDeleted() {
  if (IsOnKey()) {
    Position = ippOnCrackBefore;
    Deleted = true;
  }
}

uint32_t TzfBaseIndexPath::SetToRecord(const uint8_t* aRecord, int64_t aRefNr) {
  Clear();
  if (bipIndexEngine) {
    const uint32_t e = bipIndexEngine->bieKeyEngine->BuildKey(aRecord, Key, aRefNr, true);
    KeyValid = e == zfErrNone;
    if (e != zfErrNone && e != zfErrInvalidParam) return e;
  }
  RefNr = aRefNr;
  Position = ippOnKey;
  return zfErrNone;
}

void TzfBaseIndexPath::SetToRefNr(int64_t aRefNr) {
  Clear();
  if (aRefNr == 0) return;
  RefNr = aRefNr;
  Position = ippOnKey;
}

uint32_t TzfBaseIndexPath::CheckCurrentState() const {
  if (Deleted) return zfErrKeyOrRecDeleted;
  switch (Position) {
    case ippBof: return zfErrBOF;
    case ippOnKey: return zfErrNone;
    case ippEof: return zfErrEOF;
    default: return zfErrNoCurrRec;
  }
}

uint32_t TzfBaseIndexPath::GetBookmark(uint8_t* aBookmark, uint32_t aSize) const {
  if (!aBookmark || aSize < BookmarkSize()) return zfErrInvalidParam;
  bipBookmarkHandler->WriteBookmark(aBookmark, Position, KeyValid, Deleted, RefNr, Key);
  return zfErrNone;
}

uint32_t TzfBaseIndexPath::SetToBookmark(const uint8_t* aBookmark, uint32_t aSize) {
  if (uint32_t e = CheckBookmark(aBookmark, aSize)) return e;
  Clear();
  Position = static_cast<TzfIndexPathPosition>(aBookmark[8]);
  RefNr = static_cast<int64_t>(zfGetLE64(aBookmark + 12));
  Deleted = aBookmark[10] != 0;
  KeyValid = aBookmark[9] != 0;
  if (bipIndexEngine) {
    if (KeyValid)
      bipIndexEngine->bieKeyEngine->CopyKey(aBookmark + zfBookmarkHeaderSize, Key);
    else
      bipIndexEngine->bieKeyEngine->ClearKey(Key);
  }
  return zfErrNone;
}

// ---- Index engine ----

TzfIndexEngineParams TzfIndexEngineParams::FromDescriptor(TzfIndexDescriptor& aDescriptor) {
  TzfIndexEngineParams p;
  p.IndexNumber = aDescriptor.idNumber;
  p.IndexName = aDescriptor.idName;
  p.Dups = aDescriptor.idDups;
  p.KeysAreRefs = dynamic_cast<TzfRefKeyDescriptor*>(aDescriptor.idKeyDescriptor.get()) != nullptr;
  p.KeyCanContainNulls = aDescriptor.idKeyDescriptor && aDescriptor.idKeyDescriptor->CanContainNulls();
  return p;
}

TzfBaseIndexEngine::TzfBaseIndexEngine(const TzfIndexEngineParams& aParams,
                                       std::unique_ptr<TzfBaseKeyEngine> aKeyEngine)
    : bieKeyEngine(std::move(aKeyEngine)),
      bieIndexFileName(aParams.FileName),
      bieIndexNumber(aParams.IndexNumber),
      bieIndexName(aParams.IndexName),
      bieDups(aParams.Dups != idNone),
      bieDupsNullOnly(aParams.Dups == idNull),
      bieKeysAreRefs(aParams.KeysAreRefs) {
  if (aParams.Dups == idNull && !aParams.KeyCanContainNulls) bieDups = bieDupsNullOnly = false;
  bieBookmarkHandler = std::make_unique<TzfBookmarkHandler>(bieIndexNumber, bieKeyEngine.get());
}

TzfBaseIndexEngine::~TzfBaseIndexEngine() = default;

void TzfBaseIndexEngine::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfPersistent::AddExceptionData(aContainer);
  aContainer.AddInteger(u"IndexNumber", bieIndexNumber);
  aContainer.AddString(u"IndexName", bieIndexName);
  aContainer.AddBoolean(u"Dups", bieDups);
  aContainer.AddBoolean(u"DupsNullOnly", bieDupsNullOnly);
  aContainer.AddBoolean(u"KeysAreRefs", bieKeysAreRefs);
  aContainer.AddObject(u"KeyEngine", bieKeyEngine.get());
}

uint32_t TzfBaseIndexEngine::GetKeyError(TzfKeyErrorType aErrorType, const uint8_t* aKey, int64_t aRefNr) {
  static const char16_t* const kOperation[] = {u"Insert", u"Delete", u"Modify/Delete", u"Modify/Insert",
                                               u"BulkCreate"};
  UnicodeString text = zfOrgMarker;
  text += u"Operation: " + UnicodeString(kOperation[static_cast<int>(aErrorType)]) + u"\r\n";
  text += u"File: \"" + bieIndexFileName + u"\"\r\n";
  text += u"Index: \"" + bieIndexName + u"\"\r\n";
  text += u"Key: " + bieKeyEngine->KeyAsString(aKey) + u"\r\n";
  text += u"RefNr: " + rtl::IntToStr(aRefNr);
  return EzfBaseException::zfSetMessage(zfErrKeyViol, text);
}

}  // namespace zf
