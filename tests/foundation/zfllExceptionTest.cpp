#include "foundation/zfllException.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

namespace zf {
namespace {

using rtl::u16;
using rtl::u8;

const std::u16string kMarker = u"<[!\u00FEOrg\u00FE!>";

std::string Msg(const rtl::Exception& e) { return u8(e.Message()); }

// Every test starts and ends with an empty pending pair on its thread.
class EngineException : public ::testing::Test {
 protected:
  void SetUp() override { EzfBaseException::SetLastConvertedException(0, u""); }
  void TearDown() override {
    EzfBaseException::SetLastConvertedException(0, u"");
    zf::os::SetLastError(0);
    zfSetExceptionDataHooks({});
  }
};

TEST_F(EngineException, MessageLayoutForEachConstructorForm) {
  struct Case {
    EzfBaseException E;
    const char* Message;
  };
  const Case cases[] = {
      {EzfBaseException(10022), "ZofrinDB: Invalid index name. [$2726/10022]"},
      {EzfBaseException(10024, u"No table X"), "ZofrinDB: No table X [$2728/10024]"},
      {EzfBaseException(10024, u"No table %s (%d)", {u"T", 3}), "ZofrinDB: No table T (3) [$2728/10024]"},
      {EzfBaseException(u"Plain"), "ZofrinDB: Plain [no error code]"},
      {EzfBaseException(u"%s-%d", {u"a", 7}), "ZofrinDB: a-7 [no error code]"},
      {EzfBaseException(u""), "ZofrinDB: Unknown (server exception object has unknown error code) [no error code]"},
      {EzfBaseException(9730, u"Field validation failed: " + kMarker),
       "ZofrinDB: Field validation failed: Minimum validity check failed. [$2602/9730]"},
      {EzfBaseException(10050, kMarker + u" (handle 12)"), "ZofrinDB: Filter handle is invalid. (handle 12) [$2742/10050]"},
      // The marker after text that already ends with a full stop adds none.
      {EzfBaseException(9729, kMarker), "ZofrinDB: Key violation. [$2601/9729]"},
      // A code outside the table brings in the unknown-code text.
      {EzfBaseException(15520), "ZofrinDB: Unknown (server exception object has unknown error code) [$3CA0/15520]"},
      // Blanks and control characters around the custom text go.
      {EzfBaseException(9729, u"  \t padded \r\n"), "ZofrinDB: padded [$2601/9729]"},
  };
  for (const Case& c : cases) EXPECT_EQ(Msg(c.E), c.Message);
}

TEST_F(EngineException, FieldsOfCodeAndTextForms) {
  EzfBaseException plain(9729);
  EXPECT_EQ(plain.GetErrorCode(), 9729u);
  EXPECT_FALSE(plain.GetExtendedMsg());
  EXPECT_EQ(plain.GetErrorString(), u"");
  EXPECT_EQ(plain.GetProcessedErrorString(), u"Key violation.");

  EzfBaseException custom(9729, kMarker + u" on X");
  EXPECT_TRUE(custom.GetExtendedMsg());
  EXPECT_EQ(custom.GetErrorString(), kMarker + u" on X");
  EXPECT_EQ(custom.GetProcessedErrorString(), u"Key violation. on X");
}

TEST_F(EngineException, PendingMessageIsTakenOnceAndOnlyForItsCode) {
  EXPECT_NO_THROW(zfRaiseIfError(0));
  EXPECT_EQ(EzfBaseException::zfSetMessage(9985, kMarker + u" Value 7 too big"), 9985u);
  try {
    zfRaiseIfError(9985);
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(Msg(e), "ZofrinDB: Number is out of range. Value 7 too big [$2701/9985]");
  }
  try {
    zfRaiseIfError(9985);
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(Msg(e), "ZofrinDB: Number is out of range. [$2701/9985]");
  }

  // A pending text for another code is not used, but every construction empties it.
  EzfBaseException::zfSetMessage(9729, u"for 9729 only");
  EXPECT_EQ(Msg(EzfBaseException(9730)), "ZofrinDB: Minimum validity check failed. [$2602/9730]");
  uint32_t code = 1;
  std::u16string text = u"x";
  EzfBaseException::GetLastConvertedException(code, text);
  EXPECT_EQ(code, 9729u);  // the code stays
  EXPECT_EQ(text, u"");

  // Format form of zfSetMessage; and the pair is per thread.
  EzfBaseException::zfSetMessage(9986, u"param %d", {4});
  std::thread([] {
    uint32_t c = 1;
    std::u16string t = u"x";
    EzfBaseException::GetLastConvertedException(c, t);
    EXPECT_EQ(c, 0u);
    EXPECT_EQ(t, u"");
  }).join();
  EXPECT_EQ(Msg(EzfBaseException(9986)), "ZofrinDB: param 4 [$2702/9986]");
}

TEST_F(EngineException, CustomInfoBlocksAreTakenOutOfTheText) {
  EXPECT_EQ(zfEncodeCustomInfo(u"File", u"x.dat "), u"<[--!\u00FEFile=x.dat \u00FE!--]>");

  EzfBaseException e(9217, u"a" + zfEncodeCustomInfo(u"File", u"x.dat ") + u"b" + zfEncodeCustomInfo(u"=novalue", u"") +
                               zfEncodeCustomInfo(u"NoValue", u"") + u"<[--!\u00FEnoeq\u00FE!--]>" +
                               zfEncodeCustomInfo(u"file", u"y.dat") + u"c");
  EXPECT_EQ(e.GetErrorString(), u"abc");
  EXPECT_EQ(Msg(e), "ZofrinDB: abc [$2401/9217]");
  TzfCustomInfos& infos = e.GetCustomInfos();
  ASSERT_EQ(infos.Count(), 1);  // nameless and valueless blocks are stored nowhere
  EXPECT_EQ(infos[0].first, u"File");
  EXPECT_EQ(infos.Value(u"FILE"), u"y.dat");  // later block replaces, names ignore case

  // A block without its end marker runs to the end of the text.
  EzfBaseException open(9217, u"text<[--!\u00FEK=v and more");
  EXPECT_EQ(open.GetErrorString(), u"text");
  EXPECT_EQ(open.GetCustomInfos().Value(u"K"), u"v and more");

  // Assigning an empty value removes the line.
  infos.SetValue(u"file", u"");
  EXPECT_EQ(infos.Count(), 0);
}

TEST_F(EngineException, OSErrorBlockSetsTheNumberAndMalformedOnesAreIgnored) {
  struct Case {
    const char16_t* Value;
    uint32_t OSError;
  };
  const Case cases[] = {{u"5", 5}, {u"4294967295", 4294967295u}, {u"4294967296", 0}, {u"-1", 0},
                        {u"abc", 0}, {u"99999999999999999999999", 0}};
  for (const Case& c : cases) {
    EzfBaseException e(11047, u"x" + zfEncodeCustomInfo(u"OSError", c.Value));
    EXPECT_EQ(e.GetOSError(), c.OSError) << u8(c.Value);
    EXPECT_EQ(Msg(e), "ZofrinDB: x [$2B27/11047]");
  }
}

TEST_F(EngineException, ExceptionDataBlockIsDecodedThroughTheHookOrDropped) {
  const std::u16string text = u"t" + zfEncodeCustomInfo(u"$ExceptionData$", u"RURWAAAA") + zfEncodeCustomInfo(u"K", u"v");

  // Without a decoder the block is dropped.
  EzfBaseException none(9729, text);
  EXPECT_EQ(none.GetErrorString(), u"t");
  EXPECT_EQ(none.GetCustomInfos().Count(), 1);
  EXPECT_EQ(none.GetExceptionData(), nullptr);

  static std::u16string seen;
  static auto fake = std::make_shared<int>(42);
  TzfExceptionDataHooks hooks;
  hooks.Decode = [](const std::u16string& aText) -> TzfExceptionDataRef {
    seen = aText;
    return std::shared_ptr<IzfExceptionDataContainer>(fake, reinterpret_cast<IzfExceptionDataContainer*>(fake.get()));
  };
  zfSetExceptionDataHooks(hooks);
  EzfBaseException decoded(9729, text);
  EXPECT_EQ(seen, u"RURWAAAA");
  EXPECT_NE(decoded.GetExceptionData(), nullptr);
  EXPECT_EQ(decoded.GetCustomInfos().IndexOfName(u"$ExceptionData$"), -1);  // the line is removed

  // A decoder that fails on a damaged stream does not hide the real error.
  hooks.Decode = [](const std::u16string&) -> TzfExceptionDataRef {
    throw EzfBaseException(15498, u"Incompatible stream");
  };
  zfSetExceptionDataHooks(hooks);
  EzfBaseException damaged(8961, text);
  EXPECT_EQ(Msg(damaged), "ZofrinDB: t [$2301/8961]");
  EXPECT_EQ(damaged.GetExceptionData(), nullptr);
  EXPECT_EQ(damaged.GetCustomInfos().Value(u"K"), u"v");
}

TEST_F(EngineException, TidyingOfMultiLineMessages) {
  struct Case {
    const char16_t* In;
    const char16_t* Out;
  };
  const Case cases[] = {
      {u"", u""},
      {u"one  \t", u"one"},
      {u" \t ", u""},
      {u"one\r\n  \r\n\n", u"one"},
      {u"one\ntwo", u"one\r\ntwo\r\n\r\n"},
      {u"one\rtwo \r\n\r\n", u"one\r\ntwo \r\n\r\n"},
      {u"a\r\n\r\nb", u"a\r\n\r\nb\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(zfTidyMessage(c.In), c.Out) << u8(c.In);
  EXPECT_EQ(Msg(EzfBaseException(9217, u"first\nsecond")), "ZofrinDB: first\r\nsecond\r\n\r\n [$2401/9217]");
}

TEST_F(EngineException, OSErrorExceptionCarriesErrorNumberAndAction) {
  zf::os::SetLastError(5);
  EzfBaseException e = zfCreateOSErrorException(0, u"zfOpen/open");
  EXPECT_EQ(e.GetErrorCode(), 11047u);
  EXPECT_EQ(e.GetOSError(), 5u);
  EXPECT_EQ(e.GetCustomInfos().Value(u"OSError"), u"5");
  EXPECT_EQ(e.GetCustomInfos().Value(u"Action"), u"zfOpen/open");
  const std::string sys = zf::os::SysErrorMessage(5);
  EXPECT_EQ(Msg(e), "ZofrinDB: Operating system error in zfOpen/open: " + sys + " ($5/5) [$2B27/11047]");

  // No action; and the format form of the action.
  zf::os::SetLastError(EACCES);
  EXPECT_EQ(Msg(zfCreateOSErrorException(9218, u"")),
            "ZofrinDB: Operating system error: " + zf::os::SysErrorMessage(EACCES) + " ($D/13) [$2402/9218]");
  EzfBaseException f = zfCreateOSErrorException(9218, u"Write/%d", {2});
  EXPECT_EQ(f.GetCustomInfos().Value(u"Action"), u"Write/2");
  EXPECT_EQ(f.GetOSError(), 13u);

  // Without an OS error; blocks in the action go into the custom informations.
  zf::os::SetLastError(0);
  EzfBaseException g = zfCreateOSErrorException(0, u"Step" + zfEncodeCustomInfo(u"File", u"a.dat"));
  EXPECT_EQ(Msg(g), "ZofrinDB: A call to an OS function failed in Step [$2B27/11047]");
  EXPECT_EQ(g.GetCustomInfos().Value(u"File"), u"a.dat");
  EXPECT_EQ(g.GetOSError(), 0u);
  EXPECT_EQ(Msg(zfCreateOSErrorException(0, u"")), "ZofrinDB: A call to an OS function failed. [$2B27/11047]");
}

ZF_DECLARE_ENGINE_EXCEPTION(EzfTestUnitException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTestLeafException, EzfTestUnitException)

TEST_F(EngineException, DeclaredSubclassesKeepConstructorsAndName) {
  try {
    throw EzfTestLeafException(9729, u"leaf %d", {1});
  } catch (const EzfTestUnitException& e) {
    EXPECT_STREQ(e.ClassName(), "EzfTestLeafException");
    EXPECT_EQ(Msg(e), "ZofrinDB: leaf 1 [$2601/9729]");
  }
  zf::os::SetLastError(2);
  EzfTestLeafException os = zfCreateOSErrorException<EzfTestLeafException>(9217, u"Read/read");
  EXPECT_EQ(os.GetOSError(), 2u);
  EXPECT_STREQ(os.ClassName(), "EzfTestLeafException");

  zf::os::SetLastError(2);
  EXPECT_TRUE(zfWin32Check(true, u"x"));
  try {
    zfWin32Check(false, u"Open/open");
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.GetErrorCode(), 11047u);
    EXPECT_EQ(e.GetOSError(), 2u);
  }
  try {
    zfRaiseLastOSErrorUnknown();
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.CustomInfos().Value(u"Action"), u"[unknown]");
  }
}

TEST_F(EngineException, MismatchedFormatFailsBeforeTheException) {
  EXPECT_THROW(EzfBaseException(9729, u"%d", {u"text"}), rtl::EConvertError);
}

}  // namespace
}  // namespace zf
