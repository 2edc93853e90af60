// The walk-through of the "Getting started" page and the README, done in the real window as a
// user does it: from an empty program, Load Images of the house's six photos, the ten corners
// marked with one click per photo and joined by Shift-clicks, eight control points typed,
// Calibration and OK, the model in the 3D view, Save 3D As. Every click lands where the page
// says; the test counts the user's actions by kind and checks the model against the true
// corners.
//
// With MODRIN_HELP_SHOTS set to a folder, it also saves the page's pictures there
// (`make help-screenshots` writes them beside the help pages), so that they show the program
// as it is.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItem>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "app/calibration_dialog.h"
#include "app/commands.h"
#include "app/images_page.h"
#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/testing/empty_program.h"
#include "app/testing/scripted_dialogs.h"
#include "app/testing/window_actions.h"
#include "model/project.h"
#include "views2d/image_selector.h"
#include "views2d/img.h"
#include "views2d/img_frame.h"
#include "views3d/ogl_frame.h"

using modrin::app::CalibrationDialog;
using modrin::app::ModrinApplication;
using modrin::app::testing::PhotoFrame;
using modrin::app::testing::ScriptedDialogs;
using modrin::model::ImagePoint;
using modrin::views2d::Img;
using modrin::views2d::ImgFrame;
namespace command = modrin::app::command;
namespace actions = modrin::app::testing;

namespace {

// The house's corners, numbered as the walk-through adds them (and Modrin numbers them): the
// front wall's 1 to 4 anticlockwise from its left foot, the back wall's 5 to 8, the ridge's 9
// (left) and 10. Their pixels per photo index (0 to 5) as the house sample marks them, y from
// the bottom row; {-1, -1} where the photo does not show the corner.
constexpr ImagePoint kNone{-1, -1};
constexpr std::array<std::array<ImagePoint, 6>, 11> kCorners{{
    {},
    {{{714, 395}, {501, 461}, kNone, {1138, 456}, {1022, 323}, kNone}},
    {{{1121, 449}, {971, 352}, {400, 353}, kNone, {1087, 400}, {488, 477}}},
    {{{1120, 674}, {982, 609}, {395, 677}, kNone, {1086, 648}, {471, 686}}},
    {{{714, 716}, {493, 666}, kNone, {1146, 686}, {1020, 714}, kNone}},
    {{{434, 440}, kNone, {1140, 425}, {1030, 333}, {392, 344}, {1121, 475}}},
    {{kNone, {1081, 485}, {947, 315}, {432, 424}, kNone, {665, 308}}},
    {{kNone, {1092, 673}, {942, 698}, {426, 681}, kNone, {653, 592}}},
    {{{435, 681}, kNone, {1138, 675}, {1039, 650}, {395, 696}, {1135, 688}}},
    {{{556, 879}, {608, 814}, {925, 826}, {1107, 856}, {692, 948}, {996, 851}}},
    {{{962, 798}, {1054, 801}, {642, 921}, {560, 848}, kNone, {535, 823}}},
}};
// The eight corners of the walls, with the coordinates typed for them (metres; x along the
// front, y along the side, z up).
constexpr std::array<const char*, 9> kReal{
    {"", "0 0 0", "8 0 0", "8 0 3", "0 0 3", "0 6 0", "8 6 0", "8 6 3", "0 6 3"}};

// One click of the walk-through: corner `corner` in photo frame `frame`, Shift held or not.
struct Click {
  int corner;
  int frame;
  bool shift;
};

// The first round, with photos 1, 2 and 3 in the three photo views, Shift held: each corner is
// added where it is first clicked, then marked in the other photos with one click each; a
// click on a corner already marked closes an outline. The front wall, the back wall, then the
// edges between them: 2-6, the ridge 8-9-10-7, and 3-10 and 4-9.
const std::vector<Click> kFirstRound{
    {1, 0, true},  {1, 1, true},                                              //
    {2, 0, true},  {2, 1, true},  {2, 2, true},                               //
    {3, 0, true},  {3, 1, true},  {3, 2, true},                               //
    {4, 0, true},  {4, 1, true},  {1, 0, true},                               //
    {5, 0, true},  {5, 2, true},  {6, 2, true},  {6, 1, true},                //
    {7, 1, true},  {7, 2, true},  {8, 2, true},  {8, 0, true}, {5, 0, true},  //
    {2, 0, false}, {6, 1, true},                                              //
    {8, 0, false}, {9, 0, true},  {9, 1, true},  {9, 2, true},                //
    {10, 0, true}, {10, 1, true}, {10, 2, true}, {7, 1, true},                //
    {3, 0, false}, {10, 0, true},                                             //
    {4, 0, false}, {9, 0, true},                                              //
};
// The second round: photos 1, 4 and 5. Each corner is picked in photo 1, then marked in the
// new photos that show it.
const std::vector<Click> kSecondRound{
    {1, 0, false}, {1, 1, false},  {1, 2, false},  {2, 0, false}, {2, 2, false}, {3, 0, false},
    {3, 2, false}, {4, 0, false},  {4, 1, false},  {4, 2, false}, {5, 0, false}, {5, 1, false},
    {5, 2, false}, {8, 0, false},  {8, 1, false},  {8, 2, false}, {9, 0, false}, {9, 1, false},
    {9, 2, false}, {10, 0, false}, {10, 1, false},
};
// The third round: photos 2, 4 and 6; corners 5 and 8, which photo 2 does not show, are
// picked in photo 4.
const std::vector<Click> kThirdRound{
    {2, 0, false},  {2, 2, false},  {3, 0, false}, {3, 2, false}, {6, 0, false}, {6, 1, false},
    {6, 2, false},  {7, 0, false},  {7, 1, false}, {7, 2, false}, {9, 0, false}, {9, 2, false},
    {10, 0, false}, {10, 2, false}, {5, 1, false}, {5, 2, false}, {8, 1, false}, {8, 2, false},
};

// The user's actions by kind: clicks that add or mark a corner, clicks that pick one, typing
// of coordinates, and the rest (menus, buttons, keys, choosing photos).
struct ActionCount {
  int marks = 0;
  int picks = 0;
  int typing = 0;
  int other = 0;
  int total() const { return marks + picks + typing + other; }
};

std::size_t MarkCount(const modrin::model::Project& project) {
  std::size_t marks = 0;
  for (const auto& [id, position] : project.graph.positions) marks += position.imagePoints.size();
  return marks;
}

}  // namespace

