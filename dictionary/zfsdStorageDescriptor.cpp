#include "dictionary/zfsdStorageDescriptor.h"

#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdRenumber.h"
#include "foundation/zfllConst.h"
#include "dictionary/zfsdDescriptorHelpers.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {

// Makes a nested descriptor of aClass (nullptr: TDefault) through its generic virtual
// constructor; the class must belong to TBase's family.
template <class TBase, class TDefault>
std::unique_ptr<TBase> NewNested(TzfDictionaryItem* aOwner, TzfDictionaryItemClass aClass) {
  if (!aClass) aClass = &TDefault::ClassInfo();
  ZF_ASSERT(aClass->Create && aClass->InheritsFrom(&TBase::ClassInfo()), "zfsdDataDictionary");
  std::unique_ptr<TzfDictionaryItem> item(aClass->Create(aOwner));
  auto* typed = dynamic_cast<TBase*>(item.get());
  ZF_ASSERT(typed != nullptr, "zfsdDataDictionary");
  item.release();
  return std::unique_ptr<TBase>(typed);
}

// Writes an optional nested descriptor: Boolean present, then its class name and its part.
template <class P>
void WriteNested(TzfWriter& aWriter, const P& aNested, int32_t aClientVersion) {
  aWriter.WriteBoolean(aNested != nullptr);
  if (aNested) {
    aWriter.WriteString(aNested->ClassName());
    aNested->SaveToWriter(aWriter, aClientVersion);
  }
}

}  // namespace

bool zfRelatedFileCount(TzfDictionaryItem& aItem, int32_t& aCount) {
  TzfFilesDescriptor* files = aItem.FindRelated<TzfFilesDescriptor>();
  if (!files) return false;
  aCount = files->FileCount;
  return true;
}

void zfCheckStorageFileNumber(const TzfDictionaryItem& aItem, int32_t aValue) {
  int32_t count = 0;
  if (zfRelatedFileCount(const_cast<TzfDictionaryItem&>(aItem), count) && (aValue < 0 || aValue >= count))
    aItem.RaiseError(zfErrInvalidDescNum, u"Invalid file number: %d", {aValue});
}

void zfStorageFileNumberChanged(const TzfDictionaryItem& aItem, int32_t& aFileNumber, bool aBefore, int32_t aOld,
                                int32_t aNew, const char16_t* aInUseFormat) {
  if (aBefore) {
    if (aOld == aFileNumber && aNew < 0) aItem.RaiseError(zfErrObjectInUse, aInUseFormat, {aFileNumber});
    return;
  }
  aFileNumber = zfRenumberAfterChange(aFileNumber, aOld, aNew);
}

// ---- TzfBaseBlockHeapDescriptor ----

const TzfDictionaryItemClassInfo& TzfBaseBlockHeapDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseBlockHeapDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseBlockHeapDescriptor>,
                                               &zfNewDictionaryItem<TzfBaseBlockHeapDescriptor>);
  return info;
}

void TzfBaseBlockHeapDescriptor::SetBlockHeapEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  bbhdBlockHeapEngine = aValue;
}

void TzfBaseBlockHeapDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteString(bbhdBlockHeapEngine);
}

void TzfBaseBlockHeapDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  bbhdBlockHeapEngine = aReader.ReadString();
}

bool TzfBaseBlockHeapDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  return rtl::SameText(bbhdBlockHeapEngine, zfItemAs<TzfBaseBlockHeapDescriptor>(aItem)->bbhdBlockHeapEngine);
}

// ---- TzfBaseHeapDescriptor ----

const TzfDictionaryItemClassInfo& TzfBaseHeapDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseHeapDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseHeapDescriptor>,
                                               &zfNewDictionaryItem<TzfBaseHeapDescriptor>);
  return info;
}

TzfBaseHeapDescriptor::~TzfBaseHeapDescriptor() = default;

