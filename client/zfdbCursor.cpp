#include "client/zfdbCursor.h"

#include "client/zfdbDataset.h"

namespace zf {

TzfCursor::TzfCursor(TzfDataset* aDataSet) : TzfDataAccessStateComponent(nullptr), crDataSet(aDataSet) {}

TzfCursor::~TzfCursor() {
  if (crDatabase) UnlinkDependent(crDatabase);
}

void TzfCursor::SetDatabase(TzfDatabase* aValue) {
  if (aValue == crDatabase) return;
  CheckInactive();
  LinkDatabase(aValue);
}

void TzfCursor::LinkDatabase(TzfDatabase* aValue) {
  if (aValue == crDatabase) return;
  if (crDatabase) UnlinkDependent(crDatabase);
  crDatabase = aValue;
  if (crDatabase) LinkDependent(crDatabase);
}

void TzfCursor::CheckInactive() {
  crDataSet->CheckInactiveFromCursor();
  TzfDataAccessStateComponent::CheckInactive();
}

bool TzfCursor::DependsOn(TzfComponent* aComponent) {
  return (aComponent && aComponent == crDatabase) || TzfDataAccessStateComponent::DependsOn(aComponent);
}

void TzfCursor::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  TzfDataAccessStateComponent::ReceiveNotification(aSender, aKind, aData);
  if (aKind == zfcnDestroying && aSender && aSender == crDatabase) {
    try {
      Close();
    } catch (...) {
      // The database is going whatever the dataset answers.
    }
    UnlinkDependent(crDatabase);
    crDatabase = nullptr;
    crDataSet->DatabaseGone();
  }
}

void TzfCursor::DoInitializing() {
  crDataSet->ResolveAliasDatabase();
  if (!crDatabase) throw EzfDatabaseError(TzfErrorSource(crDataSet), u"DataSet cannot open its database");
  TzfDataAccessStateComponent::DoInitializing();
}

void TzfCursor::DoStopping() {
  TzfDataAccessStateComponent::DoStopping();
  crDataSet->ShutdownFromCursor();
}

}  // namespace zf
