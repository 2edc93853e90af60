#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace modrin::app {

// The layout used when the settings hold none, or hold a string that is not a layout.
inline constexpr char kDefaultLayout[] = "(V,47,(H,11,O,(H,48,2,2)),(H,50,2,3))";

// Deeper layouts are refused: nobody arranges that many views, and building one node per
// level must not exhaust the stack.
inline constexpr int kMaxLayoutDepth = 32;

// One node of a layout string "(direction,percent,child,child)".
struct LayoutNode {
  // A pane: a leaf code ('2' photo frame, '3' 3D frame, 'O' object list, 'X' the window being
  // split) or a nested node (code 0).
  struct Child {
    char code = 0;
    std::unique_ptr<LayoutNode> node;
    std::string text;  // the child's own part of the string
  };

  bool sideBySide = false;  // "H": panes side by side; "V": one above the other
  int percent = 50;         // share of the first pane, 0 to 100
  Child first;
  Child second;
};

// Parses a layout string. `allowExisting` admits the leaf "X", which only the strings made
// while splitting a view hold. Empty for anything that does not follow the grammar: an
// unknown leaf code, a missing comma, unbalanced parentheses, a percent outside 0 to 100,
// text after the last parenthesis, or more than kMaxLayoutDepth levels.
std::optional<LayoutNode> ParseLayout(std::string_view text, bool allowExisting = false);

// Whether `text` is a layout string that can be stored and built (no "X").
bool IsValidLayout(std::string_view text);

}  // namespace modrin::app
