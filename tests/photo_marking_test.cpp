// A user's first session: start the program, load three photos, mark the corners of a square
// in two of them with Shift-clicks closing the loop, type the corners' real coordinates, save;
// the file must be the golden one, and opening it again must show the same marks. And the
// house's corners marked from an empty program with one click per corner in each photo.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <memory>

#include "app/commands.h"
#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/testing/empty_program.h"
#include "app/testing/scripted_dialogs.h"
#include "app/testing/window_actions.h"
#include "model/project.h"
#include "model/project_file.h"
#include "views2d/img.h"
#include "views2d/img_frame.h"
#include "views2d/real_position_dialog.h"

using modrin::app::ModrinApplication;
using modrin::app::testing::Hover;
using modrin::app::testing::ScriptedDialogs;
using modrin::app::testing::ScrollTo;
using modrin::app::testing::SetRealPosition;
using modrin::app::testing::TypeZoom;
using modrin::model::ImagePoint;
using modrin::views2d::Img;
using modrin::views2d::ImgFrame;
namespace command = modrin::app::command;
constexpr auto At = modrin::app::testing::PixelPoint;

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 180;
// The square's corners in the first photo (y from the bottom row), its real corners, and how
// far the second photo shows it shifted.
constexpr std::array<ImagePoint, 4> kCorners{{{40, 40}, {160, 40}, {160, 140}, {40, 140}}};
constexpr std::array<const char*, 4> kRealCorners{{"0 0 0", "4 0 0", "4 0 3", "0 0 3"}};
constexpr ImagePoint kShift{9, 8};

ImagePoint Shifted(ImagePoint point) { return {point.x + kShift.x, point.y + kShift.y}; }

// A photo of a dark square on a light wall, the square's corners at `corners`.
void WritePhoto(const QString& path, ImagePoint offset) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(QColor(200, 196, 180));
  QPainter painter(&image);
  const QPoint topLeft(kCorners[3].x + offset.x, kHeight - kCorners[3].y - offset.y);
  painter.fillRect(QRect(topLeft, QSize(121, 101)), QColor(60, 60, 70));
  painter.end();
  QVERIFY(image.save(path, "PNG"));
}

