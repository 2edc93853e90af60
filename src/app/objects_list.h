#pragma once

#include <QWidget>

namespace modrin::model {
class Project;
}

namespace modrin::app {

// The object list of the layout: the project's objects as a tree with check boxes.
// (Stub: to be completed.)
class uiObjectsList : public QWidget {
  Q_OBJECT

 public:
  explicit uiObjectsList(QWidget* parent = nullptr);

  // The project the list shows; none until the first Redisplay gives it. It outlives the list.
  void SetProject(model::Project* project) { project_ = project; }
  model::Project* project() const { return project_; }
  // Rebuilds the items from the project's objects.
  void Refill();

 signals:
  // "Redraw 2D views" for the main window.
  void redraw2DRequested();
  // "Redraw 3D view" for every 3D frame.
  void redraw3DRequested();

 private:
  model::Project* project_ = nullptr;
};

}  // namespace modrin::app
