#pragma once

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/main_frame.h"
#include "model/position_graph.h"
#include "views2d/img.h"
#include "views2d/img_frame.h"
#include "views2d/real_position_dialog.h"

// What a user does in the main window, for the tests that drive it as a user would.
namespace modrin::app::testing {

// Runs `act` on the popup or modal dialog the next action opens, once it is open.
inline void WhenOpened(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* opened = QApplication::activePopupWidget();
    if (opened == nullptr) opened = QApplication::activeModalWidget();
    act(opened);
  });
}

// Photo frame `n` of the window's layout, in frame order; null when there are fewer.
inline views2d::ImgFrame* PhotoFrame(CMainFrame& frame, int n) {
  int found = 0;
  for (QWidget* candidate : frame.frames()) {
    if (auto* photoFrame = qobject_cast<views2d::ImgFrame*>(candidate)) {
      if (found++ == n) return photoFrame;
    }
  }
  return nullptr;
}

// The zoom box as a user sets it: the text typed, then Enter.
inline void TypeZoom(views2d::ImgFrame& frame, const QString& text) {
  QLineEdit* edit = frame.zoomBox()->lineEdit();
  edit->selectAll();
  QTest::keyClicks(edit, text);
  QTest::keyClick(edit, Qt::Key_Return);
}

// The window point of pixel `pixel`; a failed check unless a click there picks that very pixel.
inline QPoint PixelPoint(const views2d::Img& view, model::ImagePoint pixel) {
  const QPoint at = view.WindowPosition(pixel);
  [&] { QCOMPARE(view.PixelAt(at), pixel); }();
  return at;
}

// Scrolls the view so that pixel `pixel` shows in its middle.
inline void ScrollTo(views2d::Img& view, model::ImagePoint pixel) {
  const QPoint shift = view.WindowPosition(pixel) - view.viewport()->rect().center();
  view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->value() + shift.x());
  view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + shift.y());
}

// The mouse moved over the view to pixel `pixel`, no button held.
inline void Hover(views2d::Img& view, model::ImagePoint pixel) {
  const QPoint at = view.WindowPosition(pixel);
  QMouseEvent move(QEvent::MouseMove, at, view.viewport()->mapToGlobal(at), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view.viewport(), &move);
}

// A left click on pixel `pixel`, the mouse moved there first.
inline void ClickPixel(views2d::Img& view, model::ImagePoint pixel,
                       Qt::KeyboardModifiers modifiers = {}) {
  Hover(view, pixel);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, PixelPoint(view, pixel));
}

// Right-click on the position at `pixel`, "Set real position", type `xyz` ("x y z"; "-" leaves
// a field empty), OK. `whileOpen` runs with the dialog filled in, before OK.
inline void SetRealPosition(views2d::Img& view, model::ImagePoint pixel, const QString& xyz,
                            std::function<void()> whileOpen = {}) {
  WhenOpened([xyz, whileOpen](QWidget* opened) {
    auto* menu = qobject_cast<QMenu*>(opened);
    QVERIFY(menu != nullptr);
    WhenOpened([xyz, whileOpen](QWidget* dialogWidget) {
      auto* dialog = qobject_cast<views2d::RealPositionDialog*>(dialogWidget);
      QVERIFY(dialog != nullptr);
      const QStringList values = xyz.split(' ');
      for (int axis = 0; axis < 3; ++axis) {
        dialog->field(axis)->selectAll();
        if (values[axis] == "-") {
          QTest::keyClick(dialog->field(axis), Qt::Key_Delete);
        } else {
          QTest::keyClicks(dialog->field(axis), values[axis]);
        }
      }
      if (whileOpen) whileOpen();
      QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
      QTest::mouseClick(ok, Qt::LeftButton);
    });
    for (QAction* action : menu->actions()) {
      if (action->text() == "Set real position") {
        QVERIFY(action->isEnabled());
        menu->close();
        action->trigger();
        return;
      }
    }
    QFAIL("no Set real position");
  });
  QTest::mousePress(view.viewport(), Qt::RightButton, {}, PixelPoint(view, pixel));
}

}  // namespace modrin::app::testing
