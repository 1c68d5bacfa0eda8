// Exception-to-code conversion: codes, custom texts, the thread's pair and the log line.
#include <gtest/gtest.h>

#include <new>

#include "foundation/zfllConvertException.h"
#include "foundation/zfllExceptionData.h"
#include "zfCaptureLog.h"

using namespace zf;
using zf::rtl::UnicodeString;

namespace {

using zf::test::CaptureLog;

struct Converted {
  uint32_t Code;
  UnicodeString Custom;
};

// Converts aException, after checking that asking only for its code answers the same code and
// leaves the thread's pair as it stood.
template <typename E>
Converted Convert(const E& aException, TzfBaseLog* aLog = nullptr) {
  EzfBaseException::SetLastConvertedException(1, u"before");
  const uint32_t codeOnly = zfExceptionCode(aException);
  uint32_t before = 0;
  UnicodeString beforeText;
  EzfBaseException::GetLastConvertedException(before, beforeText);
  EXPECT_EQ(before, 1u);
  EXPECT_EQ(beforeText, u"before");
  Converted c;
  c.Code = zfConvertException(aException, aLog, nullptr);
  EXPECT_EQ(codeOnly, c.Code);
  uint32_t stored = 0;
  EzfBaseException::GetLastConvertedException(stored, c.Custom);
  EXPECT_EQ(stored, c.Code);
  return c;
}

UnicodeString Block(const char16_t* aName, const UnicodeString& aValue) { return zfEncodeCustomInfo(aName, aValue); }

}  // namespace

TEST(ConvertException, EngineExceptions) {
  EzfBaseException::SetLastConvertedException(0, u"");
  Converted plain = Convert(EzfBaseException(10024));
  EXPECT_EQ(plain.Code, 10024u);
  EXPECT_EQ(plain.Custom, u"");

  Converted withInfo = Convert(EzfBaseException(9730, u"T" + Block(u"Field", u"X")));
  EXPECT_EQ(withInfo.Code, 9730u);
  EXPECT_EQ(withInfo.Custom, u"T" + Block(u"Field", u"X"));

  const EzfBaseException noCode(u"Something odd");
  Converted zero = Convert(noCode);
  EXPECT_EQ(zero.Code, 15520u);
  EXPECT_EQ(zero.Custom, noCode.Message());
}

TEST(ConvertException, PlatformExceptions) {
  Converted os = Convert(zf::rtl::EOSError(u"Sharing violation", 32));
  EXPECT_EQ(os.Code, 11047u);
  EXPECT_EQ(os.Custom, u"Sharing violation" + Block(u"OSError", u"32") + Block(u"Exception.Class", u"EOSError") +
                           Block(u"Exception.Message", u"Sharing violation"));

  EXPECT_EQ(Convert(zf::rtl::EOutOfMemory(zf::rtl::kSOutOfMemory)).Code, 9473u);
  EXPECT_EQ(Convert(zf::rtl::EOutOfMemory(zf::rtl::kSOutOfMemory)).Custom, u"");
  EXPECT_EQ(Convert(std::bad_alloc()).Code, 9473u);

  Converted other = Convert(zf::rtl::EConvertError(u"'x' is not a valid integer value"));
  EXPECT_EQ(other.Code, 15521u);
  EXPECT_EQ(other.Custom, u"Unexpected exception object raised: [EConvertError] 'x' is not a valid integer value" +
                              Block(u"Exception.Class", u"EConvertError") +
                              Block(u"Exception.Message", u"'x' is not a valid integer value"));
  // Raising the code on the same thread rebuilds the text in place of the table text.
  try {
    zfRaiseIfError(other.Code);
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.Message(), u"ZofrinDB: Unexpected exception object raised: [EConvertError] 'x' is not a valid integer "
                           u"value [$3CA1/15521]");
  }
}

TEST(ConvertException, ForeignObjects) {
  uint32_t code = 0;
  try {
    throw 42;
  } catch (...) {
    code = zfConvertException(std::current_exception(), nullptr, nullptr);
  }
  EXPECT_EQ(code, 15521u);
}

