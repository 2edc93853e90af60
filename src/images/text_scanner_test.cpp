#include "images/text_scanner.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>

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
