// The 3D view drawing the house sample on a virtual display: where the model projects the
// photos' colours show, elsewhere the white background; the wireframe, the fit, the keys and the
// mouse, and which frames are drawn.

#include "views3d/ogl.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
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
using modrin::views3d::ViewPose;

namespace {

// Every photo calibrated, as the calibration dialog does it.
bool Calibrate(modrin::model::Project& project) {
  for (auto& photo : project.photos) photo->camera.pending = true;
  modrin::engine::RunCalibration(project);
  return std::all_of(project.photos.begin(), project.photos.end(),
                     [](const auto& photo) { return photo->camera.calibrated; });
}

const ViewPose kStill{0, 0, 0, 0};

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

// A drag to `to` with the left button held, as the window system reports it.
void DragTo(Ogl& view, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QMouseEvent event(QEvent::MouseMove, QPointF(to), view.mapToGlobal(QPointF(to)), Qt::NoButton,
                    Qt::LeftButton, modifiers);
  QApplication::sendEvent(&view, &event);
}

void TurnWheel(Ogl& view, int delta) {
  QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, {0, delta},
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &wheel);
}

}  // namespace

class OglTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void drawsTheHouseWhereItProjects();
  void wireframeDrawsTheTriangleSides();
  void fullScreenFitsTheTurnedModel();
  void withoutContentOnlyKeysAct();
  void timerDrawsOnlyWhileTheModelTurns();
  void mouseTurnsAndZooms();
  void updateFitsAGrownModelAgain();

 private:
  void ShowFrame(modrin::model::Project& project, QSize size = QSize(420, 340));
  void ShowFrame() { ShowFrame(document_->project()); }
  std::unique_ptr<modrin::model::ProjectDocument> OpenHouse();

  modrin::model::DocumentHost host_;
  std::unique_ptr<modrin::model::ProjectDocument> document_;
  std::unique_ptr<OglFrame> frame_;
};

std::unique_ptr<modrin::model::ProjectDocument> OglTest::OpenHouse() {
  namespace fs = std::filesystem;
  const fs::path sample = fs::path(qEnvironmentVariable("MODRIN_SOURCE_DIR").toStdString()) /
                          "examples" / "house" / "house.mpj";
  auto document = std::make_unique<modrin::model::ProjectDocument>(host_);
  if (!document->OpenPath(sample.string()).ok()) return nullptr;
  return document;
}

void OglTest::initTestCase() {
  document_ = OpenHouse();
  QVERIFY(document_ != nullptr);
  QVERIFY(Calibrate(document_->project()));
}

void OglTest::ShowFrame(modrin::model::Project& project, QSize size) {
  frame_ = std::make_unique<OglFrame>();
  frame_->SetProject(&project);
  frame_->resize(size);
  frame_->show();
  QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
  QVERIFY(frame_->view() != nullptr);
  frame_->InitializeView();
}

void OglTest::drawsTheHouseWhereItProjects() {
  ShowFrame();
  Ogl& view = *frame_->view();
  const QImage shot = view.grabFramebuffer();
  // The corners of the picture are background; the model covers a good part of it.
  QVERIFY(IsWhite(shot.pixel(1, 1)));
  QVERIFY(IsWhite(shot.pixel(shot.width() - 2, shot.height() - 2)));
  QVERIFY2(ModelShare(shot) > 0.1, qPrintable(QString::number(ModelShare(shot))));

  // At the centre of most large triangles the photo's colour there shows (unless a nearer face
  // covers it).
  int matched = 0;
  for (const auto& entry : view.photoEntries()) {
    for (std::size_t k = 0; k + 2 < entry.vertices.size(); k += 3) {
      const DrawVertex* v = &entry.vertices[k];
      auto mean = [v](float DrawVertex::*field) {
        return (v[0].*field + v[1].*field + v[2].*field) / 3;
      };
      DrawVertex centre{
          .x = mean(&DrawVertex::x), .y = mean(&DrawVertex::y), .z = mean(&DrawVertex::z)};
      const QPoint at = Projected(view, centre, shot.size());
      if (!shot.rect().adjusted(4, 4, -4, -4).contains(at)) continue;
      const QRgb pixel = shot.pixel(at);
      QVERIFY(!IsWhite(pixel) || entry.texture.empty());
      const int tx = std::clamp(static_cast<int>(mean(&DrawVertex::s) * entry.texture.width), 0,
                                entry.texture.width - 1);
      const int ty = std::clamp(static_cast<int>(mean(&DrawVertex::t) * entry.texture.height), 0,
                                entry.texture.height - 1);
      const std::uint8_t* texel =
          &entry.texture.bgr[(static_cast<std::size_t>(ty) * entry.texture.width + tx) * 3];
      const int difference = std::abs(qRed(pixel) - texel[2]) + std::abs(qGreen(pixel) - texel[1]) +
                             std::abs(qBlue(pixel) - texel[0]);
      if (difference < 60) ++matched;
    }
  }
  QVERIFY2(matched >= 4, qPrintable(QString::number(matched)));
}

