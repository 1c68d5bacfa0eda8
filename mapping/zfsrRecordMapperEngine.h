// The record mapper engine: one field mapper engine per mapping of a record mapper descriptor (in
// the descriptor's order, sorted by target name), then one per target field that no mapping names
// but that gets a default value (defaults for unmapped fields on) or has a special engine (an
// AutoInc field). Other unmapped target fields stay NULL.
//
// A failing record carries the field context and then the record context:
//   <field context>
//   (empty line)
//   Source Table: <the source cursor's full name>
//   Source Key (Index: <name>): <key>     only with a suitable unique index of the source table
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "mapping/zfsdRecordMapperEngineBase.h"

namespace zf {

class TzfBaseFieldMapperEngine;
class TzfFieldMapperDescriptor;
class TzfIndexDescriptor;
class IzfMapperCursor;

// The text of the key that index aIndex of aCursor's table builds from aRecord; False when there
// is none. Exceptions are swallowed by the caller.
using TzfMapperKeyTextProc = bool (*)(IzfMapperCursor& aCursor, TzfIndexDescriptor& aIndex, const uint8_t* aRecord,
                                      rtl::UnicodeString& aText);
// Installs the key-text builder (nullptr: no key line); answers the previous one. The builder at
// start is zfIndexKeyTextProc(), which builds the key with the index's key engine.
TzfMapperKeyTextProc zfSetMapperKeyTextProc(TzfMapperKeyTextProc aProc);
TzfMapperKeyTextProc zfIndexKeyTextProc();

class TzfRecordMapperEngine : public TzfBaseRecordMapperEngine {
 public:
  static const TzfRecordMapperEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // aDescriptor must be a TzfRecordMapperDescriptor (another class: assertion failure). Creating
  // a field engine may raise (10038, 10002, 15503); nothing is left behind then.
  TzfRecordMapperEngine(TzfBaseRecordMapperDescriptor& aDescriptor, IzfMapperCursor& aSourceCursor,
                        IzfMapperCursor& aTargetCursor);
  ~TzfRecordMapperEngine() override;

  void BeforeFirstRecord() override;
  void BeforeCommit() override;
  uint32_t MapRecord(const uint8_t* aSource, uint8_t* aTarget) override;
  // Appends the table and key lines to the thread's last converted exception (its text only when
  // its code is aErrorCode) and answers aErrorCode.
  virtual uint32_t AddErrorContext(uint32_t aErrorCode, const uint8_t* aSource);

  IzfMapperCursor& rmeSourceCursor;
  std::vector<std::unique_ptr<TzfBaseFieldMapperEngine>> rmeFieldMapper;
  // The descriptors made for unmapped target fields; empty until the first is made.
  std::vector<std::unique_ptr<TzfFieldMapperDescriptor>> rmeFieldMapperDescriptors;

 private:
  // The first index of the source table whose key identifies a record, or nullptr.
  TzfIndexDescriptor* ChooseKeyIndex() const;
};

// Registers the record mapper engine (unit start) and removes it (unit stop).
rtl::TUnitInit& zfsrRecordMapperEngineUnit();

}  // namespace zf
