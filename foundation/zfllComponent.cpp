#include "foundation/zfllComponent.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/zfllConst.h"
#include "foundation/zfllConvertException.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllUtils.h"
#include "platform/rtl/rtlDateTime.h"

namespace zf {

using zf::rtl::Format;

// ---------------------------------------------------------------------------------------------
// Exceptions

UnicodeString EzfComponentException::ComponentName(const TComponent* aComponent) {
  if (!aComponent) return u"<nil pointer>";
  if (!aComponent->Name().empty()) return aComponent->Name();
  return Format(u"<unnamed %s instance>", {aComponent->ClassName()});
}

EzfComponentException::EzfComponentException(const TComponent* aComponent, const UnicodeString& aMsg)
    : EzfBaseException(UnicodeStringView(aMsg)) {
  SetMessage(Format(u"ZofrinDB: %s: %s [no error code]", {ComponentName(aComponent), GetProcessedErrorString()}));
}

EzfComponentException::EzfComponentException(const TComponent* aComponent, uint32_t aErrorCode)
    : EzfBaseException(aErrorCode) {
  // The code form takes the thread's pending text (the last converted exception) for this code.
  NameComponent(aComponent);
}

EzfComponentException::EzfComponentException(const TComponent* aComponent, uint32_t aErrorCode,
                                             const UnicodeString& aAltMsg)
    : EzfBaseException(aErrorCode, UnicodeStringView(aAltMsg)) {
  NameComponent(aComponent);
}

void EzfComponentException::NameComponent(const TComponent* aComponent) {
  const uint32_t code = GetErrorCode();
  SetMessage(Format(u"ZofrinDB: %s: %s [$%x/%d]", {ComponentName(aComponent), GetProcessedErrorString(), code, code}));
}

// ---------------------------------------------------------------------------------------------
// Iteration

bool TzfIterationData::Ignores(const UnicodeString& aClassName) const {
  for (const UnicodeString& n : IgnoreIterateClasses)
    if (zf::rtl::SameText(n, aClassName)) return true;
  return false;
}

size_t TzfIterationList::Search(TzfComponent* aItem, bool& aFound) const {
  const UnicodeString name = aItem->DisplayName();
  auto it = std::lower_bound(FItems.begin(), FItems.end(), name, [](TzfComponent* c, const UnicodeString& n) {
    return zfLocaleCompareText(c->DisplayName(), n) < 0;
  });
  aFound = it != FItems.end() && zfLocaleCompareText((*it)->DisplayName(), name) == 0;
  return static_cast<size_t>(it - FItems.begin());
}

bool TzfIterationList::Contains(TzfComponent* aItem) const {
  bool found = false;
  Search(aItem, found);
  return found;
}

int TzfIterationList::Add(TzfComponent* aItem) {
  if (!CanAdd(aItem)) return -1;
  bool found = false;
  size_t at = Search(aItem, found);
  if (found) return -1;
  FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(at), aItem);
  return static_cast<int>(at);
}

namespace {

[[noreturn]] void IncompatibleStream() { throw EzfComponentException(nullptr, zfErrIncompatibleStream); }

}  // namespace

