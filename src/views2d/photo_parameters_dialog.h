#pragma once

#include <QDialog>

#include "views2d/help_handler.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace modrin::model {
class Project;
}

namespace modrin::views2d {

// Gives the project's photos the focal length `focal_mm` (millimetres; photos hold metres):
// every photo whose focal length is still 0, or every photo when `allPhotos` is set; 0 changes
// nothing. A photo whose focal length changed is no longer calibrated, and the coordinates of
// the positions are computed again from the photos still calibrated. Returns how many photos
// changed; a photo that already had that focal length does not count.
int ApplyFocalLength(model::Project& project, double focal_mm, bool allPhotos);

// The modal "Photo parameters" dialog: asks for the focal length of the photos, from 0 to
// 1000 mm, and on OK applies it with ApplyFocalLength. A text that is no such number keeps the
// dialog open. Each control's objectName is its control id.
class PhotoParametersDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kOkId = 1;
  static constexpr int kCancelId = 2;
  static constexpr int kFocalId = 1051;
  static constexpr int kAllPhotosId = 1052;
  static constexpr double kMaxFocal_mm = 1000;
  static constexpr char kHelpTopic[] = "PhotoParameters.html";

  // The project outlives the dialog. `help` answers F1.
  PhotoParametersDialog(model::Project& project, HelpHandler help, QWidget* parent = nullptr);

  // How many photos OK changed; 0 until OK is accepted.
  int changedPhotos() const { return changed_; }

  // OK: applies a valid focal length and closes; otherwise says what is expected and stays.
  void accept() override;

 private:
  model::Project& project_;
  HelpHandler help_;
  QLineEdit* focal_ = nullptr;
  QCheckBox* allPhotos_ = nullptr;
  QLabel* problem_ = nullptr;
  int changed_ = 0;
};

}  // namespace modrin::views2d