TzfBaseBlockHeapDescriptor* TzfBaseHeapDescriptor::AddBlockHeapDescriptor(TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  bhdBlockHeapDescriptor.reset();
  bhdBlockHeapDescriptor = NewNested<TzfBaseBlockHeapDescriptor, TzfBaseBlockHeapDescriptor>(this, aClass);
  return bhdBlockHeapDescriptor.get();
}

void TzfBaseHeapDescriptor::RemoveBlockHeapDescriptor() {
  CheckReadOnly();
  bhdBlockHeapDescriptor.reset();
}

void TzfBaseHeapDescriptor::SetHeapEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  bhdHeapEngine = aValue;
}

void TzfBaseHeapDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{aClientVersion < zfVersion20000 ? 1 : 2});
  aWriter.WriteString(bhdHeapEngine);
  WriteNested(aWriter, bhdBlockHeapDescriptor, aClientVersion);
}

void TzfBaseHeapDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  bhdHeapEngine = aReader.ReadString();
  bhdBlockHeapDescriptor.reset();
  if (aReader.ReadBoolean()) {
    TzfDictionaryReadNesting nest(*this);
    const auto& cls = FindStoredDescriptorClass(TzfBaseBlockHeapDescriptor::ClassInfo(), u"BlockHeapDescriptor",
                                                aReader.ReadString());
    AddBlockHeapDescriptor(&cls)->LoadFromReader(aReader);
  } else if (v == 1) {
    AddBlockHeapDescriptor(nullptr);
  }
}

void TzfBaseHeapDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (!bhdBlockHeapDescriptor) AddBlockHeapDescriptor(nullptr);
  bhdBlockHeapDescriptor->CheckValid(aForBuild);
}

bool TzfBaseHeapDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfBaseHeapDescriptor>(aItem);
  return rtl::SameText(bhdHeapEngine, o->bhdHeapEngine) && zfSameNested(bhdBlockHeapDescriptor, o->bhdBlockHeapDescriptor);
}

// ---- TzfBaseRecordCompressionDescriptor ----

const TzfDictionaryItemClassInfo& TzfBaseRecordCompressionDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseRecordCompressionDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseRecordCompressionDescriptor>,
                                               &zfNewDictionaryItem<TzfBaseRecordCompressionDescriptor>);
  return info;
}

void TzfBaseRecordCompressionDescriptor::SetRecordCompressionEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  brcdRecordCompressionEngine = aValue;
}

void TzfBaseRecordCompressionDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteString(brcdRecordCompressionEngine);
}

void TzfBaseRecordCompressionDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  brcdRecordCompressionEngine = aReader.ReadString();
}

bool TzfBaseRecordCompressionDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  return rtl::SameText(brcdRecordCompressionEngine,
                       zfItemAs<TzfBaseRecordCompressionDescriptor>(aItem)->brcdRecordCompressionEngine);
}

// ---- TzfBaseRecordDescriptor ----

const TzfSectionDescriptorClassInfo& TzfBaseRecordDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfBaseRecordDescriptor", &TzfDictionaryItem::ClassInfo(),
                                                  &zfFamilyList<TzfBaseRecordDescriptor>,
                                                  &zfNewSectionDescriptor<TzfBaseRecordDescriptor>);
  return info;
}

TzfBaseRecordDescriptor::TzfBaseRecordDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
    : TzfDictionaryItem(aParent), brdHeaderSection(aHeaderSection) {
  RegisterFileChangeNotify();
}

TzfBaseRecordDescriptor::~TzfBaseRecordDescriptor() { UnregisterFileChangeNotify(); }

void TzfBaseRecordDescriptor::SetFileNumber(int32_t aValue) {
  CheckReadOnly();
  zfCheckStorageFileNumber(*this, aValue);
  brdFileNumber = aValue;
}

void TzfBaseRecordDescriptor::SetRecordEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  brdRecordEngine = aValue;
}

void TzfBaseRecordDescriptor::FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  zfStorageFileNumberChanged(*this, brdFileNumber, aBefore, aOld, aNew,
                             u"Cannot remove file %d because it is still referenced by a record engine");
}

void TzfBaseRecordDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  zfCheckStorageFileNumber(*this, brdFileNumber);
}

void TzfBaseRecordDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  const int32_t v = aClientVersion < zfVersion20000 ? 1 : 2;
  aWriter.WriteInteger(v);
  aWriter.WriteString(brdRecordEngine);
  if (v == 2) aWriter.WriteInteger(brdFileNumber);
}

void TzfBaseRecordDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  brdRecordEngine = aReader.ReadString();
  brdFileNumber = v == 2 ? aReader.ReadInteger() : 0;
}

bool TzfBaseRecordDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfBaseRecordDescriptor>(aItem);
  return rtl::SameText(brdRecordEngine, o->brdRecordEngine) && brdFileNumber == o->brdFileNumber;
}

// ---- TzfHeapRecordDescriptor ----

const TzfSectionDescriptorClassInfo& TzfHeapRecordDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfHeapRecordDescriptor", &TzfBaseRecordDescriptor::ClassInfo(),
                                                  nullptr, &zfNewSectionDescriptor<TzfHeapRecordDescriptor>);
  return info;
}

TzfHeapRecordDescriptor::~TzfHeapRecordDescriptor() = default;

TzfBaseHeapDescriptor* TzfHeapRecordDescriptor::AddHeapDescriptor(TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  hrdHeapDescriptor.reset();
  hrdHeapDescriptor = NewNested<TzfBaseHeapDescriptor, TzfBaseHeapDescriptor>(this, aClass);
  return hrdHeapDescriptor.get();
}

void TzfHeapRecordDescriptor::RemoveHeapDescriptor() {
  CheckReadOnly();
  hrdHeapDescriptor.reset();
}

TzfBaseRecordCompressionDescriptor* TzfHeapRecordDescriptor::AddRecordCompressionDescriptor(
    TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  hrdRecordCompressionDescriptor.reset();
  hrdRecordCompressionDescriptor =
      NewNested<TzfBaseRecordCompressionDescriptor, TzfBaseRecordCompressionDescriptor>(this, aClass);
  return hrdRecordCompressionDescriptor.get();
}

void TzfHeapRecordDescriptor::RemoveRecordCompressionDescriptor() {
  CheckReadOnly();
  hrdRecordCompressionDescriptor.reset();
}

void TzfHeapRecordDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseRecordDescriptor::SaveToWriter(aWriter, aClientVersion);
  const int32_t v = aClientVersion < zfVersion20000 ? 1 : 3;
  aWriter.WriteInteger(v);
  WriteNested(aWriter, hrdHeapDescriptor, aClientVersion);
  if (v >= 3) WriteNested(aWriter, hrdRecordCompressionDescriptor, aClientVersion);
}

void TzfHeapRecordDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseRecordDescriptor::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 3);
  hrdHeapDescriptor.reset();
  hrdRecordCompressionDescriptor.reset();
  TzfDictionaryReadNesting nest(*this);
  if (aReader.ReadBoolean()) {
    const auto& cls =
        FindStoredDescriptorClass(TzfBaseHeapDescriptor::ClassInfo(), u"HeapDescriptor", aReader.ReadString());
    AddHeapDescriptor(&cls)->LoadFromReader(aReader);
  } else if (v == 1) {
    AddHeapDescriptor(nullptr);
  }
  if (v >= 3 && aReader.ReadBoolean()) {
    const auto& cls = FindStoredDescriptorClass(TzfBaseRecordCompressionDescriptor::ClassInfo(),
                                                u"RecordCompressionDescriptor", aReader.ReadString());
    AddRecordCompressionDescriptor(&cls)->LoadFromReader(aReader);
  }
}

void TzfHeapRecordDescriptor::CheckValid(bool aForBuild) {
  TzfBaseRecordDescriptor::CheckValid(aForBuild);
  if (!hrdHeapDescriptor) AddHeapDescriptor(nullptr);
  hrdHeapDescriptor->CheckValid(aForBuild);
  if (hrdRecordCompressionDescriptor) hrdRecordCompressionDescriptor->CheckValid(aForBuild);
}

