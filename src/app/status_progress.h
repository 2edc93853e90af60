#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <atomic>
#include <string>

#include "engine/progress.h"

class QLabel;
class QStatusBar;

namespace modrin::app {

// The calibration's progress display in the main window's status bar: the engine's text in
// the first pane and a smooth progress bar after it. The engine may call it from a worker
// thread; every display call is then carried out on the GUI thread, in order. The cancel
// request is an atomic flag that any thread may set.
class StatusProgress : public QObject, public engine::Progress {
  Q_OBJECT

 public:
  // `pane` is the first pane of `statusBar`; both outlive this object.
  StatusProgress(QStatusBar& statusBar, QLabel& pane, QObject* parent = nullptr);
  ~StatusProgress() override;

  // engine::Progress. Create waits until the text and the bar are shown, so a photo's search
  // starts only once the user can see which photo it is.
  void Create(const std::string& text) override;
  void SetRange(int low, int high) override;
  void SetStep(int step) override;
  void StepIt() override;
  void SetPos(int position) override;
  void Destroy() override;
  // True once for every RequestCancel made since the previous call.
  bool CancelRequested() override;

  // What the Escape key does during a run; safe from any thread.
  void RequestCancel() { cancel_.store(true); }
  // Forgets a request made before a run starts.
  void ClearCancel() { cancel_.store(false); }

  // The bar while one is shown, else null (GUI thread).
  QProgressBar* bar() const { return bar_; }

 signals:
  // The text and the bar of a new indicator are shown (GUI thread).
  void created(const QString& text);

 private:
  // Runs `call` on the GUI thread: at once there, queued from another thread; `wait` makes
  // the calling thread wait for it.
  template <typename F>
  void OnGuiThread(F&& call, bool wait = false);

  void ShowCreated(const QString& text);
  void ShowDestroyed();

  QStatusBar& statusBar_;
  QLabel& pane_;
  QPointer<QProgressBar> bar_;
  int step_ = 1;
  std::atomic<bool> cancel_{false};
};

}  // namespace modrin::app
