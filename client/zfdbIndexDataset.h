// TzfIndexDataSet: a dataset that knows the active index of its engine cursor.
//
// It chooses the index by name or by field names, mirrors the table's indexes as the
// framework's index definitions (and turns definitions into dictionary indexes for a table about
// to be built), and keeps six key buffers in which the application builds search keys and range
// ends through the fields: searches by key (GotoKey, FindKey, GotoNearest, FindNearest) and key
// ranges (SetRange, ApplyRange, CancelRange). Locate and Lookup on key fields that lead an index
// (same order, same case rule on text fields) go through that index: the dataset's own cursor
// when it is the active one, else a second cursor of the same session kept for the next lookup
// on the same fields; without such an index (or while a range is in force) they take the
// expression filter of the dataset core.
//
// Key buffer: a 10-byte header followed by the key data, a record image in the dataset's record
// layout (only the key fields count):
//   offset 0  1 byte   modified: the buffer holds a key (a range end without one is open)
//   offset 1  1 byte   exclusive: the key itself is excluded
//   offset 2  4 bytes  field count: key fields given (0 = all fields of the index)
//   offset 6  4 bytes  partial length: above 0, the last given field is compared partially
// The header lives in memory only (native byte order); it is never stored.
//
// Field count handed to the engine: the header's count, or every key field when it is 0, less
// one when the last field is compared partially.
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "client/zfdbDataset.h"
#include "platform/db/dbDataSource.h"
#include "platform/db/dbFieldDefs.h"

namespace zf {

class TzfMainIndicesDescriptor;

enum TzfKeyBufferIndex : uint8_t {
  kbiKey,
  kbiRangeStart,
  kbiRangeEnd,
  kbiAppliedRangeStart,
  kbiAppliedRangeEnd,
  kbiSave
};

enum class TzfSetKeyOption : uint8_t { skoExclusive, skoPartialMatch };
using enum TzfSetKeyOption;
using TzfSetKeyOptions = rtl::EnumSet<TzfSetKeyOption>;

#pragma pack(push, 1)
struct TzfKeyBufferHeader {
  uint8_t kbModified;
  uint8_t kbExclusive;
  int32_t kbFieldCount;
  int32_t kbPartialLen;
};
#pragma pack(pop)
static_assert(sizeof(TzfKeyBufferHeader) == 10, "the key buffer header is 10 bytes");
using PzfKeyBuffer = uint8_t*;

// The partial length that means "the whole given text".
inline constexpr int32_t zfPartialWholeText = 0x7FFFFFFE;

class TzfIndexDataSet : public TzfDataset {
 public:
  using TzfValues = std::vector<rtl::Variant>;

  explicit TzfIndexDataSet(rtl::TComponent* aOwner = nullptr);
  ~TzfIndexDataSet() override;
  const char16_t* ClassName() const override { return u"TzfIndexDataSet"; }

  // ---- index selection ----
  // Empty when the index was chosen by fields or is the table's default.
  UnicodeString IndexName() const;
  void SetIndexName(const UnicodeString& aValue) { SetIndex(aValue, false); }
  // The field list when the index was chosen by fields, else empty.
  UnicodeString IndexFieldNames() const;
  void SetIndexFieldNames(const UnicodeString& aValue) { SetIndex(aValue, !aValue.empty()); }
  // The active index's name whatever way it was chosen (after an open).
  const UnicodeString& ActiveIndexName() const { return idIndexName; }
  db::TIndexDefs& IndexDefs() { return idIndexDefs; }
  // The index definitions' names, brought up to date first.
  void GetIndexNames(rtl::TStrings& aList);
  // The index that aName names (aFieldsIndex: the index for those fields); empty gives the
  // default index's name (empty when the table has none). An unknown name raises 9997.
  UnicodeString ResolveIndexName(const UnicodeString& aName, bool aFieldsIndex);
  // Key fields of the active composite index.
  int32_t IndexFieldCount() const { return static_cast<int32_t>(idIndexFieldMap.size()); }
  // The field of key field aIndex ("Field index out of range" outside the key).
  db::TField* IndexFieldAt(int32_t aIndex);
  // Adds each definition (but the sequential access index and those without fields) to the
  // indexes of aIndicesDescriptor; an unknown field raises 10038.
  static void AddIndexDefsToDictionary(const db::TIndexDefs& aIndexDefs, TzfMainIndicesDescriptor& aIndicesDescriptor);
  static void AddIndexDefToDictionary(const db::TIndexDef& aDef, TzfMainIndicesDescriptor& aIndicesDescriptor);

