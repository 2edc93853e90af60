#include "images/text_scanner.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace modrin::images {
namespace {

TEST(TextScanner, NumbersAreReadAsScanfReadsThemInTheCLocale) {
  std::int32_t value = 0;
  double number = 0;
  for (const char* text : {"2147483648", "-2147483649", "99999999999999999999", "-", "+x"}) {
    TextScanner in(text);
    EXPECT_TRUE(!in.ReadInt(value) && in.Position() == 0) << text;
  }
  for (const char* text : {"1e999", "--1", "+", ".", "e5"}) {
    EXPECT_FALSE(TextScanner(text).ReadDouble(number)) << text;
  }
  TextScanner in(" -2147483648 +2147483647 -0 1.5e3x -INF -nan 0x10");
  EXPECT_TRUE(in.ReadInt(value) && value == std::numeric_limits<std::int32_t>::min());
  EXPECT_TRUE(in.ReadInt(value) && value == std::numeric_limits<std::int32_t>::max());
  EXPECT_TRUE(in.ReadDouble(number) && number == 0 && std::signbit(number));
  EXPECT_TRUE(in.ReadDouble(number) && number == 1500 && in.MatchLiteral("x"));
  EXPECT_TRUE(in.ReadDouble(number) && std::isinf(number) && number < 0);
  EXPECT_TRUE(in.ReadDouble(number) && std::isnan(number) && std::signbit(number));
  EXPECT_TRUE(in.ReadDouble(number) && number == 0 && in.MatchLiteral("x10"));
}

TEST(TextScanner, WhiteSpaceInAPatternMatchesAnyRunIncludingNone) {
  TextScanner in("Cell  \n\tWidth :x");
  EXPECT_TRUE(in.MatchLiteral("Cell Width : "));
  EXPECT_TRUE(in.MatchLiteral("x"));
  EXPECT_TRUE(in.AtEnd());
  // A failed pattern keeps what it matched before the mismatch, as scanf does.
  TextScanner partial("Cell Height");
  EXPECT_FALSE(partial.MatchLiteral("Cell Width"));
  EXPECT_EQ(partial.Position(), 5u);
}

// A source that gives `text` one byte at a time, so every read crosses pieces.
TextScanner::Source ByteByByte(std::string text) {
  return [text = std::move(text), at = std::size_t{0}](char* buffer, std::size_t size) mutable {
    if (at == text.size() || size == 0) return std::size_t{0};
    buffer[0] = text[at++];
    return std::size_t{1};
  };
}

TEST(TextScanner, StreamReadsAsTextInMemory) {
  const std::string text = "  -12 3.25e2x tok\tR(1.5,-2) \"quoted path\" z";
  TextScanner streamed(ByteByByte(text));
  TextScanner memory(text);
  for (TextScanner* in : {&streamed, &memory}) {
    std::int32_t i = 0;
    double d = 0;
    std::string_view piece;
    char c = 0;
    EXPECT_TRUE(in->ReadInt(i) && i == -12);
    EXPECT_TRUE(in->ReadDouble(d) && d == 325 && in->MatchLiteral("x"));
    EXPECT_TRUE(in->ReadToken(piece) && piece == "tok");
    EXPECT_TRUE(in->MatchLiteral(" R(") && in->ReadDouble(d) && d == 1.5);
    EXPECT_TRUE(in->MatchLiteral(",") && in->ReadInt(i) && i == -2 && in->MatchLiteral(") \""));
    EXPECT_TRUE(in->ReadUntil('"', piece) && piece == "quoted path" && in->NextIs('"'));
    EXPECT_TRUE(in->ReadChar(c) && c == '"' && in->MatchLiteral(" z") && in->AtEnd());
    EXPECT_EQ(in->Position(), text.size());
  }
}

TEST(TextScanner, LineOnlyReadingStopsAtTheNewline) {
  TextScanner in("1: U  \n2");
  in.SetLineOnly(true);
  std::int32_t id = 0;
  std::string_view token;
  EXPECT_TRUE(in.ReadInt(id) && in.MatchLiteral(": ") && in.ReadToken(token) && token == "U");
  in.SkipWhitespace();
  EXPECT_TRUE(in.AtEnd());
  EXPECT_FALSE(in.ReadToken(token) || in.ReadInt(id) || in.MatchLiteral(" 2"));
  in.SetLineOnly(false);
  EXPECT_TRUE(in.ReadInt(id) && id == 2 && in.AtEnd());
}

TEST(TextScanner, HoldGoesBackWithinItsLimit) {
  const std::string text = "Modrin fil x";
  TextScanner in(ByteByByte(text));
  in.Hold();
  EXPECT_FALSE(in.MatchLiteral("Modrin file"));
  in.Rewind();
  EXPECT_EQ(in.Position(), 0u);
  EXPECT_TRUE(in.MatchLiteral("Modrin fil x"));

  // While held, text beyond the limit counts as the end, so a hold cannot gather a stream.
  const std::string blanks = "a" + std::string(TextScanner::kMaxHeld + 10, ' ') + "b";
  TextScanner far(blanks);
  far.Hold();
  EXPECT_FALSE(far.MatchLiteral("a b"));
  far.Release();
  EXPECT_TRUE(far.MatchLiteral(" b") && far.AtEnd());
}

TEST(TextScanner, OverlongNumbersAreNotRead) {
  const std::string digits(TextScanner::kMaxNumberLength + 1, '1');
  std::int32_t i = 0;
  double d = 0;
  TextScanner ints(ByteByByte(digits));
  EXPECT_FALSE(ints.ReadInt(i));
  EXPECT_EQ(ints.Position(), 0u);
  TextScanner reals(ByteByByte("0." + digits));
  EXPECT_FALSE(reals.ReadDouble(d));
  // Within the limit, long forms still read.
  const std::string longest = "0." + std::string(TextScanner::kMaxNumberLength - 3, '5') + " ";
  TextScanner fits(longest);
  EXPECT_TRUE(fits.ReadDouble(d) && d > 0.55 && d < 0.56);
}

TEST(TextScanner, ProcessLocaleDoesNotChangeNumbers) {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8 locale";
  double number = 0;
  TextScanner in("0.005760");
  const bool read = in.ReadDouble(number);
  std::setlocale(LC_ALL, "C");
  EXPECT_TRUE(read && number == 0.00576 && in.AtEnd());
}

}  // namespace
}  // namespace modrin::images
