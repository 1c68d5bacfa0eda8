// The engine's component framework.
//
// TzfComponent: components that use each other are linked both ways in their dependents lists and
// tell each other about destruction, state changes and iterations; display names, the version
// text, statistics, settings and raising operations whose exceptions name the component.
// TzfRegisterableComponent adds the process-wide registry of component classes by name,
// TzfLoggableComponent an event log, TzfStateComponent the four-state machine. TzfBaseLog is the
// abstract log the event-log unit builds on.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllExceptionData.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllStreamsRW.h"
#include "foundation/zfllSync.h"
#include "foundation/zfrbClassFactoryRegistry.h"
#include "platform/rtl/rtlComponent.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlStream.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

using zf::rtl::FormatArgs;
using zf::rtl::TComponent;
using zf::rtl::TDateTime;
using zf::rtl::UnicodeString;

class TzfComponent;
class TzfBaseLog;
class TzfIterationList;

// ---------------------------------------------------------------------------------------------
// Exceptions. Every component exception's text names the component:
// "ZofrinDB: %s: %s [$%x/%d]" or "ZofrinDB: %s: %s [no error code]".

class EzfComponentException : public EzfBaseException {
 public:
  // Without a code.
  EzfComponentException(const TComponent* aComponent, const UnicodeString& aMsg);
  // With a code: the thread's last converted exception supplies the text when it has this code
  // and a text; otherwise the code's own text.
  EzfComponentException(const TComponent* aComponent, uint32_t aErrorCode);
  EzfComponentException(const TComponent* aComponent, uint32_t aErrorCode, const UnicodeString& aAltMsg);
  const char* ClassName() const noexcept override { return "EzfComponentException"; }

  // "<nil pointer>", the component's Name, or "<unnamed %s instance>" with its class name.
  static UnicodeString ComponentName(const TComponent* aComponent);

 private:
  void NameComponent(const TComponent* aComponent);
};

ZF_DECLARE_ENGINE_EXCEPTION(EzfRegisterableComponentException, EzfComponentException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfLoggableComponentException, EzfRegisterableComponentException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfStateComponentException, EzfLoggableComponentException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseLogException, EzfRegisterableComponentException)

// A silent abort that a dependent raises to refuse a state change.
class EzfAbortStateChange : public zf::rtl::EAbort {
 public:
  EzfAbortStateChange() : zf::rtl::EAbort(zf::rtl::kSOperationAborted) {}
  const char* ClassName() const noexcept override { return "EzfAbortStateChange"; }
};

// ---------------------------------------------------------------------------------------------
// Notifications

using TzfNotificationKind = uint8_t;
inline constexpr TzfNotificationKind zfcnDestroying = 1;
inline constexpr TzfNotificationKind zfcnStateChanging = 4;
inline constexpr TzfNotificationKind zfcnStateChanged = 5;
inline constexpr TzfNotificationKind zfcnIterate = 6;

// The carrier of a dependents iteration.
struct TzfIterationData {
  TzfIterationList* IteratonList = nullptr;
  // Class names that stop the iteration (sorted, ASCII case ignored); empty: none.
  std::vector<UnicodeString> IgnoreIterateClasses;
  bool Ignores(const UnicodeString& aClassName) const;
};

// Components in the order of their display names, case ignored, without duplicates.
class TzfIterationList {
 public:
  virtual ~TzfIterationList() = default;
  // Index of the new entry, or -1 when refused (CanAdd said no, or the name is listed).
  int Add(TzfComponent* aItem);
  // Whether an entry with aItem's display name is listed.
  bool Contains(TzfComponent* aItem) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  TzfComponent* Items(int aIndex) const { return FItems.at(static_cast<size_t>(aIndex)); }

  // The settings of every listed component with a name in one stream: version 2, then a list of
  // (name, length, the component's own settings block). Reading skips blocks of components that
  // are not listed; version 1 (names in one string, blocks read in place) is read too.
  virtual void SaveSettingsToStream(TzfWriter& aWriter);
  virtual void LoadSetttingsFromStream(TzfReader& aReader);

