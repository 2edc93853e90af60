#pragma once

#include <QIcon>

namespace modrin::app {

// The toolbar icon of command `id`: the desktop theme's icon where the theme has one, else one
// drawn for this program. A command without a toolbar button gets a null icon.
QIcon CommandIcon(int id);

// The program's own icon (window, About box, desktop entry).
QIcon ProgramIcon();

// The 16-pixel icons of the calibration dialog's photo tree.
enum class CalibrationIcon { kRoot, kCalibrated, kNotCalibrated };
QIcon CalibrationTreeIcon(CalibrationIcon which);

}  // namespace modrin::app