bool TzfHeapRecordDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfBaseRecordDescriptor::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfHeapRecordDescriptor>(aItem);
  return zfSameNested(hrdHeapDescriptor, o->hrdHeapDescriptor) &&
         zfSameNested(hrdRecordCompressionDescriptor, o->hrdRecordCompressionDescriptor);
}

// ---- TzfBaseBlobDescriptor ----

const TzfSectionDescriptorClassInfo& TzfBaseBlobDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfBaseBlobDescriptor", &TzfDictionaryItem::ClassInfo(),
                                                  &zfFamilyList<TzfBaseBlobDescriptor>,
                                                  &zfNewSectionDescriptor<TzfBaseBlobDescriptor>);
  return info;
}

TzfBaseBlobDescriptor::TzfBaseBlobDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
    : TzfDictionaryItem(aParent), bbdHeaderSection(aHeaderSection) {
  RegisterFileChangeNotify();
}

TzfBaseBlobDescriptor::~TzfBaseBlobDescriptor() { UnregisterFileChangeNotify(); }

void TzfBaseBlobDescriptor::SetFileNumber(int32_t aValue) {
  CheckReadOnly();
  zfCheckStorageFileNumber(*this, aValue);
  bbdFileNumber = aValue;
}

void TzfBaseBlobDescriptor::SetBlobEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  bbdBlobEngine = aValue;
}

void TzfBaseBlobDescriptor::FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  zfStorageFileNumberChanged(*this, bbdFileNumber, aBefore, aOld, aNew,
                             u"Cannot remove file %d because it is still referenced by a blob engine");
}

void TzfBaseBlobDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  zfCheckStorageFileNumber(*this, bbdFileNumber);
}

void TzfBaseBlobDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  const int32_t v = aClientVersion < zfVersion20000 ? 1 : 2;
  aWriter.WriteInteger(v);
  aWriter.WriteString(bbdBlobEngine);
  if (v == 2) aWriter.WriteInteger(bbdFileNumber);
}

void TzfBaseBlobDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  bbdBlobEngine = aReader.ReadString();
  bbdFileNumber = v == 2 ? aReader.ReadInteger() : 0;
}

bool TzfBaseBlobDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfBaseBlobDescriptor>(aItem);
  return rtl::SameText(bbdBlobEngine, o->bbdBlobEngine) && bbdFileNumber == o->bbdFileNumber;
}

// ---- TzfHeapBlobDescriptor ----

const TzfSectionDescriptorClassInfo& TzfHeapBlobDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfHeapBlobDescriptor", &TzfBaseBlobDescriptor::ClassInfo(), nullptr,
                                                  &zfNewSectionDescriptor<TzfHeapBlobDescriptor>);
  return info;
}

TzfHeapBlobDescriptor::~TzfHeapBlobDescriptor() = default;

TzfBaseHeapDescriptor* TzfHeapBlobDescriptor::AddHeapDescriptor(TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  hbdHeapDescriptor.reset();
  hbdHeapDescriptor = NewNested<TzfBaseHeapDescriptor, TzfBaseHeapDescriptor>(this, aClass);
  return hbdHeapDescriptor.get();
}

void TzfHeapBlobDescriptor::RemoveHeapDescriptor() {
  CheckReadOnly();
  hbdHeapDescriptor.reset();
}

void TzfHeapBlobDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseBlobDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{aClientVersion < zfVersion20000 ? 1 : 2});
  WriteNested(aWriter, hbdHeapDescriptor, aClientVersion);
}

void TzfHeapBlobDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseBlobDescriptor::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  hbdHeapDescriptor.reset();
  if (aReader.ReadBoolean()) {
    TzfDictionaryReadNesting nest(*this);
    const auto& cls =
        FindStoredDescriptorClass(TzfBaseHeapDescriptor::ClassInfo(), u"HeapDescriptor", aReader.ReadString());
    AddHeapDescriptor(&cls)->LoadFromReader(aReader);
  } else if (v == 1) {
    AddHeapDescriptor(nullptr);
  }
}

