// An in-memory dataset for the framework's tests: a vector of records behind the record hooks.
//
// Each record holds, per field number, its value in native form (BLOB fields: the content) or
// nothing for NULL. A record buffer is a TTestBuffer object. The cursor stands on a record or on a
// crack before record i (BOF = before 0, EOF = before Count). Records can be marked unreadable: a
// fetch that reaches one moves onto it and then raises (with the check) or answers grError.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/db/dbConsts.h"
#include "platform/db/dbDataSet.h"
#include "platform/db/dbDataSource.h"

namespace zf::db::test {

using Value = std::optional<std::vector<uint8_t>>;

struct TTestRecord {
  int64_t Id = 0;
  std::vector<Value> Values;
};

struct TTestBuffer {
  int64_t Id = 0;
  TBookmarkFlag Flag = bfInserted;
  std::vector<Value> Values;
  std::vector<uint8_t> Calc;
};

struct TColumn {
  TColumn(UnicodeString aName, TFieldType aType, int32_t aSize = 0, TFieldAttributes aAttributes = {})
      : Name(std::move(aName)), Type(aType), Size(aSize), Attributes(aAttributes) {}
  UnicodeString Name;
  TFieldType Type;
  int32_t Size;
  TFieldAttributes Attributes;
};

inline TTestBuffer* Buf(TRecordBuffer b) { return reinterpret_cast<TTestBuffer*>(b); }

class TTestDataSet;

// The stream over one BLOB value of the active buffer.
class TTestBlobStream : public rtl::TStream {
 public:
  TTestBlobStream(TTestDataSet& aDataSet, TField& aField, Value& aValue, TBlobStreamMode aMode, int32_t aShortBy);
  ~TTestBlobStream() override;
  int32_t Read(void* aBuffer, int32_t aCount) override;
  int32_t Write(const void* aBuffer, int32_t aCount) override;
  int64_t Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) override;
  int64_t GetSize() override { return FValue ? static_cast<int64_t>(FValue->size()) : 0; }

 private:
  TTestDataSet& FDataSet;
  TField& FField;
  Value& FValue;
  TBlobStreamMode FMode;
  int32_t FShortBy;
  int64_t FPos = 0;
  bool FModified = false;
};

class TTestDataSet : public TDataSet {
 public:
  explicit TTestDataSet(std::vector<TColumn> aColumns) : FColumns(std::move(aColumns)) {}
  ~TTestDataSet() override { Close(); }

  // ---- the table behind the hooks ----
  std::vector<TTestRecord> Rows;
  std::set<int64_t> Unreadable;       // fetches of these records fail
  bool AnswerErrorDespiteCheck = false;  // a faulty descendant: grError even with the check
  bool FailPost = false;
  bool ReadOnlyDataSet = false;
  int32_t BlobShortBy = 0;  // BLOB reads deliver this many bytes fewer than the length says
  int32_t Fetches = 0;
  std::vector<std::string>* Log = nullptr;

