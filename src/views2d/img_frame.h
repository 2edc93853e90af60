#pragma once

#include <QMainWindow>
#include <optional>

class QAction;
class QComboBox;
class QToolBar;

namespace modrin::model {
class Project;
}

namespace modrin::views2d {

class Img;
class ImageSelector;
class ViewHost;

// A 2D frame of the layout: the photo view with the "2D views Toolbar" above it (Edge mode,
// General move, the zoom box, Image selector, Parameters) and the strip of photos, hidden at
// first, from which the user picks the photo the view shows.
class ImgFrame : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kEdgeModeCommand = 32824;
  static constexpr int kGeneralMoveCommand = 32876;
  static constexpr int kZoomCommand = 32877;
  static constexpr int kImageSelectorCommand = 32878;
  static constexpr int kParametersCommand = 32891;
  // Width of the photo strip, pixels.
  static constexpr int kSelectorWidth = 100;

  // The host outlives the frame.
  explicit ImgFrame(ViewHost& host, QWidget* parent = nullptr);
  ~ImgFrame() override;

  // Shows photo `photo` of `project` fitted to the view, or no photo when `photo` is negative
  // or past the last one; the view goes back to Add mode. The project outlives the frame.
  void SetProject(model::Project* project, int photo);
  model::Project* project() const { return project_; }
  int photo() const;

  Img* view() const { return view_; }
  QToolBar* toolBar() const { return toolBar_; }
  QComboBox* zoomBox() const { return zoomBox_; }
  ImageSelector* selector() const { return selector_; }
  QAction* action(int id) const;
  // Repaints the photo view at once.
  void RedrawView();

  // The zoom a text of the zoom box asks for, as SetZoom takes it: the integer at its start
  // (of its first 9 characters) in hundredths, "Full Image" as fitting (-1); none for any other
  // text.
  static std::optional<float> ZoomFromText(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateToolBar();
  void ApplyZoomText(const QString& text);
  void ToggleSelector(bool shown);
  void ShowChosenPhoto(int index);
  void OpenParameters();
  void LayoutClient();

  ViewHost& host_;
  QToolBar* toolBar_ = nullptr;
  QComboBox* zoomBox_ = nullptr;
  QWidget* client_ = nullptr;
  Img* view_ = nullptr;
  ImageSelector* selector_ = nullptr;
  model::Project* project_ = nullptr;
};

}  // namespace modrin::views2d
