#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "app/commands.h"
#include "widgets/drawn_icon.h"

namespace modrin::app {

namespace {

// Icons are drawn on a 16 × 16 grid and rendered at the sizes a toolbar or a desktop asks for.
using Drawing = void (*)(QPainter&);

const QColor kInk(40, 44, 52);
const QColor kPaper(250, 250, 246);
const QColor kBlue(47, 111, 185);
const QColor kYellow(235, 186, 52);
const QColor kGreen(70, 150, 80);
const QColor kRed(200, 50, 45);

QPen InkPen(qreal width = 1.0) {
  return QPen(kInk, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void DrawFolder(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kYellow);
  QPainterPath folder;
  folder.moveTo(1.5, 13.5);
  folder.lineTo(1.5, 3.5);
  folder.lineTo(6, 3.5);
  folder.lineTo(7.5, 5);
  folder.lineTo(13.5, 5);
  folder.lineTo(13.5, 13.5);
  folder.closeSubpath();
  p.drawPath(folder);
  p.setBrush(kYellow.lighter(125));
  p.drawPolygon(QPolygonF({{1.5, 13.5}, {4, 7.5}, {15, 7.5}, {13.5, 13.5}}));
}

void DrawDisk(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.5, 1.5);
  p.setBrush(kPaper);
  p.drawRect(QRectF(4, 1.5, 8, 5));
  p.setBrush(kInk);
  p.drawRect(QRectF(4.5, 10, 7, 4.5));
}

void DrawPhotos(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kPaper);
  p.drawRect(QRectF(3.5, 1.5, 11, 8.5));
  p.drawRect(QRectF(1.5, 4.5, 11, 8.5));
  p.setBrush(kGreen);
  p.drawPolygon(QPolygonF({{2, 12.5}, {6, 8}, {8.5, 10.5}, {10, 9}, {12, 12.5}}));
  p.setBrush(kYellow);
  p.drawEllipse(QPointF(9.5, 7), 1.2, 1.2);
  p.setPen(QPen(kBlue, 2));
  p.drawLine(QPointF(13, 11.5), QPointF(13, 15));
  p.drawLine(QPointF(11.25, 13.25), QPointF(14.75, 13.25));
}

void DrawCube(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kBlue.lighter(150));
  p.drawPolygon(QPolygonF({{2, 5}, {8, 2}, {14, 5}, {8, 8}}));
  p.setBrush(kBlue);
  p.drawPolygon(QPolygonF({{2, 5}, {8, 8}, {8, 15}, {2, 12}}));
  p.setBrush(kBlue.darker(130));
  p.drawPolygon(QPolygonF({{14, 5}, {8, 8}, {8, 15}, {14, 12}}));
}

void DrawGlobe(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kBlue.lighter(140));
  p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(8, 8), 3, 6.5);
  p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
  p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
}

void DrawTarget(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kPaper);
  p.drawEllipse(QPointF(8, 8), 6, 6);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(8, 8), 3, 3);
  p.setPen(QPen(Qt::red, 1.2));
  p.drawLine(QPointF(8, 0.5), QPointF(8, 15.5));
  p.drawLine(QPointF(0.5, 8), QPointF(15.5, 8));
}

void DrawCamera(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kInk.lighter(200));
  p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9), 1.5, 1.5);
  p.drawRect(QRectF(5, 2.5, 5, 2));
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(8, 9), 3, 3);
  p.setBrush(kPaper);
  p.drawEllipse(QPointF(8, 9), 1, 1);
}

// The program: a house's outline marked on a photo.
void DrawProgram(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 2.5, 2.5);
  p.setPen(QPen(kPaper, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolygon(QPolygonF({{3, 13}, {3, 7.5}, {8, 3}, {13, 7.5}, {13, 13}}));
  p.drawLine(QPointF(3, 7.5), QPointF(13, 7.5));
  p.setPen(Qt::NoPen);
  p.setBrush(kYellow);
  for (QPointF corner :
       {QPointF(3, 13), QPointF(3, 7.5), QPointF(8, 3), QPointF(13, 7.5), QPointF(13, 13)}) {
    p.drawEllipse(corner, 1.3, 1.3);
  }
}

// A small photo: a frame with a hill, the base of the calibration tree's photo icons.
void DrawSmallPhoto(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kPaper);
  p.drawRect(QRectF(1.5, 2.5, 11, 9));
  p.setBrush(kGreen);
  p.drawPolygon(QPolygonF({{2, 11.5}, {5.5, 7.5}, {8, 9.5}, {9.5, 8.5}, {12, 11.5}}));
}

