#include "foundation/zfllExceptionData.h"

#include <string>

#include "foundation/zfllBase64.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

namespace {

// Splits at CR LF, CR or LF.
std::vector<UnicodeString> SplitLines(UnicodeStringView aText) {
  std::vector<UnicodeString> lines;
  size_t start = 0;
  for (size_t i = 0; i < aText.size(); ++i) {
    if (aText[i] != u'\r' && aText[i] != u'\n') continue;
    lines.emplace_back(aText.substr(start, i - start));
    if (aText[i] == u'\r' && i + 1 < aText.size() && aText[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < aText.size()) lines.emplace_back(aText.substr(start));
  return lines;
}

UnicodeString QuotedStr(UnicodeStringView aText) {
  UnicodeString r = u"'";
  for (char16_t c : aText) {
    r.push_back(c);
    if (c == u'\'') r.push_back(c);
  }
  r.push_back(u'\'');
  return r;
}

UnicodeString NameValue(const UnicodeString& aPrefix, const UnicodeString& aName, UnicodeStringView aValue) {
  return aPrefix + aName + u": " + UnicodeString(aValue);
}

using TInternalRef = std::shared_ptr<IzfExceptionDataValueInternal>;

TInternalRef ReadValue(TzfReader& aReader, int32_t aDepth);

// Reads the children of a container up to the end of its list.
void ReadChildren(TzfReader& aReader, TzfExceptionDataContainer& aContainer, int32_t aDepth) {
  aReader.ReadListBegin();
  while (!aReader.EndOfList()) {
    aContainer.Append(ReadValue(aReader, aDepth + 1));
  }
  aReader.ReadListEnd();
}

TInternalRef ReadValue(TzfReader& aReader, int32_t aDepth) {
  const int32_t kind = aReader.ReadInteger() & 0xFF;
  if (kind > edkContainer) throw EzfBaseException(zfErrIncompatibleStream);
  const UnicodeString name = aReader.ReadString();
  switch (kind) {
    case edkString: return std::make_shared<TzfExceptionDataStringValue>(name, aReader.ReadString());
    case edkInteger: return std::make_shared<TzfExceptionDataIntegerValue>(name, aReader.ReadInt64());
    case edkBoolean: return std::make_shared<TzfExceptionDataBooleanValue>(name, aReader.ReadBoolean());
    case edkFloat:
      return std::make_shared<TzfExceptionDataFloatValue>(name, static_cast<double>(aReader.ReadFloat()));
    case edkVariant: return std::make_shared<TzfExceptionDataVariantValue>(name, aReader.ReadVariant());
    default: {
      // Each level of nesting is a call here, in the listing and in the destruction of the tree:
      // damaged data may not nest without bound.
      if (aDepth >= zfExceptionDataMaxDepth) throw EzfBaseException(zfErrIncompatibleStream);
      auto container = std::make_shared<TzfExceptionDataContainer>(name);
      ReadChildren(aReader, *container, aDepth);
      return container;
    }
  }
}

TzfExceptionDataRef DecodeHook(const UnicodeString& aText) {
  return std::dynamic_pointer_cast<IzfExceptionDataContainer>(zfStringToExceptionData(aText));
}

TzfExceptionDataRef CreateHook(const UnicodeString& aName) { return zfCreateExceptionDataContainer(aName); }

void InitializeExceptionData() {
  zfllExceptionUnit().Initialize();
  zfSetExceptionDataHooks({&DecodeHook, &CreateHook});
}

void FinalizeExceptionData() {
  zfSetExceptionDataHooks({});
  zfllExceptionUnit().Finalize();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Base value

UnicodeString TzfExceptionDataBaseValue::AsString() const { return AsVariant().AsString(); }
int64_t TzfExceptionDataBaseValue::AsInteger() const { return AsVariant().AsInt64(); }
bool TzfExceptionDataBaseValue::AsBoolean() const { return AsVariant().AsBoolean(); }
double TzfExceptionDataBaseValue::AsFloat() const { return AsVariant().AsDouble(); }

rtl::Variant TzfExceptionDataBaseValue::AsVariant() const {
  throw EzfBaseException(zfErrNotSupported, u"AsVariant not supported by TzfExceptionDataBaseValue");
}

TzfExceptionDataRef TzfExceptionDataBaseValue::AsContainer() {
  throw EzfBaseException(zfErrNotSupported, u"AsContainer not supported for TzfExceptionDataBaseValue");
}

void TzfExceptionDataBaseValue::WriteTo(TzfWriter& aWriter, int32_t) const {
  aWriter.WriteInteger(static_cast<int32_t>(GetKind()));
  aWriter.WriteString(beName);
}

UnicodeString TzfExceptionDataBaseValue::SaveToString(int32_t aVersion) const {
  TzfMemoryStream stream;
  {
    TzfWriter writer(stream);
    zfWriteExceptionData(writer, *this, aVersion);
    writer.FlushBuffer();
  }
  const auto* p = static_cast<const char*>(stream.Memory());
  const std::string encoded = StrToBase64(p ? std::string_view(p, static_cast<size_t>(stream.Size())) : std::string_view());
  return UnicodeString(encoded.begin(), encoded.end());
}

UnicodeString TzfExceptionDataBaseValue::ToString() const {
  UnicodeString r;
  ListLines(0, [&r](const UnicodeString& aLine) { r += aLine + u"\r\n"; });
  return r;
}

// ---------------------------------------------------------------------------------------------
// Typed values

void TzfExceptionDataStringValue::WriteTo(TzfWriter& aWriter, int32_t aVersion) const {
  TzfExceptionDataBaseValue::WriteTo(aWriter, aVersion);
  aWriter.WriteString(svValue);
}

void TzfExceptionDataStringValue::ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const {
  const UnicodeString p = Prefix(aIndent);
  const std::vector<UnicodeString> lines = SplitLines(svValue);
  if (lines.size() >= 2) {
    aLine(p + beName + u":");
    for (const auto& l : lines) aLine(p + u"  " + l);
  } else {
    aLine(NameValue(p, beName, svValue));
  }
}

void TzfExceptionDataIntegerValue::WriteTo(TzfWriter& aWriter, int32_t aVersion) const {
  TzfExceptionDataBaseValue::WriteTo(aWriter, aVersion);
  aWriter.WriteInteger(ivValue);
}

void TzfExceptionDataIntegerValue::ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const {
  aLine(NameValue(Prefix(aIndent), beName, rtl::IntToStr(ivValue)));
}

void TzfExceptionDataBooleanValue::WriteTo(TzfWriter& aWriter, int32_t aVersion) const {
  TzfExceptionDataBaseValue::WriteTo(aWriter, aVersion);
  aWriter.WriteBoolean(bvValue);
}

void TzfExceptionDataBooleanValue::ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const {
  aLine(NameValue(Prefix(aIndent), beName, bvValue ? u"True" : u"False"));
}

void TzfExceptionDataFloatValue::WriteTo(TzfWriter& aWriter, int32_t aVersion) const {
  TzfExceptionDataBaseValue::WriteTo(aWriter, aVersion);
  aWriter.WriteFloat(fvValue);
}

void TzfExceptionDataFloatValue::ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const {
  aLine(NameValue(Prefix(aIndent), beName, rtl::FloatToStrF(fvValue, rtl::TFloatFormat::ffGeneral, 15, 0)));
}

void TzfExceptionDataVariantValue::WriteTo(TzfWriter& aWriter, int32_t aVersion) const {
  TzfExceptionDataBaseValue::WriteTo(aWriter, aVersion);
  aWriter.WriteVariant(vvValue);
}

void TzfExceptionDataVariantValue::ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const {
  UnicodeString text;
  switch (vvValue.VarType()) {
    case rtl::varNull: text = u"NULL"; break;
    case rtl::varEmpty: text = u"EMPTY"; break;
    // The wide and the 8-bit string kinds are quoted; the Unicode string kind is not.
    case rtl::varOleStr: case rtl::varString: text = QuotedStr(vvValue.AsString()); break;
    default:
      try {
        text = vvValue.AsString();
      } catch (const rtl::Exception& e) {
        text = u"[Error: " + e.Message() + u"]";
      }
  }
  aLine(NameValue(Prefix(aIndent), beName, text));
}

// ---------------------------------------------------------------------------------------------
// Container

TzfExceptionDataRef TzfExceptionDataContainer::AsContainer() { return shared_from_this(); }

void TzfExceptionDataContainer::AddString(UnicodeStringView aName, UnicodeStringView aValue) {
  Append(std::make_shared<TzfExceptionDataStringValue>(aName, aValue));
}

void TzfExceptionDataContainer::AddInteger(UnicodeStringView aName, int64_t aValue) {
  Append(std::make_shared<TzfExceptionDataIntegerValue>(aName, aValue));
}

void TzfExceptionDataContainer::AddBoolean(UnicodeStringView aName, bool aValue) {
  Append(std::make_shared<TzfExceptionDataBooleanValue>(aName, aValue));
}

void TzfExceptionDataContainer::AddFloat(UnicodeStringView aName, double aValue) {
  Append(std::make_shared<TzfExceptionDataFloatValue>(aName, aValue));
}

void TzfExceptionDataContainer::AddVariant(UnicodeStringView aName, const rtl::Variant& aValue) {
  Append(std::make_shared<TzfExceptionDataVariantValue>(aName, aValue));
}

TzfExceptionDataRef TzfExceptionDataContainer::AddContainer(UnicodeStringView aName) {
  auto c = std::make_shared<TzfExceptionDataContainer>(aName);
  Append(c);
  return c;
}

void TzfExceptionDataContainer::AddObject(UnicodeStringView aName, IzfExceptionDataProvider* aObject) {
  if (!aObject) return;
  TzfExceptionDataRef c = AddContainer(aName);
  aObject->AddExceptionData(*c);
}

void TzfExceptionDataContainer::AddObject(UnicodeStringView aName, const std::vector<UnicodeString>* aStrings) {
  if (!aStrings || aStrings->empty()) return;
  TzfExceptionDataRef c = AddContainer(aName);
  for (size_t i = 0; i < aStrings->size(); ++i) {
    const UnicodeString& line = (*aStrings)[i];
    const size_t eq = line.find(u'=');
    const UnicodeString name =
        (eq != UnicodeString::npos && eq > 0) ? line.substr(0, eq) : u"[" + rtl::IntToStr(static_cast<int64_t>(i)) + u"]";
    c->AddString(name, eq != UnicodeString::npos ? UnicodeStringView(line).substr(eq + 1) : UnicodeStringView(line));
  }
}

TzfExceptionDataValueRef TzfExceptionDataContainer::GetItem(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= GetCount()) rtl::RaiseRangeError();
  return dcValues[static_cast<size_t>(aIndex)];
}

void TzfExceptionDataContainer::WriteTo(TzfWriter& aWriter, int32_t aVersion) const {
  TzfExceptionDataBaseValue::WriteTo(aWriter, aVersion);
  aWriter.WriteListBegin();
  for (const auto& v : dcValues) v->WriteTo(aWriter, aVersion);
  aWriter.WriteListEnd();
}

void TzfExceptionDataContainer::ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const {
  aLine(Prefix(aIndent) + beName + u":");
  for (const auto& v : dcValues) v->ListLines(aIndent + 1, aLine);
}

// ---------------------------------------------------------------------------------------------
// Streams

TzfExceptionDataRef zfCreateExceptionDataContainer(UnicodeStringView aName) {
  return std::make_shared<TzfExceptionDataContainer>(aName);
}

void zfWriteExceptionData(TzfWriter& aWriter, const IzfExceptionDataValueInternal& aValue, int32_t aVersion) {
  aWriter.WriteIdent(zfExceptionDataIdent);
  aWriter.WriteInteger(aVersion);
  aValue.WriteTo(aWriter, aVersion);
}

TzfExceptionDataValueRef zfReadExceptionData(TzfReader& aReader) {
  if (!rtl::SameText(aReader.ReadIdent(), zfExceptionDataIdent)) throw EzfBaseException(zfErrIncompatibleStream);
  aReader.ReadInteger();  // the version: no value kind depends on it
  return ReadValue(aReader, 0);
}

TzfExceptionDataValueRef zfStringToExceptionData(UnicodeStringView aText) {
  // The text is an 8-bit string; characters beyond it are no Base64 digits either way.
  std::string text;
  text.reserve(aText.size());
  for (char16_t c : aText) text.push_back(c < 0x100 ? static_cast<char>(c) : '?');
  std::string bytes = Base64ToStr(text);
  TzfStaticMemoryStream stream(bytes.data(), rtl::RangeChecked<int32_t>(bytes.size()));
  TzfReader reader(stream);
  return zfReadExceptionData(reader);
}

rtl::TUnitInit& zfllExceptionDataUnit() {
  static rtl::TUnitInit unit("zfllExceptionData", InitializeExceptionData, FinalizeExceptionData);
  return unit;
}

}  // namespace zf
