#pragma once

#include <QMainWindow>

class QToolBar;

namespace modrin::model {
class Project;
}

namespace modrin::views2d {

// A 2D frame of the layout: one photo of the project with the frame's own toolbar above it.
// The photo view itself fills the client area.
class ImgFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit ImgFrame(QWidget* parent = nullptr);

  // Shows photo `photo` of `project`; no photo when `photo` is negative or not below the photo
  // count. The frame keeps a reference to the project, which outlives it.
  void SetPhoto(model::Project* project, int photo);
  model::Project* project() const { return project_; }
  int photo() const { return photo_; }

  QToolBar* toolBar() const { return toolBar_; }
  // Repaints the photo view at once.
  void RedrawView();

 private:
  QToolBar* toolBar_;
  QWidget* view_ = nullptr;
  model::Project* project_ = nullptr;
  int photo_ = -1;
};

}  // namespace modrin::views2d
