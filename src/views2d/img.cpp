#include "views2d/img.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "engine/geometry/camera.h"
#include "engine/geometry/camera_record.h"
#include "model/photo.h"
#include "model/project.h"
#include "model/project_document.h"
#include "views2d/caps_lock.h"
#include "views2d/real_position_dialog.h"
#include "views2d/view_host.h"

namespace modrin::views2d {

namespace {

using model::ImagePoint;

constexpr int kRepeatPeriodMs = 5;
constexpr double kHeightStep = 0.001;

int TruncToInt(double value) {
  if (!(value > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  if (!(value < std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  return static_cast<int>(value);
}

int FloorToInt(double value) { return TruncToInt(std::floor(value)); }

ImagePoint ClampToPhoto(ImagePoint point, const model::Photo& photo) {
  const images::DecodedImage& image = photo.image();
  point.x = std::clamp(point.x, 0, image.width - 1);
  point.y = std::clamp(point.y, 0, image.height - 1);
  return point;
}

// The scroll position that shows photo point `held` (image pixels from the photo's top or
// left edge) at window point `anchor` at `zoom`. Of the positions nearest to it, one that keeps
// the same image pixel under the anchor is taken: there is one whenever a pixel is at least a
// screen pixel wide.
int ScrollKeeping(double held, double anchor, double zoom) {
  double scroll = std::round(held * zoom - anchor);
  const double pixel = std::floor(held);
  const double lowest = std::ceil(pixel * zoom - anchor);
  const double highest = std::ceil((pixel + 1) * zoom - anchor) - 1;
  if (lowest <= highest) scroll = std::clamp(scroll, lowest, highest);
  return TruncToInt(scroll);
}

// A square of half side `half` around `centre`, as the painter's outline of it covers.
QRect SquareAround(const QPoint& centre, int half) {
  return QRect(centre.x() - half, centre.y() - half, 2 * half + 1, 2 * half + 1);
}

}  // namespace

Img::Img(ViewHost& host, QWidget* parent)
    : QAbstractScrollArea(parent), host_(host), shared_(host.selection()) {
  setObjectName("Img");
  setFrameShape(QFrame::StyledPanel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  // Every pixel of the viewport is painted, picture or background, so Qt need not clear it
  // first: a region repaint after an edit does not flicker.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  shared_.Reset();
  RebuildPens();
  RefreshCursor();
}

Img::~Img() = default;

// State

void Img::SetProject(model::Project* project) {
  project_ = project;
  if (project == nullptr) SetPhoto(-1);
}

void Img::SetPhoto(int index) {
  const bool inRange = project_ != nullptr && index >= 0 &&
                       static_cast<std::size_t>(index) < project_->photos.size();
  const bool changed = photoIndex_ != (inRange ? index : -1);
  photoIndex_ = inRange ? index : -1;
  if (changed) host_.ShownPhotosChanged();
  markerShown_ = false;
  zoomHold_.reset();
  if (HasPicture()) cursorPoint_ = ClampToPhoto(cursorPoint_, *photo());
  SetScrollRanges();
  Redraw(false);
}

// Looked up on every use: opening a project replaces the photos, and the views are given
// their photos again only after the new pictures have loaded, while they may paint meanwhile.
const model::Photo* Img::photo() const {
  if (project_ == nullptr || photoIndex_ < 0 ||
      static_cast<std::size_t>(photoIndex_) >= project_->photos.size()) {
    return nullptr;
  }
  return project_->photos[static_cast<std::size_t>(photoIndex_)].get();
}

bool Img::HasPicture() const {
  const model::Photo* shown = photo();
  return shown != nullptr && shown->HasImage();
}

int Img::PhotoWidth() const { return HasPicture() ? photo()->image().width : 0; }
int Img::PhotoHeight() const { return HasPicture() ? photo()->image().height : 0; }

QPoint Img::scrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

bool Img::PhotoCalibrated(const model::Photo* photo) const {
  return photo != nullptr && photo->HasImage() && photo->camera.calibrated &&
         photo->camera.cameraEntry != nullptr;
}

void Img::SetSettings(const ViewSettings& settings) {
  settings_ = settings;
  RebuildPens();
  Redraw();
}

void Img::RebuildPens() {
  auto pen = [](const QColor& colour, int width) {
    QPen made(colour, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    // Width 1 is the thinnest line at every zoom, as a cosmetic pen draws it.
    made.setCosmetic(true);
    return made;
  };
  currentPen_ = pen(settings_.currentColour, settings_.pointWidth);
  defaultPen_ = pen(settings_.defaultColour, settings_.pointWidth);
  calibrationPen_ = pen(settings_.calibrationColour, settings_.pointWidth);
  incompletePen_ = pen(settings_.incompleteColour, settings_.pointWidth);
  edgePen_ = pen(settings_.defaultColour, settings_.edgeWidth);
  labelMetrics_ = QFontMetrics(settings_.labelFont);
  textHeight_ = labelMetrics_.height();
}

void Img::SetMode(int mode) {
  mode_ = savedMode_ = mode;
  RefreshCursor();
}

void Img::ResetMode() { SetMode(kAdd); }

void Img::SetEdgeMode(bool on) {
  edgeMode_ = on;
  RefreshCursor();
}

bool Img::EdgeChainingActive() const {
  return EdgeChainingActive(QGuiApplication::keyboardModifiers());
}

bool Img::EdgeChainingActive(Qt::KeyboardModifiers modifiers) const {
  return edgeMode_ || modifiers.testFlag(Qt::ShiftModifier) || CapsLockOn();
}

void Img::SetCursorAlive(bool alive) {
  cursorAlive_ = alive;
  emit cursorAliveChanged(alive);
}

void Img::RefreshCursor() { RefreshCursor(QGuiApplication::keyboardModifiers()); }

void Img::RefreshCursor(Qt::KeyboardModifiers modifiers) {
  ViewCursors::Kind kind = ViewCursors::Kind::Select;
  const bool chaining = EdgeChainingActive(modifiers);
  switch (mode_) {
    case kAdd:
      kind = chaining ? ViewCursors::Kind::AddEdge : ViewCursors::Kind::Add;
      break;
    case kDelete:
      kind = ViewCursors::Kind::Delete;
      break;
    case kMove:
      kind = ViewCursors::Kind::Move;
      break;
    default:
      break;
  }
  if (kind != cursorKind_ || viewport()->cursor().shape() != Qt::BitmapCursor) {
    cursorKind_ = kind;
    viewport()->setCursor(cursors_.cursor(kind));
  }
  emit edgeChainingShown(chaining);
  // A held mode key changes what the next click does.
  ShowClickPrompt();
}

// Coordinates

// Window and document points are the top-left corners of screen pixels; a screen pixel shows
// the image pixel under its centre. A mark is drawn on the screen pixel that holds its image
// pixel's centre, so drawing, picking and the picture agree at every zoom.

QPoint Img::DocumentPosition(const ImagePoint& point) const {
  const double zoom = zoom_;
  return {TruncToInt((point.x + 0.5) * zoom),
          TruncToInt((PhotoHeight() - 1 - point.y + 0.5) * zoom)};
}

QPoint Img::WindowPosition(const ImagePoint& point) const {
  if (!HasPicture()) return {};
  return DocumentPosition(ClampToPhoto(point, *photo())) - scrollPosition();
}

int Img::ImageColumnAt(int documentX) const {
  return std::clamp(FloorToInt((documentX + 0.5) / static_cast<double>(zoom_)), 0,
                    PhotoWidth() - 1);
}

int Img::ImageRowAt(int documentY) const {
  return std::clamp(FloorToInt((documentY + 0.5) / static_cast<double>(zoom_)), 0,
                    PhotoHeight() - 1);
}

ImagePoint Img::PixelAt(const QPoint& point) const {
  if (!HasPicture()) return {};
  const QPoint document = point + scrollPosition();
  // Rows count from the top on the screen and from the bottom in the photo.
  return {ImageColumnAt(document.x()), PhotoHeight() - 1 - ImageRowAt(document.y())};
}

int Img::PickTolerance() const { return TruncToInt(pickRadius_ / static_cast<double>(zoom_)); }

// Zoom and scrolling

void Img::SetZoom(float z) {
  if (!HasPicture()) return;
  float zoom = zoom_;
  if (z > 5.0f) {
    zoom = 5.0f;
  } else if (z > 0) {
    zoom = z;
  } else if (z < 0) {
    const QSize client = viewport()->size();
    const double across = static_cast<double>(client.width()) / PhotoWidth();
    const double down = static_cast<double>(client.height()) / PhotoHeight();
    zoom = static_cast<float>(across < down ? across : down);
    if (zoom <= 0) zoom = 1.0f;
  }
  ZoomAround(zoom, QRectF(viewport()->rect()).center());
}

void Img::ZoomAround(float zoom, const QPointF& anchor) {
  // The photo point under the anchor, in image pixels from the top-left corner, stays there.
  // While the photo is smaller than the window it cannot scroll to keep it; a zoom that
  // follows at the same anchor, nothing scrolled in between, keeps the point the first one
  // held, so that it comes back under the mouse once the photo is large enough.
  const bool sameZoom = zoomHold_ && zoomHold_->anchor == anchor &&
                        zoomHold_->scroll == scrollPosition() && zoomHold_->zoom == zoom_;
  const QPointF held = sameZoom ? zoomHold_->held
                                : (anchor + QPointF(scrollPosition())) / static_cast<double>(zoom_);
  zoom_ = zoom;
  SetScrollRanges();
  horizontalScrollBar()->setValue(ScrollKeeping(held.x(), anchor.x(), zoom_));
  verticalScrollBar()->setValue(ScrollKeeping(held.y(), anchor.y(), zoom_));
  zoomHold_ = ZoomHold{anchor, held, scrollPosition(), zoom_};
  Redraw();
  DrawCursorMarker();
  emit zoomChanged(ZoomText());
}

QString Img::ZoomText() const {
  return QString::asprintf("%3d%%", TruncToInt(zoom_ * 100.0 + 0.5));
}

QPointF Img::ZoomAnchor() const {
  // The pixel under the mouse stays under it; with the mouse elsewhere, the view's centre.
  const QPoint mouse = viewport()->mapFromGlobal(QCursor::pos());
  if (viewport()->rect().contains(mouse)) return QPointF(mouse) + QPointF(0.5, 0.5);
  return QRectF(viewport()->rect()).center();
}

void Img::MultiplyZoom(float factor, const QPointF& anchor) {
  if (!HasPicture()) return;
  const int longest = std::max(PhotoWidth(), PhotoHeight());
  // Past these the photo would be less than a pixel, or its scrolled size no longer a number
  // of pixels the window system can scroll.
  const float smallest = 1.0f / static_cast<float>(longest);
  ZoomAround(std::clamp(zoom_ * factor, smallest, kMaxFreeZoom), anchor);
}

void Img::SetScrollRanges() {
  QScrollBar* across = horizontalScrollBar();
  QScrollBar* down = verticalScrollBar();
  if (!HasPicture()) {
    across->setRange(0, 0);
    down->setRange(0, 0);
    return;
  }
  const QSize client = viewport()->size();
  across->setRange(0, std::max(0, ScrolledWidth() - client.width()));
  down->setRange(0, std::max(0, ScrolledHeight() - client.height()));
  across->setPageStep(client.width());
  down->setPageStep(client.height());
  across->setSingleStep(std::max(1, client.width() / 20));
  down->setSingleStep(std::max(1, client.height() / 20));
}

int Img::ScrolledWidth() const { return TruncToInt(PhotoWidth() * static_cast<double>(zoom_)); }
int Img::ScrolledHeight() const { return TruncToInt(PhotoHeight() * static_cast<double>(zoom_)); }

void Img::scrollContentsBy(int, int) {
  // The marker stands at its window position, which scrolling moves.
  shownMarkerRect_ = MarkerRect();
  Redraw(false);
}

void Img::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  SetScrollRanges();
}

void Img::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  RefreshCursor();
}

// Painting

void Img::Redraw(bool now) {
  staleBase_ = viewport()->rect();
  if (now) {
    viewport()->repaint();
  } else {
    viewport()->update();
  }
}

void Img::paintEvent(QPaintEvent* event) {
  // The picture and the marks are kept in a window-sized layer and drawn into it again only
  // where they changed; the marker is painted over the layer. A mouse move thus copies the
  // few pixels the marker leaves and enters.
  if (base_.size() != viewport()->size()) {
    base_ = QImage(viewport()->size(), QImage::Format_RGB32);
    staleBase_ = viewport()->rect();
  }
  const QRegion stale = staleBase_.intersected(event->region());
  if (!stale.isEmpty()) {
    PaintBase(stale);
    staleBase_ -= stale;
  }
  QPainter painter(viewport());
  for (const QRect& rect : event->region()) painter.drawImage(rect.topLeft(), base_, rect);
  PaintMarker(painter);
}

void Img::PaintBase(const QRegion& region) {
  QPainter painter(&base_);
  painter.setClipRegion(region);
  PaintPicture(painter, region);
  if (!HasPicture()) return;
  const QPoint scroll = scrollPosition();
  painter.translate(-scroll);
  const QRect exposed = region.boundingRect().translated(scroll);
  PaintMarks(painter, exposed);
  PaintReprojections(painter, exposed);
  PaintLabels(painter, exposed);
}

void Img::PaintPicture(QPainter& painter, const QRegion& exposed) const {
  const QColor background = palette().color(QPalette::Dark);
  if (!HasPicture()) {
    painter.fillRect(exposed.boundingRect(), background);
    if (photo() != nullptr) {
      painter.setPen(palette().color(QPalette::BrightText));
      painter.drawText(viewport()->rect(), Qt::AlignCenter,
                       QString::fromStdString(model::FileNamePart(photo()->path)));
    }
    return;
  }
  const images::DecodedImage& image = photo()->image();
  const QPoint scroll = scrollPosition();
  const int sizeX = ScrolledWidth();
  const int sizeY = ScrolledHeight();
  const QRect picture = QRect(0, 0, sizeX, sizeY).translated(-scroll);
  for (const QRect& rect : exposed) {
    // Outside the picture: the background.
    const QRegion outside = QRegion(rect).subtracted(picture);
    for (const QRect& part : outside) painter.fillRect(part, background);
    const QRect target = rect.intersected(picture);
    if (target.isEmpty()) continue;
    // Nearest-pixel stretch of only the exposed part: each screen pixel shows the image pixel
    // under its centre, the one a click there picks.
    QImage buffer(target.size(), QImage::Format_RGB32);
    const int left = target.left() + scroll.x();
    const int top = target.top() + scroll.y();
    std::vector<int> columns(static_cast<std::size_t>(target.width()));
    for (int i = 0; i < target.width(); ++i) {
      columns[static_cast<std::size_t>(i)] = ImageColumnAt(left + i) * 3;
    }
    for (int j = 0; j < target.height(); ++j) {
      const int row = ImageRowAt(top + j);
      const std::uint8_t* source =
          image.pixels.data() + static_cast<std::size_t>(row) * image.stride();
      auto* out = reinterpret_cast<QRgb*>(buffer.scanLine(j));
      for (int i = 0; i < target.width(); ++i) {
        const std::uint8_t* pixel = source + columns[static_cast<std::size_t>(i)];
        out[i] = qRgb(pixel[0], pixel[1], pixel[2]);
      }
    }
    painter.drawImage(target.topLeft(), buffer);
  }
}

void Img::PaintMarks(QPainter& painter, const QRect& exposed) const {
  const model::PositionGraph& graph = project_->graph;
  const int s = settings_.pointSize;
  // Marks wholly outside the exposed area are skipped; the margin covers the pen.
  const QRect reach = exposed.adjusted(-s - settings_.pointWidth - 1, -s - settings_.pointWidth - 1,
                                       s + settings_.pointWidth + 1, s + settings_.pointWidth + 1);
  std::vector<QLine> edges;
  for (const auto& object : project_->objects) {
    if (!object->current) continue;
    for (std::int32_t id : object->positionIds) {
      if (id == shared_.selectedPosition && shared_.Dragged()) continue;
      ImagePoint point;
      if (!graph.GetImagePoint(id, photoIndex_, point)) continue;
      const QPoint at = DocumentPosition(point);
      if (!reach.contains(at)) continue;
      if (id == shared_.selectedPosition) {
        painter.setPen(currentPen_);
      } else if (graph.IsReal(id)) {
        painter.setPen(calibrationPen_);
      } else if (!graph.IsKnown(id)) {
        painter.setPen(incompletePen_);
      } else {
        painter.setPen(defaultPen_);
      }
      const QPoint corners[] = {{at.x() - s, at.y() - s},
                                {at.x() - s, at.y() + s},
                                {at.x() + s, at.y() + s},
                                {at.x() + s, at.y() - s},
                                {at.x() - s, at.y() - s}};
      painter.drawPolyline(corners, 5);
    }
    // An edge is drawn once per current object that holds both of its ends.
    edges.clear();
    for (const auto& [id, edge] : graph.edges) {
      if (shared_.Dragged() &&
          (edge.first == shared_.selectedPosition || edge.second == shared_.selectedPosition)) {
        continue;
      }
      if (!object->Contains(edge.first) || !object->Contains(edge.second)) continue;
      ImagePoint first, second;
      if (!graph.GetImagePoint(edge.first, photoIndex_, first) ||
          !graph.GetImagePoint(edge.second, photoIndex_, second)) {
        continue;
      }
      const QLine line(DocumentPosition(first), DocumentPosition(second));
      if (!QRect(line.p1(), line.p2()).normalized().adjusted(-2, -2, 2, 2).intersects(exposed)) {
        continue;
      }
      edges.push_back(line);
    }
    painter.setPen(edgePen_);
    painter.drawLines(edges.data(), static_cast<int>(edges.size()));
  }
}

void Img::PaintReprojections(QPainter& painter, const QRect& exposed) const {
  const bool whole = exposed.contains(QRect(scrollPosition(), viewport()->size()));
  if (whole) crossesShown_ = false;
  if (!settings_.showReprojections || !PhotoCalibrated(photo())) return;
  const model::PositionGraph& graph = project_->graph;
  const model::Photo& shown = *photo();
  const engine::Rotation rotation = engine::CameraRotation(shown.camera.orientation);
  constexpr int kArm = 4;  // screen pixels
  painter.setPen(QPen(settings_.reprojectionColour, 1));
  for (const auto& [id, position] : graph.positions) {
    if (id == shared_.selectedPosition && shared_.Dragged()) continue;
    ImagePoint mark;
    model::PositionGraph::Coords xyz;
    if (!graph.GetImagePoint(id, photoIndex_, mark) || !graph.GetCoords(id, xyz) ||
        !project_->IsInCurrentObject(id)) {
      continue;
    }
    const engine::ImageProjection seen =
        engine::WorldToImage(shown.camera, rotation, {xyz[0], xyz[1], xyz[2]});
    if (!seen.inFront || !std::isfinite(seen.image.x) || !std::isfinite(seen.image.y)) continue;
    // In photo pixels, as the marks are; far outside the photo there is nothing to show.
    const double x = shown.image().width * (seen.image.x + 0.5);
    const double y = shown.image().height * (seen.image.y + 0.5);
    if (std::hypot(x - mark.x, y - mark.y) <= ViewSettings::kReprojectionShown_px ||
        std::abs(x) > 1e6 || std::abs(y) > 1e6) {
      continue;
    }
    const QPoint from = DocumentPosition(mark);
    const QPoint at = DocumentPosition(
        {static_cast<std::int32_t>(std::floor(x)), static_cast<std::int32_t>(std::floor(y))});
    crossesShown_ = true;
    if (!QRect(from, at).normalized().adjusted(-kArm, -kArm, kArm, kArm).intersects(exposed)) {
      continue;
    }
    painter.drawLine(from, at);
    painter.drawLine(at + QPoint(-kArm, -kArm), at + QPoint(kArm, kArm));
    painter.drawLine(at + QPoint(-kArm, kArm), at + QPoint(kArm, -kArm));
  }
}

void Img::PaintLabels(QPainter& painter, const QRect& exposed) const {
  const model::PositionGraph& graph = project_->graph;
  painter.setPen(settings_.labelColour);
  painter.setFont(settings_.labelFont);
  for (const auto& object : project_->objects) {
    if (!object->current) continue;
    for (std::int32_t id : object->positionIds) {
      if (!ShowsLabel(id) || (id == shared_.selectedPosition && shared_.Dragged())) continue;
      ImagePoint point;
      if (!graph.GetImagePoint(id, photoIndex_, point)) continue;
      const QRect box = LabelRect(DocumentPosition(point), id);
      if (!box.intersects(exposed)) continue;
      painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                       QString::asprintf("%d", id));
    }
  }
}

QRect Img::MarkerRect() const {
  if (!HasPicture()) return {};
  const int margin = settings_.pointSize + settings_.pointWidth + 1;
  const QPoint at = WindowPosition(cursorPoint_);
  QRect area = SquareAround(at, margin);
  if (ShowsRubberBand()) {
    for (const auto& [x, y] : neighbourPoints_) {
      const QPoint from = WindowPosition({x, y});
      area |= QRect(from, at).normalized().adjusted(-margin, -margin, margin, margin);
    }
  }
  return area;
}

void Img::PaintMarker(QPainter& painter) const {
  if (!markerShown_) return;
  painter.setPen(currentPen_);
  const QPoint at = WindowPosition(cursorPoint_);
  if (ShowsRubberBand()) {
    for (const auto& [x, y] : neighbourPoints_) painter.drawLine(WindowPosition({x, y}), at);
  }
  const int s = settings_.pointSize;
  const QPoint corners[] = {{at.x() - s, at.y() - s},
                            {at.x() - s, at.y() + s},
                            {at.x() + s, at.y() + s},
                            {at.x() + s, at.y() - s},
                            {at.x() - s, at.y() - s}};
  painter.drawPolyline(corners, 5);
}

// The cursor marker is an overlay painted last, always at the view's cursor point: where the
// marker would be erased and drawn again, here it only repaints the area it leaves and the
// area it enters.

bool Img::ShowsRubberBand() const {
  // The edges to the dragged position's neighbours follow the mouse in the view dragged in
  // and in the views the position follows into.
  return shared_.Dragged() && (hasFocus() || cursorAlive_);
}

void Img::ToggleMarker() {
  if (!HasPicture() || !markerShown_) return;
  const QRect area = MarkerRect();
  // Two rectangles, not the one around both: a far jump repaints no more than a short one.
  viewport()->update(QRegion(area) + shownMarkerRect_);
  shownMarkerRect_ = area;
}

void Img::DrawCursorMarker() {
  if (!HasPicture()) return;
  markerShown_ = true;
  ToggleMarker();
}

// Broadcasts

template <typename Action>
void Img::ForAliveViews(Action action) {
  for (Img* view : host_.photoViews()) {
    if (view == this || view->cursorAlive_) action(*view);
  }
}

void Img::ToggleMarkers() {
  ForAliveViews([](Img& view) { view.ToggleMarker(); });
}

void Img::PlaceSelected() {
  if (project_ == nullptr || shared_.selectedPosition < 0) return;
  ForAliveViews([&](Img& view) {
    if (view.project_ == project_ && view.HasPicture()) {
      project_->MoveImagePoint(shared_.selectedPosition, view.photoIndex_, view.cursorPoint_);
    }
  });
  project_->graph.ComputePosition(shared_.selectedPosition);
}

void Img::RemoveSelected() {
  if (project_ == nullptr || shared_.selectedPosition < 0) return;
  ForAliveViews([&](Img& view) {
    if (view.project_ == project_ && view.HasPicture()) {
      project_->RemoveImagePoint(shared_.selectedPosition, view.photoIndex_);
    }
  });
}

void Img::MirrorCursor() {
  for (Img* view : host_.photoViews()) {
    if (view == this || !view->HasPicture()) continue;
    ImagePoint point = cursorPoint_;
    if (cursor3DValid_ && PhotoCalibrated(view->photo())) {
      const engine::ImageProjection projected = engine::WorldToImage(
          view->photo()->camera, {shared_.cursor3D[0], shared_.cursor3D[1], shared_.cursor3D[2]});
      if (std::isfinite(projected.image.x) && std::isfinite(projected.image.y)) {
        model::NormalizedToPixel(*view->photo(), std::clamp(projected.image.x, -1e6, 1e6),
                                 std::clamp(projected.image.y, -1e6, 1e6), point.x, point.y);
      }
    }
    const ImagePoint mirrored = ClampToPhoto(point, *view->photo());
    if (mirrored == view->cursorPoint_) continue;
    view->cursorPoint_ = mirrored;
    // The marker follows to its new place.
    view->ToggleMarker();
  }
}

void Img::RebuildAllNeighbours() {
  for (Img* view : host_.photoViews()) view->RebuildNeighbours();
}

void Img::InvalidateAllAroundSelection() {
  for (Img* view : host_.photoViews()) view->InvalidateAroundSelection();
}

void Img::RepaintAllRegions() {
  for (Img* view : host_.photoViews()) view->RepaintRegion();
}

void Img::QueueAllRegions() {
  for (Img* view : host_.photoViews()) view->QueueRegion();
}

void Img::RebuildNeighbours() {
  neighbourPoints_.clear();
  if (project_ == nullptr || !HasPicture() || shared_.selectedPosition == -1) return;
  const model::PositionGraph& graph = project_->graph;
  auto add = [&](std::int32_t id) {
    ImagePoint point;
    if (project_->IsInCurrentObject(id) && graph.GetImagePoint(id, photoIndex_, point)) {
      neighbourPoints_.insert({point.x, point.y});
    }
  };
  for (const auto& [id, edge] : graph.edges) {
    if (edge.first == shared_.selectedPosition) add(edge.second);
    if (edge.second == shared_.selectedPosition) add(edge.first);
  }
}

void Img::AddToDirtyRect(const ImagePoint& point, std::int32_t id) {
  const int margin = pickRadius_ + settings_.pointSize + textHeight_;
  const QPoint at = WindowPosition(point);
  QRect area = SquareAround(at, margin);
  // A label starts at the point and may be wider than the margin.
  if (id >= 0 && ShowsLabel(id)) area |= LabelRect(at, id).adjusted(-1, -1, 1, 1);
  dirtyRect_ = dirtyRect_.isNull() ? area : dirtyRect_.united(area);
}

bool Img::ShowsLabel(std::int32_t id) const {
  // The selected position's id shows in every view that marks it, so the views' prompt
  // ("Click marks position 12 ...") can be matched to a mark.
  return settings_.showIds || id == shared_.selectedPosition;
}

QRect Img::LabelRect(const QPoint& at, std::int32_t id) const {
  return QRect(at, labelMetrics_.size(Qt::TextSingleLine, QString::asprintf("%d", id)));
}

void Img::InvalidateAroundSelection() {
  dirtyRect_ = QRect();
  if (project_ == nullptr || !HasPicture()) return;
  const model::PositionGraph& graph = project_->graph;
  ImagePoint point;
  if (graph.GetImagePoint(shared_.selectedPosition, photoIndex_, point)) {
    AddToDirtyRect(point, shared_.selectedPosition);
  }
  std::int32_t first = 0, second = 0;
  ImagePoint a, b;
  if (graph.GetEdge(shared_.selectedEdge, first, second) &&
      graph.GetImagePoint(first, photoIndex_, a) && graph.GetImagePoint(second, photoIndex_, b)) {
    AddToDirtyRect(a, first);
    AddToDirtyRect(b, second);
  }
  // The neighbours' marks and labels stay; only the edges to them change.
  for (const auto& [x, y] : neighbourPoints_) AddToDirtyRect({x, y}, -1);
}

void Img::RepaintRegion() {
  QueueRegion();
  if (queuedRepaint_.isEmpty()) return;
  const QRegion area = std::exchange(queuedRepaint_, QRegion());
  viewport()->repaint(area);
}

void Img::QueueRegion() {
  if (!HasPicture() || dirtyRect_.isNull()) return;
  const QRect area =
      crossesShown_ ? viewport()->rect() : dirtyRect_.intersected(viewport()->rect());
  staleBase_ += area;
  queuedRepaint_ += area;
}

// The cursor

void Img::ComputeCursor3D() {
  cursor3DValid_ = false;
  if (!PhotoCalibrated(photo())) return;
  const engine::Vec2 normalized =
      model::PixelToNormalized(*photo(), cursorPoint_.x, cursorPoint_.y);
  const std::optional<engine::Vec3> onPlane =
      engine::RayAtHeight(photo()->camera, normalized.x, normalized.y, shared_.cursorHeight);
  if (!onPlane) return;
  cursor3DValid_ = true;
  shared_.cursor3D = {onPlane->x, onPlane->y, shared_.cursorHeight};
}

void Img::TrackCursor(const QPoint& point) {
  if (project_ == nullptr || !HasPicture()) return;
  // The marker's old place is repainted when it moves (ToggleMarker repaints the area it
  // leaves and the one it enters), so it needs no erasing first.
  cursorPoint_ = PixelAt(point);
  ComputeCursor3D();
  MirrorCursor();
  host_.ShowCoordinates(PointerText());
  ToggleMarkers();
}

QString Img::PointerText() const {
  if (!HasPicture()) return {};
  QString name = QString::fromStdString(model::FileNamePart(photo()->path));
  if (name.size() > kPointerNameLength) {
    const qsizetype tail = kPointerNameLength / 2;
    name = name.left(kPointerNameLength - tail - 1) + QChar(0x2026) + name.right(tail);
  }
  QString text =
      QString::asprintf("%s  x %d  y %d", qUtf8Printable(name), cursorPoint_.x, cursorPoint_.y);
  if (cursor3DValid_) {
    text += QString::asprintf("   %9.3f, %9.3f, %9.3f", shared_.cursor3D[0], shared_.cursor3D[1],
                              shared_.cursor3D[2]);
  }
  return text;
}

// What a click does

bool Img::CanMarkHere(std::int32_t id) const {
  if (project_ == nullptr || !HasPicture() || id < 0) return false;
  ImagePoint point;
  return project_->graph.positions.contains(id) && project_->IsInCurrentObject(id) &&
         !project_->graph.GetImagePoint(id, photoIndex_, point);
}

QString Img::ClickPrompt() const {
  if (mode_ != kAdd || !CanMarkHere(shared_.selectedPosition)) return {};
  // A click on another position's mark selects that one instead.
  std::int32_t hit = -1;
  if (project_->FindPositionInCurrentObject(photoIndex_, PickTolerance(), cursorPoint_, hit)) {
    return {};
  }
  return QString::asprintf("Click marks position %d in %s; Esc for a new position",
                           shared_.selectedPosition, model::FileNamePart(photo()->path).c_str());
}

void Img::ShowClickPrompt() {
  const QString text = pointerOver_ ? ClickPrompt() : QString();
  // Only a prompt of the view's own is taken back, and only when it changes.
  if (text == shownPrompt_) return;
  shownPrompt_ = text;
  host_.ShowPrompt(text);
}

void Img::MarkSelectedHere(std::int32_t previous, bool chaining) {
  const std::int32_t id = shared_.selectedPosition;
  project_->MoveImagePoint(id, photoIndex_, cursorPoint_);
  project_->graph.ComputePosition(id);
  // The position selected before this one stays the start of the next chained edge.
  shared_.previousPosition = previous;
  ImagePoint point;
  if (chaining && previous >= 0 && previous != id && project_->IsInCurrentObject(previous) &&
      project_->graph.GetImagePoint(previous, photoIndex_, point)) {
    shared_.selectedEdge = project_->AddEdge(previous, id);
  }
}

void Img::ClearSelection() {
  InvalidateAllAroundSelection();
  QueueAllRegions();
  shared_.selectedPosition = shared_.selectedEdge = shared_.previousPosition = -1;
  shared_.dragging = shared_.dragMoved = false;
  RebuildAllNeighbours();
  RepaintAllRegions();
  ToggleMarkers();
  ShowClickPrompt();
}

// Mouse

bool Img::viewportEvent(QEvent* event) {
  // The context menu comes from the right button press itself.
  if (event->type() == QEvent::ContextMenu) return true;
  const bool handled = QAbstractScrollArea::viewportEvent(event);
  // The prompt of what a click here would do goes with the pointer.
  if (event->type() == QEvent::Leave) {
    pointerOver_ = false;
    ShowClickPrompt();
  }
  return handled;
}

void Img::mousePressEvent(QMouseEvent* event) {
  if (project_ == nullptr || !HasPicture()) return QAbstractScrollArea::mousePressEvent(event);
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    OnLeftButtonDown(point, event->modifiers());
  } else if (event->button() == Qt::RightButton && !(event->buttons() & Qt::LeftButton)) {
    ShowContextMenu(point);
  }
  event->accept();
}

void Img::mouseDoubleClickEvent(QMouseEvent* event) {
  // A second click in quick succession is a click of its own.
  mousePressEvent(event);
}

void Img::OnLeftButtonDown(const QPoint& point, Qt::KeyboardModifiers modifiers) {
  TrackCursor(point);
  ToggleMarkers();
  InvalidateAllAroundSelection();

  const std::int32_t selectedBefore = shared_.selectedPosition;
  const std::int32_t previousBefore = shared_.previousPosition;
  shared_.previousPosition = shared_.selectedPosition;
  shared_.selectedPosition = -1;
  shared_.selectedEdge = -1;
  pressPoint_ = point;
  shared_.dragMoved = false;
  // The areas the press changes are painted together once it is handled.
  QueueAllRegions();

  const int tolerance = PickTolerance();
  model::PositionGraph& graph = project_->graph;
  const bool positionHit = project_->FindPositionInCurrentObject(
      photoIndex_, tolerance, cursorPoint_, shared_.selectedPosition);
  bool edgeHit = false;
  if (positionHit) {
    model::PositionGraph::Coords xyz{};
    if (graph.GetCoords(shared_.selectedPosition, xyz) && xyz[2] != shared_.cursorHeight) {
      // The 3D cursor moves to the clicked position's height.
      shared_.cursorHeight = xyz[2];
      TrackCursor(point);
    }
  } else {
    edgeHit = project_->FindEdgeInCurrentObject(photoIndex_, tolerance, cursorPoint_,
                                                shared_.selectedEdge);
  }

  const bool chaining = EdgeChainingActive(modifiers);
  // A position selected in another view and not marked here is marked at the click: one click
  // per photo marks one scene point in all of them.
  const bool marksSelected = mode_ == kAdd && !positionHit && CanMarkHere(selectedBefore);
  // What the press did, as the undo step names it; empty when it changed nothing.
  const char* edit = nullptr;
  if (marksSelected) {
    edgeHit = false;
    shared_.selectedEdge = -1;
    shared_.selectedPosition = selectedBefore;
    MarkSelectedHere(previousBefore, chaining);
    edit = "Mark Point";
  } else if (mode_ == kAdd && !positionHit) {
    shared_.selectedPosition = project_->AddImagePoint(photoIndex_, cursorPoint_);
    edit = edgeHit ? "Add Point on Edge" : "Add Point";
    PlaceSelected();
    if (edgeHit && shared_.selectedPosition >= 0) {
      model::PositionGraph::Coords xyz{};
      if (graph.PlaceOnEdge(photoIndex_, shared_.selectedEdge, shared_.selectedPosition, xyz) &&
          xyz[2] != shared_.cursorHeight) {
        shared_.cursorHeight = xyz[2];
        TrackCursor(point);
      }
      project_->SplitEdge(shared_.selectedEdge, shared_.selectedPosition);
      TrackCursor(point);
    }
  }

  if (!marksSelected && !edgeHit && mode_ == kAdd && chaining && shared_.previousPosition >= 0 &&
      shared_.selectedPosition >= 0 && shared_.previousPosition != shared_.selectedPosition) {
    shared_.selectedEdge = project_->AddEdge(shared_.previousPosition, shared_.selectedPosition);
    if (edit == nullptr) edit = "Add Edge";
  }

  if (mode_ == kDelete && (positionHit || edgeHit)) {
    RebuildAllNeighbours();
    InvalidateAllAroundSelection();
    if (positionHit) {
      RemoveSelected();
      shared_.selectedPosition = -1;
      edit = "Delete Point";
    } else {
      project_->DeleteEdge(shared_.selectedEdge);
      shared_.selectedEdge = -1;
      edit = "Delete Edge";
    }
    QueueAllRegions();
  }

  // The press only selects; the selected position moves once the pointer goes past the drag
  // distance (StartDrag).
  shared_.dragging =
      shared_.selectedPosition >= 0 && (mode_ == kAdd || (mode_ == kMove && positionHit));
  // A press that may drag becomes one step with the drag, when the button comes up.
  pendingEdit_ = edit != nullptr ? edit : "";
  if (!shared_.dragging) RecordPendingEdit();

  RebuildAllNeighbours();
  InvalidateAllAroundSelection();
  RepaintAllRegions();
  ToggleMarkers();
  ShowClickPrompt();
}

void Img::RecordPendingEdit() {
  if (pendingEdit_.empty()) return;
  host_.RecordEdit(std::exchange(pendingEdit_, std::string()));
}

bool Img::PastDragDistance(const QPoint& point) const {
  return (point - pressPoint_).manhattanLength() > QApplication::startDragDistance();
}

void Img::StartDrag() {
  shared_.dragMoved = true;
  project_->graph.InvalidateComputed(shared_.selectedPosition);
  // The mark and its edges give way to the marker and its rubber band.
  RebuildAllNeighbours();
  InvalidateAllAroundSelection();
  RepaintAllRegions();
}

void Img::mouseMoveEvent(QMouseEvent* event) {
  if (project_ == nullptr || !HasPicture()) return QAbstractScrollArea::mouseMoveEvent(event);
  TakeFocus();
  const QPoint point = event->position().toPoint();
  // A drag goes on past the view's edges; the prompt is for the pointer over the photo.
  pointerOver_ = viewport()->rect().contains(point);
  if (shared_.dragging && !shared_.dragMoved && PastDragDistance(point)) StartDrag();
  RefreshCursor(event->modifiers());
  TrackCursor(point);
  ShowClickPrompt();
}

void Img::mouseReleaseEvent(QMouseEvent* event) {
  if (project_ == nullptr || !HasPicture() || event->button() != Qt::LeftButton) {
    return QAbstractScrollArea::mouseReleaseEvent(event);
  }
  OnLeftButtonUp(event->position().toPoint());
  event->accept();
}

void Img::OnLeftButtonUp(const QPoint& point) {
  TrackCursor(point);
  ToggleMarkers();
  if (shared_.dragging && !shared_.dragMoved && PastDragDistance(point)) StartDrag();
  // A click without a drag leaves the position where it was.
  if (shared_.Dragged()) {
    if (pendingEdit_.empty()) pendingEdit_ = "Move Point";
    TrackCursor(point);
    const int tolerance = PickTolerance();
    std::int32_t hit = -1;
    if (project_->FindPositionInCurrentObject(photoIndex_, tolerance, cursorPoint_, hit) &&
        hit != shared_.selectedPosition) {
      // The dragged position is merged into the one it was dropped on.
      project_->MergePositions(shared_.selectedPosition, hit);
      shared_.selectedPosition = hit;
      pendingEdit_ = "Merge Points";
    } else if (project_->FindEdgeInCurrentObject(photoIndex_, tolerance, cursorPoint_,
                                                 shared_.selectedEdge)) {
      project_->SplitEdge(shared_.selectedEdge, shared_.selectedPosition);
      pendingEdit_ = "Split Edge";
    }
    PlaceSelected();
  }
  repeatTimer_.stop();
  shared_.dragging = shared_.dragMoved = false;
  RecordPendingEdit();
  InvalidateAllAroundSelection();
  RepaintAllRegions();
  host_.Refresh3D();
  ToggleMarkers();
  ShowClickPrompt();
}

void Img::ShowContextMenu(const QPoint& point) {
  QMenu menu(tr("Image settings"), this);
  auto addMode = [&](const char* text, int id, int mode) {
    QAction* action = menu.addAction(tr(text), this, [this, mode] { SetMode(mode); });
    action->setData(id);
    action->setCheckable(true);
    action->setChecked(mode_ == mode);
  };
  addMode("&Add", kAddModeCommand, kAdd);
  addMode("&Move", kMoveModeCommand, kMove);
  addMode("&Delete", kDeleteModeCommand, kDelete);
  addMode("&Select", kSelectModeCommand, kSelect);
  menu.addSeparator();
  QAction* setReal = menu.addAction(tr("Set real position"), this, &Img::SetRealPosition);
  setReal->setData(kSetRealPositionCommand);
  menu.addSeparator();
  QAction* stereo =
      menu.addAction(tr("&Stereo move"), this, [this] { SetCursorAlive(!cursorAlive_); });
  stereo->setData(kStereoMoveCommand);
  stereo->setCheckable(true);
  stereo->setChecked(cursorAlive_);

  TrackCursor(point);
  const std::int32_t remembered = shared_.selectedPosition;
  shared_.selectedPosition = -1;
  if (!project_->FindPositionInCurrentObject(photoIndex_, PickTolerance(), cursorPoint_,
                                             shared_.selectedPosition)) {
    setReal->setEnabled(false);
    shared_.selectedPosition = remembered;
  }
  menu.exec(viewport()->mapToGlobal(point));
}

void Img::SetRealPosition() {
  if (project_ == nullptr || !HasPicture()) return;
  const std::int32_t id = shared_.selectedPosition;
  if (!project_->graph.positions.contains(id)) return;
  // Only typed coordinates are offered: computed ones shown here would become typed ones on OK
  // without the user having given them. What is not known shows as an empty field.
  model::PositionGraph::Coords xyz;
  xyz.fill(engine::UnknownCoordinate);
  if (project_->graph.IsReal(id)) project_->graph.GetCoords(id, xyz);
  RealPositionDialog dialog(xyz, this);
  dialog.adjustSize();
  dialog.move(viewport()->mapToGlobal(WindowPosition(cursorPoint_) + QPoint(5, 0)));
  if (dialog.exec() != QDialog::Accepted) return;
  // OK on fields left as they were changes nothing: a control point stays as it is, and a
  // position given no coordinate does not become one.
  if (dialog.coordinates() == xyz) return;
  project_->graph.SetRealCoords(id, dialog.coordinates());
  host_.RecordEdit("Set Real Position");
  InvalidateAllAroundSelection();
  RepaintAllRegions();
  host_.Refresh3D();
}

void Img::wheelEvent(QWheelEvent* event) {
  if (project_ == nullptr || !HasPicture()) return QAbstractScrollArea::wheelEvent(event);
  // A sideways turn scrolls; a turn up or down zooms about the pixel under the mouse, which
  // stays there, so it does not scroll as well.
  if (event->angleDelta().y() == 0) return QAbstractScrollArea::wheelEvent(event);
  const float f = std::clamp(event->angleDelta().y() * 0.002f, -0.5f, 0.5f);
  MultiplyZoom(1.0f + f, event->position() + QPointF(0.5, 0.5));
  event->accept();
}

// Keys

void Img::HoldMode(int mode) {
  if (mode_ != savedMode_) return;
  savedMode_ = mode_;
  mode_ = mode;
  RefreshCursor();
}

void Img::TakeFocus() {
  if (hasFocus()) return;
  // A window that is not active, as on an X server without a window manager, moves its focus
  // without focus events: a mode that a held key lent to the view that had the keys ends here.
  for (Img* view : host_.photoViews()) {
    if (view != this) view->ReleaseMode();
  }
  setFocus(Qt::MouseFocusReason);
}

void Img::ReleaseMode() {
  if (savedMode_ == mode_) return;
  mode_ = savedMode_;
  RefreshCursor();
}

void Img::keyPressEvent(QKeyEvent* event) {
  RefreshCapsLock(event);
  if (project_ == nullptr || !HasPicture()) return QAbstractScrollArea::keyPressEvent(event);
  const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
  switch (event->key()) {
    case Qt::Key_Shift:
      RefreshCursor(event->modifiers() | Qt::ShiftModifier);
      break;
    case Qt::Key_CapsLock:
      RefreshCursor(event->modifiers());
      break;
    case Qt::Key_Home:
      ZoomAround(1.0f, ZoomAnchor());
      break;
    case Qt::Key_Up:
      heightSpeed_ = heightSpeed_ >= 0 ? heightSpeed_ + kHeightStep : 0;
      break;
    case Qt::Key_Down:
      heightSpeed_ = heightSpeed_ <= 0 ? heightSpeed_ - kHeightStep : 0;
      break;
    case Qt::Key_A:
      HoldMode(kAdd);
      break;
    case Qt::Key_D:
      HoldMode(kDelete);
      break;
    case Qt::Key_F:
      HoldMode(kMove);
      break;
    case Qt::Key_S:
      HoldMode(kSelect);
      break;
    case Qt::Key_G:
      if (!event->isAutoRepeat()) SetCursorAlive(!cursorAlive_);
      break;
    case Qt::Key_Escape:
      // The next Add click makes a new position instead of marking the selected one here.
      if (shared_.selectedPosition < 0 && shared_.selectedEdge < 0) {
        return QAbstractScrollArea::keyPressEvent(event);
      }
      ClearSelection();
      break;
    case Qt::Key_Plus:
      if (!keypad) return QAbstractScrollArea::keyPressEvent(event);
      MultiplyZoom(1.1f, ZoomAnchor());
      break;
    case Qt::Key_Minus:
      if (!keypad) return QAbstractScrollArea::keyPressEvent(event);
      MultiplyZoom(0.9090909f, ZoomAnchor());
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      UpdateRepeatTimer();
      return;
  }
  UpdateRepeatTimer();
  event->accept();
}

void Img::keyReleaseEvent(QKeyEvent* event) {
  RefreshCapsLock();
  // A held key repeats as pairs of release and press; only the last release counts.
  if (event->isAutoRepeat() || project_ == nullptr || !HasPicture()) {
    return QAbstractScrollArea::keyReleaseEvent(event);
  }
  switch (event->key()) {
    // The release of a key is reported with the modifiers from before it.
    case Qt::Key_Shift:
      RefreshCursor(event->modifiers() & ~Qt::ShiftModifier);
      break;
    case Qt::Key_CapsLock:
      RefreshCursor(event->modifiers());
      break;
    case Qt::Key_A:
    case Qt::Key_D:
    case Qt::Key_F:
    case Qt::Key_S:
      // The key may have been pressed in another view, which the focus has left since.
      for (Img* view : host_.photoViews()) view->ReleaseMode();
      break;
    default:
      return QAbstractScrollArea::keyReleaseEvent(event);
  }
  event->accept();
}

void Img::UpdateRepeatTimer() {
  if (heightSpeed_ != 0 && !repeatTimer_.isActive()) {
    repeatTimer_.start(kRepeatPeriodMs, this);
  } else if (heightSpeed_ == 0 && repeatTimer_.isActive()) {
    repeatTimer_.stop();
  }
}

void Img::timerEvent(QTimerEvent* event) {
  if (event->timerId() != repeatTimer_.timerId()) return QAbstractScrollArea::timerEvent(event);
  if (project_ == nullptr || !HasPicture()) return;
  shared_.cursorHeight += heightSpeed_;
  TrackCursor(viewport()->mapFromGlobal(QCursor::pos()));
}

// Focus

void Img::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  // The lock may have been switched while another window had the keys.
  RefreshCapsLock();
  RefreshCursor();
  if (project_ == nullptr || !HasPicture()) return;
  ToggleMarkers();
}

void Img::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  // A mode key held down here is released where this view no longer hears it: the mode it
  // lent ends with the focus.
  ReleaseMode();
  if (project_ == nullptr || !HasPicture()) return;
  repeatTimer_.stop();
  // A drag ends without placing the position, which gets back the coordinates its marks give;
  // the rubber band goes with it.
  if (shared_.Dragged()) project_->graph.ComputePosition(shared_.selectedPosition);
  shared_.dragging = shared_.dragMoved = false;
  RecordPendingEdit();
  ToggleMarkers();
  InvalidateAllAroundSelection();
  RepaintAllRegions();
}

// Help

void Img::HelpRequest() {
  if (project_ == nullptr) {
    host_.ShowHelpTopic("2Dviews.html");
    return;
  }
  const model::StepAdvice advice = host_.NextStepAdvice(*project_, photoIndex_);
  host_.ShowPrompt(QString::fromStdString(advice.text));
  host_.ShowHelpTopic(QString::fromStdString(advice.helpTopic));
}

}  // namespace modrin::views2d
