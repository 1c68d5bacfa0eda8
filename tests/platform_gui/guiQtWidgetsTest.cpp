// The window backend under Qt's "offscreen" platform: the form as the resource describes it, the
// list and the bar as the handlers set them, modal boxes and dialogs with the timer going on, close
// requests and the deferred release, and a screenshot of a demo window in the build folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <functional>
#include <thread>

#include "guiTestSupport.h"
#include "platform/rtl/rtlException.h"

using namespace zf::gui;
using zf::gui::test::MainFormResource;
using zf::gui::test::OffscreenQtApplication;

namespace {

struct TQtWindowTest : ::testing::Test {
  std::unique_ptr<TApplication> App = OffscreenQtApplication();
  TForm& Form = App->CreateForm(MainFormResource());
  QWidget* Window = QtWindowOf(Form);
  QTreeWidget* Tree = Window->findChild<QTreeWidget*>();
  QProgressBar* Bar = Window->findChild<QProgressBar*>();

  // Runs aBody on the first tick (the window is shown then), then releases the form and ends Run.
  void OnFirstTick(std::function<void()> aBody) {
    Form.Timer().OnTimer = [this, aBody] {
      Form.Timer().SetEnabled(false);
      aBody();
      Form.Release();
    };
    Form.Timer().SetEnabled(true);
    EXPECT_EQ(App->Run(), 0);
  }

  // Calls aAction with the modal widget of class T once one is up (polled by a Qt timer).
  template <typename T>
  void WhenModal(std::function<void(T*)> aAction) {
    auto* poll = new QTimer(Window);
    QObject::connect(poll, &QTimer::timeout, [poll, aAction] {
      if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
        poll->stop();
        poll->deleteLater();
        aAction(w);
      }
    });
    poll->start(5);
  }
};

QString Q(const char* aText) { return QString::fromUtf8(aText); }

}  // namespace

