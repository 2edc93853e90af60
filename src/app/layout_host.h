#pragma once

#include <vector>

class QWidget;

namespace modrin::app {

class cSplitView;

// What the layout tree needs of the main window: making and listing its leaf frames, and
// taking a new root node. The main window implements it; tests may implement it alone.
class LayoutHost {
 public:
  virtual ~LayoutHost() = default;

  // A new leaf frame of kind `code` ('2' 2D frame, '3' 3D frame, 'O' object list) as a child
  // of `parent`, not yet in the frame list; null for any other code.
  virtual QWidget* CreateFrame(char code, QWidget* parent) = 0;
  // Appends a frame made by CreateFrame to the frame list after what its kind needs first: a
  // 2D frame is given the project with no photo; before a 3D frame, "Initialize 3d view" goes
  // to every 3D frame already in the list; an object list is given the project and filled.
  virtual void AppendFrame(QWidget* frame) = 0;
  // Takes a frame out of the frame list (the caller destroys it).
  virtual void RemoveFrame(QWidget* frame) = 0;
  // The leaf frames in list order.
  virtual const std::vector<QWidget*>& frames() const = 0;

  // The root node of the layout (null before the first build).
  virtual cSplitView* layoutRoot() const = 0;
  // Makes `root` the root node, filling the client area, after a split or a delete at the top.
  // The previous root is not destroyed here.
  virtual void SetLayoutRoot(cSplitView* root) = 0;
};

// The layout code of a leaf frame: '2', '3' or 'O'; 0 for anything else (a node, null).
char FrameCode(const QWidget* frame);

}  // namespace modrin::app