 protected:
  virtual bool CanAdd(TzfComponent* aItem) { return true; }

 private:
  size_t Search(TzfComponent* aItem, bool& aFound) const;
  std::vector<TzfComponent*> FItems;
};
using TzfIterationListFactory = std::function<std::unique_ptr<TzfIterationList>()>;

// ---------------------------------------------------------------------------------------------
// Settings descriptions and the abstract configuration store (no concrete store is part of the
// engine; components only describe their settings and call these operations).

enum TzfSettingType : uint8_t {
  zfstString, zfstInteger, zfstBoolean, zfstStream, zfstList, zfstThreadPriority, zfstSingleOption,
  zfstMultiOption, zfstAliases, zfstUsers, zfstExtended, zfstPasswordString, zfstCaption, zfstMemo,
  zfstPasswordMemo
};

class TzfBaseSetting {
 public:
  bool fEnforceValues = false;
  zf::rtl::Variant fDefaultValue;
  zf::rtl::Variant fMin;
  zf::rtl::Variant fMax;
  UnicodeString fValueList;
  UnicodeString fPropertyName;
  UnicodeString fName;
  UnicodeString fHint;
  TzfSettingType fSettingType = zfstString;
  UnicodeString fLabel;

  // fLabel when set; otherwise fName with a blank before every capital after the first character.
  UnicodeString Label() const;
};

class TzfBaseSettings {
 public:
  virtual ~TzfBaseSettings() = default;
  // Takes the new setting over and returns it for the caller to fill in.
  virtual TzfBaseSetting& AddSetting(std::unique_ptr<TzfBaseSetting> aSetting) = 0;
  virtual void RemoveSetting(int aIndex) = 0;
};

class TzfBaseServerConfiguration;

class TzfBaseComponentConfiguration {
 public:
  explicit TzfBaseComponentConfiguration(TzfBaseServerConfiguration* aConfig) : fConfig(aConfig) {}
  virtual ~TzfBaseComponentConfiguration() = default;
  virtual void SetValueStream(const UnicodeString& aName, zf::rtl::TStream& aStream) {}
  virtual void GetValueStream(const UnicodeString& aName, zf::rtl::TStream& aStream) {}
  virtual void SetValue(const UnicodeString& aName, const zf::rtl::Variant& aValue) {}
  // The base store holds nothing: the answer is the default.
  virtual zf::rtl::Variant GetValue(const UnicodeString& aName, const zf::rtl::Variant& aDefault) { return aDefault; }

 protected:
  TzfBaseServerConfiguration* fConfig;
};

class TzfBaseServerConfiguration {
 public:
  explicit TzfBaseServerConfiguration(const UnicodeString& aFileName) : fFileName(aFileName) {}
  virtual ~TzfBaseServerConfiguration() = default;
  virtual void EnsureComponentConfiguration(const UnicodeString& aComponent, TzfBaseSettings& aSettings) = 0;
  virtual TzfBaseComponentConfiguration* GetComponentConfiguration(const UnicodeString& aComponent) = 0;
  virtual void Save() = 0;

 protected:
  bool fReportErrors = false;
  UnicodeString fFileName;
  UnicodeString fConfigErrors;
};

// ---------------------------------------------------------------------------------------------
// Component info objects for management tools. Every method answers an HRESULT: 0, or an error
// result when an exception was raised inside it (it never crosses); out parameters are cleared
// first. An info object outlives its component only while a tool holds it; the component detaches
// it when it is destroyed, so later calls fail instead of reaching a freed component.

// HRESULT, S_OK and E_NOINTERFACE come with the class-factory registry.
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

