#include "views2d/img_frame.h"

#include <QLabel>
#include <QToolBar>

#include "model/project.h"
#include "model/project_document.h"

namespace modrin::views2d {

ImgFrame::ImgFrame(QWidget* parent)
    : QMainWindow(parent), toolBar_(new QToolBar(tr("2D view"), this)), view_(new QLabel(this)) {
  // A frame inside the layout, not a window of its own.
  setWindowFlags(Qt::Widget);
  toolBar_->setObjectName("2DViewToolBar");
  addToolBar(Qt::TopToolBarArea, toolBar_);
  view_->setAlignment(Qt::AlignCenter);
  view_->setAutoFillBackground(true);
  view_->setBackgroundRole(QPalette::Dark);
  view_->setForegroundRole(QPalette::BrightText);
  setCentralWidget(view_);
  SetPhoto(nullptr, -1);
}

void ImgFrame::SetPhoto(model::Project* project, int photo) {
  project_ = project;
  const bool inRange =
      project != nullptr && photo >= 0 && static_cast<std::size_t>(photo) < project->photos.size();
  photo_ = inRange ? photo : -1;
  if (photo_ < 0) {
    view_->setText(QString());
    return;
  }
  const std::string& path = project->photos[static_cast<std::size_t>(photo_)]->path;
  view_->setText(QString::fromStdString(model::FileNamePart(path)));
}

void ImgFrame::RedrawView() { view_->repaint(); }

}  // namespace modrin::views2d
