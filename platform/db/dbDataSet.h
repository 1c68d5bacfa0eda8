// TDataSet: the framework's dataset. It keeps the state machine, the ring of record buffers on
// show, the fields and their definitions, the events and the data sources; a descendant supplies
// the records through the hooks (allocate a buffer, fetch the current, next or prior record,
// bookmarks, open, close, post, cancel, delete, field data, BLOB streams).
//
// Buffer ring: Buffers 0 .. RecordCount-1 hold the records on show (at most BufferCount, which
// the data links ask for, at least 1); the buffer at RecordCount is the spare that every fetch
// reads into before the ring takes it, so a failed fetch never spoils a record on show. The
// active record is one of those on show; the "current" record is the one the descendant's cursor
// stands on (CurrentRecord, -1 when not known), re-established by UpdateCursorPos.
//
// Fetches: a fetch that moves (next, prior, and those that fill the ring) is always made with the
// error check on, and a fetch that answers grError anyway is raised as EDatabaseError "The record
// could not be read": an unreadable record is never taken for the end of the data. Only the
// re-read of the current record in Resync is made without the check, since that record may be
// gone; the ring is then rebuilt from its neighbours.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/db/dbConsts.h"
#include "platform/db/dbFieldDefs.h"
#include "platform/db/dbFields.h"
#include "platform/db/dbTypes.h"
#include "platform/rtl/rtlComponent.h"
#include "platform/rtl/rtlStream.h"

namespace zf::db {

class TDataSource;

// The fields of a dataset, owned by it, in display order.
class TFields {
 public:
  explicit TFields(TDataSet* aDataSet) : FDataSet(aDataSet) {}
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TField& operator[](int32_t aIndex) const;  // a bad index raises "Field index out of range"
  // Takes the field; a closed dataset only, and no other field of that name (case ignored).
  TField* Add(std::unique_ptr<TField> aField);
  void Clear() { FItems.clear(); }
  TField* FindField(rtl::UnicodeStringView aName) const;      // nullptr when none
  TField& FieldByName(rtl::UnicodeStringView aName) const;    // raises "Field '%s' not found"
  TField* FieldByNumber(int32_t aFieldNo) const;              // nullptr when none

 private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TField>> FItems;
};

class TDataSet : public rtl::TComponent {
 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
  using TDataSetErrorEvent = std::function<void(TDataSet&, EDatabaseError&, TDataAction&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& /*Accept*/)>;

  explicit TDataSet(rtl::TComponent* aOwner = nullptr);
  ~TDataSet() override;
  const char16_t* ClassName() const override { return u"TDataSet"; }
  // Free closes the dataset while the whole object stands; a close that fails still frees the
  // record buffers.
  void BeforeDestruction() override;

  // ---- state ----
  TDataSetState State() const { return FState; }
  // Open: a state other than dsInactive and dsOpening.
  bool Active() const { return FState != dsInactive && FState != dsOpening; }
  void SetActive(bool aValue);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Modified() const { return FModified; }
  bool IsUniDirectional() const { return FUniDirectional; }
  bool Bof() const { return FBOF; }
  bool Eof() const { return FEOF; }
  bool IsEmpty() const { return Active() && FRecordCount == 0; }
  virtual bool CanModify() const { return true; }
  // The checks: "Cannot perform this operation on a closed dataset", "... on an open dataset",
  // "Operation not allowed on a unidirectional dataset", "Dataset not in edit or insert mode"
  // (not in edit or insert), "Cannot modify a read-only dataset".
  void CheckActive() const;
  void CheckInactive() const;
  void CheckBiDirectional() const;
  void CheckEditing() const;
  void CheckCanModify() const;
  // Ends a pending edit: posts a modified record, cancels an unmodified one, posts a key edit.
  virtual void CheckBrowseMode();