// Class ID under which zfcCreateInstance hands out a component's info object.
extern const zf::rtl::TGUID CLSID_zfComponentInfo;        // {9A00537F-49C8-456A-8770-E2143749D2FC}
extern const zf::rtl::TGUID IID_IzfComponentInfoControl;  // {FC7190C6-1D67-4DB0-84D2-3ED4F22D8DEA}
extern const zf::rtl::TGUID IID_IzfComponentInfo;         // {909C877C-0945-40C9-86BE-D4A61B5731A1}
extern const zf::rtl::TGUID IID_IzfLoggableComponentInfo; // {4EF69543-729F-476D-9273-C3513900363B}
extern const zf::rtl::TGUID IID_IzfStateComponentInfo;    // {7FB992FA-1590-49B5-AAAE-5484C83AC446}

class TzfComponentInfo : public TzfInterfacedObject {
 public:
  explicit TzfComponentInfo(TzfComponent* aComponent) : FComponent(aComponent) {}
  // Whether the object answers the interface aIID.
  virtual bool Supports(const zf::rtl::TGUID& aIID) const;

  // IzfComponentInfoControl
  HRESULT Detach();
  // IzfComponentInfo
  HRESULT GetClassName(UnicodeString& aValue);
  HRESULT GetName(UnicodeString& aValue);
  HRESULT GetComponentDisplayName(UnicodeString& aValue);
  HRESULT GetDisplayCategory(UnicodeString& aValue);
  HRESULT GetStatsCaptions(std::vector<UnicodeString>& aValue);
  HRESULT GetStatsValues(std::vector<UnicodeString>& aValue);

 protected:
  // Runs aWork on the component under the info object's lock; E_FAIL once detached or when the
  // work raises.
  template <typename F>
  HRESULT Call(F aWork);

 private:
  std::mutex FLock;
  TzfComponent* FComponent;
};

class TzfLoggableComponentInfo : public TzfComponentInfo {
 public:
  using TzfComponentInfo::TzfComponentInfo;
  bool Supports(const zf::rtl::TGUID& aIID) const override;
  // IzfLoggableComponentInfo
  HRESULT GetLogEnabled(bool& aValue);
  HRESULT GetEventLogInfo(RefPtr<TzfComponentInfo>& aValue);
};

class TzfStateComponentInfo : public TzfLoggableComponentInfo {
 public:
  using TzfLoggableComponentInfo::TzfLoggableComponentInfo;
  bool Supports(const zf::rtl::TGUID& aIID) const override;
  // IzfStateComponentInfo
  HRESULT GetState(uint8_t& aValue);
};

// ---------------------------------------------------------------------------------------------
// TzfComponent

class TzfComponent : public TComponent, public IzfExceptionDataProvider {
 public:
  explicit TzfComponent(TComponent* aOwner = nullptr);
  ~TzfComponent() override;
  const char16_t* ClassName() const override { return u"TzfComponent"; }
  void BeforeDestruction() override;

  // Dependents. LinkDependent links both ways unless aComponent is nil, Self, or either side is
  // being destroyed; UnlinkDependent unlinks both ways.
  void LinkDependent(TzfComponent* aComponent);
  void UnlinkDependent(TzfComponent* aComponent);
  virtual void AddDependent(TzfComponent* aComponent);
  virtual void RemoveDependent(TzfComponent* aComponent);
  bool IsDependent(TzfComponent* aComponent) const;
  std::vector<TzfComponent*> Dependents() const;
  bool Destroying() const { return zfcDestroying; }