TEST(ConvertException, OneErrorLinePerConversion) {
  zf::rtl::TComponentPtr<CaptureLog> log(new CaptureLog());
  const zf::rtl::EConvertError e(u"bad value");
  EXPECT_EQ(Convert(e, log.get()).Code, 15521u);
  ASSERT_EQ(log->Entries.size(), 1u);
  EXPECT_EQ(log->Entries[0].Msg, u"Exception Cvt: bad value");
  EXPECT_EQ(log->Entries[0].Number, 15521u);
  EXPECT_EQ(log->Entries[0].Priority, lpError);
  EXPECT_EQ(log->Entries[0].Category, u"default");
  EXPECT_EQ(log->Entries[0].Bias, zfLogBiasDefault);
  Convert(e);
  EXPECT_EQ(log->Entries.size(), 1u);
}

namespace {

struct Source : IzfExceptionDataProvider {
  bool Add = true;
  bool Fail = false;
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override {
    if (Fail) throw zf::rtl::EConvertError(u"cannot describe");
    if (Add) aContainer.AddString(u"Table", u"Log");
  }
};

}  // namespace

TEST(ConvertException, SourceExceptionData) {
  Source nothing;
  nothing.Add = false;
  EzfBaseException::SetLastConvertedException(0, u"");  // no pending text for the code form
  EXPECT_EQ(zfConvertException(EzfBaseException(10024), nullptr, &nothing), 10024u);
  uint32_t code = 0;
  UnicodeString text;
  EzfBaseException::GetLastConvertedException(code, text);
  EXPECT_EQ(text, u"") << "a source that adds nothing attaches no data";

  Source adds;
  EXPECT_EQ(zfConvertException(zf::rtl::EOutOfMemory(zf::rtl::kSOutOfMemory), nullptr, &adds), 9473u);
  EzfBaseException::GetLastConvertedException(code, text);
  const UnicodeString prefix = UnicodeString(zfOrgMarker) + zfCustomInfoStart + u"$ExceptionData$=";
  ASSERT_EQ(text.substr(0, prefix.size()), prefix);
  // Raising the code rebuilds the exception with its data (the unit installs the decoder).
  zfllExceptionDataUnit().Initialize();
  try {
    zfRaiseIfError(9473);
    FAIL();
  } catch (EzfBaseException& e) {
    ASSERT_TRUE(e.GetExceptionData());
    ASSERT_EQ(e.GetExceptionData()->GetCount(), 1);
    EXPECT_EQ(e.GetExceptionData()->GetItem(0)->AsString(), u"Log");
  }
  zfllExceptionDataUnit().Finalize();

  // The listing follows the log line.
  zf::rtl::TComponentPtr<CaptureLog> log(new CaptureLog());
  zfConvertException(zf::rtl::EConvertError(u"bad"), log.get(), &adds);
  ASSERT_EQ(log->Entries.size(), 1u);
  EXPECT_EQ(log->Entries[0].Msg.substr(0, 20), u"Exception Cvt: bad\r\n");
  EXPECT_NE(log->Entries[0].Msg.find(u"Table"), UnicodeString::npos);
}

TEST(ConvertException, AFailingLogOrSourceStillStoresAndReturnsTheCode) {
  zf::rtl::TComponentPtr<CaptureLog> failingLog(new CaptureLog());
  failingLog->Fail = true;
  Source failingSource;
  failingSource.Fail = true;
  const std::pair<TzfBaseLog*, IzfExceptionDataProvider*> cases[] = {{failingLog.get(), nullptr},
                                                                     {nullptr, &failingSource},
                                                                     {failingLog.get(), &failingSource}};
  for (const auto& [log, source] : cases) {
    EzfBaseException::SetLastConvertedException(0, u"");
    uint32_t code = 0;
    EXPECT_NO_THROW(code = zfConvertException(EzfBaseException(10024, u"No table X"), log, source));
    EXPECT_EQ(code, 10024u);
    uint32_t stored = 0;
    UnicodeString text;
    EzfBaseException::GetLastConvertedException(stored, text);
    EXPECT_EQ(stored, 10024u);
    EXPECT_EQ(text, u"No table X");
  }
}
