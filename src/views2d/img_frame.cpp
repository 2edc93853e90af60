#include "views2d/img_frame.h"

#include <QImage>
#include <QPainter>
#include <QToolBar>

#include "model/project.h"
#include "model/project_document.h"

namespace modrin::views2d {

namespace {

// The frame's client area until the photo view proper takes it: the photo drawn whole,
// centred at the largest size that fits, or its file name when it has no picture.
class PhotoPreview : public QWidget {
 public:
  explicit PhotoPreview(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Dark);
  }

  void Show(const model::Photo* photo) {
    photo_ = photo;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (photo_ == nullptr) return;
    QPainter painter(this);
    if (!photo_->HasImage()) {
      painter.setPen(palette().color(QPalette::BrightText));
      painter.drawText(rect(), Qt::AlignCenter,
                       QString::fromStdString(model::FileNamePart(photo_->path)));
      return;
    }
    const images::DecodedImage& image = photo_->image();
    // The decoded rows are 8-bit RGB, top row first, tightly packed: wrapped without a copy.
    const QImage picture(image.pixels.data(), image.width, image.height,
                         static_cast<qsizetype>(image.stride()), QImage::Format_RGB888);
    const QSize fitted = picture.size().scaled(size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), fitted);
    target.moveCenter(rect().center());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
  }

 private:
  const model::Photo* photo_ = nullptr;
};

}  // namespace

ImgFrame::ImgFrame(QWidget* parent)
    : QMainWindow(parent), toolBar_(new QToolBar(tr("2D view"), this)) {
  // A frame inside the layout, not a window of its own.
  setWindowFlags(Qt::Widget);
  toolBar_->setObjectName("2DViewToolBar");
  addToolBar(Qt::TopToolBarArea, toolBar_);
  view_ = new PhotoPreview(this);
  setCentralWidget(view_);
  SetPhoto(nullptr, -1);
}

void ImgFrame::SetPhoto(model::Project* project, int photo) {
  project_ = project;
  const bool inRange =
      project != nullptr && photo >= 0 && static_cast<std::size_t>(photo) < project->photos.size();
  photo_ = inRange ? photo : -1;
  static_cast<PhotoPreview*>(view_)->Show(
      photo_ < 0 ? nullptr : project->photos[static_cast<std::size_t>(photo_)].get());
}

void ImgFrame::RedrawView() { view_->repaint(); }

}  // namespace modrin::views2d
