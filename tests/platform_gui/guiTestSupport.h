// Shared by the toolkit tests: the recovery tool's form resource with a short tick for tests, and
// a Qt application on the "offscreen" platform (no display needed).
#pragma once
#include <cstdlib>
#include <memory>

#include "platform/gui/guiForms.h"
#include "platform/gui/guiQtWidgets.h"

namespace zf::gui::test {

// The tool's main form with a test-only tick interval.
inline TFormResource MainFormResource(uint32_t aInterval = 10) {
  TFormResource r;
  r.Caption = u"zfRecover";
  r.ClientWidth = 744;
  r.ClientHeight = 572;
  r.Columns = {u"Name", u"Value"};
  r.TimerInterval = aInterval;
  r.DialogFilter = u"Dravolt 7 Log File (*.dvl7)|*.dvl7";
  r.DialogDefaultExt = u"dvl7";
  return r;
}

inline std::unique_ptr<TApplication> OffscreenQtApplication() {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return CreateQtApplication({}, "test_platform_gui");
}

}  // namespace zf::gui::test