  // A record of integers (field 1) and NULLs elsewhere; answers its id.
  int64_t AddRow(std::vector<Value> aValues) {
    aValues.resize(FColumns.size());
    Rows.push_back({++FNextId, std::move(aValues)});
    return FNextId;
  }
  static Value Int32(int32_t v) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
  }
  void AddIntRows(int32_t aCount) {
    for (int32_t i = 1; i <= aCount; ++i) AddRow({Int32(i)});
  }
  int32_t FirstInt(size_t aRow) const {
    int32_t v;
    std::memcpy(&v, Rows[aRow].Values[0]->data(), 4);
    return v;
  }

  // ---- access to the ring for the tests ----
  using TDataSet::ActiveRecord;
  using TDataSet::BufferCount;
  using TDataSet::BufferedRecordCount;
  using TDataSet::CalcFieldsSize;
  using TDataSet::SetTempState;
  using TDataSet::RestoreState;
  using TDataSet::SetUniDirectional;
  using TDataSet::SetState;
  int64_t BufferId(int32_t aIndex) const { return Buf(Buffer(aIndex))->Id; }

  bool CanModify() const override { return !ReadOnlyDataSet; }
  int32_t GetRecordCount() override { return static_cast<int32_t>(Rows.size()); }

  bool GetFieldData(TField* aField, void* aBuffer) override {
    TTestBuffer* b = Buf(ActiveBuf());
    if (!b) return false;
    if (aField->FieldNo() < 1) {
      size_t at = static_cast<size_t>(aField->Offset());
      if (!(b->Calc[at] & 1)) return false;
      if (aBuffer) std::memcpy(aBuffer, &b->Calc[at + 1], static_cast<size_t>(aField->DataSize()));
      return true;
    }
    const Value& v = b->Values[static_cast<size_t>(aField->FieldNo() - 1)];
    if (!v) return false;
    if (aBuffer && !aField->IsBlob()) std::memcpy(aBuffer, v->data(), static_cast<size_t>(aField->DataSize()));
    return true;
  }

  void SetFieldData(TField* aField, const void* aBuffer) override {
    TDataSetState s = State();
    if (s != dsEdit && s != dsInsert && s != dsSetKey && s != dsCalcFields && s != dsFilter && s != dsNewValue &&
        s != dsInternalCalc)
      DatabaseError(kSNotEditing, this);
    TTestBuffer* b = Buf(ActiveBuf());
    if (!b) DatabaseError(kSNotEditing, this);
    if (aField->FieldNo() < 1) {
      size_t at = static_cast<size_t>(aField->Offset());
      b->Calc[at] = aBuffer ? 1 : 0;
      if (aBuffer) std::memcpy(&b->Calc[at + 1], aBuffer, static_cast<size_t>(aField->DataSize()));
      return;
    }
    if (s == dsCalcFields || (aField->ReadOnly() && s != dsSetKey && s != dsFilter))
      DatabaseErrorFmt(kSFieldReadOnly, {aField->DisplayName()}, this);
    aField->Validate(aBuffer);
    Value& v = b->Values[static_cast<size_t>(aField->FieldNo() - 1)];
    if (!aBuffer)
      v.reset();
    else if (!aField->IsBlob())
      v = std::vector<uint8_t>(static_cast<const uint8_t*>(aBuffer),
                               static_cast<const uint8_t*>(aBuffer) + aField->DataSize());
    if (s != dsCalcFields && s != dsFilter && s != dsNewValue) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(aField));
  }

  std::unique_ptr<rtl::TStream> CreateBlobStream(TField* aField, TBlobStreamMode aMode) override {
    TTestBuffer* b = Buf(ActiveBuf());
    if (!b || !aField->IsBlob()) DatabaseError(u"Field is not a BLOB", this);
    if (aMode != bmRead && State() != dsEdit && State() != dsInsert) DatabaseError(kSNotEditing, this);
    return std::make_unique<TTestBlobStream>(*this, *aField, b->Values[static_cast<size_t>(aField->FieldNo() - 1)],
                                             aMode, BlobShortBy);
  }

  TRecordBuffer ActiveBuf() const { return State() == dsFilter ? FRecordToFilter : ActiveBuffer(); }
  void FieldChanged(TField& aField) { DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&aField)); }

 protected:
  TRecordBuffer AllocRecordBuffer() override {
    auto* b = new TTestBuffer;
    b->Values.resize(FColumns.size());
    b->Calc.resize(static_cast<size_t>(CalcFieldsSize()));
    return reinterpret_cast<TRecordBuffer>(b);
  }
  void FreeRecordBuffer(TRecordBuffer& aBuffer) override {
    delete Buf(aBuffer);
    aBuffer = nullptr;
  }

  TGetResult GetRecord(TRecordBuffer aBuffer, TGetMode aMode, bool aDoCheck) override {
    ++Fetches;
    for (;;) {
      int64_t t;
      if (aMode == gmCurrent) {
        if (FCrack) {
          if (aDoCheck) DatabaseError(u"No current record", this);
          return grError;
        }
        t = FPos;
      } else {
        t = aMode == gmNext ? (FCrack ? FPos : FPos + 1) : FPos - 1;
      }
      if (t < 0) {
        FPos = 0;
        FCrack = true;
        return grBOF;
      }
      if (t >= static_cast<int64_t>(Rows.size())) {
        FPos = static_cast<int64_t>(Rows.size());
        FCrack = true;
        return grEOF;
      }
      FPos = t;
      FCrack = false;
      const TTestRecord& r = Rows[static_cast<size_t>(t)];
      if (Unreadable.count(r.Id)) {
        if (aDoCheck && !AnswerErrorDespiteCheck) DatabaseError(u"Record is damaged", this);
        return grError;
      }
      TTestBuffer* b = Buf(aBuffer);
      b->Id = r.Id;
      b->Flag = bfCurrent;
      b->Values = r.Values;
      GetCalcFields(aBuffer);
      if (Filtered() && OnFilterRecord() && aMode != gmCurrent) {
        TTempState filter(*this, dsFilter);
        FRecordToFilter = aBuffer;
        bool accept = true;
        OnFilterRecord()(*this, accept);
        FRecordToFilter = nullptr;
        if (!accept) continue;
      }
      return grOK;
    }
  }

  void GetBookmarkData(TRecordBuffer aBuffer, void* aData) override { std::memcpy(aData, &Buf(aBuffer)->Id, 8); }
  void SetBookmarkData(TRecordBuffer aBuffer, const void* aData) override { std::memcpy(&Buf(aBuffer)->Id, aData, 8); }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer aBuffer) override { return Buf(aBuffer)->Flag; }
  void SetBookmarkFlag(TRecordBuffer aBuffer, TBookmarkFlag aValue) override { Buf(aBuffer)->Flag = aValue; }
  void InternalFirst() override { FPos = 0; FCrack = true; }
  void InternalLast() override { FPos = static_cast<int64_t>(Rows.size()); FCrack = true; }
  void InternalGotoBookmark(const void* aBookmark) override {
    if (!aBookmark) DatabaseError(u"No bookmark", this);
    int64_t id;
    std::memcpy(&id, aBookmark, 8);
    int64_t i = IndexOf(id);
    if (i < 0) DatabaseError(u"Bookmark not found", this);
    FPos = i;
    FCrack = false;
  }
  void InternalSetToRecord(TRecordBuffer aBuffer) override { InternalGotoBookmark(&Buf(aBuffer)->Id); }
  void InternalInitRecord(TRecordBuffer aBuffer) override {
    TTestBuffer* b = Buf(aBuffer);
    b->Id = 0;
    b->Values.assign(FColumns.size(), std::nullopt);
  }
  void ClearCalcFields(TRecordBuffer aBuffer) override {
    auto& c = Buf(aBuffer)->Calc;
    c.assign(static_cast<size_t>(CalcFieldsSize()), 0);
  }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (const TColumn& c : FColumns) FieldDefs().Add(c.Name, c.Type, c.Size).SetAttributes(c.Attributes);
  }
  void InternalOpen() override {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(8);
    FOpen = true;
    InternalFirst();
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    FOpen = false;
  }
  bool IsCursorOpen() const override { return FOpen; }
  void InternalEdit() override {
    if (BufferedRecordCount() == 0) return;
    TTestBuffer* b = Buf(Buffer(ActiveRecord()));
    int64_t i = IndexOf(b->Id);
    if (i < 0) DatabaseError(u"Record was deleted", this);
    b->Values = Rows[static_cast<size_t>(i)].Values;
  }
  void InternalPost() override {
    TDataSet::InternalPost();
    if (FailPost) DatabaseError(u"Post refused", this);
    TTestBuffer* b = Buf(ActiveBuf());
    if (State() == dsEdit) {
      int64_t i = IndexOf(b->Id);
      Rows[static_cast<size_t>(i)].Values = b->Values;
      FPos = i;
    } else {
      int64_t at = b->Flag == bfEOF ? static_cast<int64_t>(Rows.size()) : b->Flag == bfBOF ? 0 : IndexOf(b->Id);
      if (at < 0) at = static_cast<int64_t>(Rows.size());
      Rows.insert(Rows.begin() + at, {++FNextId, b->Values});
      FPos = at;
    }
    FCrack = false;
  }
  void InternalCancel() override { if (Log) Log->push_back("InternalCancel"); }
  void InternalDelete() override {
    if (FCrack) DatabaseError(u"No current record", this);
    Rows.erase(Rows.begin() + FPos);
    FCrack = true;  // before the record that followed
  }

  void DoBeforeOpen() override { Note("BeforeOpen"); TDataSet::DoBeforeOpen(); }
  void DoAfterOpen() override { Note("AfterOpen"); TDataSet::DoAfterOpen(); }
  void DoBeforeClose() override { Note("BeforeClose"); TDataSet::DoBeforeClose(); }
  void DoAfterClose() override { Note("AfterClose"); TDataSet::DoAfterClose(); }
  void DoBeforeInsert() override { Note("BeforeInsert"); TDataSet::DoBeforeInsert(); }
  void DoAfterInsert() override { Note("AfterInsert"); TDataSet::DoAfterInsert(); }
  void DoBeforeEdit() override { Note("BeforeEdit"); TDataSet::DoBeforeEdit(); }
  void DoAfterEdit() override { Note("AfterEdit"); TDataSet::DoAfterEdit(); }
  void DoBeforePost() override { Note("BeforePost"); TDataSet::DoBeforePost(); }
  void DoAfterPost() override { Note("AfterPost"); TDataSet::DoAfterPost(); }
  void DoBeforeCancel() override { Note("BeforeCancel"); TDataSet::DoBeforeCancel(); }
  void DoAfterCancel() override { Note("AfterCancel"); TDataSet::DoAfterCancel(); }
  void DoBeforeDelete() override { Note("BeforeDelete"); TDataSet::DoBeforeDelete(); }
  void DoAfterDelete() override { Note("AfterDelete"); TDataSet::DoAfterDelete(); }
  void DoBeforeScroll() override { Note("BeforeScroll"); TDataSet::DoBeforeScroll(); }
  void DoAfterScroll() override { Note("AfterScroll"); TDataSet::DoAfterScroll(); }
  void DoOnNewRecord() override { Note("OnNewRecord"); TDataSet::DoOnNewRecord(); }

 private:
  void Note(const char* aEvent) {
    if (Log) Log->push_back(aEvent);
  }
  int64_t IndexOf(int64_t aId) const {
    for (size_t i = 0; i < Rows.size(); ++i)
      if (Rows[i].Id == aId) return static_cast<int64_t>(i);
    return -1;
  }

  std::vector<TColumn> FColumns;
  int64_t FNextId = 0;
  int64_t FPos = 0;
  bool FCrack = true;
  bool FOpen = false;
  TRecordBuffer FRecordToFilter = nullptr;
};

