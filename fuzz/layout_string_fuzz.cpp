// Parses arbitrary bytes as a layout string, with and without the "X" leaf. A string that is
// accepted must describe the same tree when written back and parsed again, and must never be
// deeper than the bound that keeps building it off the stack's limits.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/layout_string.h"

namespace {

using modrin::app::LayoutNode;

std::string Write(const LayoutNode& node) {
  auto child = [](const LayoutNode::Child& c) {
    return c.node ? Write(*c.node) : std::string(1, c.code);
  };
  return std::string("(") + (node.sideBySide ? "H" : "V") + "," + std::to_string(node.percent) +
         "," + child(node.first) + "," + child(node.second) + ")";
}

int Depth(const LayoutNode& node) {
  int deepest = 0;
  for (const LayoutNode::Child* c : {&node.first, &node.second}) {
    if (c->node) deepest = std::max(deepest, Depth(*c->node));
  }
  return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (bool allowExisting : {false, true}) {
    const auto node = modrin::app::ParseLayout(text, allowExisting);
    if (!node) continue;
    if (Depth(*node) > modrin::app::kMaxLayoutDepth) std::abort();
    if (node->percent < 0 || node->percent > 100) std::abort();
    const std::string written = Write(*node);
    const auto again = modrin::app::ParseLayout(written, allowExisting);
    if (!again || Write(*again) != written) std::abort();
  }
  return 0;
}
