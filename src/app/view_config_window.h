#pragma once

#include <QEventLoop>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <string>

class QMenu;

namespace modrin::app {

class LayoutHost;

// The modal overlay in which the user reshapes the layout tree: a borderless window of its own
// over the current node (at opening the root), showing the views under it with its panes
// hatched, and following the mouse to the leaf frame under it.
// Dragging an edge of the overlay inwards splits the current node and puts a new photo frame
// in the part given up; keys and a context menu move the selection, delete a view or change
// its kind.
class ViewConfigWindow : public QWidget {
  Q_OBJECT

 public:
  // Command ids of the window's keys and context menu.
  static constexpr int kFirstChild = 32897;
  static constexpr int kParent = 32898;
  static constexpr int kNextSibling = 32899;
  static constexpr int kDelete = 32895;
  static constexpr int kTo2DView = 32901;
  static constexpr int kTo3DView = 32902;
  static constexpr int kToObjectList = 32903;

  // `parent` is the main window whose layout tree `host` keeps; the overlay stays above it.
  ViewConfigWindow(LayoutHost& host, QWidget* parent);
  ~ViewConfigWindow() override;

  // Shows the window over the layout root and returns when the user closes it (Escape,
  // Enter, or "Close" in the context menu).
  void Exec();
  // Shows the window without waiting, for callers that drive it themselves.
  void Open();
  void Close();

  // The node or leaf frame the window covers.
  QWidget* currentNode() const { return current_; }
  void SetCurrent(QWidget* node);

  // The layout string that splits a node of screen rectangle `node` when the overlay has
  // shrunk to `window`, the new pane being of kind `code`; empty when the overlay covers the
  // whole node. Right and bottom edges are exclusive.
  static std::string Split(const QRect& node, const QRect& window, char code);
  // Splits the current node as the overlay's rectangle `window` (screen coordinates) says.
  void SplitCurrent(const QRect& window, char code);
  void DeleteCurrent();
  void ChangeViewType(char code);
  void GoToFirstChild();
  void GoToParent();
  void GoToNextSibling();
  // The hover rule: with the cursor at `globalPos` outside the window over a leaf frame that
  // is not current, that frame becomes current. The timer applies it only after the pointer
  // has moved, so that a resting pointer never undoes a choice made with the keys.
  void HoverAt(const QPoint& globalPos);

  // The context menu "View config" as it is shown for the current node (the caller owns it).
  QMenu* CreateContextMenu(QWidget* parent);
  // Carries out command `id` of the table above.
  void RunCommand(int id);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Which edges a drag moves.
  enum Edge { kNone = 0, kLeft = 1, kRight = 2, kTop = 4, kBottom = 8 };

  // The timer's tick: the hover rule, once the pointer has moved since the last tick.
  void OnHoverTick();
  // Moves and sizes the window over the current node.
  void PlaceOverCurrent();
  // Takes the picture of the layout that the window shows under its hatch.
  void TakePicture();
  QRect GlobalRect(const QWidget* widget) const;
  int EdgesAt(const QPoint& pos) const;
  void RepaintLayout();

  LayoutHost& host_;
  QPointer<QWidget> current_;
  QTimer hoverTimer_;
  QPoint lastPointer_;  // global pointer position at the last tick (or at opening)
  QTimer pictureTimer_;
  QPixmap picture_;       // the layout root as drawn
  QPoint pictureOrigin_;  // global position of the picture's top-left corner
  QEventLoop loop_;
  bool open_ = false;
  bool menuOpen_ = false;
  int dragEdges_ = kNone;
  QPoint dragStart_;     // global position of the press
  QRect dragStartRect_;  // the window's geometry at the press
};

}  // namespace modrin::app
