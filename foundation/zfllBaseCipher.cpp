#include "foundation/zfllBaseCipher.h"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlText.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfllBaseCipher";

// ASCII case ignored, as the registry's sorted list compares names.
struct TNameLess {
  bool operator()(const std::string& a, const std::string& b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
      if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

// Per name: the classes keyed by their priority as eight upper-case hexadecimal digits, so the
// last entry is the class of highest priority.
using TPriorities = std::map<std::string, const TzfCipherClass*>;
using TKeyWrapRegistry = std::map<std::string, TPriorities, TNameLess>;

struct TRegistries {
  std::mutex KeyWrapLock;  // changed only at unit start and stop; the lock keeps lookups safe anyway
  TKeyWrapRegistry KeyWrap;
  std::mutex AltLock;
  std::vector<const TzfCipherClass*> AltList;
  const TzfCipherClass* AltCurrent = nullptr;
  int32_t AltLockCount = 0;
};

TRegistries& Registries() {
  static TRegistries r;
  return r;
}

std::string PriorityKey(uint32_t aPriority) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s(8, '0');
  for (int i = 7; i >= 0; --i, aPriority >>= 4) s[static_cast<size_t>(i)] = kHex[aPriority & 15];
  return s;
}

// The registered class of greatest AltPriority, the earliest on ties; under AltLock.
void ChooseAltCurrent(TRegistries& r) {
  const TzfCipherClass* best = nullptr;
  for (const TzfCipherClass* c : r.AltList)
    if (!best || c->AltPriority() > best->AltPriority()) best = c;
  r.AltCurrent = best;
}

[[noreturn]] void RaiseNoAltCipher() {
  throw EzfBaseCipherException(zfErrNotSupported, u"No alternative mode cipher class registered");
}

}  // namespace

void TzfBaseCipher::GetRandomBlock(uint8_t*) { rtl::AssertionFailure(kUnit, __LINE__); }
void TzfBaseCipher::AltEncode(uint8_t*, uint32_t) { rtl::AssertionFailure(kUnit, __LINE__); }
void TzfBaseCipher::AltDecode(uint8_t*, uint32_t) { rtl::AssertionFailure(kUnit, __LINE__); }

void TzfBaseCipher::GenerateRandom(const TzfCipherClass& aClass, uint8_t* aData, uint32_t aLength) {
  const uint32_t block = aClass.BlockLength();
  ZF_ASSERT(block != 0 && aLength % block == 0, kUnit);
  for (uint32_t o = 0; o < aLength; o += block) aClass.GetRandomBlock(aData + o);
}

void TzfBaseCipher::EncodeTransport(uint8_t* aIV, uint8_t* aData, uint32_t aLen, uint8_t* aMac) {
  RandomIVBlock(aIV);
  Encode(aData, aLen);
  Final(aMac);
}

bool TzfBaseCipher::DecodeTransport(const uint8_t* aIV, uint8_t* aData, uint32_t aLen, const uint8_t* aMac) {
  ResetIVBlock(aIV);
  Decode(aData, aLen);
  const uint32_t n = ClassType().BlockLength();
  std::vector<uint8_t> mac(n);
  Final(mac.data());
  return std::memcmp(mac.data(), aMac, n) == 0;
}

void TzfBaseCipher::EncodeStorage(uint8_t* aIV, uint32_t, TzfByteDynArray&, const uint8_t* aDataIn, uint8_t* aDataOut,
                                  uint32_t aLen, uint8_t* aMac) {
  if (aLen) std::memmove(aDataOut, aDataIn, aLen);
  EncodeTransport(aIV, aDataOut, aLen, aMac);
}

bool TzfBaseCipher::DecodeStorage(const uint8_t* aIV, uint32_t, TzfByteDynArray& aCookie, uint8_t* aData, uint32_t aLen,
                                  const uint8_t* aMac) {
  if (!aCookie.empty()) std::memset(aCookie.data(), 0, std::min<size_t>(4, aCookie.size()));
  return DecodeTransport(aIV, aData, aLen, aMac);
}

void TzfBaseCipher::EncodeKey(uint8_t* aIV, uint8_t* aData, uint32_t aLen, uint8_t* aMac) {
  EncodeTransport(aIV, aData, aLen, aMac);
}

bool TzfBaseCipher::DecodeKey(const uint8_t* aIV, uint8_t* aData, uint32_t aLen, const uint8_t* aMac) {
  return DecodeTransport(aIV, aData, aLen, aMac);
}

// ---- key-wrap registry ----

void TzfBaseCipher::RegisterKeyWrapClass(const TzfCipherClass& aClass) {
  const std::string name = aClass.KeyWrapName();
  if (name.empty()) return;
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.KeyWrapLock);
  TPriorities& list = r.KeyWrap[name];
  if (!list.emplace(PriorityKey(aClass.KeyWrapPriority()), &aClass).second)
    throw rtl::EStringListError(u"String list does not allow duplicates");
}

