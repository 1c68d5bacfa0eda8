#include "platform/gui/guiBackend.h"

#include <cstdlib>
#include <utility>

#include "platform/gui/guiHeadless.h"
#include "platform/gui/guiQtWidgets.h"

namespace zf::gui {

namespace {

bool EnvSet(const char* aName) {
  const char* value = std::getenv(aName);
  return value != nullptr && *value != '\0';
}

}  // namespace

TBackendChoice ChooseBackend(std::vector<std::string> aArgs, bool aDisplay) {
  TBackendChoice choice;
  bool headless = !aArgs.empty() && aArgs.front() == "--headless";
  if (headless) aArgs.erase(aArgs.begin());
  if (!aDisplay) headless = true;
  if (headless && aArgs.empty())
    throw ENoFileToAsk(u"No file to recover was given, and a run without a window cannot ask for one");
  choice.Kind = headless ? bkHeadless : bkWindow;
  choice.Params = std::move(aArgs);
  return choice;
}

bool DisplayAvailable() { return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY"); }

std::unique_ptr<TApplication> CreateApplication(TBackendChoice aChoice, const std::string& aProgramName) {
  if (aChoice.Kind == bkHeadless) return std::make_unique<THeadlessApplication>(std::move(aChoice.Params));
  return CreateQtApplication(std::move(aChoice.Params), aProgramName);
}

}  // namespace zf::gui
