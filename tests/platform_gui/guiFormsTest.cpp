// What every backend's list view and progress bar do alike, run against both.
#include <gtest/gtest.h>

#include <functional>

#include "guiTestSupport.h"
#include "platform/gui/guiHeadless.h"
#include "platform/rtl/rtlException.h"

using namespace zf::gui;

namespace {

struct TBackendParam {
  const char* name;
  std::function<std::unique_ptr<TApplication>()> make;
};

void PrintTo(const TBackendParam& aParam, std::ostream* aOut) { *aOut << aParam.name; }

class TFormsOnEveryBackend : public ::testing::TestWithParam<TBackendParam> {
 protected:
  std::unique_ptr<TApplication> App = GetParam().make();
  TForm& Form = App->CreateForm(test::MainFormResource());
};

}  // namespace

TEST_P(TFormsOnEveryBackend, ListRowsKeepCaptionsAndValues) {
  TListView& list = Form.ListView();
  EXPECT_EQ(list.Count(), 0);
  list.BeginUpdate();
  list.AddItem(u"Sessions");
  list.AddItem(u"Cursors");
  list.EndUpdate();
  list.SetValue(1, u"7");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Caption(0), u"Sessions");
  EXPECT_EQ(list.Value(0), u"");
  EXPECT_EQ(list.Caption(1), u"Cursors");
  EXPECT_EQ(list.Value(1), u"7");
  for (int32_t bad : {-1, 2}) {
    EXPECT_THROW(list.SetValue(bad, u"x"), zf::rtl::EListError);
    EXPECT_THROW(list.Value(bad), zf::rtl::EListError);
  }
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

// Position stays within 0..Max: clamped when set, pulled down by a smaller Max; StepIt stops at Max.
TEST_P(TFormsOnEveryBackend, ProgressBarKeepsPositionWithinRange) {
  TProgressBar& bar = Form.ProgressBar();
  EXPECT_EQ(bar.Max(), 100);
  EXPECT_EQ(bar.Position(), 0);
  struct {
    enum { max, position, step } op;
    int32_t value, wantMax, wantPosition;
  } steps[] = {
      {steps->max, 10, 10, 0},         {steps->position, 7, 10, 7},   {steps->position, 11, 10, 10},
      {steps->position, -3, 10, 0},    {steps->position, 9, 10, 9},   {steps->step, 0, 10, 10},
      {steps->step, 0, 10, 10},        {steps->max, 4, 4, 4},         {steps->max, -5, 0, 0},
      {steps->position, 1, 0, 0},      {steps->max, 3, 3, 0},         {steps->step, 0, 3, 1},
  };
  for (const auto& s : steps) {
    if (s.op == s.max) bar.SetMax(s.value);
    if (s.op == s.position) bar.SetPosition(s.value);
    if (s.op == s.step) bar.StepIt();
    EXPECT_EQ(bar.Max(), s.wantMax);
    EXPECT_EQ(bar.Position(), s.wantPosition);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Backends, TFormsOnEveryBackend,
    ::testing::Values(TBackendParam{"Headless", [] { return std::make_unique<THeadlessApplication>(std::vector<std::string>{}); }},
                      TBackendParam{"QtWidgets", [] { return test::OffscreenQtApplication(); }}),
    [](const ::testing::TestParamInfo<TBackendParam>& aInfo) { return std::string(aInfo.param.name); });

TEST(DialogFilter, SplitsIntoPairs) {
  using P = std::vector<std::pair<std::u16string, std::u16string>>;
  EXPECT_EQ(SplitDialogFilter(u""), P{});
  EXPECT_EQ(SplitDialogFilter(u"Dravolt 7 Log File (*.dvl7)|*.dvl7"), (P{{u"Dravolt 7 Log File (*.dvl7)", u"*.dvl7"}}));
  EXPECT_EQ(SplitDialogFilter(u"A|*.a|B|*.b;*.c|dangling"), (P{{u"A", u"*.a"}, {u"B", u"*.b;*.c"}}));
}

TEST(DialogFilter, QtNameFilters) {
  using V = std::vector<std::string>;
  EXPECT_EQ(QtNameFilters(u"Dravolt 7 Log File (*.dvl7)|*.dvl7"), V{"Dravolt 7 Log File (*.dvl7)"});
  EXPECT_EQ(QtNameFilters(u"Logs|*.dvl7;*.log|All (*.*)|*.*"), (V{"Logs (*.dvl7 *.log)", "All (*.*)"}));
  EXPECT_EQ(QtNameFilters(u"Old (*.x)|*.y"), V{"Old (*.x) (*.y)"});  // the pattern given is the one used
}
