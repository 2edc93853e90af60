#pragma once

#include <QMainWindow>
#include <cstddef>
#include <functional>
#include <set>

class QAction;
class QToolBar;

namespace modrin::model {
class Project;
}

namespace modrin::views3d {

class Ogl;

// A 3D frame of the layout: the model's view with the frame's "3D views Toolbar" above it.
// Where the platform has no OpenGL (the offscreen and minimal platforms) the frame shows a
// white pane instead of the view; its commands and the model update work the same.
class OglFrame : public QMainWindow {
  Q_OBJECT

 public:
  // What UpdateView does besides rebuilding the arrays and display lists from the meshes.
  enum UpdateFlag {
    kInitialize = 1,   // textures and entries made again from the project's photos
    kUpdateModel = 2,  // coordinates, faces and meshes recomputed
    kFit = 4,          // the model fitted into the view, turned back to its home turn
  };

  explicit OglFrame(QWidget* parent = nullptr);

  // The project whose model the frame shows; it outlives the frame.
  void SetProject(model::Project* project) { project_ = project; }
  // Tells the frame which photos the photo views show, for the highlighted cameras; asked at
  // every update.
  void SetShownPhotos(std::function<std::set<std::size_t>()> shownPhotos) {
    shownPhotos_ = std::move(shownPhotos);
  }
  model::Project* project() const { return project_; }

  // The update pipeline, then an immediate redraw.
  void UpdateView(int flags);
  // "Initialize 3d view": textures made again from the photos, the model updated and fitted.
  void InitializeView() { UpdateView(kInitialize | kUpdateModel | kFit); }
  // "Update 3D view": the model recomputed from the positions, then redrawn.
  void UpdateView() { UpdateView(kUpdateModel); }
  // "Redraw 3D view": redrawn from the meshes as they are.
  void RedrawView() { UpdateView(0); }
  // The wireframe key (Ctrl+F10): flips the wireframe, then runs the Wireframe command.
  void ToggleWireframe();

  QToolBar* toolBar() const { return toolBar_; }
  QAction* fullScreenAction() const { return fullScreen_; }
  QAction* autoRedrawAction() const { return autoRedraw_; }
  QAction* wireframeAction() const { return wireframe_; }
  QAction* pointsAction() const { return points_; }
  QAction* camerasAction() const { return cameras_; }
  // Rebuild when the photo views report a change.
  bool autoRedraw() const { return autoRedrawOn_; }
  bool wireframe() const { return wireframeOn_; }
  // The OpenGL view; null where the platform has none.
  Ogl* view() const { return view_; }

  // How many times the initialise and update steps ran (for the window's tests).
  int initializeCount() const { return initializeCount_; }
  int updateCount() const { return updateCount_; }

 private:
  void CreateToolBar();
  void OnAutoRedraw(bool checked);
  void OnWireframe(bool checked);
  void OnMarkersToggled();

  QToolBar* toolBar_ = nullptr;
  QAction* fullScreen_ = nullptr;
  QAction* autoRedraw_ = nullptr;
  QAction* wireframe_ = nullptr;
  QAction* points_ = nullptr;
  QAction* cameras_ = nullptr;
  std::function<std::set<std::size_t>()> shownPhotos_;
  Ogl* view_ = nullptr;
  model::Project* project_ = nullptr;
  bool autoRedrawOn_ = false;
  bool wireframeOn_ = false;
  int initializeCount_ = 0;
  int updateCount_ = 0;
};

}  // namespace modrin::views3d
