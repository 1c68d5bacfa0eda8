// Field mapper descriptors: one target field, the source field it takes its value from and what
// happens when the value does not fit. Also the stream helpers that the three mapper descriptor
// families share.
//
// Stream of a field mapper descriptor (tagged value encoding):
//
//   #  value        meaning
//   1  Ident        class name (TzfFieldMapperDescriptor or another registered class)
//   2  String       bfcdSourceName
//   3  String       bfcdTargetName
//   4  String       the action's name: "dlaFail", "dlaNull" or "dlaBestFit" (read ignoring case)
//   5  Integer 1    body version
//   6  Boolean      bfcdApplyDefault
//
// A reader refuses, with the family's exception: an unknown class name (15499 "%s class is not
// supported: %s"), a body version other than 1, an action name that names no action, a value of
// the wrong kind or one running past the end of the stream (15498 "Incompatible stream").
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/zfllRegisterableEngine.h"
#include "foundation/zfllStreamsRW.h"
#include "mapping/zfsdFieldMapperBase.h"

namespace zf {

class TzfFieldMapperDescriptor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfFieldMapperDescriptorException, EzfBaseRegisterableDescriptorException)

// Class reference of field mapper descriptors: the virtual constructor with the mapping.
struct TzfFieldMapperDescriptorClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfFieldMapperDescriptor> (*)(const UnicodeString& aSourceName,
                                                                 const UnicodeString& aTargetName,
                                                                 TzfDataLossAction aDataLossAction);
  TzfFieldMapperDescriptorClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                                TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfFieldMapperDescriptor : public TzfBaseRegisterableDescriptor {
 public:
  static const TzfFieldMapperDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfFieldMapperDescriptor(const UnicodeString& aSourceName, const UnicodeString& aTargetName,
                           TzfDataLossAction aDataLossAction)
      : bfcdSourceName(aSourceName), bfcdTargetName(aTargetName), bfcdDataLossAction(aDataLossAction) {}

  // Writes the class name, the names, the action and the body.
  void WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion) const;
  // Reads a descriptor written by WriteToWriter; the caller owns it. Damaged input raises 15498 or
  // 15499 (EzfFieldMapperDescriptorException) and leaves nothing behind.
  static std::unique_ptr<TzfFieldMapperDescriptor> CreateFromReader(TzfReader& aReader);

  // The body after the action name: version and bfcdApplyDefault.
  virtual void WriteData(TzfWriter& aWriter, int32_t aClientVersion) const;
  virtual void ReadData(TzfReader& aReader);
  [[noreturn]] virtual void RaiseError(uint32_t aErrorCode) const;

  UnicodeString bfcdSourceName;  // empty: the target only gets its default value
  UnicodeString bfcdTargetName;
  TzfDataLossAction bfcdDataLossAction;
  bool bfcdApplyDefault = false;
};

// ---- Stream helpers of the mapper descriptor families ----

// The body version every mapper descriptor class level writes.
inline constexpr int32_t zfMapperBodyVersion = 1;

// Reads a body version; anything but 1 raises aRaise(15498).
template <class TRaise>
void zfReadMapperBodyVersion(TzfReader& aReader, TRaise&& aRaise) {
  if (aReader.ReadInteger() != zfMapperBodyVersion) aRaise(zfErrIncompatibleStream);
}

// Reads a Boolean that must be stored as a Boolean tag; anything else raises aRaise(15498).
template <class TRaise>
bool zfReadMapperBoolean(TzfReader& aReader, TRaise&& aRaise) {
  const TValueType tag = aReader.ReadValue();
  if (tag != vaFalse && tag != vaTrue) aRaise(zfErrIncompatibleStream);
  return tag == vaTrue;
}

// Reads a class name and finds it in aFamily's registry as a class of type TClass; an unknown
// name raises TException 15499 "%s class is not supported: %s" with aFamilyName and the name.
template <class TClass, class TException>
const TClass& zfReadMapperClass(TzfReader& aReader, const TzfRegisterableClass& aFamily,
                                const char16_t* aFamilyName) {
  const UnicodeString name = aReader.ReadIdent();
  const TClass* cls = zfFindDescriptorClass<TClass>(aFamily, name);
  if (!cls || !cls->Create)
    throw TException(zfErrUnsupportedDescriptor, u"%s class is not supported: %s",
                     {UnicodeString(aFamilyName), name});
  return *cls;
}

// Runs aRead; a failure of the value reader itself (a wrong tag, a value past the end, a bad
// count), which carries no engine code, becomes TException 15498: the stream is damaged. Out of
// memory and the mapping list's duplicate error pass on as they are.
template <class TException, class TRead>
auto zfReadMapperStream(TRead&& aRead) -> decltype(aRead()) {
  try {
    return aRead();
  } catch (const EzfBaseException&) {
    throw;
  } catch (const rtl::EOutOfMemory&) {
    throw;
  } catch (const rtl::EStringListError&) {
    throw;  // a second mapping for one target name: the list's own error
  } catch (const rtl::Exception&) {
    throw TException(zfErrIncompatibleStream);
  }
}

// Registers the field mapper descriptor class (unit start) and removes it (unit stop).
rtl::TUnitInit& zfsdFieldMapperDescriptorUnit();

}  // namespace zf
