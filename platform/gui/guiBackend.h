// The choice between the window and the headless backend, made once at start-up from the command
// line and the environment:
// - a leading "--headless" asks for the headless backend (and is removed from the parameters);
// - with a display (DISPLAY or WAYLAND_DISPLAY set) the window backend runs;
// - without one, a run that names a file runs headless;
// - a run without a file and with no window to show an open dialog in has nothing to ask for.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/guiForms.h"
#include "platform/rtl/rtlException.h"

namespace zf::gui {

// No file was given and there is no window to ask for one in.
class ENoFileToAsk : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
  const char* ClassName() const noexcept override { return "ENoFileToAsk"; }
};

enum TBackendKind : uint8_t { bkWindow, bkHeadless };

struct TBackendChoice {
  TBackendKind Kind = bkWindow;
  std::vector<std::string> Params;  // the program's parameters without "--headless"
};

// The choice for the parameters after the program name (aArgs) and whether a display is there.
// Raises ENoFileToAsk when no file is given and the run would be headless.
TBackendChoice ChooseBackend(std::vector<std::string> aArgs, bool aDisplay);

// True when DISPLAY or WAYLAND_DISPLAY is set to something.
bool DisplayAvailable();

// The application for a choice; aProgramName is the program's path (argv[0]). The window backend
// initialises Qt; the headless one never does.
std::unique_ptr<TApplication> CreateApplication(TBackendChoice aChoice, const std::string& aProgramName);

}  // namespace zf::gui
