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
  RunOffGuiThread([&] { result.summary = engine::RunCalibration(project, options); }, windows);
  return result;
}

engine::RefineResult BackgroundCalibration::Refine(const model::Project& project,
                                                   const engine::RefineOptions& options,
                                                   const QList<QWidget*>& windows) {
  engine::RefineResult result;
  if (running_) {
    result.message = "a calibration or refinement is already running";
    return result;
  }
  running_ = true;
  RunOffGuiThread([&] { result = engine::Refine(project, options, &progress_); }, windows);
  return result;
}

void BackgroundCalibration::RunOffGuiThread(const std::function<void()>& work,
                                            const QList<QWidget*>& windows) {
  progress_.ClearCancel();
  // A filter still watching an earlier run's Escape is installed again.
  qApp->removeEventFilter(this);
  escapePressed_ = escapeDown_ = false;
  escapeReleasedAt_.reset();

  std::exception_ptr failure;
  {
    WindowsBlocked blocked(windows);
    qApp->installEventFilter(this);
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create([&] {
      try {
        work();
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
    // discard every pose the run solved: its repeats stay taken until a new press.
    if (!escapePressed_) qApp->removeEventFilter(this);
  }
  running_ = false;
  if (failure) std::rethrow_exception(failure);
}

bool BackgroundCalibration::TakeEscapePress(const QKeyEvent& press) {
  // Held down, the key repeats: as presses marked so, or, on X servers that do not report
  // repeats, as unmarked pairs of a release and a press at one instant.
  const bool repeat = press.isAutoRepeat() || escapeDown_ ||
                      (escapeReleasedAt_ && press.timestamp() - *escapeReleasedAt_ <= kRepeatGapMs);
  escapeDown_ = true;
  escapeReleasedAt_.reset();
  return !repeat;
}

bool BackgroundCalibration::eventFilter(QObject*, QEvent* event) {
  const bool escape = IsEscapeKey(*event);
  bool fresh = false;
  if (escape && event->type() == QEvent::KeyPress) {
    fresh = TakeEscapePress(*static_cast<QKeyEvent*>(event));
    escapePressed_ = escapePressed_ || running_;
  } else if (escape && event->type() == QEvent::KeyRelease &&
             !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
    escapeDown_ = false;
    escapeReleasedAt_ = static_cast<QKeyEvent*>(event)->timestamp();
  }
  if (!running_) {
    // After the run only the repeats of an Escape held through it are taken; a new press, or
    // any other key, ends the watch.
    const bool otherKey = !escape && event->type() == QEvent::KeyPress;
    if (fresh || otherKey) {
      escapePressed_ = false;
      qApp->removeEventFilter(this);
      return false;
    }
    return escape && event->type() != QEvent::ShortcutOverride;
  }
  // The first press ends the search of the photo being solved; its repeats do not.
  if (fresh) progress_.RequestCancel();
  if (escape) return true;
  if (event->type() == QEvent::Close) {
    // The project stays in use until the worker ends: no window closes, the program stays.
    event->ignore();
    return true;
  }
  return IsUserInput(event->type());
}

}  // namespace modrin::app
