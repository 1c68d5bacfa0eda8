// The record mapper engine family: an engine fills a target record buffer from a source record
// buffer as one record mapper descriptor says. Engines are found by the descriptor's class name
// with "Descriptor" replaced by "Engine".
//
// Calling order of a run (restructure, pack, backup): create; BeforeFirstRecord; for each source
// record: InitRecord on the target buffer (every field NULL), MapRecord, then validate and insert
// the target record; BeforeCommit before each commit; free the engine. A failing MapRecord leaves
// the target buffer partly filled: the caller discards it.
#pragma once
#include <cstdint>
#include <memory>

#include "dictionary/zfsdDefaultValueEngine.h"
#include "foundation/zfllRegisterableEngine.h"

namespace zf {

class TzfBaseRecordMapperEngine;
class TzfBaseRecordMapperDescriptor;
class IzfMapperCursor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRecordMapperEngineException, EzfBaseRegisterableEngineException)

// Class reference of record mapper engines: the virtual constructor.
struct TzfRecordMapperEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseRecordMapperEngine> (*)(TzfBaseRecordMapperDescriptor& aDescriptor,
                                                                  IzfMapperCursor& aSourceCursor,
                                                                  IzfMapperCursor& aTargetCursor);
  TzfRecordMapperEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                             TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseRecordMapperEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfRecordMapperEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // The engine of aDescriptor's class; none registered raises 15503 'Unknown %s engine: "%s"'
  // with "RecordMapper" and the engine class name sought. The caller owns the engine.
  static std::unique_ptr<TzfBaseRecordMapperEngine> CreateFor(TzfBaseRecordMapperDescriptor& aDescriptor,
                                                              IzfMapperCursor& aSourceCursor,
                                                              IzfMapperCursor& aTargetCursor);

  virtual void BeforeFirstRecord() = 0;
  virtual void BeforeCommit() = 0;
  // Fills aTarget from aSource (whole record buffers): 0, or the first field's error code with
  // its context as the thread's last converted exception.
  virtual uint32_t MapRecord(const uint8_t* aSource, uint8_t* aTarget) = 0;
};

}  // namespace zf
