#include "app/status_progress.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QThread>
#include <algorithm>

namespace modrin::app {

namespace {

// What the first pane holds once an indicator is gone.
constexpr int kBlankPaneLength = 54;
// The bar ends at this status-bar x coordinate at the latest.
constexpr int kBarRightLimit = 300;

}  // namespace

StatusProgress::StatusProgress(QStatusBar& statusBar, QLabel& pane, QObject* parent)
    : QObject(parent), statusBar_(statusBar), pane_(pane) {}

StatusProgress::~StatusProgress() { delete bar_; }

template <typename F>
void StatusProgress::OnGuiThread(F&& call, bool wait) {
  if (QThread::currentThread() == thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(this, std::forward<F>(call),
                            wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void StatusProgress::Create(const std::string& text) {
  const QString shown = QString::fromStdString(text);
  OnGuiThread([this, shown] { ShowCreated(shown); }, /*wait=*/true);
}

void StatusProgress::SetRange(int low, int high) {
  OnGuiThread([this, low, high] {
    if (bar_ != nullptr) bar_->setRange(low, high);
  });
}

void StatusProgress::SetStep(int step) {
  OnGuiThread([this, step] { step_ = step; });
}

void StatusProgress::StepIt() {
  OnGuiThread([this] {
    if (bar_ != nullptr) bar_->setValue(std::min(bar_->value() + step_, bar_->maximum()));
  });
}

void StatusProgress::SetPos(int position) {
  OnGuiThread([this, position] {
    if (bar_ != nullptr) bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum()));
  });
}

void StatusProgress::Destroy() {
  OnGuiThread([this] { ShowDestroyed(); });
}

bool StatusProgress::CancelRequested() { return cancel_.exchange(false); }

void StatusProgress::ShowCreated(const QString& text) {
  delete bar_;
  pane_.setText(text);
  // The pane and the bar in status-bar coordinates, right and bottom edges exclusive.
  const QRect pane(pane_.mapTo(&statusBar_, QPoint(0, 0)), pane_.size());
  const int left = pane.x() + QFontMetrics(statusBar_.font()).horizontalAdvance(text) + 2;
  const int top = pane.y() + 2;
  const int bottom = pane.y() + pane.height() - 2;
  const int right = std::min(pane.x() + pane.width() - 2, kBarRightLimit);
  bar_ = new QProgressBar(&statusBar_);
  bar_->setTextVisible(false);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  step_ = 1;
  bar_->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
  bar_->show();
  bar_->raise();
  emit created(text);
}

void StatusProgress::ShowDestroyed() {
  pane_.setText(QString(kBlankPaneLength, ' '));
  delete bar_;
}

}  // namespace modrin::app
