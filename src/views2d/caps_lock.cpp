#include "views2d/caps_lock.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <utility>

#if __has_include(<X11/XKBlib.h>)
#include <X11/XKBlib.h>
#define MODRIN_HAVE_XKB 1
#endif

namespace modrin::views2d {

namespace {

// The lock state is the keyboard's, one for the whole program.
struct CapsLockState {
  bool on = false;
  // Toggled by the Caps Lock presses seen, where the platform cannot be asked.
  bool seen = false;
  CapsLockReader reader;
};

// The lock state from the X server; empty when the program does not run on X11.
std::optional<bool> X11CapsLock() {
#ifdef MODRIN_HAVE_XKB
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 != nullptr ? x11->display() : nullptr;
  if (display == nullptr) return std::nullopt;
  unsigned int state = 0;
  if (XkbGetIndicatorState(display, XkbUseCoreKbd, &state) != Success) return std::nullopt;
  // Indicator 0 is Caps Lock on every keyboard map X ships.
  return (state & 1u) != 0;
#else
  return std::nullopt;
#endif
}

CapsLockState& State() {
  static CapsLockState state{false, false, X11CapsLock};
  return state;
}

}  // namespace

bool CapsLockOn() { return State().on; }

void RefreshCapsLock(const QKeyEvent* press) {
  CapsLockState& state = State();
  if (press != nullptr && press->key() == Qt::Key_CapsLock && !press->isAutoRepeat()) {
    state.seen = !state.seen;
  }
  const std::optional<bool> asked = state.reader ? state.reader() : std::nullopt;
  state.on = asked.value_or(state.seen);
}

CapsLockReader SetCapsLockReader(CapsLockReader reader) {
  return std::exchange(State().reader, std::move(reader));
}

}  // namespace modrin::views2d
