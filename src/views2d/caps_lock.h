#pragma once

class QKeyEvent;

namespace modrin::views2d {

// Whether Caps Lock is on. On X11 the keyboard's lock state is asked of the X server, so a
// lock switched on in another window counts; elsewhere the Caps Lock presses this program saw
// are counted (NoteCapsLockKey).
bool CapsLockOn();
// Notes a key press for platforms whose lock state cannot be asked.
void NoteCapsLockKey(const QKeyEvent& event);

}  // namespace modrin::views2d
