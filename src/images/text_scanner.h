#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace modrin::images {

// Reads text held in memory the way the C library's formatted input reads a stream, without
// fixed-size buffers, so lines, paths and names of any length are read whole.
//
// Each read either succeeds and moves past what it read, or fails and leaves the scanner where
// the mismatch was found. As with a C scanf call, a pattern that fails partway keeps what it
// consumed before the mismatch: white space skipped before a conversion stays skipped, literal
// characters matched before the mismatch stay matched. A failed number conversion consumes no
// character of the number. Numbers are read in the C locale whatever the process locale is.
class TextScanner {
 public:
  explicit TextScanner(std::string_view text, std::size_t position = 0);

  std::size_t Position() const { return position_; }
  // Moves to `position`, at most to the end of the text.
  void MoveTo(std::size_t position);
  bool AtEnd() const { return position_ >= text_.size(); }

  // A scanner at the same position whose text ends before the next newline (or at the end of
  // the text). Positions of both scanners count from the same start, so MoveTo(line.Position())
  // carries the line's progress back.
  TextScanner RestOfLine() const;

  // Skips white space: blank, tab, newline, vertical tab, form feed, carriage return.
  void SkipWhitespace();
  // Matches `pattern` character by character. A white-space character in the pattern matches
  // any run of white space in the text, including none.
  bool MatchLiteral(std::string_view pattern);
  // %d: after white space, an optional sign and decimal digits. A value outside the 32-bit
  // range is not read (a failure, not a wrapped or clamped value).
  bool ReadInt(std::int32_t& value);
  // %lf: after white space, an optional sign, then a decimal number in fixed or exponent form,
  // "inf", "infinity" or "nan" (any case). Hexadecimal forms are read only up to the "0".
  // A value outside the range of double is not read.
  bool ReadDouble(double& value);
  // %f: as ReadDouble, for single precision.
  bool ReadFloat(float& value);
  // %s: after white space, one run of non-white-space characters.
  bool ReadToken(std::string_view& token);
  // %[^stop]: one or more characters up to `stop` or the end of the text; no white space is
  // skipped. Fails when the next character is `stop` or the text has ended.
  bool ReadUntil(char stop, std::string_view& text);
  // %c: the next character, white space included.
  bool ReadChar(char& c);

 private:
  // Where the number at the current position starts after an optional sign.
  std::size_t AfterSign(bool& negative) const;
  template <typename Real>
  bool ReadReal(Real& value);

  std::string_view text_;
  std::size_t position_;
};

}  // namespace modrin::images