void TzfHeapBlobDescriptor::CheckValid(bool aForBuild) {
  TzfBaseBlobDescriptor::CheckValid(aForBuild);
  if (!hbdHeapDescriptor) AddHeapDescriptor(nullptr);
  hbdHeapDescriptor->CheckValid(aForBuild);
}

bool TzfHeapBlobDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfBaseBlobDescriptor::IsEqual(aItem)) return false;
  return zfSameNested(hbdHeapDescriptor, zfItemAs<TzfHeapBlobDescriptor>(aItem)->hbdHeapDescriptor);
}

// ---- TzfBaseCustomDescriptor ----

const TzfNamedDescriptorClassInfo& TzfBaseCustomDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(
      u"TzfBaseCustomDescriptor", &TzfDictionaryItem::ClassInfo(), &zfFamilyList<TzfBaseCustomDescriptor>,
      [](TzfPersistent* aParent, const UnicodeString& aName) -> TzfDictionaryItem* {
        return new TzfBaseCustomDescriptor(aParent, aName);
      });
  return info;
}

TzfBaseCustomDescriptor::TzfBaseCustomDescriptor(TzfPersistent* aParent, const UnicodeString& aName)
    : TzfDictionaryItem(zfCheckedNameParent<EzfBaseCustomDescriptorException>(aParent, aName, zfErrInvalidName)), bcdName(aName) {}

void TzfBaseCustomDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (zfCheckIdentifier(bcdName, zfErrInvalidName, false, true) != 0) RaiseError(zfErrInvalidName);
}

bool TzfBaseCustomDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  return TzfDictionaryItem::IsEqual(aItem) && bcdName == zfItemAs<TzfBaseCustomDescriptor>(aItem)->bcdName;
}

// ---- TzfBaseAutoIncDescriptor ----

const TzfSectionDescriptorClassInfo& TzfBaseAutoIncDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfBaseAutoIncDescriptor", &TzfDictionaryItem::ClassInfo(),
                                                  &zfFamilyList<TzfBaseAutoIncDescriptor>,
                                                  &zfNewSectionDescriptor<TzfBaseAutoIncDescriptor>);
  return info;
}

TzfBaseAutoIncDescriptor::TzfBaseAutoIncDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
    : TzfDictionaryItem(aParent), baidHeaderSection(aHeaderSection) {
  RegisterFileChangeNotify();
}

TzfBaseAutoIncDescriptor::~TzfBaseAutoIncDescriptor() { UnregisterFileChangeNotify(); }

void TzfBaseAutoIncDescriptor::SetFileNumber(int32_t aValue) {
  CheckReadOnly();
  zfCheckStorageFileNumber(*this, aValue);
  baidFileNumber = aValue;
}

void TzfBaseAutoIncDescriptor::SetAutoIncEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  baidAutoIncEngine = aValue;
}

void TzfBaseAutoIncDescriptor::FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  zfStorageFileNumberChanged(*this, baidFileNumber, aBefore, aOld, aNew,
                             u"Cannot remove file %d because it is still referenced by an autoinc engine");
}

void TzfBaseAutoIncDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  zfCheckStorageFileNumber(*this, baidFileNumber);
}

void TzfBaseAutoIncDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteString(baidAutoIncEngine);
  aWriter.WriteInteger(baidFileNumber);
}

void TzfBaseAutoIncDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  baidAutoIncEngine = aReader.ReadString();
  baidFileNumber = aReader.ReadInteger();
}

bool TzfBaseAutoIncDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfBaseAutoIncDescriptor>(aItem);
  return rtl::SameText(baidAutoIncEngine, o->baidAutoIncEngine) && baidFileNumber == o->baidFileNumber;
}

// ---- TzfAdvAutoIncDescriptor ----

