#include "app/layout_string.h"

namespace modrin::app {

namespace {

class LayoutParser {
 public:
  LayoutParser(std::string_view text, bool allowExisting)
      : text_(text), allowExisting_(allowExisting) {}

  std::optional<LayoutNode> ParseAll() {
    std::optional<LayoutNode> node = ParseNode(1);
    if (!node || at_ != text_.size()) return std::nullopt;
    return node;
  }

 private:
  std::optional<LayoutNode> ParseNode(int depth) {
    if (depth > kMaxLayoutDepth || !Take('(')) return std::nullopt;
    LayoutNode node;
    if (at_ >= text_.size() || (text_[at_] != 'H' && text_[at_] != 'V')) return std::nullopt;
    node.sideBySide = text_[at_++] == 'H';
    if (!Take(',') || !ParsePercent(node.percent) || !Take(',')) return std::nullopt;
    if (!ParseChild(node.first, depth) || !Take(',')) return std::nullopt;
    if (!ParseChild(node.second, depth) || !Take(')')) return std::nullopt;
    return node;
  }

  bool ParseChild(LayoutNode::Child& child, int depth) {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '(') {
      std::optional<LayoutNode> nested = ParseNode(depth + 1);
      if (!nested) return false;
      child.node = std::make_unique<LayoutNode>(std::move(*nested));
    } else {
      if (at_ >= text_.size()) return false;
      const char code = text_[at_++];
      if (code != '2' && code != '3' && code != 'O' && !(code == 'X' && allowExisting_)) {
        return false;
      }
      child.code = code;
    }
    child.text = std::string(text_.substr(start, at_ - start));
    return true;
  }

  // One to three decimal digits, at most 100.
  bool ParsePercent(int& percent) {
    int value = 0;
    int digits = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9' && digits < 4) {
      value = value * 10 + (text_[at_++] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 100) return false;
    percent = value;
    return true;
  }

  bool Take(char c) {
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  std::string_view text_;
  bool allowExisting_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<LayoutNode> ParseLayout(std::string_view text, bool allowExisting) {
  return LayoutParser(text, allowExisting).ParseAll();
}

bool IsValidLayout(std::string_view text) { return ParseLayout(text).has_value(); }

}  // namespace modrin::app
