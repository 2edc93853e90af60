#include "views3d/ogl_frame.h"

#include <QAction>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolBar>

#include "engine/residuals.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "views3d/ogl.h"
#include "widgets/drawn_icon.h"

namespace modrin::views3d {

namespace {

const QColor kInk(40, 44, 52);
const QColor kFace(47, 111, 185);

// Four corner arrows pointing out of a box.
void DrawFullScreen(QPainter& painter) {
  painter.setPen(QPen(kInk, 1.4));
  painter.setBrush(kFace);
  painter.drawRect(QRectF(5, 5, 6, 6));
  QPainterPath corners;
  for (const QPointF& corner :
       {QPointF(1.5, 1.5), QPointF(14.5, 1.5), QPointF(1.5, 14.5), QPointF(14.5, 14.5)}) {
    const double dx = corner.x() < 8 ? 4 : -4;
    const double dy = corner.y() < 8 ? 4 : -4;
    corners.moveTo(corner.x() + dx, corner.y());
    corners.lineTo(corner);
    corners.lineTo(corner.x(), corner.y() + dy);
  }
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(corners);
}

// A circular arrow: the view follows each change.
void DrawAutoRedraw(QPainter& painter) {
  painter.setPen(QPen(kFace, 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 280 * 16);
  QPainterPath head;
  head.moveTo(6.5, 0.5);
  head.lineTo(10.5, 2.8);
  head.lineTo(6.5, 5.5);
  head.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(kInk);
  painter.drawPath(head);
}

// Two triangles' outlines.
void DrawWireframe(QPainter& painter) {
  painter.setPen(QPen(kInk, 1.2));
  painter.setBrush(Qt::NoBrush);
  QPainterPath mesh;
  mesh.moveTo(1.5, 13.5);
  mesh.lineTo(8, 2.5);
  mesh.lineTo(14.5, 13.5);
  mesh.closeSubpath();
  mesh.moveTo(4.75, 8);
  mesh.lineTo(11.25, 8);
  mesh.lineTo(8, 13.5);
  mesh.closeSubpath();
  painter.drawPath(mesh);
}

// Three dots with dark rims, the largest red: the points and their errors.
void DrawPoints(QPainter& painter) {
  painter.setPen(QPen(kInk, 1));
  const struct {
    QPointF at;
    QColor colour;
    double radius;
  } dots[] = {{{4, 11}, QColor(0, 200, 0), 2.2},
              {{8.5, 4.5}, QColor(220, 200, 0), 2.2},
              {{12, 11}, QColor(220, 0, 0), 3}};
  for (const auto& dot : dots) {
    painter.setBrush(dot.colour);
    painter.drawEllipse(dot.at, dot.radius, dot.radius);
  }
}

// A camera's pyramid: the apex on the left, the frame on the right.
void DrawCameras(QPainter& painter) {
  painter.setPen(QPen(kFace, 1.3));
  painter.setBrush(Qt::NoBrush);
  QPainterPath pyramid;
  const QPointF apex(2, 8);
  const QPointF frame[4] = {{11, 2.5}, {14.5, 5}, {14.5, 13.5}, {11, 11}};
  for (const QPointF& corner : frame) {
    pyramid.moveTo(apex);
    pyramid.lineTo(corner);
  }
  pyramid.moveTo(frame[0]);
  for (const QPointF& corner : frame) pyramid.lineTo(corner);
  pyramid.closeSubpath();
  painter.drawPath(pyramid);
}

// Whether widgets of this platform can show an OpenGL view.
bool PlatformHasOpenGL() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

}  // namespace

OglFrame::OglFrame(QWidget* parent) : QMainWindow(parent) {
  setWindowFlags(Qt::Widget);
  if (PlatformHasOpenGL()) {
    view_ = new Ogl(this);
    setCentralWidget(view_);
    view_->setFocus();
  } else {
    auto* placeholder = new QLabel(this);
    placeholder->setAutoFillBackground(true);
    QPalette white = placeholder->palette();
    white.setColor(QPalette::Window, Qt::white);
    placeholder->setPalette(white);
    setCentralWidget(placeholder);
  }
  CreateToolBar();
  // Auto-redraw starts on, which runs a first update.
  autoRedraw_->trigger();
}

void OglFrame::CreateToolBar() {
  toolBar_ = new QToolBar(tr("3D views Toolbar"), this);
  toolBar_->setObjectName("3DViewsToolBar");
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  addToolBar(Qt::TopToolBarArea, toolBar_);
  auto addButton = [this](const QString& tip, const QString& status, QIcon icon) {
    QAction* button = toolBar_->addAction(icon, tip);
    button->setToolTip(tip);
    button->setStatusTip(status);
    return button;
  };
  fullScreen_ = addButton(tr("Full Screen"), tr("Full screen"), widgets::DrawnIcon(DrawFullScreen));
  connect(fullScreen_, &QAction::triggered, this, [this] { UpdateView(kFit); });
  autoRedraw_ = addButton(tr("Auto-Redraw"), tr("Auto-redraw"), widgets::DrawnIcon(DrawAutoRedraw));
  autoRedraw_->setCheckable(true);
  connect(autoRedraw_, &QAction::triggered, this, &OglFrame::OnAutoRedraw);
  wireframe_ = addButton(tr("Wireframe"), tr("Wireframe"), widgets::DrawnIcon(DrawWireframe));
  wireframe_->setCheckable(true);
  connect(wireframe_, &QAction::triggered, this, &OglFrame::OnWireframe);
  points_ = addButton(tr("Points"), tr("Show the points with 3D coordinates, coloured by error"),
                      widgets::DrawnIcon(DrawPoints));
  cameras_ = addButton(tr("Cameras"), tr("Show the cameras of the calibrated photos"),
                       widgets::DrawnIcon(DrawCameras));
  for (QAction* toggle : {points_, cameras_}) {
    toggle->setCheckable(true);
    toggle->setChecked(true);
    connect(toggle, &QAction::triggered, this, &OglFrame::OnMarkersToggled);
  }
}

void OglFrame::OnMarkersToggled() {
  if (view_ == nullptr) return;
  view_->markerOptions().points = points_->isChecked();
  view_->markerOptions().cameras = cameras_->isChecked();
  // What is shown changes the box: fit it again, keeping the user's turn.
  UpdateView(0);
  view_->FitView();
}

void OglFrame::OnAutoRedraw(bool checked) {
  autoRedrawOn_ = checked;
  if (view_ != nullptr) view_->SetAutoRedraw(checked);
  if (checked) UpdateView();
}

void OglFrame::OnWireframe(bool checked) {
  wireframeOn_ = checked;
  if (view_ != nullptr) view_->SetWireframe(checked);
  UpdateView();
}

void OglFrame::ToggleWireframe() {
  wireframeOn_ = !wireframeOn_;
  if (view_ != nullptr) view_->SetWireframe(wireframeOn_);
  wireframe_->trigger();
}

void OglFrame::UpdateView(int flags) {
  if (flags & kInitialize) {
    ++initializeCount_;
    if (view_ != nullptr) {
      view_->ReleaseGL();
      if (project_ != nullptr) view_->CreateTextures(*project_);
    }
  }
  if ((flags & kUpdateModel) && project_ != nullptr) {
    ++updateCount_;
    mesh::UpdateModelWithMeshes(*project_);
  }
  if (view_ == nullptr) return;
  if (project_ != nullptr) {
    MarkerOptions& markers = view_->markerOptions();
    if (shownPhotos_) markers.highlightedPhotos = shownPhotos_();
    markers.largestError_px.clear();
    if (markers.points) {
      for (const engine::PositionResiduals& position :
           engine::BuildResidualReport(*project_).positions) {
        if (position.stats.count > 0) markers.largestError_px[position.id] = position.stats.largest;
      }
    }
    view_->BuildArrays(*project_);
  }
  // A model update that grows the model beyond the fitted view (a calibration adding points)
  // moves the eye back as far as a fit would, keeping the user's turn; one that shrinks it
  // keeps the user's view.
  if (flags & kFit) {
    view_->ResetView();
  } else if ((flags & kUpdateModel) && view_->OutgrewFit()) {
    view_->FitView();
  }
  view_->BuildDisplayLists();
  view_->Render();
}

}  // namespace modrin::views3d