  // Sends aKind to every dependent except aExcept, last linked first. The walk runs over a
  // snapshot of the list and skips entries that were unlinked meanwhile, so a receiver that
  // unlinks itself or another neither makes the walk skip a dependent nor tell one twice.
  virtual void NotifyDependents(TzfNotificationKind aKind, const void* aData, TzfComponent* aExcept);
  virtual void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData);

  // The transitive closure of the dependents relation from Self, ordered by display name.
  std::unique_ptr<TzfIterationList> IterateDependents(const TzfIterationListFactory& aFactory = nullptr);
  std::unique_ptr<TzfIterationList> IterateDependentsEx(const std::vector<UnicodeString>& aIgnoreClasses,
                                                        const TzfIterationListFactory& aFactory = nullptr);

  // Names and version.
  UnicodeString DisplayName() const;
  void SetDisplayName(const UnicodeString& aValue) { zfcDisplayName = aValue; }
  // Stored only when not empty and different (case ignored) from Name and the class name.
  bool DisplayNameStored() const;
  const UnicodeString& DisplayCategory() const { return zfcDisplayCategory; }
  void SetDisplayCategory(const UnicodeString& aValue) { zfcDisplayCategory = aValue; }
  // "3.0900 Release (P14)".
  static UnicodeString Version();

  // Statistics as parallel caption and value lists.
  virtual bool Supported() { return true; }
  virtual bool UISettingsVisible() { return true; }
  virtual bool UIStatsVisible();
  virtual void GetStatsCaptions(std::vector<UnicodeString>& aList) {}
  virtual void GetStatsValues(std::vector<UnicodeString>& aList) {}
  virtual void ClearStats() {}
  virtual UnicodeString GetDisplayOnlyValue(const UnicodeString& aValueName) { return u"(not implemented)"; }

  // "ClassName", "DisplayName" (when stored), "DisplayCategory" (when set) and a "Stats" container
  // with one value per statistic.
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  // Configuration: descendants describe, load and save their settings.
  virtual void GetConfigSettings(TzfBaseSettings& aSettings) {}
  virtual void LoadConfig(TzfBaseComponentConfiguration& aConfig) {}
  virtual void SaveConfig(TzfBaseComponentConfiguration& aConfig) {}
  // LoadConfig, then OnSettingsLoaded.
  void DoLoadConfig(TzfBaseComponentConfiguration& aConfig);

  // Settings stream: Integer 1 and String Name; descendants append their own block.
  virtual void SaveSettingsToStream(TzfWriter& aWriter);
  virtual void LoadSettingsFromStream(TzfReader& aReader);

  // Raising operations: the exception names this component.
  void CheckResult(uint32_t aErrorCode);
  [[noreturn]] void RaiseError(uint32_t aErrorCode);
  [[noreturn]] void RaiseError(const UnicodeString& aMsg);
  [[noreturn]] void RaiseError(const UnicodeString& aFormat, FormatArgs aArgs);
  [[noreturn]] void RaiseError(uint32_t aErrorCode, const UnicodeString& aAltMsg);
  [[noreturn]] void RaiseError(uint32_t aErrorCode, const UnicodeString& aFormat, FormatArgs aArgs);

  // The component's info object for management tools: with CLSID_zfComponentInfo and no outer
  // object, the info object when it supports aInterfaceID (else E_NOINTERFACE); otherwise
  // E_NOTIMPL. aInterface is cleared first.
  HRESULT zfcCreateInstance(const void* aSession, const zf::rtl::TGUID& aClassID, const void* aOuter,
                            const zf::rtl::TGUID& aInterfaceID, RefPtr<TzfComponentInfo>& aInterface);

  std::function<void(TzfComponent*)> OnSettingsLoaded;

 protected:
  TzfPadlock& DependentsLock() const { return FDependentsLock; }
  // Creates the info object of this class (the first request stores it for the component's life).
  virtual RefPtr<TzfComponentInfo> CreateComponentInfo();
  // Raises this class's exception (GetExceptionClass): hasCode false means the no-code form.
  [[noreturn]] virtual void ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg);

 private:
  mutable TzfPadlock FDependentsLock{true};  // also the lock of a log's own state
  std::vector<TzfComponent*> zfcDependentList;   // ordered by address
  std::atomic<bool> zfcDestroying{false};
  UnicodeString zfcDisplayName;
  UnicodeString zfcDisplayCategory;
  std::atomic<TzfComponentInfo*> zfcComponentInfo{nullptr};  // holds one reference
};

// Raises E with the component named: ThrowComponentException overrides use it.
template <typename E>
[[noreturn]] void zfThrowComponentException(const TComponent* aComponent, bool aHasCode, uint32_t aCode,
                                            const UnicodeString* aMsg) {
  if (!aHasCode) throw E(aComponent, aMsg ? *aMsg : UnicodeString());
  if (aMsg) throw E(aComponent, aCode, *aMsg);
  throw E(aComponent, aCode);
}