TEST_F(TQtWindowTest, FormFollowsItsResource) {
  ASSERT_NE(Window, nullptr);
  ASSERT_NE(Tree, nullptr);
  ASSERT_NE(Bar, nullptr);
  EXPECT_FALSE(App->Headless());
  EXPECT_EQ(Window->windowTitle(), Q("zfRecover"));
  EXPECT_EQ(Form.Caption(), u"zfRecover");
  EXPECT_EQ(Tree->columnCount(), 2);
  EXPECT_EQ(Tree->headerItem()->text(0), Q("Name"));
  EXPECT_EQ(Tree->headerItem()->text(1), Q("Value"));
  EXPECT_FALSE(Tree->header()->sectionsClickable());
  EXPECT_EQ(Tree->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(Tree->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(Form.Timer().Enabled());
  OnFirstTick([&] {
    // Client area 744 x 572: the bar along the top, 17 high; the list fills the rest.
    EXPECT_EQ(Window->size(), QSize(744, 572));
    EXPECT_EQ(Bar->geometry(), QRect(0, 0, 744, 17));
    EXPECT_EQ(Tree->geometry(), QRect(0, 17, 744, 555));
    Form.SetCaption(u"zfRecover - /data/build.dvl7");
    EXPECT_EQ(Window->windowTitle(), Q("zfRecover - /data/build.dvl7"));
    EXPECT_EQ(Form.Caption(), u"zfRecover - /data/build.dvl7");
  });
}

// The rows are the captions added, in order, each with the value written into it; a refill
// inside BeginUpdate/EndUpdate replaces them and paints once at the end.
TEST_F(TQtWindowTest, RowsEqualTheCaptionsSet) {
  TListView& list = Form.ListView();
  const std::vector<std::u16string> captions = {u"Sessions", u"Databases", u"Cursors", u"Blocks \u00e4"};
  list.BeginUpdate();
  list.BeginUpdate();
  EXPECT_FALSE(Tree->updatesEnabled());
  list.Clear();
  for (const auto& c : captions) list.AddItem(c);
  list.EndUpdate();
  EXPECT_FALSE(Tree->updatesEnabled());
  list.EndUpdate();
  EXPECT_TRUE(Tree->updatesEnabled());
  ASSERT_EQ(Tree->topLevelItemCount(), 4);
  ASSERT_EQ(list.Count(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list.Caption(i), captions[static_cast<size_t>(i)]);
    EXPECT_EQ(Tree->topLevelItem(i)->text(0), QString::fromStdU16String(captions[static_cast<size_t>(i)]));
    EXPECT_EQ(Tree->topLevelItem(i)->text(1), QString());
    list.SetValue(i, zf::rtl::IntToStr(i * 10));
  }
  EXPECT_EQ(Tree->topLevelItem(3)->text(1), Q("30"));
  EXPECT_EQ(list.Value(2), u"20");
  EXPECT_THROW(list.SetValue(4, u"x"), zf::rtl::EListError);
  EXPECT_THROW(list.Caption(-1), zf::rtl::EListError);
  list.Clear();
  EXPECT_EQ(Tree->topLevelItemCount(), 0);
}

// The bar shows what the handlers set, as far as it can: 0 of 0 is an empty bar, not Qt's busy
// indicator.
TEST_F(TQtWindowTest, BarFollowsThePositions) {
  TProgressBar& bar = Form.ProgressBar();
  EXPECT_EQ(Bar->maximum(), 100);
  struct {
    int32_t max, position, shownMax, shownValue;
  } steps[] = {{0, 0, 1, 0}, {1200, 0, 1200, 0}, {1200, 300, 1200, 300}, {1200, 1200, 1200, 1200}, {500, 200, 500, 200}};
  for (const auto& s : steps) {
    bar.SetMax(s.max);
    bar.SetPosition(s.position);
    EXPECT_EQ(Bar->minimum(), 0);
    EXPECT_EQ(Bar->maximum(), s.shownMax);
    EXPECT_EQ(Bar->value(), s.shownValue);
    EXPECT_EQ(bar.Position(), s.position);
  }
  bar.SetPosition(0);
  bar.StepIt();
  bar.StepIt();
  EXPECT_EQ(Bar->value(), 2);
}

// A box is modal and waits for its OK; the timer keeps ticking meanwhile, and here its third tick
// during the box closes it.
TEST_F(TQtWindowTest, MessageBoxIsClosedByATimerWhileTicksGoOn) {
  int ticksDuringBox = 0;
  bool boxOpen = false, shown = false;
  QMessageBox* box = nullptr;
  QString text, title;
  QMessageBox::StandardButtons buttons;
  Form.Timer().OnTimer = [&] {
    if (boxOpen) {
      if (++ticksDuringBox >= 3 && box != nullptr) box->button(QMessageBox::Ok)->click();
      return;
    }
    if (shown) {
      Form.Release();
      return;
    }
    WhenModal<QMessageBox>([&](QMessageBox* aBox) {
      box = aBox;
      text = aBox->text();
      title = aBox->windowTitle();
      buttons = aBox->standardButtons();
    });
    boxOpen = true;
    Form.ShowMessage(u"Recover operation has been finalized successfully. Terminating...");
    boxOpen = false;
    shown = true;
  };
  Form.Timer().SetEnabled(true);
  EXPECT_EQ(App->Run(), 0);
  EXPECT_EQ(text, Q("Recover operation has been finalized successfully. Terminating..."));
  EXPECT_EQ(title, Q("zfRecover"));
  EXPECT_EQ(buttons, QMessageBox::Ok);
  EXPECT_GE(ticksDuringBox, 3);
}

// A tick brought forward from another thread comes long before the interval is up, on the
// window's thread.
TEST(TQtTimerTest, TickBroughtForwardFromAnotherThread) {
  std::unique_ptr<TApplication> app = OffscreenQtApplication();
  TForm& form = app->CreateForm(MainFormResource(60000));
  const std::thread::id windowThread = std::this_thread::get_id();
  int ticks = 0;
  bool onWindowThread = true;
  std::thread helper;
  auto bringForward = [&] {
    if (helper.joinable()) helper.join();
    helper = std::thread([&form] { form.Timer().TickSoon(); });
  };
  form.Timer().OnTimer = [&] {
    onWindowThread = onWindowThread && std::this_thread::get_id() == windowThread;
    if (++ticks == 2) form.Release();
    else bringForward();
  };
  form.Timer().SetEnabled(true);
  bringForward();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(app->Run(), 0);
  helper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(ticks, 2);
  EXPECT_TRUE(onWindowThread);
}

// The open dialog is Qt's own, for one existing file, with the resource's filter and suffix.
TEST_F(TQtWindowTest, OpenDialogAsksForOneExistingFile) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "guiQtOpenDialog.dvl7";
  std::ofstream(file) << "x";
  bool confirmed = true;
  bool cancelled = true;
  std::u16string chosen;
  OnFirstTick([&] {
    WhenModal<QFileDialog>([&](QFileDialog* aDialog) {
      EXPECT_TRUE(aDialog->testOption(QFileDialog::DontUseNativeDialog));
      EXPECT_EQ(aDialog->fileMode(), QFileDialog::ExistingFile);
      EXPECT_EQ(aDialog->acceptMode(), QFileDialog::AcceptOpen);
      EXPECT_EQ(aDialog->nameFilters(), QStringList{Q("Dravolt 7 Log File (*.dvl7)")});
      EXPECT_EQ(aDialog->defaultSuffix(), Q("dvl7"));
      aDialog->selectFile(QString::fromStdString(file.string()));
      static_cast<QDialog*>(aDialog)->accept();
    });
    confirmed = Form.OpenDialog().Execute();
    chosen = Form.OpenDialog().FileName();
    WhenModal<QFileDialog>([](QFileDialog* aDialog) { aDialog->reject(); });
    cancelled = !Form.OpenDialog().Execute();
  });
  std::filesystem::remove(file);
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(chosen, zf::rtl::u16(file.string()));
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(Form.OpenDialog().FileName().empty());
}

// Closing the window asks the form: a refused close leaves it up, an accepted one releases it, and
// the release is deferred: OnDestroy runs after the handler that closed it has returned.
TEST_F(TQtWindowTest, CloseRequestsAreAskedAndReleaseIsDeferred) {
  bool taskRunning = true, inHandler = false, destroyedInHandler = true;
  int queries = 0, destroyed = 0, ticks = 0;
  Form.OnCloseQuery = [&](bool& aCanClose) {
    ++queries;
    aCanClose = !taskRunning;
  };
  Form.OnDestroy = [&] {
    ++destroyed;
    destroyedInHandler = inHandler;
    EXPECT_FALSE(Form.Timer().Enabled());
  };
  Form.Timer().OnTimer = [&] {
    inHandler = true;
    ++ticks;
    if (ticks == 1) {
      Window->close();
      EXPECT_FALSE(Form.Released());
      EXPECT_TRUE(Window->isVisible());
    } else if (ticks == 2) {
      taskRunning = false;
      Window->close();
      EXPECT_TRUE(Form.Released());
      EXPECT_EQ(destroyed, 0);
    }
    inHandler = false;
  };
  Form.Timer().SetEnabled(true);
  App->SetExitCode(3);
  EXPECT_EQ(App->Run(), 3);
  EXPECT_EQ(queries, 2);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(destroyedInHandler);
  EXPECT_FALSE(Window->isVisible());
  EXPECT_EQ(ticks, 2);
}

// A form released before Run is destroyed as soon as the loop starts, without being shown.
TEST_F(TQtWindowTest, ReleaseBeforeRunEndsTheLoopAtOnce) {
  int destroyed = 0;
  Form.OnDestroy = [&] { ++destroyed; };
  Form.Release();
  EXPECT_EQ(App->Run(), 0);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(Window->isVisible());
}

// An exception must not cross Qt's loop: it ends the loop and Run raises it.
TEST_F(TQtWindowTest, HandlerFailureEndsTheLoopAndIsRaised) {
  Form.Timer().OnTimer = [] { throw zf::rtl::EAbort(u"tick failed"); };
  Form.Timer().SetEnabled(true);
  EXPECT_THROW(App->Run(), zf::rtl::EAbort);
  EXPECT_THROW(OffscreenQtApplication(), zf::rtl::Exception);  // one application at a time
}

// A demo of the main window in the middle of a run, saved as a PNG in the build folder.
TEST_F(TQtWindowTest, ScreenshotOfTheMainWindow) {
  const std::string path = std::string(ZF_GUI_SCREENSHOT_DIR) + "/guiQtMainWindow.png";
  std::filesystem::remove(path);
  QImage image;
  OnFirstTick([&] {
    Form.SetCaption(u"zfRecover - /data/logs/build.dvl7");
    TListView& list = Form.ListView();
    const char16_t* rows[][2] = {
        {u"Server engine version", u"3.09.00"}, {u"Sessions", u"1"},        {u"Databases", u"2"},
        {u"Open tables", u"3"},                  {u"Cursors", u"3"},         {u"Transactions", u"1"},
        {u"Buffer manager blocks", u"4096"},     {u"Blocks read", u"1843"},  {u"Blocks written", u"1839"},
        {u"Records recovered", u"27611"},        {u"Records failed", u"12"}, {u"Tasks", u"1"},
    };
    list.BeginUpdate();
    for (const auto& r : rows) list.AddItem(r[0]);
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) list.SetValue(i, rows[i][1]);
    list.EndUpdate();
    Form.ProgressBar().SetMax(4608);
    Form.ProgressBar().SetPosition(1843);
    image = zf::gui::test::SaveWindowScreenshot(Window, path);
  });
  EXPECT_EQ(image.size(), QSize(744, 572));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_GT(std::filesystem::file_size(path), 1000u);
}
