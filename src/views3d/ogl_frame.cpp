#include "views3d/ogl_frame.h"

#include <QLabel>
#include <QToolBar>

#include "mesh/mesh_builder.h"
#include "model/project.h"

namespace modrin::views3d {

OglFrame::OglFrame(QWidget* parent)
    : QMainWindow(parent),
      toolBar_(new QToolBar(tr("3D views Toolbar"), this)),
      view_(new QLabel(this)) {
  setWindowFlags(Qt::Widget);
  toolBar_->setObjectName("3DViewsToolBar");
  addToolBar(Qt::TopToolBarArea, toolBar_);
  view_->setAutoFillBackground(true);
  QPalette white = view_->palette();
  white.setColor(QPalette::Window, Qt::white);
  view_->setPalette(white);
  setCentralWidget(view_);
}

void OglFrame::InitializeView() {
  ++initializeCount_;
  UpdateView();
}

void OglFrame::UpdateView() {
  ++updateCount_;
  if (project_ != nullptr) mesh::UpdateModelWithMeshes(*project_);
  RedrawView();
}

void OglFrame::RedrawView() { view_->update(); }

void OglFrame::ToggleWireframe() {
  wireframe_ = !wireframe_;
  UpdateView();
}

}  // namespace modrin::views3d
