// Processor detection and classification, which choose the fill and move routines.
//
// Detection turns the answers of the processor identification instruction (collected into a
// TzfCpuIdRecord) into a TzfCpuInfo; classification turns the first processor's record into a
// TzfCpuTarget. Both are pure functions of their inputs, so any processor can be described by a
// synthetic record. The unit's start-up reads the real processors once.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/rtlUnits.h"

namespace zf {

// Vendor table, indexed by TzfCpuInfo::Vendor (0 = not recognised).
enum TzfCpuVendor : uint8_t {
  cpvNone = 0,
  cpvAMD = 1,        // "AuthenticAMD"
  cpvCentaur = 2,    // "CentaurHauls"
  cpvCyrix = 3,      // "CyrixInstead"
  cpvIntel = 4,      // "GenuineIntel"
  cpvTransmeta = 5,  // "GenuineTMx86"
  cpvNexGen = 6,     // "NexGenDriven"
  cpvRise = 7,       // "RiseRiseRise"
  cpvUMC = 8,        // "UMC UMC UMC "
  cpvNSC = 9,        // "Geode by NSC"
  cpvSiS = 10,       // "SiS SiS SiS" (eleven characters, so it never matches)
};

// Bits of TzfCpuInfo::InstructionSet.
enum TzfCpuInstruction : uint16_t {
  cpiFPU = 1u << 0,
  cpiTSC = 1u << 1,
  cpiCX8 = 1u << 2,
  cpiSEP = 1u << 3,
  cpiCMOV = 1u << 4,
  cpiMMX = 1u << 5,
  cpiFXSR = 1u << 6,
  cpiSSE = 1u << 7,
  cpiSSE2 = 1u << 8,
  cpiSSE3 = 1u << 9,
  cpiMONITOR = 1u << 10,
  cpiCX16 = 1u << 11,
  cpiX64 = 1u << 12,
  cpiExMMX = 1u << 13,
  cpi3DNowEx = 1u << 14,
  cpi3DNow = 1u << 15,
};

// One logical processor (20 bytes, the field order of the original record).
struct TzfCpuInfo {
  uint8_t Vendor;
  uint32_t Signature;       // EAX of leaf 1
  uint8_t EffFamily;        // family, plus the extended family when the family is 15
  uint8_t EffModel;         // model, plus 16 x the extended model when the family is 15
  uint16_t CodeL1CacheSize; // KB
  uint16_t DataL1CacheSize; // KB
  uint16_t L2CacheSize;     // KB
  uint16_t L3CacheSize;     // KB
  uint16_t InstructionSet;  // TzfCpuInstruction bits

  bool Has(TzfCpuInstruction aBit) const { return (InstructionSet & aBit) != 0; }
};
static_assert(sizeof(TzfCpuInfo) == 20);

enum TzfCpuTarget : uint8_t {
  cptIA32 = 0,
  cptMMX = 1,
  cptIntelFamily6 = 2,
  cptIntelFamily6M = 3,
  cptIntelFamily15 = 4,
  cptIntelFamily15SSE3 = 5,
  cptIntelFamily15X64 = 6,
  cptAmdFamily6 = 7,
  cptAmdFamily6SSE = 8,
  cptAmdFamily15 = 9,
  cptAmdFamily15SSE3 = 10,
};

struct TzfCpuIdRegs {
  uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
};

// What the identification instruction answered on one processor.
struct TzfCpuIdRecord {
  bool HasCpuId = false;  // false: only the floating-point unit check below applies
  bool HasFpu = false;    // result of that check (status word 0, control word bits 0-5 and 12 = 3Fh)
  TzfCpuIdRegs Leaf0;     // highest leaf in EAX, vendor in EBX, EDX, ECX
  TzfCpuIdRegs Leaf1;
  std::vector<TzfCpuIdRegs> Leaf2;  // every answer of leaf 2, as many as its first low byte says
  TzfCpuIdRegs Ext0;                // 80000000h: highest extended leaf in EAX
  TzfCpuIdRegs Ext1;                // 80000001h
  TzfCpuIdRegs Ext5;                // 80000005h
  TzfCpuIdRegs Ext6;                // 80000006h
};

// The vendor index of a 12-character identification string (0 when not in the table).
uint8_t zfCpuVendorIndex(const std::string& aVendorId);
// The record of one processor from its identification answers.
TzfCpuInfo zfDetectCpu(const TzfCpuIdRecord& aRecord, bool aOSSupportsSSE);
// The processor class of the first processor's record.
TzfCpuTarget zfClassifyCpu(const TzfCpuInfo& aInfo, bool aOSSupportsSSE);

// Whether a system of the given platform and version saves the SSE state (platform 1: the 9x
// line; 2: NT; 0: Win32s).
bool zfOSSupportsSSEFor(uint32_t aPlatformId, uint32_t aMajor, uint32_t aMinor);

// Asks the processor the calling thread runs on.
TzfCpuIdRecord zfReadCpuId();

// Results of the detection at start-up (the detection unit starts on first use).
struct TzfCpuDetection {
  uint32_t ProcessorCount = 1;
  uint32_t SystemMask = 1;  // the processors (0 to 31) that were detected
  bool OSSupportsSSE = false;
  TzfCpuInfo First{};        // the processor used for all decisions
  std::vector<TzfCpuInfo> Processors;  // one record per processor in SystemMask, up to 32
  TzfCpuTarget Target = cptIA32;
};
const TzfCpuDetection& zfCpuDetection();

rtl::TUnitInit& zfllFastCpuDetectUnit();

}  // namespace zf
