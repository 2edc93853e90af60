#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace modrin::model {
class Project;
}

namespace modrin::engine {
struct RefineResult;
}

namespace modrin::app {

// The "Status" tab of the calibration dialog: the tree "Images" with one check box per photo
// (checked: the photo is to be calibrated, its `pending` flag) and an icon telling whether it
// is calibrated, beside it a note when a run would not try the photo (the reason) or its
// control points reproject far worse than the other photos' ("check its marks: 4.7 px"), and
// the "Refine poses" option of the run, and "Refine all", the joint refinement of every
// calibrated pose and every point, with a line on what it did.
class ImagesPage : public QWidget {
  Q_OBJECT

 public:
  // The project outlives the page.
  explicit ImagesPage(model::Project& project, QWidget* parent = nullptr);

  // Check boxes from the photos' `pending`, icons from `calibrated`, the notes from the
  // project as it is.
  void Refresh();
  // The photos' `pending` from the check boxes.
  void Apply();

  // Whether the run ends each solve with the least-squares polish.
  bool refinePoses() const;

  QTreeWidget* tree() const { return tree_; }
  QTreeWidgetItem* root() const { return root_; }
  QCheckBox* refinePosesBox() const { return refinePoses_; }
  QPushButton* refineAllButton() const { return refineAll_; }
  QLabel* refinementText() const { return refinement_; }
  // What the last "Refine all" did, or why it did not run, below the tree.
  void ShowRefinement(const engine::RefineResult& result);

 protected:
  void showEvent(QShowEvent* event) override;
  // Check boxes ticked on this page count when the other page starts a run.
  void hideEvent(QHideEvent* event) override;

 private:
  void OnItemChanged(QTreeWidgetItem* item, int column);
  // The root's box follows the photos' boxes.
  void ShowRootState();

  model::Project& project_;
  QTreeWidget* tree_;
  QTreeWidgetItem* root_;
  QCheckBox* refinePoses_;
  QPushButton* refineAll_;
  QLabel* refinement_;
};

}  // namespace modrin::app
