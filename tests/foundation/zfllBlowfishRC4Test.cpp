// The block cipher, its keystream and MAC, key derivation, the alternative mode and the two cipher
// registries. Golden values come from a separate reading of the cipher's description (worked by
// hand in another language), not from this implementation's output.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/zfllBlowfishRC4.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlStringList.h"

namespace zf {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

std::vector<uint8_t> FromHex(const std::string& h) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < h.size(); i += 2) v.push_back(static_cast<uint8_t>(std::stoul(h.substr(i, 2), nullptr, 16)));
  return v;
}

// The published block cipher (big-endian words, first S-box on the most significant byte, key
// bytes most significant first) over the same initial tables: checks the tables themselves.
struct TStandardBlowfish {
  TzfBlowfishP P = zfBlowfishInitialP;
  TzfBlowfishS S = zfBlowfishInitialS;
  uint32_t F(uint32_t x) const { return ((S[0][x >> 24] + S[1][(x >> 16) & 255]) ^ S[2][(x >> 8) & 255]) + S[3][x & 255]; }
  void Enc(uint32_t& l, uint32_t& r) const {
    for (int i = 0; i < 16; ++i) {
      l ^= P[static_cast<size_t>(i)];
      r ^= F(l);
      std::swap(l, r);
    }
    std::swap(l, r);
    r ^= P[16];
    l ^= P[17];
  }
  explicit TStandardBlowfish(const std::vector<uint8_t>& key) {
    size_t j = 0;
    for (auto& p : P) {
      uint32_t d = 0;
      for (int b = 0; b < 4; ++b, j = (j + 1) % key.size()) d = d << 8 | key[j];
      p ^= d;
    }
    uint32_t l = 0, r = 0;
    for (size_t i = 0; i < 18; i += 2) Enc(l, r), P[i] = l, P[i + 1] = r;
    for (auto& s : S)
      for (size_t i = 0; i < 256; i += 2) Enc(l, r), s[i] = l, s[i + 1] = r;
  }
};

