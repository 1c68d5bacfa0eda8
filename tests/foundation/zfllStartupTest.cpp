// The foundation's start-up list: units start in link order and stop in reverse, counted.
#include <gtest/gtest.h>

#include "foundation/zflgEventLog.h"
#include "foundation/zfllExceptionData.h"
#include "foundation/zfllStartup.h"

using namespace zf;

TEST(FoundationStartup, StartsCountedAndStopsInReverse) {
  zfStartFoundation();
  zfStartFoundation();  // a second start only counts
  EXPECT_GT(zfllExceptionDataUnit().Count(), 0);
  EXPECT_NE(TzfRegisterableComponent::FindRegisteredClass(u"TzfEventLog"), nullptr);
  zfStopFoundation();
  EXPECT_NE(TzfRegisterableComponent::FindRegisteredClass(u"TzfEventLog"), nullptr);
  zfStopFoundation();
  EXPECT_EQ(TzfRegisterableComponent::FindRegisteredClass(u"TzfEventLog"), nullptr);
  EXPECT_EQ(zflgEventLogUnit().Count(), 0);
  EXPECT_EQ(zfllExceptionDataUnit().Count(), 0);
}
