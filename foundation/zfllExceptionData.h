// Exception data: a tree of named, typed values that describes the objects involved in a failure
// (a component, its class, statistics, the key that broke an index). An engine exception carries
// it as the custom information "$ExceptionData$", whose value is the tree written as an "EDV"
// stream with the tagged writer and encoded in Base64:
//
//   identifier "EDV", integer version, then the top value:
//   integer kind (0..5), string name, payload by kind (string; integer in its smallest form;
//   Boolean; 10-byte extended float; variant; container: vaList, each child, vaNull).
//
// Values are immutable once made, except that a container grows. They are shared by reference.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllStreamsRW.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

// The kinds of value, as stored.
enum TzfExceptionDataKind : int32_t {
  edkString = 0,
  edkInteger = 1,
  edkBoolean = 2,
  edkFloat = 3,
  edkVariant = 4,
  edkContainer = 5,
};

// Identifier at the start of every exception-data stream.
inline constexpr const char16_t* zfExceptionDataIdent = u"EDV";
// Deepest nesting of containers a stream may hold; deeper data is refused as incompatible.
inline constexpr int32_t zfExceptionDataMaxDepth = 256;

class IzfExceptionDataValue;
using TzfExceptionDataValueRef = std::shared_ptr<IzfExceptionDataValue>;
using TzfExceptionDataLineProc = std::function<void(const UnicodeString&)>;

// A named value.
class IzfExceptionDataValue {
 public:
  virtual ~IzfExceptionDataValue() = default;
  virtual UnicodeString GetName() const = 0;
  virtual TzfExceptionDataKind GetKind() const = 0;
  virtual UnicodeString AsString() const = 0;
  virtual int64_t AsInteger() const = 0;
  virtual bool AsBoolean() const = 0;
  virtual double AsFloat() const = 0;
  virtual rtl::Variant AsVariant() const = 0;
  virtual TzfExceptionDataRef AsContainer() = 0;
  // The "EDV" stream of this value, Base64-encoded.
  virtual UnicodeString SaveToString(int32_t aVersion) const = 0;
  // The listing, every line followed by CR LF.
  virtual UnicodeString ToString() const = 0;
};

// The container's view of its children.
class IzfExceptionDataValueInternal : public virtual IzfExceptionDataValue {
 public:
  virtual void WriteTo(TzfWriter& aWriter, int32_t aVersion) const = 0;
  virtual void ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const = 0;
};

// Implemented by objects that can describe themselves.
class IzfExceptionDataProvider {
 public:
  virtual void AddExceptionData(IzfExceptionDataContainer& aContainer) = 0;

 protected:
  ~IzfExceptionDataProvider() = default;
};

class IzfExceptionDataContainer : public virtual IzfExceptionDataValue {
 public:
  virtual void AddString(UnicodeStringView aName, UnicodeStringView aValue) = 0;
  virtual void AddInteger(UnicodeStringView aName, int64_t aValue) = 0;
  virtual void AddBoolean(UnicodeStringView aName, bool aValue) = 0;
  virtual void AddFloat(UnicodeStringView aName, double aValue) = 0;
  // An object that describes itself gets a container of its own named aName; null adds nothing.
  virtual void AddObject(UnicodeStringView aName, IzfExceptionDataProvider* aObject) = 0;
  // A string list: when it has lines, a container named aName with one string value per line,
  // named by the text before the first "=" (when that is not at the start) or "[i]"; the value is
  // the text after the first "=", or the whole line. Null or empty adds nothing.
  virtual void AddObject(UnicodeStringView aName, const std::vector<UnicodeString>* aStrings) = 0;
  virtual void AddVariant(UnicodeStringView aName, const rtl::Variant& aValue) = 0;
  // Appends a new empty container and returns it.
  virtual TzfExceptionDataRef AddContainer(UnicodeStringView aName) = 0;
  virtual int32_t GetCount() const = 0;
  // Child aIndex (0-based); outside 0 .. count-1 a range error.
  virtual TzfExceptionDataValueRef GetItem(int32_t aIndex) const = 0;
};

// Base of every value class.
class TzfExceptionDataBaseValue : public IzfExceptionDataValueInternal {
 public:
  explicit TzfExceptionDataBaseValue(UnicodeStringView aName) : beName(aName) {}

  UnicodeString GetName() const override { return beName; }
  // Through AsVariant, with the variant's conversions.
  UnicodeString AsString() const override;
  int64_t AsInteger() const override;
  bool AsBoolean() const override;
  double AsFloat() const override;
  // 12289 "AsVariant not supported by TzfExceptionDataBaseValue".
  rtl::Variant AsVariant() const override;
  // 12289 "AsContainer not supported for TzfExceptionDataBaseValue".
  TzfExceptionDataRef AsContainer() override;
  UnicodeString SaveToString(int32_t aVersion) const override;
  UnicodeString ToString() const override;
  // Kind and name; each class adds its payload.
  void WriteTo(TzfWriter& aWriter, int32_t aVersion) const override;

 protected:
  UnicodeString Prefix(int32_t aIndent) const { return UnicodeString(static_cast<size_t>(2 * aIndent), u' '); }

  UnicodeString beName;
};

