#pragma once

#include <QBasicTimer>
#include <QCursor>
#include <QOpenGLWidget>
#include <QPoint>
#include <algorithm>
#include <vector>

#include "views3d/model_scene.h"

class QOpenGLFunctions_2_1;

namespace modrin::views3d {

// The 3D view: the textured meshes of the current objects, one texture and one display list per
// photo, with the positions that have 3D coordinates as dots and the calibrated cameras as
// pyramids, turned with the mouse and keys. It keeps its own copy of the geometry and rebuilds it
// only when told to (the frame's update pipeline); OpenGL objects are made from that copy the
// next time the view paints, so the pipeline runs the same whether or not the view is shown.
class Ogl : public QOpenGLWidget {
  Q_OBJECT

 public:
  explicit Ogl(QWidget* parent = nullptr);
  ~Ogl() override;

  // The surface every 3D view asks for: a compatibility context (display lists, interleaved
  // arrays), double-buffered RGBA with 24 colour and 16 depth bits.
  static QSurfaceFormat SurfaceFormat();

  // Drops the textures, the arrays and the display lists.
  void ReleaseGL();
  // One texture and one entry per photo of the project as it is now.
  void CreateTextures(const model::Project& project);
  // The entries' vertices from the current objects' meshes, the model's box and the turn
  // ResetView goes back to.
  void BuildArrays(const model::Project& project);
  // The display lists are compiled again from the entries at the next paint.
  void BuildDisplayLists();
  // The whole model in view with a margin, at the rotation it has. The fit is kept through
  // resizes until something moves the model.
  void FitView();
  // The whole model in view with a margin, turned back to the home turn (HomeTurn).
  void ResetView();
  // Whether the arrays last built hold a model too large for the view as last fitted.
  bool OutgrewFit() const {
    return OutgrowsFit(fittedBox_, box_, pose_, projection_.fovy, projection_.aspect);
  }
  // The depth range for the box as it stands, then an immediate redraw.
  void UpdateProjection();
  // Draws at the next turn of the event loop.
  void Render();

  bool hasContent() const { return !photoEntries_.empty(); }
  bool wireframe() const { return wireframe_; }
  void SetWireframe(bool on) { wireframe_ = on; }
  bool autoRedraw() const { return autoRedraw_; }
  void SetAutoRedraw(bool on) { autoRedraw_ = on; }
  // Which markers the next BuildArrays makes (points, cameras) and how it colours them.
  MarkerOptions& markerOptions() { return markerOptions_; }
  const SceneMarkers& markers() const { return markers_; }

  const std::vector<PhotoDrawEntry>& photoEntries() const { return photoEntries_; }
  const ModelBox& box() const { return box_; }
  const ViewPose& pose() const { return pose_; }
  const ViewPose& velocity() const { return velocity_; }
  const Projection& projection() const { return projection_; }
  bool timerRunning() const { return timer_.isActive(); }

  static constexpr float kRotSpeed = 1.5f;   // degrees per timer tick added by a key press
  static constexpr float kZoomSpeed = 0.1f;  // zDist units per pixel of shift-drag and per key
  // Degrees per pixel of drag, either way: a drag across the whole width turns the model half
  // round.
  float DragRate() const { return 180.0f / static_cast<float>(std::max(1, width())); }

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void StartTimer();
  void UploadTextures();
  void CompileDisplayLists();
  void DeleteGLObjects();
  void DrawWireframe(const PhotoDrawEntry& entry);
  void DrawMarkers();

  QOpenGLFunctions_2_1* gl_ = nullptr;  // null until the context exists
  std::vector<PhotoDrawEntry> photoEntries_;
  SceneMarkers markers_;
  MarkerOptions markerOptions_;
  std::vector<unsigned> textureNames_;  // one per entry with a texture, else 0
  unsigned listBase_ = 0;               // the first of photoEntries_.size() display lists
  int listCount_ = 0;
  bool texturesStale_ = false;
  bool listsStale_ = false;

  bool wireframe_ = false;
  bool autoRedraw_ = true;
  ModelBox box_;         // empty until the first arrays are built
  ModelBox fittedBox_;   // the box the last fit was made for
  ViewPose fittedPose_;  // the pose the last fit left
  ViewPose pose_;
  ViewPose homeTurn_;              // the rotation ResetView turns to
  ViewPose velocity_{0, 0, 0, 0};  // added to the pose on every timer tick
  bool moved_ = false;             // a drag or wheel turn moved the model since the last tick
  Projection projection_;
  QPoint lastMouse_;
  QBasicTimer timer_;
  QCursor rotateCursor_;
  QCursor zoomCursor_;
};

}  // namespace modrin::views3d
