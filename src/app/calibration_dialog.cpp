#include "app/calibration_dialog.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/calibration_list_page.h"
#include "app/images_page.h"
#include "engine/bundle_adjustment.h"
#include "engine/reconstruction.h"
#include "model/project.h"

namespace modrin::app {

namespace {

constexpr char kHelpTopic[] = "Calibration.html";

// Whether the project file would hold something else for this camera.
bool SameSavedCamera(const engine::CameraRecord& a, const engine::CameraRecord& b) {
  return a.calibrated == b.calibrated && a.cameraEntry == b.cameraEntry && a.focal == b.focal &&
         a.translation.x == b.translation.x && a.translation.y == b.translation.y &&
         a.translation.z == b.translation.z && a.orientation.x == b.orientation.x &&
         a.orientation.y == b.orientation.y && a.orientation.z == b.orientation.z;
}

}  // namespace

CalibrationDialog::CalibrationDialog(model::Project& project, CalibrationHost& host,
                                     QWidget* parent)
    : QDialog(parent),
      project_(project),
      host_(host),
      tabs_(new QTabWidget(this)),
      imagesPage_(new ImagesPage(project, tabs_)),
      listPage_(new CalibrationListPage(project, tabs_)),
      calibrationButton_(new QPushButton("Calibration", this)),
      okButton_(new QPushButton("OK", this)),
      cancelButton_(new QPushButton("Cancel", this)) {
  setWindowTitle("Photo calibration parameters");
  backup_.reserve(project_.photos.size());
  for (const auto& photo : project_.photos) backup_.push_back(photo->camera);
  for (const auto& [id, position] : project_.graph.positions) {
    if (!position.isReal) computedBackup_.push_back({id, position.coords, position.isComputed});
  }
  // Ticked at the start: the photos a run would solve unasked, so that Calibration then OK is
  // all a new project needs. Cancel puts the earlier ticks back with the cameras.
  const std::vector<bool> toCalibrate = engine::PhotosToCalibrate(project_);
  for (std::size_t i = 0; i < project_.photos.size(); ++i) {
    project_.photos[i]->camera.pending = toCalibrate[i];
  }
  imagesPage_->Refresh();

  tabs_->addTab(imagesPage_, "Status");
  tabs_->addTab(listPage_, "Advanced");
  tabs_->setCurrentIndex(0);
  connect(tabs_, &QTabWidget::currentChanged, this, &CalibrationDialog::OnTabChanged);

  calibrationButton_->setAutoDefault(false);
  cancelButton_->setAutoDefault(false);
  okButton_->setDefault(true);
  connect(calibrationButton_, &QPushButton::clicked, this, &CalibrationDialog::RunCalibration);
  connect(imagesPage_->refineAllButton(), &QPushButton::clicked, this,
          &CalibrationDialog::RunRefinement);
  connect(okButton_, &QPushButton::clicked, this, &CalibrationDialog::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &CalibrationDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(calibrationButton_);
  buttons->addStretch(1);
  buttons->addWidget(cancelButton_);
  buttons->addWidget(okButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addLayout(buttons);
  // The table's nine columns, side by side.
  resize(810, 320);
}

void CalibrationDialog::RunCalibration() {
  if (currentTab_ != 0) {
    listPage_->EndEdit();
    listPage_->Apply();
  } else {
    imagesPage_->Apply();
  }
  engine::CalibrationRunOptions options;
  options.calibration.polish = imagesPage_->refinePoses();
  lastRun_ = host_.RunCalibration(project_, options, this);
  refinedPoints_ = false;
  if (currentTab_ != 0) {
    listPage_->Refresh();
  } else {
    imagesPage_->Refresh();
  }
}

void CalibrationDialog::RunRefinement() {
  imagesPage_->Apply();
  const engine::RefineResult result = host_.RunRefinement(project_, {}, this);
  if (result.ok) {
    engine::ApplyRefinement(project_, result);
    refinedPoints_ = true;
  }
  imagesPage_->Refresh();
  imagesPage_->ShowRefinement(result);
}

bool CalibrationDialog::CamerasChanged() const {
  for (std::size_t i = 0; i < project_.photos.size() && i < backup_.size(); ++i) {
    if (!SameSavedCamera(project_.photos[i]->camera, backup_[i])) return true;
  }
  return false;
}

void CalibrationDialog::accept() {
  if (currentTab_ == 1) {
    listPage_->EndEdit();
    listPage_->Apply();
  }
  // Coordinates computed from the earlier poses would stay; the update computes them afresh.
  // Refined points already belong to the poses as they are.
  if (!refinedPoints_) project_.graph.InvalidateAllComputed();
  host_.Update3DViews();
  QDialog::accept();
}

void CalibrationDialog::reject() {
  // Hiding the pages takes their edits, so the cameras are put back afterwards.
  QDialog::reject();
  for (std::size_t i = 0; i < project_.photos.size() && i < backup_.size(); ++i) {
    project_.photos[i]->camera = backup_[i];
  }
  backup_.clear();
  // A run computed coordinates from the poses just put back; the positions get the ones they
  // had, which the restored cameras see, and the meshes built from them stay true.
  for (const ComputedCoords& kept : computedBackup_) {
    auto found = project_.graph.positions.find(kept.id);
    if (found == project_.graph.positions.end() || found->second.isReal) continue;
    found->second.coords = kept.coords;
    found->second.isComputed = kept.isComputed;
  }
  computedBackup_.clear();
}

void CalibrationDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    host_.ShowHelpTopic(kHelpTopic);
    return;
  }
  QDialog::keyPressEvent(event);
}

void CalibrationDialog::OnTabChanged(int index) {
  currentTab_ = index;
  if (index == 1) listPage_->Refresh();
  if (QWidget* page = tabs_->widget(index)) page->setFocus(Qt::TabFocusReason);
}

}  // namespace modrin::app
