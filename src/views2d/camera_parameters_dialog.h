#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>

#include "images/camera_database.h"
#include "views2d/help_handler.h"

class QComboBox;
class QLineEdit;

namespace modrin::model {
class Project;
}

namespace modrin::views2d {

// The modal "Camera parameters" dialog: edits the sensor sizes of the camera database in
// millimetres. It works on its own copy of the live database; OK merges the copy into the live
// one, Cancel and the close box forget it. Enter and Escape do nothing, so that a key meant to
// end an entry never closes the dialog. Each control's objectName is its control id.
class CameraParametersDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kOkId = 1;
  static constexpr int kCancelId = 2;
  static constexpr int kGetFromImagesId = 3;
  static constexpr int kDiagonalId = 1017;
  static constexpr int kRatioId = 1018;
  static constexpr int kWidthId = 1019;
  static constexpr int kHeightId = 1021;
  static constexpr int kCameraId = 1103;
  static constexpr char kHelpTopic[] = "ParamsCamera.html";

  // `project` gives the live database (its cameraDatabase) and the photos "Get from images"
  // reads; both outlive the dialog. `help` answers F1.
  CameraParametersDialog(model::Project& project, HelpHandler help, QWidget* parent = nullptr);

  // The dialog's working copy: what OK would merge into the live database.
  const images::CameraDatabase& workingCopy() const { return copy_; }

  // OK: the live database takes every entry of the copy.
  void accept() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Takes the numbers of the three edits; an edit whose text is not a number keeps the last
  // value, which the next display update shows again. Takes the ratio text as typed.
  void ReadFields();
  // Rounds width and height, derives the diagonal, selects the nearest ratio and stores the
  // sizes in the copy under the selected camera.
  void UpdateDisplay();
  void OnCameraSelected();
  void OnSizeLeft();
  void OnDiagonalLeft();
  void OnRatioChosen(int index);
  void OnGetFromImages();
  // Width and height from the diagonal and the ratio "a:b" of `ratioText`; unchanged when the
  // text holds no ratio, b is 0 or a / b is not positive.
  void ApplyRatio(const QString& ratioText);
  // The database name of the selected camera, or null when none is selected.
  std::optional<std::string> SelectedCamera() const;

  model::Project& project_;
  HelpHandler help_;
  images::CameraDatabase copy_;
  double width_ = 0;     // millimetres
  double height_ = 0;    // millimetres
  double diagonal_ = 0;  // millimetres
  QString ratio_;

  QComboBox* camera_ = nullptr;
  QLineEdit* widthEdit_ = nullptr;
  QLineEdit* heightEdit_ = nullptr;
  QLineEdit* diagonalEdit_ = nullptr;
  QComboBox* ratioCombo_ = nullptr;
};

}  // namespace modrin::views2d
