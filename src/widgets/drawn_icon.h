#pragma once

#include <QIcon>
#include <initializer_list>

class QPainter;

namespace modrin::widgets {

// An icon drawn by `draw` on a 16 x 16 grid, rendered crisp at each of `sizes` pixels.
QIcon DrawnIcon(void (*draw)(QPainter&), std::initializer_list<int> sizes = {16, 32});

}  // namespace modrin::widgets
