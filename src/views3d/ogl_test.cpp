// The 3D view drawing the calibrated house on a virtual display: where the model projects the
// photos' colours show, elsewhere the white background; the wireframe, the fit, the keys and the
// mouse.

#include "views3d/ogl.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "engine/reconstruction.h"
#include "model/project.h"
#include "model/project_document.h"
#include "views3d/ogl_frame.h"

using modrin::views3d::DrawVertex;
using modrin::views3d::Ogl;
using modrin::views3d::OglFrame;

namespace {

bool IsWhite(QRgb pixel) { return qRed(pixel) > 250 && qGreen(pixel) > 250 && qBlue(pixel) > 250; }

// Where a view-space point lands in the view's picture, for the pose with no rotation.
QPoint Projected(const Ogl& view, const DrawVertex& vertex, QSize size) {
  const double t = std::tan(view.projection().fovy / 2 * std::numbers::pi / 180);
  const double depth = -(vertex.z + view.pose().zDist);
  const double x = vertex.x / (depth * t * view.projection().aspect);
  const double y = vertex.y / (depth * t);
  return {static_cast<int>((x + 1) / 2 * size.width()),
          static_cast<int>((1 - y) / 2 * size.height())};
}

// The share of pixels that are not white, and their bounding rectangle.
double ModelShare(const QImage& shot, QRect* bounds = nullptr) {
  int count = 0;
  QRect box;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      if (IsWhite(shot.pixel(x, y))) continue;
      ++count;
      box |= QRect(x, y, 1, 1);
    }
  }
  if (bounds != nullptr) *bounds = box;
  return static_cast<double>(count) / (shot.width() * shot.height());
}

}  // namespace

class OglTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void drawsTheHouseWhereItProjects();
  void wireframeDrawsTheTriangleSides();
  void fullScreenFitsTheTurnedModel();
  void keysSetVelocitiesThatTurnTheModel();
  void mouseTurnsAndZoomsOnlyWithContent();

 private:
  void ShowFrame();

  modrin::model::DocumentHost host_;
  std::unique_ptr<modrin::model::ProjectDocument> document_;
  std::unique_ptr<OglFrame> frame_;
};

void OglTest::initTestCase() {
  namespace fs = std::filesystem;
  const fs::path sample = fs::path(qEnvironmentVariable("MODRIN_SOURCE_DIR").toStdString()) /
                          "examples" / "house" / "house.mpj";
  document_ = std::make_unique<modrin::model::ProjectDocument>(host_);
  QVERIFY(document_->OpenPath(sample.string()).ok());
  modrin::model::Project& project = document_->project();
  for (auto& photo : project.photos) photo->camera.pending = true;
  modrin::engine::RunCalibration(project);
  for (auto& photo : project.photos) QVERIFY(photo->camera.calibrated);
}

void OglTest::ShowFrame() {
  frame_ = std::make_unique<OglFrame>();
  frame_->SetProject(&document_->project());
  frame_->resize(420, 340);
  frame_->show();
  QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
  QVERIFY(frame_->view() != nullptr);
  frame_->InitializeView();
}