TEST(BlowfishTables, PublishedVectorsOfTheStandardCipherHoldOverTheTables) {
  struct Case {
    const char *Key, *Plain, *Cipher;
  } cases[] = {{"0000000000000000", "0000000000000000", "4EF997456198DD78"},
               {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
               {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
               {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
               {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"}};
  for (const Case& c : cases) {
    TStandardBlowfish bf(FromHex(c.Key));
    auto p = FromHex(c.Plain);
    uint32_t l = uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    uint32_t r = uint32_t(p[4]) << 24 | p[5] << 16 | p[6] << 8 | p[7];
    bf.Enc(l, r);
    char out[17];
    std::snprintf(out, sizeof out, "%08X%08X", l, r);
    EXPECT_EQ(out, std::string(c.Cipher)) << c.Key;
  }
}

TEST(RC4, PublishedKeystreamAndTheEmptyKey) {
  TzfRC4 rc("Key");
  uint8_t ks[12];
  for (int i = 0; i < 3; ++i) {
    const uint32_t w = rc.KeyStream();  // first generator byte in the low byte
    for (int b = 0; b < 4; ++b) ks[4 * i + b] = static_cast<uint8_t>(w >> (8 * b));
  }
  EXPECT_EQ(Hex(ks, 12), "EB9F7781B734CA72A7194A28");
  TzfRC4 empty;
  for (int i = 0; i < 256; ++i) EXPECT_EQ(empty.Permutation()[static_cast<size_t>(i)], i);
}

TEST(BlowFishRC4, KeyScheduleAndBlockCipherGolden) {
  TzfBlowFishRC4 c("abc");
  uint32_t l = 0x01234567, r = 0x89ABCDEF;
  c.EncipherBlock(l, r);
  EXPECT_EQ(l, 0xF4257EE0u);
  EXPECT_EQ(r, 0x93CCE656u);
  c.DecipherBlock(l, r);
  EXPECT_EQ(l, 0x01234567u);
  EXPECT_EQ(r, 0x89ABCDEFu);
  // An empty key keys the block cipher with one blank and leaves RC4 at the identity.
  TzfBlowFishRC4 empty("");
  TzfBlowFishRC4 blank(" ");
  EXPECT_EQ(empty.Key(), " ");
  uint32_t a = 1, b = 2, x = 1, y = 2;
  empty.EncipherBlock(a, b);
  blank.EncipherBlock(x, y);
  EXPECT_EQ(a, x);
  EXPECT_EQ(b, y);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(empty.RC4().Permutation()[static_cast<size_t>(i)], i);
}

TEST(BlowFishRC4, EncodeAndMacGoldenThenDecodeBack) {
  uint8_t data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<uint8_t>(i);
  TzfBlowFishRC4 enc("key");
  enc.ResetIV(0x01234567, 0x89ABCDEF);
  enc.Encode(data, 16);
  uint8_t mac[8];
  enc.Final(mac);
  EXPECT_EQ(Hex(data, 16), "8C52CFCE5FBB0656D99087E2F551E221");
  EXPECT_EQ(Hex(mac, 8), "552999E962260A1A");

  TzfBlowFishRC4 dec("key");
  uint8_t iv[8] = {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89};
  EXPECT_TRUE(dec.DecodeTransport(iv, data, 16, mac));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(data[i], i);
}

TEST(BlowFishRC4, OneChangedBitOfCiphertextOrMacIsDetected) {
  for (uint32_t len : {8u, 16u, 256u, 4080u, 65520u}) {
    std::vector<uint8_t> plain(len);
    for (uint32_t i = 0; i < len; ++i) plain[i] = static_cast<uint8_t>(i * 13 + 5);
    for (int flip = 0; flip < 3; ++flip) {
      std::vector<uint8_t> data = plain;
      uint8_t iv[8], mac[8];
      TzfBlowFishRC4 c("round trip");
      c.EncodeTransport(iv, data.data(), len, mac);
      EXPECT_NE(data, plain);
      if (flip == 1) data[len / 2] ^= 0x10;
      if (flip == 2) mac[7] ^= 0x01;
      TzfBlowFishRC4 d("round trip");
      const bool ok = d.DecodeTransport(iv, data.data(), len, mac);
      EXPECT_EQ(ok, flip == 0) << len << " " << flip;
      if (flip != 1) {
        EXPECT_EQ(data, plain) << len;  // decoded in place whatever the MAC says
      } else {
        EXPECT_NE(data, plain);
      }
    }
  }
}

TEST(BlowFishRC4, MisuseIsAnAssertionFailure) {
  TzfBlowFishRC4 c("k");
  c.ResetIV(0, 0);
  uint8_t buf[16] = {};
  EXPECT_THROW(c.Encode(buf, 12), rtl::EAssertionFailed);
  c.Encode(buf, 16);
  uint8_t mac[8];
  c.Final(mac);
  EXPECT_THROW(c.Encode(buf, 16), rtl::EAssertionFailed);
  EXPECT_THROW(c.Decode(buf, 16), rtl::EAssertionFailed);
  c.ResetIV(0, 0);
  EXPECT_NO_THROW(c.Decode(buf, 16));
  uint8_t alt[100] = {};
  EXPECT_THROW(TzfBlowFishRC4::AltEncode(alt, 100), rtl::EAssertionFailed);
  EXPECT_THROW(TzfBaseCipher::GenerateRandom(TzfBlowFishRC4::ClassInfo(), alt, 12), rtl::EAssertionFailed);
}

TEST(BlowFishRC4, KeyDerivationDigestsGolden) {
  uint8_t salt[28];
  for (int i = 0; i < 28; ++i) salt[i] = static_cast<uint8_t>(i + 1);
  // 28 bytes: one piece of 28, then the single byte 80h.
  auto d = TzfBlowFishRC4::Digest(salt, 28);
  EXPECT_EQ(Hex(d.data(), 16), "B7E1DBDBC21A2C9E7E0AA8FB4283FE86");
  d = TzfBlowFishRC4::Digest(nullptr, 0);
  EXPECT_EQ(Hex(d.data(), 16), "B8A8AAC6FBF620F995DF6AF897BA5687");
  auto derived = TzfBlowFishRC4::DeriveKey(reinterpret_cast<const uint8_t*>("secret"), 6, salt, 28, "label");
  const std::string& key = static_cast<TzfBlowFishRC4&>(*derived).Key();
  EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(key.data()), key.size()),
            "B7E1DBDBC21A2C9E7E0AA8FB4283FE86A7DDBA31E0774411FDE2B8C7C24002BF"
            "E704D757609FB30F11AC634108C7B45E");
}

TEST(BlowFishRC4, RandomBlocksDiffer) {
  uint8_t a[64], b[64];
  TzfBaseCipher::GenerateRandom(TzfBlowFishRC4::ClassInfo(), a, 64);
  TzfBaseCipher::GenerateRandom(TzfBlowFishRC4::ClassInfo(), b, 64);
  EXPECT_NE(std::memcmp(a, b, 64), 0);
  TzfBlowFishRC4 c("x");
  uint8_t iv1[8], iv2[8];
  c.RandomIVBlock(iv1);
  c.RandomIVBlock(iv2);
  EXPECT_NE(std::memcmp(iv1, iv2, 8), 0);
}

TEST(BlowFishRC4, AlternativeModeRoundTrips) {
  for (uint32_t len : {256u, 512u, 4096u}) {
    std::vector<uint8_t> plain(len);
    for (uint32_t i = 0; i < len; ++i) plain[i] = static_cast<uint8_t>(i % 251);
    std::vector<uint8_t> data = plain;
    TzfBlowFishRC4::AltEncode(data.data(), len);
    EXPECT_NE(data, plain);
    // No chunk is left as it was.
    for (uint32_t o = 0; o < len; o += 256) EXPECT_NE(std::memcmp(data.data() + o, plain.data() + o, 256), 0) << o;
    TzfBlowFishRC4::AltDecode(data.data(), len);
    EXPECT_EQ(data, plain) << len;
  }
  TzfBlowFishRC4::AltEncode(nullptr, 0);
}

// ---- registries ----

template <uint32_t Priority, uint32_t AltPrio>
struct TFakeCipher {
  static uint32_t Prio() { return Priority; }
  static uint32_t Alt() { return AltPrio; }
  static std::string Name() { return "FakeWrap"; }
  static const TzfCipherClass& Info() {
    static const TzfCipherClass info{u"TFakeCipher", &TzfBlowFishRC4::BlockLength, nullptr, nullptr, nullptr, nullptr,
                                     &Alt, &Name, &Prio, nullptr, nullptr};
    return info;
  }
};

TEST(CipherRegistry, KeyWrapHighestPriorityWinsWhateverTheOrder) {
  const TzfCipherClass& low = TFakeCipher<3, 0>::Info();
  const TzfCipherClass& high = TFakeCipher<7, 0>::Info();
  TzfBaseCipher::RegisterKeyWrapClass(high);
  TzfBaseCipher::RegisterKeyWrapClass(low);
  EXPECT_EQ(TzfBaseCipher::FindKeyWrapClass("fakewrap"), &high);
  EXPECT_THROW(TzfBaseCipher::RegisterKeyWrapClass(low), rtl::EStringListError);
  rtl::TStringList names;
  TzfBaseCipher::GetRegisteredKeyWrapClasses(names);
  bool seen = false;
  for (int32_t i = 0; i < names.Count(); ++i)
    if (names[i] == u"FakeWrap") {
      seen = true;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(names.GetObject(i)), 7u);
    }
  EXPECT_TRUE(seen);
  TzfBaseCipher::UnregisterKeyWrapClass(high);
  EXPECT_EQ(TzfBaseCipher::FindKeyWrapClass("FAKEWRAP"), &low);
  TzfBaseCipher::UnregisterKeyWrapClass(low);
  EXPECT_EQ(TzfBaseCipher::FindKeyWrapClass("FakeWrap"), nullptr);
  try {
    TzfBaseCipher::MustFindKeyWrapClass("NoSuchWrap");
    FAIL();
  } catch (const EzfBaseCipherException& e) {
    EXPECT_NE(e.Message().find(u"Unable to find key wrap class with algorithm name \"NoSuchWrap\""),
              rtl::UnicodeString::npos);
  }
}

TEST(CipherRegistry, AlternativeModeLockAndUnregister) {
  const TzfCipherClass* before = TzfBaseCipher::AltCurrent();
  if (before) GTEST_SKIP() << "an alternative-mode cipher is registered by the process";
  uint8_t buf[256] = {};
  try {
    TzfBaseCipher::EncodeAlt(buf, 256);
    FAIL();
  } catch (const EzfBaseCipherException& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrNotSupported);
  }
  EXPECT_THROW(TzfBaseCipher::AltLock(), EzfBaseCipherException);
  const TzfCipherClass& a = TFakeCipher<0, 1>::Info();
  const TzfCipherClass& b = TFakeCipher<0, 5>::Info();
  TzfBaseCipher::AltRegister(a);
  EXPECT_EQ(TzfBaseCipher::AltCurrent(), &a);
  TzfBaseCipher::AltLock();
  TzfBaseCipher::AltRegister(b);  // higher priority, but the mode is locked
  EXPECT_EQ(TzfBaseCipher::AltCurrent(), &a);
  try {
    TzfBaseCipher::AltUnregister(a);
    FAIL();
  } catch (const EzfBaseCipherException& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrLocked);
  }
  EXPECT_EQ(TzfBaseCipher::AltCurrent(), &a);
  TzfBaseCipher::AltUnLock();
  TzfBaseCipher::AltUnregister(a);
  EXPECT_EQ(TzfBaseCipher::AltCurrent(), &b);
  TzfBaseCipher::AltUnregister(b);
  EXPECT_EQ(TzfBaseCipher::AltCurrent(), nullptr);
  EXPECT_THROW(TzfBaseCipher::AltUnLock(), rtl::EAssertionFailed);
}

}  // namespace
}  // namespace zf
