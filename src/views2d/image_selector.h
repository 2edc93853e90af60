#pragma once

#include <QBasicTimer>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QWidget>
#include <vector>

class QScrollBar;

namespace modrin::model {
class Project;
}

namespace modrin::views2d {

// The strip of the project's photos beside a photo view, one above the other at the strip's
// width, from which the user picks the photo the view shows. Offsets are in units of the
// strip's width: photo i fills the band from (photoOffsets[i] - scrollOffset) * w to
// (photoOffsets[i + 1] - scrollOffset) * w, w the strip's width in pixels.
//
// A photo whose picture is not loaded (its file was missing or could not be decoded) still
// gets a band 4 wide by 3 high, the shape of a common camera frame, filled dark with its name,
// so the user can still pick it and the photos below it keep their places.
class ImageSelector : public QWidget {
  Q_OBJECT

 public:
  explicit ImageSelector(QWidget* parent = nullptr);
  ~ImageSelector() override;

  // 100 pixels wide; the frame sets the height.
  QSize sizeHint() const override;

  // Rebuilds the offsets from the photos' pictures and scrolls to the top. The project stays
  // owned by the caller and outlives the strip; `currentPhoto` is outlined.
  void Setup(const model::Project* project, int currentPhoto);
  void SetCurrentPhoto(int index);
  // Scroll position 0, and the scroll range that lets the last photo reach the top.
  void UpdateScrollRange();

  const std::vector<float>& photoOffsets() const { return photoOffsets_; }
  float scrollOffset() const { return scrollOffset_; }
  QScrollBar* scrollBar() const { return scrollBar_; }
  // The photo whose band holds window height `y`; -1 below the last band.
  int PhotoAt(int y) const;

 signals:
  // The user picked photo `index` (click, double click, or the arrow keys); the strip has
  // outlined it already. A double click emits it twice, once for each press.
  void photoChosen(int index);
  // Escape or a double click: the strip wants to be hidden.
  void hideRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  // Width of the photo bands: the strip without its scroll bar.
  int bandWidth() const;
  void OnScrollAction(int action);
  void ScrollTo(float offset);
  const QImage& Thumbnail(int index) const;
  void Choose(int index);

  const model::Project* project_ = nullptr;
  int currentPhoto_ = -1;
  float scrollOffset_ = 0;
  std::vector<float> photoOffsets_;
  QPen outlinePen_{QColor(255, 0, 0), 3};
  QScrollBar* scrollBar_;
  QPoint lastMouse_{-1, -1};
  QBasicTimer hoverTimer_;
  // Thumbnails at the band width, made when first painted.
  mutable std::vector<QImage> thumbnails_;
};

}  // namespace modrin::views2d