void OglTest::drawsTheHouseWhereItProjects() {
  ShowFrame();
  Ogl& view = *frame_->view();
  QVERIFY(view.hasContent());
  const QImage shot = view.grabFramebuffer();
  QVERIFY(!shot.isNull());
  // The corners of the picture are background; the model covers a good part of it.
  QVERIFY(IsWhite(shot.pixel(1, 1)));
  QVERIFY(IsWhite(shot.pixel(shot.width() - 2, shot.height() - 2)));
  QVERIFY2(ModelShare(shot) > 0.1, qPrintable(QString::number(ModelShare(shot))));

  // At the centre of each large triangle the photo's colour there shows.
  int checked = 0;
  for (const auto& entry : view.photoEntries()) {
    for (std::size_t k = 0; k + 2 < entry.vertices.size(); k += 3) {
      DrawVertex centre;
      const DrawVertex* v = &entry.vertices[k];
      centre.x = (v[0].x + v[1].x + v[2].x) / 3;
      centre.y = (v[0].y + v[1].y + v[2].y) / 3;
      centre.z = (v[0].z + v[1].z + v[2].z) / 3;
      const float s = (v[0].s + v[1].s + v[2].s) / 3, t = (v[0].t + v[1].t + v[2].t) / 3;
      const QPoint at = Projected(view, centre, shot.size());
      if (!shot.rect().adjusted(4, 4, -4, -4).contains(at)) continue;
      const QRgb pixel = shot.pixel(at);
      QVERIFY(!IsWhite(pixel) || entry.texture.bgr.empty());
      // The texel under the centre, in blue-green-red order: the pixel shows about it, unless
      // a nearer face covers this one.
      const int tx =
          std::clamp(static_cast<int>(s * entry.texture.width), 0, entry.texture.width - 1);
      const int ty =
          std::clamp(static_cast<int>(t * entry.texture.height), 0, entry.texture.height - 1);
      const std::uint8_t* texel =
          &entry.texture.bgr[(static_cast<std::size_t>(ty) * entry.texture.width + tx) * 3];
      const int difference = std::abs(qRed(pixel) - texel[2]) + std::abs(qGreen(pixel) - texel[1]) +
                             std::abs(qBlue(pixel) - texel[0]);
      if (difference < 60) ++checked;
    }
  }
  QVERIFY2(checked >= 4, qPrintable(QString::number(checked)));
}

void OglTest::wireframeDrawsTheTriangleSides() {
  ShowFrame();
  Ogl& view = *frame_->view();
  const QImage faces = view.grabFramebuffer();
  const int updates = frame_->updateCount();
  frame_->wireframeAction()->trigger();
  QVERIFY(frame_->wireframe());
  QVERIFY(view.wireframe());
  // Toggling runs a whole update, the model included.
  QCOMPARE(frame_->updateCount(), updates + 1);
  const QImage lines = view.grabFramebuffer();
  // The sides are drawn in white over the faces: pixels inside the model turn white.
  int whitened = 0;
  for (int y = 0; y < faces.height(); ++y) {
    for (int x = 0; x < faces.width(); ++x) {
      if (!IsWhite(faces.pixel(x, y)) && IsWhite(lines.pixel(x, y))) ++whitened;
    }
  }
  QVERIFY2(whitened > 200, qPrintable(QString::number(whitened)));
  // The wireframe key flips it back.
  frame_->ToggleWireframe();
  QVERIFY(!frame_->wireframe());
  QVERIFY(!frame_->wireframeAction()->isChecked());
  QCOMPARE(view.grabFramebuffer(), faces);
}

void OglTest::fullScreenFitsTheTurnedModel() {
  ShowFrame();
  Ogl& view = *frame_->view();
  QRect fitted;
  ModelShare(view.grabFramebuffer(), &fitted);
  // Zoomed in and turned, then Full screen: unturned and whole again.
  for (int i = 0; i < 40; ++i) QTest::keyClick(&view, Qt::Key_Up);
  QTest::keyClick(&view, Qt::Key_5, Qt::KeypadModifier);
  QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, {0, 1200}, Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &wheel);
  QTest::keyClick(&view, Qt::Key_5, Qt::KeypadModifier);
  QVERIFY(!view.timerRunning());
  frame_->fullScreenAction()->trigger();
  QCOMPARE(view.pose().rotY, 0.0f);
  QRect bounds;
  const QImage shot = view.grabFramebuffer();
  ModelShare(shot, &bounds);
  QCOMPARE(bounds, fitted);
  // The box's front face just fills the view in one direction, centred in the other.
  QVERIFY2(bounds.width() >= shot.width() * 0.9 || bounds.height() >= shot.height() * 0.9,
           qPrintable(QString("%1 x %2").arg(bounds.width()).arg(bounds.height())));
  QVERIFY(std::abs(bounds.center().x() - shot.width() / 2) < shot.width() / 8);
}

