#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class QEvent;
class QWidget;

namespace modrin::app {

// Input that would reach a command or the project: keys, mouse buttons, wheel, shortcuts,
// context menus, touch, tablet and drops.
bool IsUserInput(int eventType);

// Disables the given windows while it lives and then enables them again (those that were
// enabled), giving the keyboard focus back to the widget that had it.
class WindowsBlocked {
 public:
  explicit WindowsBlocked(const QList<QWidget*>& windows);
  ~WindowsBlocked();
  WindowsBlocked(const WindowsBlocked&) = delete;
  WindowsBlocked& operator=(const WindowsBlocked&) = delete;

 private:
  QList<QPointer<QWidget>> disabled_;
  QPointer<QWidget> focus_;
};

// While it lives, swallows every user input and window close of the program, so that no
// command runs and the main window stays open while a worker uses the project.
class InputSwallowed : public QObject {
  Q_OBJECT

 public:
  explicit InputSwallowed(QObject* parent = nullptr);
  ~InputSwallowed() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Runs `work` on a worker thread and returns when it has ended; meanwhile this thread runs an
// event loop, so that windows paint and a progress display fed from the worker moves. An
// exception of `work` is thrown again here.
void RunOnWorkerThread(const std::function<void()>& work);

}  // namespace modrin::app