  // ---- key buffers and searches ----
  void SetKey();
  void EditKey();
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  // True when a record with the key was found and made current; false (nothing raised, nothing
  // moved on show) when there is none.
  bool GotoKey();
  // The first record at or after the key (after it when exclusive); backwards when flipped.
  void GotoNearest();
  void GotoNearestBackward();
  bool FindKey(const TzfValues& aValues, TzfSetKeyOptions aOptions = {});
  void FindNearest(const TzfValues& aValues, TzfSetKeyOptions aOptions = {});
  void SetRange(const TzfValues& aStartValues, const TzfValues& aEndValues, TzfSetKeyOptions aStartOptions = {},
                TzfSetKeyOptions aEndOptions = {});
  void SetRangeShared(const TzfValues& aSharedValues, const TzfValues& aStartValues, const TzfValues& aEndValues,
                      TzfSetKeyOptions aStartOptions = {}, TzfSetKeyOptions aEndOptions = {});
  void SetRangeSimple(const TzfValues& aValues, TzfSetKeyOptions aOptions = {});
  // Hands the range to the cursor and goes to its first record (nothing when unchanged).
  void ApplyRange();
  void CancelRange();
  // Whether a range is in force.
  bool RangeActive() const;
  bool KeyExclusive() const;
  void SetKeyExclusive(bool aValue);
  int32_t KeyFieldCount() const;
  void SetKeyFieldCount(int32_t aValue);
  int32_t KeyPartialLen() const;
  void SetKeyPartialLen(int32_t aValue);
  void Post() override;
  void Cancel() override;
  bool GetIsIndexField(const db::TField& aField) const override;
  // A property change marks the index definitions out of date.
  void DataEvent(db::TDataEvent aEvent, intptr_t aInfo) override;

  // ---- master/detail ----
  // The master's data source; a source linked to this dataset raises "Circular data link with
  // data source [<name>]" and changes nothing.
  db::TDataSource* MasterSource() const { return idMasterLink->DataSource(); }
  void SetMasterSource(db::TDataSource* aValue);
  // The master's fields "A;B", matched in order with the active index's key fields.
  const UnicodeString& MasterFields() const { return idMasterLink->FieldNames(); }
  void SetMasterFields(const UnicodeString& aValue) { idMasterLink->SetFieldNames(aValue); }
  db::TDataSource* GetDataSource() const override { return MasterSource(); }

  // The header of key buffer aIndex (tests read it).
  TzfKeyBufferHeader KeyBufferHeader(TzfKeyBufferIndex aIndex) const;

