#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>
#include <optional>

#include "platform/gui/guiBackend.h"

using namespace zf::gui;

TEST(BackendChoice, FromParametersAndDisplay) {
  using V = std::vector<std::string>;
  struct {
    V args;
    bool display;
    std::optional<TBackendKind> kind;  // none: ENoFileToAsk
    V params;
  } cases[] = {
      {{"/d/a.dvl7"}, true, bkWindow, {"/d/a.dvl7"}},
      {{}, true, bkWindow, {}},                                    // the window asks for the file
      {{"/d/a.dvl7"}, false, bkHeadless, {"/d/a.dvl7"}},
      {{"--headless", "/d/a.dvl7"}, true, bkHeadless, {"/d/a.dvl7"}},
      {{"--headless", "/d/a.dvl7"}, false, bkHeadless, {"/d/a.dvl7"}},
      {{"/d/a.dvl7", "--headless"}, true, bkWindow, {"/d/a.dvl7", "--headless"}},  // only leading
      {{}, false, std::nullopt, {}},                               // nothing to ask
      {{"--headless"}, true, std::nullopt, {}},
      {{"--headless"}, false, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + (c.display ? " display" : " no display"));
    if (!c.kind) {
      EXPECT_THROW(ChooseBackend(c.args, c.display), ENoFileToAsk);
      continue;
    }
    const TBackendChoice choice = ChooseBackend(c.args, c.display);
    EXPECT_EQ(choice.Kind, *c.kind);
    EXPECT_EQ(choice.Params, c.params);
  }
}

TEST(BackendChoice, DisplayFromTheEnvironment) {
  struct TSaved {
    const char* name;
    std::optional<std::string> value;
  } saved[] = {{"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}};
  for (auto& s : saved)
    if (const char* v = std::getenv(s.name)) s.value = v;
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_FALSE(DisplayAvailable());
  setenv("DISPLAY", "", 1);
  EXPECT_FALSE(DisplayAvailable());
  setenv("DISPLAY", ":0", 1);
  EXPECT_TRUE(DisplayAvailable());
  unsetenv("DISPLAY");
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_TRUE(DisplayAvailable());
  for (const auto& s : saved) {
    if (s.value)
      setenv(s.name, s.value->c_str(), 1);
    else
      unsetenv(s.name);
  }
}

// The headless choice builds an application without starting Qt.
TEST(BackendChoice, HeadlessApplicationLeavesQtAlone) {
  auto app = CreateApplication(ChooseBackend({"--headless", "/d/a.dvl7"}, true), "zfRecover");
  EXPECT_TRUE(app->Headless());
  EXPECT_EQ(app->Params(), std::vector<std::string>{"/d/a.dvl7"});
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}
