#pragma once

#include <QCursor>
#include <array>

namespace modrin::views2d {

// The mouse pointers of the photo view: the arrow with a small sign below and right of it
// telling what a click does. Drawn by the program, 32 x 32, hot spot at the arrow's tip.
class ViewCursors {
 public:
  enum class Kind { Select, Add, AddEdge, Delete, Move };

  ViewCursors();
  const QCursor& cursor(Kind kind) const { return cursors_[static_cast<std::size_t>(kind)]; }

 private:
  std::array<QCursor, 5> cursors_;
};

}  // namespace modrin::views2d