void TzfIterationList::SaveSettingsToStream(TzfWriter& aWriter) {
  aWriter.WriteInteger(int32_t{2});
  aWriter.WriteListBegin();
  for (TzfComponent* c : FItems) {
    if (c->Name().empty()) continue;
    TzfMemoryStream block;
    {
      TzfWriter own(block);
      c->SaveSettingsToStream(own);
      own.FlushBuffer();
    }
    const int64_t size = block.GetSize();
    aWriter.WriteString(c->Name());
    aWriter.WriteInteger(size);
    block.SetPosition(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    block.ReadBuffer(bytes.data(), size);
    aWriter.Write(bytes.data(), zf::rtl::RangeChecked<int32_t>(size));
  }
  aWriter.WriteListEnd();
}

void TzfIterationList::LoadSetttingsFromStream(TzfReader& aReader) {
  auto findByName = [this](const UnicodeString& aName) -> TzfComponent* {
    for (TzfComponent* c : FItems)
      if (!c->Name().empty() && zf::rtl::SameText(c->Name(), aName)) return c;
    return nullptr;
  };
  const int32_t version = aReader.ReadInteger();
  if (version == 2) {
    aReader.ReadListBegin();
    while (!aReader.EndOfList()) {
      const UnicodeString name = aReader.ReadString();
      const int64_t length = aReader.ReadInt64();
      // The block must lie within what the stream still holds.
      if (length < 0 || length > aReader.BytesLeft() || length > std::numeric_limits<int32_t>::max())
        IncompatibleStream();
      std::vector<uint8_t> bytes(static_cast<size_t>(length));
      aReader.Read(bytes.data(), static_cast<int32_t>(length));
      if (TzfComponent* c = findByName(name)) {
        TzfMemoryStream block;
        block.WriteBuffer(bytes.data(), length);
        block.SetPosition(0);
        TzfReader own(block);
        c->LoadSettingsFromStream(own);
      }
    }
    aReader.ReadListEnd();
  } else if (version == 1) {
    for (const UnicodeString& line : zf::rtl::SplitString(aReader.ReadString(), u'\n')) {
      UnicodeString name = line;
      if (!name.empty() && name.back() == u'\r') name.pop_back();
      if (name.empty()) continue;
      TzfComponent* c = findByName(name);
      if (!c) IncompatibleStream();
      c->LoadSettingsFromStream(aReader);
    }
  } else {
    IncompatibleStream();
  }
}

// ---------------------------------------------------------------------------------------------
// Component info

const zf::rtl::TGUID CLSID_zfComponentInfo{0x9A00537F, 0x49C8, 0x456A, {0x87, 0x70, 0xE2, 0x14, 0x37, 0x49, 0xD2, 0xFC}};
const zf::rtl::TGUID IID_IzfComponentInfoControl{0xFC7190C6, 0x1D67, 0x4DB0, {0x84, 0xD2, 0x3E, 0xD4, 0xF2, 0x2D, 0x8D, 0xEA}};
const zf::rtl::TGUID IID_IzfComponentInfo{0x909C877C, 0x0945, 0x40C9, {0x86, 0xBE, 0xD4, 0xA6, 0x1B, 0x57, 0x31, 0xA1}};
const zf::rtl::TGUID IID_IzfLoggableComponentInfo{0x4EF69543, 0x729F, 0x476D, {0x92, 0x73, 0xC3, 0x51, 0x39, 0x00, 0x36, 0x3B}};
const zf::rtl::TGUID IID_IzfStateComponentInfo{0x7FB992FA, 0x1590, 0x49B5, {0xAA, 0xAE, 0x54, 0x84, 0xC8, 0x3A, 0xC4, 0x46}};

template <typename F>
HRESULT TzfComponentInfo::Call(F aWork) {
  std::lock_guard<std::mutex> g(FLock);
  if (!FComponent) return E_FAIL;
  try {
    aWork(*FComponent);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

bool TzfComponentInfo::Supports(const zf::rtl::TGUID& aIID) const {
  return aIID == IID_IzfComponentInfo || aIID == IID_IzfComponentInfoControl;
}

HRESULT TzfComponentInfo::Detach() {
  std::lock_guard<std::mutex> g(FLock);
  FComponent = nullptr;
  return S_OK;
}

HRESULT TzfComponentInfo::GetClassName(UnicodeString& aValue) {
  aValue.clear();
  return Call([&](TzfComponent& c) { aValue = c.ClassName(); });
}

HRESULT TzfComponentInfo::GetName(UnicodeString& aValue) {
  aValue.clear();
  return Call([&](TzfComponent& c) { aValue = c.Name(); });
}

HRESULT TzfComponentInfo::GetComponentDisplayName(UnicodeString& aValue) {
  aValue.clear();
  return Call([&](TzfComponent& c) { aValue = c.DisplayName(); });
}

HRESULT TzfComponentInfo::GetDisplayCategory(UnicodeString& aValue) {
  aValue.clear();
  return Call([&](TzfComponent& c) { aValue = c.DisplayCategory(); });
}

HRESULT TzfComponentInfo::GetStatsCaptions(std::vector<UnicodeString>& aValue) {
  aValue.clear();
  return Call([&](TzfComponent& c) { c.GetStatsCaptions(aValue); });
}

HRESULT TzfComponentInfo::GetStatsValues(std::vector<UnicodeString>& aValue) {
  aValue.clear();
  return Call([&](TzfComponent& c) { c.GetStatsValues(aValue); });
}

bool TzfLoggableComponentInfo::Supports(const zf::rtl::TGUID& aIID) const {
  return aIID == IID_IzfLoggableComponentInfo || TzfComponentInfo::Supports(aIID);
}

HRESULT TzfLoggableComponentInfo::GetLogEnabled(bool& aValue) {
  aValue = false;
  return Call([&](TzfComponent& c) { aValue = static_cast<TzfLoggableComponent&>(c).EventLogEnabled(); });
}

HRESULT TzfLoggableComponentInfo::GetEventLogInfo(RefPtr<TzfComponentInfo>& aValue) {
  aValue = nullptr;
  HRESULT inner = S_OK;
  const HRESULT r = Call([&](TzfComponent& c) {
    if (TzfBaseLog* log = static_cast<TzfLoggableComponent&>(c).EventLog())
      inner = log->zfcCreateInstance(nullptr, CLSID_zfComponentInfo, nullptr, IID_IzfComponentInfo, aValue);
  });
  return r != S_OK ? r : inner;
}

bool TzfStateComponentInfo::Supports(const zf::rtl::TGUID& aIID) const {
  return aIID == IID_IzfStateComponentInfo || TzfLoggableComponentInfo::Supports(aIID);
}

HRESULT TzfStateComponentInfo::GetState(uint8_t& aValue) {
  aValue = 0;
  return Call([&](TzfComponent& c) { aValue = static_cast<TzfStateComponent&>(c).State(); });
}

// ---------------------------------------------------------------------------------------------
// TzfComponent

TzfComponent::TzfComponent(TComponent* aOwner) : TComponent(aOwner) {}

RefPtr<TzfComponentInfo> TzfComponent::CreateComponentInfo() { return RefPtr<TzfComponentInfo>::Create(this); }
RefPtr<TzfComponentInfo> TzfLoggableComponent::CreateComponentInfo() {
  return RefPtr<TzfLoggableComponentInfo>::Create(this);
}
RefPtr<TzfComponentInfo> TzfStateComponent::CreateComponentInfo() { return RefPtr<TzfStateComponentInfo>::Create(this); }

HRESULT TzfComponent::zfcCreateInstance(const void* aSession, const zf::rtl::TGUID& aClassID, const void* aOuter,
                                        const zf::rtl::TGUID& aInterfaceID, RefPtr<TzfComponentInfo>& aInterface) {
  aInterface = nullptr;
  if (!(aClassID == CLSID_zfComponentInfo) || aOuter) return E_NOTIMPL;
  try {
    TzfComponentInfo* info = zfcComponentInfo.load();
    if (!info) {
      // Concurrent first requests: one stored info object survives, the others are dropped.
      RefPtr<TzfComponentInfo> created = CreateComponentInfo();
      TzfComponentInfo* expected = nullptr;
      if (zfcComponentInfo.compare_exchange_strong(expected, created.get())) info = created.detach();
      else info = expected;
    }
    if (!info->Supports(aInterfaceID)) return E_NOINTERFACE;
    aInterface = info;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

TzfComponent::~TzfComponent() {
  if (TzfComponentInfo* info = zfcComponentInfo.exchange(nullptr)) {
    info->Detach();
    info->_Release();
  }
  // Sent again for components destroyed without Free; skipped when BeforeDestruction sent it.
  try {
    NotifyDependents(zfcnDestroying, nullptr, nullptr);
  } catch (...) {
  }
}

void TzfComponent::BeforeDestruction() {
  NotifyDependents(zfcnDestroying, nullptr, nullptr);
  TComponent::BeforeDestruction();
}

void TzfComponent::AddDependent(TzfComponent* aComponent) {
  if (!aComponent || aComponent == this) return;
  TzfPadlockGuard g(FDependentsLock);
  auto it = std::lower_bound(zfcDependentList.begin(), zfcDependentList.end(), aComponent);
  if (it == zfcDependentList.end() || *it != aComponent) zfcDependentList.insert(it, aComponent);
}

void TzfComponent::RemoveDependent(TzfComponent* aComponent) {
  if (!aComponent) return;
  TzfPadlockGuard g(FDependentsLock);
  auto it = std::lower_bound(zfcDependentList.begin(), zfcDependentList.end(), aComponent);
  if (it != zfcDependentList.end() && *it == aComponent) zfcDependentList.erase(it);
}

bool TzfComponent::IsDependent(TzfComponent* aComponent) const {
  TzfPadlockGuard g(FDependentsLock);
  return std::binary_search(zfcDependentList.begin(), zfcDependentList.end(), aComponent);
}

std::vector<TzfComponent*> TzfComponent::Dependents() const {
  TzfPadlockGuard g(FDependentsLock);
  return zfcDependentList;
}

void TzfComponent::LinkDependent(TzfComponent* aComponent) {
  if (!aComponent || aComponent->zfcDestroying.load() || zfcDestroying.load()) return;
  aComponent->AddDependent(this);
  AddDependent(aComponent);
}

void TzfComponent::UnlinkDependent(TzfComponent* aComponent) {
  if (!aComponent) return;
  aComponent->RemoveDependent(this);
  RemoveDependent(aComponent);
}

void TzfComponent::NotifyDependents(TzfNotificationKind aKind, const void* aData, TzfComponent* aExcept) {
  TzfPadlockGuard g(FDependentsLock);
  if (zfcDestroying.load() && aKind == zfcnDestroying) return;  // the destroying notice goes out once
  zfcDestroying.store(aKind == zfcnDestroying);
  const std::vector<TzfComponent*> snapshot = zfcDependentList;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    TzfComponent* c = *it;
    if (c == aExcept) continue;
    // A receiver before this one may have unlinked it: it is no longer a dependent.
    if (!std::binary_search(zfcDependentList.begin(), zfcDependentList.end(), c)) continue;
    c->ReceiveNotification(this, aKind, aData);
  }
}

void TzfComponent::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  if (aKind == zfcnDestroying) {
    UnlinkDependent(aSender);
  } else if (aKind == zfcnIterate && aData) {
    auto* data = static_cast<TzfIterationData*>(const_cast<void*>(aData));
    if (data->IteratonList->Contains(this)) return;
    if (data->Ignores(ClassName())) return;
    if (data->IteratonList->Add(this) >= 0) NotifyDependents(zfcnIterate, data, nullptr);
  }
}

std::unique_ptr<TzfIterationList> TzfComponent::IterateDependents(const TzfIterationListFactory& aFactory) {
  return IterateDependentsEx({}, aFactory);
}

std::unique_ptr<TzfIterationList> TzfComponent::IterateDependentsEx(const std::vector<UnicodeString>& aIgnoreClasses,
                                                                    const TzfIterationListFactory& aFactory) {
  std::unique_ptr<TzfIterationList> list = aFactory ? aFactory() : std::make_unique<TzfIterationList>();
  TzfIterationData data;
  data.IteratonList = list.get();
  data.IgnoreIterateClasses = aIgnoreClasses;
  ReceiveNotification(nullptr, zfcnIterate, &data);
  return list;
}

UnicodeString TzfComponent::DisplayName() const {
  if (!zfcDisplayName.empty()) return zfcDisplayName;
  if (!Name().empty()) return Name();
  return ClassName();
}

bool TzfComponent::DisplayNameStored() const {
  return !zfcDisplayName.empty() && !zf::rtl::SameText(zfcDisplayName, Name()) &&
         !zf::rtl::SameText(zfcDisplayName, ClassName());
}

UnicodeString TzfComponent::Version() {
  const double fraction = static_cast<double>(zfEngineVersion % 10000) / 10000.0;
  UnicodeString tail = Format(u"%0.4f %s", {fraction, zfBuildSuffix});
  tail = tail.size() > 2 ? tail.substr(2, 255) : UnicodeString();
  return zf::rtl::IntToStr(zfEngineVersion / 10000) + u"." + tail;
}

void TzfComponent::SaveSettingsToStream(TzfWriter& aWriter) {
  ZF_ASSERT(!Name().empty(), "zfllComponent");
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteString(Name());
}

void TzfComponent::LoadSettingsFromStream(TzfReader& aReader) {
  ZF_ASSERT(!Name().empty(), "zfllComponent");
  if (aReader.ReadInteger() != 1) throw EzfComponentException(this, zfErrIncompatibleStream);
  ZF_ASSERT(aReader.ReadString() == Name(), "zfllComponent");
}

void TzfComponent::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  aContainer.AddString(u"ClassName", ClassName());
  if (DisplayNameStored()) aContainer.AddString(u"DisplayName", zfcDisplayName);
  if (!zfcDisplayCategory.empty()) aContainer.AddString(u"DisplayCategory", zfcDisplayCategory);
  std::vector<UnicodeString> captions, values;
  GetStatsCaptions(captions);
  GetStatsValues(values);
  TzfExceptionDataRef stats = aContainer.AddContainer(u"Stats");
  for (size_t i = 0; i < std::min(captions.size(), values.size()); ++i) stats->AddString(captions[i], values[i]);
}

UnicodeString TzfBaseSetting::Label() const {
  if (!fLabel.empty()) return fLabel;
  UnicodeString out;
  for (size_t i = 0; i < fName.size(); ++i) {
    if (i > 0 && fName[i] >= u'A' && fName[i] <= u'Z') out += u' ';
    out += fName[i];
  }
  return out;
}

void TzfComponent::DoLoadConfig(TzfBaseComponentConfiguration& aConfig) {
  LoadConfig(aConfig);
  if (OnSettingsLoaded) OnSettingsLoaded(this);
}

bool TzfComponent::UIStatsVisible() {
  std::vector<UnicodeString> captions;
  GetStatsCaptions(captions);
  return !captions.empty();
}

void TzfComponent::CheckResult(uint32_t aErrorCode) {
  if (aErrorCode != 0) RaiseError(aErrorCode);
}

// ThrowComponentException always raises; the compiler cannot see that through the virtual call.
void TzfComponent::RaiseError(uint32_t aErrorCode) {
  ThrowComponentException(true, aErrorCode, nullptr);
  __builtin_unreachable();
}
void TzfComponent::RaiseError(const UnicodeString& aMsg) {
  ThrowComponentException(false, 0, &aMsg);
  __builtin_unreachable();
}
void TzfComponent::RaiseError(const UnicodeString& aFormat, FormatArgs aArgs) {
  const UnicodeString msg = Format(aFormat, aArgs);
  ThrowComponentException(false, 0, &msg);
  __builtin_unreachable();
}
void TzfComponent::RaiseError(uint32_t aErrorCode, const UnicodeString& aAltMsg) {
  ThrowComponentException(true, aErrorCode, &aAltMsg);
  __builtin_unreachable();
}
void TzfComponent::RaiseError(uint32_t aErrorCode, const UnicodeString& aFormat, FormatArgs aArgs) {
  const UnicodeString msg = Format(aFormat, aArgs);
  ThrowComponentException(true, aErrorCode, &msg);
  __builtin_unreachable();
}

void TzfComponent::ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) {
  zfThrowComponentException<EzfComponentException>(this, aHasCode, aErrorCode, aMsg);
}

UnicodeString zfFormatInt64(int64_t aValue) {
  return Format(u"%.0n", {static_cast<long double>(aValue)});
}

// ---------------------------------------------------------------------------------------------
// Registry of component classes

namespace {

struct TComponentRegistry {
  std::mutex Lock;
  // Sorted by name, case ignored; nil until the first registration, freed when emptied.
  std::unique_ptr<std::vector<const TzfComponentClass*>> Classes;
};

TComponentRegistry& Registry() {
  static TComponentRegistry registry;
  return registry;
}

TzfRegisterableComponent* CreateNone(TComponent*) { return nullptr; }

}  // namespace

bool TzfComponentClass::InheritsFrom(const TzfComponentClass* aOther) const {
  for (const TzfComponentClass* c = this; c; c = c->Parent)
    if (c == aOther) return true;
  return false;
}

const TzfComponentClass& TzfRegisterableComponent::ClassInfo() {
  static const TzfComponentClass info{u"TzfRegisterableComponent", nullptr, &CreateNone};
  return info;
}

void TzfRegisterableComponent::RegisterComponentClass(const TzfComponentClass& aClass) {
  TComponentRegistry& r = Registry();
  {
    std::lock_guard<std::mutex> g(r.Lock);
    if (!r.Classes) r.Classes = std::make_unique<std::vector<const TzfComponentClass*>>();
    auto& v = *r.Classes;
    auto it = std::lower_bound(v.begin(), v.end(), aClass.Name, [](const TzfComponentClass* c, const char16_t* n) {
      return zf::rtl::CompareText(c->Name, n) < 0;
    });
    if (it == v.end() || zf::rtl::CompareText((*it)->Name, aClass.Name) != 0) {
      v.insert(it, &aClass);
      return;
    }
  }
  // Refused with the registered class's own exception class (the most derived level it is of).
  const UnicodeString msg = Format(u"The class \"%s\" is already registered", {aClass.Name});
  if (aClass.InheritsFrom(&TzfStateComponent::ClassInfo())) throw EzfStateComponentException(nullptr, msg);
  if (aClass.InheritsFrom(&TzfLoggableComponent::ClassInfo())) throw EzfLoggableComponentException(nullptr, msg);
  if (aClass.InheritsFrom(&TzfBaseLog::ClassInfo())) throw EzfBaseLogException(nullptr, msg);
  throw EzfRegisterableComponentException(nullptr, msg);
}

void TzfRegisterableComponent::UnregisterComponentClass(const TzfComponentClass& aClass) {
  TComponentRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  if (!r.Classes) return;
  auto& v = *r.Classes;
  auto it = std::find_if(v.begin(), v.end(), [&](const TzfComponentClass* c) {
    return zf::rtl::CompareText(c->Name, aClass.Name) == 0;
  });
  if (it != v.end()) v.erase(it);
  if (v.empty()) r.Classes.reset();
}

const TzfComponentClass* TzfRegisterableComponent::FindRegisteredClass(const UnicodeString& aClassName) {
  TComponentRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  if (!r.Classes) return nullptr;
  for (const TzfComponentClass* c : *r.Classes)
    if (zf::rtl::CompareText(c->Name, aClassName) == 0) return c;
  return nullptr;
}

std::vector<std::pair<UnicodeString, const TzfComponentClass*>> TzfRegisterableComponent::GetRegisteredClasses(
    const TzfComponentClass& aBase) {
  std::vector<std::pair<UnicodeString, const TzfComponentClass*>> out;
  TComponentRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  if (!r.Classes) return out;
  for (const TzfComponentClass* c : *r.Classes)
    if (c->InheritsFrom(&aBase)) out.emplace_back(c->Name, c);
  return out;
}

void TzfRegisterableComponent::ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) {
  zfThrowComponentException<EzfRegisterableComponentException>(this, aHasCode, aErrorCode, aMsg);
}

