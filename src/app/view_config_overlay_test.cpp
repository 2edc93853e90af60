// The view-configuration window as the X server shows it, over the house sample's layout: its
// hatch must show over the 3D view's OpenGL drawing as over the other views. Runs on a virtual
// display, where the screen's pixels can be read back.

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/testing/house_sample.h"
#include "app/testing/scripted_dialogs.h"
#include "app/view_config_window.h"
#include "views3d/ogl.h"
#include "views3d/ogl_frame.h"

using modrin::app::ModrinApplication;
using modrin::app::ViewConfigWindow;

namespace {

// What the screen shows in `area` (global coordinates).
QImage Screen(const QRect& area) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// Of the pixels that are white in `before`, the share that are dark in `after` (a picture of
// the same area); without white pixels, -1.
double DarkenedWhiteShare(const QImage& before, const QImage& after) {
  if (before.size() != after.size()) return -1;
  qsizetype white = 0, darkened = 0;
  for (int y = 0; y < before.height(); ++y) {
    for (int x = 0; x < before.width(); ++x) {
      if (qGray(before.pixel(x, y)) < 240) continue;
      ++white;
      darkened += qGray(after.pixel(x, y)) < 128;
    }
  }
  return white > 0 ? static_cast<double>(darkened) / white : -1;
}

}  // namespace

class ViewConfigOverlayTest : public QObject {
  Q_OBJECT

 private slots:
  void hatchShowsOverThe3DView() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
    QTemporaryDir dir;
    const QString project = modrin::app::testing::CopyHouse(dir.path());
    QVERIFY(!project.isEmpty());
    ModrinApplication app(std::make_unique<modrin::app::testing::ScriptedDialogs>());
    app.Start(project);
    modrin::app::CMainFrame& frame = app.mainFrame();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    modrin::views3d::OglFrame* model = nullptr;
    for (QWidget* w : frame.frames()) {
      if (auto* f = qobject_cast<modrin::views3d::OglFrame*>(w)) model = f;
    }
    QVERIFY(model != nullptr && model->view() != nullptr);
    const QRect drawing(model->view()->mapToGlobal(QPoint(0, 0)), model->view()->size());
    // Once drawn, the 3D view shows the model on a white background.
    QImage before;
    QTRY_VERIFY((before = Screen(drawing), DarkenedWhiteShare(before, before) == 0));

    // Open, the window covers the root and hatches both of its panes: the hatch inverts what
    // it covers, so about one pixel in eight of the 3D view's white background turns dark.
    ViewConfigWindow overlay(frame, &frame);
    overlay.Open();
    QVERIFY(QTest::qWaitForWindowExposed(&overlay));
    QTRY_VERIFY_WITH_TIMEOUT(DarkenedWhiteShare(before, Screen(drawing)) > 0.05, 5000);
    // The rest shows the view as it was.
    QVERIFY(DarkenedWhiteShare(before, Screen(drawing)) < 0.3);
    overlay.Close();
  }
};

QTEST_MAIN(ViewConfigOverlayTest)
#include "view_config_overlay_test.moc"
