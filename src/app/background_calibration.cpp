#include "app/background_calibration.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QThread>
#include <QWidget>
#include <exception>
#include <memory>

#include "app/status_progress.h"
#include "model/project.h"

namespace modrin::app {

namespace {

// Input that would reach a command or the project while a run changes it.
bool IsUserInput(QEvent::Type type) {
  switch (type) {
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

// A press, a release or a shortcut check of the Escape key.
bool IsEscapeKey(const QEvent& event) {
  switch (event.type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
      return static_cast<const QKeyEvent&>(event).key() == Qt::Key_Escape;
    default:
      return false;
  }
}

// Gives back what a run took from the windows, also when the run throws.
class WindowsBlocked {
 public:
  explicit WindowsBlocked(const QList<QWidget*>& windows) {
    focus_ = QApplication::focusWidget();
    for (QWidget* window : windows) {
      if (window == nullptr || !window->isEnabled()) continue;
      window->setEnabled(false);
      disabled_.push_back(window);
    }
  }
  ~WindowsBlocked() {
    for (const QPointer<QWidget>& window : disabled_) {
      if (window != nullptr) window->setEnabled(true);
    }
    // Disabling took the keyboard focus away from the widget that had it.
    if (focus_ != nullptr && focus_->isEnabled()) focus_->setFocus(Qt::OtherFocusReason);
  }
  WindowsBlocked(const WindowsBlocked&) = delete;
  WindowsBlocked& operator=(const WindowsBlocked&) = delete;

 private:
  QList<QPointer<QWidget>> disabled_;
  QPointer<QWidget> focus_;
};

}  // namespace

BackgroundCalibration::BackgroundCalibration(StatusProgress& progress, QObject* parent)
    : QObject(parent), progress_(progress) {}

BackgroundCalibrationResult BackgroundCalibration::Run(model::Project& project,
                                                       engine::CalibrationRunOptions options,
                                                       const QList<QWidget*>& windows) {
  BackgroundCalibrationResult result;
  if (running_) return result;
  running_ = true;
  const std::function<void(std::size_t, const engine::CalibrationResult&, double)> report =
      options.onPhotoDone;
  // Filled by the worker only; read here once it has ended.
  options.onPhotoDone = [&result, report](std::size_t photo, const engine::CalibrationResult& solve,
                                          double seconds) {
    result.solves.push_back({photo, solve});
    if (report) report(photo, solve, seconds);
  };
  options.calibration.progress = &progress_;
  progress_.ClearCancel();
  // A filter still waiting for the release of an earlier run's Escape is installed again.
  qApp->removeEventFilter(this);

  std::exception_ptr failure;
  {
    WindowsBlocked blocked(windows);
    qApp->installEventFilter(this);
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create([&] {
      try {
        result.summary = engine::RunCalibration(project, options);
      } catch (...) {
        failure = std::current_exception();
      }
    }));
    // Queued behind every display call the worker made, so the loop ends after the last.
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker->start();
    loop.exec();
    worker->wait();
    // An Escape still held down goes on repeating into the dialog, which it would close, and
    // discard every pose the run solved: its keys stay taken until it is released.
    if (!escapeHeld_) qApp->removeEventFilter(this);
  }
  running_ = false;
  if (failure) std::rethrow_exception(failure);
  return result;
}

bool BackgroundCalibration::eventFilter(QObject*, QEvent* event) {
  const bool escape = IsEscapeKey(*event);
  if (escape) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // The first press ends the search of the photo being solved; its repeats do not.
    if (running_ && key->type() == QEvent::KeyPress && !key->isAutoRepeat()) {
      progress_.RequestCancel();
    }
    if (key->type() == QEvent::KeyPress && !key->isAutoRepeat()) escapeHeld_ = true;
    if (key->type() == QEvent::KeyRelease && !key->isAutoRepeat()) escapeHeld_ = false;
  }
  if (!running_) {
    if (!escapeHeld_) qApp->removeEventFilter(this);
    return escape;
  }
  if (escape) return true;
  if (event->type() == QEvent::Close) {
    // The project stays in use until the worker ends: no window closes, the program stays.
    event->ignore();
    return true;
  }
  return IsUserInput(event->type());
}

}  // namespace modrin::app