// Formats a 64-bit counter for statistics: thousands separators, no decimals.
UnicodeString zfFormatInt64(int64_t aValue);

// ---------------------------------------------------------------------------------------------
// Registrable components

class TzfRegisterableComponent;

// A component class as the registry sees it: name, parent and factory.
struct TzfComponentClass {
  const char16_t* Name;
  const TzfComponentClass* Parent;
  TzfRegisterableComponent* (*Create)(TComponent* aOwner);
  bool InheritsFrom(const TzfComponentClass* aOther) const;
};

class TzfRegisterableComponent : public TzfComponent {
 public:
  using TzfComponent::TzfComponent;
  const char16_t* ClassName() const override { return u"TzfRegisterableComponent"; }
  static const TzfComponentClass& ClassInfo();

  // The process-wide registry of component classes by name (case ignored). A second registration
  // of a name raises "The class "%s" is already registered".
  static void RegisterComponentClass(const TzfComponentClass& aClass);
  static void UnregisterComponentClass(const TzfComponentClass& aClass);
  static const TzfComponentClass* FindRegisteredClass(const UnicodeString& aClassName);
  // Name and class of every registered class that inherits from aBase, in registry order.
  static std::vector<std::pair<UnicodeString, const TzfComponentClass*>> GetRegisteredClasses(
      const TzfComponentClass& aBase);

 protected:
  [[noreturn]] void ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) override;
};

// ---------------------------------------------------------------------------------------------
// Log priorities and records (the concrete logs are in zflgEventLog)

enum TzfLogPriority : uint8_t { lpDebug, lpInfo, lpWarn, lpError, lpFatal };

class TzfLogPriorities {
 public:
  constexpr TzfLogPriorities() = default;
  constexpr TzfLogPriorities(std::initializer_list<TzfLogPriority> aItems) {
    for (TzfLogPriority p : aItems) FBits = static_cast<uint8_t>(FBits | (1u << p));
  }
  static constexpr TzfLogPriorities All() { return {lpDebug, lpInfo, lpWarn, lpError, lpFatal}; }
  constexpr bool Contains(TzfLogPriority p) const { return (FBits >> p) & 1u; }
  void Include(TzfLogPriority p) { FBits = static_cast<uint8_t>(FBits | (1u << p)); }
  void Exclude(TzfLogPriority p) { FBits = static_cast<uint8_t>(FBits & ~(1u << p)); }
  constexpr bool operator==(const TzfLogPriorities&) const = default;

 private:
  uint8_t FBits = 0;
};

// Bias marker: the machine's own time-zone bias, computed when first asked.
inline constexpr int32_t zfLogBiasDefault = 0x0FFFFFFF;

// One log record, reference counted.
class IzfLogData {
 public:
  virtual ~IzfLogData() = default;
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;
  virtual uint32_t GetMsgNumber() const = 0;
  virtual UnicodeString GetMsg() const = 0;
  virtual UnicodeString GetCategory() const = 0;
  virtual TzfLogPriority GetPriority() const = 0;
  virtual TDateTime GetWhen() const = 0;       // local time
  virtual int32_t GetWhenBias() const = 0;     // minutes; UTC = local time + bias
  virtual TDateTime GetUTCWhen() const = 0;    // when + bias / 1440
};
using IzfLogDataRef = RefPtr<IzfLogData>;

// The abstract log. Its lock is the dependents-list lock of the component.
class TzfBaseLog : public TzfRegisterableComponent {
 public:
  explicit TzfBaseLog(TComponent* aOwner = nullptr) : TzfRegisterableComponent(aOwner) {}
  const char16_t* ClassName() const override { return u"TzfBaseLog"; }
  static const TzfComponentClass& ClassInfo();

  bool Enabled() const;
  virtual void SetEnabled(bool aValue);
  virtual void Clear() {}
  virtual void Flush() {}