void TzfBaseCipher::UnregisterKeyWrapClass(const TzfCipherClass& aClass) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.KeyWrapLock);
  for (auto n = r.KeyWrap.begin(); n != r.KeyWrap.end();) {
    for (auto c = n->second.begin(); c != n->second.end();) c = c->second == &aClass ? n->second.erase(c) : std::next(c);
    n = n->second.empty() ? r.KeyWrap.erase(n) : std::next(n);
  }
}

const TzfCipherClass* TzfBaseCipher::FindKeyWrapClass(std::string_view aName) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.KeyWrapLock);
  auto n = r.KeyWrap.find(std::string(aName));
  if (n == r.KeyWrap.end() || n->second.empty()) return nullptr;
  return n->second.rbegin()->second;
}

const TzfCipherClass& TzfBaseCipher::MustFindKeyWrapClass(std::string_view aName) {
  const TzfCipherClass* c = FindKeyWrapClass(aName);
  if (!c)
    throw EzfBaseCipherException(u"Unable to find key wrap class with algorithm name \"%s\"",
                                 {rtl::Utf8ToUtf16(std::string(aName))});
  return *c;
}

void TzfBaseCipher::GetRegisteredKeyWrapClasses(rtl::TStrings& aList) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.KeyWrapLock);
  aList.BeginUpdate();
  try {
    aList.Clear();
    for (const auto& [name, list] : r.KeyWrap)
      if (!list.empty())
        aList.AddObject(rtl::Utf8ToUtf16(name),
                        reinterpret_cast<void*>(static_cast<uintptr_t>(list.rbegin()->second->KeyWrapPriority())));
  } catch (...) {
    aList.EndUpdate();
    throw;
  }
  aList.EndUpdate();
}

const TzfCipherClass* TzfBaseCipher::PreferedKeyWrapClass() {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.KeyWrapLock);
  const TzfCipherClass* best = nullptr;
  for (const auto& [name, list] : r.KeyWrap) {
    if (list.empty()) continue;
    const TzfCipherClass* c = list.rbegin()->second;
    if (c->KeyWrapPriority() == 0) continue;
    if (!best || c->KeyWrapPriority() > best->KeyWrapPriority()) best = c;
  }
  return best;
}

// ---- alternative mode ----

void TzfBaseCipher::AltRegister(const TzfCipherClass& aClass) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.AltLock);
  r.AltList.push_back(&aClass);
  if (!r.AltCurrent || (aClass.AltPriority() > r.AltCurrent->AltPriority() && r.AltLockCount == 0))
    r.AltCurrent = &aClass;
}

void TzfBaseCipher::AltUnregister(const TzfCipherClass& aClass) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.AltLock);
  if (r.AltCurrent == &aClass) {
    if (r.AltLockCount > 0)
      throw EzfBaseCipherException(zfErrLocked,
                                   u"The alternative mode cipher about to the unregistered is currently locked as "
                                   u"begin in use");
    r.AltCurrent = nullptr;
  }
  for (auto i = r.AltList.begin(); i != r.AltList.end(); ++i)
    if (*i == &aClass) {
      r.AltList.erase(i);
      break;
    }
  if (r.AltList.empty()) r.AltList.shrink_to_fit();
  if (!r.AltCurrent) ChooseAltCurrent(r);
}

void TzfBaseCipher::AltLock() {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.AltLock);
  if (!r.AltCurrent) RaiseNoAltCipher();
  ++r.AltLockCount;
}

void TzfBaseCipher::AltUnLock() {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.AltLock);
  ZF_ASSERT(r.AltLockCount > 0, kUnit);
  --r.AltLockCount;
  if (!r.AltCurrent) ChooseAltCurrent(r);
}

const TzfCipherClass* TzfBaseCipher::AltCurrent() {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.AltLock);
  return r.AltCurrent;
}

void TzfBaseCipher::EncodeAlt(uint8_t* aData, uint32_t aLen) {
  const TzfCipherClass* c = AltCurrent();
  if (!c) RaiseNoAltCipher();
  c->AltEncode(aData, aLen);
}

void TzfBaseCipher::DecodeAlt(uint8_t* aData, uint32_t aLen) {
  const TzfCipherClass* c = AltCurrent();
  if (!c) RaiseNoAltCipher();
  c->AltDecode(aData, aLen);
}

rtl::TUnitInit& zfllBaseCipherUnit() {
  static rtl::TUnitInit unit(
      "zfllBaseCipher", [] {},
      [] {
        TRegistries& r = Registries();
        {
          std::lock_guard<std::mutex> g(r.AltLock);
          r.AltList.clear();
          r.AltCurrent = nullptr;
          r.AltLockCount = 0;
        }
        std::lock_guard<std::mutex> g(r.KeyWrapLock);
        r.KeyWrap.clear();
      });
  return unit;
}

}  // namespace zf