inline TTestBlobStream::TTestBlobStream(TTestDataSet& aDataSet, TField& aField, Value& aValue, TBlobStreamMode aMode,
                                        int32_t aShortBy)
    : FDataSet(aDataSet), FField(aField), FValue(aValue), FMode(aMode), FShortBy(aShortBy) {
  if (aMode == bmWrite) {
    FValue = std::vector<uint8_t>();
    FModified = true;
  }
}

inline TTestBlobStream::~TTestBlobStream() {
  if (FModified) {
    static_cast<TBlobField&>(FField).SetModified(true);
    FDataSet.FieldChanged(FField);
  }
}

inline int32_t TTestBlobStream::Read(void* aBuffer, int32_t aCount) {
  int64_t size = GetSize() - FShortBy;
  int64_t n = std::max<int64_t>(0, std::min<int64_t>(aCount, size - FPos));
  if (n > 0) std::memcpy(aBuffer, FValue->data() + FPos, static_cast<size_t>(n));
  FPos += n;
  return static_cast<int32_t>(n);
}

inline int32_t TTestBlobStream::Write(const void* aBuffer, int32_t aCount) {
  if (FMode == bmRead || aCount <= 0) return 0;
  if (!FValue) FValue = std::vector<uint8_t>();
  if (FValue->size() < static_cast<size_t>(FPos + aCount)) FValue->resize(static_cast<size_t>(FPos + aCount));
  std::memcpy(FValue->data() + FPos, aBuffer, static_cast<size_t>(aCount));
  FPos += aCount;
  FModified = true;
  return aCount;
}

inline int64_t TTestBlobStream::Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) {
  switch (aOrigin) {
    case rtl::TSeekOrigin::soBeginning: FPos = aOffset; break;
    case rtl::TSeekOrigin::soCurrent: FPos += aOffset; break;
    case rtl::TSeekOrigin::soEnd: FPos = GetSize() + aOffset; break;
  }
  return FPos;
}

// The text of the EDatabaseError aCall raises ("" when it raises nothing).
template <typename F>
std::string DbErrorOf(F aCall) {
  try {
    aCall();
  } catch (const EDatabaseError& e) {
    return rtl::u8(e.Message());
  }
  return "";
}

}  // namespace zf::db::test
