// The 3D view drawing the house sample on a virtual display: where the model projects the
// photos' colours show, elsewhere the white background; the wireframe, the fit, the keys and the
// mouse, and which frames are drawn.

#include "views3d/ogl.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMatrix4x4>
#include <QSignalSpy>
#include <QTest>
#include <QVector3D>
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
using modrin::views3d::FitDistance;
using modrin::views3d::HomeTurn;
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

// The view's eye transform as OpenGL makes it from the pose: moved, then turned about x, y, z.
QMatrix4x4 EyeFromView(const ViewPose& pose) {
  QMatrix4x4 matrix;
  matrix.translate(0, 0, pose.zDist);
  matrix.rotate(pose.rotX, 1, 0, 0);
  matrix.rotate(pose.rotY, 0, 1, 0);
  matrix.rotate(pose.rotZ, 0, 0, 1);
  return matrix;
}

// Where a view-space point lands in the view: x and y from -1 to 1 across the picture, y up.
QPointF DeviceCoordinates(const Ogl& view, const QVector3D& point) {
  const auto& p = view.projection();
  QMatrix4x4 projection;
  projection.perspective(static_cast<float>(p.fovy), static_cast<float>(p.aspect),
                         static_cast<float>(p.zNear), static_cast<float>(p.zFar));
  return (projection * EyeFromView(view.pose())).map(point).toPointF();
}

// Where a view-space point lands in the view's picture.
QPoint Projected(const Ogl& view, const DrawVertex& vertex, QSize size) {
  const QPointF device = DeviceCoordinates(view, {vertex.x, vertex.y, vertex.z});
  return {static_cast<int>((device.x() + 1) / 2 * size.width()),
          static_cast<int>((1 - device.y()) / 2 * size.height())};
}

