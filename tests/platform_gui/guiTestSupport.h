// Shared by the toolkit tests: the recovery tool's form resource with a short tick for tests, and
// a Qt application on the "offscreen" platform (no display needed).
#pragma once
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>

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

// Saves a PNG of aWindow as it is now, with a title strip showing its caption above the client
// area (the offscreen platform draws no window frame); answers the picture of the client area.
inline QImage SaveWindowScreenshot(QWidget* aWindow, const std::string& aPath) {
  const QImage image = aWindow->grab().toImage();
  const int strip = 24;
  QImage framed(image.width(), image.height() + strip, QImage::Format_RGB32);
  framed.fill(aWindow->palette().color(QPalette::Highlight));
  QPainter painter(&framed);
  painter.setPen(aWindow->palette().color(QPalette::HighlightedText));
  painter.drawText(QRect(8, 0, image.width() - 16, strip), Qt::AlignVCenter | Qt::AlignLeft, aWindow->windowTitle());
  painter.drawImage(0, strip, image);
  painter.end();
  framed.save(QString::fromStdString(aPath), "PNG");
  return image;
}

}  // namespace zf::gui::test
