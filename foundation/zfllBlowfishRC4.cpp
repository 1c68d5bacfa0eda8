#include "foundation/zfllBlowfishRC4.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <atomic>
#include <mutex>

#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfllBlowfishRC4";

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// aLen bytes from the kernel's random source; a failure other than an interruption raises.
void KernelRandom(uint8_t* aData, size_t aLen) {
  while (aLen > 0) {
    const ssize_t n = getrandom(aData, aLen, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      zfRaiseLastOSError(u"Random source");
    }
    aData += n;
    aLen -= static_cast<size_t>(n);
  }
}

std::mutex gRandomLock;
std::atomic<TzfBlowFishRC4*> gRandomCipher{nullptr};

// Cipher-block chaining over the 32 blocks of a 256-byte area with the random cipher: blocks 0 to
// 31 from the zero chaining value, then blocks 0 to 30 once more continuing the chaining.
void E256(const TzfBlowFishRC4& aCipher, uint8_t* aArea) {
  uint32_t cl = 0, cr = 0;
  auto pass = [&](int aCount) {
    for (int b = 0; b < aCount; ++b) {
      uint8_t* p = aArea + 8 * b;
      uint32_t l = GetLE32(p) ^ cl, r = GetLE32(p + 4) ^ cr;
      aCipher.EncipherBlock(l, r);
      PutLE32(p, l);
      PutLE32(p + 4, r);
      cl = l;
      cr = r;
    }
  };
  pass(32);
  pass(31);
}

void D256(const TzfBlowFishRC4& aCipher, uint8_t* aArea) {
  auto pass = [&](int aCount, uint32_t cl, uint32_t cr) {
    for (int b = 0; b < aCount; ++b) {
      uint8_t* p = aArea + 8 * b;
      const uint32_t nl = GetLE32(p), nr = GetLE32(p + 4);
      uint32_t l = nl, r = nr;
      aCipher.DecipherBlock(l, r);
      PutLE32(p, l ^ cl);
      PutLE32(p + 4, r ^ cr);
      cl = nl;
      cr = nr;
    }
  };
  pass(31, GetLE32(aArea + 248), GetLE32(aArea + 252));
  pass(32, 0, 0);
}

void XorKeyStream(TzfRC4& aRC4, uint8_t* aData, uint32_t aLen) {
  for (uint32_t o = 0; o < aLen; o += 4) PutLE32(aData + o, GetLE32(aData + o) ^ aRC4.KeyStream());
}

}  // namespace

// ---- TzfRC4 ----

TzfRC4::~TzfRC4() {
  rcK.fill(0);
  rcOrgK.fill(0);
  // Keep the zeroing: the permutations are key material.
  __asm__ __volatile__("" : : "r"(rcK.data()), "r"(rcOrgK.data()) : "memory");
}

void TzfRC4::SetKeys(const uint8_t* aKey, size_t aKeyLen) {
  for (int i = 0; i < 256; ++i) rcOrgK[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  rcI = rcJ = 0;
  if (aKeyLen == 0) {
    rcK = rcOrgK;
    return;
  }
  TzfRC4K buffer;
  for (size_t i = 0; i < 256; ++i) buffer[i] = aKey[i % aKeyLen];
  Reset(buffer);
  rcOrgK = rcK;
  buffer.fill(0);
  __asm__ __volatile__("" : : "r"(buffer.data()) : "memory");
}

void TzfRC4::KeyPass(const uint8_t* aCode, uint32_t aMask) {
  uint8_t j = 0;
  for (uint32_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + rcK[i] + aCode[i & aMask]);
    std::swap(rcK[i], rcK[j]);
  }
  rcI = rcJ = 0;
}

void TzfRC4::Reset(const TzfRC4K& aInitCode) {
  rcK = rcOrgK;
  KeyPass(aInitCode.data(), 255);
}

void TzfRC4::Mix128(const uint8_t* aCode) { KeyPass(aCode, 127); }