// The horizontal direction and the elevation, in degrees, of a model-space direction.
QPointF AzimuthAndElevation(double x, double y, double z) {
  const double degrees = 180 / std::numbers::pi;
  return {std::atan2(y, x) * degrees, std::atan2(z, std::hypot(x, y)) * degrees};
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
  void firstViewShowsTheWholeModelFromTheFirstPhoto();
  void fullScreenFitsTheTurnedModel();
  void withoutContentOnlyKeysAct();
  void timerDrawsOnlyWhileTheModelTurns();
  void mouseTurnsAndZooms();
  void elevationStopsStraightAboveAndBelow();
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
  // The ten corners as dots and the six cameras as pyramids, all in view; the toolbar's
  // toggles take them away and the house fills the view again.
  QCOMPARE(view.markers().points.size(), std::size_t{10});
  QCOMPARE(view.markers().cameras.size(), std::size_t{6});
  // The sample's marks fit its poses within a pixel: every dot is green.
  for (const auto& point : view.markers().points) {
    QVERIFY(point.colour == modrin::views3d::ErrorColour(0));
  }
  const double withMarkers = ModelShare(view.grabFramebuffer());
  frame_->pointsAction()->trigger();
  frame_->camerasAction()->trigger();
  QVERIFY(view.markers().points.empty() && view.markers().cameras.empty());
  const QImage shot = view.grabFramebuffer();
  QVERIFY2(ModelShare(shot) > 2 * withMarkers, qPrintable(QString::number(withMarkers)));
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

// The first view of the calibrated house: every corner of the model's box within the middle
// 90 % of the view, some near its edge, and the eye on the side of the first photo's camera,
// raised at least 20 degrees, not the head-on default. Resizes keep a view nothing has moved
// fitted, and leave a turned one as it is.
void OglTest::firstViewShowsTheWholeModelFromTheFirstPhoto() {
  ShowFrame();
  Ogl& view = *frame_->view();
  const auto& box = view.box();
  auto widestCorner = [&] {
    double widest = 0;
    for (int corner = 0; corner < 8; ++corner) {
      const double x = corner & 1 ? box.max[0] : box.min[0];
      const double y = corner & 2 ? box.max[1] : box.min[1];
      const double z = corner & 4 ? box.max[2] : box.min[2];
      const QPointF device =
          DeviceCoordinates(view, QVector3D(static_cast<float>(x - box.center[0]),
                                            static_cast<float>(z - box.center[2]),
                                            static_cast<float>(box.center[1] - y)));
      widest = std::max({widest, std::abs(device.x()), std::abs(device.y())});
    }
    return widest;
  };
  // Fitted: every corner within 90 % of the view, one beyond 70 %.
  auto checkFitted = [&](const char* when) {
    const double widest = widestCorner();
    QVERIFY2(widest <= 0.9 && widest > 0.7, qPrintable(QString("%1: %2").arg(when).arg(widest)));
  };
  checkFitted("first view");
  const QVector3D eye = EyeFromView(view.pose()).inverted().map(QVector3D(0, 0, 0));
  const QPointF seen = AzimuthAndElevation(eye.x(), -eye.z(), eye.y());
  const modrin::engine::Vec3& camera = document_->project().photos[0]->camera.translation;
  const QPointF photo = AzimuthAndElevation(camera.x - box.center[0], camera.y - box.center[1],
                                            camera.z - box.center[2]);
  QVERIFY2(std::abs(seen.x() - photo.x()) < 0.5,
           qPrintable(QString("%1 %2").arg(seen.x()).arg(photo.x())));
  QVERIFY2(std::abs(seen.y() - std::max(20.0, photo.y())) < 0.5,
           qPrintable(QString("%1 %2").arg(seen.y()).arg(photo.y())));

  // Made narrow before anything moved it, the view stays fitted; once turned, it stays as the
  // user left it.
  frame_->resize(200, 340);
  QTRY_COMPARE(view.width(), 200);
  checkFitted("made narrow");
  DragTo(view, QPoint(10, 0));
  const ViewPose turned = view.pose();
  frame_->resize(420, 340);
  QTRY_COMPARE(view.width(), 420);
  QCOMPARE(view.pose(), turned);
  frame_->resize(200, 340);
  QTRY_COMPARE(view.width(), 200);
  frame_->fullScreenAction()->trigger();
  checkFitted("Full screen when narrow");
}

void OglTest::fullScreenFitsTheTurnedModel() {
  ShowFrame();
  Ogl& view = *frame_->view();
  QRect fitted;
  ModelShare(view.grabFramebuffer(), &fitted);
  // Zoomed in and turned, then Full screen: turned back and whole again; Home does the same.
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
  // The model is drawn whole, clear of the edges, near the middle.
  QVERIFY2(shot.rect().adjusted(4, 4, -4, -4).contains(bounds),
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
  // Whole ticks only (the float sum of the ticks need not be an exact multiple).
  QVERIFY(std::abs(std::remainder(view.pose().rotY - before, 3.0f)) < 1e-3f);
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

// Each drag move and wheel turn moves the model and draws it. A drag turns the model by 180
// degrees per view width, either way.
void OglTest::mouseTurnsAndZooms() {
  ShowFrame();
  Ogl& view = *frame_->view();
  // The pointer's own move arrives before the press, and the frames drawn so far are done.
  QCursor::setPos(view.mapToGlobal(QPoint(10, 10)));
  QTest::qWait(100);
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(0, 100));
  QSignalSpy frames(&view, &Ogl::frameSwapped);
  const ViewPose start = view.pose();
  const float rate = 180.0f / static_cast<float>(view.width());
  DragTo(view, {10, 96});
  QCOMPARE(view.pose().rotY, start.rotY + 10 * rate);
  QCOMPARE(view.pose().rotX, start.rotX - 4 * rate);
  QCOMPARE(view.cursor().shape(), Qt::BitmapCursor);
  QTRY_VERIFY(!frames.isEmpty());
  frames.clear();
  const ViewPose turned = view.pose();
  DragTo(view, {10, 106}, Qt::ShiftModifier);
  QCOMPARE(view.pose(), (ViewPose{turned.rotX, turned.rotY, 0, turned.zDist + 1.0f}));
  QTRY_VERIFY(!frames.isEmpty());
  frames.clear();
  // Across the whole width: half round.
  DragTo(view, {10 + view.width(), 106});
  QVERIFY(std::abs(view.pose().rotY - (turned.rotY + 180)) < 1e-3f);
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(10 + view.width(), 106));
  QCOMPARE(view.cursor().shape(), Qt::ArrowCursor);
  // A wheel notch moves the model 1.2 units nearer.
  const float zDist = view.pose().zDist;
  TurnWheel(view, 120);
  QCOMPARE(view.pose().zDist, zDist + 1.2f);
  QTRY_VERIFY(!frames.isEmpty());
}

// A drag, however long, and keypad 8 and 2, however often, tilt the model no further than seen
// from straight above or below; the tilt key's turning stops there, the other turns go on.
void OglTest::elevationStopsStraightAboveAndBelow() {
  ShowFrame();
  Ogl& view = *frame_->view();
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(100, 100));
  DragTo(view, {100, 100 + 3 * view.width()});
  QCOMPARE(view.pose().rotX, 90.0f);
  DragTo(view, {120, 100 - 3 * view.width()});
  QCOMPARE(view.pose().rotX, -90.0f);
  // Dragged back, the tilt leaves the limit at once.
  DragTo(view, {120, 110 - 3 * view.width()});
  QCOMPARE(view.pose().rotX, -90.0f + 10 * 180.0f / static_cast<float>(view.width()));
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(120, 110));

  QCursor::setPos(view.mapToGlobal(view.rect().center()));
  QTest::keyClick(&view, Qt::Key_Right);
  for (const auto& [key, limit] : {std::pair{Qt::Key_8, 90.0f}, std::pair{Qt::Key_2, -90.0f}}) {
    for (int i = 0; i < 4; ++i) QTest::keyClick(&view, key, Qt::KeypadModifier);
    QTRY_COMPARE_WITH_TIMEOUT(view.pose().rotX, limit, 10000);
    QCOMPARE(view.velocity().rotX, 0.0f);
    QCOMPARE(view.velocity().rotY, 1.5f);
  }
  QTest::keyClick(&view, Qt::Key_End);
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
  // The eye moves back as far as a fit at the user's turn puts it, and the model keeps that
  // turn; Full screen turns it back to the view from the first photo.
  const ViewPose updated = view.pose();
  QVERIFY(updated.zDist < before.zDist);
  QCOMPARE(updated.rotX, before.rotX);
  QCOMPARE(updated.rotY, before.rotY);
  QCOMPARE(updated.zDist,
           FitDistance(view.box(), updated, view.projection().fovy, view.projection().aspect));
  frame_->fullScreenAction()->trigger();
  const ViewPose home = HomeTurn(house->project(), view.box());
  QCOMPARE(view.pose().rotX, home.rotX);
  QCOMPARE(view.pose().rotY, home.rotY);

  DragTo(view, QPoint(80, 20));
  const ViewPose turned = view.pose();
  frame_->UpdateView();
  QCOMPARE(view.pose(), turned);
}

QTEST_MAIN(OglTest)
#include "ogl_test.moc"
