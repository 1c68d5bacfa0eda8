// zfRecover: recovers a damaged ".dvl7" table named as its first parameter or chosen in an open
// dialog. With a display the window shows the engine's statistics and the progress; without one
// (or after a leading "--headless") the same run goes on the terminal: log lines on standard
// output, a progress line on standard error when that is a terminal, SIGINT and SIGTERM cancel;
// SIGPIPE and SIGXFSZ are ignored, so a write they would have stopped fails instead.
//
// Exit code: 0 after a successful recover, 2 when there is no table file to recover (missing, of
// another extension, or no file given and no window to ask in), 1 for every other failure.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "client/zfdbStartup.h"
#include "platform/gui/guiBackend.h"
#include "platform/rtl/rtlException.h"
#include "tool/frmRecoverMain.h"
#include "tool/zfRecoverComponents.h"

namespace {

void PrintError(const std::string& aText) { std::fprintf(stderr, "zfRecover: %s\n", aText.c_str()); }

// The layers started for the run and stopped again, in reverse order, however the run ends.
struct TEngineLayers {
  TEngineLayers() { zf::zfStartClient(); }
  ~TEngineLayers() { zf::zfStopClient(); }
  TEngineLayers(const TEngineLayers&) = delete;
  TEngineLayers& operator=(const TEngineLayers&) = delete;
};

}  // namespace

int main(int argc, char** argv) {
  // A reader of the output that goes away (zfRecover ... | head) or a file-size limit must not
  // kill the run, least of all between its two renames: the write fails instead. Lost output lines
  // are harmless (the event log has them all); a table write that fails takes the error path.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  zf::gui::TBackendChoice choice;
  try {
    choice = zf::gui::ChooseBackend(args, zf::gui::DisplayAvailable());
  } catch (const zf::rtl::Exception& e) {
    PrintError(zf::rtl::u8(e.Message()));
    return zf::zfRecoverExitNoTable;
  } catch (const std::exception& e) {  // out of memory: never an uncaught exception
    PrintError(e.what());
    return zf::zfRecoverExitFailure;
  }
  // Headless, SIGINT and SIGTERM cancel the run through the event loop. Until the loop runs they
  // are held back (in every thread, which inherit the mask), so that one sent during the start-up
  // ends the run with its line instead of killing the process without a word.
  if (choice.Kind == zf::gui::bkHeadless) {
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &both, nullptr);
  }
  try {
    TEngineLayers layers;
    std::unique_ptr<zf::gui::TApplication> app = zf::gui::CreateApplication(std::move(choice), argv[0]);
    int code;
    {
      zf::TzfRecoverComponents engine;
      zf::TfrmMain frmMain(*app, engine);
      code = app->Run();
    }
    return code;
  } catch (const zf::rtl::Exception& e) {
    PrintError(zf::rtl::u8(e.Message()));
  } catch (const std::exception& e) {
    PrintError(e.what());
  }
  return zf::zfRecoverExitFailure;
}