void OglTest::wireframeDrawsTheTriangleSides() {
  ShowFrame();
  Ogl& view = *frame_->view();
  const QImage faces = view.grabFramebuffer();
  const int updates = frame_->updateCount();
  frame_->wireframeAction()->trigger();
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
  // The wireframe key flips it back, and the button with it.
  frame_->ToggleWireframe();
  QVERIFY(!frame_->wireframeAction()->isChecked());
  QCOMPARE(view.grabFramebuffer(), faces);
}

void OglTest::fullScreenFitsTheTurnedModel() {
  ShowFrame();
  Ogl& view = *frame_->view();
  QRect fitted;
  ModelShare(view.grabFramebuffer(), &fitted);
  // Zoomed in and turned, then Full screen: unturned and whole again; Home does the same.
  auto zoomAndTurn = [&view] {
    for (int i = 0; i < 40; ++i) QTest::keyClick(&view, Qt::Key_Up);
    QTest::keyClick(&view, Qt::Key_5, Qt::KeypadModifier);
    TurnWheel(view, 1200);
    DragTo(view, QPoint(30, 30));
  };
  zoomAndTurn();
  frame_->fullScreenAction()->trigger();
  const QImage shot = view.grabFramebuffer();
  QRect bounds;
  ModelShare(shot, &bounds);
  QCOMPARE(bounds, fitted);
  zoomAndTurn();
  QTest::keyClick(&view, Qt::Key_Home);
  QCOMPARE(view.grabFramebuffer(), shot);
  // The box's front face just fills the view in one direction, centred in the other.
  QVERIFY2(bounds.width() >= shot.width() * 0.9 || bounds.height() >= shot.height() * 0.9,
           qPrintable(QString("%1 x %2").arg(bounds.width()).arg(bounds.height())));
  QVERIFY(std::abs(bounds.center().x() - shot.width() / 2) < shot.width() / 8);
}

// Before Initialize the view has nothing: clicks and drags leave the model as it is, and each
// key adds to one velocity (End sets them all to 0).
void OglTest::withoutContentOnlyKeysAct() {
  Ogl empty;
  empty.resize(200, 150);
  empty.show();
  QVERIFY(QTest::qWaitForWindowExposed(&empty));
  QTest::mousePress(&empty, Qt::LeftButton, {}, QPoint(50, 50));
  DragTo(empty, QPoint(80, 70));
  QCOMPARE(empty.pose(), ViewPose{});
  const struct {
    const char* name;
    Qt::Key key;
    bool keypad;
    ViewPose velocity;  // rotX, rotY, rotZ, zDist
  } cases[] = {
      {"Left", Qt::Key_Left, false, {0, -1.5f, 0, 0}},
      {"Right", Qt::Key_Right, false, {0, 1.5f, 0, 0}},
      {"Up", Qt::Key_Up, false, {0, 0, 0, -0.1f}},
      {"Down", Qt::Key_Down, false, {0, 0, 0, 0.1f}},
      {"keypad 8", Qt::Key_8, true, {1.5f, 0, 0, 0}},
      {"keypad 2", Qt::Key_2, true, {-1.5f, 0, 0, 0}},
      {"keypad 6", Qt::Key_6, true, {0, 0, 1.5f, 0}},
      {"keypad 4", Qt::Key_4, true, {0, 0, -1.5f, 0}},
      {"8 off the keypad", Qt::Key_8, false, kStill},
  };
  for (const auto& c : cases) {
    QTest::keyClick(&empty, Qt::Key_End);
    QTest::keyClick(&empty, c.key, c.keypad ? Qt::KeypadModifier : Qt::NoModifier);
    QVERIFY2(empty.velocity() == c.velocity, c.name);
  }
}

