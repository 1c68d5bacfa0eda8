// The window toolkit's libraries, and the event-loop library its threads run on, are not built with
// ThreadSanitizer: their own thread pools and atomics are invisible to it and show up as races
// inside them. Reports whose frames lie in those libraries are suppressed; races in our code are
// still reported. Every test executable that runs the toolkit links this file (platform_gui, tool).
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n"
         "race:libglib-2.0.so\n"
         "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "called_from_lib:libglib-2.0.so.0\n";
}
