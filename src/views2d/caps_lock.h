#pragma once

#include <functional>
#include <optional>

class QKeyEvent;

namespace modrin::views2d {

// Whether Caps Lock is on, as last read. Mouse moves ask this, so they cost no round trip to
// the X server.
bool CapsLockOn();
// Reads the lock state again; called on key and focus events. On X11 the keyboard's state is
// asked of the X server, so a lock switched on in another window counts; elsewhere the Caps
// Lock presses seen are counted (`press`, when given, is the key press that prompted the read).
void RefreshCapsLock(const QKeyEvent* press = nullptr);

// Where the lock state is read from: a value, or none where it cannot be asked. Tests replace
// it; returns the reader it replaces.
using CapsLockReader = std::function<std::optional<bool>()>;
CapsLockReader SetCapsLockReader(CapsLockReader reader);

}  // namespace modrin::views2d
