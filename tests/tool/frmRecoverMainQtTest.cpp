// The recovery tool's window on the Qt backend under the "offscreen" platform, over the fake
// engine: the open dialog chooses the file, the rows are the engine's captions with their values,
// the bar follows the task's blocks, the caption names the file, and the boxes of the completion
// pass are closed by a timer while the ticks go on. A screenshot of the window in the middle of the
// run is saved in the build folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/gui/guiQtWidgets.h"
#include "tests/platform_gui/guiTestSupport.h"
#include "tests/tool/zfRecoverFakes.h"
#include "tool/frmRecoverMain.h"

namespace zf::test {
namespace {

namespace fs = std::filesystem;

TEST(RecoverQtWindow, RunShowsStatisticsProgressAndBoxes) {
  const fs::path dir = fs::temp_directory_path() / ("zfRecoverQtTest_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "build.dvl7";
  std::ofstream(file) << "x";
  const std::string shot = std::string(ZF_TOOL_SCREENSHOT_DIR) + "/zfRecoverWindow.png";
  fs::remove(shot);

  std::unique_ptr<gui::TApplication> app = gui::test::OffscreenQtApplication();
  TFakeEngine engine;
  engine.Captions = {u"Server engine version", u"Sessions", u"Databases", u"Folders", u"Tables",
                     u"Buffer manager blocks", u"Blocks read", u"Blocks written"};
  engine.Values = {u"3.09.00", u"2", u"2", u"1", u"3", u"4096", u"1843", u"1839"};
  engine.Steps = {{false, 4608, 0}, {false, 4608, 1843}, {false, 4608, 1843}, {true, 4608, 4608}};
  engine.Src.Records = engine.Rec.Records = {{1, 1, 1}, {2, 2, 2}};

  gui::TFormResource resource = zfRecoverFormResource();
  resource.TimerInterval = 20;
  TfrmMain frmMain(*app, engine, resource);
  QWidget* window = gui::QtWindowOf(frmMain.Form());
  ASSERT_NE(window, nullptr);
  auto* tree = window->findChild<QTreeWidget*>();
  auto* bar = window->findChild<QProgressBar*>();
  ASSERT_NE(tree, nullptr);
  ASSERT_NE(bar, nullptr);

  // Answers the dialog with the file and closes each box with OK, from a Qt timer.
  std::vector<QString> boxes;
  int dialogs = 0;
  auto* modal = new QTimer(window);
  QObject::connect(modal, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* d = qobject_cast<QFileDialog*>(w)) {
      ++dialogs;
      d->selectFile(QString::fromStdString(file.string()));
      static_cast<QDialog*>(d)->accept();
    } else if (auto* b = qobject_cast<QMessageBox*>(w)) {
      boxes.push_back(b->text());
      b->button(QMessageBox::Ok)->click();
    }
  });
  modal->start(5);

  // On the third poll the window shows what the second one read.
  std::vector<QString> rows, values;
  int barMax = -1, barValue = -1;
  QString title;
  QImage picture;
  engine.OnPoll = [&](int aPoll) {
    if (aPoll != 3) return;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
      rows.push_back(tree->topLevelItem(i)->text(0));
      values.push_back(tree->topLevelItem(i)->text(1));
    }
    barMax = bar->maximum();
    barValue = bar->value();
    title = window->windowTitle();
    picture = gui::test::SaveWindowScreenshot(window, shot);
  };

  EXPECT_EQ(app->Run(), zfRecoverExitSuccess);
  EXPECT_EQ(dialogs, 1);
  std::vector<QString> captions, shownValues;
  for (size_t i = 0; i < engine.Captions.size(); ++i) {
    captions.push_back(QString::fromStdU16String(engine.Captions[i]));
    shownValues.push_back(QString::fromStdU16String(engine.Values[i]));
  }
  EXPECT_EQ(rows, captions);
  EXPECT_EQ(values, shownValues);
  EXPECT_EQ(barMax, 4608);
  EXPECT_EQ(barValue, 1843);
  EXPECT_EQ(title, QString::fromStdString("zfRecover - " + file.string()));
  EXPECT_EQ(boxes, (std::vector<QString>{QString::fromUtf8("Out of 2 records 2 have been recovered and 0 have failed."),
                                         QString::fromUtf8(
                                             "Recover operation has been finalized successfully. Terminating...")}));
  EXPECT_EQ(picture.size(), QSize(744, 572));
  EXPECT_TRUE(fs::exists(shot));
  EXPECT_EQ(engine.Journal.back(), "rename build Recovered");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zf::test
