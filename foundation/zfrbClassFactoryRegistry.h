// The registry of class factories by class GUID: management code registers a factory for a class
// ID and gets a control back; the factory stays registered exactly as long as someone holds that
// control. Clients reach the registry through a server session under the name "<Registry>" and
// create objects by class ID.
#pragma once
#include <cstdint>
#include <shared_mutex>

#include "foundation/zfllList.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlText.h"

namespace zf {

using rtl::UnicodeString;

// Result codes of the interface methods, with their system values.
using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT CO_E_OBJNOTREG = static_cast<HRESULT>(0x800401FBu);
inline constexpr HRESULT CO_E_OBJISREG = static_cast<HRESULT>(0x800401FCu);

// Creates objects of one class.
class IzfClassFactory : public TzfInterfacedObject {
 public:
  static constexpr rtl::TGUID IID{0x4470B7A4, 0x7E67, 0x4013, {0xAC, 0xDC, 0x2C, 0x59, 0xE4, 0x79, 0x14, 0x1D}};
  // Creates an object for aInterfaceID (aggregated into aOuter when given).
  virtual HRESULT CreateInstance(TzfInterfacedObject* aOuter, const rtl::TGUID& aInterfaceID,
                                 RefPtr<TzfInterfacedObject>& aObject) = 0;
};

// Optional second interface of a factory that wants to be told when the registry notifies
// its factories (found on the factory with dynamic_cast).
class IzfClassFactoryNotify {
 public:
  static constexpr rtl::TGUID IID{0x9642CAEA, 0xDC51, 0x40F5, {0xAE, 0x1F, 0xFD, 0x3A, 0x7E, 0xE6, 0xE2, 0xAB}};
  virtual HRESULT Notify() = 0;

 protected:
  ~IzfClassFactoryNotify() = default;
};

// The registration of one factory; releasing the last reference unregisters it.
class IzfClassFactoryControl : public TzfInterfacedObject {
 public:
  static constexpr rtl::TGUID IID{0xCA98630F, 0xA76E, 0x41C9, {0xB3, 0x84, 0xA6, 0x75, 0xD2, 0xE0, 0xCB, 0xFA}};
  // The factory's notification: E_NOINTERFACE when it offers none, else its result.
  virtual HRESULT NotifyFactory() = 0;
  // S_OK when removed, S_FALSE when not registered, E_UNEXPECTED when the entry was missing.
  virtual HRESULT Unregister() = 0;
};

class IzfClassFactoryRegistry : public TzfInterfacedObject {
 public:
  static constexpr rtl::TGUID IID{0x54F6F091, 0x45F0, 0x4E16, {0x87, 0x88, 0x17, 0x0E, 0xA7, 0x38, 0x5B, 0xA4}};
  // The registered factory's result, or CO_E_OBJNOTREG when the class ID is not registered.
  virtual HRESULT CreateInstance(const rtl::TGUID& aClassID, TzfInterfacedObject* aOuter,
                                 const rtl::TGUID& aInterfaceID, RefPtr<TzfInterfacedObject>& aInterface) = 0;
  // CO_E_OBJISREG for a class ID already registered, E_INVALIDARG without a factory, else S_OK
  // with the registration's control in aControl.
  virtual HRESULT RegisterClassFactory(const rtl::TGUID& aClassID, const RefPtr<IzfClassFactory>& aFactory,
                                       RefPtr<IzfClassFactoryControl>* aControl) = 0;
  // Notifies every factory that offers IzfClassFactoryNotify, in class-ID text order; the first
  // negative result ends the walk and is answered; otherwise the last result (S_OK when none).
  virtual HRESULT NotifyFactories() = 0;
};

class TzfClassFactoryControl;

class TzfClassFactoryRegistry : public IzfClassFactoryRegistry {
 public:
  TzfClassFactoryRegistry() = default;
  ~TzfClassFactoryRegistry() override = default;

  HRESULT CreateInstance(const rtl::TGUID& aClassID, TzfInterfacedObject* aOuter, const rtl::TGUID& aInterfaceID,
                         RefPtr<TzfInterfacedObject>& aInterface) override;
  HRESULT RegisterClassFactory(const rtl::TGUID& aClassID, const RefPtr<IzfClassFactory>& aFactory,
                               RefPtr<IzfClassFactoryControl>* aControl) override;
  HRESULT NotifyFactories() override;

  size_t Count() const;

 private:
  friend class TzfClassFactoryControl;
  // Guards phrFactories: lookups read, registrations and removals write.
  mutable std::shared_mutex phrPortal;
  // Class-ID texts, sorted ordinally and unique, with the control of each registration as the
  // object (not owned: a control removes itself).
  TzfFastStringListCS phrFactories{rtl::dupError};
};

class TzfClassFactoryControl : public IzfClassFactoryControl {
 public:
  // Stores the three; the registry adds the control to its list (under its write lock).
  TzfClassFactoryControl(TzfClassFactoryRegistry* aClassFactoryRegistry, const rtl::TGUID& aClassID,
                         RefPtr<IzfClassFactory> aClassFactory);
  // Unregisters.
  ~TzfClassFactoryControl() override;

  HRESULT NotifyFactory() override;
  HRESULT Unregister() override;

  const rtl::TGUID& ClassID() const { return cfcClassID; }
  bool Registered() const { return cfcRegistered; }

 private:
  friend class TzfClassFactoryRegistry;
  RefPtr<TzfClassFactoryRegistry> cfcRegistry;
  rtl::TGUID cfcClassID;
  RefPtr<IzfClassFactory> cfcClassFactory;
  bool cfcRegistered = false;  // changed under the registry's write lock
};

}  // namespace zf