// ---------------------------------------------------------------------------------------------
// TzfBaseLog

const TzfComponentClass& TzfBaseLog::ClassInfo() {
  static const TzfComponentClass info{u"TzfBaseLog", &TzfRegisterableComponent::ClassInfo(), &CreateNone};
  return info;
}

bool TzfBaseLog::Enabled() const {
  TzfPadlockGuard g(LogLock());
  return blEnabled;
}

void TzfBaseLog::SetEnabled(bool aValue) {
  TzfPadlockGuard g(LogLock());
  blEnabled = aValue;
}

void TzfBaseLog::WriteString(const UnicodeString& aFormat, FormatArgs aArgs, uint32_t aMsgNumber,
                             TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen,
                             int32_t aWhenBias) {
  WriteString(Format(aFormat, aArgs), aMsgNumber, aPriority, aCategory, aWhen, aWhenBias);
}

void TzfBaseLog::ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) {
  zfThrowComponentException<EzfBaseLogException>(this, aHasCode, aErrorCode, aMsg);
}

// ---------------------------------------------------------------------------------------------
// TzfLoggableComponent

void TzfLoggableComponent::SetEventLog(TzfBaseLog* aLog) {
  if (aLog == lcEventLog) return;
  if (lcEventLog) UnlinkDependent(lcEventLog);
  lcEventLog = aLog;
  if (lcEventLog) LinkDependent(lcEventLog);
}

