#include "images/text_scanner.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>
#include <utility>

namespace modrin::images {

namespace {

// The white space of the C locale.
bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Bytes pulled from a source at a time.
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

TextScanner::TextScanner(std::string_view text) : window_(text) {}

TextScanner::TextScanner(Source source) : source_(std::move(source)) {}

void TextScanner::Hold() {
  held_ = true;
  holdStart_ = position_;
}

void TextScanner::Rewind() {
  if (held_) position_ = holdStart_;
  held_ = false;
}

bool TextScanner::Available(std::size_t at) {
  if (held_ && at - holdStart_ >= kMaxHeld) return false;
  while (at >= base_ + window_.size()) {
    if (!source_ || sourceEnded_) return false;
    // Only a hold goes back, so the text behind the position (or the hold) is dropped before
    // more comes.
    const std::size_t behind = (held_ ? holdStart_ : position_) - base_;
    pulled_.erase(0, behind);
    base_ += behind;
    const std::size_t held = pulled_.size();
    pulled_.resize(held + kChunk);
    const std::size_t got = std::min(kChunk, source_(pulled_.data() + held, kChunk));
    pulled_.resize(held + got);
    if (got == 0) sourceEnded_ = true;
    window_ = pulled_;
  }
  return true;
}

int TextScanner::CharAtEdge(std::size_t at) {
  if (!Available(at)) return -1;
  const auto c = static_cast<unsigned char>(window_[at - base_]);
  if (lineOnly_ && c == '\n') return -1;
  return c;
}

std::string_view TextScanner::Slice(std::size_t from, std::size_t to) const {
  return window_.substr(from - base_, to - from);
}

void TextScanner::SkipWhitespace() {
  while (IsSpace(CharAt(position_))) ++position_;
}

bool TextScanner::MatchLiteral(std::string_view pattern) {
  for (char expected : pattern) {
    if (IsSpace(static_cast<unsigned char>(expected))) {
      SkipWhitespace();
    } else {
      if (CharAt(position_) != static_cast<unsigned char>(expected)) return false;
      ++position_;
    }
  }
  return true;
}

std::size_t TextScanner::AfterSign(bool& negative) {
  negative = false;
  const int c = CharAt(position_);
  if (c == '+' || c == '-') {
    negative = c == '-';
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
  // digits are still followed to find where the number ends.
  constexpr std::int64_t kCap = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  for (int c = CharAt(p); IsDigit(c); c = CharAt(++p)) {
    if (p - position_ >= kMaxNumberLength) return false;
    magnitude = std::min(kCap, magnitude * 10 + (c - '0'));
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

std::size_t TextScanner::NumberRunEnd(std::size_t from) {
  std::size_t end = from;
  while (end - from <= kMaxNumberLength) {
    const int c = CharAt(end);
    if (c < 0 || IsSpace(c)) break;
    ++end;
  }
  return end;
}

template <typename Real>
bool TextScanner::ReadReal(Real& value) {
  SkipWhitespace();
  bool negative = false;
  const std::size_t p = AfterSign(negative);
  // from_chars takes a minus sign of its own; a second sign is not a number.
  const int first = CharAt(p);
  if (first < 0 || first == '+' || first == '-') return false;
  // A number holds no white space, so the run up to the next one holds all of it.
  const std::size_t runEnd = NumberRunEnd(p);
  const std::string_view run = Slice(p, runEnd);
  Real parsed = 0;
  const auto result =
      std::from_chars(run.data(), run.data() + run.size(), parsed, std::chars_format::general);
  if (result.ec != std::errc()) return false;
  const auto length = static_cast<std::size_t>(result.ptr - run.data());
  // A number that fills the whole capped run may go on beyond it.
  if (length > kMaxNumberLength) return false;
  // Negation flips the sign bit, so "-0" and "-nan" keep their sign as the C library's do.
  value = negative ? -parsed : parsed;
  position_ = p + length;
  return true;
}

bool TextScanner::ReadDouble(double& value) { return ReadReal(value); }

bool TextScanner::ReadFloat(float& value) { return ReadReal(value); }

bool TextScanner::ReadToken(std::string_view& token) {
  SkipWhitespace();
  std::size_t end = position_;
  for (int c = CharAt(end); c >= 0 && !IsSpace(c); c = CharAt(++end)) {
  }
  if (end == position_) return false;
  token = Slice(position_, end);
  position_ = end;
  return true;
}

bool TextScanner::ReadUntil(char stop, std::string_view& text) {
  const int stopChar = static_cast<unsigned char>(stop);
  std::size_t end = position_;
  for (int c = CharAt(end); c >= 0 && c != stopChar; c = CharAt(++end)) {
  }
  if (end == position_) return false;
  text = Slice(position_, end);
  position_ = end;
  return true;
}

bool TextScanner::ReadChar(char& c) {
  const int next = CharAt(position_);
  if (next < 0) return false;
  c = static_cast<char>(next);
  ++position_;
  return true;
}

}  // namespace modrin::images
