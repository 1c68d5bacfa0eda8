// Data sources and data links: a TDataSource shows one dataset to any number of TDataLink
// objects, which hear the dataset's data events. TMasterDataLink is the link of a detail dataset
// to its master: it is inactive until it has a data source with an open dataset, and then tells
// its detail when the master's record changes (OnMasterChange) or the master goes (OnMasterDisable).
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/db/dbTypes.h"
#include "platform/rtl/rtlComponent.h"

namespace zf::db {

class TDataSet;
class TDataLink;
class TField;

class TDataSource : public rtl::TComponent {
 public:
  using TNotifyEvent = std::function<void(TDataSource&)>;
  using TDataChangeEvent = std::function<void(TDataSource&, TField*)>;

  explicit TDataSource(rtl::TComponent* aOwner = nullptr);
  ~TDataSource() override;
  const char16_t* ClassName() const override { return u"TDataSource"; }

  TDataSet* DataSet() const { return FDataSet; }
  // Links the source to a dataset (nullptr unlinks); refuses a dataset that follows this source
  // ("Circular datalinks are not allowed").
  void SetDataSet(TDataSet* aDataSet);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue);
  // The dataset's state, dsInactive without a dataset or while disabled.
  TDataSetState State() const { return FState; }
  // Whether aDataSet shows this source's data, here or through its own master source.
  bool IsLinkedTo(const TDataSet* aDataSet) const;

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent aEvent, intptr_t aInfo);
  void NotifyLinks(TDataEvent aEvent, intptr_t aInfo);
  void UpdateState();

  TDataSet* FDataSet = nullptr;
  bool FEnabled = true;
  TDataSetState FState = dsInactive;
  std::vector<TDataLink*> FLinks;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return FDataSource; }
  void SetDataSource(TDataSource* aDataSource);
  TDataSet* DataSet() const;
  // The source has an open dataset and is enabled.
  bool Active() const { return FActive; }
  // Records the link wants on show (the dataset shows the largest count of its links).
  int32_t BufferCount() const { return FBufferCount; }
  void SetBufferCount(int32_t aValue);

 protected:
  friend class TDataSource;
  virtual void ActiveChanged() {}
  virtual void RecordChanged(TField* aField) {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int32_t aDistance) { DataSetChanged(); }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void UpdateData() {}
  virtual void CheckBrowseMode() {}
  virtual void DataEvent(TDataEvent aEvent, intptr_t aInfo);

 private:
  void UpdateState();

  TDataSource* FDataSource = nullptr;
  bool FActive = false;
  bool FEditing = false;
  int32_t FBufferCount = 1;
};

// The link of a detail dataset to its master's fields.
class TMasterDataLink : public TDataLink {
 public:
  using TNotifyEvent = std::function<void()>;

  explicit TMasterDataLink(TDataSet* aDetail) : FDetail(aDetail) {}
  TDataSet* Detail() const { return FDetail; }
  // The master's field names "A;B" and, while active, the master's fields.
  const UnicodeString& FieldNames() const { return FFieldNames; }
  void SetFieldNames(const UnicodeString& aValue);
  const std::vector<TField*>& Fields() const { return FFields; }

  TNotifyEvent OnMasterChange;
  TNotifyEvent OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* aField) override;
  void LayoutChanged() override { ActiveChanged(); }

 private:
  TDataSet* FDetail;
  UnicodeString FFieldNames;
  std::vector<TField*> FFields;
};

}  // namespace zf::db
