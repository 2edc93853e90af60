#include "views2d/img.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "engine/geometry/camera.h"
#include "model/project.h"
#include "views2d/real_position_dialog.h"
#include "views2d/testing/recording_view_host.h"
#include "views2d/view_host.h"

using modrin::model::ImagePoint;
using modrin::model::Project;
using modrin::views2d::Img;
using modrin::views2d::RealPositionDialog;

namespace {

using TestHost = modrin::views2d::testing::RecordingViewHost;

modrin::model::Photo& AddPhoto(Project& project, int width, int height) {
  modrin::model::Photo& photo = project.AddPhoto();
  photo.path = "/photos/p" + std::to_string(project.photos.size()) + ".jpg";
  photo.levels.push_back(std::make_unique<modrin::images::DecodedImage>(
      modrin::images::DecodedImage::Filled(width, height, 90)));
  return photo;
}

// Gives the photo a calibrated camera 10 units south of the origin and 6 up, looking north
// and down at the ground.
void Calibrate(Project& project, modrin::model::Photo& photo, double east) {
  if (project.cameraDatabase.Find("Cam") == nullptr) {
    project.cameraDatabase.Insert("Cam", 0.0036, 0.0024, false);
  }
  photo.camera.cameraEntry = project.cameraDatabase.Find("Cam");
  photo.camera.focal = 0.004;
  photo.camera.translation = {east, -10, 6};
  photo.camera.orientation = {0.5, 0, east * -0.05};
  photo.camera.calibrated = true;
}

// The pixel of world point `p` in the photo, as the camera sees it.
ImagePoint PixelOf(const modrin::model::Photo& photo, const modrin::engine::Vec3& p) {
  const auto projected = modrin::engine::WorldToImage(photo.camera, p);
  ImagePoint pixel;
  modrin::model::NormalizedToPixel(photo, projected.image.x, projected.image.y, pixel.x, pixel.y);
  return pixel;
}

// Runs `act` on the modal dialog or popup the next action opens.
void WhenOpened(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* opened = QApplication::activeModalWidget();
    if (opened == nullptr) opened = QApplication::activePopupWidget();
    act(opened);
  });
}

int EdgeCount(const Project& project) { return static_cast<int>(project.graph.edges.size()); }

}  // namespace

class ImgTest : public QObject {
  Q_OBJECT

