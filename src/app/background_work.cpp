#include "app/background_work.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QWidget>
#include <exception>
#include <memory>

namespace modrin::app {

bool IsUserInput(int eventType) {
  switch (eventType) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

WindowsBlocked::WindowsBlocked(const QList<QWidget*>& windows) {
  focus_ = QApplication::focusWidget();
  for (QWidget* window : windows) {
    if (window == nullptr || !window->isEnabled()) continue;
    window->setEnabled(false);
    disabled_.push_back(window);
  }
}

WindowsBlocked::~WindowsBlocked() {
  for (const QPointer<QWidget>& window : disabled_) {
    if (window != nullptr) window->setEnabled(true);
  }
  // Disabling took the keyboard focus away from the widget that had it.
  if (focus_ != nullptr && focus_->isEnabled()) focus_->setFocus(Qt::OtherFocusReason);
}

InputSwallowed::InputSwallowed(QObject* parent) : QObject(parent) {
  qApp->installEventFilter(this);
}

InputSwallowed::~InputSwallowed() { qApp->removeEventFilter(this); }

bool InputSwallowed::eventFilter(QObject*, QEvent* event) {
  if (event->type() == QEvent::Close) {
    event->ignore();
    return true;
  }
  return IsUserInput(event->type());
}

void RunOnWorkerThread(const std::function<void()>& work) {
  std::exception_ptr failure;
  QEventLoop loop;
  std::unique_ptr<QThread> worker(QThread::create([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  }));
  // Queued behind every display call the worker made, so the loop ends after the last.
  QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit,
                   Qt::QueuedConnection);
  worker->start();
  loop.exec();
  worker->wait();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace modrin::app