 protected:
  virtual bool StoreFieldDefs() { return false; }
  virtual bool StoreIndexDefs() { return false; }
  // Fills key buffer aIndex from values (composite keys; values of aValues1 then aValues2).
  virtual void SetKeyFields(TzfKeyBufferIndex aIndex, const TzfValues& aValues1, const TzfValues& aValues2,
                            TzfSetKeyOptions aOptions);
  // Removes a range in force from the cursor; false when there was none.
  virtual bool ResetRange();
  // Hands the range buffers to the cursor when they changed; false when nothing was done.
  bool ApplyRangeToCursor();
  // An exact key read (field-count rule, filter time-out retry); aData may be nullptr.
  uint32_t GetRecordForKey(TzfAbstractCursor* aCursor, int32_t aFieldCount, int32_t aPartialLen, bool aDirectKey,
                           const uint8_t* aKeyData, uint8_t* aData);
  void CheckSetKeyMode() const;
  // Writes a reference-number key (the sequential access index) from one value: a 64-bit integer
  // or a text holding one; Empty and Null give no key. Other kinds, and more than one value,
  // raise "Invalid value for field '<RefNr>'".
  void SetRefNrKeyFields(const TzfValues& aValues1, const TzfValues& aValues2, TzfSetKeyOptions aOptions);
  // Writes a token key (an index of a full-text token index) from one value: its text (integers
  // in decimal), cut to the key and never ending on a high surrogate; Empty, Null and empty text
  // give no key. Other kinds, and more than one value, raise "Invalid value for field '<Token>'".
  void SetTokenKeyFields(const TzfValues& aValues1, const TzfValues& aValues2, TzfSetKeyOptions aOptions);
  // A copy of key buffer aIndex (empty when the buffers do not exist), and its way back (a copy
  // of another size is ignored).
  std::vector<uint8_t> KeyBufferCopy(TzfKeyBufferIndex aIndex) const;
  void KeyBufferRestore(TzfKeyBufferIndex aIndex, const std::vector<uint8_t>& aCopy);
  void SetIndex(const UnicodeString& aName, bool aFieldsIndex);
  // Switches the cursor to aIndexName and rebuilds the layout of the key and record buffers.
  void ActivateIndex(const UnicodeString& aIndexName);
  void SetupIndex() override;
  void AllocKeyBuffers();
  void FreeKeyBuffers();
  bool GetKeyEditBuffer(db::TRecordBuffer& aBuffer) const override;
  void UpdateIndexDefs() override;
  void InternalOpen() override;
  void InternalClose() override;
  void SetFieldData(db::TField* aField, const void* aBuffer) override;
  // A new record takes the master's values into its index fields, then OnNewRecord runs.
  void DoOnNewRecord() override;
  // The master's range again after an open or an index change (no move to the first record).
  void LinkToMaster();
  bool LocateRecord(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues, db::TLocateOptions aOptions,
                    bool aNoRead) override;
  void DropLookupCursor() override;

  bool idFieldsIndex = false;
  bool idDefaultIndex = true;
  UnicodeString idIndexName;
  UnicodeString idIndexFieldNames;

 private:
  TzfKeyBufferHeader& Header(TzfKeyBufferIndex aIndex) const;
  uint8_t* KeyData(TzfKeyBufferIndex aIndex) const { return idKeyBuffers[aIndex] + sizeof(TzfKeyBufferHeader); }
  TzfKeyBufferHeader& EditedHeader() const;
  PzfKeyBuffer InitKeyBuffer(PzfKeyBuffer aBuffer);
  void BeginKeyEdit(TzfKeyBufferIndex aIndex, bool aClear);
  void EndKeyEdit(bool aCommit);
  // The engine's field count for a key buffer.
  int32_t EngineFieldCount(const TzfKeyBufferHeader& aHeader) const;
  bool IsIndexForFields(const std::vector<db::TField*>& aFields, bool aCaseInsensitive) const;
  TzfAbstractCursor* GetLookupCursor(const UnicodeString& aKeyFields, const std::vector<db::TField*>& aFields,
                                     bool aCaseInsensitive);

  // Both range ends become the master's values, inclusive.
  void SetLinkRange(const std::vector<db::TField*>& aMasterFields);
  void MasterChanged();
  void MasterDisabled();

  db::TIndexDefs idIndexDefs;
  std::unique_ptr<db::TMasterDataLink> idMasterLink;
  std::vector<int32_t> idIndexFieldMap;
  std::vector<bool> idIndexFieldMapNC;
  bool idIndexDirectKey = false;
  bool idIndexTokenKey = false;  // the direct key is a token key (else a reference number)
  int32_t idIndexKeySize = 0;
  int32_t idKeyBufferSize = 0;
  std::array<PzfKeyBuffer, 6> idKeyBuffers{};
  PzfKeyBuffer idKeyBuffer = nullptr;
  UnicodeString idLookupFieldNames;
  bool idLookupCaseIns = false;
  TzfAbstractCursor* idLookupCursorID = nullptr;  // owned
};

}  // namespace zf
