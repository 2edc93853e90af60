#include "views2d/view_cursors.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace modrin::views2d {

namespace {

constexpr int kSize = 32;

// The standard arrow, tip at (0, 0): black with a white outline so it shows on any photo.
void DrawArrow(QPainter& painter) {
  QPainterPath arrow;
  arrow.moveTo(0.5, 0.5);
  arrow.lineTo(0.5, 16.5);
  arrow.lineTo(4.5, 12.5);
  arrow.lineTo(7.5, 19.5);
  arrow.lineTo(10.0, 18.5);
  arrow.lineTo(7.0, 11.5);
  arrow.lineTo(12.5, 11.5);
  arrow.closeSubpath();
  painter.setPen(QPen(Qt::white, 1));
  painter.setBrush(Qt::black);
  painter.drawPath(arrow);
}

// A sign is drawn in black over a white halo, in the square from (16, 18) to (30, 30).
void DrawSign(QPainter& painter, const QPainterPath& sign) {
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::SquareCap));
  painter.drawPath(sign);
  painter.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::SquareCap));
  painter.drawPath(sign);
}

QPainterPath Plus() {
  QPainterPath path;
  path.moveTo(17, 24);
  path.lineTo(25, 24);
  path.moveTo(21, 20);
  path.lineTo(21, 28);
  return path;
}

QPainterPath Sign(ViewCursors::Kind kind) {
  QPainterPath path;
  switch (kind) {
    case ViewCursors::Kind::Select:
      break;
    case ViewCursors::Kind::Add:
      path = Plus();
      break;
    case ViewCursors::Kind::AddEdge:
      path = Plus();
      // The edge: a short slanted stroke beside the plus.
      path.moveTo(26, 29);
      path.lineTo(30, 19);
      break;
    case ViewCursors::Kind::Delete:
      path.moveTo(17, 24);
      path.lineTo(27, 24);
      break;
    case ViewCursors::Kind::Move:
      path.moveTo(16, 24);
      path.lineTo(28, 24);
      path.moveTo(24, 20);
      path.lineTo(28, 24);
      path.lineTo(24, 28);
      break;
  }
  return path;
}

QCursor MakeCursor(ViewCursors::Kind kind) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawArrow(painter);
  DrawSign(painter, Sign(kind));
  painter.end();
  return QCursor(pixmap, 0, 0);
}

}  // namespace

ViewCursors::ViewCursors() {
  for (Kind kind : {Kind::Select, Kind::Add, Kind::AddEdge, Kind::Delete, Kind::Move}) {
    cursors_[static_cast<std::size_t>(kind)] = MakeCursor(kind);
  }
}

}  // namespace modrin::views2d
