#include "storage/zfsrEncryptionEngineBase.h"

#include <map>
#include <mutex>
#include <string>

#include "foundation/zfllConvertException.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlRegistry.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsrEncryptionEngineBase";

// Priority text: eight upper-case hexadecimal digits, negative values in two's complement. The
// entry with the greatest text is the one used.
using TPriorities = std::map<std::string, const TzfEncryptionEngineClass*>;
using TRegistry = std::map<rtl::UnicodeString, TPriorities, rtl::TTextLess>;

struct TRegistries {
  std::mutex Lock;
  // Index 0: user engines, 1: server engines. Empty maps stand for lists not yet created.
  TRegistry Lists[2];
};

TRegistries& Registries() {
  static TRegistries r;
  return r;
}

std::string PriorityText(int32_t aPriority) {
  static const char kHex[] = "0123456789ABCDEF";
  uint32_t v = static_cast<uint32_t>(aPriority);
  std::string s(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kHex[v & 15];
  return s;
}

[[noreturn]] void RaiseUnknown(const rtl::UnicodeString& aName) {
  throw EzfBaseEncryptionEngineException(zfErrSubEngineNotSupported, u"Unknown encryption engine: \"%s\"", {aName});
}

}  // namespace

void TzfBaseEncryptionEngine::beeAddChecksumForBlock(const uint8_t*, uint32_t, uint32_t, TzfByteDynArray&) {
  rtl::AssertionFailure(kUnit, __LINE__);
}

void TzfBaseEncryptionEngine::beeAddChecksumForCookie(const TzfByteDynArray&, uint32_t, TzfByteDynArray&) {
  rtl::AssertionFailure(kUnit, __LINE__);
}

void TzfBaseEncryptionEngine::CodeBlockEx(const uint8_t* aBlockIn, uint8_t* aBlockOut, uint32_t aBlockLen,
                                          uint32_t aRandomizer, TzfByteDynArray&, TzfByteDynArray&) {
  CodeBlock(aBlockIn, aBlockOut, aBlockLen, aRandomizer * aBlockLen);
}

void TzfBaseEncryptionEngine::DecodeBlockEx(uint8_t* aBlock, uint32_t aBlockLen, uint32_t aRandomizer,
                                            const TzfByteDynArray&) {
  DecodeBlock(aBlock, aBlockLen, aRandomizer * aBlockLen);
}

void TzfBaseEncryptionEngine::ChangePassword(PzfByteArray, const rtl::UnicodeString&) {
  throw EzfBaseEncryptionEngineException(zfErrNotSupported, u"%s not supported by %s",
                                         {u"ChangePassword", ClassName()});
}

void TzfBaseEncryptionEngine::Register(const TzfEncryptionEngineClass& aClass, const rtl::UnicodeString& aName,
                                       bool aForServer, int32_t aPriority) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  TPriorities& list = r.Lists[aForServer ? 1 : 0][aName];
  if (!list.emplace(PriorityText(aPriority), &aClass).second)
    throw rtl::EStringListError(u"String list does not allow duplicates");
}

void TzfBaseEncryptionEngine::Unregister(const TzfEncryptionEngineClass& aClass) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  for (TRegistry& reg : r.Lists) {
    for (auto it = reg.begin(); it != reg.end();) {
      TPriorities& list = it->second;
      for (auto p = list.begin(); p != list.end();) p = p->second == &aClass ? list.erase(p) : std::next(p);
      it = list.empty() ? reg.erase(it) : std::next(it);
    }
  }
}

void TzfBaseEncryptionEngine::GetRegisteredEngines(rtl::TStrings& aList, bool aForServer) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  aList.Clear();
  aList.Add(rtl::UnicodeString());
  for (const auto& [name, list] : r.Lists[aForServer ? 1 : 0]) aList.Add(name);
}

const TzfEncryptionEngineClass* TzfBaseEncryptionEngine::FindEngineClass(const rtl::UnicodeString& aName,
                                                                         bool aForServer) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  const TRegistry& reg = r.Lists[aForServer ? 1 : 0];
  auto it = reg.find(aName);
  if (it == reg.end() || it->second.empty()) return nullptr;
  return it->second.rbegin()->second;
}

uint32_t TzfBaseEncryptionEngine::ReservedHeaderSpace(const rtl::UnicodeString& aEngine, bool aForServer) {
  if (aEngine.empty()) return 0;
  const TzfEncryptionEngineClass* c = FindEngineClass(aEngine, aForServer);
  if (!c) RaiseUnknown(aEngine);
  return c->ReservedHeaderSpace() + c->ChecksumSize();
}

uint32_t TzfBaseEncryptionEngine::ReservedSpacePerBlock(const rtl::UnicodeString& aEngine, bool aForServer,
                                                        TzfBlockSize aBlockSize) {
  const TzfEncryptionEngineClass* c = aEngine.empty() ? nullptr : FindEngineClass(aEngine, aForServer);
  if (!c) RaiseUnknown(aEngine);
  return c->ReservedSpacePerBlock(aBlockSize);
}

uint32_t TzfBaseEncryptionEngine::CreateEngine(const rtl::UnicodeString& aName, const TzfUnicodeStrings& aPasswords,
                                               PzfByteArray aHeader, bool aCreating, bool aForServer,
                                               std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
  aEngine.reset();
  const TzfEncryptionEngineClass* c = FindEngineClass(aName, aForServer);
  if (!c)
    return EzfBaseException::zfSetMessage(zfErrSubEngineNotSupported, u"Unknown encryption engine: \"%s\"", {aName});
  return c->CreateInstance(aName, aPasswords, aHeader, aCreating, aForServer, aEngine);
}

uint32_t zfEncryptionCreateGuarded(const std::function<TzfBaseEncryptionEngine*()>& aMake,
                                   std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
  aEngine.reset();
  try {
    aEngine.reset(aMake());
    return 0;
  } catch (...) {
    aEngine.reset();
    return zfConvertException(std::current_exception(), nullptr, nullptr);
  }
}

rtl::TUnitInit& zfsrEncryptionEngineBaseUnit() {
  // The registries are filled by the engines' own units; at the end nothing may stay registered.
  static rtl::TUnitInit unit("zfsrEncryptionEngineBase", nullptr, [] {
    TRegistries& r = Registries();
    std::lock_guard<std::mutex> g(r.Lock);
    for (TRegistry& reg : r.Lists) reg.clear();
  });
  return unit;
}

}  // namespace zf
