#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <memory>
#include <string>

#include "images/jpeg_writer.h"
#include "model/photo.h"
#include "model/project.h"
#include "views2d/camera_parameters_dialog.h"
#include "views2d/photo_parameters_dialog.h"

using modrin::images::CameraDatabase;
using modrin::model::Project;
using Camera = modrin::views2d::CameraParametersDialog;
using modrin::views2d::PhotoParametersDialog;

namespace {

template <typename T = QLineEdit>
T* Control(const QWidget& dialog, int id) {
  return dialog.findChild<T*>(QString::number(id));
}
QPushButton* Button(const QWidget& dialog, int id) { return Control<QPushButton>(dialog, id); }

// Shown as the active window, so that keys reach it and the focus moves.
bool ShowActive(QDialog& dialog) {
  dialog.show();
  dialog.activateWindow();
  return QTest::qWaitForWindowActive(&dialog);
}

// Clicks into the edit, types `text` over what it holds, and leaves it with Tab.
void TypeAndLeave(QLineEdit* edit, const QString& text) {
  QTest::mouseClick(edit, Qt::LeftButton);
  edit->selectAll();
  QTest::keyClicks(edit, text);
  QTest::keyClick(edit, Qt::Key_Tab);
}

// Opens the combo's list with a click on its arrow, moves to the item `text` with the arrow
// keys and takes it with Enter. (A click into the list just after it opened would be taken for
// the end of the click that opened it.)
bool ChooseItem(QComboBox* combo, const QString& text) {
  const int index = combo->findText(text);
  QStyleOptionComboBox option;
  option.initFrom(combo);
  option.editable = combo->isEditable();
  const QRect arrow =
      combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, combo);
  QTest::mouseClick(combo, Qt::LeftButton, {}, arrow.center());
  QAbstractItemView* list = combo->view();
  if (index < 0 || !QTest::qWaitForWindowExposed(list->window())) return false;
  for (int steps = 0; list->currentIndex().row() != index && steps <= combo->count(); ++steps) {
    QTest::keyClick(list, list->currentIndex().row() < index ? Qt::Key_Down : Qt::Key_Up);
  }
  QTest::keyClick(list, Qt::Key_Return);
  return !list->window()->isVisible() && combo->currentIndex() == index;
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

// What the Cell size box shows: "width height diagonal ratio".
QString Shown(const QWidget& dialog) {
  return QStringList{Control(dialog, Camera::kWidthId)->text(),
                     Control(dialog, Camera::kHeightId)->text(),
                     Control(dialog, Camera::kDiagonalId)->text(),
                     Control<QComboBox>(dialog, Camera::kRatioId)->currentText()}
      .join(' ');
}

// Types into a field of the camera dialog as TypeAndLeave; gives what the Cell size box shows
// then.
QString TypeAndShow(QLineEdit* edit, const QString& text) {
  TypeAndLeave(edit, text);
  return Shown(*edit->window());
}

// A camera's sensor in the database as "width x height" in millimetres; "none" when unknown.
QString Size(const CameraDatabase& database, const std::string& name) {
  double width = 0;
  double height = 0;
  if (!database.Get(name, width, height)) return "none";
  return QString::number(width * 1000, 'f', 2) + " x " + QString::number(height * 1000, 'f', 2);
}

}  // namespace

class ParameterDialogsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Camera> OpenCameraDialog() {
    auto dialog =
        std::make_unique<Camera>(*project_, [this](const QString& topic) { help_ << topic; });
    [&] { QVERIFY(ShowActive(*dialog)); }();
    return dialog;
  }
  void AddPhotos(std::initializer_list<double> focals_m) {
    for (double focal : focals_m) project_->AddPhoto().camera.focal = focal;
  }
  double Focal(int photo) const { return project_->photos[photo]->camera.focal; }

  std::unique_ptr<Project> project_;
  QStringList help_;

 private slots:
  void init() {
    project_ = std::make_unique<Project>();
    help_.clear();
  }

  void opensOnTheFirstCameraWithItsShape() {
    project_->cameraDatabase.Insert("nikon D70", 0.0237, 0.0156, true);
    project_->cameraDatabase.Insert("Canon EOS 5D", 0.036, 0.024, true);
    project_->cameraDatabase.Insert("PENTAX", 0.00576, 0.00429, true);
    auto dialog = OpenCameraDialog();
    QCOMPARE(dialog->windowTitle(), QString("Camera parameters"));
    QCOMPARE(dialog->findChild<QGroupBox*>()->title(), QString("Cell size"));
    // Alphabetical whatever the case.
    auto* camera = Control<QComboBox>(*dialog, Camera::kCameraId);
    QCOMPARE(Items(camera), (QStringList{"Canon EOS 5D", "nikon D70", "PENTAX"}));
    QCOMPARE(Items(Control<QComboBox>(*dialog, Camera::kRatioId)),
             (QStringList{"1:1", "4:3", "3:2", "16:9"}));
    QCOMPARE(Shown(*dialog), QString("36.00 24.00 43.27 3:2"));
    QVERIFY(ChooseItem(camera, "PENTAX"));
    QCOMPARE(Shown(*dialog), QString("5.76 4.29 7.18 4:3"));
  }

  void typedSizesAreRoundedAndStoredUnderTheCamera() {
    project_->cameraDatabase.Insert("Cam", 0.036, 0.024, true);
    auto dialog = OpenCameraDialog();
    QLineEdit* width = Control(*dialog, Camera::kWidthId);
    QLineEdit* height = Control(*dialog, Camera::kHeightId);
    TypeAndLeave(width, "5.756");
    QCOMPARE(QApplication::focusWidget(), height);
    QCOMPARE(TypeAndShow(height, "4.294"), QString("5.76 4.29 7.18 4:3"));
    QCOMPARE(Size(dialog->workingCopy(), "Cam"), QString("5.76 x 4.29"));
    // The nearest ratio, not the one below; with no height none is near enough.
    QCOMPARE(TypeAndShow(width, "8"), QString("8.00 4.29 9.08 16:9"));
    QCOMPARE(TypeAndShow(height, "0"), QString("8.00 0.00 8.00 "));
    // Nothing reaches the live database before OK.
    QCOMPARE(Size(project_->cameraDatabase, "Cam"), QString("36.00 x 24.00"));
  }

  void diagonalAndRatioGiveTheSides() {
    project_->cameraDatabase.Insert("Cam", 0.00576, 0.00429, true);
    auto dialog = OpenCameraDialog();
    QLineEdit* diagonal = Control(*dialog, Camera::kDiagonalId);
    auto* ratio = Control<QComboBox>(*dialog, Camera::kRatioId);
    const auto typeRatio = [&](const QString& text) {
      ratio->lineEdit()->clear();
      QTest::keyClicks(ratio->lineEdit(), text);
    };
    // Passing through the diagonal does not square the sides up to the ratio shown.
    QTest::mouseClick(diagonal, Qt::LeftButton);
    QTest::keyClick(diagonal, Qt::Key_Tab);
    QCOMPARE(Shown(*dialog), QString("5.76 4.29 7.18 4:3"));

    QVERIFY(ChooseItem(ratio, "16:9"));
    QCOMPARE(Shown(*dialog), QString("6.26 3.52 7.18 16:9"));
    QCOMPARE(TypeAndShow(diagonal, "10"), QString("8.72 4.90 10.00 16:9"));
    QCOMPARE(Size(dialog->workingCopy(), "Cam"), QString("8.72 x 4.90"));

    // A typed ratio counts when the diagonal is left; the nearest listed one shows then.
    typeRatio("5:4");
    QCOMPARE(TypeAndShow(diagonal, "10"), QString("7.81 6.25 10.00 4:3"));
    // Read as sscanf's "%d:%d": blanks before a number, anything after the second.
    typeRatio(" 1: 1 mm");
    QCOMPARE(TypeAndShow(diagonal, "10"), QString("7.07 7.07 10.00 1:1"));
    // No ratio in the text: the sides stay and the diagonal is theirs again.
    for (const char* bad : {"16x9", "4:0", "abc", "16 :9", ":9", "-16:9", "0:1", ""}) {
      typeRatio(bad);
      QVERIFY2(TypeAndShow(diagonal, "20") == "7.07 7.07 10.00 1:1", bad);
    }
  }

  void editsStayPerCameraUntilOkOrCancel() {
    CameraDatabase& live = project_->cameraDatabase;
    live.Insert("A", 0.036, 0.024, true);
    live.Insert("B", 0.006, 0.004, true);
    project_->AddPhoto().camera.cameraEntry = live.Find("A");
    const auto editA = [&] {
      auto dialog = OpenCameraDialog();
      TypeAndLeave(Control(*dialog, Camera::kWidthId), "30");
      auto* camera = Control<QComboBox>(*dialog, Camera::kCameraId);
      [&] {
        QVERIFY(ChooseItem(camera, "B"));
        QCOMPARE(Shown(*dialog), QString("6.00 4.00 7.21 3:2"));
        QVERIFY(ChooseItem(camera, "A"));
        QCOMPARE(Shown(*dialog), QString("30.00 24.00 38.42 4:3"));
      }();
      return dialog;
    };

    auto dialog = editA();
    QTest::mouseClick(Button(*dialog, Camera::kCancelId), Qt::LeftButton);
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(Size(live, "A"), QString("36.00 x 24.00"));
    dialog = editA();
    dialog->close();  // the close box
    QCOMPARE(Size(live, "A"), QString("36.00 x 24.00"));

    dialog = editA();
    QTest::mouseClick(Button(*dialog, Camera::kOkId), Qt::LeftButton);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(Size(live, "A"), QString("30.00 x 24.00"));
    QCOMPARE(Size(live, "B"), QString("6.00 x 4.00"));
    // The photo's camera is still the live entry, which now has the new size.
    QVERIFY(project_->photos[0]->camera.cameraEntry == live.Find("A"));
  }

  void enterAndEscapeDoNotClose() {
    project_->cameraDatabase.Insert("Cam", 0.036, 0.024, true);
    auto dialog = OpenCameraDialog();
    auto* ratio = Control<QComboBox>(*dialog, Camera::kRatioId);
    QPushButton* ok = Button(*dialog, Camera::kOkId);
    ok->setFocus();  // not even the button that has the focus takes Enter
    for (QWidget* target : {static_cast<QWidget*>(Control(*dialog, Camera::kWidthId)),
                            static_cast<QWidget*>(ratio->lineEdit()), static_cast<QWidget*>(ok)}) {
      for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(target, key);
      }
    }
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->result(), 0);
    QCOMPARE(Items(ratio), (QStringList{"1:1", "4:3", "3:2", "16:9"}));
    // F1 asks for the dialog's page.
    QTest::keyClick(ok, Qt::Key_F1);
    QCOMPARE(help_, QStringList{"ParamsCamera.html"});
  }

  void emptyDatabaseChangesNothing() {
    auto dialog = OpenCameraDialog();
    QCOMPARE(Control<QComboBox>(*dialog, Camera::kCameraId)->count(), 0);
    QCOMPARE(Shown(*dialog), QString("0.00 0.00 0.00 "));
    TypeAndLeave(Control(*dialog, Camera::kWidthId), "36");
    QCOMPARE(TypeAndShow(Control(*dialog, Camera::kHeightId), "24"),
             QString("36.00 24.00 43.27 3:2"));
    QTest::mouseClick(Button(*dialog, Camera::kOkId), Qt::LeftButton);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(project_->cameraDatabase.size(), std::size_t{0});
  }

  void onlyNumbersEnterTheSizes() {
    project_->cameraDatabase.Insert("Cam", 0.036, 0.024, true);
    auto dialog = OpenCameraDialog();
    QLineEdit* width = Control(*dialog, Camera::kWidthId);
    // Letters, signs, exponents and commas are refused as they are typed.
    QCOMPARE(TypeAndShow(width, "x-1e2,5"), QString("125.00 24.00 127.28 16:9"));
    // A text that is no number yet, or above the largest side, gives way to the last number.
    for (const char* unfinished : {"", ".", "1001"}) {
      QTest::mouseClick(width, Qt::LeftButton);
      width->clear();
      QTest::keyClicks(width, unfinished);
      QCOMPARE(width->text(), QString(unfinished));
      QTest::keyClick(width, Qt::Key_Tab);
      QCOMPARE(Shown(*dialog), QString("125.00 24.00 127.28 16:9"));
    }
    QCOMPARE(Size(dialog->workingCopy(), "Cam"), QString("125.00 x 24.00"));
  }

  void numbersUseAPointUnderAnyLocale() {
    // German numbers (a decimal comma) for Qt and, where installed, for the C library.
    const QLocale qtBefore;
    const std::string cBefore = std::setlocale(LC_NUMERIC, nullptr);
    const auto restore = qScopeGuard([&] {
      std::setlocale(LC_NUMERIC, cBefore.c_str());
      QLocale::setDefault(qtBefore);
    });
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    project_->cameraDatabase.Insert("Cam", 0.036, 0.024, true);
    auto dialog = OpenCameraDialog();
    QCOMPARE(Shown(*dialog), QString("36.00 24.00 43.27 3:2"));
    TypeAndLeave(Control(*dialog, Camera::kWidthId), "5.76");
    QCOMPARE(TypeAndShow(Control(*dialog, Camera::kHeightId), "4,29"),
             QString("5.76 429.00 429.04 1:1"));  // the comma is refused
  }

  void getFromImagesReadsTheLoadedJpegs() {
    QTemporaryDir folder;
    // A 60 x 40 picture of a camera with a `width_mm` x 4 mm sensor; no EXIF without a model.
    const auto jpeg = [&](const std::string& model, double width_mm) {
      modrin::images::ExifCamera exif{model, 7, 60 / (width_mm / 25.4), 40 / (4 / 25.4), 2};
      const std::string path = QDir(folder.path()).filePath(model.c_str()).toStdString() + "_.jpg";
      const bool written =
          modrin::images::WriteJpegFile(path, modrin::images::DecodedImage::Filled(60, 40, 90), 90,
                                        model.empty() ? std::nullopt : std::optional(exif));
      return written ? path : std::string();
    };
    // "Cam" is known with another size, "New" is not known; a photo not loaded and one
    // without EXIF data give nothing.
    CameraDatabase& live = project_->cameraDatabase;
    CameraDatabase elsewhere;
    const std::pair<const char*, CameraDatabase*> photos[] = {
        {"Cam", &live}, {"New", &elsewhere}, {"Unloaded", nullptr}, {"", &live}};
    for (const auto& [model, database] : photos) {
      modrin::model::Photo& photo = project_->AddPhoto();
      photo.SetPath(jpeg(model, *model == 'N' ? 8 : 6));
      if (database != nullptr) QVERIFY(modrin::model::LoadImage(photo, *database));
    }
    live.Insert("Cam", 0.010, 0.010, true);

    auto dialog = OpenCameraDialog();
    QCOMPARE(Shown(*dialog), QString("10.00 10.00 14.14 1:1"));
    QTest::mouseClick(Button(*dialog, Camera::kGetFromImagesId), Qt::LeftButton);
    QCOMPARE(Shown(*dialog), QString("6.00 4.00 7.21 3:2"));
    // A new name is in the copy, but in the list only when the dialog opens again.
    QCOMPARE(Items(Control<QComboBox>(*dialog, Camera::kCameraId)), QStringList{"Cam"});
    QCOMPARE(Size(dialog->workingCopy(), "Unloaded"), QString("none"));
    QTest::mouseClick(Button(*dialog, Camera::kOkId), Qt::LeftButton);
    QCOMPARE(Size(live, "Cam"), QString("6.00 x 4.00"));
    QCOMPARE(Size(live, "New"), QString("8.00 x 4.00"));
    QCOMPARE(live.size(), std::size_t{2});
    dialog = OpenCameraDialog();
    QCOMPARE(Items(Control<QComboBox>(*dialog, Camera::kCameraId)), (QStringList{"Cam", "New"}));
  }

  void focalGoesToThePhotosWithoutOneOrToAll() {
    AddPhotos({0, 0.035, 0});
    std::int32_t id = 0;
    QVERIFY(project_->graph.NewPosition(id));
    bool& computed = project_->graph.positions[id].isComputed;
    computed = true;
    PhotoParametersDialog dialog(*project_, {});
    QVERIFY(ShowActive(dialog));
    QCOMPARE(dialog.windowTitle(), QString("Photo parameters"));
    QCOMPARE(dialog.findChild<QGroupBox*>()->title(), QString("Snapshot parameters"));
    QLineEdit* focal = Control(dialog, PhotoParametersDialog::kFocalId);
    QCOMPARE(focal->text(), QString("0"));
    // The field has the focus with its text selected: typing replaces it; Enter is OK.
    QTest::keyClicks(focal, "50");
    QTest::keyClick(focal, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.changedPhotos(), 2);
    QCOMPARE((QList<double>{Focal(0), Focal(1), Focal(2)}), (QList<double>{0.05, 0.035, 0.05}));
    QVERIFY(!computed);

    // "All photos" replaces every focal length; one that has it already does not count, and
    // when none changes the coordinates stay. 0 wipes nothing. A photo whose focal length
    // changes loses the pose solved with the old one.
    project_->photos[1]->camera.calibrated = true;
    project_->photos[2]->camera.calibrated = true;
    struct Case {
      const char* typed;
      int changed;
    };
    for (const Case& c : {Case{"24", 3}, Case{"24", 0}, Case{"0", 0}}) {
      computed = true;
      PhotoParametersDialog all(*project_, {});
      QVERIFY(ShowActive(all));
      auto* box = Control<QCheckBox>(all, PhotoParametersDialog::kAllPhotosId);
      QCOMPARE(box->text(), QString("All photos"));
      QStyleOptionButton option;
      option.initFrom(box);
      option.text = box->text();
      QTest::mouseClick(
          box, Qt::LeftButton, {},
          box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box).center());
      QVERIFY(box->isChecked());
      TypeAndLeave(Control(all, PhotoParametersDialog::kFocalId), c.typed);
      QTest::mouseClick(Button(all, PhotoParametersDialog::kOkId), Qt::LeftButton);
      QCOMPARE(all.changedPhotos(), c.changed);
      QCOMPARE((QList<double>{Focal(0), Focal(1), Focal(2)}), (QList<double>{0.024, 0.024, 0.024}));
      QCOMPARE(computed, c.changed == 0);
      QCOMPARE(project_->photos[1]->camera.calibrated, c.changed == 0);
      project_->photos[1]->camera.calibrated = true;
    }
  }

  void focalOutsideTheRangeIsRefused() {
    AddPhotos({0});
    PhotoParametersDialog dialog(*project_, [this](const QString& topic) { help_ << topic; });
    QVERIFY(ShowActive(dialog));
    QLineEdit* focal = Control(dialog, PhotoParametersDialog::kFocalId);
    auto* problem = dialog.findChild<QLabel*>("problem");
    QVERIFY(!problem->isVisible());
    for (const char* refused : {"1000.5", "1500", ""}) {
      focal->clear();
      QTest::keyClicks(focal, refused);
      QTest::mouseClick(Button(dialog, PhotoParametersDialog::kOkId), Qt::LeftButton);
      QVERIFY2(dialog.isVisible() && problem->isVisible(), refused);
      QCOMPARE(QApplication::focusWidget(), focal);
      QCOMPARE(Focal(0), 0.0);
      QTest::keyClicks(focal, "1");  // typing takes the message away
      QVERIFY(!problem->isVisible());
    }
    QTest::keyClick(focal, Qt::Key_F1);
    QCOMPARE(help_, QStringList{"PhotoParameters.html"});
    // Letters and signs do not get in; the top of the range does.
    focal->clear();
    QTest::keyClicks(focal, "-a1000");
    QCOMPARE(focal->text(), QString("1000"));
    QTest::mouseClick(Button(dialog, PhotoParametersDialog::kOkId), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Focal(0), 1.0);
  }
};

QTEST_MAIN(ParameterDialogsTest)
#include "parameter_dialogs_test.moc"
