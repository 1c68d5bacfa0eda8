// The window toolkit's libraries are not built with ThreadSanitizer: their own thread pools and
// atomics are invisible to it and show up as races inside the toolkit. Reports whose frames lie in
// those libraries are suppressed; races in our code are still reported.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n"
         "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}
