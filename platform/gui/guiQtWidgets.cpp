#include "platform/gui/guiQtWidgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <utility>

#include "platform/rtl/rtlException.h"

namespace zf::gui {

namespace {

QString ToQ(rtl::UnicodeStringView aText) {
  return QString::fromUtf16(aText.data(), static_cast<qsizetype>(aText.size()));
}

UnicodeString FromQ(const QString& aText) {
  return UnicodeString(reinterpret_cast<const char16_t*>(aText.utf16()), static_cast<size_t>(aText.size()));
}

class TQtApplication;

// Runs every handler the toolkit calls. Exceptions must not cross Qt's event loop: the first one is
// kept, every event loop is told to end, and Run raises it again.
class THandlerGuard {
 public:
  template <typename F>
  static void Call(F&& aHandler) {
    try {
      aHandler();
    } catch (...) {
      if (!gPending) gPending = std::current_exception();
      QCoreApplication::exit(1);
    }
  }
  static std::exception_ptr Take() { return std::exchange(gPending, nullptr); }

 private:
  static inline std::exception_ptr gPending;
};

// The form's top-level widget. Every close request goes to the form, which accepts it by releasing
// itself; the widget itself never closes on its own.
class TQtWindow final : public QWidget {
 public:
  std::function<void()> OnCloseRequest;

 protected:
  void closeEvent(QCloseEvent* aEvent) override {
    aEvent->ignore();
    THandlerGuard::Call([this] {
      if (OnCloseRequest) OnCloseRequest();
    });
  }
};

// Its deferred delete is the form's destruction: deleteLater holds it back until control is in
// the event loop that was running at the release (or in the application's loop once it starts).
class TReleaseToken final : public QObject {
 public:
  explicit TReleaseToken(std::function<void()> aOnDelete) : FOnDelete(std::move(aOnDelete)) {}
  ~TReleaseToken() override {
    if (FOnDelete) THandlerGuard::Call(FOnDelete);
  }
  // Deleting a disarmed token runs nothing.
  void Disarm() { FOnDelete = nullptr; }

 private:
  std::function<void()> FOnDelete;
};

UnicodeString IndexError(int32_t aRow) {
  return u"List index out of bounds (" + rtl::IntToStr(aRow) + u")";
}

class TQtListView final : public TListView {
 public:
  TQtListView(QWidget* aParent, const std::vector<UnicodeString>& aColumns) : FTree(new QTreeWidget(aParent)) {
    QStringList labels;
    for (const UnicodeString& c : aColumns) labels << ToQ(c);
    FTree->setObjectName(QStringLiteral("lvStatistics"));
    FTree->setColumnCount(static_cast<int>(labels.size()));
    FTree->setHeaderLabels(labels);
    FTree->setRootIsDecorated(false);
    FTree->setItemsExpandable(false);
    FTree->setUniformRowHeights(true);
    FTree->setSortingEnabled(false);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTree->header()->setSectionsClickable(false);
    FTree->header()->setSectionsMovable(false);
    // The columns size themselves: every column but the last to its contents, the last takes
    // what remains of the width.
    for (int i = 0; i + 1 < FTree->columnCount(); ++i)
      FTree->header()->setSectionResizeMode(i, QHeaderView::ResizeToContents);
    FTree->header()->setStretchLastSection(true);
  }

  QTreeWidget* Tree() const { return FTree; }

  void BeginUpdate() override {
    if (FUpdates++ == 0) FTree->setUpdatesEnabled(false);
  }
  void EndUpdate() override {
    if (FUpdates > 0 && --FUpdates == 0) FTree->setUpdatesEnabled(true);
  }
  void Clear() override { FTree->clear(); }
  void AddItem(const UnicodeString& aCaption) override {
    auto* item = new QTreeWidgetItem(FTree);
    item->setText(0, ToQ(aCaption));
  }
  void SetValue(int32_t aRow, const UnicodeString& aValue) override { Item(aRow)->setText(1, ToQ(aValue)); }
  int32_t Count() const override { return FTree->topLevelItemCount(); }
  UnicodeString Caption(int32_t aRow) const override { return FromQ(Item(aRow)->text(0)); }
  UnicodeString Value(int32_t aRow) const override { return FromQ(Item(aRow)->text(1)); }

 private:
  QTreeWidgetItem* Item(int32_t aRow) const {
    if (aRow < 0 || aRow >= Count()) throw rtl::EListError(IndexError(aRow));
    return FTree->topLevelItem(aRow);
  }

