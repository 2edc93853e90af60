// The window's road against the command-line road on the house sample, opened by a path
// relative to the working folder as `make run` opens it. Without a 3D view in the layout: the
// marks are clicked at zoom 2 in a photo view (which must leave every mark where it is), the
// calibration dialog calibrates every photo and is cancelled, and Save 3D As writes what
// `modrin-cli export` writes from the unchanged file; then calibrated again with OK, Save 3D As
// and Save. Then with the default layout's 3D view, Save 3D As once more. In the same folder
// on a fresh copy, `modrin-cli calibrate --all` and `modrin-cli export`. The project files and
// MTL files are the same bytes, and every texture they name exists. The OBJ files differ in
// the vertex coordinates only: the window exports the coordinates it computed from the poses,
// while `export` opens the project file, which keeps computed coordinates with three decimals
// (and poses with four). Opened again from its saved file, the window writes the CLI's OBJ
// exactly. Runs on a virtual display, so that the 3D view draws the model it saved.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <memory>

#include "app/calibration_dialog.h"
#include "app/calibration_list_page.h"
#include "app/commands.h"
#include "app/images_page.h"
#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/objects_list.h"
#include "app/testing/house_sample.h"
#include "app/testing/scripted_dialogs.h"
#include "model/project.h"
#include "views2d/img.h"
#include "views2d/img_frame.h"
#include "views3d/ogl.h"
#include "views3d/ogl_frame.h"

using modrin::app::CalibrationDialog;
using modrin::app::ModrinApplication;
using modrin::app::testing::ClickCheckBox;
using modrin::app::testing::CopyHouse;
using modrin::app::testing::ScriptedDialogs;
namespace command = modrin::app::command;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs modrin-cli with `arguments`; its standard output, or a failed check.
QByteArray RunCli(const QStringList& arguments) {
  QProcess cli;
  cli.start(MODRIN_CLI_PATH, arguments);
  [&] {
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
  }();
  return cli.readAllStandardOutput();
}

// Where the first line of `a` and `b` that differ starts, for the failure message.
QByteArray FirstDifference(const QByteArray& a, const QByteArray& b) {
  const QList<QByteArray> left = a.split('\n'), right = b.split('\n');
  for (qsizetype i = 0; i < std::min(left.size(), right.size()); ++i) {
    if (left[i] != right[i]) {
      return "line " + QByteArray::number(i + 1) + ": window \"" + left[i] + "\", cli \"" +
             right[i] + "\"";
    }
  }
  return "lengths " + QByteArray::number(a.size()) + " and " + QByteArray::number(b.size());
}

// Every line of the two OBJ texts is the same, except that a vertex line ("v x y z") may
// differ by the rounding of a project file's three decimals, and a normal line ("vn x y z") by
// the tilt that rounding gives a triangle: corners 0.0005 off over sides of 3 m or more in the
// house. False with the first line that does not.
bool SameBesideRounding(const QByteArray& a, const QByteArray& b, QByteArray& why) {
  const QList<QByteArray> left = a.split('\n'), right = b.split('\n');
  if (left.size() != right.size()) {
    why = "line counts " + QByteArray::number(left.size()) + " and " +
          QByteArray::number(right.size());
    return false;
  }
  for (qsizetype i = 0; i < left.size(); ++i) {
    if (left[i] == right[i]) continue;
    const QList<QByteArray> p = left[i].split(' '), q = right[i].split(' ');
    bool close = p.size() == 4 && q.size() == 4 && p[0] == q[0] && (p[0] == "v" || p[0] == "vn");
    const double tolerance = p[0] == "v" ? 0.0005 + 1e-6 : 0.001;
    for (int k = 1; close && k < 4; ++k) {
      close = std::abs(p[k].toDouble() - q[k].toDouble()) <= tolerance;
    }
    if (!close) {
      why = "line " + QByteArray::number(i + 1) + ": \"" + left[i] + "\" and \"" + right[i] + "\"";
      return false;
    }
  }
  return true;
}

// The share of the picture's pixels that are not the view's white background.
double ColouredShare(const QImage& shot) {
  qsizetype coloured = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) coloured += shot.pixel(x, y) != qRgb(255, 255, 255);
  }
  return shot.isNull() ? 0 : static_cast<double>(coloured) / (shot.width() * shot.height());
}

