#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "model/position_graph.h"
#include "views2d/view_cursors.h"
#include "views2d/view_settings.h"

namespace modrin::model {
class Photo;
class Project;
}  // namespace modrin::model

namespace modrin::views2d {

class ViewHost;
struct SharedSelection;

// The photo view: one photo of the project at a zoom factor, with the image points of the
// current objects' positions as squares coloured by their state, the edges between them, the
// optional id labels and the cursor marker. Clicks and keys edit the positions and edges; all
// photo views share one selection and one 3D cursor, so the cursor marker of the other views
// follows the mouse to where the same scene point lies in their photos.
//
// Image pixels count y from the photo's bottom row. Pixel (px, py) of a photo W x H is drawn
// at document position (trunc((px + 0.5) zoom), trunc((H - 1 - py + 0.5) zoom)), the screen
// pixel that holds its centre; a screen pixel shows, and a click there picks, the image pixel
// under the screen pixel's centre: (floor((x + scrollX + 0.5) / zoom),
// H - 1 - floor((y + scrollY + 0.5) / zoom)), clamped to the photo.
class Img : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Edit modes.
  enum Mode { kMove = 1, kAdd = 2, kDelete = 3, kSelect = 4 };
  // Commands of the view's context menu.
  static constexpr int kDeleteModeCommand = 32781;
  static constexpr int kAddModeCommand = 32782;
  static constexpr int kMoveModeCommand = 32783;
  static constexpr int kSelectModeCommand = 32845;
  static constexpr int kStereoMoveCommand = 32848;
  static constexpr int kSetRealPositionCommand = 32875;
  // Screen pixels: the picking tolerance and the repaint margin around a mark.
  static constexpr int kPickRadius = 5;
  // The keyboard and the wheel zoom past the zoom box's 500 %, up to this.
  static constexpr float kMaxFreeZoom = 64.0f;
  // Longer photo names are shortened in the middle in the pointer text.
  static constexpr int kPointerNameLength = 24;

  // Making a view starts the shared selection afresh. The host outlives the view.
  explicit Img(ViewHost& host, QWidget* parent = nullptr);
  ~Img() override;

  // The project stays owned by the caller and outlives the view.
  void SetProject(model::Project* project);
  model::Project* project() const { return project_; }
  // Shows photo `index` of the project; none when negative or past the last photo. The zoom
  // and the scroll position stay.
  void SetPhoto(int index);
  int photoIndex() const { return photoIndex_; }
  // The photo shown: photo `photoIndex()` of the project as it is now; null for none.
  const model::Photo* photo() const;

  // z > 0: that zoom, at most 5; z < 0: the whole photo fits the window; z == 0: the zoom as
  // it is. The photo point at the view's centre stays there; repaints and shows the zoom text.
  // The wheel and the zoom keys zoom about the pixel under the mouse instead.
  void SetZoom(float z);
  float zoom() const { return zoom_; }
  // The zoom as the zoom box shows it: "%3d%%" of the rounded percentage.
  QString ZoomText() const;

  const ViewSettings& settings() const { return settings_; }
  // Takes the colours, sizes and label font, rebuilds the pens and repaints at once.
  void SetSettings(const ViewSettings& settings);

  int mode() const { return mode_; }
  // The mode commands: both the mode and the mode a held mode key returns to.
  void SetMode(int mode);
  // Back to Add mode, also the mode a held mode key returns to.
  void ResetMode();
  bool edgeMode() const { return edgeMode_; }
  void SetEdgeMode(bool on);
  // Shift held, Caps Lock on or the Edge mode button: Add-mode clicks chain edges.
  bool EdgeChainingActive() const;
  // "The cursor is alive in this image": edits and the cursor marker follow into this view.
  bool cursorAlive() const { return cursorAlive_; }
  void SetCursorAlive(bool alive);

  // The image pixel under the cursor, and whether the photo is calibrated so that it has a 3D
  // point on the cursor plane.
  model::ImagePoint cursorPoint() const { return cursorPoint_; }
  bool cursor3DValid() const { return cursor3DValid_; }
  bool markerShown() const { return markerShown_; }