void OglTest::keysSetVelocitiesThatTurnTheModel() {
  ShowFrame();
  Ogl& view = *frame_->view();
  view.setFocus();
  QCursor::setPos(view.mapToGlobal(view.rect().center()));
  QTest::keyClick(&view, Qt::Key_Right);
  QTest::keyClick(&view, Qt::Key_Right);
  QCOMPARE(view.velocity().rotY, 3.0f);
  QVERIFY(view.timerRunning());
  const float before = view.pose().rotY;
  // A loaded machine may draw slowly between the ticks; each tick still adds 3 degrees.
  QTRY_VERIFY_WITH_TIMEOUT(view.pose().rotY - before >= 6.0f, 10000);
  QCOMPARE(std::fmod(view.pose().rotY - before, 3.0f), 0.0f);
  // The cursor outside the view stops the turning; the velocity stays for the next key.
  QCursor::setPos(view.mapToGlobal(QPoint(-50, -50)));
  QTRY_VERIFY(!view.timerRunning());
  QCOMPARE(view.velocity().rotY, 3.0f);
  QCursor::setPos(view.mapToGlobal(view.rect().center()));
  QTest::keyClick(&view, Qt::Key_A);
  QVERIFY(view.timerRunning());
  // The keypad keys turn about the other axes; End stops every velocity, keypad 5 the timer.
  QTest::keyClick(&view, Qt::Key_8, Qt::KeypadModifier);
  QTest::keyClick(&view, Qt::Key_4, Qt::KeypadModifier);
  QTest::keyClick(&view, Qt::Key_Down);
  QCOMPARE(view.velocity().rotX, 1.5f);
  QCOMPARE(view.velocity().rotZ, -1.5f);
  QCOMPARE(view.velocity().zDist, 0.1f);
  QTest::keyClick(&view, Qt::Key_End);
  QCOMPARE(view.velocity().rotY, 0.0f);
  QCOMPARE(view.velocity().rotX, 0.0f);
  QVERIFY(view.timerRunning());
  QTest::keyClick(&view, Qt::Key_5, Qt::KeypadModifier);
  QVERIFY(!view.timerRunning());
  // Home fits the model and unturns it.
  QTest::keyClick(&view, Qt::Key_Home);
  QCOMPARE(view.pose().rotX, 0.0f);
  QCOMPARE(view.pose().rotY, 0.0f);
}

void OglTest::mouseTurnsAndZoomsOnlyWithContent() {
  // Before Initialize the view has nothing: drags change nothing, keys only the velocities.
  Ogl empty;
  empty.resize(200, 150);
  empty.show();
  QVERIFY(QTest::qWaitForWindowExposed(&empty));
  QTest::mousePress(&empty, Qt::LeftButton, {}, QPoint(50, 50));
  QMouseEvent drag(QEvent::MouseMove, QPointF(80, 70), empty.mapToGlobal(QPointF(80, 70)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&empty, &drag);
  QCOMPARE(empty.pose().rotY, 0.0f);
  QCOMPARE(empty.pose().rotX, 0.0f);
  QTest::keyClick(&empty, Qt::Key_Left);
  QCOMPARE(empty.velocity().rotY, -1.5f);

  ShowFrame();
  Ogl& view = *frame_->view();
  QCursor::setPos(view.mapToGlobal(QPoint(10, 10)));
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(100, 100));
  auto move = [&](QPoint to, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(QEvent::MouseMove, QPointF(to), view.mapToGlobal(QPointF(to)), Qt::NoButton,
                      Qt::LeftButton, modifiers);
    QApplication::sendEvent(&view, &event);
  };
  move({110, 96}, Qt::NoModifier);
  QCOMPARE(view.pose().rotY, 15.0f);
  QCOMPARE(view.pose().rotX, -6.0f);
  QCOMPARE(view.cursor().shape(), Qt::BitmapCursor);
  const float zDist = view.pose().zDist;
  move({110, 106}, Qt::ShiftModifier);
  QCOMPARE(view.pose().zDist, zDist + 1.0f);
  QCOMPARE(view.pose().rotY, 15.0f);
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(110, 106));
  QCOMPARE(view.cursor().shape(), Qt::ArrowCursor);
  // A wheel notch moves the model 1.2 units nearer.
  const float beforeWheel = view.pose().zDist;
  QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, {0, 120}, Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &wheel);
  QCOMPARE(view.pose().zDist, beforeWheel + 1.2f);
}

QTEST_MAIN(OglTest)
#include "ogl_test.moc"