  virtual void WriteBlock(const UnicodeString& S, const void* Buf, int32_t BufLen, uint32_t aMsgNumber,
                          TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen = 0,
                          int32_t aWhenBias = zfLogBiasDefault) = 0;
  virtual void WriteString(const UnicodeString& aMsg, uint32_t aMsgNumber, TzfLogPriority aPriority,
                           const UnicodeString& aCategory, TDateTime aWhen = 0,
                           int32_t aWhenBias = zfLogBiasDefault) = 0;
  // The formatted form: Format(aFormat, aArgs), then WriteString.
  void WriteString(const UnicodeString& aFormat, FormatArgs aArgs, uint32_t aMsgNumber, TzfLogPriority aPriority,
                   const UnicodeString& aCategory, TDateTime aWhen = 0, int32_t aWhenBias = zfLogBiasDefault);
  virtual void WriteStrings(const std::vector<UnicodeString>& aMsgs, uint32_t aMsgNumber, TzfLogPriority aPriority,
                            const UnicodeString& aCategory, TDateTime aWhen = 0,
                            int32_t aWhenBias = zfLogBiasDefault) = 0;
  virtual void WriteLogData(const IzfLogDataRef& aLogData) = 0;

  // The log's lock (the dependents-list lock).
  TzfPadlock& LogLock() const { return DependentsLock(); }

 protected:
  [[noreturn]] void ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) override;

 private:
  bool blEnabled = false;
};

// ---------------------------------------------------------------------------------------------
// Loggable components

class TzfLoggableComponent : public TzfRegisterableComponent {
 public:
  using TzfRegisterableComponent::TzfRegisterableComponent;
  static const TzfComponentClass& ClassInfo();
  const char16_t* ClassName() const override { return u"TzfLoggableComponent"; }

  TzfBaseLog* EventLog() const { return lcEventLog; }
  // Unlinks the old log and links the new one.
  void SetEventLog(TzfBaseLog* aLog);
  bool EventLogEnabled() const { return lcLogEnabled; }
  void SetEventLogEnabled(bool aValue) { lcLogEnabled = aValue; }

  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;
  RefPtr<TzfComponentInfo> CreateComponentInfo() override;

  // Each writes only when logging is enabled and a log is assigned.
  void lcLog(const UnicodeString& aMsg, uint32_t aMsgNumber, TzfLogPriority aPriority,
             const UnicodeString& aCategory, TDateTime aWhen = 0, int32_t aWhenBias = zfLogBiasDefault);
  void lcLog(const UnicodeString& aFormat, FormatArgs aArgs, uint32_t aMsgNumber, TzfLogPriority aPriority,
             const UnicodeString& aCategory, TDateTime aWhen = 0, int32_t aWhenBias = zfLogBiasDefault);
  void lcLog(const UnicodeString& aMsg, const void* aData, int32_t aDataLen, uint32_t aMsgNumber,
             TzfLogPriority aPriority, const UnicodeString& aCategory, TDateTime aWhen = 0,
             int32_t aWhenBias = zfLogBiasDefault);
  void lcLogs(const std::vector<UnicodeString>& aMsgs, uint32_t aMsgNumber, TzfLogPriority aPriority,
              const UnicodeString& aCategory, TDateTime aWhen = 0, int32_t aWhenBias = zfLogBiasDefault);

 protected:
  [[noreturn]] void ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) override;

 private:
  TzfBaseLog* lcEventLog = nullptr;
  bool lcLogEnabled = false;
};

// ---------------------------------------------------------------------------------------------
// State components

enum TzfState : uint8_t { zfsInactive, zfsUnsupported, zfsStopped, zfsStarted };
enum TzfStateTransition : uint8_t { zfstNone, zfstInitializing, zfstDeactivating, zfstStarting, zfstStopping, zfstInvalid };

extern const TzfState zfNextState[4][4];
extern const TzfStateTransition zfStateTransitions[4][4];
extern const bool zfActivatingTransitions[6];
UnicodeString zfStateToStr(TzfState aState);
UnicodeString zfStateTransitionToStr(TzfStateTransition aTransition);

