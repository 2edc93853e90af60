#include "app/layout_string.h"

namespace modrin::app {

bool IsValidLayout(std::string_view text) { return !text.empty() && text.front() == '('; }

}  // namespace modrin::app
