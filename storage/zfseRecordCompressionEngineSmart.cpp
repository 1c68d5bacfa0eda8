#include "storage/zfseRecordCompressionEngineSmart.h"

#include <cstring>

#include "foundation/zfllErrors.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseRecordCompressionEngineSmart";

[[noreturn]] void RaiseDamaged(int32_t aField) {
  throw EzfSmartRecordCompressionEngineException(zfErrFileCorrupt, u"Compressed record is damaged (field %d)",
                                                 {int64_t(aField)});
}

inline bool IsNull(const uint8_t* aBitmap, uint32_t aField) { return (aBitmap[aField / 8] >> (aField % 8)) & 1; }

// Bytes of a terminated string inside [p, p + aMax): through the terminator, or aMax without one.
uint32_t NarrowUsed(const uint8_t* p, uint32_t aMax) {
  const void* z = std::memchr(p, 0, aMax);
  return z ? uint32_t(static_cast<const uint8_t*>(z) - p) + 1 : aMax;
}
uint32_t WideUsed(const uint8_t* p, uint32_t aMax) {
  for (uint32_t i = 0; i + 1 < aMax; i += 2)
    if (p[i] == 0 && p[i + 1] == 0) return i + 2;
  return aMax & ~1u;
}

}  // namespace

TzfSmartRecordCompressionEngine::TzfSmartRecordCompressionEngine(TzfBaseRecordCompressionDescriptor* aDescriptor,
                                                                 TzfFieldsDescriptor* aFields, int32_t aTableVersion)
    : TzfBaseRecordCompressionEngine(aDescriptor, aFields, aTableVersion), srceFieldsDescriptor(aFields) {
  ZF_ASSERT(aFields != nullptr, kUnit);
  FRecordLength = uint32_t(aFields->GetRecordLength());
  FBitmapOffset = uint32_t(aFields->GetLogRecLenAlign());
  FBitmapBytes = uint32_t(aFields->FieldCount + 7) / 8;
  ZF_ASSERT(FBitmapOffset + FBitmapBytes <= FRecordLength, kUnit);
  for (int32_t i = 0; i < aFields->FieldCount; ++i) {
    const TzfFieldDescriptor* f = aFields->Field(i);
    ZF_ASSERT(f->fdOffset >= 0 && f->fdLength >= 0 && uint32_t(f->fdOffset + f->fdLength) <= FBitmapOffset, kUnit);
    FFields.push_back({uint32_t(f->fdOffset), uint32_t(f->fdLength), f->fdType});
  }
}

const TzfRecordCompressionEngineClass& TzfSmartRecordCompressionEngine::ClassInfo() {
  static const TzfRecordCompressionEngineClass info(
      u"TzfSmartRecordCompressionEngine", &TzfBaseRecordCompressionEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseRecordCompressionDescriptor* d, TzfFieldsDescriptor* f,
         int32_t v) -> std::unique_ptr<TzfBaseRecordCompressionEngine> {
        return std::make_unique<TzfSmartRecordCompressionEngine>(d, f, v);
      });
  return info;
}

uint16_t TzfSmartRecordCompressionEngine::CompressRecord(const uint8_t* aSource, uint8_t* aTarget) {
  const uint8_t* bitmap = aSource + FBitmapOffset;
  std::memcpy(aTarget, bitmap, FBitmapBytes);
  uint32_t w = FBitmapBytes;
  for (uint32_t i = 0; i < FFields.size(); ++i) {
    if (IsNull(bitmap, i)) continue;
    const TField& f = FFields[i];
    const uint8_t* p = aSource + f.Offset;
    uint32_t n;
    switch (f.Type) {
      case zftShortString:
        n = f.Length == 0 ? 0 : 1 + std::min<uint32_t>(p[0], f.Length - 1);
        break;
      case zftNullString:
        n = NarrowUsed(p, f.Length);
        break;
      case zftWideString:
        n = WideUsed(p, f.Length);
        break;
      default:
        n = f.Length;
        break;
    }
    std::memcpy(aTarget + w, p, n);
    // A ShortString length byte beyond its units is stored cut to what is kept.
    if (f.Type == zftShortString && n > 0) aTarget[w] = uint8_t(n - 1);
    w += n;
  }
  return uint16_t(w);
}

void TzfSmartRecordCompressionEngine::DecompressRecord(const uint8_t* aSource, uint16_t aSize, uint8_t* aTarget) {
  if (aSize < FBitmapBytes) RaiseDamaged(-1);
  std::memset(aTarget, 0, FRecordLength);
  std::memset(aTarget + FBitmapOffset, 0xFF, FBitmapBytes);
  std::memcpy(aTarget + FBitmapOffset, aSource, FBitmapBytes);
  const uint8_t* bitmap = aSource;
  uint32_t r = FBitmapBytes;
  for (uint32_t i = 0; i < FFields.size(); ++i) {
    if (IsNull(bitmap, i)) continue;
    const TField& f = FFields[i];
    const uint8_t* p = aSource + r;
    const uint32_t left = aSize - r;
    const uint32_t room = std::min(left, f.Length);
    uint32_t n;
    switch (f.Type) {
      case zftShortString:
        if (left == 0 || f.Length == 0 || p[0] > f.Length - 1 || uint32_t(p[0]) + 1 > left) RaiseDamaged(int32_t(i));
        n = uint32_t(p[0]) + 1;
        break;
      case zftNullString:
        n = NarrowUsed(p, room);
        if (n == room && (room == 0 || p[room - 1] != 0) && room < f.Length) RaiseDamaged(int32_t(i));
        break;
      case zftWideString:
        n = WideUsed(p, room);
        if ((n < 2 || p[n - 1] != 0 || p[n - 2] != 0) && room < f.Length) RaiseDamaged(int32_t(i));
        if (n == 0 && f.Length > 0) RaiseDamaged(int32_t(i));
        break;
      default:
        if (left < f.Length) RaiseDamaged(int32_t(i));
        n = f.Length;
        break;
    }
    std::memcpy(aTarget + f.Offset, p, n);
    r += n;
  }
  if (r != aSize) RaiseDamaged(int32_t(FFields.size()));
}

}  // namespace zf
