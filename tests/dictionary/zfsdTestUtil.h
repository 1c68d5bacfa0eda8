// Shared helpers of the dictionary tests.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "dictionary/zfsdStartup.h"

#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlText.h"

namespace zf::test {

// Runs f and gives "ok", or "!" + class + ": " + message (with " #code" for engine exceptions).
inline rtl::UnicodeString Outcome(const std::function<void()>& f) {
  try {
    f();
    return u"ok";
  } catch (const EzfBaseException& e) {
    return u"!" + rtl::u16(e.ClassName()) + u" #" + rtl::IntToStr(e.ErrorCode()) + u": " + e.Message();
  } catch (const rtl::Exception& e) {
    return u"!" + rtl::u16(e.ClassName()) + u": " + e.Message();
  }
}

// Base of the test suites that need the dictionary's units (and their registries) started.
class DictionaryStarted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartDictionary(); }
  static void TearDownTestSuite() { zfStopDictionary(); }
};

}  // namespace zf::test
