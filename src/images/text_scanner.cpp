#include "images/text_scanner.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

namespace modrin::images {

namespace {

// The white space of the C locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TextScanner::TextScanner(std::string_view text, std::size_t position)
    : text_(text), position_(std::min(position, text.size())) {}

void TextScanner::MoveTo(std::size_t position) { position_ = std::min(position, text_.size()); }

TextScanner TextScanner::RestOfLine() const {
  std::size_t lineEnd = text_.find('\n', position_);
  if (lineEnd == std::string_view::npos) lineEnd = text_.size();
  return TextScanner(text_.substr(0, lineEnd), position_);
}

void TextScanner::SkipWhitespace() {
  while (position_ < text_.size() && IsSpace(text_[position_])) ++position_;
}

bool TextScanner::MatchLiteral(std::string_view pattern) {
  for (char expected : pattern) {
    if (IsSpace(expected)) {
      SkipWhitespace();
    } else {
      if (AtEnd() || text_[position_] != expected) return false;
      ++position_;
    }
  }
  return true;
}

std::size_t TextScanner::AfterSign(bool& negative) const {
  negative = false;
  if (!AtEnd() && (text_[position_] == '+' || text_[position_] == '-')) {
    negative = text_[position_] == '-';
    return position_ + 1;
  }
  return position_;
}

bool TextScanner::ReadInt(std::int32_t& value) {
  SkipWhitespace();
  bool negative = false;
  std::size_t p = AfterSign(negative);
  const std::size_t digitsStart = p;
  // Magnitudes are capped just above 2^31 so that a long run of digits cannot overflow; the
  // digits are still consumed in full to find where the number ends.
  constexpr std::int64_t kCap = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  while (p < text_.size() && IsDigit(text_[p])) {
    magnitude = std::min(kCap, magnitude * 10 + (text_[p] - '0'));
    ++p;
  }
  if (p == digitsStart) return false;
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue < std::numeric_limits<std::int32_t>::min() ||
      signedValue > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  value = static_cast<std::int32_t>(signedValue);
  position_ = p;
  return true;
}

template <typename Real>
bool TextScanner::ReadReal(Real& value) {
  SkipWhitespace();
  bool negative = false;
  std::size_t p = AfterSign(negative);
  // from_chars takes a minus sign of its own; a second sign is not a number.
  if (p >= text_.size() || text_[p] == '+' || text_[p] == '-') return false;
  Real parsed = 0;
  const char* begin = text_.data() + p;
  const auto result =
      std::from_chars(begin, text_.data() + text_.size(), parsed, std::chars_format::general);
  if (result.ec != std::errc()) return false;
  // Negation flips the sign bit, so "-0" and "-nan" keep their sign as the C library's do.
  value = negative ? -parsed : parsed;
  position_ = p + static_cast<std::size_t>(result.ptr - begin);
  return true;
}

bool TextScanner::ReadDouble(double& value) { return ReadReal(value); }

bool TextScanner::ReadFloat(float& value) { return ReadReal(value); }

bool TextScanner::ReadToken(std::string_view& token) {
  SkipWhitespace();
  const std::size_t start = position_;
  while (position_ < text_.size() && !IsSpace(text_[position_])) ++position_;
  if (position_ == start) return false;
  token = text_.substr(start, position_ - start);
  return true;
}

bool TextScanner::ReadUntil(char stop, std::string_view& text) {
  std::size_t end = text_.find(stop, position_);
  if (end == std::string_view::npos) end = text_.size();
  if (end == position_) return false;
  text = text_.substr(position_, end - position_);
  position_ = end;
  return true;
}

bool TextScanner::ReadChar(char& c) {
  if (AtEnd()) return false;
  c = text_[position_++];
  return true;
}

}  // namespace modrin::images
