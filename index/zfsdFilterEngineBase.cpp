#include "index/zfsdFilterEngineBase.h"

#include <mutex>
#include <unordered_set>

#include "foundation/zfllErrors.h"

namespace zf {

namespace {

struct TFilterIDs {
  std::mutex Lock;
  std::unordered_set<TzfFilterID> Live;
  TzfFilterID Next = 0;
};

TFilterIDs& FilterIDs() {
  static TFilterIDs ids;
  return ids;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

TzfFilterID zfIssueFilterID() {
  TFilterIDs& ids = FilterIDs();
  std::lock_guard g(ids.Lock);
  // The counter wraps after 2^32 engines; skip 0 and identities still held.
  for (;;) {
    const TzfFilterID id = ++ids.Next;
    if (id != 0 && ids.Live.insert(id).second) return id;
  }
}

void zfReleaseFilterID(TzfFilterID aID) {
  TFilterIDs& ids = FilterIDs();
  std::lock_guard g(ids.Lock);
  ids.Live.erase(aID);
}

UnicodeString zfEngineNameFromDescriptorName(UnicodeStringView aName, UnicodeStringView aReplacement) {
  static constexpr char16_t kWord[] = u"descriptor";
  constexpr size_t n = sizeof(kWord) / sizeof(char16_t) - 1;
  UnicodeString r;
  size_t i = 0;
  while (i < aName.size()) {
    bool match = i + n <= aName.size();
    for (size_t j = 0; match && j < n; ++j) match = LowerAscii(aName[i + j]) == kWord[j];
    if (match) {
      r.append(aReplacement);
      i += n;
    } else {
      r.push_back(aName[i++]);
    }
  }
  return r;
}

const TzfFilterEngineClass& TzfBaseFilterEngine::ClassInfo() {
  static const TzfFilterEngineClass info(u"TzfBaseFilterEngine", &TzfBaseRegisterableEngine::ClassInfo(), nullptr,
                                         &zfFamilyList<TzfBaseFilterEngine>);
  return info;
}

TzfBaseFilterEngine::TzfBaseFilterEngine(TzfBaseFilterDescriptor* /*aDescriptor*/, IzfFieldsSource* aFieldsSource)
    : bfFieldsSource(aFieldsSource), bfFilterID(zfIssueFilterID()) {}

TzfBaseFilterEngine::~TzfBaseFilterEngine() { zfReleaseFilterID(bfFilterID); }

void TzfBaseFilterEngine::RegisterFilterEngine(const TzfFilterEngineClass& aClass, UnicodeStringView aName) {
  RegisterEngine(aClass, aName);
}

void TzfBaseFilterEngine::UnregisterFilterEngine(const TzfFilterEngineClass& aClass) { UnregisterEngine(aClass); }

std::unique_ptr<TzfBaseFilterEngine> TzfBaseFilterEngine::CreateFor(TzfBaseFilterDescriptor& aDescriptor,
                                                                    IzfFieldsSource* aFieldsSource) {
  const UnicodeString name = zfEngineNameFromDescriptorName(aDescriptor.ClassName());
  const TzfFilterEngineClass* cls = zfFindEngineClass<TzfFilterEngineClass>(ClassInfo(), name);
  if (!cls || !cls->Create)
    throw EzfBaseFilterEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                       {UnicodeString(u"Filter"), name});
  return cls->Create(&aDescriptor, aFieldsSource);
}

void TzfBaseFilterEngine::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseRegisterableEngine::AddExceptionData(aContainer);
  aContainer.AddBoolean(u"Active", IsActive());
}

std::unique_ptr<TzfBaseFilterEngine> TzfBaseFilterEngine::Duplicate(IzfFieldsSource* aFieldsSource) {
  std::unique_ptr<TzfBaseFilterDescriptor> d = CreateDescriptor();
  std::unique_ptr<TzfBaseFilterEngine> e = CreateFor(*d, aFieldsSource);
  e->SetActive(IsActive());
  return e;
}

uint32_t TzfBaseFilterEngine::RemoveFilter(TzfFilterID aFilterID, std::unique_ptr<TzfBaseFilterEngine>& aFilterVar) {
  if (aFilterID != bfFilterID) return zfErrInvalidFilterHandle;
  if (aFilterVar.get() != this) rtl::AssertionFailure("zfsdFilterEngineBase", __LINE__);
  aFilterVar.reset();  // frees this engine
  return zfErrNone;
}

uint32_t TzfBaseFilterEngine::ActivateFilter(TzfFilterID aFilterID) {
  if (aFilterID != 0 && aFilterID != bfFilterID) return zfErrInvalidFilterHandle;
  SetActive(true);
  return zfErrNone;
}

uint32_t TzfBaseFilterEngine::DeactivateFilter(TzfFilterID aFilterID) {
  if (aFilterID != 0 && aFilterID != bfFilterID) return zfErrInvalidFilterHandle;
  SetActive(false);
  return zfErrNone;
}

rtl::TUnitInit& zfsdFilterEngineBaseUnit() {
  // The registry itself is created by the first registration and freed with the last class.
  static rtl::TUnitInit unit("zfsdFilterEngineBase", nullptr, nullptr);
  return unit;
}

}  // namespace zf