void TzfLoggableComponent::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  TzfRegisterableComponent::ReceiveNotification(aSender, aKind, aData);
  if (aKind == zfcnDestroying && aSender && aSender == lcEventLog) lcEventLog = nullptr;
}

void TzfLoggableComponent::lcLog(const UnicodeString& aMsg, uint32_t aMsgNumber, TzfLogPriority aPriority,
                                 const UnicodeString& aCategory, TDateTime aWhen, int32_t aWhenBias) {
  if (lcLogEnabled && lcEventLog) lcEventLog->WriteString(aMsg, aMsgNumber, aPriority, aCategory, aWhen, aWhenBias);
}

void TzfLoggableComponent::lcLog(const UnicodeString& aFormat, FormatArgs aArgs, uint32_t aMsgNumber,
                                 TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen,
                                 int32_t aWhenBias) {
  if (lcLogEnabled && lcEventLog)
    lcEventLog->WriteString(aFormat, aArgs, aMsgNumber, aPriority, aCategory, aWhen, aWhenBias);
}

void TzfLoggableComponent::lcLog(const UnicodeString& aMsg, const void* aData, int32_t aDataLen, uint32_t aMsgNumber,
                                 TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen,
                                 int32_t aWhenBias) {
  if (lcLogEnabled && lcEventLog)
    lcEventLog->WriteBlock(aMsg, aData, aDataLen, aMsgNumber, aPriority, aCategory, aWhen, aWhenBias);
}

