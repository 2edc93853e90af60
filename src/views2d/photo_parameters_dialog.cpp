#include "views2d/photo_parameters_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <utility>

#include "model/project.h"
#include "views2d/number_field.h"

namespace modrin::views2d {

int ApplyFocalLength(model::Project& project, double focal_mm, bool allPhotos) {
  // 0 is the field's start and means no focal length: nothing is wiped.
  if (!(focal_mm > 0)) return 0;
  const double focal = focal_mm * 0.001;
  int changed = 0;
  for (const auto& photo : project.photos) {
    if (!allPhotos && photo->camera.focal != 0) continue;
    if (photo->camera.focal == focal) continue;
    photo->camera.focal = focal;
    // The pose was solved with the old focal length and no longer fits the marks.
    photo->camera.calibrated = false;
    ++changed;
  }
  if (changed > 0) {
    project.graph.InvalidateAllComputed();
    project.graph.ComputeAll();
  }
  return changed;
}

PhotoParametersDialog::PhotoParametersDialog(model::Project& project, HelpHandler help,
                                             QWidget* parent)
    : QDialog(parent), project_(project), help_(std::move(help)) {
  setWindowTitle("Photo parameters");
  // Modal to the main window only: the help window it opens on F1 stays usable.
  setWindowModality(Qt::WindowModal);

  auto* snapshot = new QGroupBox("Snapshot parameters");
  auto* grid = new QGridLayout(snapshot);
  focal_ = new QLineEdit("0");
  focal_->setObjectName(QString::number(kFocalId));
  SetNumberValidator(*focal_, 0, kMaxFocal_mm);
  auto* focalLabel = new QLabel("Focal");
  focalLabel->setBuddy(focal_);
  grid->addWidget(focalLabel, 0, 0);
  grid->addWidget(focal_, 0, 1);
  grid->addWidget(new QLabel("mm"), 0, 2);
  allPhotos_ = new QCheckBox("All photos");
  allPhotos_->setObjectName(QString::number(kAllPhotosId));
  allPhotos_->setToolTip("Also replace the focal length of photos that have one");
  grid->addWidget(allPhotos_, 1, 0, 1, 3);

  problem_ = new QLabel("Type a focal length from 0 to 1000 mm.");
  problem_->setObjectName("problem");
  problem_->hide();

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName(QString::number(kOkId));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  cancel->setObjectName(QString::number(kCancelId));
  connect(buttons, &QDialogButtonBox::accepted, this, &PhotoParametersDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PhotoParametersDialog::reject);
  connect(focal_, &QLineEdit::textEdited, problem_, &QWidget::hide);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(snapshot);
  layout->addWidget(problem_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(helpKey, &QShortcut::activated, this, [this] {
    if (help_) help_(kHelpTopic);
  });
  focal_->setFocus();
  focal_->selectAll();
}

void PhotoParametersDialog::accept() {
  const auto focal = NumberIn(*focal_);
  if (!focal) {
    problem_->show();
    focal_->setFocus(Qt::OtherFocusReason);
    focal_->selectAll();
    return;
  }
  changed_ = ApplyFocalLength(project_, *focal, allPhotos_->isChecked());
  QDialog::accept();
}

}  // namespace modrin::views2d