class TzfStateComponent : public TzfLoggableComponent {
 public:
  explicit TzfStateComponent(TComponent* aOwner = nullptr);
  ~TzfStateComponent() override;
  static const TzfComponentClass& ClassInfo();
  const char16_t* ClassName() const override { return u"TzfStateComponent"; }
  void BeforeDestruction() override;
  void Loaded() override;

  TzfState State() const { return scState; }
  TzfStateTransition StateTransition() const { return scStateTransition; }
  bool Enabled() const { return scEnabled; }
  virtual void SetEnabled(bool aValue);
  bool ActiveRuntime() const { return scActiveRuntime; }
  virtual void SetActiveRuntime(bool aValue);
  bool ActiveDesigntime() const { return scActiveDesigntime; }
  virtual void SetActiveDesigntime(bool aValue);
  TDateTime StartTime() const { return scStartTime; }

  virtual bool IsActive();
  virtual void ApplyActive(bool aValue);
  void Open() { ApplyActive(true); }
  void Connect() { ApplyActive(true); }
  void Close() { ApplyActive(false); }
  // The state machine: steps towards aState one transition at a time.
  virtual void GotoState(TzfState aState);
  virtual bool DependsOn(TzfComponent* aComponent) { return false; }

  virtual void CheckInactive();
  virtual void CheckInactiveOrStopped();
  virtual void CheckStarted();

  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;
  RefPtr<TzfComponentInfo> CreateComponentInfo() override;
  void GetStatsCaptions(std::vector<UnicodeString>& aList) override;
  void GetStatsValues(std::vector<UnicodeString>& aList) override;
  virtual bool HasUptimeStat() { return false; }
  virtual bool UIStateVisible() { return true; }
  void SetSavedActive(uint8_t aValue) { scSavedActive = aValue; }
  virtual void SwitchToSavedActive();
  uint8_t SavedActive() const { return scSavedActive; }
  // Adds "State" and "StateTransition" after the component's values.
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  // "Active" and "EventLogEnabled" (Boolean, default false). Loading the configuration keeps the
  // activation as the saved one; saving writes IsActive.
  void GetConfigSettings(TzfBaseSettings& aSettings) override;
  void LoadConfig(TzfBaseComponentConfiguration& aConfig) override;
  void SaveConfig(TzfBaseComponentConfiguration& aConfig) override;

  // After the component block: Integer 1, Boolean EventLogEnabled, Boolean IsActive. Loading
  // keeps the activation as the saved one (SwitchToSavedActive applies it).
  void SaveSettingsToStream(TzfWriter& aWriter) override;
  void LoadSettingsFromStream(TzfReader& aReader) override;

  std::function<void(TzfComponent*)> OnStateChanged;
  std::function<void(TzfComponent*)> OnStateTransChanged;

 protected:
  virtual void FollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState, TzfState aOldState);
  virtual bool ShouldFollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState,
                                       TzfStateTransition aTransition);
  virtual void DoInitializing() {}
  virtual void DoDeactivating() {}
  virtual void DoStarting() {}
  virtual void DoStopping() {}
  virtual bool StateChanging(TzfState aOldState, TzfState aNewState);
  virtual void StateChanged(TzfState aOldState, TzfState aNewState);
  virtual void StateTransitionChanged(TzfStateTransition aTransition);
  [[noreturn]] void ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) override;

 private:
  // Converts and logs a failed step: "Error while changing state (%s -> %s): %s: %s".
  void LogStateError(TzfState aFrom, TzfState aNext, const std::exception& aError) noexcept;

  TDateTime scStartTime = 0;
  uint8_t scSavedActive = 0;
  bool scEnabled = true;
  bool scActiveRuntime = false;
  bool scActiveDesigntime = false;
  TzfState scState = zfsInactive;
  TzfStateTransition scStateTransition = zfstNone;
};

}  // namespace zf
