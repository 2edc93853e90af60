#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <vector>

#include "app/background_calibration.h"
#include "engine/geometry/camera_record.h"

class QPushButton;
class QTabWidget;

namespace modrin::model {
class Project;
}

namespace modrin::app {

class CalibrationListPage;
class ImagesPage;

// What the calibration dialog needs of the main window.
class CalibrationHost {
 public:
  virtual ~CalibrationHost() = default;
  // Runs the calibration with the status-bar progress while `dialog` and the main window take
  // no input.
  virtual BackgroundCalibrationResult RunCalibration(model::Project& project,
                                                     const engine::CalibrationRunOptions& options,
                                                     QWidget* dialog) = 0;
  // Runs the joint refinement of poses and points the same way; the project is only read.
  virtual engine::RefineResult RunRefinement(const model::Project& project,
                                             const engine::RefineOptions& options,
                                             QWidget* dialog) = 0;
  // "Update 3D view" to every 3D frame.
  virtual void Update3DViews() = 0;
  virtual void ShowHelpTopic(const QString& topic) = 0;
};

// "Photo calibration parameters": the photos to calibrate ("Status"), ticked at the start as
// engine::PhotosToCalibrate chooses them, the poses in a table ("Advanced"), and the run. Changes
// go straight into the photos' cameras; Cancel puts every camera and every computed coordinate back
// as they were when the dialog opened, OK keeps them, drops the coordinates computed from the
// earlier poses and updates the 3D views.
class CalibrationDialog : public QDialog {
  Q_OBJECT

 public:
  // The project and the host outlive the dialog. The cameras are copied here.
  CalibrationDialog(model::Project& project, CalibrationHost& host, QWidget* parent = nullptr);

  // The "Calibration" button: takes the choices of the page shown, runs, shows the result.
  void RunCalibration();
  // The Status tab's "Refine all" button: refines every calibrated photo's pose and every
  // point together from all the marks, puts the result into the project and says on the tab
  // what it did, or why it did not run. Cancel of the dialog takes it back with the rest.
  void RunRefinement();

  // Whether a camera differs from the one the dialog started with (pose, flags or camera).
  bool CamerasChanged() const;

  QTabWidget* tabs() const { return tabs_; }
  ImagesPage* imagesPage() const { return imagesPage_; }
  CalibrationListPage* listPage() const { return listPage_; }
  QPushButton* calibrationButton() const { return calibrationButton_; }
  QPushButton* okButton() const { return okButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  // The solves of the last run, in the order they were made.
  const BackgroundCalibrationResult& lastRun() const { return lastRun_; }

  void accept() override;
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnTabChanged(int index);

  model::Project& project_;
  CalibrationHost& host_;
  std::vector<engine::CameraRecord> backup_;
  // The computed coordinates of the positions without real ones, for Cancel.
  struct ComputedCoords {
    std::int32_t id;
    std::array<double, 3> coords;
    bool isComputed;
  };
  std::vector<ComputedCoords> computedBackup_;
  QTabWidget* tabs_;
  ImagesPage* imagesPage_;
  CalibrationListPage* listPage_;
  QPushButton* calibrationButton_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  int currentTab_ = 0;
  BackgroundCalibrationResult lastRun_;
  // The computed points are the refinement's since its last run: OK keeps them instead of
  // computing them again from two photos each.
  bool refinedPoints_ = false;
};

}  // namespace modrin::app