void TzfLoggableComponent::lcLogs(const std::vector<UnicodeString>& aMsgs, uint32_t aMsgNumber,
                                  TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen,
                                  int32_t aWhenBias) {
  if (lcLogEnabled && lcEventLog) lcEventLog->WriteStrings(aMsgs, aMsgNumber, aPriority, aCategory, aWhen, aWhenBias);
}

const TzfComponentClass& TzfLoggableComponent::ClassInfo() {
  static const TzfComponentClass info{u"TzfLoggableComponent", &TzfRegisterableComponent::ClassInfo(), &CreateNone};
  return info;
}

void TzfLoggableComponent::ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) {
  zfThrowComponentException<EzfLoggableComponentException>(this, aHasCode, aErrorCode, aMsg);
}

// ---------------------------------------------------------------------------------------------
// The state machine

// Rows: current state; columns: requested state (zfNextState) or next state (zfStateTransitions).
const TzfState zfNextState[4][4] = {
    {zfsInactive, zfsUnsupported, zfsStopped, zfsStopped},
    {zfsUnsupported, zfsUnsupported, zfsUnsupported, zfsUnsupported},
    {zfsInactive, zfsInactive, zfsStopped, zfsStarted},
    {zfsStopped, zfsStopped, zfsStopped, zfsStarted},
};
const TzfStateTransition zfStateTransitions[4][4] = {
    {zfstNone, zfstNone, zfstInitializing, zfstInvalid},
    {zfstInvalid, zfstNone, zfstInvalid, zfstInvalid},
    {zfstDeactivating, zfstInvalid, zfstNone, zfstStarting},
    {zfstInvalid, zfstInvalid, zfstStopping, zfstNone},
};
const bool zfActivatingTransitions[6] = {false, true, false, true, false, false};