class TzfExceptionDataStringValue : public TzfExceptionDataBaseValue {
 public:
  TzfExceptionDataStringValue(UnicodeStringView aName, UnicodeStringView aValue)
      : TzfExceptionDataBaseValue(aName), svValue(aValue) {}
  TzfExceptionDataKind GetKind() const override { return edkString; }
  UnicodeString AsString() const override { return svValue; }
  rtl::Variant AsVariant() const override { return rtl::Variant(svValue); }
  void WriteTo(TzfWriter& aWriter, int32_t aVersion) const override;
  void ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const override;

 private:
  UnicodeString svValue;
};

class TzfExceptionDataIntegerValue : public TzfExceptionDataBaseValue {
 public:
  TzfExceptionDataIntegerValue(UnicodeStringView aName, int64_t aValue)
      : TzfExceptionDataBaseValue(aName), ivValue(aValue) {}
  TzfExceptionDataKind GetKind() const override { return edkInteger; }
  int64_t AsInteger() const override { return ivValue; }
  rtl::Variant AsVariant() const override { return rtl::Variant(ivValue); }
  void WriteTo(TzfWriter& aWriter, int32_t aVersion) const override;
  void ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const override;

 private:
  int64_t ivValue;
};

class TzfExceptionDataBooleanValue : public TzfExceptionDataBaseValue {
 public:
  TzfExceptionDataBooleanValue(UnicodeStringView aName, bool aValue)
      : TzfExceptionDataBaseValue(aName), bvValue(aValue) {}
  TzfExceptionDataKind GetKind() const override { return edkBoolean; }
  bool AsBoolean() const override { return bvValue; }
  rtl::Variant AsVariant() const override { return rtl::Variant(bvValue); }
  void WriteTo(TzfWriter& aWriter, int32_t aVersion) const override;
  void ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const override;

 private:
  bool bvValue;
};

class TzfExceptionDataFloatValue : public TzfExceptionDataBaseValue {
 public:
  TzfExceptionDataFloatValue(UnicodeStringView aName, double aValue)
      : TzfExceptionDataBaseValue(aName), fvValue(aValue) {}
  TzfExceptionDataKind GetKind() const override { return edkFloat; }
  double AsFloat() const override { return fvValue; }
  rtl::Variant AsVariant() const override { return rtl::Variant(fvValue); }
  void WriteTo(TzfWriter& aWriter, int32_t aVersion) const override;
  void ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const override;

 private:
  double fvValue;
};

class TzfExceptionDataVariantValue : public TzfExceptionDataBaseValue {
 public:
  TzfExceptionDataVariantValue(UnicodeStringView aName, const rtl::Variant& aValue)
      : TzfExceptionDataBaseValue(aName), vvValue(aValue) {}
  TzfExceptionDataKind GetKind() const override { return edkVariant; }
  rtl::Variant AsVariant() const override { return vvValue; }
  void WriteTo(TzfWriter& aWriter, int32_t aVersion) const override;
  void ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const override;

 private:
  rtl::Variant vvValue;
};

class TzfExceptionDataContainer : public TzfExceptionDataBaseValue,
                                  public IzfExceptionDataContainer,
                                  public std::enable_shared_from_this<TzfExceptionDataContainer> {
 public:
  explicit TzfExceptionDataContainer(UnicodeStringView aName) : TzfExceptionDataBaseValue(aName) {}
  TzfExceptionDataKind GetKind() const override { return edkContainer; }
  TzfExceptionDataRef AsContainer() override;

  void AddString(UnicodeStringView aName, UnicodeStringView aValue) override;
  void AddInteger(UnicodeStringView aName, int64_t aValue) override;
  void AddBoolean(UnicodeStringView aName, bool aValue) override;
  void AddFloat(UnicodeStringView aName, double aValue) override;
  void AddObject(UnicodeStringView aName, IzfExceptionDataProvider* aObject) override;
  void AddObject(UnicodeStringView aName, const std::vector<UnicodeString>* aStrings) override;
  void AddVariant(UnicodeStringView aName, const rtl::Variant& aValue) override;
  TzfExceptionDataRef AddContainer(UnicodeStringView aName) override;
  int32_t GetCount() const override { return static_cast<int32_t>(dcValues.size()); }
  TzfExceptionDataValueRef GetItem(int32_t aIndex) const override;

  void Append(std::shared_ptr<IzfExceptionDataValueInternal> aValue) { dcValues.push_back(std::move(aValue)); }
  void WriteTo(TzfWriter& aWriter, int32_t aVersion) const override;
  void ListLines(int32_t aIndent, const TzfExceptionDataLineProc& aLine) const override;

 private:
  std::vector<std::shared_ptr<IzfExceptionDataValueInternal>> dcValues;
};

// An empty container named aName.
TzfExceptionDataRef zfCreateExceptionDataContainer(UnicodeStringView aName);

// Writes the whole "EDV" stream of aValue (identifier, version, value) to aWriter.
void zfWriteExceptionData(TzfWriter& aWriter, const IzfExceptionDataValueInternal& aValue, int32_t aVersion);
// Reads an "EDV" stream: a wrong identifier, an unknown kind or nesting deeper than
// zfExceptionDataMaxDepth raise 15498 "Incompatible stream"; damaged bytes give the reader's errors.
TzfExceptionDataValueRef zfReadExceptionData(TzfReader& aReader);
// Decodes aText from Base64 and reads its "EDV" stream.
TzfExceptionDataValueRef zfStringToExceptionData(UnicodeStringView aText);

// Installs the decoding of "$ExceptionData$" blocks into the engine exception at start-up.
rtl::TUnitInit& zfllExceptionDataUnit();

}  // namespace zf
