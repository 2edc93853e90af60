#include "views2d/image_selector.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimerEvent>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "model/project.h"
#include "model/project_document.h"

namespace modrin::views2d {

namespace {

// A line step moves the photos by a hundredth of the strip's width.
constexpr float kLineStep = 0.01f;
// The scroll range leaves one 74th of the strip's height, in width units, below the last photo.
constexpr double kVisibleShare = 0.013513514;
constexpr int kHoverMs = 100;
constexpr int kTooltipMs = 2000;
constexpr int kStripWidth = 100;
// A photo whose picture is not loaded gets a band of this height / width, with its name.
constexpr float kUnloadedRatio = 0.75f;

float HeightByWidth(const model::Photo& photo) {
  if (!photo.HasImage()) return kUnloadedRatio;
  const images::DecodedImage& image = photo.image();
  return static_cast<float>(image.height) / static_cast<float>(image.width);
}

// The picture reduced to `size`: sampled at twice the size, then averaged down, so a
// 24-megapixel photo costs a few thousand pixel reads instead of a full-size rescale.
QImage MakeThumbnail(const images::DecodedImage& image, QSize size) {
  const QSize sampled = size * 2;
  QImage coarse(sampled, QImage::Format_RGB32);
  for (int j = 0; j < sampled.height(); ++j) {
    const int row =
        static_cast<int>(static_cast<std::int64_t>(j) * image.height / sampled.height());
    const std::uint8_t* source =
        image.pixels.data() + static_cast<std::size_t>(row) * image.stride();
    auto* out = reinterpret_cast<QRgb*>(coarse.scanLine(j));
    for (int i = 0; i < sampled.width(); ++i) {
      const std::uint8_t* pixel =
          source + 3 * static_cast<std::size_t>(static_cast<std::int64_t>(i) * image.width /
                                                sampled.width());
      out[i] = qRgb(pixel[0], pixel[1], pixel[2]);
    }
  }
  return coarse.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

ImageSelector::ImageSelector(QWidget* parent)
    : QWidget(parent), scrollBar_(new QScrollBar(Qt::Vertical, this)) {
  setObjectName("Image List");
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  scrollBar_->setRange(0, 0);
  connect(scrollBar_, &QScrollBar::actionTriggered, this, &ImageSelector::OnScrollAction);
}

ImageSelector::~ImageSelector() { hoverTimer_.stop(); }

QSize ImageSelector::sizeHint() const { return QSize(kStripWidth, QWidget::sizeHint().height()); }

void ImageSelector::Setup(const model::Project* project, int currentPhoto) {
  project_ = project;
  currentPhoto_ = currentPhoto;
  photoOffsets_.clear();
  thumbnails_.clear();
  float sum = 0;
  if (project != nullptr) {
    for (const auto& photo : project->photos) {
      photoOffsets_.push_back(sum);
      sum += HeightByWidth(*photo);
    }
    photoOffsets_.push_back(sum);
  }
  UpdateScrollRange();
}

void ImageSelector::SetCurrentPhoto(int index) {
  currentPhoto_ = index;
  update();
}

void ImageSelector::UpdateScrollRange() {
  scrollOffset_ = 0;
  scrollBar_->setValue(0);
  if (photoOffsets_.size() < 2) {
    scrollBar_->setRange(0, 0);
  } else {
    const double max = std::max(0.0, photoOffsets_.back() - height() * kVisibleShare);
    scrollBar_->setRange(0, static_cast<int>(max * 1000));
    scrollBar_->setSingleStep(static_cast<int>(kLineStep * 1000));
    scrollBar_->setPageStep(std::max(1, static_cast<int>(height() * kVisibleShare * 1000)));
  }
  update();
}

int ImageSelector::bandWidth() const {
  return std::max(1, width() - (scrollBar_->isVisible() ? scrollBar_->width() : 0));
}

void ImageSelector::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int barWidth = scrollBar_->sizeHint().width();
  scrollBar_->setGeometry(width() - barWidth, 0, barWidth, height());
  thumbnails_.clear();
}

// Scrolling

void ImageSelector::OnScrollAction(int action) {
  if (photoOffsets_.size() < 2) return;
  float offset = scrollOffset_;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      offset -= kLineStep;
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      offset += kLineStep;
      break;
    case QAbstractSlider::SliderPageStepSub: {
      // The start of the photo under the top edge, or of the one before when the top edge is
      // at a photo's start already.
      auto start = std::upper_bound(photoOffsets_.begin(), photoOffsets_.end() - 1, offset);
      if (start != photoOffsets_.begin()) --start;
      if (*start == offset && start != photoOffsets_.begin()) --start;
      offset = *start;
      break;
    }
    case QAbstractSlider::SliderPageStepAdd: {
      auto next = std::upper_bound(photoOffsets_.begin(), photoOffsets_.end() - 1, offset);
      offset = next != photoOffsets_.end() - 1 ? *next : photoOffsets_[photoOffsets_.size() - 2];
      break;
    }
    case QAbstractSlider::SliderMove:
      offset = scrollBar_->sliderPosition() * 0.001f;
      break;
    default:
      return;
  }
  ScrollTo(offset);
}

void ImageSelector::ScrollTo(float offset) {
  // The top edge can reach the start of the last photo, however short the strip.
  const float last = photoOffsets_[photoOffsets_.size() - 2];
  scrollOffset_ = std::clamp(offset, 0.0f, last);
  scrollBar_->setSliderPosition(static_cast<int>(scrollOffset_ * 1000));
  update();
}

void ImageSelector::wheelEvent(QWheelEvent* event) {
  event->accept();
  // A strip whose photos all fit does not scroll, as its scroll bar does not.
  if (scrollBar_->maximum() <= scrollBar_->minimum()) return;
  // A notch scrolls three lines, each taken as if the scroll bar's arrow had been clicked.
  const int notches = event->angleDelta().y() / 120;
  for (int i = 0; i < std::abs(notches) * 3; ++i) {
    scrollBar_->triggerAction(notches > 0 ? QAbstractSlider::SliderSingleStepSub
                                          : QAbstractSlider::SliderSingleStepAdd);
  }
}

// Painting

const QImage& ImageSelector::Thumbnail(int index) const {
  if (thumbnails_.size() != project_->photos.size()) {
    thumbnails_.assign(project_->photos.size(), QImage());
  }
  QImage& thumbnail = thumbnails_[static_cast<std::size_t>(index)];
  const model::Photo& photo = *project_->photos[static_cast<std::size_t>(index)];
  if (thumbnail.isNull() && photo.HasImage()) {
    const int w = bandWidth();
    const int h = std::max(1, static_cast<int>(std::lround(w * HeightByWidth(photo))));
    thumbnail = MakeThumbnail(photo.image(), QSize(w, h));
  }
  return thumbnail;
}

void ImageSelector::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int w = bandWidth();
  if (project_ == nullptr || photoOffsets_.size() < 2 ||
      photoOffsets_.size() != project_->photos.size() + 1) {
    painter.fillRect(QRect(0, 0, w, height()), Qt::white);
    return;
  }
  for (std::size_t i = 0; i + 1 < photoOffsets_.size(); ++i) {
    const int top = static_cast<int>((photoOffsets_[i] - scrollOffset_) * w);
    const int bottom = static_cast<int>((photoOffsets_[i + 1] - scrollOffset_) * w);
    if (bottom < 0 || top > height()) continue;
    const QRect band(0, top, w, bottom - top);
    const QImage& thumbnail = Thumbnail(static_cast<int>(i));
    if (thumbnail.isNull()) {
      painter.fillRect(band, palette().color(QPalette::Dark));
      painter.setPen(palette().color(QPalette::BrightText));
      painter.drawText(band, Qt::AlignCenter | Qt::TextWrapAnywhere,
                       QString::fromStdString(model::FileNamePart(project_->photos[i]->path)));
    } else {
      painter.drawImage(band, thumbnail);
    }
    if (static_cast<int>(i) == currentPhoto_) {
      // The pen's centre runs through (1, top + 1) and (w - 2, bottom - 2), so the outline
      // stays inside the band and as thick on the right and bottom as on the left and top.
      // (A QRect strokes out to left + width, one pixel beyond its right().)
      painter.setPen(outlinePen_);
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(QRect(1, top + 1, w - 3, bottom - top - 3));
    }
  }
  const int end = static_cast<int>((photoOffsets_.back() - scrollOffset_) * w);
  if (end < height()) painter.fillRect(QRect(0, std::max(0, end), w, height()), Qt::white);
}