UnicodeString zfStateToStr(TzfState aState) {
  switch (aState) {
    case zfsInactive: return u"Inactive";
    case zfsUnsupported: return u"Unsupported";
    case zfsStopped: return u"Stopped";
    case zfsStarted: return u"Started";
  }
  return {};
}

UnicodeString zfStateTransitionToStr(TzfStateTransition aTransition) {
  switch (aTransition) {
    case zfstNone: return u"None";
    case zfstInitializing: return u"Initializing";
    case zfstDeactivating: return u"Deactivating";
    case zfstStarting: return u"Starting";
    case zfstStopping: return u"Stopping";
    case zfstInvalid: return u"Invalid";
  }
  return {};
}

TzfStateComponent::TzfStateComponent(TComponent* aOwner) : TzfLoggableComponent(aOwner) {}

TzfStateComponent::~TzfStateComponent() {
  try {
    Close();
  } catch (...) {
  }
}

void TzfStateComponent::BeforeDestruction() {
  Close();
  TzfLoggableComponent::BeforeDestruction();
}

void TzfStateComponent::Loaded() {
  TzfLoggableComponent::Loaded();
  if (IsActive()) return;
  if (IsDesigning()) {
    try {
      ApplyActive(scActiveDesigntime);
    } catch (const zf::rtl::Exception&) {
      // At design time the failure goes to the application's handler, not to the loader.
    }
  } else {
    ApplyActive(scActiveRuntime);
  }
}

void TzfStateComponent::SetEnabled(bool aValue) {
  if (aValue == scEnabled) return;
  if (!aValue) ApplyActive(false);
  scEnabled = aValue;
}

bool TzfStateComponent::IsActive() { return scState == zfsStopped || scState == zfsStarted; }

void TzfStateComponent::ApplyActive(bool aValue) {
  if (aValue) GotoState(zfsStarted);
  else if (scState != zfsUnsupported) GotoState(zfsInactive);
}

void TzfStateComponent::SetActiveDesigntime(bool aValue) {
  scActiveDesigntime = aValue;
  if (!IsDesigning() || IsLoading()) return;
  try {
    ApplyActive(aValue);
  } catch (...) {
    scActiveDesigntime = IsActive();
    throw;
  }
  scActiveDesigntime = IsActive();
}