uint32_t TzfRC4::KeyStream() {
  uint32_t result = 0;
  for (int b = 0; b < 4; ++b) {
    rcI = static_cast<uint8_t>(rcI + 1);
    rcJ = static_cast<uint8_t>(rcJ + rcK[rcI]);
    std::swap(rcK[rcI], rcK[rcJ]);
    result |= uint32_t(rcK[static_cast<uint8_t>(rcK[rcI] + rcK[rcJ])]) << (8 * b);
  }
  return result;
}

// ---- TzfBlowFishRC4 ----

TzfBlowFishRC4::TzfBlowFishRC4(std::string_view aKey) { SetKeys(aKey); }

TzfBlowFishRC4::~TzfBlowFishRC4() {
  bfKSF = {};
  bfP.fill(0);
  for (auto& s : bfS) s.fill(0);
  __asm__ __volatile__("" : : "r"(bfP.data()), "r"(bfS.data()), "r"(&bfKSF) : "memory");
}

const TzfCipherClass& TzfBlowFishRC4::ClassInfo() { return zfCipherClassOf<TzfBlowFishRC4>(u"TzfBlowFishRC4"); }

uint32_t TzfBlowFishRC4::F(uint32_t aX) const {
  return ((bfS[0][aX & 0xFF] + bfS[1][(aX >> 8) & 0xFF]) ^ bfS[2][(aX >> 16) & 0xFF]) + bfS[3][aX >> 24];
}

void TzfBlowFishRC4::EncipherBlock(uint32_t& aL, uint32_t& aR) const {
  uint32_t l = aL, r = aR;
  for (int i = 0; i < 16; i += 2) {
    l ^= bfP[static_cast<size_t>(i)];
    r ^= F(l);
    r ^= bfP[static_cast<size_t>(i + 1)];
    l ^= F(r);
  }
  aL = r ^ bfP[17];
  aR = l ^ bfP[16];
}

void TzfBlowFishRC4::DecipherBlock(uint32_t& aL, uint32_t& aR) const {
  uint32_t l = aL, r = aR;
  for (int i = 17; i > 1; i -= 2) {
    l ^= bfP[static_cast<size_t>(i)];
    r ^= F(l);
    r ^= bfP[static_cast<size_t>(i - 1)];
    l ^= F(r);
  }
  aL = r ^ bfP[0];
  aR = l ^ bfP[1];
}

void TzfBlowFishRC4::SetKeys(std::string_view aKey) {
  bfRC4 = std::make_unique<TzfRC4>(aKey);
  bfKey = aKey.empty() ? std::string(" ") : std::string(aKey);
  bfP = zfBlowfishInitialP;
  bfS = zfBlowfishInitialS;
  const size_t n = bfKey.size();
  size_t j = 0;
  for (size_t i = 0; i < 18; ++i) {
    uint32_t data = 0;
    for (int b = 0; b < 4; ++b) {
      data |= uint32_t(static_cast<uint8_t>(bfKey[j])) << (8 * b);
      j = (j + 1) % n;
    }
    bfP[i] ^= data;
  }
  uint32_t l = 0, r = 0;
  for (size_t i = 0; i < 18; i += 2) {
    EncipherBlock(l, r);
    bfP[i] = l;
    bfP[i + 1] = r;
  }
  for (auto& s : bfS)
    for (size_t i = 0; i < 256; i += 2) {
      EncipherBlock(l, r);
      s[i] = l;
      s[i + 1] = r;
    }
}

void TzfBlowFishRC4::ResetIV(uint32_t aIVl, uint32_t aIVr) {
  bfIVl = aIVl;
  bfIVr = aIVr;
  TzfRC4K code;
  for (uint32_t i = 0; i < 32; ++i) {
    uint32_t l = aIVl, r = i;
    EncipherBlock(l, r);
    PutLE32(code.data() + 8 * i, l);
    PutLE32(code.data() + 8 * i + 4, r ^ aIVr);
  }
  bfRC4->Reset(code);
  bfChk = {};
  bfKSF.Xl = bfRC4->KeyStream();
  bfKSF.Xr = bfRC4->KeyStream();
  bfMustReset = false;
}