  QTreeWidget* FTree;  // owned by the window
  int FUpdates = 0;
};

class TQtProgressBar final : public TProgressBar {
 public:
  explicit TQtProgressBar(QWidget* aParent) : FBar(new QProgressBar(aParent)) {
    FBar->setObjectName(QStringLiteral("pbrRead"));
    FBar->setTextVisible(false);
    FBar->setFixedHeight(17);
    Changed();
  }

  QProgressBar* Bar() const { return FBar; }

 protected:
  void Changed() override {
    // A range of 0..0 would turn Qt's bar into a busy indicator; an empty bar is what 0 of 0 shows.
    FBar->setRange(0, Max() > 0 ? Max() : 1);
    FBar->setValue(Position());
  }

 private:
  QProgressBar* FBar;  // owned by the window
};

// Qt never delivers a timer's event again while its slot still runs, so a tick handler that opens
// a modal box would stop the ticks until the box is closed. The timer therefore only posts the
// tick, and the handler runs from the posted call: inside a box's nested loop the timer fires and
// posts again, and the handler runs again there. One tick at most is pending at a time, and a tick
// posted before the timer was switched off or restarted is dropped.
class TQtTimer final : public TTimer {
 public:
  TQtTimer(QObject* aParent, uint32_t aInterval) : FTimer(new QTimer(aParent)) {
    FTimer->setObjectName(QStringLiteral("tmrUpdate"));
    FTimer->setInterval(static_cast<int>(std::min<uint32_t>(aInterval, INT32_MAX)));
    FTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(FTimer, &QTimer::timeout, [this] {
      if (FTickPending) return;
      FTickPending = true;
      QMetaObject::invokeMethod(
          FTimer,
          [this, generation = FGeneration] {
            FTickPending = false;
            if (generation != FGeneration || !FTimer->isActive()) return;
            THandlerGuard::Call([this] {
              if (OnTimer) OnTimer();
            });
          },
          Qt::QueuedConnection);
    });
  }
  ~TQtTimer() override { delete FTimer; }

  void SetEnabled(bool aEnabled) override {
    ++FGeneration;
    FTickPending = false;
    FSoon.store(false, std::memory_order_relaxed);
    if (aEnabled)
      FTimer->start();
    else
      FTimer->stop();
  }
  bool Enabled() const override { return FTimer->isActive(); }
  // The flag, then a call posted to the window's thread (dropped with the timer): there an active
  // timer restarts its interval and the tick runs as a posted one does.
  void TickSoon() override {
    FSoon.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        FTimer,
        [this] {
          if (!FSoon.exchange(false, std::memory_order_acq_rel) || !FTimer->isActive() || FTickPending) return;
          FTimer->start();
          THandlerGuard::Call([this] {
            if (OnTimer) OnTimer();
          });
        },
        Qt::QueuedConnection);
  }

 private:
  QTimer* FTimer;  // owned by the window
  uint64_t FGeneration = 0;
  bool FTickPending = false;
  std::atomic<bool> FSoon{false};
};

class TQtOpenDialog final : public TOpenDialog {
 public:
  TQtOpenDialog(QWidget* aParent, const TFormResource& aResource)
      : FParent(aParent), FDefaultExt(ToQ(aResource.DialogDefaultExt)) {
    for (const std::string& f : QtNameFilters(aResource.DialogFilter)) FFilters << QString::fromStdString(f);
  }

  bool Execute() override {
    FFileName.clear();
    QFileDialog dialog(FParent, QStringLiteral("Open"));
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!FFilters.isEmpty()) dialog.setNameFilters(FFilters);
    dialog.setDefaultSuffix(FDefaultExt);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    FFileName = FromQ(files.first());
    return true;
  }

 private:
  QWidget* FParent;
  QString FDefaultExt;
  QStringList FFilters;
};

class TQtForm final : public TForm {
 public:
  explicit TQtForm(const TFormResource& aResource)
      : FWindow(std::make_unique<TQtWindow>()),
        FTitle(ToQ(aResource.Caption)),
        FProgressBar(FWindow.get()),
        FListView(FWindow.get(), aResource.Columns),
        FTimer(FWindow.get(), aResource.TimerInterval),
        FOpenDialog(FWindow.get(), aResource) {
    FWindow->setObjectName(QStringLiteral("frmMain"));
    FWindow->setWindowTitle(FTitle);
    auto* layout = new QVBoxLayout(FWindow.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FProgressBar.Bar());
    layout->addWidget(FListView.Tree(), 1);
    FWindow->resize(aResource.ClientWidth, aResource.ClientHeight);
    FWindow->OnCloseRequest = [this] {
      if (FReleased) return;
      bool canClose = true;
      if (OnCloseQuery) OnCloseQuery(canClose);
      if (canClose) Release();
    };
  }

