#pragma once

#include <QIcon>

namespace modrin::app {

// The toolbar icon of command `id`: the desktop theme's icon where the theme has one, else one
// drawn for this program. A command without an icon gets a null icon.
QIcon CommandIcon(int id);

}  // namespace modrin::app
