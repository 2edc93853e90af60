#pragma once

#include <QMainWindow>

class QLabel;
class QToolBar;

namespace modrin::model {
class Project;
}

namespace modrin::views3d {

// A 3D frame of the layout: the model's view with the frame's "3D views Toolbar" above it.
class OglFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit OglFrame(QWidget* parent = nullptr);

  // The project whose model the frame shows; it outlives the frame.
  void SetProject(model::Project* project) { project_ = project; }
  model::Project* project() const { return project_; }

  QToolBar* toolBar() const { return toolBar_; }
  // Rebuild when the 2D views report a change.
  bool autoRedraw() const { return autoRedraw_; }

  // "Initialize 3d view": textures made again from the photos, then an update.
  void InitializeView();
  // "Update 3D view": the model recomputed from the positions, then redrawn.
  void UpdateView();
  // "Redraw 3D view": redrawn from what the view holds.
  void RedrawView();
  // The wireframe key (Ctrl+F10): flips between faces and edges, then updates.
  void ToggleWireframe();
  bool wireframe() const { return wireframe_; }

  // How many times each command reached the frame (the view counts them until it draws).
  int initializeCount() const { return initializeCount_; }
  int updateCount() const { return updateCount_; }

 private:
  QToolBar* toolBar_;
  QLabel* view_;
  model::Project* project_ = nullptr;
  bool autoRedraw_ = true;
  bool wireframe_ = false;
  int initializeCount_ = 0;
  int updateCount_ = 0;
};

}  // namespace modrin::views3d