// Some pixel of the mark square around `at` (half side 2) has `colour`; the edges, drawn after
// the marks, cover the rest of it.
bool ShowsMark(const QImage& shot, QPoint at, const QColor& colour) {
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      if (QColor(shot.pixel(at + QPoint(dx, dy))) == colour) return true;
    }
  }
  return false;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class PhotoMarkingTest : public QObject {
  Q_OBJECT

 private:
  ImgFrame* PhotoFrame(int n) const {
    return modrin::app::testing::PhotoFrame(app_->mainFrame(), n);
  }

  // Every edit of the session taken back through the Edit menu, newest first, to the empty
  // project the program started with; then all done again, back to the state saved.
  void UndoesAndRedoesEverything() {
    auto& frame = app_->mainFrame();
    QAction* undo = frame.action(command::kUndo);
    QAction* redo = frame.action(command::kRedo);
    const std::string saved = modrin::model::WriteProjectText(app_->project());
    QStringList undone;
    frame.UpdateCommandStates();
    while (undo->isEnabled()) {
      undone << undo->text();
      undo->trigger();
      QVERIFY(app_->document().modified());
      const QString step = undone.back().section('\t', 0, 0).mid(6);
      QCOMPARE(redo->text(), "&Redo " + step + "\tCtrl+Shift+Z");
    }
    QStringList expected;
    for (int i = 0; i < 4; ++i) expected << "&Undo Set Real Position\tCtrl+Z";
    for (int i = 0; i < 4; ++i) expected << "&Undo Move Point\tCtrl+Z";
    expected << "&Undo Add Edge\tCtrl+Z";
    for (int i = 0; i < 4; ++i) expected << "&Undo Add Point\tCtrl+Z";
    expected << "&Undo Load Images\tCtrl+Z";
    QCOMPARE(undone, expected);
    QCOMPARE(undo->text(), QString("&Undo\tCtrl+Z"));
    QVERIFY(app_->project().photos.empty());
    QVERIFY(app_->project().graph.positions.empty());
    QCOMPARE(PhotoFrame(0)->photo(), -1);

    while (redo->isEnabled()) redo->trigger();
    QCOMPARE(modrin::model::WriteProjectText(app_->project()), saved);
    QVERIFY2(!app_->document().modified(), "back at the state saved");
    QCOMPARE(PhotoFrame(1)->photo(), 1);
    QVERIFY(app_->project().photos[1]->HasImage());
  }

  modrin::app::testing::EmptyProgram program_;
  std::unique_ptr<QTemporaryDir>& dir_ = program_.dir;
  ScriptedDialogs*& dialogs_ = program_.dialogs;
  std::unique_ptr<ModrinApplication>& app_ = program_.app;

 private slots:
  void init() { program_.Start({1400, 1000}); }
  void cleanup() { program_.Stop(); }

  void marksASquareInTwoPhotosAndSavesThem() {
    const QStringList photos{dir_->filePath("front.png"), dir_->filePath("side.png"),
                             dir_->filePath("back.png")};
    WritePhoto(photos[0], {0, 0});
    WritePhoto(photos[1], kShift);
    WritePhoto(photos[2], {-20, 0});
    dialogs_->images = photos;
    app_->mainFrame().action(command::kLoadImages)->trigger();
    QCOMPARE(app_->project().photos.size(), std::size_t{3});

    ImgFrame* front = PhotoFrame(0);
    ImgFrame* side = PhotoFrame(1);
    QVERIFY(front != nullptr && side != nullptr);
    QCOMPARE(front->photo(), 0);
    QCOMPARE(side->photo(), 1);
    TypeZoom(*front, "100");
    TypeZoom(*side, "100");
    QCOMPARE(front->view()->zoom(), 1.0f);

    // The second photo follows the marking ("General move"), so each corner is marked there
    // too; then it is dragged onto the square's corner in that photo.
    side->action(ImgFrame::kGeneralMoveCommand)->trigger();
    QVERIFY(side->view()->cursorAlive());
    Img& frontView = *front->view();
    for (const ImagePoint& corner : kCorners) {
      QTest::mouseClick(frontView.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                        At(frontView, corner));
    }
    QTest::mouseClick(frontView.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      At(frontView, kCorners[0]));
    QCOMPARE(app_->project().graph.positions.size(), std::size_t{4});
    QCOMPARE(app_->project().graph.edges.size(), std::size_t{4});
    QVERIFY(app_->document().modified());

    side->action(ImgFrame::kGeneralMoveCommand)->trigger();
    Img& sideView = *side->view();
    for (const ImagePoint& corner : kCorners) {
      QTest::mousePress(sideView.viewport(), Qt::LeftButton, {}, At(sideView, corner));
      QTest::mouseMove(sideView.viewport(), At(sideView, Shifted(corner)));
      QTest::mouseRelease(sideView.viewport(), Qt::LeftButton, {}, At(sideView, Shifted(corner)));
    }

    for (std::size_t i = 0; i < kCorners.size(); ++i) {
      SetRealPosition(frontView, kCorners[i], kRealCorners[i]);
    }

    const QString saved = dir_->filePath("square.mpj");
    dialogs_->saveName = saved;
    app_->mainFrame().action(command::kSaveAs)->trigger();
    QVERIFY(!app_->document().modified());
    QByteArray text = ReadAll(saved);
    text.replace(dir_->path().toUtf8(), "@DIR@");
    const QString golden = QFINDTESTDATA("golden/photo_marking.mpj");
    if (qEnvironmentVariableIsSet("MODRIN_WRITE_GOLDEN")) {
      QFile out(golden);
      QVERIFY(out.open(QIODevice::WriteOnly));
      out.write(text);
    }
    QCOMPARE(text, ReadAll(golden));
    UndoesAndRedoesEverything();

    // Opened again, both photos show the four corners where they were marked, in the colour of
    // positions with real coordinates.
    dialogs_->openName = saved;
    app_->mainFrame().action(command::kOpen)->trigger();
    QCOMPARE(app_->project().graph.positions.size(), std::size_t{4});
    front = PhotoFrame(0);
    side = PhotoFrame(1);
    TypeZoom(*front, "100");
    TypeZoom(*side, "100");
    for (const auto& [id, position] : app_->project().graph.positions) {
      QVERIFY(position.isReal);
      QCOMPARE(position.imagePoints.size(), std::size_t{2});
    }
    // The mouse leaves the square, so no cursor marker covers a corner.
    for (ImgFrame* frame : {front, side}) {
      Hover(*frame->view(), {230, 170});
    }
    const QImage frontShot = front->view()->viewport()->grab().toImage();
    const QImage sideShot = side->view()->viewport()->grab().toImage();
    for (const auto& [id, position] : app_->project().graph.positions) {
      // The selected position keeps the Current colour.
      const modrin::views2d::ViewSettings& settings = front->view()->settings();
      const QColor colour = id == app_->mainFrame().selection().selectedPosition
                                ? settings.currentColour
                                : settings.calibrationColour;
      QVERIFY(
          ShowsMark(frontShot, front->view()->WindowPosition(position.imagePoints.at(0)), colour));
      QVERIFY(
          ShowsMark(sideShot, side->view()->WindowPosition(position.imagePoints.at(1)), colour));
    }
  }

  // Three of the house's photos loaded into an empty program; three corners marked in all of
  // them with one click each: the first click in a photo adds the corner, the click in each
  // other photo marks the selected corner there.
  void marksCornersWithOneClickPerPhoto() {
    const QString house = QString(qgetenv("MODRIN_SOURCE_DIR")) + "/examples/house/";
    QStringList photos;
    for (const char* name : {"photo1.jpg", "photo2.jpg", "photo5.jpg"}) {
      QVERIFY(QFile::copy(house + name, dir_->filePath(name)));
      photos << dir_->filePath(name);
    }
    dialogs_->images = photos;
    app_->mainFrame().action(command::kLoadImages)->trigger();
    QCOMPARE(app_->project().photos.size(), std::size_t{3});
    std::array<Img*, 3> views{};
    for (int i = 0; i < 3; ++i) {
      ImgFrame* frame = PhotoFrame(i);
      QVERIFY(frame != nullptr);
      QCOMPARE(frame->photo(), i);
      TypeZoom(*frame, "100");
      views[static_cast<std::size_t>(i)] = frame->view();
    }

    // The corners' pixels in the three photos, as the house sample marks them.
    const std::array<std::array<ImagePoint, 3>, 3> corners{{
        {{{714, 395}, {501, 461}, {1022, 323}}},
        {{{1121, 449}, {971, 352}, {1087, 400}}},
        {{{714, 716}, {493, 666}, {1020, 714}}},
    }};
    int clicks = 0;
    for (const auto& corner : corners) {
      for (std::size_t photo = 0; photo < 3; ++photo) {
        Img& view = *views[photo];
        ScrollTo(view, corner[photo]);
        Hover(view, corner[photo]);
        if (photo > 0) {
          QCOMPARE(app_->mainFrame().promptText(),
                   QString("Click marks position %1 in %2; Esc for a new position")
                       .arg(app_->mainFrame().selection().selectedPosition)
                       .arg(QFileInfo(photos[static_cast<int>(photo)]).fileName()));
        }
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, At(view, corner[photo]));
        ++clicks;
      }
    }
    QCOMPARE(clicks, 9);

    const QString saved = dir_->filePath("corners.mpj");
    dialogs_->saveName = saved;
    app_->mainFrame().action(command::kSaveAs)->trigger();
    dialogs_->openName = saved;
    app_->mainFrame().action(command::kOpen)->trigger();
    const auto& positions = app_->project().graph.positions;
    QCOMPARE(positions.size(), std::size_t{3});
    std::size_t n = 0;
    for (const auto& [id, position] : positions) {
      const std::map<std::int32_t, ImagePoint> expected{
          {0, corners[n][0]}, {1, corners[n][1]}, {2, corners[n][2]}};
      QVERIFY2(position.imagePoints == expected, qPrintable(QString::number(id)));
      ++n;
    }
  }
};

QTEST_MAIN(PhotoMarkingTest)
#include "photo_marking_test.moc"