// Mouse and keys

int ImageSelector::PhotoAt(int y) const {
  const int w = bandWidth();
  for (std::size_t i = 0; i + 1 < photoOffsets_.size(); ++i) {
    if ((photoOffsets_[i + 1] - scrollOffset_) * w >= y) return static_cast<int>(i);
  }
  return -1;
}

void ImageSelector::Choose(int index) {
  if (index < 0) return;
  // The outline and the arrow keys follow the pick at once, whoever handles the signal.
  currentPhoto_ = index;
  emit photoChosen(index);
  update();
}

void ImageSelector::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Choose(PhotoAt(event->position().toPoint().y()));
}

void ImageSelector::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  hoverTimer_.stop();
  const int index = PhotoAt(event->position().toPoint().y());
  if (index < 0) return;
  Choose(index);
  emit hideRequested();
}

void ImageSelector::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (at == lastMouse_) return;
  lastMouse_ = at;
  setFocus(Qt::MouseFocusReason);
  hoverTimer_.start(kHoverMs, this);
}

void ImageSelector::timerEvent(QTimerEvent* event) {
  if (event->timerId() != hoverTimer_.timerId()) return QWidget::timerEvent(event);
  hoverTimer_.stop();
  const int index = PhotoAt(lastMouse_.y());
  if (project_ == nullptr || index < 0 || lastMouse_.x() >= bandWidth()) return;
  const QString name = QString::fromStdString(
      model::FileNamePart(project_->photos[static_cast<std::size_t>(index)]->path));
  QToolTip::showText(mapToGlobal(lastMouse_), name, this, QRect(), kTooltipMs);
}

void ImageSelector::keyPressEvent(QKeyEvent* event) {
  const int count = project_ != nullptr ? static_cast<int>(project_->photos.size()) : 0;
  switch (event->key()) {
    case Qt::Key_Escape:
      emit hideRequested();
      break;
    case Qt::Key_Up:
      if (currentPhoto_ > 0 && currentPhoto_ - 1 < count) Choose(currentPhoto_ - 1);
      break;
    case Qt::Key_Down:
      if (currentPhoto_ + 1 < count) Choose(currentPhoto_ + 1);
      break;
    default:
      return QWidget::keyPressEvent(event);
  }
  event->accept();
}

}  // namespace modrin::views2d