 private:
  // A shown view of photo `index` at zoom 1, scrolled to the top left.
  Img& ShowView(int index, QSize size = {420, 340}) {
    auto view = std::make_unique<Img>(host_);
    view->resize(size);
    view->SetProject(project_.get());
    view->SetPhoto(index);
    view->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(view.get())); }();
    view->SetZoom(1.0f);
    view->horizontalScrollBar()->setValue(0);
    view->verticalScrollBar()->setValue(0);
    views_.push_back(std::move(view));
    host_.views.push_back(views_.back().get());
    return *views_.back();
  }

  // The window point that shows pixel `pixel` of the view's photo.
  static QPoint At(const Img& view, ImagePoint pixel) { return view.WindowPosition(pixel); }

  static void Click(Img& view, ImagePoint pixel, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, At(view, pixel));
  }

  // The mouse moved over the view to pixel `pixel`, no button held.
  static void Hover(Img& view, ImagePoint pixel) {
    const QPoint at = At(view, pixel);
    QMouseEvent move(QEvent::MouseMove, at, view.viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &move);
  }

  static void Drag(Img& view, ImagePoint from, ImagePoint to) {
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, At(view, from));
    Hover(view, to);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, At(view, to));
  }

  ImagePoint PointOf(std::int32_t id, int photo = 0) const {
    ImagePoint point{-1, -1};
    project_->graph.GetImagePoint(id, photo, point);
    return point;
  }

  std::unique_ptr<Project> project_;
  TestHost host_;
  std::vector<std::unique_ptr<Img>> views_;

 private slots:
  void init() {
    host_ = TestHost();
    project_ = std::make_unique<Project>();
    project_->AddObject("Object").current = true;
  }
  void cleanup() {
    host_.views.clear();
    views_.clear();
    project_.reset();
  }

  void coordinatesFollowTheBottomRow() {
    AddPhoto(*project_, 200, 100);
    Img& view = ShowView(0);
    // Pixel (0, 0) is the bottom-left one; its mark is centred on (0, 100).
    QCOMPARE(view.WindowPosition({0, 0}), QPoint(0, 100));
    QCOMPARE(view.PixelAt(QPoint(0, 100)), (ImagePoint{0, 0}));
    QCOMPARE(view.PixelAt(QPoint(37, 20)), (ImagePoint{37, 80}));
    // Window points off the photo clamp to its border pixels.
    QCOMPARE(view.PixelAt(QPoint(-30, 500)), (ImagePoint{0, 0}));
    QCOMPARE(view.PixelAt(QPoint(390, -4)), (ImagePoint{199, 99}));

    // The mark of a position without coordinates is drawn there in the Incomplete colour.
    project_->AddImagePoint(0, {0, 0});
    project_->AddImagePoint(0, {30, 1});
    view.Redraw();
    const QImage shot = view.viewport()->grab().toImage();
    QCOMPARE(QColor(shot.pixel(32, 99)), view.settings().incompleteColour);
    QCOMPARE(QColor(shot.pixel(31, 97)), view.settings().incompleteColour);
    QCOMPARE(QColor(shot.pixel(31, 99)), QColor(90, 90, 90));
  }

  // Opening a project replaces the photos before the views are given theirs again; a paint in
  // between shows the photo now at the view's index, never the one that went.
  void paintAfterThePhotosWereReplaced() {
    AddPhoto(*project_, 200, 100);
    Img& view = ShowView(0);
    project_->photos.clear();
    view.viewport()->grab();
    QVERIFY(view.photo() == nullptr);
    AddPhoto(*project_, 60, 40);
    QCOMPARE(view.photo(), project_->photos[0].get());
    const QImage shot = view.viewport()->grab().toImage();
    QVERIFY(!shot.isNull());
  }

  void zoomIsBoundedAndFits() {
    AddPhoto(*project_, 2000, 1000);
    AddPhoto(*project_, 1000, 800);
    Img& view = ShowView(0);
    view.SetZoom(7);
    QCOMPARE(view.zoom(), 5.0f);
    view.SetZoom(0.5f);
    view.SetZoom(0);
    QCOMPARE(view.zoom(), 0.5f);

    QSignalSpy shown(&view, &Img::zoomChanged);
    view.resize(view.size() + QSize(500, 500) - view.viewport()->size());
    view.SetZoom(-1);
    QCOMPARE(view.zoom(), 0.25f);
    QCOMPARE(shown.last().at(0).toString(), QString(" 25%"));

    // The scrollable size is the zoomed photo.
    view.SetPhoto(1);
    view.SetZoom(0.5f);
    QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
    view.SetZoom(1.0f);
    QCOMPARE(view.horizontalScrollBar()->maximum() + view.viewport()->width(), 1000);
    QCOMPARE(view.verticalScrollBar()->maximum() + view.viewport()->height(), 800);

    // The keypad zooms past 500 %, the Home key back to 100 %.
    view.SetZoom(5.0f);
    QTest::keyClick(&view, Qt::Key_Plus, Qt::KeypadModifier);
    QCOMPARE(view.zoom(), 5.0f * 1.1f);
    QTest::keyClick(&view, Qt::Key_Home);
    QCOMPARE(view.zoom(), 1.0f);
    // A held key cannot drive the zoom where the photo has no pixel left or no size the
    // window system can scroll.
    for (int i = 0; i < 400; ++i) QTest::keyClick(&view, Qt::Key_Minus, Qt::KeypadModifier);
    QVERIFY(view.zoom() > 0);
    for (int i = 0; i < 800; ++i) QTest::keyClick(&view, Qt::Key_Plus, Qt::KeypadModifier);
    QCOMPARE(view.zoom(), Img::kMaxFreeZoom);
  }

  void pickToleranceFollowsTheZoom() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    const std::pair<float, int> cases[] = {{0.25f, 20}, {1.0f, 5}, {5.0f, 1}};
    for (const auto& [zoom, tolerance] : cases) {
      view.SetZoom(zoom);
      QCOMPARE(view.PickTolerance(), tolerance);
    }
    // At zoom 1 a click 5 pixels off hits the position; 6 pixels off adds another.
    const std::int32_t id = project_->AddImagePoint(0, {100, 100});
    view.SetZoom(1.0f);
    view.horizontalScrollBar()->setValue(0);
    view.verticalScrollBar()->setValue(0);
    view.SetMode(Img::kSelect);
    Click(view, {105, 95});
    QCOMPARE(host_.selection().selectedPosition, id);
    Click(view, {106, 100});
    QCOMPARE(host_.selection().selectedPosition, -1);
    view.SetMode(Img::kAdd);
    Click(view, {105, 95});
    QCOMPARE(host_.selection().selectedPosition, id);
    QCOMPARE(project_->graph.positions.size(), std::size_t{1});
    Click(view, {111, 95});
    QCOMPARE(project_->graph.positions.size(), std::size_t{2});
  }

  void addModeAddsAndChainsEdges() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    Click(view, {50, 50});
    QCOMPARE(project_->graph.positions.size(), std::size_t{1});
    QVERIFY(host_.modified > 0);
    QCOMPARE(host_.refreshed3D, 1);
    const std::int32_t first = host_.selection().selectedPosition;
    QCOMPARE(PointOf(first), (ImagePoint{50, 50}));
    QCOMPARE(EdgeCount(*project_), 0);

    // Shift-clicks draw a polyline; clicking the first position again closes the loop.
    Click(view, {150, 50}, Qt::ShiftModifier);
    Click(view, {150, 150}, Qt::ShiftModifier);
    QCOMPARE(project_->graph.positions.size(), std::size_t{3});
    QCOMPARE(EdgeCount(*project_), 2);
    Click(view, {51, 49}, Qt::ShiftModifier);
    QCOMPARE(project_->graph.positions.size(), std::size_t{3});
    QCOMPARE(EdgeCount(*project_), 3);
    QCOMPARE(host_.selection().selectedPosition, first);
    // A click that hits the position drags it too: it stays where it was released.
    QCOMPARE(PointOf(first), (ImagePoint{51, 49}));

    // The Edge mode button chains without Shift.
    view.SetEdgeMode(true);
    Click(view, {300, 200});
    QCOMPARE(EdgeCount(*project_), 4);
    view.SetEdgeMode(false);
    Click(view, {350, 250});
    QCOMPARE(EdgeCount(*project_), 4);
  }

  void shiftShowsChainingWhileHeld() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    QSignalSpy shown(&view, &Img::edgeChainingShown);
    QTest::keyPress(&view, Qt::Key_Shift);
    QCOMPARE(shown.last().at(0).toBool(), true);
    // The release comes with Shift still among its modifiers; chaining ends all the same.
    QTest::keyRelease(&view, Qt::Key_Shift, Qt::ShiftModifier);
    QCOMPARE(shown.last().at(0).toBool(), false);
  }

  void clickOnAnEdgeSplitsIt() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    const std::int32_t a = project_->AddImagePoint(0, {50, 100});
    const std::int32_t b = project_->AddImagePoint(0, {250, 100});
    project_->AddEdge(a, b);
    Click(view, {150, 102});
    const std::int32_t inserted = host_.selection().selectedPosition;
    QVERIFY(inserted != a && inserted != b && inserted >= 0);
    QCOMPARE(EdgeCount(*project_), 2);
    std::int32_t edge = -1;
    QVERIFY(project_->graph.FindEdge(std::min(a, inserted), std::max(a, inserted), edge));
    QVERIFY(project_->graph.FindEdge(std::min(b, inserted), std::max(b, inserted), edge));
    QVERIFY(!project_->graph.FindEdge(a, b, edge));
  }

  void dropMergesIntoTheTarget() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    const std::int32_t dragged = project_->AddImagePoint(0, {50, 50});
    const std::int32_t target = project_->AddImagePoint(0, {200, 120});
    const std::int32_t other = project_->AddImagePoint(0, {300, 50});
    project_->AddEdge(dragged, other);

    // Dropped on itself: nothing merges, the position stays.
    Drag(view, {50, 50}, {52, 51});
    QCOMPARE(project_->graph.positions.size(), std::size_t{3});
    QCOMPARE(PointOf(dragged), (ImagePoint{52, 51}));

    // Dropped within reach of another position: merged into it, at the drop point, with the
    // dragged position's edges.
    Drag(view, {52, 51}, {203, 118});
    QVERIFY(!project_->graph.positions.contains(dragged));
    QCOMPARE(host_.selection().selectedPosition, target);
    QCOMPARE(PointOf(target), (ImagePoint{203, 118}));
    std::int32_t edge = -1;
    QVERIFY(project_->graph.FindEdge(std::min(target, other), std::max(target, other), edge));
    QVERIFY(!host_.selection().dragging);
  }

  void moveModeDragsButNeverAdds() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    const std::int32_t id = project_->AddImagePoint(0, {100, 100});
    view.SetMode(Img::kMove);
    Drag(view, {100, 100}, {140, 60});
    QCOMPARE(PointOf(id), (ImagePoint{140, 60}));
    Click(view, {300, 200});
    QCOMPARE(project_->graph.positions.size(), std::size_t{1});
    QCOMPARE(host_.selection().selectedPosition, -1);
  }

  void deleteModeAndHeldKeys() {
    AddPhoto(*project_, 400, 300);
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    const std::int32_t a = project_->AddImagePoint(0, {50, 50});
    const std::int32_t b = project_->AddImagePoint(0, {250, 50});
    const std::int32_t c = project_->AddImagePoint(0, {250, 250});
    project_->graph.SetImagePoint(a, 1, {10, 10});
    project_->AddEdge(b, c);
    project_->AddEdge(a, b);

    // Holding D deletes with each click and returns to Add on release.
    QTest::keyPress(&view, Qt::Key_D);
    QCOMPARE(view.mode(), int(Img::kDelete));
    // A held key repeats; the repeats change nothing.
    QTest::keyPress(&view, Qt::Key_D, {}, -1);
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_D, {}, "d", true);
    QApplication::sendEvent(&view, &repeatRelease);
    QCOMPARE(view.mode(), int(Img::kDelete));
    // A position is removed from this photo only; it lives on in the other one.
    Click(view, {50, 50});
    QCOMPARE(PointOf(a, 0), (ImagePoint{-1, -1}));
    QCOMPARE(PointOf(a, 1), (ImagePoint{10, 10}));
    // An edge is removed; its ends stay.
    Click(view, {250, 150});
    QCOMPARE(EdgeCount(*project_), 0);
    QCOMPARE(project_->graph.positions.size(), std::size_t{3});
    QTest::keyRelease(&view, Qt::Key_D);
    QCOMPARE(view.mode(), int(Img::kAdd));

    // Delete a position seen in this photo alone: it disappears.
    view.SetMode(Img::kDelete);
    Click(view, {250, 250});
    QVERIFY(!project_->graph.positions.contains(c));
    // A click on nothing only clears the selection.
    Click(view, {390, 290});
    QCOMPARE(project_->graph.positions.size(), std::size_t{2});
    QCOMPARE(host_.selection().selectedPosition, -1);
  }

  void setRealPositionTakesNumbersAndEmptyFields() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    const std::int32_t id = project_->AddImagePoint(0, {100, 100});
    project_->graph.SetRealCoords(id, {1.23456, -2.0004, 99999});
    host_.selection().selectedPosition = id;

    // The dialog shows thousandths, an unknown coordinate as an empty field; an empty field
    // is read back as unknown.
    QStringList shown;
    WhenOpened([&](QWidget* opened) {
      auto* dialog = qobject_cast<RealPositionDialog*>(opened);
      QVERIFY(dialog != nullptr);
      for (int axis = 0; axis < 3; ++axis) shown << dialog->field(axis)->text();
      dialog->field(0)->setText("12.5");
      dialog->field(1)->setText("");
      dialog->field(2)->setText(" -3 ");
      dialog->accept();
    });
    view.SetRealPosition();
    QCOMPARE(shown, (QStringList{"1.235", "-2", ""}));
    QCOMPARE(project_->graph.positions.at(id).coords, (std::array<double, 3>{12.5, 99999, -3}));
    QVERIFY(project_->graph.IsReal(id));

    // Text that is not a number is refused and the dialog stays open.
    bool stayedOpen = false;
    WhenOpened([&](QWidget* opened) {
      auto* dialog = qobject_cast<RealPositionDialog*>(opened);
      QVERIFY(dialog != nullptr);
      dialog->field(1)->setText("4,5");
      WhenOpened([](QWidget* box) {
        QVERIFY(qobject_cast<QMessageBox*>(box) != nullptr);
        static_cast<QMessageBox*>(box)->accept();
      });
      dialog->accept();
      stayedOpen = dialog->isVisible();
      dialog->reject();
    });
    view.SetRealPosition();
    QVERIFY(stayedOpen);
    QCOMPARE(project_->graph.positions.at(id).coords, (std::array<double, 3>{12.5, 99999, -3}));
  }

  void contextMenuOffersTheModes() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    project_->AddImagePoint(0, {100, 100});
    QStringList texts;
    QList<bool> enabled, checked;
    auto inspect = [&](QWidget* opened) {
      auto* menu = qobject_cast<QMenu*>(opened);
      QVERIFY(menu != nullptr);
      texts.clear();
      enabled.clear();
      checked.clear();
      for (QAction* action : menu->actions()) {
        texts << action->text();
        enabled << action->isEnabled();
        checked << action->isChecked();
      }
      menu->close();
    };
    view.SetMode(Img::kDelete);
    WhenOpened(inspect);
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, At(view, {300, 200}));
    QCOMPARE(texts, (QStringList{"&Add", "&Move", "&Delete", "&Select", "", "Set real position", "",
                                 "&Stereo move"}));
    QCOMPARE(checked, (QList<bool>{false, false, true, false, false, false, false, false}));
    // Nothing under the mouse: no position to give coordinates to.
    QCOMPARE(enabled[5], false);

    view.SetCursorAlive(true);
    WhenOpened(inspect);
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, At(view, {102, 98}));
    QCOMPARE(enabled[5], true);
    QCOMPARE(checked[7], true);
  }

  void cursorFollowsIntoTheOtherPhotos() {
    modrin::model::Photo& left = AddPhoto(*project_, 600, 400);
    modrin::model::Photo& right = AddPhoto(*project_, 600, 400);
    AddPhoto(*project_, 300, 200);
    Calibrate(*project_, left, -2);
    Calibrate(*project_, right, 2);
    Img& leftView = ShowView(0, {700, 500});
    Img& rightView = ShowView(1, {700, 500});
    Img& plainView = ShowView(2, {400, 300});

    // A ground point: the mouse on its pixel in one photo puts the other photo's cursor on its
    // pixel there.
    const modrin::engine::Vec3 ground{0.7, 1.5, 0};
    const ImagePoint inLeft = PixelOf(left, ground);
    const ImagePoint inRight = PixelOf(right, ground);
    Hover(leftView, inLeft);
    QVERIFY(leftView.cursor3DValid());
    QVERIFY(std::abs(rightView.cursorPoint().x - inRight.x) <= 1);
    QVERIFY(std::abs(rightView.cursorPoint().y - inRight.y) <= 1);
    // The status bar shows the 3D cursor: the ground point, to within the ground a pixel or two
    // covers there.
    const QStringList xyz = host_.coordinates.split(", ");
    QCOMPARE(xyz.size(), 3);
    QCOMPARE(xyz[0].size(), 9);
    QVERIFY2(std::abs(xyz[0].toDouble() - 0.7) < 0.04, qPrintable(host_.coordinates));
    QVERIFY2(std::abs(xyz[1].toDouble() - 1.5) < 0.08, qPrintable(host_.coordinates));
    QCOMPARE(xyz[2], QString("    0.000"));
    // The uncalibrated photo gets the same pixel, clamped to its size.
    QCOMPARE(plainView.cursorPoint(),
             (ImagePoint{std::min(inLeft.x, 299), std::min(inLeft.y, 199)}));

    // From the uncalibrated photo, every other view gets the pixel itself.
    Hover(plainView, {120, 80});
    QVERIFY(!plainView.cursor3DValid());
    QCOMPARE(leftView.cursorPoint(), (ImagePoint{120, 80}));
    QCOMPARE(rightView.cursorPoint(), (ImagePoint{120, 80}));

    // Up twice raises the cursor plane 0.002 per tick; Down stops it.
    Hover(leftView, inLeft);
    QTest::keyClick(&leftView, Qt::Key_Up);
    QTest::keyClick(&leftView, Qt::Key_Up);
    QTRY_VERIFY(host_.selection().cursorHeight >= 0.02);
    QTest::keyClick(&leftView, Qt::Key_Down);
    const double stopped = host_.selection().cursorHeight;
    QTest::qWait(30);
    QCOMPARE(host_.selection().cursorHeight, stopped);
    QVERIFY(std::abs(std::fmod(stopped + 1e-9, 0.002)) < 1e-6);
  }

  void markerMovesRepaintOnlyItsArea() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    view.DrawCursorMarker();
    Hover(view, {100, 100});
    QVERIFY(view.markerShown());
    // The marker is drawn in the Current colour around the cursor.
    QTRY_COMPARE(
        QColor(view.viewport()->grab().toImage().pixel(At(view, {100, 100}) + QPoint(2, 0))),
        view.settings().currentColour);
  }

  void helpAdvisesTheNextStep() {
    AddPhoto(*project_, 400, 300);
    Img& view = ShowView(0);
    view.HelpRequest();
    QCOMPARE(host_.prompt, QString("Image not calibrated. Run the calibration process"));
    QCOMPARE(host_.helpTopic, QString("GettingStarted.html#CalibrationStep"));
  }
};

QTEST_MAIN(ImgTest)
#include "img_test.moc"