  // ---- navigation ----
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int32_t MoveBy(int32_t aDistance);
  // Rebuilds the ring around the cursor's record: rmExact requires that very record (else
  // "Record not found"), rmCenter puts it in the middle of the records on show.
  virtual void Resync(TResyncMode aMode);
  void Refresh();
  void UpdateCursorPos();
  void CursorPosChanged() { FCurrentRecord = -1; }
  virtual TBookmark GetBookmark();
  virtual void GotoBookmark(const TBookmark& aBookmark);
  virtual bool BookmarkValid(const TBookmark& aBookmark) { return false; }
  virtual int32_t CompareBookmarks(const TBookmark& aBookmark1, const TBookmark& aBookmark2) { return 0; }
  virtual int32_t GetRecordCount() { return -1; }
  int32_t RecordCount() { CheckActive(); return GetRecordCount(); }
  virtual int32_t GetRecNo() { return -1; }
  virtual void SetRecNo(int32_t aRecNo) {}
  virtual bool IsSequenced() { return false; }
  virtual bool Locate(const UnicodeString& aKeyFields, const Variant& aKeyValues, TLocateOptions aOptions) {
    return false;
  }
  virtual Variant Lookup(const UnicodeString& aKeyFields, const Variant& aKeyValues,
                         const UnicodeString& aResultFields) {
    return Variant::Null();
  }
  // Find a record (from the first or last with the restart flag) in the direction given; the
  // descendant's FindRecord sets Found.
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return FFound; }
  // Reads the active record afresh into aBuffer; false when there is none (the base has none).
  virtual bool GetCurrentRecord(TRecordBuffer aBuffer) { return false; }
  // Whether aField is a field of the active index (none here).
  virtual bool GetIsIndexField(const TField& aField) const { return false; }

  // ---- editing ----
  void Insert();
  void Append();
  void Edit();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  // Has the links write their pending edits into the fields (deUpdateRecord).
  void UpdateRecord();

  // ---- fields ----
  TFields& Fields() { return FFields; }
  int32_t FieldCount() const { return FFields.Count(); }
  TField* FindField(rtl::UnicodeStringView aName) const { return FFields.FindField(aName); }
  TField& FieldByName(rtl::UnicodeStringView aName) const { return FFields.FieldByName(aName); }
  // The fields of a list "A;B", in order; an unknown name raises "Field '%s' not found".
  void GetFieldList(std::vector<TField*>& aList, rtl::UnicodeStringView aFieldNames) const;
  // The value of the field named; for a list of several ("A;B") an array of their values in list
  // order, low bound 0. An unknown name raises "Field '%s' not found".
  Variant FieldValues(rtl::UnicodeStringView aFieldNames) const;
  TFieldDefs& FieldDefs() { return FFieldDefs; }
  // Rebuilds the field definitions (opening the descendant's cursor for information when closed).
  void InitFieldDefs();
  // Field definitions from the data fields.
  void InitFieldDefsFromFields();
  // Whether the fields were made from the definitions at open (and go at close).
  bool DefaultFields() const { return FDefaultFields; }
  bool AutoCalcFields() const { return FAutoCalcFields; }
  void SetAutoCalcFields(bool aValue) { FAutoCalcFields = aValue; }

  // ---- field data hooks (public: fields and streams call them) ----
  // Whether aField has a value in the active buffer; with aBuffer, the value in native form.
  virtual bool GetFieldData(TField* aField, void* aBuffer) { return false; }
  // Writes aField's value (nullptr = NULL) into the active buffer.
  virtual void SetFieldData(TField* aField, const void* aBuffer) { DatabaseError(kSDataSetReadOnly, this); }
  // A stream over a BLOB field's content; the caller owns it.
  virtual std::unique_ptr<rtl::TStream> CreateBlobStream(TField* aField, TBlobStreamMode aMode);
  // A BLOB field's value on the active record is let go (nothing here).
  virtual void CloseBlob(TField* aField) {}
  // The buffer the current state works on (nullptr when none).
  virtual TRecordBuffer ActiveBuffer() const;
  // Tells the data sources (unless controls are disabled) and the fields what changed.
  virtual void DataEvent(TDataEvent aEvent, intptr_t aInfo);

  // ---- filters (stored here; descendants apply them) ----
  bool Filtered() const { return FFiltered; }
  virtual void SetFiltered(bool aValue) { FFiltered = aValue; }
  const UnicodeString& Filter() const { return FFilterText; }
  virtual void SetFilterText(const UnicodeString& aValue) { FFilterText = aValue; }
  TFilterOptions FilterOptions() const { return FFilterOptions; }
  virtual void SetFilterOptions(TFilterOptions aValue) { FFilterOptions = aValue; }
  const TFilterRecordEvent& OnFilterRecord() const { return FOnFilterRecord; }
  virtual void SetOnFilterRecord(const TFilterRecordEvent& aValue) { FOnFilterRecord = aValue; }

