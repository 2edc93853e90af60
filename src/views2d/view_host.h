#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/project.h"

namespace modrin::views2d {

class Img;

// The selection and the 3D cursor, one for all photo views of the program: a position picked
// in one view is the selected position in every view.
struct SharedSelection {
  std::int32_t selectedPosition = -1;  // -1: none
  std::int32_t selectedEdge = -1;      // -1: none
  std::int32_t previousPosition = -1;  // selected before the last click
  bool dragging = false;               // the press may drag the selected position
  bool dragMoved = false;   // and the pointer went past the drag distance since: it follows
  double cursorHeight = 0;  // z of the world plane the 3D cursor lies on
  std::array<double, 3> cursor3D{0, 0, 0};

  // What a newly made view starts from; the cursor point itself stays.
  void Reset() {
    selectedPosition = selectedEdge = previousPosition = -1;
    dragging = dragMoved = false;
    cursorHeight = 0;
  }
  // The selected position follows the mouse: drawn as the marker and its rubber band only.
  bool Dragged() const { return dragging && dragMoved; }
};

// What the photo views need of the window around them. The main window implements it; tests
// implement it alone.
class ViewHost {
 public:
  virtual ~ViewHost() = default;

  virtual SharedSelection& selection() = 0;
  // Every photo view of the window, in frame order (the calling view among them).
  virtual std::vector<Img*> photoViews() const = 0;
  // An edit of the project ended: what it changed becomes one undoable step named `name`
  // ("Add Point"). An edit that changed nothing records no step.
  virtual void RecordEdit(const std::string& name) = 0;
  // The first status-bar pane (prompts) and the second (the 3D cursor's coordinates).
  virtual void ShowPrompt(const QString& text) = 0;
  virtual void ShowCoordinates(const QString& text) = 0;
  // The 3D views that redraw by themselves rebuild from the changed positions.
  virtual void Refresh3D() = 0;
  // Repaints every photo view ("Redraw 2D views").
  virtual void Redraw2DViews() = 0;
  // Opens help page `topic` ("2Dviews.html", "GettingStarted.html#ModelingStep").
  virtual void ShowHelpTopic(const QString& topic) = 0;
  // The advice of the help key in the view of photo `photo`: the project's next step. A host
  // that can ask the calibration itself may say more of why a photo cannot be calibrated.
  virtual model::StepAdvice NextStepAdvice(const model::Project& project, int photo) const {
    return project.NextStepAdvice(photo);
  }
  // A view shows another photo (or none): the 3D views highlight the cameras of the photos
  // shown.
  virtual void ShownPhotosChanged() {}
};

}  // namespace modrin::views2d