  // Follows the mouse at window point `point`: the cursor point, the 3D cursor on the plane at
  // the cursor height, the status text and the cursor marker of every other view.
  void TrackCursor(const QPoint& point);
  // Shows the cursor marker after the view was repainted whole.
  void DrawCursorMarker();
  // The pixel of window point `point`, clamped to the photo.
  model::ImagePoint PixelAt(const QPoint& point) const;
  // The window position of pixel `point`, clamped to the photo first.
  QPoint WindowPosition(const model::ImagePoint& point) const;
  // Picking tolerance in image pixels at the present zoom.
  int PickTolerance() const;

  // What a left click at the cursor point does when it marks the selected position in this
  // photo ("Click marks position 12 in photo3.jpg; Esc for a new position"); empty otherwise.
  QString ClickPrompt() const;
  // The status text of the pointer: the photo's name, the pixel under it (y from the bottom
  // row) and, in a calibrated photo, the 3D cursor.
  QString PointerText() const;

  // Help on this view: the advice for the next step in the status bar, and its help page.
  void HelpRequest();
  // "Set real position": asks for the selected position's real coordinates.
  void SetRealPosition();

  // Paints the view again whole, at once or at the next turn of the event loop; for every
  // change of what the view shows (the project, the photo, the settings).
  void Redraw(bool now = true);

  // The region repaint after an edit: the neighbours of the selection, the area around it,
  // and the repaint of that area alone.
  void RebuildNeighbours();
  void InvalidateAroundSelection();
  // Paints the dirty rectangle, with the areas queued before, at once.
  void RepaintRegion();
  // Marks the dirty rectangle for the next RepaintRegion without painting it yet.
  void QueueRegion();
  QRect dirtyRect() const { return dirtyRect_; }

 signals:
  // The zoom changed; `text` as ZoomText gives it.
  void zoomChanged(const QString& text);
  // The cursor shape was set; whether edge chaining is active.
  void edgeChainingShown(bool active);
  void cursorAliveChanged(bool alive);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool viewportEvent(QEvent* event) override;

 private:
  bool HasPicture() const;
  int PhotoWidth() const;
  int PhotoHeight() const;
  QPoint scrollPosition() const;
  // Document position of an image pixel.
  QPoint DocumentPosition(const model::ImagePoint& point) const;
  // The image column, and the image row counted from the top, that a document column or row
  // shows.
  int ImageColumnAt(int documentX) const;
  int ImageRowAt(int documentY) const;
  bool PhotoCalibrated(const model::Photo* photo) const;

  void RebuildPens();
  void RefreshCursor();
  void RefreshCursor(Qt::KeyboardModifiers modifiers);
  bool EdgeChainingActive(Qt::KeyboardModifiers modifiers) const;
  // Sets the zoom and scrolls so that the photo point under window point `anchor` stays
  // there; repaints and shows the zoom text.
  void ZoomAround(float zoom, const QPointF& anchor);
  // Where the wheel and the keys zoom about: the mouse over the view, else its centre.
  QPointF ZoomAnchor() const;
  // The scroll bars' ranges and steps for the zoomed photo in the present window.
  void SetScrollRanges();
  int ScrolledWidth() const;
  int ScrolledHeight() const;

  // Painting: the picture into the exposed rectangles, then the marks, then the overlay.
  void PaintBase(const QRegion& region);
  void PaintPicture(QPainter& painter, const QRegion& exposed) const;
  void PaintMarks(QPainter& painter, const QRect& exposed) const;
  // The crosses of the positions whose 3D point falls more than the settings' distance from
  // their mark in this calibrated photo, each joined to its mark.
  void PaintReprojections(QPainter& painter, const QRect& exposed) const;
  void PaintLabels(QPainter& painter, const QRect& exposed) const;
  void PaintMarker(QPainter& painter) const;
  // The window area the cursor marker covers (with the rubber band while dragging).
  QRect MarkerRect() const;
  bool ShowsRubberBand() const;

