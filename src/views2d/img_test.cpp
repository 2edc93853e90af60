#include "views2d/img.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPaintEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "engine/geometry/camera.h"
#include "model/project.h"
#include "views2d/caps_lock.h"
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

// Counts the paint events of the widgets it watches and gathers the regions they paint.
struct PaintRecorder : QObject {
  std::map<QObject*, int> paints;
  QRegion painted;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++paints[watched];
      painted += static_cast<QPaintEvent*>(event)->region();
    }
    return false;
  }
};

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

  // A shown view, as ShowView, of a new grey photo of `width` x `height` pixels.
  Img& ShowPhoto(int width = 400, int height = 300) {
    AddPhoto(*project_, width, height);
    return ShowView(static_cast<int>(project_->photos.size()) - 1);
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

  // How many positions and edges the project has.
  std::pair<int, int> Counts() const {
    return {static_cast<int>(project_->graph.positions.size()),
            static_cast<int>(project_->graph.edges.size())};
  }

  // Scrolls the view so that pixel `pixel` shows at window point (200, 150).
  static void ScrollTo(Img& view, ImagePoint pixel) {
    const QPoint shift = At(view, pixel) - QPoint(200, 150);
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->value() + shift.x());
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + shift.y());
  }

  // Red pixels (the label colour) below and beside the mark of pixel `pixel`, where its id label is
  // drawn.
  static int LabelPixels(Img& view, ImagePoint pixel) {
    const QImage shot = view.viewport()->grab().toImage();
    int count = 0;
    const int beside = view.settings().pointSize + view.settings().pointWidth + 1;
    const QRect area(At(view, pixel) + QPoint(-1, beside), QSize(80, 24));
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        // Text is smoothed: a thin glyph may have no pixel of the full colour.
        const QColor seen(shot.pixel(x, y));
        count += seen.red() > 160 && seen.green() < 60 && seen.blue() < 60;
      }
    }
    return count;
  }

  bool HasEdge(std::int32_t a, std::int32_t b) const {
    std::int32_t edge = -1;
    return project_->graph.FindEdge(std::min(a, b), std::max(a, b), edge);
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
    Img& view = ShowPhoto(200, 100);
    // Pixel (0, 0) is the bottom-left one: its mark is centred on the bottom screen row.
    QCOMPARE(view.WindowPosition({0, 0}), QPoint(0, 99));
    QCOMPARE(view.PixelAt(QPoint(0, 99)), (ImagePoint{0, 0}));
    QCOMPARE(view.PixelAt(QPoint(37, 20)), (ImagePoint{37, 79}));
    // Window points off the photo clamp to its border pixels.
    QCOMPARE(view.PixelAt(QPoint(-30, 500)), (ImagePoint{0, 0}));
    QCOMPARE(view.PixelAt(QPoint(390, -4)), (ImagePoint{199, 99}));

    // The mark of a position without coordinates is drawn there in the Incomplete colour.
    project_->AddImagePoint(0, {30, 1});
    view.Redraw();
    const QImage shot = view.viewport()->grab().toImage();
    QCOMPARE(QColor(shot.pixel(32, 98)), view.settings().incompleteColour);
    QCOMPARE(QColor(shot.pixel(31, 96)), view.settings().incompleteColour);
    QCOMPARE(QColor(shot.pixel(31, 98)), QColor(90, 90, 90));
  }

  // Every screen pixel shows the image pixel a click there picks, and a mark is drawn on the
  // screen pixel that shows its image pixel: at every zoom, scrolled or not.
  void marksAreDrawnWhereTheyArePicked() {
    AddPhoto(*project_, 400, 300);
    AddPhoto(*project_, 80, 60);
    for (int photo : {0, 1}) {
      auto& image = *project_->photos[static_cast<std::size_t>(photo)]->levels.front();
      for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
          std::uint8_t* pixel = image.pixels.data() + y * image.stride() + x * 3;
          pixel[0] = static_cast<std::uint8_t>(x);
          pixel[1] = static_cast<std::uint8_t>(y);
          pixel[2] = static_cast<std::uint8_t>((x >> 8) | (y >> 8) << 4);
        }
      }
    }
    Img& view = ShowView(0);
    view.SetMode(Img::kSelect);
    view.resize(view.size() + QSize(420, 315) - view.viewport()->size());
    struct Case {
      float zoom;  // 0: fit the 80 x 60 photo, which gives 5.25
      bool scrolled;
    };
    const Case cases[] = {{0.25f, false}, {1, false}, {1, true},   {2, false},  {2, true},
                          {0, false},     {64, true}, {64, false}, {5.0f, true}};
    for (const Case& c : cases) {
      view.SetPhoto(c.zoom == 0 ? 1 : 0);
      if (c.zoom == 0) {
        view.SetZoom(-1);
        QCOMPARE(view.zoom(), 5.25f);
      } else if (c.zoom > 5) {
        view.SetZoom(5);
        while (view.zoom() < c.zoom) QTest::keyClick(&view, Qt::Key_Plus, Qt::KeypadModifier);
      } else {
        view.SetZoom(c.zoom);
      }
      QScrollBar* across = view.horizontalScrollBar();
      QScrollBar* down = view.verticalScrollBar();
      across->setValue(c.scrolled ? across->maximum() / 2 + 7 : 0);
      down->setValue(c.scrolled ? down->maximum() / 2 + 3 : 0);
      const QString where =
          QString("zoom %1%2").arg(view.zoom()).arg(c.scrolled ? " scrolled" : "");
      const QImage shot = view.viewport()->grab().toImage();
      const ImagePoint first = view.PixelAt({0, view.viewport()->height() - 1});
      const ImagePoint last = view.PixelAt({view.viewport()->width() - 1, 0});
      const int slack = view.zoom() < 1 ? static_cast<int>(std::ceil(1 / view.zoom())) : 0;
      for (int y = first.y; y <= last.y; y += std::max(1, (last.y - first.y) / 7)) {
        for (int x = first.x; x <= last.x; x += std::max(1, (last.x - first.x) / 9)) {
          const QPoint at = view.WindowPosition({x, y});
          const ImagePoint picked = view.PixelAt(at);
          QVERIFY2(std::abs(picked.x - x) <= slack && std::abs(picked.y - y) <= slack,
                   qPrintable(where));
          if (!view.viewport()->rect().contains(at)) continue;
          // The cursor marker covers a few pixels of the picture.
          const QPoint fromMarker = at - view.WindowPosition(view.cursorPoint());
          if (std::max(std::abs(fromMarker.x()), std::abs(fromMarker.y())) <= 4) continue;
          const QRgb shown = shot.pixel(at);
          const auto* pixel =
              project_->photos[static_cast<std::size_t>(view.photoIndex())]->image().Pixel(
                  picked.x, picked.y);
          QVERIFY2(shown == qRgb(pixel[0], pixel[1], pixel[2]), qPrintable(where));
        }
      }
      // A click on a drawn mark picks its position, also where the tolerance is no pixel.
      const ImagePoint middle{(first.x + last.x) / 2, (first.y + last.y) / 2};
      const std::int32_t id = project_->AddImagePoint(view.photoIndex(), middle);
      Click(view, middle);
      QVERIFY2(host_.selection().selectedPosition == id, qPrintable(where));
      project_->graph.positions.clear();
    }
  }

  void wheelAndKeysZoomAboutThePointer() {
    Img& view = ShowPhoto(1600, 1200);
    view.SetZoom(2);
    view.horizontalScrollBar()->setValue(1400);
    view.verticalScrollBar()->setValue(1000);
    const QPoint mouse(123, 87);
    auto turn = [&](int notch) {
      QWheelEvent wheel(mouse, view.viewport()->mapToGlobal(mouse), {}, {0, notch}, Qt::NoButton,
                        {}, Qt::NoScrollPhase, false);
      QApplication::sendEvent(view.viewport(), &wheel);
    };
    ImagePoint under = view.PixelAt(mouse);
    for (int notch : {120, 120, 240, -120, -360, -120, 120}) {
      turn(notch);
      QCOMPARE(view.PixelAt(mouse), under);
    }
    QVERIFY(view.zoom() != 2.0f);
    // From a photo smaller than the window, which cannot scroll: the pixel comes back under
    // the mouse once the photo has grown past the window.
    view.SetZoom(0.1f);
    under = view.PixelAt(mouse);
    for (int i = 0; i < 12; ++i) turn(120);
    QCOMPARE(view.PixelAt(mouse), under);
    // The keys zoom about the mouse when it is over the view.
    QCursor::setPos(view.viewport()->mapToGlobal(mouse));
    if (view.viewport()->mapFromGlobal(QCursor::pos()) == mouse) {
      QTest::keyClick(&view, Qt::Key_Plus, Qt::KeypadModifier);
      QTest::keyClick(&view, Qt::Key_Home);
      QCOMPARE(view.PixelAt(mouse), under);
    }
    // The zoom box's values keep the view's centre.
    const QPoint centre = view.viewport()->rect().center();
    const ImagePoint atCentre = view.PixelAt(centre);
    view.SetZoom(3.5f);
    QVERIFY(std::abs(view.PixelAt(centre).x - atCentre.x) <= 1);
    QVERIFY(std::abs(view.PixelAt(centre).y - atCentre.y) <= 1);
  }

  // Opening a project replaces the photos before the views are given theirs again; a paint in
  // between shows the photo now at the view's index, never the one that went.
  void paintAfterThePhotosWereReplaced() {
    Img& view = ShowPhoto(200, 100);
    project_->photos.clear();
    view.viewport()->grab();
    QVERIFY(view.photo() == nullptr);
    modrin::model::Photo& replacement = project_->AddPhoto();
    replacement.levels.push_back(std::make_unique<modrin::images::DecodedImage>(
        modrin::images::DecodedImage::Filled(60, 40, 200)));
    QCOMPARE(view.photo(), project_->photos[0].get());
    view.Redraw();
    QCOMPARE(QColor(view.viewport()->grab().toImage().pixel(10, 10)), QColor(200, 200, 200));
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
    Img& view = ShowPhoto();
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
    QCOMPARE(Counts().first, 1);
    Click(view, {111, 95});
    QCOMPARE(Counts().first, 2);
  }

  void addModeAddsAndChainsEdges() {
    Img& view = ShowPhoto();
    Click(view, {50, 50});
    QCOMPARE(Counts(), (std::pair{1, 0}));
    QVERIFY(host_.modified > 0);
    QCOMPARE(host_.refreshed3D, 1);
    const std::int32_t first = host_.selection().selectedPosition;
    QCOMPARE(PointOf(first), (ImagePoint{50, 50}));

    // Shift-clicks draw a polyline; clicking the first position again closes the loop.
    Click(view, {150, 50}, Qt::ShiftModifier);
    Click(view, {150, 150}, Qt::ShiftModifier);
    QCOMPARE(Counts(), (std::pair{3, 2}));
    Click(view, {51, 49}, Qt::ShiftModifier);
    QCOMPARE(Counts(), (std::pair{3, 3}));
    QCOMPARE(host_.selection().selectedPosition, first);
    // A click that hits the position only selects it.
    QCOMPARE(PointOf(first), (ImagePoint{50, 50}));

    // The Edge mode button chains without Shift.
    view.SetEdgeMode(true);
    Click(view, {300, 200});
    QCOMPARE(Counts(), (std::pair{4, 4}));
    view.SetEdgeMode(false);
    Click(view, {350, 250});
    QCOMPARE(Counts(), (std::pair{5, 4}));
  }

  void shiftShowsChainingWhileHeld() {
    Img& view = ShowPhoto();
    QSignalSpy shown(&view, &Img::edgeChainingShown);
    QTest::keyPress(&view, Qt::Key_Shift);
    QCOMPARE(shown.last().at(0).toBool(), true);
    // The release comes with Shift still among its modifiers; chaining ends all the same.
    QTest::keyRelease(&view, Qt::Key_Shift, Qt::ShiftModifier);
    QCOMPARE(shown.last().at(0).toBool(), false);
  }

  void clickOnAnEdgeSplitsIt() {
    Img& view = ShowPhoto();
    const std::int32_t a = project_->AddImagePoint(0, {50, 100});
    const std::int32_t b = project_->AddImagePoint(0, {250, 100});
    project_->AddEdge(a, b);
    Click(view, {150, 102});
    const std::int32_t inserted = host_.selection().selectedPosition;
    QVERIFY(inserted != a && inserted != b && inserted >= 0);
    QCOMPARE(Counts(), (std::pair{3, 2}));
    QVERIFY(HasEdge(a, inserted) && HasEdge(b, inserted) && !HasEdge(a, b));
  }

  void dragsMoveAndDropsMerge() {
    Img& view = ShowPhoto();
    const std::int32_t dragged = project_->AddImagePoint(0, {50, 50});
    const std::int32_t target = project_->AddImagePoint(0, {200, 120});
    const std::int32_t other = project_->AddImagePoint(0, {300, 50});
    project_->AddEdge(dragged, other);

    // Dragged away and dropped back on itself: nothing merges, the position is placed there.
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, At(view, {50, 50}));
    Hover(view, {90, 80});
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, At(view, {52, 51}));
    QCOMPARE(Counts(), (std::pair{3, 1}));
    QCOMPARE(PointOf(dragged), (ImagePoint{52, 51}));

    // Dropped within reach of another position: merged into it, at the drop point, with the
    // dragged position's edges.
    Drag(view, {52, 51}, {203, 118});
    QVERIFY(!project_->graph.positions.contains(dragged));
    QCOMPARE(host_.selection().selectedPosition, target);
    QCOMPARE(PointOf(target), (ImagePoint{203, 118}));
    QVERIFY(HasEdge(target, other));
    QVERIFY(!host_.selection().dragging);

    // The Move mode drags too, but a click beside the positions adds none.
    view.SetMode(Img::kMove);
    Drag(view, {203, 118}, {140, 60});
    QCOMPARE(PointOf(target), (ImagePoint{140, 60}));
    Click(view, {350, 250});
    QCOMPARE(Counts(), (std::pair{2, 1}));
    QCOMPARE(host_.selection().selectedPosition, -1);
  }

  // A press and release within the drag distance selects a mark and leaves its pixel as it
  // was, at any zoom, in Add and in Move mode; only a drag past the distance moves it.
  void onlyADragMovesAMark() {
    Img& view = ShowPhoto(2000, 1500);
    const ImagePoint home{1000, 700};
    const std::int32_t id = project_->AddImagePoint(0, home);
    const std::int32_t end = project_->AddImagePoint(0, {1000, 900});
    project_->AddEdge(id, end);
    const QPoint jitter(3, -2);
    const QPoint drag(20, 0);
    for (float zoom : {0.2f, 2.0f}) {
      for (int mode : {Img::kAdd, Img::kMove}) {
        const QString what = QString("zoom %1 mode %2").arg(zoom).arg(mode);
        view.SetMode(mode);
        view.SetZoom(zoom);
        ScrollTo(view, home);
        const int modified = host_.modified;
        const QPoint at = At(view, home) + QPoint(1, 1);
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, at);
        QMouseEvent move(QEvent::MouseMove, at + jitter, view.viewport()->mapToGlobal(at + jitter),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &move);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at + jitter);
        QVERIFY2(PointOf(id) == home, qPrintable(what));
        QCOMPARE(host_.selection().selectedPosition, id);
        QCOMPARE(host_.modified, modified);
        QCOMPARE(Counts(), (std::pair{2, 1}));

        // An edge click in Move mode selects the edge and moves neither end.
        if (mode == Img::kMove) {
          Click(view, {1000, 800});
          QVERIFY(host_.selection().selectedEdge >= 0);
          QVERIFY2(PointOf(id) == home && PointOf(end) == (ImagePoint{1000, 900}),
                   qPrintable(what));
        }

        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, at);
        Hover(view, home);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at + drag);
        QVERIFY2(PointOf(id) == view.PixelAt(at + drag), qPrintable(what));
        QVERIFY(host_.modified > modified);
        project_->MoveImagePoint(id, 0, home);
      }
    }
  }

  // The position selected in one view is marked by the next Add click in a view whose photo
  // lacks it, and stays selected: one click per photo marks a scene point in all of them.
  void aClickMarksTheSelectedPositionInEachPhoto() {
    modrin::model::Photo& left = AddPhoto(*project_, 600, 400);
    modrin::model::Photo& right = AddPhoto(*project_, 600, 400);
    AddPhoto(*project_, 400, 300).path = "/photos/a_rather_long_photo_name_here.jpg";
    Calibrate(*project_, left, -2);
    Calibrate(*project_, right, 2);
    Img& leftView = ShowView(0, {700, 500});
    Img& rightView = ShowView(1, {700, 500});
    Img& plainView = ShowView(2);
    const modrin::engine::Vec3 corner{0.7, 1.5, 0.4};

    Click(leftView, PixelOf(left, corner));
    const std::int32_t a = host_.selection().selectedPosition;
    Hover(rightView, PixelOf(right, corner));
    QCOMPARE(rightView.ClickPrompt(),
             QString("Click marks position %1 in p2.jpg; Esc for a new position").arg(a));
    QCOMPARE(leftView.ClickPrompt(), QString());
    Click(rightView, PixelOf(right, corner));
    Click(plainView, {100, 100});
    QCOMPARE(Counts(), (std::pair{1, 0}));
    QCOMPARE(host_.selection().selectedPosition, a);
    QCOMPARE(PointOf(a, 1), PixelOf(right, corner));
    QCOMPARE(PointOf(a, 2), (ImagePoint{100, 100}));
    // A long photo name is shortened in the middle.
    QCOMPARE(host_.coordinates,
             QString("a_rather_lo") + QChar(0x2026) + "ame_here.jpg  x 100  y 100");
    // Computed from the two calibrated photos.
    modrin::model::PositionGraph::Coords xyz{};
    QVERIFY(project_->graph.GetCoords(a, xyz));
    QVERIFY2(std::abs(xyz[0] - 0.7) < 0.05 && std::abs(xyz[2] - 0.4) < 0.05,
             qPrintable(QString::asprintf("%g %g %g", xyz[0], xyz[1], xyz[2])));
    // The selected position's id shows in every view that marks it, labels on or off.
    QVERIFY(!rightView.settings().showIds);
    QVERIFY(LabelPixels(rightView, PixelOf(right, corner)) > 0);

    // Where the selected position is marked, a click adds a new one; a Shift click in the next
    // photo marks it and joins it to the one selected before, marked there too.
    Click(leftView, {400, 100});
    const std::int32_t b = host_.selection().selectedPosition;
    QVERIFY(b != a);
    QVERIFY(LabelPixels(rightView, PixelOf(right, corner)) == 0);
    Click(rightView, {420, 110}, Qt::ShiftModifier);
    QCOMPARE(Counts(), (std::pair{2, 1}));
    QVERIFY(HasEdge(a, b));
    QCOMPARE(PointOf(b, 1), (ImagePoint{420, 110}));
    // In the third photo `a` is marked, `b` is not: a chained mark of `b` joins it again.
    Click(plainView, {200, 100}, Qt::ShiftModifier);
    QCOMPARE(Counts(), (std::pair{2, 1}));
    QCOMPARE(PointOf(b, 2), (ImagePoint{200, 100}));

    // A drag cut short by the focus leaving places nothing and keeps the coordinates.
    QTest::mousePress(rightView.viewport(), Qt::LeftButton, {}, At(rightView, PointOf(a, 1)));
    Hover(rightView, {300, 300});
    QVERIFY(host_.selection().Dragged());
    QFocusEvent focusOut(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(&rightView, &focusOut);
    QVERIFY(!host_.selection().dragging);
    QCOMPARE(PointOf(a, 1), PixelOf(right, corner));
    QVERIFY(project_->graph.GetCoords(a, xyz));

    // A click on another position's mark selects that one; Escape forgets the selection, and
    // the next click adds a new position.
    Click(leftView, {500, 300});
    const std::int32_t c = host_.selection().selectedPosition;
    Click(rightView, PointOf(a, 1));
    QCOMPARE(host_.selection().selectedPosition, a);
    QCOMPARE(PointOf(c, 1), (ImagePoint{-1, -1}));
    host_.selection().selectedPosition = c;
    QTest::keyClick(&rightView, Qt::Key_Escape);
    QCOMPARE(host_.selection().selectedPosition, -1);
    Click(rightView, {50, 50});
    QCOMPARE(Counts(), (std::pair{4, 1}));
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
    QCOMPARE(Counts(), (std::pair{3, 0}));
    QTest::keyRelease(&view, Qt::Key_D);
    QCOMPARE(view.mode(), int(Img::kAdd));

    // A mode key held in one view and released in another, where the mouse took the focus,
    // leaves the first view in its own mode.
    // With the window active the focus moves with focus events; without (no window manager)
    // it moves silently.
    Img& other = ShowView(1);
    for (bool active : {false, true}) {
      QTest::keyPress(&view, Qt::Key_D);
      QCOMPARE(view.mode(), int(Img::kDelete));
      if (active) {
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
      }
      Hover(other, {20, 20});
      QCOMPARE(view.mode(), int(Img::kAdd));
      QTest::keyRelease(&other, Qt::Key_D);
      QCOMPARE(other.mode(), int(Img::kAdd));
      Hover(view, {20, 20});
      view.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&view));
    }
    // Released in another view that never had the focus, the key ends the mode too.
    QTest::keyPress(&view, Qt::Key_D);
    QTest::keyRelease(&other, Qt::Key_D);
    QCOMPARE(view.mode(), int(Img::kAdd));
    // Back to Add also ends a mode a held key would return to.
    view.SetMode(Img::kDelete);
    view.ResetMode();
    QTest::keyPress(&view, Qt::Key_F);
    QTest::keyRelease(&view, Qt::Key_F);
    QCOMPARE(view.mode(), int(Img::kAdd));

    // Delete a position seen in this photo alone: it disappears.
    view.SetMode(Img::kDelete);
    Click(view, {250, 250});
    QVERIFY(!project_->graph.positions.contains(c));
    // A click on nothing only clears the selection.
    Click(view, {390, 290});
    QCOMPARE(Counts().first, 2);
    QCOMPARE(host_.selection().selectedPosition, -1);
  }

  void setRealPositionTakesNumbersAndEmptyFields() {
    Img& view = ShowPhoto();
    const std::int32_t id = project_->AddImagePoint(0, {100, 100});
    project_->graph.SetRealCoords(id, {1.23456, -2.0004, 99999});
    host_.selection().selectedPosition = id;

    // Opens the dialog on the selected position and runs `use` in it; gives the fields' texts
    // as it opened.
    const auto inDialog = [&](const std::function<void(RealPositionDialog&)>& use) {
      QStringList shown;
      WhenOpened([&](QWidget* opened) {
        auto* dialog = qobject_cast<RealPositionDialog*>(opened);
        QVERIFY(dialog != nullptr);
        for (int axis = 0; axis < 3; ++axis) shown << dialog->field(axis)->text();
        use(*dialog);
      });
      view.SetRealPosition();
      return shown;
    };
    const auto coords = [&] { return project_->graph.positions.at(id).coords; };

    // The dialog shows thousandths, an unknown coordinate as an empty field; an empty field
    // is read back as unknown.
    const QStringList shown = inDialog([](RealPositionDialog& dialog) {
      QCOMPARE(dialog.windowTitle(), QString("Set real position"));
      dialog.field(0)->setText("12.5");
      dialog.field(1)->setText("");
      dialog.field(2)->setText(" -3 ");
      dialog.accept();
    });
    QCOMPARE(shown, (QStringList{"1.235", "-2", ""}));
    QCOMPARE(coords(), (std::array<double, 3>{12.5, 99999, -3}));
    QVERIFY(project_->graph.IsReal(id));

    // Text that is not a number is refused and the dialog stays open.
    bool stayedOpen = false;
    inDialog([&](RealPositionDialog& dialog) {
      dialog.field(1)->setText("4,5");
      WhenOpened([](QWidget* box) {
        QVERIFY(qobject_cast<QMessageBox*>(box) != nullptr);
        static_cast<QMessageBox*>(box)->accept();
      });
      dialog.accept();
      stayedOpen = dialog.isVisible();
      dialog.reject();
    });
    QVERIFY(stayedOpen);
    QCOMPARE(coords(), (std::array<double, 3>{12.5, 99999, -3}));

    // A typed 9.7 shows as typed, and OK on fields left as they are changes nothing.
    project_->graph.SetRealCoords(id, {9.7, 0.1 + 0.2, -0.0001});
    const int modified = host_.modified;
    QCOMPARE(inDialog([](RealPositionDialog& dialog) { dialog.accept(); }),
             (QStringList{"9.7", "0.3", "0"}));
    QCOMPARE(coords(), (std::array<double, 3>{9.7, 0.1 + 0.2, -0.0001}));
    QCOMPARE(host_.modified, modified);

    // A position without typed coordinates opens empty, computed ones not offered as typed:
    // OK on it changes nothing, and Z typed alone leaves X and Y unknown.
    const std::int32_t computed = project_->AddImagePoint(0, {200, 100});
    project_->graph.positions.at(computed).coords = {4, 5, 6};
    project_->graph.positions.at(computed).isComputed = true;
    host_.selection().selectedPosition = computed;
    QCOMPARE(inDialog([](RealPositionDialog& dialog) { dialog.accept(); }),
             (QStringList{"", "", ""}));
    QVERIFY(!project_->graph.IsReal(computed));
    QCOMPARE(host_.modified, modified);
    inDialog([](RealPositionDialog& dialog) {
      dialog.field(2)->setText("2.5");
      dialog.accept();
    });
    QVERIFY(project_->graph.IsReal(computed));
    QCOMPARE(project_->graph.positions.at(computed).coords,
             (std::array<double, 3>{99999, 99999, 2.5}));
  }

  void contextMenuOffersTheModes() {
    Img& view = ShowPhoto();
    project_->AddImagePoint(0, {100, 100});
    // Each entry's text, " grey" when disabled, " checked" when checked.
    QStringList entries;
    auto inspect = [&](QWidget* opened) {
      auto* menu = qobject_cast<QMenu*>(opened);
      QVERIFY(menu != nullptr);
      entries.clear();
      for (QAction* action : menu->actions()) {
        entries << action->text() + (action->isEnabled() ? "" : " grey") +
                       (action->isChecked() ? " checked" : "");
      }
      menu->close();
    };
    // Nothing under the mouse: no position to give coordinates to.
    view.SetMode(Img::kDelete);
    WhenOpened(inspect);
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, At(view, {300, 200}));
    QCOMPARE(entries, (QStringList{"&Add", "&Move", "&Delete checked", "&Select", "",
                                   "Set real position grey", "", "&Stereo move"}));
    view.SetCursorAlive(true);
    WhenOpened(inspect);
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, At(view, {102, 98}));
    QCOMPARE(entries.mid(5), (QStringList{"Set real position", "", "&Stereo move checked"}));
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
    // The status bar shows the photo, the pixel and the 3D cursor: the ground point, to within
    // the ground a pixel or two covers there.
    const QString pixelText = QString::asprintf("p1.jpg  x %d  y %d   ", inLeft.x, inLeft.y);
    QVERIFY2(host_.coordinates.startsWith(pixelText), qPrintable(host_.coordinates));
    const QStringList xyz = host_.coordinates.mid(pixelText.size()).split(", ");
    QCOMPARE(xyz.size(), 3);
    QCOMPARE(xyz[0].size(), 9);
    QVERIFY2(std::abs(xyz[0].toDouble() - 0.7) < 0.04, qPrintable(host_.coordinates));
    QVERIFY2(std::abs(xyz[1].toDouble() - 1.5) < 0.08, qPrintable(host_.coordinates));
    QCOMPARE(xyz[2], QString("    0.000"));
    // The uncalibrated photo gets the same pixel, clamped to its size.
    QCOMPARE(plainView.cursorPoint(),
             (ImagePoint{std::min(inLeft.x, 299), std::min(inLeft.y, 199)}));

    // From the uncalibrated photo, every other view gets the pixel itself; the status bar the
    // pixel alone.
    Hover(plainView, {120, 80});
    QVERIFY(!plainView.cursor3DValid());
    QCOMPARE(host_.coordinates, QString("p3.jpg  x 120  y 80"));
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

  // A control point marked 12 pixels off where its typed coordinates fall gets a cross there,
  // joined to its mark; one marked where it falls, or a photo not calibrated, gets none; the
  // view parameters' toggle hides them.
  void reprojectionCrossesShowMisplacedMarks() {
    modrin::model::Photo& photo = AddPhoto(*project_, 600, 400);
    Calibrate(*project_, photo, 0);
    const modrin::engine::Vec3 off{0.7, 1.5, 0}, exact{-0.5, 1, 0};
    const ImagePoint seen = PixelOf(photo, off);
    const std::int32_t misplaced = project_->AddImagePoint(0, {seen.x + 12, seen.y});
    project_->graph.SetRealCoords(misplaced, {off.x, off.y, off.z});
    const std::int32_t placed = project_->AddImagePoint(0, PixelOf(photo, exact));
    project_->graph.SetRealCoords(placed, {exact.x, exact.y, exact.z});
    Img& view = ShowView(0, {700, 500});
    const QColor cross = view.settings().reprojectionColour;
    auto crossAt = [&](ImagePoint pixel) {
      const QImage shot = view.viewport()->grab().toImage();
      const QPoint at = At(view, pixel);
      return QColor(shot.pixel(at + QPoint(3, 3))) == cross &&
             QColor(shot.pixel(at + QPoint(-3, 3))) == cross;
    };
    QVERIFY(crossAt(seen));
    QVERIFY(!crossAt(PixelOf(photo, exact)));

    modrin::views2d::ViewSettings hidden = view.settings();
    hidden.showReprojections = false;
    view.SetSettings(hidden);
    QVERIFY(!crossAt(seen));
    hidden.showReprojections = true;
    view.SetSettings(hidden);
    photo.camera.calibrated = false;
    view.Redraw(true);
    QVERIFY(!crossAt(seen));
  }

  void markerMovesRepaintOnlyItsArea() {
    Img& view = ShowPhoto();
    view.DrawCursorMarker();
    Hover(view, {100, 100});
    QVERIFY(view.markerShown());
    QTest::qWait(20);
    PaintRecorder recorder;
    view.viewport()->installEventFilter(&recorder);
    Hover(view, {300, 200});
    QTRY_VERIFY(!recorder.painted.isEmpty());
    // Only the squares the marker left and entered are painted again.
    const QRect left = QRect(QPoint(), QSize(9, 9)).translated(At(view, {100, 100}) - QPoint(4, 4));
    const QRect entered = left.translated(At(view, {300, 200}) - At(view, {100, 100}));
    QCOMPARE(recorder.painted, QRegion(left) + entered);
    QCOMPARE(QColor(view.viewport()->grab().toImage().pixel(At(view, {300, 200}) + QPoint(2, 0))),
             view.settings().currentColour);
  }

  // A drag repaints the area the dragged position's mark and label leave, however wide the
  // label, and a press paints each view once.
  void editsRepaintWhatChangedOnce() {
    Img& view = ShowPhoto();
    Img& other = ShowView(0);
    modrin::views2d::ViewSettings settings = view.settings();
    settings.showIds = true;
    view.SetSettings(settings);
    project_->graph.lastPositionId = 123455;
    const std::int32_t id = project_->AddImagePoint(0, {100, 150});
    view.Redraw();
    QVERIFY(LabelPixels(view, {100, 150}) > 0);
    Drag(view, {100, 150}, {300, 50});
    QCOMPARE(PointOf(id), (ImagePoint{300, 50}));
    QCOMPARE(LabelPixels(view, {100, 150}), 0);

    // Paints during a press, before the program returns to its event loop.
    PaintRecorder counter;
    for (Img* v : {&view, &other}) v->viewport()->installEventFilter(&counter);
    view.SetMode(Img::kDelete);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, At(view, {300, 50}));
    QVERIFY(!project_->graph.positions.contains(id));
    QCOMPARE(counter.paints[view.viewport()], 1);
    QCOMPARE(counter.paints[other.viewport()], 1);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, At(view, {300, 50}));
  }

  // The lock state is asked for on key and focus events, never on a mouse move.
  void capsLockIsReadOnKeysAndFocusOnly() {
    Img& view = ShowPhoto();
    int reads = 0;
    const auto previous = modrin::views2d::SetCapsLockReader([&]() -> std::optional<bool> {
      ++reads;
      return true;
    });
    for (int i = 0; i < 20; ++i) Hover(view, {10 + i, 10});
    QCOMPARE(reads, 0);
    QTest::keyClick(&view, Qt::Key_CapsLock);
    QCOMPARE(reads, 2);
    QVERIFY(view.EdgeChainingActive());
    modrin::views2d::SetCapsLockReader(previous);
    modrin::views2d::RefreshCapsLock();
  }

  void helpAdvisesTheNextStep() {
    Img& view = ShowPhoto();
    for (int marked = 0; marked <= 3; ++marked) {
      view.HelpRequest();
      QCOMPARE(host_.prompt,
               marked < 3 ? QString("%1 of at least 3 points with real coordinates are marked in "
                                    "this photo")
                                .arg(marked)
                          : QString("Image not calibrated. Run the calibration process"));
      QCOMPARE(host_.helpTopic, QString("GettingStarted.html#CalibrationStep"));
      project_->graph.SetRealCoords(project_->AddImagePoint(0, {10 + 20 * marked, 10}),
                                    {double(marked), 0, 0});
    }
  }
};

QTEST_MAIN(ImgTest)
#include "img_test.moc"
