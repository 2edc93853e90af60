#pragma once

#include <string_view>

namespace modrin::app {

// The layout used when the settings hold none, or hold a string that is not a layout.
inline constexpr char kDefaultLayout[] = "(V,47,(H,11,O,(H,48,2,2)),(H,50,2,3))";

// Whether `text` is a layout string that can be built. (Stub: to be completed.)
bool IsValidLayout(std::string_view text);

}  // namespace modrin::app