// A click with the pointer resting in the view moves nothing: no frame is drawn and the timer
// rests. A key velocity turns the model on every tick, drawn, until the pointer leaves.
void OglTest::timerDrawsOnlyWhileTheModelTurns() {
  ShowFrame();
  Ogl& view = *frame_->view();
  const QPoint centre = view.rect().center();
  QCursor::setPos(view.mapToGlobal(centre));
  QTest::qWait(100);
  QSignalSpy frames(&view, &Ogl::frameSwapped);
  QTest::mouseClick(&view, Qt::LeftButton, {}, centre);
  QTest::qWait(500);
  QVERIFY2(frames.count() <= 2, qPrintable(QString::number(frames.count())));
  QVERIFY(!view.timerRunning());

  QTest::keyClick(&view, Qt::Key_Right);
  QTest::keyClick(&view, Qt::Key_Right);
  const float before = view.pose().rotY;
  // A loaded machine may draw slowly between the ticks; each tick still adds 3 degrees.
  QTRY_VERIFY_WITH_TIMEOUT(view.pose().rotY - before >= 6.0f, 10000);
  QCOMPARE(std::fmod(view.pose().rotY - before, 3.0f), 0.0f);
  QTRY_VERIFY(frames.count() >= 2);
  // The pointer outside the view stops the turning; the velocity stays for the next key.
  QCursor::setPos(view.mapToGlobal(QPoint(-50, -50)));
  QTRY_VERIFY(!view.timerRunning());
  QCOMPARE(view.velocity().rotY, 3.0f);
  QCursor::setPos(view.mapToGlobal(centre));
  QTest::keyClick(&view, Qt::Key_A);
  QVERIFY(view.timerRunning());
  // End stops every velocity, and the timer with them; keypad 5 too, at once.
  QTest::keyClick(&view, Qt::Key_End);
  QCOMPARE(view.velocity(), kStill);
  QTRY_VERIFY(!view.timerRunning());
  QTest::keyClick(&view, Qt::Key_Right);
  QTest::keyClick(&view, Qt::Key_5, Qt::KeypadModifier);
  QVERIFY(!view.timerRunning());
  QCOMPARE(view.velocity(), kStill);
}

// Each drag move and wheel turn moves the model and draws it.
void OglTest::mouseTurnsAndZooms() {
  ShowFrame();
  Ogl& view = *frame_->view();
  // The pointer's own move arrives before the press, and the frames drawn so far are done.
  QCursor::setPos(view.mapToGlobal(QPoint(10, 10)));
  QTest::qWait(100);
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(100, 100));
  QSignalSpy frames(&view, &Ogl::frameSwapped);
  DragTo(view, {110, 96});
  QCOMPARE(view.pose().rotY, 15.0f);
  QCOMPARE(view.pose().rotX, -6.0f);
  QCOMPARE(view.cursor().shape(), Qt::BitmapCursor);
  QTRY_VERIFY(!frames.isEmpty());
  frames.clear();
  const float zDist = view.pose().zDist;
  DragTo(view, {110, 106}, Qt::ShiftModifier);
  QCOMPARE(view.pose(), (ViewPose{-6.0f, 15.0f, 0, zDist + 1.0f}));
  QTRY_VERIFY(!frames.isEmpty());
  frames.clear();
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(110, 106));
  QCOMPARE(view.cursor().shape(), Qt::ArrowCursor);
  // A wheel notch moves the model 1.2 units nearer.
  TurnWheel(view, 120);
  QCOMPARE(view.pose().zDist, zDist + 1.0f + 1.2f);
  QTRY_VERIFY(!frames.isEmpty());
}

// The house shown before its calibration, then calibrated (as OK in the calibration dialog
// does it) in a wide view, where the roof the calibration adds makes the model too tall: the
// update fits it into the view again as Full screen does. An update that leaves the model as
// it is keeps the user's turn.
void OglTest::updateFitsAGrownModelAgain() {
  std::unique_ptr<modrin::model::ProjectDocument> house = OpenHouse();
  QVERIFY(house != nullptr);
  ShowFrame(house->project(), QSize(600, 300));
  Ogl& view = *frame_->view();
  DragTo(view, QPoint(40, 20));
  const ViewPose before = view.pose();
  QVERIFY(Calibrate(house->project()));
  frame_->UpdateView();
  // The eye moves back as far as Full screen puts it, and the model keeps the user's turn.
  const ViewPose updated = view.pose();
  QVERIFY(updated.zDist < before.zDist);
  QCOMPARE(updated.rotX, before.rotX);
  QCOMPARE(updated.rotY, before.rotY);
  frame_->fullScreenAction()->trigger();
  QCOMPARE(view.pose().zDist, updated.zDist);

  DragTo(view, QPoint(80, 20));
  const ViewPose turned = view.pose();
  frame_->UpdateView();
  QCOMPARE(view.pose(), turned);
}

QTEST_MAIN(OglTest)
#include "ogl_test.moc"