class GettingStartedTest : public QObject {
  Q_OBJECT

 private:
  // Saves the picture for the help page as `name`, when pictures are asked for.
  void Shoot(const QString& name, const QImage& shot) {
    const QString folder = qEnvironmentVariable("MODRIN_HELP_SHOTS");
    if (folder.isEmpty()) return;
    // As wide as the help window shows a picture whole.
    const QImage scaled =
        shot.width() > 760 ? shot.scaledToWidth(760, Qt::SmoothTransformation) : shot;
    QVERIFY(scaled.save(QDir(folder).filePath(name), "JPG", 88));
  }
  QImage WindowShot() { return app_->mainFrame().grab().toImage(); }
  // The window with `dialog` drawn where it shows above it.
  QImage WindowShot(QWidget* dialog) {
    QImage shot = WindowShot();
    QPainter painter(&shot);
    painter.drawPixmap(app_->mainFrame().mapFromGlobal(dialog->mapToGlobal(QPoint())),
                       dialog->grab());
    return shot;
  }

  // Shows photo `photo` in frame `frame` as a user does: the view's image selector button,
  // a click on the photo in the strip, the button again.
  void ChoosePhoto(int frame, int photo) {
    ImgFrame* photoFrame = PhotoFrame(app_->mainFrame(), frame);
    QVERIFY(photoFrame != nullptr);
    QAction* selector = photoFrame->action(ImgFrame::kImageSelectorCommand);
    selector->trigger();
    auto* strip = photoFrame->findChild<modrin::views2d::ImageSelector*>();
    QVERIFY(strip != nullptr && strip->isVisible());
    // Scrolled until the photo's band is in sight, as the user scrolls the strip.
    int y = -1;
    for (int attempt = 0; attempt < 20 && y < 0; ++attempt) {
      for (int row = 0; row < strip->height() && y < 0; ++row) {
        if (strip->PhotoAt(row) == photo) y = row + 10;
      }
      if (y < 0) strip->scrollBar()->setValue(strip->scrollBar()->value() + 40);
    }
    QVERIFY(y >= 0);
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() / 2, y));
    selector->trigger();
    QCOMPARE(photoFrame->photo(), photo);
    count_.other += 3;
  }

  // Clicks the corners of `clicks`, each in its frame's photo, and counts what each click did.
  void ClickCorners(const std::vector<Click>& clicks) {
    bool shiftHeld = false;
    for (const Click& click : clicks) {
      ImgFrame* frame = PhotoFrame(app_->mainFrame(), click.frame);
      Img& view = *frame->view();
      const ImagePoint pixel = kCorners[static_cast<std::size_t>(click.corner)]
                                       [static_cast<std::size_t>(frame->photo())];
      QVERIFY2(pixel.x >= 0, qPrintable(QString("corner %1").arg(click.corner)));
      // Holding Shift down is one action however many clicks it lasts.
      if (click.shift && !shiftHeld) ++count_.other;
      shiftHeld = click.shift;
      const std::size_t marksBefore = MarkCount(app_->project());
      const QPoint at = view.WindowPosition(pixel);
      actions::Hover(view, view.PixelAt(at));
      QTest::mouseClick(view.viewport(), Qt::LeftButton,
                        click.shift ? Qt::ShiftModifier : Qt::NoModifier, at);
      const std::int32_t selected = app_->mainFrame().selection().selectedPosition;
      QVERIFY(selected >= 0);
      if (MarkCount(app_->project()) > marksBefore) {
        ++count_.marks;
      } else {
        ++count_.picks;
      }
      corner_[click.corner] = selected;
      ImagePoint marked;
      QVERIFY(app_->project().graph.GetImagePoint(selected, frame->photo(), marked));
      QVERIFY(std::abs(marked.x - pixel.x) <= 2 && std::abs(marked.y - pixel.y) <= 2);
    }
  }

  void FitViews() {
    for (int i = 0; i < 3; ++i) actions::TypeZoom(*PhotoFrame(app_->mainFrame(), i), "Full Image");
  }

  modrin::app::testing::EmptyProgram program_;
  std::unique_ptr<QTemporaryDir>& dir_ = program_.dir;
  ScriptedDialogs*& dialogs_ = program_.dialogs;
  std::unique_ptr<ModrinApplication>& app_ = program_.app;
  ActionCount count_;
  std::map<int, std::int32_t> corner_;

 private slots:
  void init() { program_.Start({1280, 860}); }
  void cleanup() { program_.Stop(); }

  void houseFromAnEmptyProgram() {
    // Load Images: the toolbar button, all six photos chosen in the file dialog, Open.
    const QDir house(qEnvironmentVariable("MODRIN_SOURCE_DIR") + "/examples/house");
    QStringList photos;
    for (int i = 1; i <= 6; ++i) {
      const QString name = QString("photo%1.jpg").arg(i);
      QVERIFY(QFile::copy(house.filePath(name), dir_->filePath(name)));
      photos << dir_->filePath(name);
    }
    dialogs_->images = photos;
    app_->mainFrame().action(command::kLoadImages)->trigger();
    count_.other += 3;
    QCOMPARE(app_->project().photos.size(), std::size_t{6});
    Shoot("GettingStarted-photos.jpg", WindowShot());

    ClickCorners(std::vector<Click>(kFirstRound.begin(), kFirstRound.begin() + 24));
    // Corner 9 added in photo 1; the pointer over photo 2 is told what a click does.
    Img& second = *PhotoFrame(app_->mainFrame(), 1)->view();
    actions::Hover(second, kCorners[9][1]);
    QCOMPARE(
        app_->mainFrame().promptText(),
        QString("Click marks position %1 in photo2.jpg; Esc for a new position").arg(corner_[9]));
    Shoot("GettingStarted-marking.jpg", WindowShot());
    ClickCorners(std::vector<Click>(kFirstRound.begin() + 24, kFirstRound.end()));
    QCOMPARE(app_->project().graph.positions.size(), std::size_t{10});
    QCOMPARE(app_->project().graph.edges.size(), std::size_t{15});
    QCOMPARE(MarkCount(app_->project()), std::size_t{24});
    // Modrin numbers the positions as they were added, as the page numbers the corners.
    for (int corner = 1; corner <= 10; ++corner) QCOMPARE(corner_[corner], corner);

    // The control points: right-click, "Set real position", X, Tab, Y, Tab, Z, OK.
    for (int corner = 1; corner <= 8; ++corner) {
      const int frame = kCorners[static_cast<std::size_t>(corner)][0].x >= 0 ? 0 : 1;
      Img& view = *PhotoFrame(app_->mainFrame(), frame)->view();
      const ImagePoint marked =
          app_->project().graph.positions.at(corner_[corner]).imagePoints.at(view.photoIndex());
      std::function<void()> whileOpen;
      if (corner == 6) {
        whileOpen = [this] {
          Shoot("GettingStarted-real.jpg", WindowShot(QApplication::activeModalWidget()));
        };
      }
      actions::SetRealPosition(view, marked, kReal[static_cast<std::size_t>(corner)], whileOpen);
      count_.other += 3;
      count_.typing += 5;
    }

    ChoosePhoto(1, 3);
    ChoosePhoto(2, 4);
    ClickCorners(kSecondRound);
    ChoosePhoto(0, 1);
    ChoosePhoto(2, 5);
    ClickCorners(kThirdRound);
    QCOMPARE(app_->project().graph.positions.size(), std::size_t{10});
    QCOMPARE(MarkCount(app_->project()), std::size_t{47});
    // Each corner is marked in every photo that shows it, within the two pixels a click at
    // the views' zoom can miss by.
    for (const auto& [corner, id] : corner_) {
      const auto& marks = app_->project().graph.positions.at(id).imagePoints;
      for (std::size_t photo = 0; photo < 6; ++photo) {
        const ImagePoint truth = kCorners[static_cast<std::size_t>(corner)][photo];
        const auto mark = marks.find(static_cast<std::int32_t>(photo));
        QCOMPARE(mark != marks.end(), truth.x >= 0);
        if (mark == marks.end()) continue;
        QVERIFY(std::abs(mark->second.x - truth.x) <= 2 && std::abs(mark->second.y - truth.y) <= 2);
      }
    }

    // Calibration: the toolbar button; the dialog starts with every photo that can be
    // calibrated ticked, so Calibration, then OK.
    bool ran = false;
    Qt::CheckState ticked = Qt::Unchecked;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CalibrationDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      ran = true;
      ticked = dialog->imagesPage()->root()->checkState(0);
      if (ticked != Qt::Checked) return dialog->reject();
      Shoot("GettingStarted-calibration.jpg", WindowShot(dialog));
      QTest::mouseClick(dialog->calibrationButton(), Qt::LeftButton);
      QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    });
    app_->mainFrame().action(command::kCalibration)->trigger();
    QVERIFY(ran);
    QCOMPARE(ticked, Qt::Checked);
    count_.other += 3;
    for (const auto& photo : app_->project().photos) QVERIFY(photo->camera.calibrated);

    // The ridge corners, never typed, are found within 5 cm of the truth.
    const std::map<int, std::array<double, 3>> ridge{{9, {0, 3, 5}}, {10, {8, 3, 5}}};
    for (const auto& [corner, truth] : ridge) {
      modrin::model::PositionGraph::Coords xyz{};
      QVERIFY(app_->project().graph.GetCoords(corner_[corner], xyz));
      const double off = std::hypot(xyz[0] - truth[0], xyz[1] - truth[1], xyz[2] - truth[2]);
      QVERIFY2(off < 0.05, qPrintable(QString::asprintf("corner %d %.3f off", corner, off)));
    }
    FitViews();
    QTest::qWait(200);
    Shoot("GettingStarted-model.jpg", WindowShot());

    // Save 3D As: the toolbar button, the name typed, Save.
    const QString model = dir_->filePath("house.obj");
    dialogs_->modelName = model;
    app_->mainFrame().action(command::kSave3DAs)->trigger();
    count_.other += 2;
    count_.typing += 1;
    QVERIFY(dialogs_->errors.isEmpty());
    QVERIFY(QFile::exists(model));

    qInfo(
        "actions from Load Images to Save 3D As: %d (%d clicks that add or mark a corner, %d "
        "that pick one, %d typed values, %d others)",
        count_.total(), count_.marks, count_.picks, count_.typing, count_.other);
    // The figures the README and the help page give.
    QCOMPARE(count_.marks, 47);
    QCOMPARE(count_.picks, 26);
    QCOMPARE(count_.total(), 164);
  }
};

QTEST_MAIN(GettingStartedTest)
#include "getting_started_test.moc"
