// PGX, the one-component test format of the JPEG 2000 tool set: a text line
// "PG <ML|LM> [+|-] <depth> <width> <height>" ended by a newline, then width * height samples
// top row first, each of 1 byte (depth 1 to 8) or 2 bytes (9 to 16) in big-endian ("ML") or
// little-endian ("LM") order, unsigned ("+" or no sign) or two's complement ("-"). The grey
// levels are scaled to 8 bits and become RGB.

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

#include "images/image_decoders.h"

namespace modrin::images::detail {

namespace {

// The header line is short; a longer first line is not a PGX header.
constexpr std::size_t kMaxHeaderLine = 256;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The blank-separated words of a line; at most `capacity` of them (false when there are more).
bool SplitWords(std::string_view line, std::string_view* words, std::size_t capacity,
                std::size_t& count) {
  count = 0;
  std::size_t at = 0;
  for (;;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) return true;
    const std::size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    if (count == capacity) return false;
    words[count++] = line.substr(start, at - start);
  }
}

// A decimal number of at most 9 digits, without a sign.
bool ParseCount(std::string_view word, std::int64_t& value) {
  if (word.empty() || word.size() > 9) return false;
  const auto [end, status] = std::from_chars(word.data(), word.data() + word.size(), value);
  return status == std::errc() && end == word.data() + word.size() && word[0] != '-' &&
         word[0] != '+';
}

struct PgxHeader {
  bool bigEndian = true;
  bool isSigned = false;
  int depth = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::size_t dataStart = 0;  // the first byte after the header line
};

bool ParseHeader(Bytes bytes, PgxHeader& header) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()),
                              std::min(bytes.size(), kMaxHeaderLine));
  const std::size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return false;
  std::string_view words[7];
  std::size_t count = 0;
  if (!SplitWords(text.substr(0, newline), words, std::size(words), count) || count < 5 ||
      words[0] != "PG") {
    return false;
  }
  if (words[1] != "ML" && words[1] != "LM") return false;
  header.bigEndian = words[1] == "ML";
  // The sign stands alone or before the depth; without one the samples are unsigned.
  std::size_t next = 2;
  std::string_view depth = words[next];
  if (depth == "+" || depth == "-") {
    header.isSigned = depth == "-";
    depth = words[++next];
  } else if (depth[0] == '+' || depth[0] == '-') {
    header.isSigned = depth[0] == '-';
    depth.remove_prefix(1);
  }
  if (count != next + 3) return false;
  std::int64_t bits = 0;
  if (!ParseCount(depth, bits) || bits < 1 || bits > 16) return false;
  header.depth = static_cast<int>(bits);
  if (!ParseCount(words[next + 1], header.width) || !ParseCount(words[next + 2], header.height)) {
    return false;
  }
  header.dataStart = newline + 1;
  return true;
}

}  // namespace

bool IsPgxSignature(Bytes b) {
  // "PG", blanks, then the byte order.
  if (b.size() < 6 || b[0] != 'P' || b[1] != 'G' || !IsBlank(static_cast<char>(b[2]))) {
    return false;
  }
  std::size_t at = 2;
  while (at < b.size() && IsBlank(static_cast<char>(b[at]))) ++at;
  return b.size() - at >= 2 &&
         ((b[at] == 'M' && b[at + 1] == 'L') || (b[at] == 'L' && b[at + 1] == 'M'));
}

bool DecodePgx(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error) {
  PgxHeader header;
  if (!IsPgxSignature(bytes) || !ParseHeader(bytes, header)) {
    error = "corrupt PGX header: expected \"PG ML|LM [+|-] depth width height\"";
    return false;
  }
  if (!CheckPictureSize(header.width, header.height, bytes.size(), maxPixels, error)) {
    return false;
  }
  const std::size_t sampleBytes = header.depth > 8 ? 2 : 1;
  const auto samples = static_cast<std::size_t>(header.width * header.height);
  if (bytes.size() - header.dataStart < samples * sampleBytes) {
    error = "the PGX file is truncated";
    return false;
  }

  const std::int64_t maximum = (std::int64_t{1} << header.depth) - 1;
  // Signed samples are shifted up by half the range, so the most negative value is black.
  const std::int64_t offset = header.isSigned ? std::int64_t{1} << (header.depth - 1) : 0;
  std::vector<std::uint8_t> grey(std::size_t{1} << (8 * sampleBytes));
  for (std::size_t raw = 0; raw < grey.size(); ++raw) {
    std::int64_t value = static_cast<std::int64_t>(raw);
    if (header.isSigned && raw >= grey.size() / 2) {
      value -= static_cast<std::int64_t>(grey.size());  // two's complement
    }
    value = std::clamp<std::int64_t>(value + offset, 0, maximum);
    grey[raw] = static_cast<std::uint8_t>(
        header.depth >= 8 ? value >> (header.depth - 8) : (value * 255 + maximum / 2) / maximum);
  }

  const auto width = static_cast<int>(header.width);
  const auto height = static_cast<int>(header.height);
  BeginPixels(out, width, height);
  const std::uint8_t* sample = bytes.data() + header.dataStart;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = AppendRow(out);
    for (int x = 0; x < width; ++x, sample += sampleBytes) {
      std::size_t raw = sample[0];
      if (sampleBytes == 2) {
        raw = header.bigEndian ? raw << 8 | sample[1] : std::size_t{sample[1]} << 8 | raw;
      }
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = grey[raw];
    }
  }
  return true;
}

}  // namespace modrin::images::detail
