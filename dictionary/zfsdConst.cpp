#include "dictionary/zfsdConst.h"

#include <algorithm>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"

namespace zf {

using rtl::UnicodeString;
using rtl::UnicodeStringView;

namespace {

struct TTypeNames {
  const char16_t* Display;
  const char16_t* Sql;
  const char16_t* AltSql;
};

// In ordinal order.
constexpr TTypeNames kTypeNames[zfFieldTypeCount] = {
    {u"Boolean", u"BOOLEAN", u""},
    {u"Char", u"SINGLECHAR", u""},
    {u"Wide Char", u"NSINGLECHAR", u""},
    {u"Byte", u"BYTE", u""},
    {u"Word16", u"WORD", u""},
    {u"Word32", u"DWORD", u""},
    {u"Int8", u"SHORTINT", u""},
    {u"Int16", u"SMALLINT", u""},
    {u"Int32", u"INTEGER", u""},
    {u"Int64", u"BIGINT", u""},
    {u"AutoInc", u"AUTOINC", u""},
    {u"Single", u"FLOAT", u""},
    {u"Double", u"DOUBLE PRECISION", u""},
    {u"Extended", u"EXTENDED", u""},
    {u"Currency", u"MONEY", u""},
    {u"Date", u"DATE", u""},
    {u"Time", u"TIME", u""},
    {u"DateTime", u"TIMESTAMP", u""},
    {u"Interval", u"", u""},
    {u"BLOB", u"BINARY LARGE OBJECT", u""},
    {u"BLOB Memo", u"CHARACTER LARGE OBJECT", u""},
    {u"BLOB Graphic", u"IMAGE", u""},
    {u"Byte Array", u"BYTEARRAY", u""},
    {u"ShortString", u"SHORTSTRING", u""},
    {u"NullString", u"CHARACTER", u"CHARACTER VARYING"},
    {u"WideString", u"NATIONAL CHARACTER", u"NATIONAL CHARACTER VARYING"},
    {u"RecRev", u"RECREV", u""},
    {u"GUID", u"GUID", u""},
    {u"BCD", u"DECIMAL", u""},
    {u"BLOB Wide Memo", u"NATIONAL CHARACTER LARGE OBJECT", u""},
    {u"Formatted BCD", u"DECIMAL", u""},
};

constexpr const char16_t* kParamNames[] = {u"", u"IN", u"OUT", u"INOUT", u"RESULT"};

struct TNameEntry {
  UnicodeString Name;
  TzfFieldType Type;
};

// The sorted, duplicate-ignoring name list: for each type in ordinal order its primary name, then
// its alternative name when the list lacks it. Built once, on first use.
const std::vector<TNameEntry>& NameList() {
  static const std::vector<TNameEntry> list = [] {
    std::vector<TNameEntry> l;
    auto add = [&l](UnicodeStringView aName, TzfFieldType aType) {
      auto it = std::lower_bound(l.begin(), l.end(), aName,
                                 [](const TNameEntry& e, UnicodeStringView n) { return rtl::CompareText(e.Name, n) < 0; });
      if (it != l.end() && rtl::CompareText(it->Name, aName) == 0) return;  // the first claim keeps it
      l.insert(it, TNameEntry{UnicodeString(aName), aType});
    };
    for (int i = 0; i < zfFieldTypeCount; ++i) {
      add(kTypeNames[i].Sql, static_cast<TzfFieldType>(i));
      if (kTypeNames[i].AltSql[0]) add(kTypeNames[i].AltSql, static_cast<TzfFieldType>(i));
    }
    return l;
  }();
  return list;
}

}  // namespace

UnicodeString zfFieldTypeDisplayName(TzfFieldType aType) {
  return zfIsValidFieldType(aType) ? UnicodeString(kTypeNames[static_cast<int>(aType)].Display) : UnicodeString();
}

UnicodeString zfFieldTypeSqlName(TzfFieldType aType) {
  return zfIsValidFieldType(aType) ? UnicodeString(kTypeNames[static_cast<int>(aType)].Sql) : UnicodeString();
}

UnicodeString zfFieldTypeAltSqlName(TzfFieldType aType) {
  return zfIsValidFieldType(aType) ? UnicodeString(kTypeNames[static_cast<int>(aType)].AltSql) : UnicodeString();
}

UnicodeString zfParamTypeName(TzfParamType aType) {
  auto i = static_cast<size_t>(aType);
  return i < std::size(kParamNames) ? UnicodeString(kParamNames[i]) : UnicodeString();
}

TzfFieldType zfFieldTypeFromName(UnicodeStringView aName) {
  const auto& l = NameList();
  auto it = std::lower_bound(l.begin(), l.end(), aName,
                             [](const TNameEntry& e, UnicodeStringView n) { return rtl::CompareText(e.Name, n) < 0; });
  if (it == l.end() || rtl::CompareText(it->Name, aName) != 0) throw EzfBaseException(zfErrObjNotFound);
  return it->Type;
}

TzfParamType zfParamTypeFromName(UnicodeStringView aName) {
  for (size_t i = 0; i < std::size(kParamNames); ++i)
    if (rtl::SameText(aName, kParamNames[i])) return static_cast<TzfParamType>(i);
  return zfptUnknown;
}

}  // namespace zf