  ~TQtForm() override {
    // The token's delete would run the destruction handler on an object that is going away.
    if (FToken) {
      FToken->Disarm();
      delete FToken;
    }
  }

  QWidget* Window() const { return FWindow.get(); }
  bool Destroyed() const { return FDestroyed; }

  void SetCaption(const UnicodeString& aCaption) override { FWindow->setWindowTitle(ToQ(aCaption)); }
  UnicodeString Caption() const override { return FromQ(FWindow->windowTitle()); }
  TListView& ListView() override { return FListView; }
  TProgressBar& ProgressBar() override { return FProgressBar; }
  TTimer& Timer() override { return FTimer; }
  TOpenDialog& OpenDialog() override { return FOpenDialog; }

  void ShowMessage(const UnicodeString& aText) override {
    QMessageBox box(QMessageBox::NoIcon, FTitle, ToQ(aText), QMessageBox::Ok, FWindow.get());
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
  }

  void Release() override {
    if (FReleased) return;
    FReleased = true;
    FToken = new TReleaseToken([this] {
      FToken = nullptr;
      Destroy();
    });
    FToken->deleteLater();
  }
  bool Released() const override { return FReleased; }

 private:
  void Destroy() {
    FTimer.SetEnabled(false);
    FWindow->hide();
    FDestroyed = true;
    if (OnDestroy) OnDestroy();
    QCoreApplication::exit(0);
  }

  std::unique_ptr<TQtWindow> FWindow;  // owns every widget below
  QString FTitle;                      // the resource's caption, the title of message boxes
  TQtProgressBar FProgressBar;
  TQtListView FListView;
  TQtTimer FTimer;
  TQtOpenDialog FOpenDialog;
  TReleaseToken* FToken = nullptr;
  bool FReleased = false;
  bool FDestroyed = false;
};

class TQtApplication final : public TApplication {
 public:
  TQtApplication(std::vector<std::string> aParams, const std::string& aProgramName)
      : TApplication(std::move(aParams)), FProgramName(aProgramName) {
    if (QCoreApplication::instance() != nullptr)
      throw rtl::Exception(u"A window application object exists already");
    FArgv[0] = FProgramName.data();
    FApp = std::make_unique<QApplication>(FArgc, FArgv);
    // The form ends the loop when it is destroyed, not when its window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
  }

  ~TQtApplication() override {
    FForm.reset();  // widgets go before the application object
    FApp.reset();
  }

  TForm& CreateForm(const TFormResource& aResource) override {
    if (FForm) throw rtl::Exception(u"The application already has a main form");
    FForm = std::make_unique<TQtForm>(aResource);
    return *FForm;
  }

  int Run() override {
    if (!FForm) throw rtl::Exception(u"The application has no main form");
    if (!FForm->Destroyed()) {
      if (!FForm->Released()) FForm->Window()->show();
      QApplication::exec();
    }
    if (std::exception_ptr e = THandlerGuard::Take()) std::rethrow_exception(e);
    return FExitCode;
  }

  void LogLine(const UnicodeString&) override {}
  bool Headless() const override { return false; }

 private:
  std::string FProgramName;
  int FArgc = 1;
  char* FArgv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> FApp;
  std::unique_ptr<TQtForm> FForm;
};

}  // namespace

std::unique_ptr<TApplication> CreateQtApplication(std::vector<std::string> aParams, const std::string& aProgramName) {
  return std::make_unique<TQtApplication>(std::move(aParams), aProgramName);
}

QWidget* QtWindowOf(TForm& aForm) {
  auto* form = dynamic_cast<TQtForm*>(&aForm);
  return form != nullptr ? form->Window() : nullptr;
}

std::vector<std::string> QtNameFilters(const UnicodeString& aFilter) {
  std::vector<std::string> filters;
  for (const auto& [description, pattern] : SplitDialogFilter(aFilter)) {
    QString patterns = ToQ(pattern).replace(QLatin1Char(';'), QLatin1Char(' ')).simplified();
    QString desc = ToQ(description).trimmed();
    const QString tail = QLatin1Char('(') + patterns + QLatin1Char(')');
    if (!desc.endsWith(tail)) desc = (desc.isEmpty() ? QString() : desc + QLatin1Char(' ')) + tail;
    filters.push_back(desc.toStdString());
  }
  return filters;
}

}  // namespace zf::gui