void TzfBlowFishRC4::ResetIVBlock(const uint8_t* aIV) { ResetIV(GetLE32(aIV), GetLE32(aIV + 4)); }

void TzfBlowFishRC4::RandomIV(uint32_t& aIVl, uint32_t& aIVr) {
  uint8_t iv[8];
  GetRandom64(iv);
  aIVl = GetLE32(iv);
  aIVr = GetLE32(iv + 4);
  ResetIV(aIVl, aIVr);
}

void TzfBlowFishRC4::RandomIVBlock(uint8_t* aIV) {
  uint32_t l = 0, r = 0;
  RandomIV(l, r);
  PutLE32(aIV, l);
  PutLE32(aIV + 4, r);
}

void TzfBlowFishRC4::Encode(uint8_t* aData, uint32_t aLen) {
  ZF_ASSERT(aLen % 8 == 0, kUnit);
  ZF_ASSERT(!bfMustReset, kUnit);
  for (uint32_t o = 0; o < aLen; o += 8) {
    uint8_t* p = aData + o;
    const uint32_t pl = GetLE32(p), pr = GetLE32(p + 4);
    bfChk.Xl ^= pl;
    bfChk.Xr ^= pr;
    uint32_t x = pl ^ bfIVl, y = pr ^ bfIVr;
    EncipherBlock(x, y);
    const uint32_t cl = x ^ bfRC4->KeyStream();
    const uint32_t cr = y ^ bfRC4->KeyStream();
    PutLE32(p, cl);
    PutLE32(p + 4, cr);
    bfIVl = cl;
    bfIVr = cr;
  }
}

void TzfBlowFishRC4::Decode(uint8_t* aData, uint32_t aLen) {
  ZF_ASSERT(aLen % 8 == 0, kUnit);
  ZF_ASSERT(!bfMustReset, kUnit);
  for (uint32_t o = 0; o < aLen; o += 8) {
    uint8_t* p = aData + o;
    const uint32_t cl = GetLE32(p), cr = GetLE32(p + 4);
    uint32_t x = cl ^ bfRC4->KeyStream();
    uint32_t y = cr ^ bfRC4->KeyStream();
    DecipherBlock(x, y);
    const uint32_t pl = x ^ bfIVl, pr = y ^ bfIVr;
    PutLE32(p, pl);
    PutLE32(p + 4, pr);
    bfChk.Xl ^= pl;
    bfChk.Xr ^= pr;
    bfIVl = cl;
    bfIVr = cr;
  }
}

void TzfBlowFishRC4::Final(uint8_t* aMac) {
  uint32_t l = bfChk.Xl ^ bfRC4->KeyStream();
  uint32_t r = bfChk.Xr ^ bfRC4->KeyStream();
  EncipherBlock(l, r);
  // Both halves take the first word of the keystream saved at the IV reset.
  PutLE32(aMac, l ^ bfKSF.Xl);
  PutLE32(aMac + 4, r ^ bfKSF.Xl);
  bfMustReset = true;
}

void TzfBlowFishRC4::GetRandom64(uint8_t* aData) {
  uint8_t raw[8];
  KernelRandom(raw, sizeof raw);
  uint32_t l = GetLE32(raw), r = GetLE32(raw + 4);
  zfRandomCipher().EncipherBlock(l, r);
  PutLE32(aData, l);
  PutLE32(aData + 4, r);
}

std::array<uint8_t, 16> TzfBlowFishRC4::Digest(const uint8_t* aData, size_t aLen) {
  std::array<uint8_t, 16> acc{};
  auto step = [&](std::string_view aKey) {
    TzfBlowFishRC4 c(aKey);
    c.Encode(acc.data(), 16);
  };
  while (aLen >= 28) {
    step(std::string_view(reinterpret_cast<const char*>(aData), 28));
    aData += 28;
    aLen -= 28;
  }
  std::string last(reinterpret_cast<const char*>(aData), aLen);
  last.push_back('\x80');
  step(last);
  return acc;
}

