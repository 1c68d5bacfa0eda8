// The abstract filter descriptor and its registry.
//
// A key descriptor may carry a stored filter (its key filter). The concrete filter descriptors
// and the engines that evaluate them belong to the index layer, which sits above the dictionary;
// the dictionary only owns, streams and frees them. So the base class and the registry of filter
// descriptor classes live here, and the index layer registers its classes by name when it starts.
// A stored filter names its class: the dictionary turns that name back into a class through the
// registry and never includes index code.
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/zfllRegisterableEngine.h"
#include "platform/rtl/rtlStream.h"

namespace zf {

class TzfBaseFilterDescriptor;

// Class reference of a filter descriptor: its virtual stream constructor reads the descriptor's
// own part (what follows the class name) from the stream.
struct TzfFilterDescriptorClass : TzfRegisterableClass {
  using TCreateFromStream = std::unique_ptr<TzfBaseFilterDescriptor> (*)(rtl::TStream& aStream);
  TzfFilterDescriptorClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreateFromStream aCreate,
                           TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), CreateFromStreamProc(aCreate) {}
  TCreateFromStream CreateFromStreamProc;
};

class TzfBaseFilterDescriptor : public TzfBaseRegisterableDescriptor {
 public:
  // The family root: owns the registry of filter descriptor classes; not creatable itself.
  static const TzfFilterDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Reads a one-byte length and that many 8-bit characters of a class name, finds the class in
  // the registry (also as the name followed by "Descriptor") and lets it read the rest of the
  // stream. Answers 0 and the new descriptor; 9986 when the name cannot be read in full; 12289
  // "Filter descriptor not supported: %s" for an unknown class; the converted code of anything
  // the class raises while reading. aFilter is empty on every failure.
  static uint32_t CreateFromStream(rtl::TStream& aStream, std::unique_ptr<TzfBaseFilterDescriptor>& aFilter);

  // Writes the class name in the form CreateFromStream reads, then the descriptor's own part, for
  // a reader of client version aVersion. The base writes nothing and answers 12289
  // "WriteToStream is not supported by %s".
  virtual uint32_t WriteToStream(rtl::TStream& aStream, int32_t aVersion);

  // Registration of concrete classes (called from the index layer's unit start and stop).
  static void RegisterFilterDescriptor(const TzfFilterDescriptorClass& aClass, UnicodeStringView aName = {});
  static void UnregisterFilterDescriptor(const TzfFilterDescriptorClass& aClass);

 protected:
  // The class-name prefix of every stored filter: one length byte and the ASCII name.
  void WriteClassName(rtl::TStream& aStream) const;
};

}  // namespace zf
