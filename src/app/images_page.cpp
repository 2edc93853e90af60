#include "app/images_page.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/icons.h"
#include "engine/bundle_adjustment.h"
#include "engine/reconstruction.h"
#include "images/number_text.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::app {

ImagesPage::ImagesPage(model::Project& project, QWidget* parent)
    : QWidget(parent),
      project_(project),
      tree_(new QTreeWidget(this)),
      root_(new QTreeWidgetItem(tree_, QStringList("Images"))),
      refinePoses_(new QCheckBox("Refine poses", this)),
      refineAll_(new QPushButton("Refine all", this)),
      refinement_(new QLabel(this)) {
  tree_->setHeaderHidden(true);
  // The second column holds a photo's note: why a run does not try it, or that its marks
  // should be checked.
  tree_->setColumnCount(2);
  tree_->setRootIsDecorated(true);
  tree_->setIconSize(QSize(16, 16));
  root_->setIcon(0, CalibrationTreeIcon(CalibrationIcon::kRoot));
  root_->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
  root_->setCheckState(0, Qt::Unchecked);
  for (const auto& photo : project_.photos) {
    auto* child = new QTreeWidgetItem(
        root_, QStringList(QString::fromStdString(model::FileNamePart(photo->path))));
    child->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    child->setCheckState(0, Qt::Unchecked);
  }
  root_->setExpanded(true);
  Refresh();
  connect(tree_, &QTreeWidget::itemChanged, this, &ImagesPage::OnItemChanged);

  refinePoses_->setChecked(true);
  refinePoses_->setToolTip(
      "Finish each pose found with a least-squares adjustment of its six values");

  refineAll_->setAutoDefault(false);
  refineAll_->setToolTip(
      "Refine every calibrated photo's pose and every point together from all the marks; "
      "Escape stops it");
  refinement_->setWordWrap(true);
  refinement_->hide();

  auto* options = new QHBoxLayout;
  options->addWidget(refinePoses_);
  options->addStretch(1);
  options->addWidget(refineAll_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_, 1);
  layout->addWidget(refinement_);
  layout->addLayout(options);
  setFocusProxy(tree_);
}

void ImagesPage::Refresh() {
  const QIcon calibrated = CalibrationTreeIcon(CalibrationIcon::kCalibrated);
  const QIcon notCalibrated = CalibrationTreeIcon(CalibrationIcon::kNotCalibrated);
  const std::vector<std::optional<double>> rms = engine::ControlPointRms(project_);
  const std::vector<bool> doubtful = engine::DoubtfulPhotos(rms);
  const QSignalBlocker quiet(tree_);
  for (int i = 0; i < root_->childCount(); ++i) {
    const auto index = static_cast<std::size_t>(i);
    if (index >= project_.photos.size()) break;
    const engine::CameraRecord& camera = project_.photos[index]->camera;
    QTreeWidgetItem* child = root_->child(i);
    child->setCheckState(0, camera.pending ? Qt::Checked : Qt::Unchecked);
    child->setIcon(0, camera.calibrated ? calibrated : notCalibrated);
    std::string note;
    if (camera.calibrated && doubtful[index]) note = engine::CheckMarksNote(*rms[index]);
    if (!camera.calibrated) {
      note = engine::ReadinessText(engine::CheckCalibrationReadiness(project_, index));
    }
    child->setText(1, QString::fromStdString(note));
  }
  tree_->resizeColumnToContents(0);
  ShowRootState();
}

void ImagesPage::ShowRootState() {
  // Ticked when every photo is, partly when some are: one click then ticks or clears all.
  int checked = 0;
  for (int i = 0; i < root_->childCount(); ++i) {
    checked += root_->child(i)->checkState(0) == Qt::Checked;
  }
  Qt::CheckState state = Qt::PartiallyChecked;
  if (checked == 0) state = Qt::Unchecked;
  if (checked > 0 && checked == root_->childCount()) state = Qt::Checked;
  const QSignalBlocker quiet(tree_);
  root_->setCheckState(0, state);
}

void ImagesPage::Apply() {
  for (int i = 0; i < root_->childCount(); ++i) {
    if (static_cast<std::size_t>(i) >= project_.photos.size()) break;
    project_.photos[static_cast<std::size_t>(i)]->camera.pending =
        root_->child(i)->checkState(0) == Qt::Checked;
  }
}

bool ImagesPage::refinePoses() const { return refinePoses_->isChecked(); }

void ImagesPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void ImagesPage::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // A minimised window hides the page too; only the page's own hiding takes its boxes.
  if (!event->spontaneous()) Apply();
}

void ImagesPage::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (column != 0) return;
  if (item != root_) {
    ShowRootState();
    return;
  }
  // A click on the root's box expands it and gives every photo the root's new state.
  const Qt::CheckState state = root_->checkState(0);
  const QSignalBlocker quiet(tree_);
  root_->setExpanded(true);
  for (int i = 0; i < root_->childCount(); ++i) root_->child(i)->setCheckState(0, state);
}

namespace {

std::string Pixels(double value) {
  std::string text;
  images::AppendFixed(text, value, 2);
  return text;
}

}  // namespace

void ImagesPage::ShowRefinement(const engine::RefineResult& result) {
  std::string text;
  if (result.ok) {
    text = "Refined " + std::to_string(result.poses.size()) + " poses and " +
           std::to_string(result.points.size()) + " points from " +
           std::to_string(result.observations) + " marks: " + Pixels(result.rmsBefore) + " to " +
           Pixels(result.rmsAfter) + " pixels RMS.";
  } else if (result.cancelled) {
    text = "Refinement stopped; nothing changed.";
  } else {
    text = "Not refined: " + result.message;
  }
  refinement_->setText(QString::fromStdString(text));
  refinement_->show();
}

}  // namespace modrin::app
