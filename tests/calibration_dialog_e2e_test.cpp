// The calibration road in the window against the command-line road: on the house sample, the
// calibration dialog calibrates every photo (the root box of its tree), OK, Save 3D As and Save;
// then, in the same folder on a fresh copy, `modrin-cli calibrate --all` and `modrin-cli
// export`. The project files and the MTL files are the same bytes. The OBJ files differ in the
// vertex coordinates only: the window exports the coordinates it computed from the poses, while
// `export` opens the project file, which keeps computed coordinates with three decimals (and
// poses with four). Opened again from its saved file, the window writes the CLI's OBJ exactly.
// Runs on a virtual display, so that the 3D view draws the model it saved.

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <memory>

#include "app/calibration_dialog.h"
#include "app/commands.h"
#include "app/images_page.h"
#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/testing/house_sample.h"
#include "app/testing/scripted_dialogs.h"
#include "model/project.h"
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
// differ by the rounding of a project file's three decimals. False with the first line that
// does not.
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
    bool close = p.size() == 4 && q.size() == 4 && p[0] == "v" && q[0] == "v";
    for (int k = 1; close && k < 4; ++k) {
      close = std::abs(p[k].toDouble() - q[k].toDouble()) <= 0.0005 + 1e-6;
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

}  // namespace

class CalibrationDialogRoadTest : public QObject {
  Q_OBJECT

 private slots:
  void windowAndCommandLineWriteTheSameModel() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath("house");
    const QString project = folder + "/house.mpj";
    const QString model = folder + "/house.obj";
    const QString materials = folder + "/house.mtl";

    QCOMPARE(CopyHouse(folder), project);
    QByteArray windowProject, windowModel, windowMaterials, reopenedModel;
    {
      auto dialogs = std::make_unique<ScriptedDialogs>();
      ScriptedDialogs& answers = *dialogs;
      ModrinApplication app(std::move(dialogs));
      app.Start(project);
      QCOMPARE(app.project().photos.size(), std::size_t{6});
      // A project named at start-up starts out modified; the calibration must set the flag.
      app.document().SetModified(false);
      bool ran = false;
      QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CalibrationDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        ran = true;
        // Every photo, through the root's check box, then Calibration and OK.
        ClickCheckBox(*dialog->imagesPage()->tree(), dialog->imagesPage()->root());
        QTest::mouseClick(dialog->calibrationButton(), Qt::LeftButton);
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        if (dialog->isVisible()) dialog->reject();
      });
      app.mainFrame().action(command::kCalibration)->trigger();
      QVERIFY(ran);
      for (const auto& photo : app.project().photos) QVERIFY(photo->camera.calibrated);
      QVERIFY(app.document().modified());
      // The 3D view shows the textured house; Full screen fits it into the view.
      modrin::views3d::OglFrame* view3d = nullptr;
      for (QWidget* frame : app.mainFrame().frames()) {
        if (auto* f = qobject_cast<modrin::views3d::OglFrame*>(frame)) view3d = f;
      }
      QVERIFY(view3d != nullptr && view3d->view() != nullptr);
      view3d->fullScreenAction()->trigger();
      const double shown = ColouredShare(view3d->view()->grabFramebuffer());
      QVERIFY2(shown > 0.2, qPrintable(QString::number(shown)));

      answers.modelName = model;
      app.mainFrame().action(command::kSave3DAs)->trigger();
      QVERIFY(answers.errors.isEmpty());
      app.mainFrame().action(command::kSave)->trigger();
      QVERIFY(!app.document().modified());
      windowProject = ReadAll(project);
      windowModel = ReadAll(model);
      windowMaterials = ReadAll(materials);
      QVERIFY(!windowModel.isEmpty());
      QVERIFY(!windowMaterials.isEmpty());

      // The saved project opened again, as `modrin-cli export` opens it.
      answers.openName = project;
      app.mainFrame().action(command::kOpen)->trigger();
      QCOMPARE(answers.questions, 0);
      app.mainFrame().action(command::kSave3DAs)->trigger();
      QVERIFY(answers.errors.isEmpty());
      reopenedModel = ReadAll(model);
    }

    // The command-line road in the same folder, so that the texture paths are the same.
    QCOMPARE(CopyHouse(folder), project);
    RunCli({"calibrate", project, "--all"});
    const QByteArray cliProject = ReadAll(project);
    RunCli({"export", project, model});
    const QByteArray cliModel = ReadAll(model);
    const QByteArray cliMaterials = ReadAll(materials);

    QVERIFY2(windowProject == cliProject, FirstDifference(windowProject, cliProject).constData());
    QVERIFY2(windowMaterials == cliMaterials,
             FirstDifference(windowMaterials, cliMaterials).constData());
    QVERIFY2(reopenedModel == cliModel, FirstDifference(reopenedModel, cliModel).constData());
    QByteArray why;
    QVERIFY2(SameBesideRounding(windowModel, cliModel, why), why.constData());
    // The window's own export holds the unrounded coordinates.
    QVERIFY(windowModel != cliModel);
  }
};

QTEST_MAIN(CalibrationDialogRoadTest)
#include "calibration_dialog_e2e_test.moc"
