// zftable: makes sample tables, salvages them block by block as the recovery does, and walks
// their blocks. Exit code 0 on success; otherwise non-zero with the error code and its text on
// stderr.
//
//   zftable make FILE --records N [--engine static|variable] [--compression null|smart]
//                [--delete K] [--seed S]
//   zftable salvage FILE      one line per record: <block> <slot> <hex of the record buffer>,
//                             then: records <n> blocks <read>/<total> skipped <k>
//   zftable walk FILE         one line per block: number, signature, owner, valid|invalid
//   zftable make-log FILE --records N [--seed S] [--encryption ENGINE] [--fulltext]
//                             the sample log table through the server engine (auto-increment ID,
//                             time stamp, level with a validation, text, memo, unique index),
//                             enciphered by ENGINE (e.g. zf1xDefault) under the built-in password
//   zftable damage SRC DST (--blocks LIST | --fraction F --seed S) [--mode zero|random|bitflip|truncate]
//                             copies SRC to DST and damages the chosen blocks (LIST: numbers
//                             separated by commas); one line per block hit: "hit <block> <signature>
//                             owner <id>", then: damaged <n> blocks
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "server/zfsrServerStartup.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tools/zftableKit.h"
#include "tools/zftableLog.h"

namespace {

constexpr uint32_t kUsage = zf::zfErrInvalidParam;

[[noreturn]] void Usage(const std::string& aWhy) {
  throw zf::EzfBaseException(kUsage, zf::rtl::u16("Usage: " + aWhy +
                                                   "\n  zftable make FILE --records N [--engine static|variable]"
                                                   " [--compression null|smart] [--delete K] [--seed S]"
                                                   "\n  zftable salvage FILE\n  zftable walk FILE"
                                                   "\n  zftable make-log FILE --records N [--seed S] [--encryption ENGINE] [--fulltext]"
                                                   "\n  zftable damage SRC DST (--blocks LIST | --fraction F --seed S)"
                                                   " [--mode zero|random|bitflip|truncate]"));
}

uint64_t Number(const std::string& aText) {
  if (aText.empty() || aText.find_first_not_of("0123456789") != std::string::npos || aText.size() > 12)
    Usage("not a number: " + aText);
  return std::stoull(aText);
}

double Fraction(const std::string& aText) {
  size_t used = 0;
  double v = -1;
  try {
    v = std::stod(aText, &used);
  } catch (...) {
  }
  if (used != aText.size() || !(v >= 0 && v <= 1)) Usage("not a fraction between 0 and 1: " + aText);
  return v;
}

std::vector<uint32_t> BlockList(const std::string& aText) {
  std::vector<uint32_t> blocks;
  size_t from = 0;
  while (from <= aText.size()) {
    const size_t comma = std::min(aText.find(',', from), aText.size());
    const uint64_t n = Number(aText.substr(from, comma - from));
    if (n > 0xFFFFFFFFull) Usage("block number out of range: " + aText.substr(from, comma - from));
    blocks.push_back(uint32_t(n));
    from = comma + 1;
  }
  return blocks;
}

int MakeLog(const std::vector<std::string>& a) {
  zf::kit::TLogOptions o;
  bool haveRecords = false;
  for (size_t i = 2; i < a.size(); i += 2) {
    if (a[i] == "--fulltext") {  // a switch without a value
      o.Fulltext = true;
      --i;
      continue;
    }
    if (i + 1 >= a.size()) Usage(a[i] + " needs a value");
    if (a[i] == "--records") o.Records = uint32_t(Number(a[i + 1])), haveRecords = true;
    else if (a[i] == "--seed") o.Seed = Number(a[i + 1]);
    else if (a[i] == "--encryption") o.Encryption = zf::rtl::u16(a[i + 1]);
    else Usage("unknown option " + a[i]);
  }
  if (!haveRecords) Usage("--records is required");
  zf::kit::MakeLogTable(a[1], o);
  return 0;
}

int Damage(const std::vector<std::string>& a) {
  if (a.size() < 3) Usage("damage needs a source and a target");
  std::vector<uint32_t> blocks;
  bool haveBlocks = false, haveFraction = false, haveSeed = false;
  double fraction = 0;
  uint64_t seed = 1;
  zf::kit::TDamageMode mode = zf::kit::TDamageMode::Zero;
  for (size_t i = 3; i < a.size(); i += 2) {
    if (i + 1 >= a.size()) Usage(a[i] + " needs a value");
    const std::string& k = a[i];
    const std::string& v = a[i + 1];
    if (k == "--blocks") blocks = BlockList(v), haveBlocks = true;
    else if (k == "--fraction") fraction = Fraction(v), haveFraction = true;
    else if (k == "--seed") seed = Number(v), haveSeed = true;
    else if (k == "--mode" && v == "zero") mode = zf::kit::TDamageMode::Zero;
    else if (k == "--mode" && v == "random") mode = zf::kit::TDamageMode::Random;
    else if (k == "--mode" && v == "bitflip") mode = zf::kit::TDamageMode::BitFlip;
    else if (k == "--mode" && v == "truncate") mode = zf::kit::TDamageMode::Truncate;
    else Usage("unknown option " + k + " " + v);
  }
  if (haveBlocks == haveFraction) Usage("give either --blocks or --fraction");
  if (haveFraction && !haveSeed) Usage("--fraction needs --seed");
  if (haveFraction) blocks = zf::kit::ChooseBlocks(a[1], fraction, seed);
  const auto hits = zf::kit::DamageTable(a[1], a[2], blocks, mode, seed);
  for (const auto& h : hits) std::printf("hit %u %s owner %d\n", h.Block, h.Signature.c_str(), h.Owner);
  std::printf("damaged %zu blocks\n", hits.size());
  return 0;
}

int Run(const std::vector<std::string>& a) {
  if (a.size() < 2) Usage("a command and a file are required");
  const std::string& cmd = a[0];
  const std::string& file = a[1];
  if (cmd == "make") {
    zf::kit::TMakeOptions o;
    bool haveRecords = false;
    for (size_t i = 2; i < a.size(); i += 2) {
      if (i + 1 >= a.size()) Usage(a[i] + " needs a value");
      const std::string& k = a[i];
      const std::string& v = a[i + 1];
      if (k == "--records") o.Records = uint32_t(Number(v)), haveRecords = true;
      else if (k == "--delete") o.Delete = uint32_t(Number(v));
      else if (k == "--seed") o.Seed = Number(v);
      else if (k == "--engine" && (v == "static" || v == "variable")) o.Variable = v == "variable";
      else if (k == "--compression" && (v == "null" || v == "smart")) o.Smart = v == "smart";
      else Usage("unknown option " + k + " " + v);
    }
    if (!haveRecords) Usage("--records is required");
    zf::kit::MakeTable(file, o);
    return 0;
  }
  if (cmd == "salvage" && a.size() == 2) {
    std::string line;
    const zf::kit::TSalvageSummary s =
        zf::kit::SalvageTable(file, [&line](uint32_t aBlock, uint32_t aSlot, const uint8_t* aRec, uint32_t aLen) {
          static const char* hex = "0123456789abcdef";
          line = std::to_string(aBlock) + " " + std::to_string(aSlot) + " ";
          for (uint32_t i = 0; i < aLen; ++i) {
            line += hex[aRec[i] >> 4];
            line += hex[aRec[i] & 15];
          }
          std::puts(line.c_str());
        });
    std::printf("records %llu blocks %llu/%llu skipped %llu\n", (unsigned long long)s.Records,
                (unsigned long long)s.BlocksRead, (unsigned long long)s.BlocksTotal, (unsigned long long)s.Skipped);
    return 0;
  }
  if (cmd == "walk" && a.size() == 2) {
    zf::kit::WalkTable(file, [](uint32_t aBlock, const std::string& aSig, int32_t aOwner, bool aValid) {
      std::printf("%u %s %d %s\n", aBlock, aSig.c_str(), aOwner, aValid ? "valid" : "invalid");
    });
    return 0;
  }
  if (cmd == "make-log") return MakeLog(a);
  if (cmd == "damage") return Damage(a);
  Usage("unknown command or arguments");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int rc = 1;
  try {
    zf::zfStartServer();
    zf::zfSetTimeout(0, true);
    try {
      rc = Run(args);
    } catch (...) {
      zf::zfStopServer();
      throw;
    }
    zf::zfStopServer();
  } catch (const zf::EzfBaseException& e) {
    std::fprintf(stderr, "error %u: %s\n", e.ErrorCode(), zf::rtl::u8(e.Message()).c_str());
    return e.ErrorCode() != 0 ? int(e.ErrorCode() % 250) + 1 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
  return rc;
}