// The texture files an MTL text names; each must exist.
QStringList MissingTextures(const QByteArray& materials) {
  QStringList missing;
  for (const QByteArray& line : materials.split('\n')) {
    if (line.startsWith("map_Kd ")) {
      const QString path = QString::fromUtf8(line.mid(7));
      if (!QFileInfo(path).isAbsolute() || !QFileInfo::exists(path)) missing << path;
    }
  }
  return missing;
}

template <typename T>
T* FirstFrame(modrin::app::CMainFrame& frame) {
  for (QWidget* candidate : frame.frames()) {
    if (auto* typed = qobject_cast<T*>(candidate)) return typed;
  }
  return nullptr;
}

// Runs the calibration dialog on every photo, then presses OK or Cancel. On the uncalibrated
// house the dialog opens with every photo ticked, so Calibration is all it takes.
void CalibrateEveryPhoto(ModrinApplication& app, bool keep) {
  bool ran = false;
  bool allTicked = false;
  QList<double> rms;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CalibrationDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    ran = true;
    allTicked = dialog->imagesPage()->root()->checkState(0) == Qt::Checked;
    QTest::mouseClick(dialog->calibrationButton(), Qt::LeftButton);
    // The Advanced tab's last column: every photo's reprojection RMS, within a pixel here.
    dialog->findChild<QTabWidget*>()->setCurrentIndex(1);
    const QTableWidget& list = *dialog->listPage()->list();
    for (int row = 0; row < list.rowCount(); ++row) {
      rms << list.item(row, modrin::app::CalibrationListPage::kRms)->text().toDouble();
    }
    QTest::mouseClick(keep ? dialog->okButton() : dialog->cancelButton(), Qt::LeftButton);
    if (dialog->isVisible()) dialog->reject();
  });
  app.mainFrame().action(command::kCalibration)->trigger();
  QVERIFY(ran);
  QVERIFY(allTicked);
  QCOMPARE(rms.size(), qsizetype(app.project().photos.size()));
  for (const double pixels : rms)
    QVERIFY2(pixels > 0 && pixels < 1, qPrintable(QString::number(pixels)));
}

// In the first photo view at zoom 2 (typed into the zoom box), clicks every mark of the photo
// where it is drawn, as a user picking the marks does: each click must pick the mark under it
// and leave it where it is, or the model would differ from the command line's.
void ClickEveryMarkAtZoom2(ModrinApplication& app) {
  auto* frame = FirstFrame<modrin::views2d::ImgFrame>(app.mainFrame());
  QVERIFY(frame != nullptr);
  modrin::views2d::Img& view = *frame->view();
  QLineEdit* zoom = frame->zoomBox()->lineEdit();
  zoom->selectAll();
  QTest::keyClicks(zoom, "200");
  QTest::keyClick(zoom, Qt::Key_Return);
  QCOMPARE(view.zoom(), 2.0f);
  const auto& graph = app.project().graph;
  const std::size_t positions = graph.positions.size();
  int clicked = 0;
  for (const auto& [id, position] : graph.positions) {
    const auto point = position.imagePoints.find(view.photoIndex());
    if (point == position.imagePoints.end()) continue;
    // Scrolled so that the mark is in sight, as the user scrolls to it.
    const QPoint at =
        view.WindowPosition(point->second) +
        QPoint(view.horizontalScrollBar()->value(), view.verticalScrollBar()->value());
    view.horizontalScrollBar()->setValue(at.x() - view.viewport()->width() / 2);
    view.verticalScrollBar()->setValue(at.y() - view.viewport()->height() / 2);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.WindowPosition(point->second));
    QCOMPARE(app.mainFrame().selection().selectedPosition, id);
    ++clicked;
  }
  QVERIFY(clicked >= 4);
  QCOMPARE(graph.positions.size(), positions);
}

}  // namespace

class CalibrationDialogRoadTest : public QObject {
  Q_OBJECT