std::unique_ptr<TzfBaseCipher> TzfBlowFishRC4::DeriveKey(const uint8_t* aPwd, uint32_t aPwdLen, const uint8_t* aSalt,
                                                         uint32_t aSaltLen, std::string_view aLabel) {
  std::string key;
  key.reserve(48);
  for (const auto& d : {Digest(aSalt, aSaltLen),
                        Digest(reinterpret_cast<const uint8_t*>(aLabel.data()), aLabel.size()), Digest(aPwd, aPwdLen)})
    key.append(reinterpret_cast<const char*>(d.data()), d.size());
  return std::make_unique<TzfBlowFishRC4>(key);
}

void TzfBlowFishRC4::AltEncode(uint8_t* aData, uint32_t aLen) {
  ZF_ASSERT(aLen % 256 == 0, kUnit);
  if (aLen == 0) return;
  const TzfBlowFishRC4& cipher = zfRandomCipher();
  TzfRC4 mix;
  for (uint32_t o = 256; o < aLen; o += 256) mix.Mix128(aData + o);
  uint8_t x[256];
  std::memcpy(x, aData, 256);
  XorKeyStream(mix, x, 256);
  E256(cipher, x);
  std::memcpy(aData, x, 256);
  E256(cipher, aData);
  TzfRC4 rest(std::string_view(reinterpret_cast<const char*>(x), 256));
  XorKeyStream(rest, aData + 256, aLen - 256);
}

void TzfBlowFishRC4::AltDecode(uint8_t* aData, uint32_t aLen) {
  ZF_ASSERT(aLen % 256 == 0, kUnit);
  if (aLen == 0) return;
  const TzfBlowFishRC4& cipher = zfRandomCipher();
  uint8_t x[256];
  std::memcpy(x, aData, 256);
  D256(cipher, x);
  TzfRC4 rest(std::string_view(reinterpret_cast<const char*>(x), 256));
  XorKeyStream(rest, aData + 256, aLen - 256);
  TzfRC4 mix;
  for (uint32_t o = 256; o < aLen; o += 256) mix.Mix128(aData + o);
  D256(cipher, x);
  XorKeyStream(mix, x, 256);
  std::memcpy(aData, x, 256);
}

TzfBlowFishRC4& zfRandomCipher() {
  // Made once under a lock, published with release: every thread sees the one keyed instance.
  // Afterwards it is only read (its block cipher keeps no state), so threads share it freely.
  if (TzfBlowFishRC4* c = gRandomCipher.load(std::memory_order_acquire)) return *c;
  std::lock_guard<std::mutex> g(gRandomLock);
  if (!gRandomCipher.load(std::memory_order_relaxed)) {
    uint8_t seed[16];
    KernelRandom(seed, sizeof seed);
    auto* c = new TzfBlowFishRC4(std::string_view(reinterpret_cast<const char*>(seed), sizeof seed));
    std::memset(seed, 0, sizeof seed);
    gRandomCipher.store(c, std::memory_order_release);
  }
  return *gRandomCipher.load(std::memory_order_relaxed);
}

rtl::TUnitInit& zfllBlowfishRC4Unit() {
  static rtl::TUnitInit unit(
      "zfllBlowfishRC4",
      [] {
        TzfBaseCipher::AltRegister(TzfBlowFishRC4::ClassInfo());
        try {
          TzfBaseCipher::RegisterKeyWrapClass(TzfBlowFishRC4::ClassInfo());
        } catch (...) {
          TzfBaseCipher::AltUnregister(TzfBlowFishRC4::ClassInfo());
          throw;
        }
      },
      [] {
        TzfBaseCipher::UnregisterKeyWrapClass(TzfBlowFishRC4::ClassInfo());
        try {
          TzfBaseCipher::AltUnregister(TzfBlowFishRC4::ClassInfo());
        } catch (...) {
          // Still locked by a user: it stays registered rather than failing the shut-down.
        }
        std::lock_guard<std::mutex> g(gRandomLock);
        delete gRandomCipher.exchange(nullptr);
      });
  return unit;
}

}  // namespace zf