const TzfSectionDescriptorClassInfo& TzfAdvAutoIncDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfAdvAutoIncDescriptor", &TzfBaseAutoIncDescriptor::ClassInfo(),
                                                  nullptr, &zfNewSectionDescriptor<TzfAdvAutoIncDescriptor>);
  return info;
}

namespace {
constexpr const char16_t* kZeroStep = u"The auto-increment step must not be 0";
}

void TzfAdvAutoIncDescriptor::SetInitialValue(uint32_t aValue) {
  CheckReadOnly();
  aaidInitialValue = aValue;
}

void TzfAdvAutoIncDescriptor::SetStep(uint32_t aValue) {
  CheckReadOnly();
  if (aValue == 0) RaiseError(zfErrInvalidParam, kZeroStep, {});
  aaidStep = aValue;
}

void TzfAdvAutoIncDescriptor::CheckValid(bool aForBuild) {
  TzfBaseAutoIncDescriptor::CheckValid(aForBuild);
  if (aaidStep == 0) RaiseError(zfErrInvalidParam, kZeroStep, {});
}

void TzfAdvAutoIncDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseAutoIncDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{2});
  aWriter.WriteInteger(static_cast<int32_t>(aaidInitialValue));
  aWriter.WriteInteger(static_cast<int32_t>(aaidStep));
}

void TzfAdvAutoIncDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseAutoIncDescriptor::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  const uint32_t first = static_cast<uint32_t>(aReader.ReadInteger());
  const uint32_t step = static_cast<uint32_t>(aReader.ReadInteger());
  // A stored step of 0 cannot come from a sound writer: refuse it like any damaged stream.
  if (step == 0) RaiseError(zfErrIncompatibleStream);
  if (v == 1) {
    // The old form stored the last value handed out: the first value is the next one.
    const uint64_t next = uint64_t{first} + step;
    if (next > UINT32_MAX) throw rtl::EIntOverflow(u"Integer overflow");
    aaidInitialValue = static_cast<uint32_t>(next);
  } else {
    aaidInitialValue = first;
  }
  aaidStep = step;
}

bool TzfAdvAutoIncDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfBaseAutoIncDescriptor::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfAdvAutoIncDescriptor>(aItem);
  return aaidInitialValue == o->aaidInitialValue && aaidStep == o->aaidStep;
}

// ---- TzfBaseStreamDescriptor ----

const TzfSectionDescriptorClassInfo& TzfBaseStreamDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfBaseStreamDescriptor", &TzfDictionaryItem::ClassInfo(),
                                                  &zfFamilyList<TzfBaseStreamDescriptor>,
                                                  &zfNewSectionDescriptor<TzfBaseStreamDescriptor>);
  return info;
}

void TzfBaseStreamDescriptor::SetStreamEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  bsdStreamEngine = aValue;
}

void TzfBaseStreamDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteString(bsdStreamEngine);
}

void TzfBaseStreamDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  bsdStreamEngine = aReader.ReadString();
}

bool TzfBaseStreamDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  return rtl::SameText(bsdStreamEngine, zfItemAs<TzfBaseStreamDescriptor>(aItem)->bsdStreamEngine);
}

// ---- Unit ----

namespace {

void StartStorageDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::RegisterDescriptor(TzfBaseBlockHeapDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseHeapDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseRecordDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfHeapRecordDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseBlobDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfHeapBlobDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseCustomDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseAutoIncDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfAdvAutoIncDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseStreamDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseRecordCompressionDescriptor::ClassInfo());
}

void StopStorageDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::UnregisterDescriptor(TzfBaseRecordCompressionDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseStreamDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfAdvAutoIncDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseAutoIncDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseCustomDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfHeapBlobDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseBlobDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfHeapRecordDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseRecordDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseHeapDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseBlockHeapDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdStorageDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdStorageDescriptor", &StartStorageDescriptors, &StopStorageDescriptors);
  return unit;
}

}  // namespace zf