  // ---- block reading and controls ----
  int32_t BlockReadSize() const { return FBlockReadSize; }
  // Above 0 on an open dataset: state dsBlockRead (from browse); 0 ends it.
  virtual void SetBlockReadSize(int32_t aValue);
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount > 0; }
  // Whether aDataSource shows this dataset, directly or through master links.
  bool IsLinkedTo(const TDataSource* aDataSource) const;
  // The data source this dataset follows as a detail (none here).
  virtual TDataSource* GetDataSource() const { return nullptr; }

  // ---- events ----
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert,
      BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete,
      AfterDelete, BeforeScroll, AfterScroll, BeforeRefresh, AfterRefresh, OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

 protected:
  // ---- record buffer hooks ----
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& aBuffer) = 0;
  // Reads the current, next or prior record into aBuffer. With aDoCheck a failure must raise;
  // without it the hook may answer grError.
  virtual TGetResult GetRecord(TRecordBuffer aBuffer, TGetMode aGetMode, bool aDoCheck) = 0;
  virtual void GetBookmarkData(TRecordBuffer aBuffer, void* aData) {}
  virtual void SetBookmarkData(TRecordBuffer aBuffer, const void* aData) {}
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer aBuffer) { return bfCurrent; }
  virtual void SetBookmarkFlag(TRecordBuffer aBuffer, TBookmarkFlag aValue) {}
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const void* aBookmark) {}
  virtual void InternalSetToRecord(TRecordBuffer aBuffer) {}
  virtual void InternalInitRecord(TRecordBuffer aBuffer) {}
  virtual void ClearCalcFields(TRecordBuffer aBuffer) {}
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual bool IsCursorOpen() const = 0;
  // Base: refuses a NULL required data field ("Field '%s' must have a value").
  virtual void InternalPost();
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalDelete() {}
  virtual void InternalAddRecord(TRecordBuffer aBuffer, bool aAppend) {}
  virtual void InternalRefresh() {}
  virtual void InternalHandleException() {}
  virtual void RefreshInternalCalcFields(TRecordBuffer aBuffer) {}
  virtual bool FindRecord(bool aRestart, bool aGoForward) { return false; }
  virtual void UpdateIndexDefs() {}
  virtual TFieldFactory GetFieldClass(TFieldType aType) const { return DefaultFieldClass(aType); }

  // ---- opening and closing ----
  // Opens the descendant's cursor: for information only (field definitions), or fully.
  virtual void OpenCursor(bool aInfoQuery);
  virtual void CloseCursor();
  // Field objects from the definitions (hidden ones get none), binding, destruction.
  void CreateFields();
  virtual void BindFields(bool aBinding);
  void DestroyFields();
  int32_t CalcFieldsSize() const { return FCalcFieldsSize; }
  int32_t BookmarkSize() const { return FBookmarkSize; }
  void SetBookmarkSize(int32_t aValue) { FBookmarkSize = aValue; }
  void SetUniDirectional(bool aValue) { FUniDirectional = aValue; }
  void SetModified(bool aValue) { FModified = aValue; }
  void SetFound(bool aValue) { FFound = aValue; }

  // ---- the ring ----
  // Sizes the buffer list to aValue buffers (records on show plus the spare), keeping the
  // records that still fit; 0 frees every buffer.
  void SetBufListSize(int32_t aValue);
  int32_t BufferCount() const { return FBufferCount; }
  // Buffers on show (the spare is Buffer(BufferedRecordCount())).
  int32_t BufferedRecordCount() const { return FRecordCount; }
  TRecordBuffer Buffer(int32_t aIndex) const { return FBuffers[static_cast<size_t>(aIndex)]; }
  int32_t ActiveRecord() const { return FActiveRecord; }
  int32_t CurrentRecord() const { return FCurrentRecord; }
  TRecordBuffer CalcBuffer() const { return FCalcBuffer; }
  // No records on show, BOF and EOF set.
  void ClearBuffers();
  // One record on show in buffer 0, active and current, BOF and EOF cleared.
  void ActivateBuffers();
  bool& BofFlag() { return FBOF; }
  bool& EofFlag() { return FEOF; }
  // Fetch the next / prior record into the ring; false at the end.
  virtual bool GetNextRecord();
  virtual bool GetPriorRecord();
  void SetCurrentRecord(int32_t aIndex);
  void InitRecord(TRecordBuffer aBuffer);
  // Computes the calculated fields of aBuffer in the temporary state dsCalcFields.
  void GetCalcFields(TRecordBuffer aBuffer);
  virtual void CalculateFields(TRecordBuffer aBuffer);

  // ---- state changes ----
  void SetState(TDataSetState aValue);
  // Temporary states: the state and the Modified flag are put back by RestoreState.
  TDataSetState SetTempState(TDataSetState aValue);
  void RestoreState(TDataSetState aValue);

  // ---- notifications (descendants add to them) ----
  virtual void DoBeforeOpen() { if (BeforeOpen) BeforeOpen(*this); }
  virtual void DoAfterOpen() { if (AfterOpen) AfterOpen(*this); }
  virtual void DoBeforeClose() { if (BeforeClose) BeforeClose(*this); }
  virtual void DoAfterClose() { if (AfterClose) AfterClose(*this); }
  virtual void DoBeforeInsert() { if (BeforeInsert) BeforeInsert(*this); }
  virtual void DoAfterInsert() { if (AfterInsert) AfterInsert(*this); }
  virtual void DoBeforeEdit() { if (BeforeEdit) BeforeEdit(*this); }
  virtual void DoAfterEdit() { if (AfterEdit) AfterEdit(*this); }
  virtual void DoBeforePost() { if (BeforePost) BeforePost(*this); }
  virtual void DoAfterPost() { if (AfterPost) AfterPost(*this); }
  virtual void DoBeforeCancel() { if (BeforeCancel) BeforeCancel(*this); }
  virtual void DoAfterCancel() { if (AfterCancel) AfterCancel(*this); }
  virtual void DoBeforeDelete() { if (BeforeDelete) BeforeDelete(*this); }
  virtual void DoAfterDelete() { if (AfterDelete) AfterDelete(*this); }
  virtual void DoBeforeScroll() { if (BeforeScroll) BeforeScroll(*this); }
  virtual void DoAfterScroll() { if (AfterScroll) AfterScroll(*this); }
  virtual void DoBeforeRefresh() { if (BeforeRefresh) BeforeRefresh(*this); }
  virtual void DoAfterRefresh() { if (AfterRefresh) AfterRefresh(*this); }
  virtual void DoOnNewRecord() { if (OnNewRecord) OnNewRecord(*this); }
  virtual void DoOnCalcFields() { if (OnCalcFields) OnCalcFields(*this); }

 private:
  friend class TDataSource;
  friend class TDataLink;
  friend class TFieldDefs;
  friend class TIndexDefs;
  friend class TFieldDef;
  friend class TTempState;

  TGetResult Fetch(TRecordBuffer aBuffer, TGetMode aMode);  // with the check; grError raises
  void FillForward();   // fetch next records until the ring is full or the end
  void FillBackward();  // fetch prior records until the ring is full or the beginning
  void BeginInsertAppend();
  void EndInsertAppend();
  void RunGuarded(void (TDataSet::*aOperation)(), const TDataSetErrorEvent& aHandler);
  void UpdateBufferCount();
  void FreeBuffers() noexcept;

  TDataSetState FState = dsInactive;
  bool FModified = false;
  bool FBOF = true;
  bool FEOF = true;
  bool FUniDirectional = false;
  bool FDefaultFields = false;
  bool FAutoCalcFields = true;
  bool FInternalCalcFields = false;
  bool FFound = false;
  bool FFiltered = false;
  UnicodeString FFilterText;
  TFilterOptions FFilterOptions;
  TFilterRecordEvent FOnFilterRecord;
  int32_t FBlockReadSize = 0;
  int32_t FBookmarkSize = 0;
  int32_t FCalcFieldsSize = 0;
  int32_t FBufferCount = 0;
  int32_t FRecordCount = 0;
  int32_t FActiveRecord = 0;
  int32_t FCurrentRecord = -1;
  std::vector<TRecordBuffer> FBuffers;
  TRecordBuffer FCalcBuffer = nullptr;
  std::vector<bool> FTempModified;
  int32_t FDisableCount = 0;
  bool FDisabledStateChanged = false;
  bool FDisabledDataChanged = false;
  TFields FFields;
  TFieldDefs FFieldDefs;
  std::vector<TDataSource*> FDataSources;
};

// Puts a temporary state for a scope and restores the former one on the way out.
class TTempState {
 public:
  TTempState(TDataSet& aDataSet, TDataSetState aState);
  ~TTempState();
  TTempState(const TTempState&) = delete;
  TTempState& operator=(const TTempState&) = delete;

 private:
  TDataSet& FDataSet;
  TDataSetState FOld;
};

}  // namespace zf::db
