// TzfCursor: the link through which a dataset depends on its database component.
//
// The link is a state component of its own, linked both ways with the database: opening the
// dataset opens the link, which opens the database (and so its session); stopping the database
// first stops the link, which closes the dataset, so a dataset never keeps an engine cursor of an
// engine database that is gone. When the database is destroyed the link goes inactive and forgets
// it (and the dataset forgets it too).
#pragma once
#include "client/zfdb.h"

namespace zf {

class TzfDataset;

class TzfCursor : public TzfDataAccessStateComponent {
 public:
  // The link of aDataSet; it has no owner (the dataset frees it).
  explicit TzfCursor(TzfDataset* aDataSet);
  ~TzfCursor() override;
  const char16_t* ClassName() const override { return u"TzfCursor"; }

  TzfDataset* DataSet() const { return crDataSet; }
  TzfDatabase* Database() const { return crDatabase; }
  // Another database needs the link (and so the dataset) inactive; the old one is unlinked.
  void SetDatabase(TzfDatabase* aValue);
  // Links aValue in place of the database without the inactive check (while the link opens).
  void LinkDatabase(TzfDatabase* aValue);

  // The dataset's inactive check ("Cannot perform this operation on an open dataset"), then the
  // component's.
  void CheckInactive() override;
  bool DependsOn(TzfComponent* aComponent) override;
  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;

 protected:
  // The dataset's alias resolved to the session's implicit database first; without a database:
  // the dataset's error "DataSet cannot open its database".
  void DoInitializing() override;
  // Tells the dataset, which closes itself unless it is closing already.
  void DoStopping() override;

 private:
  TzfDataset* crDataSet;
  TzfDatabase* crDatabase = nullptr;
};

}  // namespace zf