void TzfStateComponent::SetActiveRuntime(bool aValue) {
  scActiveRuntime = aValue;
  if (IsLoading() || IsDesigning()) return;
  try {
    ApplyActive(aValue);
  } catch (...) {
    scActiveRuntime = IsActive();
    throw;
  }
  scActiveRuntime = IsActive();
}

void TzfStateComponent::LogStateError(TzfState aFrom, TzfState aNext, const std::exception& aError) noexcept {
  try {
    const uint32_t code = zfConvertException(aError, nullptr, this, 0);
    const auto* e = dynamic_cast<const zf::rtl::Exception*>(&aError);
    const UnicodeString className = zf::rtl::u16(e ? e->ClassName() : "Exception");
    const UnicodeString message = e ? e->Message() : zf::rtl::u16(aError.what());
    lcLog(u"Error while changing state (%s -> %s): %s: %s",
          {zfStateToStr(aFrom), zfStateToStr(aNext), className, message}, code, lpError, u"default", 0,
          zfLogBiasDefault);
  } catch (...) {
    // Logging must not turn one failure into another.
  }
}

void TzfStateComponent::GotoState(TzfState aState) {
  TzfState failFrom = scState;
  TzfState failNext = scState;
  try {
    while (scState != aState) {
      const TzfState from = scState;
      const TzfState next = zfNextState[from][aState];
      const TzfStateTransition saved = scStateTransition;
      bool refused = false;
      try {
        const TzfStateTransition transition = zfStateTransitions[from][next];
        scStateTransition = transition;
        StateTransitionChanged(transition);
        if (next == from || !StateChanging(from, next)) {
          refused = true;
        } else {
          ZF_ASSERT(saved == zfstNone, "zfllComponent");
          switch (transition) {
            case zfstDeactivating: DoDeactivating(); break;
            case zfstStopping: DoStopping(); break;
            case zfstInvalid: RaiseError(u"Invalid state transition."); break;
            case zfstInitializing:
            case zfstStarting:
              if (!scEnabled) RaiseError(u"The Component is disabled.");
              if (transition == zfstInitializing) {
                try {
                  DoInitializing();
                } catch (...) {
                  DoDeactivating();
                  throw;
                }
              } else {
                try {
                  DoStarting();
                } catch (...) {
                  DoStopping();
                  throw;
                }
              }
              break;
            case zfstNone: break;
          }
          ZF_ASSERT(scState == from, "zfllComponent");
          scState = next;
          StateChanged(from, next);
        }
      } catch (const std::exception& E) {
        scStateTransition = saved;
        try {
          StateTransitionChanged(saved);
        } catch (...) {
        }
        if (aState == zfsInactive) {
          // A component asked to deactivate always gets there; the failure is still reported.
          LogStateError(from, next, E);
          scState = next;
          continue;
        }
        failFrom = from;
        failNext = next;
        throw;
      } catch (...) {
        scStateTransition = saved;
        try {
          StateTransitionChanged(saved);
        } catch (...) {
        }
        if (aState == zfsInactive) {
          scState = next;
          continue;
        }
        throw;
      }
      scStateTransition = saved;
      StateTransitionChanged(saved);
      if (refused) return;
    }
  } catch (const zf::rtl::Exception& E) {
    LogStateError(failFrom, failNext, E);
    try {
      GotoState(zfsInactive);
    } catch (...) {
    }
    throw;
  }
}

bool TzfStateComponent::StateChanging(TzfState aOldState, TzfState aNewState) {
  const uint8_t data[2] = {aOldState, aNewState};
  try {
    NotifyDependents(zfcnStateChanging, data, nullptr);
  } catch (const EzfAbortStateChange&) {
    return false;
  }
  return true;
}

void TzfStateComponent::StateChanged(TzfState aOldState, TzfState aNewState) {
  if (IsDesigning()) scActiveDesigntime = aNewState == zfsStarted;
  else scActiveRuntime = aNewState == zfsStarted;
  const uint8_t data[2] = {aOldState, aNewState};
  NotifyDependents(zfcnStateChanged, data, nullptr);
  if (OnStateChanged) OnStateChanged(this);
  if (aNewState == zfsStarted && aNewState != aOldState) scStartTime = zf::rtl::Now();
  else scStartTime = 0;
}

void TzfStateComponent::StateTransitionChanged(TzfStateTransition aTransition) {
  if (OnStateTransChanged) OnStateTransChanged(this);
}

void TzfStateComponent::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  TzfLoggableComponent::ReceiveNotification(aSender, aKind, aData);
  if ((aKind == zfcnStateChanging || aKind == zfcnStateChanged) && aData) {
    const auto* data = static_cast<const uint8_t*>(aData);
    if (data[0] > zfsStarted || data[1] > zfsStarted) return;
    FollowStateChange(aSender, aKind == zfcnStateChanging, static_cast<TzfState>(data[1]),
                      static_cast<TzfState>(data[0]));
  }
}

