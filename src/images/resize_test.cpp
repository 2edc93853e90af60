#include "images/resize.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

namespace modrin::images {
namespace {

// Each target pixel of a grey line (a row, or turned, a column) is the mean of what it covers.
TEST(ResizeByAreaAveraging, EachTargetPixelIsTheMeanOfTheAreaItCovers) {
  const std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> cases[] = {
      {{0, 255}, {128}},                      // 127.5 rounds up
      {{10, 20, 30, 40}, {15, 35}},           // a whole ratio
      {{0, 90, 180}, {30, 150}},              // 3 to 2: the middle pixel split in halves
      {{0, 30, 60, 90, 120}, {12, 60, 108}},  // 5 to 3: shares of 3/5, 2/5 and 1/5
      {{0, 255}, {0, 128, 255}},              // enlarging blends where a pixel straddles two
      {{7, 9, 11}, {7, 9, 11}},
  };
  for (const auto& [source, expected] : cases) {
    for (const bool column : {false, true}) {
      const int n = static_cast<int>(source.size()), m = static_cast<int>(expected.size());
      DecodedImage line = DecodedImage::Filled(column ? 1 : n, column ? n : 1, 0);
      for (std::size_t i = 0; i < line.pixels.size(); ++i) line.pixels[i] = source[i / 3];
      const DecodedImage result = ResizeByAreaAveraging(line, column ? 1 : m, column ? m : 1);
      ASSERT_EQ(result.width * result.height, m);
      std::vector<std::uint8_t> green;
      for (std::size_t i = 1; i < result.pixels.size(); i += 3) green.push_back(result.pixels[i]);
      EXPECT_EQ(green, expected) << source.size() << (column ? " in a column" : " in a row");
    }
  }
  EXPECT_FALSE(ResizeByAreaAveraging(DecodedImage{}, 4, 4).IsValid());
}

// A photo's size to a texture's, quickly, each channel on its own: a constant picture stays
// constant and a fine checker averages to mid grey.
TEST(ResizeByAreaAveraging, KeepsChannelsApartAndAveragesDetailAway) {
  DecodedImage source = DecodedImage::Filled(1600, 1200, 0);
  for (std::size_t i = 0; i < source.pixels.size(); i += 3) {
    source.pixels[i] = 255;
    source.pixels[i + 1] = 77;
    source.pixels[i + 2] = ((i / 3) % 1600 + (i / 3) / 1600) % 2 ? 255 : 0;
  }
  const auto start = std::chrono::steady_clock::now();
  const DecodedImage result = ResizeByAreaAveraging(source, 256, 193);
  // Far below a second even in a sanitizer build; a plain build takes some 5 ms.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_EQ(result.pixels.size(), 256u * 193u * 3u);
  for (std::size_t i = 0; i < result.pixels.size(); i += 3) {
    ASSERT_EQ(result.pixels[i], 255) << i;
    ASSERT_EQ(result.pixels[i + 1], 77) << i;
    ASSERT_NEAR(result.pixels[i + 2], 128, 1) << i;
  }
  EXPECT_FALSE(ResizeByAreaAveraging(source, 0, 4).IsValid());
  EXPECT_FALSE(ResizeByAreaAveraging(source, 4, -1).IsValid());
}

}  // namespace
}  // namespace modrin::images
