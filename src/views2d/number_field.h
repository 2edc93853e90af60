#pragma once

#include <optional>

class QLineEdit;

namespace modrin::views2d {

// Lets `edit` take only plain decimal numbers from `bottom` to `top` with a '.' as the decimal
// point (no exponent, no group separators), whatever the process and Qt locales are. Keys that
// would make the text something else are refused as they are typed; a text on its way to a
// number (empty, "12.", a value above `top` with no more digits than `top`) can stand in the
// edit but is not a number yet.
void SetNumberValidator(QLineEdit& edit, double bottom, double top);

// The edit's number when its whole text is one its validator accepts; null otherwise.
std::optional<double> NumberIn(const QLineEdit& edit);

}  // namespace modrin::views2d
