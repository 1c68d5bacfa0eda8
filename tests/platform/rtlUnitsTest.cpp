#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlUnits.h"

using namespace zf::rtl;

namespace {

std::string gTrace;
bool gFailB = false;

TUnitInit gA("A", [] { gTrace += "+A"; }, [] { gTrace += "-A"; });
TUnitInit gB(
    "B",
    [] {
      if (gFailB) throw EAbort(u"no");
      gTrace += "+B";
    },
    [] { gTrace += "-B"; });
TUnitInit gBelow("L", [] { gTrace += "+L"; }, [] { gTrace += "-L"; });

TStartupList BuildAB() {
  TStartupList l;
  l.Add(gA);
  l.Add(gB);
  return l;
}

}  // namespace

TEST(LayerStartup, CountedStartsAndReverseStops) {
  gTrace.clear();
  gFailB = false;
  TLayerStartup layer(&BuildAB, [] { gBelow.Initialize(); }, [] { gBelow.Finalize(); });
  layer.Start();
  layer.Start();
  layer.Stop();
  EXPECT_EQ(gTrace, "+L+A+B");
  layer.Stop();
  layer.Stop();  // one stop too many does nothing
  EXPECT_EQ(gTrace, "+L+A+B-B-A-L");
}

TEST(LayerStartup, FailedStartLeavesNothingStarted) {
  gTrace.clear();
  gFailB = true;
  TLayerStartup layer(&BuildAB, [] { gBelow.Initialize(); }, [] { gBelow.Finalize(); });
  EXPECT_THROW(layer.Start(), EAbort);
  EXPECT_EQ(gTrace, "+L+A-A-L");
  EXPECT_EQ(gA.Count(), 0);
  EXPECT_EQ(gBelow.Count(), 0);
  gFailB = false;
  layer.Start();  // a later start tries again from scratch
  layer.Stop();
  EXPECT_EQ(gTrace, "+L+A-A-L+L+A+B-B-A-L");
}
