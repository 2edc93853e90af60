#include "app/background_calibration.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>
#include <exception>

#include "app/background_work.h"
#include "app/status_progress.h"
#include "model/project.h"

namespace modrin::app {

namespace {

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
    try {
      RunOnWorkerThread(work);
    } catch (...) {
      failure = std::current_exception();
    }
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