  // What the views do to each other. The "alive" forms act on this view and on every view
  // whose cursor is alive; the others on every view.
  void ToggleMarker();
  void ToggleMarkers();
  void PlaceSelected();
  void RemoveSelected();
  void MirrorCursor();
  void RebuildAllNeighbours();
  void InvalidateAllAroundSelection();
  void RepaintAllRegions();
  void QueueAllRegions();
  template <typename Action>
  void ForAliveViews(Action action);

  void ComputeCursor3D();
  // Grows the dirty rectangle by the area around the mark at `point` and, for a position id
  // (not -1), its label.
  void AddToDirtyRect(const model::ImagePoint& point, std::int32_t id);
  // Where the label of position `id` is drawn for a mark at `at`.
  QRect LabelRect(const QPoint& at, std::int32_t id) const;
  bool ShowsLabel(std::int32_t id) const;
  // Position `id` exists in a current object and has no mark in this photo.
  bool CanMarkHere(std::int32_t id) const;
  // Marks the selected position at the cursor point; with chaining, joins it to `previous`
  // when that is marked here too.
  void MarkSelectedHere(std::int32_t previous, bool chaining);
  void ClearSelection();
  // Shows ClickPrompt while the pointer is over the view; takes back the view's own prompt.
  void ShowClickPrompt();
  bool PastDragDistance(const QPoint& point) const;
  // Hands the press's edit to the host as one undoable step.
  void RecordPendingEdit();
  void StartDrag();
  void OnLeftButtonDown(const QPoint& point, Qt::KeyboardModifiers modifiers);
  void OnLeftButtonUp(const QPoint& point);
  void ShowContextMenu(const QPoint& point);
  void MultiplyZoom(float factor, const QPointF& anchor);
  void HoldMode(int mode);
  // The mouse moved in: the keys come here now.
  void TakeFocus();
  void ReleaseMode();
  void UpdateRepeatTimer();

  ViewHost& host_;
  SharedSelection& shared_;
  model::Project* project_ = nullptr;
  int photoIndex_ = -1;
  model::ImagePoint cursorPoint_;
  bool cursor3DValid_ = false;
  // Pixels of the positions joined by an edge to the selected one, ordered by x then y.
  std::set<std::pair<std::int32_t, std::int32_t>> neighbourPoints_;
  int pickRadius_ = kPickRadius;
  bool cursorAlive_ = false;
  float zoom_ = 1.0f;
  int mode_ = kAdd;
  int savedMode_ = kAdd;
  bool edgeMode_ = false;
  ViewSettings settings_;
  // Point pens of the four states and the edge pen.
  QPen currentPen_, defaultPen_, calibrationPen_, incompletePen_, edgePen_;
  ViewCursors cursors_;
  ViewCursors::Kind cursorKind_ = ViewCursors::Kind::Select;
  double heightSpeed_ = 0;
  QBasicTimer repeatTimer_;
  QFontMetrics labelMetrics_{QFont()};
  int textHeight_ = 14;
  QRect dirtyRect_;
  // The cursor marker shows once the photo was drawn whole; mouse moves repaint only the
  // areas it leaves and enters.
  bool markerShown_ = false;
  QRect shownMarkerRect_;
  // The picture with the marks at window size, and where it no longer shows the project.
  QImage base_;
  QRegion staleBase_;
  // The photo point the last zoom kept at its anchor, with the scroll position and zoom it
  // left.
  struct ZoomHold {
    QPointF anchor;
    QPointF held;
    QPoint scroll;
    float zoom;
  };
  std::optional<ZoomHold> zoomHold_;
  // Where the left button went down, to tell a click from a drag.
  QPoint pressPoint_;
  // The undo step's name of the press under way, recorded when it ends.
  std::string pendingEdit_;
  // The pointer is over the viewport, and the prompt this view put in the status bar.
  bool pointerOver_ = false;
  QString shownPrompt_;
  // Dirty areas waiting for the next RepaintRegion.
  QRegion queuedRepaint_;
  // Some reprojection cross was painted: an edit may move crosses far from the marks it
  // touches, so edits repaint the whole view while any shows.
  mutable bool crossesShown_ = false;
};

}  // namespace modrin::views2d
