// The calibration dialog in the running program on a copy of the house sample: the photo tree,
// the pose table and its edit box, Cancel and OK, and the run on its worker thread with the
// status-bar progress, Escape and the blocked window.

#include "app/calibration_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/calibration_list_page.h"
#include "app/commands.h"
#include "app/help_window.h"
#include "app/icons.h"
#include "app/images_page.h"
#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/status_progress.h"
#include "app/testing/house_sample.h"
#include "app/testing/scripted_dialogs.h"
#include "engine/reconstruction.h"
#include "model/project.h"
#include "views2d/img_frame.h"
#include "views3d/ogl_frame.h"

using modrin::app::CalibrationDialog;
using modrin::app::CalibrationIcon;
using modrin::app::CalibrationListPage;
using modrin::app::CMainFrame;
using modrin::app::ModrinApplication;
using modrin::app::testing::CheckBoxCentre;
using modrin::app::testing::ClickCheckBox;
using modrin::app::testing::CopyHouse;
using modrin::app::testing::ScriptedDialogs;
using modrin::engine::CameraRecord;
namespace command = modrin::app::command;

namespace {

constexpr int kPhotos = 6;

// Bit for bit, so that a rounded or recomputed value shows; `T` holds doubles only.
template <typename T>
bool SameBits(const T* a, const T* b, std::size_t count = 1) {
  return count == 0 || std::memcmp(a, b, count * sizeof(T)) == 0;
}

// Everything of a camera a run or the dialog may change, compared bit for bit.
bool SameCamera(const CameraRecord& a, const CameraRecord& b) {
  return a.calibrated == b.calibrated && a.pending == b.pending &&
         a.correspondences.size() == b.correspondences.size() &&
         SameBits(a.correspondences.data(), b.correspondences.data(), a.correspondences.size()) &&
         SameBits(&a.translation, &b.translation) && SameBits(&a.orientation, &b.orientation);
}

// The index of the first camera of `a` that is not the same as in `b`; -1 if none.
int FirstChangedCamera(const std::vector<CameraRecord>& a, const std::vector<CameraRecord>& b) {
  if (a.size() != b.size()) return 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!SameCamera(a[i], b[i])) return static_cast<int>(i);
  }
  return -1;
}

std::vector<CameraRecord> Cameras(const modrin::model::Project& project) {
  std::vector<CameraRecord> cameras;
  for (const auto& photo : project.photos) cameras.push_back(photo->camera);
  return cameras;
}

int ComputedPositions(const modrin::model::Project& project) {
  int count = 0;
  for (const auto& [id, position] : project.graph.positions) {
    count += position.isComputed && !position.isReal;
  }
  return count;
}

QImage IconImage(const QIcon& icon) { return icon.pixmap(16, 16).toImage(); }
QImage IconImage(CalibrationIcon kind) { return IconImage(modrin::app::CalibrationTreeIcon(kind)); }

}  // namespace

class CalibrationDialogTest : public QObject {
  Q_OBJECT

 private:
  CMainFrame& frame() { return app_->mainFrame(); }
  modrin::model::Project& project() { return app_->project(); }

  // Opens the dialog with the Calibration command and runs `script` in it; the dialog is
  // cancelled afterwards if the script left it open.
  void InDialog(const std::function<void(CalibrationDialog&)>& script) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CalibrationDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      ran = true;
      script(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    frame().action(command::kCalibration)->trigger();
    QVERIFY(ran);
  }

  // A click on the tab at `index`.
  static void ClickTab(CalibrationDialog& dialog, int index) {
    QTabBar* bar = dialog.tabs()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QCOMPARE(dialog.tabs()->currentIndex(), index);
  }

