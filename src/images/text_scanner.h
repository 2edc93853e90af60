#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace modrin::images {

// Reads text the way the C library's formatted input reads a stream, without fixed-size
// buffers, so lines, paths and names of any length are read whole.
//
// The text is either held in memory or pulled from a source as reading reaches it. A streamed
// scanner keeps only the text from its position on: reading never goes back, so memory is
// bounded by the longest piece read at once (a token, a quoted text, a number), not by the
// length of the stream.
//
// Each read either succeeds and moves past what it read, or fails and leaves the scanner where
// the mismatch was found. As with a C scanf call, a pattern that fails partway keeps what it
// consumed before the mismatch: white space skipped before a conversion stays skipped, literal
// characters matched before the mismatch stay matched. A failed number conversion consumes no
// character of the number. Numbers are read in the C locale whatever the process locale is.
class TextScanner {
 public:
  // Fills `buffer` with up to `size` bytes of the stream and returns how many; 0 at its end.
  using Source = std::function<std::size_t(char* buffer, std::size_t size)>;

  // Reads `text`, which must outlive the scanner.
  explicit TextScanner(std::string_view text);
  // Reads what `source` gives, until it gives nothing more.
  explicit TextScanner(Source source);

  // Characters read so far, counted from the start of the text.
  std::size_t Position() const { return position_; }
  bool AtEnd() { return CharAt(position_) < 0; }

  // While set, the text ends before the next newline: every read stops there as at the end of
  // the text, so a piece of a line cannot reach into the next one. Clearing it goes on from
  // the same place.
  void SetLineOnly(bool lineOnly) { lineOnly_ = lineOnly; }

  // Keeps the text from the current position at hand so that Rewind can go back to it. While
  // held, at most kMaxHeld characters are at hand and the text counts as ending there.
  void Hold();
  // Goes back to where Hold was called and stops holding.
  void Rewind();
  // Stops holding without going back.
  void Release() { held_ = false; }
  static constexpr std::size_t kMaxHeld = 64 * 1024;

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
  // %s: after white space, one run of non-white-space characters. The view is valid until the
  // next read.
  bool ReadToken(std::string_view& token);
  // %[^stop]: one or more characters up to `stop` or the end of the text; no white space is
  // skipped. Fails when the next character is `stop` or the text has ended. The view is valid
  // until the next read.
  bool ReadUntil(char stop, std::string_view& text);
  // %c: the next character, white space included.
  bool ReadChar(char& c);
  // Whether the next character is `c`, without reading it.
  bool NextIs(char c) { return CharAt(position_) == static_cast<unsigned char>(c); }

  // Numbers longer than this many characters are not read: no number this program writes comes
  // near it, and a stream of digits must not be gathered without end.
  static constexpr std::size_t kMaxNumberLength = 1024;

 private:
  // The character at `at` (not before the position) as an unsigned char, or -1 past the end of
  // the text, and at a newline while reading a line only. Pulls text from the source as needed.
  int CharAt(std::size_t at) {
    // Most reads find the character at hand; only the end of what is at hand needs more.
    if (at - base_ < window_.size() && !held_) {
      const auto c = static_cast<unsigned char>(window_[at - base_]);
      return lineOnly_ && c == '\n' ? -1 : c;
    }
    return CharAtEdge(at);
  }
  // CharAt where the character is not at hand or a hold may limit it.
  int CharAtEdge(std::size_t at);
  // Whether `at` lies within the text, pulling from the source until it does or has ended.
  bool Available(std::size_t at);
  // The text from `from` (not before the position) to `to`, both within the text pulled.
  std::string_view Slice(std::size_t from, std::size_t to) const;
  // The end of the run of at most kMaxNumberLength characters from `from` that contains no
  // white space.
  std::size_t NumberRunEnd(std::size_t from);
  // Where the number at the current position starts after an optional sign.
  std::size_t AfterSign(bool& negative);
  template <typename Real>
  bool ReadReal(Real& value);

  std::string_view window_;  // the text from `base_` on that is at hand
  std::size_t base_ = 0;     // offset of window_[0] in the whole text
  std::size_t position_ = 0;
  bool lineOnly_ = false;
  bool held_ = false;
  std::size_t holdStart_ = 0;

  Source source_;       // empty for text held in memory
  std::string pulled_;  // a stream's text from `base_` on; window_ views it
  bool sourceEnded_ = false;
};

}  // namespace modrin::images
