#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "engine/bundle_adjustment.h"
#include "engine/calibration.h"
#include "engine/reconstruction.h"

class QKeyEvent;
class QWidget;

namespace modrin::model {
class Project;
}

namespace modrin::app {

class StatusProgress;

// One solve of a calibration run, in the order the run made them.
struct CalibrationSolve {
  std::size_t photo = 0;
  engine::CalibrationResult result;
};

struct BackgroundCalibrationResult {
  engine::CalibrationRunSummary summary;
  std::vector<CalibrationSolve> solves;
};

// Runs the calibration, or the joint refinement, off the GUI thread so that the windows keep
// painting and the progress bar moves. While a run lasts the given windows are disabled, every key,
// mouse, shortcut and close event of the program is swallowed (the project is being changed under
// the worker, so no command may touch it and the main window may not close), and Escape, wherever
// it is pressed, cancels the search of the photo being solved; the run goes on with the next photo.
// Its repeats cancel nothing more, and the repeats of an Escape held past the run's end reach
// no window.
class BackgroundCalibration : public QObject {
  Q_OBJECT

 public:
  // `progress` shows the solves and carries the Escape requests; it outlives this object.
  explicit BackgroundCalibration(StatusProgress& progress, QObject* parent = nullptr);

  // Runs engine::RunCalibration(project, options) on a worker thread, with `progress` as the
  // solves' display, and returns when it has ended; meanwhile this thread runs an event loop.
  // `windows` are disabled for the run and enabled again after. A run already under way makes
  // this return an empty result at once. An exception of the run is thrown again here.
  BackgroundCalibrationResult Run(model::Project& project, engine::CalibrationRunOptions options,
                                  const QList<QWidget*>& windows);
  // Runs engine::Refine(project, options) the same way: `progress` shows it, Escape stops it
  // (the result is then cancelled) and `windows` are disabled meanwhile. The project is only
  // read; the caller applies the result. A run under way gives a result that is not ok.
  engine::RefineResult Refine(const model::Project& project, const engine::RefineOptions& options,
                              const QList<QWidget*>& windows);

  bool running() const { return running_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs `work` on a worker thread while this thread runs an event loop, with the windows
  // blocked and Escape watched; rethrows what the work threw.
  void RunOffGuiThread(const std::function<void()>& work, const QList<QWidget*>& windows);

  // Takes a press of Escape; true when it starts a new press, false for a repeat of a held
  // one.
  bool TakeEscapePress(const QKeyEvent& press);

  // A press that follows a release by at most this (milliseconds) repeats a held key.
  static constexpr unsigned long kRepeatGapMs = 30;

  StatusProgress& progress_;
  bool running_ = false;
  // Escape was pressed during the run: after it, its repeats are taken until a new press.
  bool escapePressed_ = false;
  bool escapeDown_ = false;
  std::optional<unsigned long> escapeReleasedAt_;  // event time of its last release
};

}  // namespace modrin::app
