#include "storage/zfseEncryptionEngineBlowfishRC4.h"

#include <cstring>

#include "foundation/zfllConvertException.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlAnsi.h"

namespace zf {

namespace {

// A password as the cipher sees it: ANSI bytes in the system code page.
std::string AnsiPassword(const rtl::UnicodeString& aPassword) { return rtl::UnicodeToAnsi(aPassword).Bytes(); }

// Keeps a pooled cipher for one block and gives it back to the pool when done, also on failure.
class TCipherLease {
 public:
  explicit TCipherLease(TzfOwnedBlowFishRC4* aCipher) : FCipher(aCipher) {}
  ~TCipherLease() { FCipher->Recycle(); }
  TzfOwnedBlowFishRC4& operator*() { return *FCipher; }
  TzfOwnedBlowFishRC4* operator->() { return FCipher; }

 private:
  TzfOwnedBlowFishRC4* FCipher;
};

template <class T>
uint32_t CreateVariant(const TzfUnicodeStrings& aPasswords, PzfByteArray aHeader, bool aCreating,
                       std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
  aEngine.reset();
  try {
    auto engine = std::make_unique<T>();
    const uint32_t result = engine->Setup(aPasswords, aHeader, aCreating);
    if (result == 0) aEngine = std::move(engine);
    return result;
  } catch (...) {
    return zfConvertException(std::current_exception(), nullptr, nullptr);
  }
}

}  // namespace

// ---- pooled cipher ----

TzfOwnedBlowFishRC4::TzfOwnedBlowFishRC4(TzfBlowfishRC4EncryptionEngine& aOwner)
    : TzfBlowFishRC4(aOwner.beeBlowfishKey), obfOwner(aOwner) {}

void TzfOwnedBlowFishRC4::Recycle() { obfOwner.beeBlowfishCache.Push(this); }

// ---- engine ----

TzfBlowfishRC4EncryptionEngine::~TzfBlowfishRC4EncryptionEngine() {
  while (void* p = beeBlowfishCache.Pop()) delete static_cast<TzfOwnedBlowFishRC4*>(p);
}

void TzfBlowfishRC4EncryptionEngine::Wrap(PzfByteArray aHeader, const std::string& aPassword,
                                          const std::string& aDataKey) {
  TzfBlowFishRC4::GetRandom64(aHeader + kzfBfHdrSalt);
  TzfBlowFishRC4::GetRandom64(aHeader + kzfBfHdrSalt + 8);
  std::memcpy(aHeader + kzfBfHdrKey, aDataKey.data(), 16);
  std::string key(reinterpret_cast<const char*>(aHeader + kzfBfHdrSalt), 16);
  key += aPassword;
  TzfBlowFishRC4 wrap(key);
  uint32_t l = 0, r = 0;
  wrap.RandomIV(l, r);
  zfPutLE32(aHeader + kzfBfHdrIV, l);
  zfPutLE32(aHeader + kzfBfHdrIV + 4, r);
  wrap.Encode(aHeader + kzfBfHdrKey, 16);
  wrap.Final(aHeader + kzfBfHdrMac);
}

bool TzfBlowfishRC4EncryptionEngine::Unwrap(const uint8_t* aHeader, const std::string& aPassword,
                                            std::string& aDataKey) {
  std::string key(reinterpret_cast<const char*>(aHeader + kzfBfHdrSalt), 16);
  key += aPassword;
  uint8_t dataKey[16];
  std::memcpy(dataKey, aHeader + kzfBfHdrKey, 16);
  TzfBlowFishRC4 wrap(key);
  wrap.ResetIV(zfGetLE32(aHeader + kzfBfHdrIV), zfGetLE32(aHeader + kzfBfHdrIV + 4));
  wrap.Decode(dataKey, 16);
  uint8_t mac[8];
  wrap.Final(mac);
  if (std::memcmp(mac, aHeader + kzfBfHdrMac, 8) != 0) return false;
  aDataKey.assign(reinterpret_cast<const char*>(dataKey), 16);
  return true;
}

uint32_t TzfBlowfishRC4EncryptionEngine::Setup(const TzfUnicodeStrings& aPasswords, PzfByteArray aHeader,
                                               bool aCreating) {
  if (!aHeader) {
    beeBlowfishKey = DefaultPassword();
    return 0;
  }
  if (aCreating) {
    if (aPasswords.size() > 1)
      return EzfBaseException::zfSetMessage(zfErrInvalidParam, u"More than one key specified when creating new table");
    // An empty password is no password: the table is wrapped under the built-in one, so that it
    // opens without a password as a table created without one does.
    const std::string used = aPasswords.empty() ? std::string() : AnsiPassword(aPasswords[0]);
    uint8_t dataKey[16];
    TzfBlowFishRC4::GetRandom64(dataKey);
    TzfBlowFishRC4::GetRandom64(dataKey + 8);
    beeDerivedKey.assign(reinterpret_cast<const char*>(dataKey), 16);
    beeUsedKey = used;
    Wrap(aHeader, used.empty() ? DefaultPassword() : used, beeDerivedKey);
    beeBlowfishKey = beeDerivedKey;
    return 0;
  }
  bool found = false;
  for (const rtl::UnicodeString& p : aPasswords) {
    const std::string candidate = AnsiPassword(p);
    if (candidate.empty()) continue;
    if (Unwrap(aHeader, candidate, beeDerivedKey)) {
      beeUsedKey = candidate;
      found = true;
      break;
    }
  }
  if (!found) {
    if (!Unwrap(aHeader, DefaultPassword(), beeDerivedKey)) return zfErrInvalidPassword;
    beeUsedKey.clear();
  }
  beeBlowfishKey = beeDerivedKey;
  return 0;
}

TzfOwnedBlowFishRC4* TzfBlowfishRC4EncryptionEngine::TakeCipher() {
  if (void* p = beeBlowfishCache.Pop()) return static_cast<TzfOwnedBlowFishRC4*>(p);
  return new TzfOwnedBlowFishRC4(*this);
}

void TzfBlowfishRC4EncryptionEngine::CodeBlock(const uint8_t* aBlockIn, uint8_t* aBlockOut, uint32_t aBlockLen,
                                               uint32_t) {
  ZF_ASSERT(aBlockLen > kzfBfEngineTrailerSize, "zfseEncryptionEngineBlowfishRC4");
  const uint32_t n = aBlockLen - kzfBfEngineTrailerSize;
  if (aBlockOut != aBlockIn) std::memmove(aBlockOut, aBlockIn, n);
  TCipherLease c(TakeCipher());
  uint32_t l = 0, r = 0;
  c->RandomIV(l, r);
  zfPutLE32(aBlockOut + n, l);
  zfPutLE32(aBlockOut + n + 4, r);
  c->Encode(aBlockOut, n);
  c->Final(aBlockOut + n + 8);
}

void TzfBlowfishRC4EncryptionEngine::DecodeBlock(uint8_t* aBlock, uint32_t aBlockLen, uint32_t) {
  if (aBlockLen <= kzfBfEngineTrailerSize || (aBlockLen - kzfBfEngineTrailerSize) % 8 != 0)
    throw EzfBlowfishRC4EncryptionEngineException(zfErrFileCorrupt);
  const uint32_t n = aBlockLen - kzfBfEngineTrailerSize;
  uint8_t mac[8];
  {
    TCipherLease c(TakeCipher());
    c->ResetIV(zfGetLE32(aBlock + n), zfGetLE32(aBlock + n + 4));
    c->Decode(aBlock, n);
    c->Final(mac);
  }
  if (std::memcmp(mac, aBlock + n + 8, 8) != 0) throw EzfBlowfishRC4EncryptionEngineException(zfErrFileCorrupt);
}

uint32_t TzfBlowfishRC4EncryptionEngine::AuthenticatePassword(const TzfUnicodeStrings& aPasswords) {
  std::lock_guard<std::mutex> g(beeUsedKeyLock);
  if (beeUsedKey.empty()) return 0;
  for (const rtl::UnicodeString& p : aPasswords)
    if (AnsiPassword(p) == beeUsedKey) return 0;
  return zfErrInvalidPassword;
}

rtl::UnicodeString TzfBlowfishRC4EncryptionEngine::ExtractPassword() {
  std::lock_guard<std::mutex> g(beeUsedKeyLock);
  return rtl::AnsiToUnicode(rtl::AnsiString(beeUsedKey));
}

void TzfBlowfishRC4EncryptionEngine::ChangePassword(PzfByteArray aHeader, const rtl::UnicodeString& aNewPassword) {
  // Without a header area (or its data key) there is nothing to wrap again.
  if (!aHeader || beeDerivedKey.size() != 16) TzfBaseEncryptionEngine::ChangePassword(aHeader, aNewPassword);
  const std::string used = AnsiPassword(aNewPassword);
  Wrap(aHeader, used.empty() ? DefaultPassword() : used, beeDerivedKey);
  std::lock_guard<std::mutex> g(beeUsedKeyLock);
  beeUsedKey = used;
}

// ---- variants ----

const std::string& zfUserBlowfishDefaultPassword() {
  static const std::string p("k27q9w3e81rt&+PX4m\xA7z2n5106a8b\xE4" "1ptw,d7y8x4uj<9kqr5v\xE9" "3z7b6,wse2\xE4" "91");
  return p;
}

const std::string& zfServerBlowfishDefaultPassword() {
  static const std::string p("q8r4t251b73k9w05p/ZU$HYq\xA7" "e6r17d9c73j45nBd&y8m2ga7pc4gu8hjw3kr6tz");
  return p;
}

const std::string& TzfUserBlowfishRC4EncryptionEngine::DefaultPassword() const { return zfUserBlowfishDefaultPassword(); }

const std::string& TzfServerBlowfishRC4EncryptionEngine::DefaultPassword() const {
  return zfServerBlowfishDefaultPassword();
}

const TzfEncryptionEngineClass& TzfUserBlowfishRC4EncryptionEngine::ClassInfo() {
  return zfEncryptionEngineClassOf<TzfUserBlowfishRC4EncryptionEngine>(u"TzfUserBlowfishRC4EncryptionEngine");
}

const TzfEncryptionEngineClass& TzfServerBlowfishRC4EncryptionEngine::ClassInfo() {
  return zfEncryptionEngineClassOf<TzfServerBlowfishRC4EncryptionEngine>(u"TzfServerBlowfishRC4EncryptionEngine");
}

uint32_t TzfUserBlowfishRC4EncryptionEngine::CreateInstance(const rtl::UnicodeString&,
                                                            const TzfUnicodeStrings& aPasswords, PzfByteArray aHeader,
                                                            bool aCreating, bool,
                                                            std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
  return CreateVariant<TzfUserBlowfishRC4EncryptionEngine>(aPasswords, aHeader, aCreating, aEngine);
}

uint32_t TzfServerBlowfishRC4EncryptionEngine::CreateInstance(const rtl::UnicodeString&,
                                                              const TzfUnicodeStrings& aPasswords,
                                                              PzfByteArray aHeader, bool aCreating, bool,
                                                              std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
  return CreateVariant<TzfServerBlowfishRC4EncryptionEngine>(aPasswords, aHeader, aCreating, aEngine);
}

rtl::TUnitInit& zfseEncryptionEngineBlowfishRC4Unit() {
  static rtl::TUnitInit unit(
      "zfseEncryptionEngineBlowfishRC4",
      [] {
        zfUserBlowfishDefaultPassword();
        zfServerBlowfishDefaultPassword();
        TzfBaseEncryptionEngine::Register(TzfUserBlowfishRC4EncryptionEngine::ClassInfo(), u"zf1xDefault", false, 0);
        try {
          TzfBaseEncryptionEngine::Register(TzfServerBlowfishRC4EncryptionEngine::ClassInfo(), u"zf1xDefault", true,
                                            0);
        } catch (...) {
          TzfBaseEncryptionEngine::Unregister(TzfUserBlowfishRC4EncryptionEngine::ClassInfo());
          throw;
        }
      },
      [] {
        TzfBaseEncryptionEngine::Unregister(TzfServerBlowfishRC4EncryptionEngine::ClassInfo());
        TzfBaseEncryptionEngine::Unregister(TzfUserBlowfishRC4EncryptionEngine::ClassInfo());
      });
  return unit;
}

}  // namespace zf
