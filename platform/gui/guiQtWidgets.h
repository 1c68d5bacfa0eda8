// The window backend on Qt Widgets. The form is a top-level widget with the progress bar along its
// top and the list (a tree widget in report style) filling the rest; the timer is a QTimer, the
// open dialog Qt's own (non-native) file dialog, message boxes QMessageBox. Modal dialogs run a
// nested event loop, so the timer keeps ticking while they are open. Release is the widget
// toolkit's deferred delete: the form is destroyed once control is back in the event loop that was
// running when it was released.
//
// Qt stays inside this unit: the header names no Qt type beyond a forward-declared QWidget.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/guiForms.h"

class QWidget;

namespace zf::gui {

// Initialises Qt (one application object per process at a time: a second raises rtl::Exception)
// with aProgramName as its argv[0]; none of the program's parameters reach Qt. Qt needs a display,
// or QT_QPA_PLATFORM naming a platform that needs none (such as "offscreen").
std::unique_ptr<TApplication> CreateQtApplication(std::vector<std::string> aParams, const std::string& aProgramName);

// The top-level widget of a form this backend created; nullptr for any other form.
QWidget* QtWindowOf(TForm& aForm);

// The filter of a TFormResource in Qt's form: "description (patterns)" per pair, the patterns
// separated by blanks. A description that already ends with its patterns in brackets stays as it is.
std::vector<std::string> QtNameFilters(const UnicodeString& aFilter);

}  // namespace zf::gui