// The root of the calibration tree: a stack of photos.
void DrawPhotoStack(QPainter& p) {
  p.setPen(InkPen());
  p.setBrush(kPaper);
  p.drawRect(QRectF(4.5, 1.5, 10, 8));
  p.drawRect(QRectF(3, 3.5, 10, 8));
  p.drawRect(QRectF(1.5, 5.5, 10, 8));
  p.setBrush(kBlue.lighter(140));
  p.drawPolygon(QPolygonF({{2, 13}, {5, 9.5}, {7.5, 11.5}, {9, 10.5}, {11, 13}}));
}

// A calibrated photo: a green tick over its corner.
void DrawCalibratedPhoto(QPainter& p) {
  DrawSmallPhoto(p);
  p.setPen(QPen(kGreen.darker(120), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({{8.5, 11.5}, {11, 14}, {15, 8}}));
}

// A curved arrow turning left (undo) or, mirrored, right (redo).
void DrawTurnArrow(QPainter& p, bool mirrored) {
  if (mirrored) {
    p.translate(16, 0);
    p.scale(-1, 1);
  }
  p.setPen(QPen(kBlue, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath arc;
  arc.moveTo(4, 6.5);
  arc.cubicTo(9, 6.5, 14, 6.5, 14, 10);
  arc.cubicTo(14, 13, 11, 13.5, 8, 13.5);
  p.drawPath(arc);
  p.setPen(InkPen());
  p.setBrush(kBlue);
  p.drawPolygon(QPolygonF({{1, 6.5}, {6, 2.5}, {6, 10.5}}));
}
void DrawUndo(QPainter& p) { DrawTurnArrow(p, false); }
void DrawRedo(QPainter& p) { DrawTurnArrow(p, true); }

// A photo not calibrated: a red cross over its corner.
void DrawUncalibratedPhoto(QPainter& p) {
  DrawSmallPhoto(p);
  p.setPen(QPen(kRed, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
  p.drawLine(QPointF(14.5, 9.5), QPointF(9.5, 14.5));
}

QIcon RenderIcon(Drawing draw) { return widgets::DrawnIcon(draw, {16, 24, 32, 48, 64, 128, 256}); }

}  // namespace

QIcon CommandIcon(int id) {
  struct ThemedIcon {
    int id;
    const char* themeName;
    Drawing draw;
  };
  static constexpr ThemedIcon kIcons[] = {
      {command::kOpen, "document-open", DrawFolder},
      {command::kSave, "document-save", DrawDisk},
      {command::kUndo, "edit-undo", DrawUndo},
      {command::kRedo, "edit-redo", DrawRedo},
      {command::kLoadImages, "insert-image", DrawPhotos},
      {command::kSave3DAs, "", DrawCube},
      {command::kSaveToWeb, "", DrawGlobe},
      {command::kCalibration, "", DrawTarget},
      {command::kCameraParameters, "camera-photo", DrawCamera},
  };
  for (const ThemedIcon& entry : kIcons) {
    if (entry.id != id) continue;
    // Commands of this program alone keep the drawn icon: a theme has no picture for them.
    if (entry.themeName[0] == '\0') return RenderIcon(entry.draw);
    return QIcon::fromTheme(entry.themeName, RenderIcon(entry.draw));
  }
  return {};
}

QIcon ProgramIcon() { return RenderIcon(DrawProgram); }

QIcon CalibrationTreeIcon(CalibrationIcon which) {
  switch (which) {
    case CalibrationIcon::kRoot:
      return RenderIcon(DrawPhotoStack);
    case CalibrationIcon::kCalibrated:
      return RenderIcon(DrawCalibratedPhoto);
    case CalibrationIcon::kNotCalibrated:
      return RenderIcon(DrawUncalibratedPhoto);
  }
  return {};
}

}  // namespace modrin::app
