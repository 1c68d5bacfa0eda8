#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "foundation/zfllFastCpuDetect.h"
#include "foundation/zfllFastFillChar.h"
#include "foundation/zfllFastMove.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace zf {
namespace {

// A synthetic identification record: vendor, leaf 1 and optionally extended leaves.
TzfCpuIdRecord Record(const char* aVendor, uint32_t aSignature, uint32_t aEdx1, uint32_t aEcx1 = 0,
                      uint32_t aMaxLeaf = 1) {
  TzfCpuIdRecord r;
  r.HasCpuId = true;
  r.HasFpu = true;
  r.Leaf0.Eax = aMaxLeaf;
  std::memcpy(&r.Leaf0.Ebx, aVendor, 4);
  std::memcpy(&r.Leaf0.Edx, aVendor + 4, 4);
  std::memcpy(&r.Leaf0.Ecx, aVendor + 8, 4);
  r.Leaf1.Eax = aSignature;
  r.Leaf1.Edx = aEdx1;
  r.Leaf1.Ecx = aEcx1;
  return r;
}

// Leaf-1 EDX bits of FPU, CMOV, MMX, SSE and SSE2; ECX bit of SSE3.
constexpr uint32_t kEdxP6 = (1u << 0) | (1u << 15) | (1u << 23);
constexpr uint32_t kEdxSSE2 = kEdxP6 | (1u << 25) | (1u << 26);
constexpr uint32_t kEcxSSE3 = 1u << 0;

TEST(CpuDetect, VendorLookup) {
  EXPECT_EQ(zfCpuVendorIndex("GenuineIntel"), cpvIntel);
  EXPECT_EQ(zfCpuVendorIndex("AuthenticAMD"), cpvAMD);
  EXPECT_EQ(zfCpuVendorIndex("Geode by NSC"), cpvNSC);
  EXPECT_EQ(zfCpuVendorIndex("UMC UMC UMC "), cpvUMC);
  EXPECT_EQ(zfCpuVendorIndex("SiS SiS SiS "), cpvNone);  // the table's entry is one character short
  EXPECT_EQ(zfCpuVendorIndex("HygonGenuine"), cpvNone);
}

TEST(CpuDetect, FamilyModelAndInstructionSetFromLeaf1) {
  // Family 15 adds the extended family and 16 x the extended model.
  TzfCpuInfo p4 = zfDetectCpu(Record("GenuineIntel", 0x00010F29, kEdxSSE2, kEcxSSE3 | (1u << 3) | (1u << 13)), true);
  EXPECT_EQ(p4.Vendor, cpvIntel);
  EXPECT_EQ(p4.EffFamily, 15);
  EXPECT_EQ(p4.EffModel, 2 + 16);
  EXPECT_EQ(p4.InstructionSet, cpiFPU | cpiCMOV | cpiMMX | cpiSSE | cpiSSE2 | cpiSSE3 | cpiMONITOR | cpiCX16);
  // Other families ignore the extended fields.
  TzfCpuInfo p6 = zfDetectCpu(Record("GenuineIntel", 0x001306F6, kEdxP6), true);
  EXPECT_EQ(p6.EffFamily, 6);
  EXPECT_EQ(p6.EffModel, 15);
  TzfCpuInfo k8 = zfDetectCpu(Record("AuthenticAMD", 0x00100F21, kEdxSSE2), true);
  EXPECT_EQ(k8.EffFamily, 15 + 1);
  EXPECT_EQ(k8.EffModel, 2);

  // SYSENTER is cleared for early Intel family-6 parts; MONITOR is taken only for Intel.
  const uint32_t sep = 1u << 11;
  EXPECT_FALSE(zfDetectCpu(Record("GenuineIntel", 0x632, sep), true).Has(cpiSEP));
  EXPECT_TRUE(zfDetectCpu(Record("GenuineIntel", 0x633, sep), true).Has(cpiSEP));
  EXPECT_TRUE(zfDetectCpu(Record("AuthenticAMD", 0x600, sep), true).Has(cpiSEP));
  EXPECT_FALSE(zfDetectCpu(Record("AuthenticAMD", 0x600, 0, 1u << 3), true).Has(cpiMONITOR));

  // Without the system's SSE support the SSE bits are cleared.
  TzfCpuInfo noOs = zfDetectCpu(Record("GenuineIntel", 0x6F6, kEdxSSE2, kEcxSSE3), false);
  EXPECT_EQ(noOs.InstructionSet, cpiFPU | cpiCMOV | cpiMMX);

  // No identification instruction: only the floating-point unit is known.
  TzfCpuIdRecord none;
  EXPECT_EQ(zfDetectCpu(none, true).InstructionSet, 0);
  none.HasFpu = true;
  EXPECT_EQ(zfDetectCpu(none, true).InstructionSet, cpiFPU);
}

TEST(CpuDetect, ExtendedLeaves) {
  TzfCpuIdRecord r = Record("AuthenticAMD", 0x00000640, kEdxP6);
  r.Ext0.Eax = 0x80000006;
  r.Ext1.Edx = (1u << 29) | (1u << 22) | (1u << 30) | (1u << 31);
  r.Ext5.Edx = 64u << 24;
  r.Ext5.Ecx = 32u << 24;
  r.Ext6.Ecx = 256u << 16;
  TzfCpuInfo i = zfDetectCpu(r, true);
  EXPECT_TRUE(i.Has(cpiX64) && i.Has(cpiExMMX) && i.Has(cpi3DNowEx) && i.Has(cpi3DNow));
  EXPECT_EQ(i.CodeL1CacheSize, 64);
  EXPECT_EQ(i.DataL1CacheSize, 32);
  EXPECT_EQ(i.L2CacheSize, 256);

  r.Leaf1.Eax = 0x00000630;  // this part reports its level-2 size wrongly
  EXPECT_EQ(zfDetectCpu(r, true).L2CacheSize, 64);

  TzfCpuIdRecord via = Record("CentaurHauls", 0x00000670, kEdxP6);
  via.Ext0.Eax = 0x80000006;
  via.Ext6.Ecx = 0x40FF0000;
  EXPECT_EQ(zfDetectCpu(via, true).L2CacheSize, 0x40);

  TzfCpuIdRecord intel = Record("GenuineIntel", 0x000006F6, kEdxP6);
  intel.Ext0.Eax = 0x80000008;
  intel.Ext5.Edx = 0xFF000000;
  intel.Ext6.Ecx = 4096u << 16;
  TzfCpuInfo ii = zfDetectCpu(intel, true);
  EXPECT_EQ(ii.CodeL1CacheSize, 0);  // Intel's level-1 sizes come from leaf 2 only
  EXPECT_EQ(ii.L2CacheSize, 4096);

  intel.Ext0.Eax = 0x80000000;  // no extended leaf above the first: nothing taken
  intel.Ext1.Edx = 1u << 29;
  EXPECT_FALSE(zfDetectCpu(intel, true).Has(cpiX64));
}

TEST(CpuDetect, Leaf2CacheDescriptors) {
  TzfCpuIdRecord r = Record("GenuineIntel", 0x6F6, kEdxP6, 0, 2);
  // Byte 0 is the call count; then 08h, 30h (L1 code 16 then 32), 2Ch (L1 data 32), 7Dh (L2 2 MB),
  // 22h (L3 512 KB), 40h (clears L3 because an L2 size is known).
  r.Leaf2 = {{0x2C300801, 0x0040227D, 0, 0}};
  TzfCpuInfo i = zfDetectCpu(r, true);
  EXPECT_EQ(i.CodeL1CacheSize, 32);
  EXPECT_EQ(i.DataL1CacheSize, 32);
  EXPECT_EQ(i.L2CacheSize, 2048);
  EXPECT_EQ(i.L3CacheSize, 0);

  // 40h before any L2 size leaves a later L3 alone; a second answer of leaf 2 is read too.
  r.Leaf2 = {{0x00294002, 0, 0, 0}, {0x00004000, 0x0000007D, 0, 0}};
  i = zfDetectCpu(r, true);
  EXPECT_EQ(i.L3CacheSize, 4096);
  EXPECT_EQ(i.L2CacheSize, 2048);

  // 70h is a 12 KB code cache except on the Cyrix-like vendors, for which 80h is 8 KB + 8 KB.
  r.Leaf2 = {{0x00807001, 0, 0, 0}};
  i = zfDetectCpu(r, true);
  EXPECT_EQ(i.CodeL1CacheSize, 12);
  EXPECT_EQ(i.DataL1CacheSize, 0);
  TzfCpuIdRecord nsc = Record("Geode by NSC", 0x540, kEdxP6, 0, 2);
  nsc.Leaf2 = r.Leaf2;
  i = zfDetectCpu(nsc, true);
  EXPECT_EQ(i.CodeL1CacheSize, 8);
  EXPECT_EQ(i.DataL1CacheSize, 8);

  // Leaf 2 is not read when the highest leaf is 1.
  r.Leaf0.Eax = 1;
  r.Leaf2 = {{0x00007D01, 0, 0, 0}};
  EXPECT_EQ(zfDetectCpu(r, true).L2CacheSize, 0);
}

TEST(CpuDetect, ClassificationTable) {
  struct Case {
    uint8_t Vendor, Family, Model;
    uint16_t Set;
    bool OsSSE;
    TzfCpuTarget Target;
  };
  const uint16_t p6 = cpiFPU | cpiCMOV | cpiMMX;
  const Case cases[] = {
      {cpvIntel, 6, 15, uint16_t(p6 & ~cpiCMOV), true, cptIA32},
      {cpvIntel, 6, 15, p6, false, cptMMX},
      {cpvIntel, 6, 15, p6, true, cptIntelFamily6},
      {cpvIntel, 6, 7, p6, true, cptIntelFamily6},
      {cpvIntel, 6, 6, p6, true, cptMMX},
      {cpvIntel, 6, 9, p6, true, cptIntelFamily6M},
      {cpvIntel, 6, 13, p6, true, cptIntelFamily6M},
      {cpvIntel, 15, 2, p6, true, cptIntelFamily15},
      {cpvIntel, 15, 3, uint16_t(p6 | cpiSSE3), true, cptIntelFamily15SSE3},
      {cpvIntel, 15, 4, uint16_t(p6 | cpiX64), true, cptIntelFamily15X64},
      {cpvIntel, 15, 4, uint16_t(p6 | cpiX64 | cpiSSE3), true, cptIntelFamily15X64},
      {cpvAMD, 6, 8, p6, true, cptAmdFamily6},
      {cpvAMD, 6, 8, uint16_t(p6 | cpiSSE), true, cptAmdFamily6SSE},
      {cpvAMD, 15, 4, p6, true, cptAmdFamily15},
      {cpvAMD, 15, 4, uint16_t(p6 | cpiSSE3), true, cptAmdFamily15SSE3},
      {cpvAMD, 23, 1, uint16_t(p6 | cpiSSE3 | cpiX64), true, cptMMX},
      {cpvCentaur, 6, 9, p6, true, cptMMX},
  };
  for (const Case& c : cases) {
    TzfCpuInfo i{};
    i.Vendor = c.Vendor;
    i.EffFamily = c.Family;
    i.EffModel = c.Model;
    i.InstructionSet = c.Set;
    EXPECT_EQ(zfClassifyCpu(i, c.OsSSE), c.Target) << int(c.Vendor) << "/" << int(c.Family) << "/" << int(c.Model);
  }

  // An all-zero record is class 0 with the plain move and the plain fill.
  const TzfCpuInfo zero = zfDetectCpu(TzfCpuIdRecord{}, true);
  EXPECT_EQ(zfClassifyCpu(zero, true), cptIA32);
  EXPECT_EQ(zfMoveVariantFor(zero), mvPlain);
  EXPECT_EQ(zfFillVariantFor(cptIA32), fvIA32);
  // A full record of an Intel family-6 model-15 processor.
  EXPECT_EQ(zfClassifyCpu(zfDetectCpu(Record("GenuineIntel", 0x6F6, kEdxSSE2, kEcxSSE3), true), true), cptIntelFamily6);
}

TEST(CpuDetect, VariantSelection) {
  TzfCpuInfo i{};
  const std::pair<uint16_t, TzfMoveVariant> moves[] = {
      {cpiMMX | cpiSSE | cpiSSE2 | cpiSSE3, mvSSE3}, {cpiMMX | cpiSSE | cpiSSE2, mvSSE2},
      {cpiMMX | cpiSSE, mvSSE}, {cpiMMX, mvMMX}, {cpiFPU, mvPlain}};
  for (const auto& [set, v] : moves) {
    i.InstructionSet = set;
    EXPECT_EQ(zfMoveVariantFor(i), v);
  }
  const std::pair<TzfCpuTarget, TzfFillVariant> fills[] = {
      {cptMMX, fvMMX}, {cptAmdFamily6, fvMMX}, {cptIntelFamily6M, fvP6MMX}, {cptIntelFamily15X64, fvSSE2},
      {cptAmdFamily6SSE, fvSSE}, {cptAmdFamily15SSE3, fvSSE2Amd}};
  for (const auto& [t, v] : fills) EXPECT_EQ(zfFillVariantFor(t), v);
}

TEST(CpuDetect, SystemSSERule) {
  EXPECT_FALSE(zfOSSupportsSSEFor(0, 3, 10));  // Win32s
  EXPECT_FALSE(zfOSSupportsSSEFor(2, 3, 51));
  EXPECT_FALSE(zfOSSupportsSSEFor(2, 4, 0));   // NT 4
  EXPECT_FALSE(zfOSSupportsSSEFor(1, 4, 0));   // 95
  EXPECT_TRUE(zfOSSupportsSSEFor(1, 4, 10));   // 98
  EXPECT_TRUE(zfOSSupportsSSEFor(2, 5, 0));
}

TEST(CpuDetect, DetectionOfThisMachineLeavesTheProcessUnpinned) {
  zfllFastCpuDetectUnit().Initialize();
  const TzfCpuDetection& d = zfCpuDetection();
  EXPECT_GE(d.ProcessorCount, 1u);
  EXPECT_EQ(d.Processors.size(), d.ProcessorCount);
  EXPECT_EQ(static_cast<uint32_t>(std::popcount(d.SystemMask)), d.ProcessorCount);
  EXPECT_EQ(d.Target, zfClassifyCpu(d.First, d.OSSupportsSSE));
#if defined(__x86_64__)
  EXPECT_TRUE(d.First.Has(cpiFPU) && d.First.Has(cpiSSE2));
#endif
#if defined(__linux__)
  cpu_set_t now;
  CPU_ZERO(&now);
  ASSERT_EQ(sched_getaffinity(0, sizeof(now), &now), 0);
  int allowedLow = 0;
  for (int i = 0; i < 32; ++i) allowedLow += CPU_ISSET(i, &now) ? 1 : 0;
  EXPECT_EQ(static_cast<uint32_t>(allowedLow), d.ProcessorCount);
#endif
  zfllFastCpuDetectUnit().Finalize();
}

// Fill and move give the bytes of a plain byte loop, for counts in every size band.
class FastFillMove : public ::testing::Test {
 protected:
  void SetUp() override {
    zfllFastFillCharUnit().Initialize();
    zfllFastMoveUnit().Initialize();
  }
  void TearDown() override {
    zfllFastMoveUnit().Finalize();
    zfllFastFillCharUnit().Finalize();
  }
  static constexpr int32_t kCounts[] = {0, 1, 31, 32, 36, 37, 39, 40, 63, 64, 65, 2047, 2048, 256001, 524289, 1048577};
};

TEST_F(FastFillMove, FillMatchesByteLoop) {
  for (int32_t n : kCounts) {
    for (int offset : {0, 3}) {
      std::vector<uint8_t> got(size_t(n) + 16, 0x11), want = got;
      zfFastFillChar(got.data() + offset, n, 0xA5);
      for (int32_t i = 0; i < n; ++i) want[size_t(offset + i)] = 0xA5;
      EXPECT_EQ(got, want) << n << "+" << offset;
    }
  }
  uint8_t b = 7;
  zfFastFillChar(&b, -1, 0);
  EXPECT_EQ(b, 7);
}

TEST_F(FastFillMove, MoveMatchesCopyThroughTemporary) {
  for (int32_t n : kCounts) {
    for (int shift : {0, -1, 1, 2, -17}) {
      std::vector<uint8_t> buf(size_t(n) + 64);
      std::iota(buf.begin(), buf.end(), uint8_t(0));
      std::vector<uint8_t> want = buf;
      const size_t src = 20, dst = size_t(int(src) + shift);
      std::vector<uint8_t> tmp(want.begin() + src, want.begin() + src + n);
      std::copy(tmp.begin(), tmp.end(), want.begin() + dst);
      zfFastMove(buf.data() + src, buf.data() + dst, n);
      EXPECT_EQ(buf, want) << n << " shift " << shift;
    }
  }
  uint8_t a[4] = {1, 2, 3, 4}, c[4] = {9, 9, 9, 9};
  zfFastMove(a, c, -5);
  EXPECT_EQ(c[0], 9);
}

}  // namespace
}  // namespace zf
