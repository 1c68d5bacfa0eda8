#include "server/zfsrCursorSupport.h"

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "index/zfsdFilterEngineHub.h"
#include "platform/os/osSystem.h"
#include "storage/zfsrTempStorage.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

bool zfApplyInsertOption(TzfInsertOptions& aOptions, const UnicodeString& aName, const UnicodeString& aValue) {
  static const struct {
    const char16_t* Name;
    TzfInsertOption Option;
  } kNames[] = {{u"INSERT_OPTIONS_SETDEFAULT", ioSetDefault},
                {u"INSERT_OPTIONS_SETAUTOINC", ioSetAutoInc},
                {u"INSERT_OPTIONS_VALIDATE", ioValidate}};
  for (const auto& n : kNames) {
    if (!rtl::SameText(aName, n.Name)) continue;
    if (rtl::SameText(aValue, u"True"))
      aOptions.Include(n.Option);
    else
      aOptions.Exclude(n.Option);
    return true;
  }
  return false;
}

void TzfFilterDeadline::Begin(uint64_t aNow, int64_t aThreadDeadline) {
  if (Timeout == 0) {
    Until = 0;
    return;
  }
  Until = static_cast<int64_t>(aNow) + Timeout;
  // Only a real deadline lowers the limit: "never set" (0) would otherwise read as no limit.
  if (aThreadDeadline != zfDeadlineNeverSet && aThreadDeadline != zfDeadlineNone && aThreadDeadline < Until)
    Until = aThreadDeadline;
  if (Until == 0) Until = 1;
}

void TzfFilterDeadline::Begin() { Begin(os::GetTickCount64(), zfTimeoutDeadline()); }

bool TzfFilterDeadline::Check(uint64_t aNow, int64_t aThreadDeadline, uint32_t& aResult) const {
  const int64_t now = static_cast<int64_t>(aNow);
  if (fdLock <= 0 && Until != 0 && now > Until) {
    aResult = zfErrFilterTimeout;
    return true;
  }
  if (aThreadDeadline < now) {
    aResult = zfErrTimeout;
    return true;
  }
  return false;
}

bool TzfFilterDeadline::Check(uint32_t& aResult) const {
  return Check(os::GetTickCount64(), zfTimeoutDeadline(), aResult);
}

uint32_t zfLockFailureResult(TzfLockFailureReason* aReason, uint32_t aCode) {
  UnicodeString message;
  if (aReason && aReason->Count() > 0) {
    if (aReason->SameSession) aCode = zfErrSessionLockConflict;
    message = UnicodeString(zfOrgMarker) + u"\r\r";
    for (int32_t i = 0; i < aReason->Count(); ++i) {
      if (i > 0) message += u"\r\n";
      message += (*aReason)[i];
    }
    aReason->Clear();
  }
  return EzfBaseException::zfSetMessage(aCode, message);
}

void TzfReadOnlyState::SetOpenedReadOnly() {
  IsReadOnly = true;
  Result = zfErrTableReadOnly;
  Message = nullptr;
}

void TzfReadOnlyState::SetFormatOutdated() {
  IsReadOnly = true;
  Result = zfErrHigherTableLevelRequired;
  Message = u"Table format outdated. Table must be packed to enable write access";
}

void TzfReadOnlyState::SetStoredKeysOutdated() {
  IsReadOnly = true;
  Result = zfErrHigherTableLevelRequired;
  Message =
      u"Table contains one or more indices where NLS version of stored keys differs from current NLS version. Table "
      u"must be packed to enable write access";
}

uint32_t TzfReadOnlyState::Error() const {
  if (Message) return EzfBaseException::zfSetMessage(Result, Message);
  return Result;
}

TzfFilterID zfFilterAttach(std::unique_ptr<TzfBaseFilterEngine>& aSlot, std::unique_ptr<TzfBaseFilterEngine> aEngine) {
  const TzfFilterID id = aEngine->FilterID();
  if (!aSlot) {
    aSlot = std::move(aEngine);
  } else if (auto* hub = dynamic_cast<TzfFilterEngineHub*>(aSlot.get())) {
    hub->AddFilter(std::move(aEngine));
  } else {
    // The hub takes the fields source of the first engine, as a hub over two engines does.
    auto hubEngine = std::make_unique<TzfFilterEngineHub>(nullptr, aSlot->FieldsSource());
    hubEngine->AddFilter(std::move(aSlot));
    hubEngine->AddFilter(std::move(aEngine));
    aSlot = std::move(hubEngine);
  }
  return id;
}

uint32_t zfFilterRemove(std::unique_ptr<TzfBaseFilterEngine>& aSlot, TzfFilterID aID) {
  if (aID == 0) {
    aSlot.reset();
    return zfErrNone;
  }
  if (!aSlot) return zfErrInvalidFilterHandle;
  return aSlot->RemoveFilter(aID, aSlot);
}

uint32_t zfFilterActivate(std::unique_ptr<TzfBaseFilterEngine>& aSlot, TzfFilterID aID, bool aActive) {
  if (!aSlot) return zfErrInvalidFilterHandle;
  return aActive ? aSlot->ActivateFilter(aID) : aSlot->DeactivateFilter(aID);
}

uint32_t zfCheckClientKey(const uint8_t* aKey, uint32_t aSize, uint32_t aKeyLength, int32_t aFieldCount,
                          int32_t aKeyFieldCount, int32_t aPartialLen) {
  if (!aKey || aSize < aKeyLength) return zfErrInvalidParam;
  if (aFieldCount < 0 || aFieldCount > aKeyFieldCount) return zfErrInvalidParam;
  if (aPartialLen < 0 || static_cast<uint32_t>(aPartialLen) > aKeyLength) return zfErrInvalidParam;
  return zfErrNone;
}

}  // namespace zf
