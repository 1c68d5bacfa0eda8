#include "foundation/zfllFastCpuDetect.h"

#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define ZF_HAS_CPUID 1
#else
#define ZF_HAS_CPUID 0
#endif

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace zf {

namespace {

constexpr std::string_view kVendorIds[] = {
    "",             "AuthenticAMD", "CentaurHauls", "CyrixInstead", "GenuineIntel", "GenuineTMx86",
    "NexGenDriven", "RiseRiseRise", "UMC UMC UMC ", "Geode by NSC", "SiS SiS SiS",
};

// Applies one leaf-2 cache descriptor.
void ApplyCacheDescriptor(TzfCpuInfo& aInfo, uint8_t aDescriptor) {
  const bool cyrixLike = aInfo.Vendor == cpvCyrix || aInfo.Vendor == cpvNSC;
  switch (aDescriptor) {
    // Level-1 code cache.
    case 0x06: aInfo.CodeL1CacheSize = 8; break;
    case 0x08: case 0x71: aInfo.CodeL1CacheSize = 16; break;
    case 0x30: case 0x72: aInfo.CodeL1CacheSize = 32; break;
    case 0x70: if (!cyrixLike) aInfo.CodeL1CacheSize = 12; break;
    // Level-1 data cache.
    case 0x0A: case 0x66: aInfo.DataL1CacheSize = 8; break;
    case 0x0C: case 0x60: case 0x67: aInfo.DataL1CacheSize = 16; break;
    case 0x2C: case 0x68: aInfo.DataL1CacheSize = 32; break;
    // Unified 8 KB level-1 cache of the Cyrix-like processors.
    case 0x80:
      if (cyrixLike) {
        aInfo.CodeL1CacheSize = 8;
        aInfo.DataL1CacheSize = 8;
      }
      break;
    // Level-2 cache.
    case 0x39: case 0x3B: case 0x41: case 0x79: aInfo.L2CacheSize = 128; break;
    case 0x3C: case 0x42: case 0x7A: case 0x82: aInfo.L2CacheSize = 256; break;
    case 0x43: case 0x7B: case 0x7F: case 0x83: case 0x86: aInfo.L2CacheSize = 512; break;
    case 0x44: case 0x78: case 0x7C: case 0x84: case 0x87: aInfo.L2CacheSize = 1024; break;
    case 0x45: case 0x7D: case 0x85: aInfo.L2CacheSize = 2048; break;
    // Level-3 cache.
    case 0x22: aInfo.L3CacheSize = 512; break;
    case 0x23: aInfo.L3CacheSize = 1024; break;
    case 0x25: aInfo.L3CacheSize = 2048; break;
    case 0x29: aInfo.L3CacheSize = 4096; break;
    // "No level-3 cache" (or no level-2 when none is known yet).
    case 0x40: if (aInfo.L2CacheSize != 0) aInfo.L3CacheSize = 0; break;
    default: break;
  }
}

inline bool Bit(uint32_t aValue, int aBit) { return ((aValue >> aBit) & 1u) != 0; }

}  // namespace

uint8_t zfCpuVendorIndex(const std::string& aVendorId) {
  for (int i = cpvSiS; i >= 1; --i)
    if (aVendorId == kVendorIds[i]) return static_cast<uint8_t>(i);
  return cpvNone;
}

TzfCpuInfo zfDetectCpu(const TzfCpuIdRecord& aRecord, bool aOSSupportsSSE) {
  TzfCpuInfo info{};
  if (!aRecord.HasCpuId) {
    if (aRecord.HasFpu) info.InstructionSet = cpiFPU;
    return info;
  }

  const uint32_t maxLeaf = aRecord.Leaf0.Eax;
  char vendor[12];
  std::memcpy(vendor, &aRecord.Leaf0.Ebx, 4);
  std::memcpy(vendor + 4, &aRecord.Leaf0.Edx, 4);
  std::memcpy(vendor + 8, &aRecord.Leaf0.Ecx, 4);
  info.Vendor = zfCpuVendorIndex(std::string(vendor, 12));
  const bool intel = info.Vendor == cpvIntel;

  if (maxLeaf >= 1) {
    const uint32_t sig = aRecord.Leaf1.Eax;
    info.Signature = sig;
    uint32_t family = (sig >> 8) & 0xF;
    uint32_t model = (sig >> 4) & 0xF;
    if (family == 15) {
      family += (sig >> 20) & 0xFF;
      model += 16 * ((sig >> 16) & 0xF);
    }
    info.EffFamily = static_cast<uint8_t>(family);
    info.EffModel = static_cast<uint8_t>(model);

    const uint32_t edx = aRecord.Leaf1.Edx, ecx = aRecord.Leaf1.Ecx;
    static constexpr int kEdxBits[] = {0, 4, 8, 11, 15, 23, 24, 25, 26};  // FPU .. SSE2
    static constexpr int kEcxBits[] = {0, 3, 13};                         // SSE3, MONITOR, CX16
    uint16_t set = 0;
    int out = 0;
    for (int b : kEdxBits) set |= static_cast<uint16_t>(Bit(edx, b) << out++);
    for (int b : kEcxBits) set |= static_cast<uint16_t>(Bit(ecx, b) << out++);
    // Early family-6 Intel parts report SYSENTER without supporting it.
    if (intel && (sig & 0x0FFF3FFF) < 0x633) set &= static_cast<uint16_t>(~cpiSEP);
    if (!intel) set &= static_cast<uint16_t>(~cpiMONITOR);
    info.InstructionSet = set;
  }

  if (maxLeaf > 1) {
    for (const TzfCpuIdRegs& regs : aRecord.Leaf2) {
      uint8_t bytes[16];
      std::memcpy(bytes, &regs.Eax, 4);
      std::memcpy(bytes + 4, &regs.Ebx, 4);
      std::memcpy(bytes + 8, &regs.Ecx, 4);
      std::memcpy(bytes + 12, &regs.Edx, 4);
      for (int i = 1; i < 16; ++i) ApplyCacheDescriptor(info, bytes[i]);
    }
  }

  const uint32_t extMax = aRecord.Ext0.Eax;
  if (extMax > 0x80000000u) {
    const uint32_t edx = aRecord.Ext1.Edx;
    if (Bit(edx, 29)) info.InstructionSet |= cpiX64;
    if (Bit(edx, 22)) info.InstructionSet |= cpiExMMX;
    if (Bit(edx, 30)) info.InstructionSet |= cpi3DNowEx;
    if (Bit(edx, 31)) info.InstructionSet |= cpi3DNow;
  }

  if (info.Has(cpiSSE) && !aOSSupportsSSE)
    info.InstructionSet &= static_cast<uint16_t>(~(cpiSSE | cpiSSE2 | cpiSSE3));

  if (extMax >= 0x80000006u) {
    if (info.Vendor != cpvCyrix && info.Vendor != cpvIntel) {
      info.CodeL1CacheSize = static_cast<uint16_t>(aRecord.Ext5.Edx >> 24);
      info.DataL1CacheSize = static_cast<uint16_t>(aRecord.Ext5.Ecx >> 24);
    }
    const uint32_t ecx6 = aRecord.Ext6.Ecx;
    if (info.Vendor == cpvAMD && (info.Signature & 0xFFF) == 0x630)
      info.L2CacheSize = 64;  // that part reports its level-2 size wrongly
    else if (info.Vendor == cpvCentaur && info.EffFamily == 6 && (info.EffModel == 7 || info.EffModel == 8))
      info.L2CacheSize = static_cast<uint16_t>(ecx6 >> 24);
    else
      info.L2CacheSize = static_cast<uint16_t>(ecx6 >> 16);
  }
  return info;
}

TzfCpuTarget zfClassifyCpu(const TzfCpuInfo& aInfo, bool aOSSupportsSSE) {
  if (!aInfo.Has(cpiFPU) || !aInfo.Has(cpiCMOV) || !aInfo.Has(cpiMMX)) return cptIA32;
  if (!aOSSupportsSSE) return cptMMX;
  const uint8_t family = aInfo.EffFamily, model = aInfo.EffModel;
  if (aInfo.Vendor == cpvIntel) {
    if (family == 6 && model >= 7) return (model == 9 || model == 13) ? cptIntelFamily6M : cptIntelFamily6;
    if (family == 15) {
      if (aInfo.Has(cpiX64)) return cptIntelFamily15X64;
      return aInfo.Has(cpiSSE3) ? cptIntelFamily15SSE3 : cptIntelFamily15;
    }
  } else if (aInfo.Vendor == cpvAMD) {
    if (family == 6) return aInfo.Has(cpiSSE) ? cptAmdFamily6SSE : cptAmdFamily6;
    if (family == 15) return aInfo.Has(cpiSSE3) ? cptAmdFamily15SSE3 : cptAmdFamily15;
  }
  return cptMMX;
}

bool zfOSSupportsSSEFor(uint32_t aPlatformId, uint32_t aMajor, uint32_t aMinor) {
  if (aMajor <= 3) return false;
  if (aMajor > 4) return true;
  return aPlatformId == 1 && aMinor > 9;  // version 4: only the 9x line after 95
}

TzfCpuIdRecord zfReadCpuId() {
  TzfCpuIdRecord r;
#if ZF_HAS_CPUID
  r.HasCpuId = true;
  r.HasFpu = true;
  __cpuid(0, r.Leaf0.Eax, r.Leaf0.Ebx, r.Leaf0.Ecx, r.Leaf0.Edx);
  const uint32_t maxLeaf = r.Leaf0.Eax;
  if (maxLeaf >= 1) __cpuid(1, r.Leaf1.Eax, r.Leaf1.Ebx, r.Leaf1.Ecx, r.Leaf1.Edx);
  if (maxLeaf > 1) {
    TzfCpuIdRegs first;
    __cpuid(2, first.Eax, first.Ebx, first.Ecx, first.Edx);
    r.Leaf2.push_back(first);
    for (uint32_t n = first.Eax & 0xFF; n > 1; --n) {
      TzfCpuIdRegs more;
      __cpuid(2, more.Eax, more.Ebx, more.Ecx, more.Edx);
      r.Leaf2.push_back(more);
    }
  }
  __cpuid(0x80000000u, r.Ext0.Eax, r.Ext0.Ebx, r.Ext0.Ecx, r.Ext0.Edx);
  const uint32_t extMax = r.Ext0.Eax;
  if (extMax >= 0x80000001u && extMax < 0x8000FFFFu)
    __cpuid(0x80000001u, r.Ext1.Eax, r.Ext1.Ebx, r.Ext1.Ecx, r.Ext1.Edx);
  if (extMax >= 0x80000006u && extMax < 0x8000FFFFu) {
    __cpuid(0x80000005u, r.Ext5.Eax, r.Ext5.Ebx, r.Ext5.Ecx, r.Ext5.Edx);
    __cpuid(0x80000006u, r.Ext6.Eax, r.Ext6.Ebx, r.Ext6.Ecx, r.Ext6.Edx);
  } else if (extMax >= 0x8000FFFFu) {
    r.Ext0.Eax = 0;  // not an extended-leaf answer
  }
#endif
  return r;
}

namespace {

// The kernel saves the SSE state of every thread on every processor this build can run on.
constexpr bool kOSSupportsSSE = ZF_HAS_CPUID != 0;

TzfCpuDetection gDetection;

// Detects processor aCpu on a short-lived helper thread bound to it, so that the process itself
// is never pinned to one processor. When the binding fails, the record is that of whatever
// processor the helper ran on.
TzfCpuInfo DetectOn(int aCpu) {
  TzfCpuInfo info{};
  std::thread helper([&info, aCpu] {
#if defined(__linux__)
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(aCpu, &one);
    pthread_setaffinity_np(pthread_self(), sizeof(one), &one);
#endif
    info = zfDetectCpu(zfReadCpuId(), kOSSupportsSSE);
  });
  helper.join();
  return info;
}

void Detect() {
  TzfCpuDetection d;
  d.OSSupportsSSE = kOSSupportsSSE;
  uint32_t mask = 0;
#if defined(__linux__)
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0)
    for (int i = 0; i < 32; ++i)
      if (CPU_ISSET(i, &allowed)) mask |= 1u << i;
#endif
  if (mask != 0) {
    d.ProcessorCount = 0;
    d.SystemMask = mask;
    for (int i = 0; i < 32; ++i) {
      if ((mask & (1u << i)) == 0) continue;
      d.Processors.push_back(DetectOn(i));
      ++d.ProcessorCount;
    }
  } else {
    d.ProcessorCount = 1;
    d.SystemMask = 1;
    d.Processors.push_back(zfDetectCpu(zfReadCpuId(), kOSSupportsSSE));
  }
  d.First = d.Processors.front();
  d.Target = zfClassifyCpu(d.First, d.OSSupportsSSE);
  gDetection = std::move(d);
}

}  // namespace

const TzfCpuDetection& zfCpuDetection() {
  static std::once_flag once;
  std::call_once(once, Detect);  // detection runs once per process, at the first start
  return gDetection;
}

namespace {
void InitCpuDetect() { zfCpuDetection(); }
}  // namespace

rtl::TUnitInit& zfllFastCpuDetectUnit() {
  static rtl::TUnitInit unit("zfllFastCpuDetect", InitCpuDetect, nullptr);
  return unit;
}

}  // namespace zf