 private slots:
  void windowAndCommandLineWriteTheSameModel() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin");
    settings.clear();
    // A photo view and the object list, no 3D view.
    settings.setValue("Views/Config", "(H,50,2,O)");
    settings.sync();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath("house");
    const QString project = folder + "/house.mpj";
    const QString out = dir.filePath("models");
    QVERIFY(QDir().mkpath(out));
    const QString model = out + "/house.obj";
    const QString materials = out + "/house.mtl";
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));

    QCOMPARE(CopyHouse(folder), project);
    RunCli({"export", "house/house.mpj", model});
    const QByteArray uncalibratedModel = ReadAll(model);
    QByteArray cancelledModel, windowProject, windowModel, windowMaterials, viewModel,
        reopenedModel;
    {
      auto dialogs = std::make_unique<ScriptedDialogs>();
      ScriptedDialogs& answers = *dialogs;
      ModrinApplication app(std::move(dialogs));
      app.Start("house/house.mpj");
      QCOMPARE(QString::fromStdString(app.document().projectPath()), project);
      QCOMPARE(app.project().photos.size(), std::size_t{6});
      QVERIFY(FirstFrame<modrin::views3d::OglFrame>(app.mainFrame()) == nullptr);
      ClickEveryMarkAtZoom2(app);

      // Cancelled, the run leaves the model as the file describes it.
      CalibrateEveryPhoto(app, false);
      answers.modelName = model;
      app.mainFrame().action(command::kSave3DAs)->trigger();
      cancelledModel = ReadAll(model);

      // A project named at start-up starts out modified; the calibration must set the flag.
      app.document().SetModified(false);
      CalibrateEveryPhoto(app, true);
      for (const auto& photo : app.project().photos) QVERIFY(photo->camera.calibrated);
      QVERIFY(app.document().modified());
      app.mainFrame().action(command::kSave3DAs)->trigger();
      QVERIFY(answers.errors.isEmpty());
      windowModel = ReadAll(model);
      windowMaterials = ReadAll(materials);
      app.mainFrame().action(command::kSave)->trigger();
      QVERIFY(!app.document().modified());
      windowProject = ReadAll(project);

      // With a 3D view: it shows the textured house, and Save 3D As writes the same file.
      app.mainFrame().BuildLayout("");
      auto* view3d = FirstFrame<modrin::views3d::OglFrame>(app.mainFrame());
      QVERIFY(view3d != nullptr && view3d->view() != nullptr);
      // Without the cameras, which widen the fitted box to where the photos were taken.
      view3d->camerasAction()->trigger();
      view3d->fullScreenAction()->trigger();
      const double shown = ColouredShare(view3d->view()->grabFramebuffer());
      QVERIFY2(shown > 0.2, qPrintable(QString::number(shown)));
      app.mainFrame().action(command::kSave3DAs)->trigger();
      viewModel = ReadAll(model);

      // The saved project opened again, as `modrin-cli export` opens it.
      answers.openName = project;
      app.mainFrame().action(command::kOpen)->trigger();
      QCOMPARE(answers.questions, 0);
      app.mainFrame().action(command::kSave3DAs)->trigger();
      QVERIFY(answers.errors.isEmpty());
      reopenedModel = ReadAll(model);

      // An object ticked off in the object list is a change that Save keeps.
      QVERIFY(!app.document().modified());
      auto* list = FirstFrame<modrin::app::uiObjectsList>(app.mainFrame());
      QVERIFY(list != nullptr && list->rootItem()->childCount() > 0);
      ClickCheckBox(*list->tree(), list->rootItem()->child(0));
      QVERIFY(!app.project().objects.front()->current);
      QVERIFY(app.document().modified());
      app.mainFrame().UpdateCommandStates();
      QVERIFY(app.mainFrame().action(command::kSave)->isEnabled());
    }

    // The command-line road on the same folder, so that the texture paths are the same.
    QCOMPARE(CopyHouse(folder), project);
    RunCli({"calibrate", "house/house.mpj", "--all"});
    const QByteArray cliProject = ReadAll(project);
    RunCli({"export", "house/house.mpj", model});
    const QByteArray cliModel = ReadAll(model);
    const QByteArray cliMaterials = ReadAll(materials);
    QVERIFY(QDir::setCurrent(working));

    QVERIFY(!uncalibratedModel.isEmpty());
    QVERIFY2(cancelledModel == uncalibratedModel,
             FirstDifference(cancelledModel, uncalibratedModel).constData());
    QVERIFY2(windowProject == cliProject, FirstDifference(windowProject, cliProject).constData());
    QVERIFY2(windowMaterials == cliMaterials,
             FirstDifference(windowMaterials, cliMaterials).constData());
    QCOMPARE(MissingTextures(cliMaterials), QStringList());
    QVERIFY2(reopenedModel == cliModel, FirstDifference(reopenedModel, cliModel).constData());
    QVERIFY2(viewModel == windowModel, FirstDifference(viewModel, windowModel).constData());
    QByteArray why;
    QVERIFY2(SameBesideRounding(windowModel, cliModel, why), why.constData());
    // The window's own export holds the unrounded coordinates.
    QVERIFY(windowModel != cliModel);
  }
};

QTEST_MAIN(CalibrationDialogRoadTest)
#include "calibration_dialog_e2e_test.moc"
