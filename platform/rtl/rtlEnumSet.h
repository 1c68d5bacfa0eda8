// EnumSet<E>: the platform's "set of enum" for enumerations of at most 64 members, one bit per
// ordinal. Where a set is stored, its byte layout is written explicitly by the unit that stores it.
#pragma once
#include <cstdint>
#include <initializer_list>

namespace zf::rtl {

template <typename E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> aMembers) {
    for (E m : aMembers) FBits |= Bit(m);
  }

  constexpr bool Contains(E aMember) const { return (FBits & Bit(aMember)) != 0; }
  constexpr bool IsEmpty() const { return FBits == 0; }
  constexpr EnumSet& Include(E aMember) { FBits |= Bit(aMember); return *this; }
  constexpr EnumSet& Exclude(E aMember) { FBits &= ~Bit(aMember); return *this; }
  constexpr uint64_t Bits() const { return FBits; }

  constexpr EnumSet operator+(EnumSet o) const { return FromBits(FBits | o.FBits); }
  constexpr EnumSet operator-(EnumSet o) const { return FromBits(FBits & ~o.FBits); }
  constexpr EnumSet operator*(EnumSet o) const { return FromBits(FBits & o.FBits); }
  constexpr bool operator==(const EnumSet&) const = default;

  static constexpr EnumSet FromBits(uint64_t aBits) {
    EnumSet s;
    s.FBits = aBits;
    return s;
  }

 private:
  static constexpr uint64_t Bit(E aMember) { return uint64_t{1} << static_cast<unsigned>(aMember); }
  uint64_t FBits = 0;
};

}  // namespace zf::rtl