void TzfStateComponent::FollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState,
                                          TzfState aOldState) {
  if (scStateTransition != zfstNone) return;
  const TzfStateTransition t = zfStateTransitions[aOldState][aNewState];
  if (t != zfstNone && t != zfstInvalid && ShouldFollowStateChange(aSender, aChanging, aNewState, t))
    GotoState(aNewState);
}

bool TzfStateComponent::ShouldFollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState,
                                                TzfStateTransition aTransition) {
  if (!aChanging) return false;
  const TzfStateTransition own = zfStateTransitions[scState][zfNextState[scState][aNewState]];
  auto* sender = dynamic_cast<TzfStateComponent*>(aSender);
  if (zfActivatingTransitions[aTransition]) return zfActivatingTransitions[own] && sender && sender->DependsOn(this);
  return !zfActivatingTransitions[own] && DependsOn(aSender);
}

void TzfStateComponent::CheckInactive() {
  if (scState == zfsInactive || scState == zfsUnsupported) return;
  if (IsDesigning() || IsUpdating()) ApplyActive(false);
  else RaiseError(u"This component must be inactive when performing this operation.");
}

void TzfStateComponent::CheckInactiveOrStopped() {
  if (scState != zfsStarted) return;
  if (IsDesigning() || IsUpdating()) GotoState(zfsStopped);
  else RaiseError(u"This component must be inactive or stopped when performing this operation.");
}

void TzfStateComponent::CheckStarted() {
  if (scState != zfsStarted && (IsDesigning() || IsUpdating())) ApplyActive(true);
  if (scState != zfsStarted) RaiseError(u"This component must be started when performing this operation.");
}

void TzfStateComponent::GetStatsCaptions(std::vector<UnicodeString>& aList) {
  if (HasUptimeStat()) aList.push_back(u"Uptime");
  TzfLoggableComponent::GetStatsCaptions(aList);
}

void TzfStateComponent::GetStatsValues(std::vector<UnicodeString>& aList) {
  if (HasUptimeStat()) {
    if (scStartTime == 0) {
      aList.push_back({});
    } else {
      const double up = zf::rtl::Now() - scStartTime;
      const double days = std::floor(up);
      int64_t ms = std::llround((up - days) * 86400000.0);
      if (ms >= 86400000) ms = 86399999;
      const int64_t secs = ms / 1000;
      aList.push_back(Format(u"%d.%.2d:%.2d:%.2d", {static_cast<int64_t>(days), secs / 3600, (secs / 60) % 60, secs % 60}));
    }
  }
  TzfLoggableComponent::GetStatsValues(aList);
}

void TzfStateComponent::GetConfigSettings(TzfBaseSettings& aSettings) {
  TzfLoggableComponent::GetConfigSettings(aSettings);
  for (const char16_t* name : {u"Active", u"EventLogEnabled"}) {
    TzfBaseSetting& s = aSettings.AddSetting(std::make_unique<TzfBaseSetting>());
    s.fName = name;
    s.fPropertyName = name;
    s.fSettingType = zfstBoolean;
    s.fDefaultValue = zf::rtl::Variant(u"false");
  }
}

void TzfStateComponent::LoadConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfLoggableComponent::LoadConfig(aConfig);
  SetEventLogEnabled(aConfig.GetValue(u"EventLogEnabled", EventLogEnabled()).AsBoolean());
  scSavedActive = aConfig.GetValue(u"Active", scSavedActive != 0).AsBoolean() ? 1 : 0;
}

void TzfStateComponent::SaveConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfLoggableComponent::SaveConfig(aConfig);
  aConfig.SetValue(u"EventLogEnabled", EventLogEnabled());
  aConfig.SetValue(u"Active", IsActive());
}

void TzfStateComponent::SaveSettingsToStream(TzfWriter& aWriter) {
  TzfLoggableComponent::SaveSettingsToStream(aWriter);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteBoolean(EventLogEnabled());
  aWriter.WriteBoolean(IsActive());
}

void TzfStateComponent::LoadSettingsFromStream(TzfReader& aReader) {
  TzfLoggableComponent::LoadSettingsFromStream(aReader);
  if (aReader.ReadInteger() != 1) throw EzfComponentException(this, zfErrIncompatibleStream);
  SetEventLogEnabled(aReader.ReadBoolean());
  scSavedActive = aReader.ReadBoolean() ? 1 : 0;
}

void TzfStateComponent::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfLoggableComponent::AddExceptionData(aContainer);
  aContainer.AddString(u"State", zfStateToStr(scState));
  aContainer.AddString(u"StateTransition", zfStateTransitionToStr(scStateTransition));
}

void TzfStateComponent::SwitchToSavedActive() {
  if (scSavedActive != 0) ApplyActive(scSavedActive != 0);
  scSavedActive = 0;
}

const TzfComponentClass& TzfStateComponent::ClassInfo() {
  static const TzfComponentClass info{u"TzfStateComponent", &TzfLoggableComponent::ClassInfo(), &CreateNone};
  return info;
}

void TzfStateComponent::ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) {
  zfThrowComponentException<EzfStateComponentException>(this, aHasCode, aErrorCode, aMsg);
}

}  // namespace zf