  static void ClickCell(CalibrationListPage& page, int row, int column) {
    QTableWidget* list = page.list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row, column)).center());
  }

  // Types `text` over the cell's text and ends the edit with Enter; gives what the cell then
  // shows ("edit box not there" if the click opened no edit on the cell).
  static QString TypeIntoCell(CalibrationListPage& page, int row, int column, const QString& text) {
    ClickCell(page, row, column);
    if (page.editRow() != row || page.editColumn() != column) return "edit box not there";
    page.editBox()->selectAll();
    QTest::keyClicks(page.editBox(), text);
    QTest::keyClick(page.editBox(), Qt::Key_Return);
    return page.editRow() == -1 ? Cell(page, row, column) : "edit box still open";
  }

  static void SendEscape(QWidget& window, QEvent::Type type, ulong timestamp) {
    QKeyEvent key(type, Qt::Key_Escape, Qt::NoModifier);
    key.setTimestamp(timestamp);
    QApplication::sendEvent(&window, &key);
  }

  // What a held Escape key sends while it repeats.
  static void RepeatEscape(QWidget& window) {
    for (QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
      QKeyEvent repeat(type, Qt::Key_Escape, Qt::NoModifier, QString(), true);
      QApplication::sendEvent(&window, &repeat);
    }
  }

  static QString Cell(CalibrationListPage& page, int row, int column) {
    return page.list()->item(row, column)->text();
  }

  // Checks every photo through the root's box, unless all are checked (as the dialog opens on
  // the house), and starts the run.
  static void CalibrateAll(CalibrationDialog& dialog) {
    if (dialog.imagesPage()->root()->checkState(0) != Qt::Checked) {
      ClickCheckBox(*dialog.imagesPage()->tree(), dialog.imagesPage()->root());
    }
    QTest::mouseClick(dialog.calibrationButton(), Qt::LeftButton);
  }

  std::unique_ptr<QTemporaryDir> dir_;
  ScriptedDialogs* dialogs_ = nullptr;
  std::unique_ptr<ModrinApplication> app_;

 private slots:
  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    const QString project = CopyHouse(dir_->path());
    QVERIFY(!project.isEmpty());
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    app_ = std::make_unique<ModrinApplication>(std::move(dialogs));
    app_->Start(project);
    QCOMPARE(static_cast<int>(app_->project().photos.size()), kPhotos);
    QVERIFY(app_->project().photos[0]->camera.cameraEntry != nullptr);
  }
  void cleanup() {
    app_.reset();
    dir_.reset();
  }

  void treeAndTableShowThePhotos() {
    const QString longPath = dir_->filePath("building-001-north-facade-at-noon.jpg");
    project().photos[5]->path = longPath.toStdString();
    // Ticked at the start: the photos not calibrated that a run can try. Photo 1 is calibrated,
    // photo 3 keeps two of its real positions, too few; a tick it had before does not stay.
    project().photos[1]->camera.calibrated = true;
    for (const std::int32_t id : {3, 4, 5, 7}) QVERIFY(project().RemoveImagePoint(id, 3));
    project().photos[3]->camera.pending = true;
    const std::vector<CameraRecord> before = Cameras(project());
    InDialog([&](CalibrationDialog& dialog) {
      QCOMPARE(dialog.windowTitle(), QString("Photo calibration parameters"));
      QCOMPARE(dialog.tabs()->tabText(0), QString("Status"));
      QCOMPARE(dialog.tabs()->tabText(1), QString("Advanced"));
      QTreeWidgetItem* root = dialog.imagesPage()->root();
      QCOMPARE(root->text(0), QString("Images"));
      QVERIFY(root->isExpanded());
      QCOMPARE(root->childCount(), kPhotos);
      QCOMPARE(root->child(0)->text(0), QString("photo1.jpg"));
      QList<Qt::CheckState> ticks;
      for (int i = 0; i < kPhotos; ++i) ticks << root->child(i)->checkState(0);
      QCOMPARE(ticks, (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked, Qt::Checked, Qt::Unchecked,
                                             Qt::Checked, Qt::Checked}));
      QCOMPARE(root->checkState(0), Qt::PartiallyChecked);
      QVERIFY(IconImage(CalibrationIcon::kCalibrated) !=
              IconImage(CalibrationIcon::kNotCalibrated));
      QCOMPARE(IconImage(root->child(1)->icon(0)), IconImage(CalibrationIcon::kCalibrated));
      QCOMPARE(IconImage(root->child(0)->icon(0)), IconImage(CalibrationIcon::kNotCalibrated));
      QVERIFY(dialog.imagesPage()->refinePosesBox()->isChecked());

      // The table as written when the dialog opened: "%.3f", then "%8.3f" once shown.
      CalibrationListPage& page = *dialog.listPage();
      const QStringList titles{"Photo", "Valid", "Translation X", "Translation Y", "Translation Z",
                               "Yaw",   "Pitch", "Roll",          "RMS (pixels)"};
      const int widths[] = {100, 50, 100, 100, 100, 80, 80, 80, 90};
      for (int column = 0; column < CalibrationListPage::kColumnCount; ++column) {
        QCOMPARE(page.list()->horizontalHeaderItem(column)->text(), titles[column]);
        // The photo column is no narrower than usual, and wider for a long name (below).
        if (column == CalibrationListPage::kPhoto) {
          QVERIFY(page.list()->columnWidth(column) >= widths[column]);
        } else {
          QCOMPARE(page.list()->columnWidth(column), widths[column]);
        }
      }
      // The photo's name whole, within the cell's text margins, and its path as the tooltip.
      QCOMPARE(Cell(page, 0, 0), QString("photo1.jpg"));
      QTableWidgetItem* name = page.list()->item(5, CalibrationListPage::kPhoto);
      QCOMPARE(name->text(), QFileInfo(longPath).fileName());
      QCOMPARE(name->toolTip(), longPath);
      const int margin = page.list()->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
      QVERIFY(page.list()->columnWidth(0) >=
              page.list()->fontMetrics().horizontalAdvance(name->text()) + 2 * margin);
      QCOMPARE(Cell(page, 1, 1), QString("1"));
      QCOMPARE(Cell(page, 0, 1), QString("0"));
      QCOMPARE(Cell(page, 0, 2), QString("0.500"));
      QCOMPARE(Cell(page, 0, CalibrationListPage::kRms), QString());  // not calibrated
      ClickTab(dialog, 1);
      QCOMPARE(Cell(page, 0, 2), QString("   0.500"));
      QCOMPARE(Cell(page, 0, 5), QString("   0.000"));
    });
    // Cancel puts the earlier ticks back with the cameras.
    QCOMPARE(FirstChangedCamera(Cameras(project()), before), -1);
  }

  void cancelAfterRunRestoresCamerasAndCoordinates() {
    const std::vector<CameraRecord> before = Cameras(project());
    const int computedBefore = ComputedPositions(project());
    int computedAfterRun = 0;
    InDialog([&](CalibrationDialog& dialog) {
      CalibrateAll(dialog);
      for (const auto& photo : project().photos) QVERIFY(photo->camera.calibrated);
      QVERIFY(project().photos[0]->camera.CountCorrespondences() >= 2);
      QCOMPARE(IconImage(dialog.imagesPage()->root()->child(0)->icon(0)),
               IconImage(CalibrationIcon::kCalibrated));
      computedAfterRun = ComputedPositions(project());
      QVERIFY(computedAfterRun > computedBefore);
      QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    });
    QCOMPARE(FirstChangedCamera(Cameras(project()), before), -1);
    // The coordinates the run computed go with its poses.
    QCOMPARE(ComputedPositions(project()), computedBefore);
  }

  // "Refine all" says why it cannot run before any photo is calibrated; after a run it moves
  // the poses and says by how much the marks' error fell. Cancel takes the refinement back
  // with the run; OK keeps the refined points instead of computing them again from two photos.
  void refineAllRefinesAndCancelOrOkDecide() {
    const std::vector<CameraRecord> before = Cameras(project());
    std::map<std::int32_t, std::array<double, 3>> refined;
    for (const bool keep : {false, true}) {
      InDialog([&](CalibrationDialog& dialog) {
        modrin::app::ImagesPage& page = *dialog.imagesPage();
        if (!keep) {
          const std::vector<CameraRecord> opened = Cameras(project());
          QTest::mouseClick(page.refineAllButton(), Qt::LeftButton);
          QVERIFY2(page.refinementText()->text().startsWith("Not refined: "),
                   qPrintable(page.refinementText()->text()));
          QCOMPARE(FirstChangedCamera(Cameras(project()), opened), -1);
        }
        CalibrateAll(dialog);
        const std::vector<CameraRecord> calibrated = Cameras(project());
        QTest::mouseClick(page.refineAllButton(), Qt::LeftButton);
        const QString said = page.refinementText()->text();
        QVERIFY2(said.startsWith("Refined 6 poses and 2 points from "), qPrintable(said));
        QVERIFY(FirstChangedCamera(Cameras(project()), calibrated) != -1);
        for (const auto& [id, position] : project().graph.positions) {
          if (!position.isReal) refined[id] = position.coords;
        }
        QTest::mouseClick(keep ? dialog.okButton() : dialog.cancelButton(), Qt::LeftButton);
      });
      if (!keep) QCOMPARE(FirstChangedCamera(Cameras(project()), before), -1);
    }
    for (const auto& [id, position] : project().graph.positions) {
      if (!position.isReal) QVERIFY(position.isComputed && position.coords == refined.at(id));
    }
  }

  void okOnStatusTabTakesOnlyAppliedEditsAndUpdates3DViews() {
    std::vector<modrin::views3d::OglFrame*> frames;
    for (QWidget* w : frame().frames()) {
      if (auto* model = qobject_cast<modrin::views3d::OglFrame*>(w)) frames.push_back(model);
    }
    QVERIFY(!frames.empty());
    const int updates = frames[0]->updateCount();
    app_->document().SetModified(false);
    InDialog([&](CalibrationDialog& dialog) {
      CalibrateAll(dialog);
      // A coordinate the run computed, made stale: OK must compute it afresh.
      auto& [id, position] = *std::find_if(
          project().graph.positions.begin(), project().graph.positions.end(),
          [](const auto& entry) { return entry.second.isComputed && !entry.second.isReal; });
      position.coords = {100, 100, 100};

      ClickTab(dialog, 1);
      CalibrationListPage& page = *dialog.listPage();
      QCOMPARE(TypeIntoCell(page, 0, CalibrationListPage::kYaw, "45"), QString("45.000"));
      // Hiding the table applies it.
      ClickTab(dialog, 0);
      QCOMPARE(project().photos[0]->camera.orientation.z, 45 * std::acos(0.0) / 90);
      ClickTab(dialog, 1);
      QCOMPARE(Cell(page, 0, CalibrationListPage::kYaw), QString("  45.000"));
      ClickTab(dialog, 0);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
      QVERIFY(!dialog.isVisible());
    });
    QCOMPARE(project().photos[0]->camera.orientation.z, 45 * std::acos(0.0) / 90);
    for (auto* oglFrame : frames) QCOMPARE(oglFrame->updateCount(), updates + 1);
    // Dropped and computed again by the 3D frames' update.
    const auto& position = *std::find_if(
        project().graph.positions.begin(), project().graph.positions.end(),
        [](const auto& entry) { return !entry.second.isReal && entry.second.isComputed; });
    QVERIFY(position.second.coords[0] != 100);
    QVERIFY(app_->document().modified());
  }

  void okWithoutA3DViewKeepsTheCoordinatesKnown() {
    frame().BuildLayout("(H,50,2,O)");
    for (QWidget* widget : frame().frames()) {
      QVERIFY(qobject_cast<modrin::views3d::OglFrame*>(widget) == nullptr);
    }
    InDialog([&](CalibrationDialog& dialog) {
      CalibrateAll(dialog);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    QVERIFY(ComputedPositions(project()) > 0);
  }

  void rootBoxChecksAndClearsEveryPhoto() {
    InDialog([&](CalibrationDialog& dialog) {
      QTreeWidget& tree = *dialog.imagesPage()->tree();
      QTreeWidgetItem* root = dialog.imagesPage()->root();
      auto photoStates = [&] {
        QList<Qt::CheckState> states;
        for (int i = 0; i < kPhotos; ++i) states << root->child(i)->checkState(0);
        return states;
      };
      const QList<Qt::CheckState> all(kPhotos, Qt::Checked), none(kPhotos, Qt::Unchecked);
      // The root's box shows the photos' boxes; one click ticks or clears them all.
      QCOMPARE(photoStates(), all);
      QCOMPARE(root->checkState(0), Qt::Checked);
      root->setExpanded(false);
      ClickCheckBox(tree, root);
      QVERIFY(root->isExpanded());
      QCOMPARE(photoStates(), none);
      ClickCheckBox(tree, root->child(2));
      QCOMPARE(root->child(1)->checkState(0), Qt::Unchecked);
      QCOMPARE(root->checkState(0), Qt::PartiallyChecked);
      ClickCheckBox(tree, root);
      QCOMPARE(photoStates(), all);
      // A double click on the root's box keeps the root open.
      QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, CheckBoxCentre(tree, root));
      QVERIFY(root->isExpanded());
      if (root->checkState(0) == Qt::Checked) ClickCheckBox(tree, root);
      QCOMPARE(photoStates(), none);

      QTest::mouseClick(dialog.calibrationButton(), Qt::LeftButton);
      QVERIFY(dialog.lastRun().solves.empty());
      QCOMPARE(dialog.lastRun().summary.solves, 0);
      for (const auto& photo : project().photos) {
        QVERIFY(!photo->camera.pending);
        QVERIFY(!photo->camera.calibrated);
      }
      // After a run that calibrated the photos none is ticked, nor is the root; a run with
      // nothing ticked still computes the coordinates.
      CalibrateAll(dialog);
      QCOMPARE(photoStates(), none);
      QCOMPARE(root->checkState(0), Qt::Unchecked);
      project().graph.InvalidateAllComputed();
      QCOMPARE(ComputedPositions(project()), 0);
      QTest::mouseClick(dialog.calibrationButton(), Qt::LeftButton);
      QVERIFY(dialog.lastRun().solves.empty());
      QVERIFY(ComputedPositions(project()) > 0);
      ClickCheckBox(tree, root);
      QCOMPARE(photoStates(), all);
    });
  }

  void validCellTakesOnlyOne() {
    InDialog([&](CalibrationDialog& dialog) {
      ClickTab(dialog, 1);
      CalibrationListPage& page = *dialog.listPage();
      using Page = CalibrationListPage;
      QCOMPARE(TypeIntoCell(page, 0, Page::kValid, "2"), QString("0"));
      QCOMPARE(TypeIntoCell(page, 1, Page::kValid, "x"), QString("0"));
      QCOMPARE(TypeIntoCell(page, 0, Page::kValid, " 1"), QString("1"));
      // Text that is no number leaves a pose cell as it was.
      QCOMPARE(TypeIntoCell(page, 0, Page::kTranslationY, "abc"), QString("   0.000"));
      QCOMPARE(TypeIntoCell(page, 0, Page::kTranslationZ, "inf"), QString("   0.000"));
      QVERIFY(!project().photos[0]->camera.calibrated);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    QVERIFY(project().photos[0]->camera.calibrated);
    QVERIFY(!project().photos[1]->camera.calibrated);
    QCOMPARE(project().photos[0]->camera.translation.y, 0.0);
    QCOMPARE(project().photos[0]->camera.translation.z, 0.0);
  }

  void numbersIgnoreTheProcessLocale() {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) QSKIP("no German locale");
    InDialog([&](CalibrationDialog& dialog) {
      ClickTab(dialog, 1);
      CalibrationListPage& page = *dialog.listPage();
      QCOMPARE(TypeIntoCell(page, 2, CalibrationListPage::kTranslationX, "-12.25"),
               QString("-12.250"));
      QCOMPARE(TypeIntoCell(page, 2, CalibrationListPage::kPitch, "+1.5e1"), QString("15.000"));
      // As C's scanf reads it: the comma ends the number.
      QCOMPARE(TypeIntoCell(page, 2, CalibrationListPage::kRoll, "7,5"), QString("7.000"));
      ClickTab(dialog, 0);
      ClickTab(dialog, 1);
      QCOMPARE(Cell(page, 2, CalibrationListPage::kTranslationX), QString(" -12.250"));
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    std::setlocale(LC_ALL, previous.c_str());
    QCOMPARE(project().photos[2]->camera.translation.x, -12.25);
    QCOMPARE(project().photos[2]->camera.orientation.x, 15 * std::acos(0.0) / 90);
  }

  // The edit box sits on its cell and the arrow keys move it; looking at the table that way and
  // pressing OK keeps every pose exactly as it was.
  void editBoxMovesOnTheCellsAndLookingNeverRoundsAPose() {
    project().photos[3]->camera.orientation = {0.123456789, -0.000123456, 2.987654321};
    project().photos[3]->camera.translation = {1.0 / 3, 2.0 / 3, 1e-7};
    // As the dialog ticks them when it opens.
    for (const auto& photo : project().photos) photo->camera.pending = true;
    const std::vector<CameraRecord> before = Cameras(project());
    app_->document().SetModified(false);
    InDialog([&](CalibrationDialog& dialog) {
      dialog.resize(420, 300);
      ClickTab(dialog, 1);
      CalibrationListPage& page = *dialog.listPage();
      QTableWidget* list = page.list();
      ClickCell(page, 1, CalibrationListPage::kValid);
      QVERIFY(page.editBox()->isVisible());
      QCOMPARE(dialog.focusWidget(), page.editBox());
      QCOMPARE(page.editBox()->cursorPosition(), page.editBox()->text().size());
      QRect cell = list->visualItemRect(list->item(1, CalibrationListPage::kValid));
      QCOMPARE(page.editBox()->geometry(),
               QRect(cell.left() + 3, cell.top() + 2, cell.width() - 3, cell.height() - 2));

      QTest::keyClick(page.editBox(), Qt::Key_Left);
      QCOMPARE(page.editColumn(), int(CalibrationListPage::kValid));
      for (int i = 0; i < 9; ++i) QTest::keyClick(page.editBox(), Qt::Key_Right);
      QCOMPARE(page.editColumn(), int(CalibrationListPage::kRoll));
      // The list scrolled so that the cell is inside its client area; the box is clipped to
      // the list's window.
      cell = list->visualItemRect(list->item(1, CalibrationListPage::kRoll));
      QVERIFY(cell.right() < list->viewport()->width() - 1);
      QVERIFY(list->viewport()->rect().contains(page.editBox()->geometry()));
      QTest::keyClick(page.editBox(), Qt::Key_Up);
      QTest::keyClick(page.editBox(), Qt::Key_Up);
      QCOMPARE(page.editRow(), 0);
      for (int i = 0; i < kPhotos + 2; ++i) QTest::keyClick(page.editBox(), Qt::Key_Down);
      QCOMPARE(page.editRow(), kPhotos - 1);
      QCOMPARE(page.editColumn(), int(CalibrationListPage::kRoll));
      // A click on the photo column ends the edit.
      ClickCell(page, 0, CalibrationListPage::kPhoto);
      QCOMPARE(page.editRow(), -1);
      QVERIFY(!page.editBox()->isVisible());
      ClickCell(page, 3, CalibrationListPage::kPitch);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    QCOMPARE(FirstChangedCamera(Cameras(project()), before), -1);
    QVERIFY(!app_->document().modified());
  }

  void runShowsProgressAndEscapeEndsOnlyTheCurrentSearch() {
    modrin::app::StatusProgress& progress = frame().statusProgress();
    QLabel* pane = frame().promptPane();
    QStringList texts;
    QList<QRect> bars, expected;
    bool blocked = true;
    QMetaObject::Connection shown =
        connect(&progress, &modrin::app::StatusProgress::created, this, [&](const QString& text) {
          texts << pane->text();
          QVERIFY(text == pane->text());
          bars << progress.bar()->geometry();
          const QRect paneRect(pane->mapTo(frame().statusBar(), QPoint()), pane->size());
          const int left =
              paneRect.x() + QFontMetrics(frame().statusBar()->font()).horizontalAdvance(text) + 2;
          const int right = std::min(paneRect.x() + paneRect.width() - 2, 300);
          expected << QRect(left, paneRect.y() + 2, right - left, paneRect.height() - 4);
          // Escape pressed while the first photo is about to be searched, and held: it repeats
          // while the next photos are searched.
          auto* dialog = qobject_cast<CalibrationDialog*>(QApplication::activeModalWidget());
          QVERIFY(dialog != nullptr);
          if (texts.size() == 1) {
            blocked = blocked && !dialog->isEnabled() && !frame().isEnabled();
            QTest::keyPress(dialog->windowHandle(), Qt::Key_Escape);
          } else {
            RepeatEscape(*dialog);
          }
        });
    InDialog([&](CalibrationDialog& dialog) {
      CalibrateAll(dialog);
      QVERIFY(dialog.isVisible());
      QVERIFY(dialog.isEnabled());
      const auto& solves = dialog.lastRun().solves;
      QVERIFY(solves.size() >= static_cast<std::size_t>(kPhotos));
      QCOMPARE(solves[0].photo, std::size_t{0});
      QVERIFY(solves[0].result.cancelled);
      for (std::size_t i = 1; i < solves.size(); ++i) QVERIFY(!solves[i].result.cancelled);
      for (int i = 1; i < kPhotos; ++i) QVERIFY(project().photos[i]->camera.calibrated);
      // Held past the run's end, it does not close the dialog, in the repeats a server marks
      // as such or in the pairs of release and press of one instant others send; a new press
      // does.
      RepeatEscape(dialog);
      SendEscape(dialog, QEvent::KeyRelease, 5000);
      SendEscape(dialog, QEvent::KeyPress, 5000);
      QVERIFY(dialog.isVisible());
      SendEscape(dialog, QEvent::KeyRelease, 5040);
      SendEscape(dialog, QEvent::KeyPress, 5300);
      QVERIFY(!dialog.isVisible());
    });
    disconnect(shown);
    QVERIFY(blocked);
    QVERIFY(frame().isEnabled());
    QVERIFY(texts.size() >= kPhotos);
    QCOMPARE(texts[0], QString("Calibrating image photo1.jpg "));
    QCOMPARE(texts[1], QString("Calibrating image photo2.jpg "));
    for (int i = 0; i < bars.size(); ++i) QCOMPARE(bars[i], expected[i]);
    QCOMPARE(pane->text(), QString(54, ' '));
    QVERIFY(progress.bar() == nullptr);
  }

  void windowKeepsPaintingButTakesNoCommandDuringARun() {
    int ticksWhileRunning = 0;
    QTimer timer;
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this,
            [&] { ticksWhileRunning += frame().calibrationRunning(); });
    bool stayedOpen = false;
    bool photoViewsHeld = true;
    QMetaObject::Connection shown =
        connect(&frame().statusProgress(), &modrin::app::StatusProgress::created, this, [&] {
          if (stayedOpen) return;
          // The photo views do not paint from the cameras and positions the run changes.
          for (QWidget* view : frame().frames()) {
            if (qobject_cast<modrin::views2d::ImgFrame*>(view))
              photoViewsHeld &= !view->updatesEnabled();
          }
          // Closing the main window and its keys do nothing while the run lasts.
          stayedOpen = !frame().close() && frame().isVisible();
          QTest::keyClick(frame().windowHandle(), Qt::Key_O, Qt::ControlModifier);
          auto* dialog = qobject_cast<CalibrationDialog*>(QApplication::activeModalWidget());
          QTest::keyClick(dialog->windowHandle(), Qt::Key_F1);
          QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
        });
    timer.start();
    InDialog([&](CalibrationDialog& dialog) {
      CalibrateAll(dialog);
      QVERIFY(dialog.isVisible());
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    timer.stop();
    disconnect(shown);
    QVERIFY(ticksWhileRunning > 0);
    QVERIFY(stayedOpen);
    QVERIFY(photoViewsHeld);
    for (QWidget* view : frame().frames()) QVERIFY(view->updatesEnabled());
    QCOMPARE(dialogs_->openDialogs, 0);
    QVERIFY(modrin::app::OpenHelpWindow() == nullptr);
    QVERIFY(frame().isVisible());
  }

  void helpKeyOpensTheCalibrationPage() {
    InDialog([&](CalibrationDialog& dialog) {
      QTest::keyClick(&dialog, Qt::Key_F1);
      QVERIFY(modrin::app::OpenHelpWindow() != nullptr);
      QVERIFY(modrin::app::OpenHelpWindow()->source().path().endsWith("/Calibration.html"));
    });
    delete modrin::app::OpenHelpWindow();
  }

  void statusTabTellsWhyAPhotoIsNotTriedAndWhoseMarksToCheck() {
    // Photo 3 keeps two of its real positions, too few; photo 2 has a corner marked 40 pixels
    // off.
    for (const std::int32_t id : {3, 4, 5, 7}) QVERIFY(project().RemoveImagePoint(id, 3));
    project().graph.positions.at(2).imagePoints.at(2).x += 40;
    InDialog([&](CalibrationDialog& dialog) {
      QTreeWidgetItem* root = dialog.imagesPage()->root();
      QCOMPARE(root->child(3)->text(1),
               QString("fewer than 3 marked points with known coordinates"));
      QCOMPARE(root->child(2)->text(1), QString());
      CalibrateAll(dialog);
      QVERIFY(project().photos[2]->camera.calibrated);
      QVERIFY(root->child(2)->text(1).startsWith("check its marks: "));
      QVERIFY(root->child(2)->text(1).endsWith(" px"));
      for (const int other : {0, 1, 4, 5}) QCOMPARE(root->child(other)->text(1), QString());
    });
  }

  void guiRunPosesEqualADirectRunBitForBit() {
    for (const bool refine : {true, false}) {
      InDialog([&](CalibrationDialog& dialog) {
        dialog.imagesPage()->refinePosesBox()->setChecked(refine);
        CalibrateAll(dialog);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
      });
      const std::vector<CameraRecord> gui = Cameras(project());
      // The same project opened again and solved as modrin-cli calibrate --all does.
      QVERIFY(app_->document().OpenPath(dir_->filePath("house.mpj").toStdString()).ok());
      for (const auto& photo : project().photos) photo->camera.pending = true;
      modrin::engine::CalibrationRunOptions options;
      options.calibration.polish = refine;
      modrin::engine::RunCalibration(project(), options);
      for (const CameraRecord& camera : gui) QVERIFY(camera.calibrated);
      QCOMPARE(FirstChangedCamera(gui, Cameras(project())), -1);
      QVERIFY(app_->document().OpenPath(dir_->filePath("house.mpj").toStdString()).ok());
    }
  }
};

QTEST_MAIN(CalibrationDialogTest)
#include "calibration_dialog_test.moc"
