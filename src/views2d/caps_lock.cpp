#include "views2d/caps_lock.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <optional>

#if __has_include(<X11/XKBlib.h>)
#include <X11/XKBlib.h>
#define MODRIN_HAVE_XKB 1
#endif

namespace modrin::views2d {

namespace {

// Toggled by the Caps Lock presses seen, where the platform cannot be asked.
bool& SeenCapsLock() {
  static bool on = false;
  return on;
}

#ifdef MODRIN_HAVE_XKB
// The lock state from the X server; empty when the program does not run on X11.
std::optional<bool> X11CapsLock() {
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 != nullptr ? x11->display() : nullptr;
  if (display == nullptr) return std::nullopt;
  unsigned int state = 0;
  if (XkbGetIndicatorState(display, XkbUseCoreKbd, &state) != Success) return std::nullopt;
  // Indicator 0 is Caps Lock on every keyboard map X ships.
  return (state & 1u) != 0;
}
#endif

}  // namespace

bool CapsLockOn() {
#ifdef MODRIN_HAVE_XKB
  if (const std::optional<bool> on = X11CapsLock()) return *on;
#endif
  return SeenCapsLock();
}

void NoteCapsLockKey(const QKeyEvent& event) {
  if (event.key() == Qt::Key_CapsLock && !event.isAutoRepeat()) SeenCapsLock() = !SeenCapsLock();
}

}  // namespace modrin::views2d
