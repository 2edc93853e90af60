#include "images/resize.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

namespace modrin::images {
namespace {

// A grey picture of one row (or, transposed, one column) with the given levels.
DecodedImage GreyLine(const std::vector<std::uint8_t>& levels, bool column) {
  const int n = static_cast<int>(levels.size());
  DecodedImage image = DecodedImage::Filled(column ? 1 : n, column ? n : 1, 0);
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) image.pixels[3 * static_cast<std::size_t>(i) + c] = levels[i];
  }
  return image;
}

std::vector<std::uint8_t> RedChannel(const DecodedImage& image) {
  std::vector<std::uint8_t> red;
  for (std::size_t i = 0; i < image.pixels.size(); i += 3) red.push_back(image.pixels[i]);
  return red;
}

TEST(ResizeByAreaAveraging, EachTargetPixelIsTheMeanOfTheAreaItCovers) {
  struct Case {
    std::vector<std::uint8_t> source;
    std::vector<std::uint8_t> expected;
  };
  const Case cases[] = {
      {{0, 255}, {128}},                      // 127.5 rounds up
      {{10, 20, 30, 40}, {15, 35}},           // whole ratio
      {{0, 90, 180}, {30, 150}},              // 3 -> 2: the middle pixel is split in halves
      {{0, 30, 60, 90, 120}, {12, 60, 108}},  // 5 -> 3: shares of 3/5, 2/5 and 1/5
      {{200}, {200, 200, 200}},               // enlarging repeats
      {{0, 255}, {0, 128, 255}},              // and blends where a target pixel straddles two
      {{7, 9, 11}, {7, 9, 11}},               // the same size changes nothing
  };
  for (const Case& c : cases) {
    for (bool column : {false, true}) {
      const int n = static_cast<int>(c.expected.size());
      const DecodedImage result =
          ResizeByAreaAveraging(GreyLine(c.source, column), column ? 1 : n, column ? n : 1);
      ASSERT_EQ(result.width, column ? 1 : n);
      ASSERT_EQ(result.height, column ? n : 1);
      EXPECT_EQ(RedChannel(result), c.expected) << c.source.size() << " column " << column;
    }
  }
}

TEST(ResizeByAreaAveraging, KeepsAConstantPictureAndTheChannelsApart) {
  DecodedImage source = DecodedImage::Filled(1600, 1200, 0);
  for (std::size_t i = 0; i < source.pixels.size(); i += 3) {
    source.pixels[i] = 255;
    source.pixels[i + 1] = 77;
  }
  const auto start = std::chrono::steady_clock::now();
  const DecodedImage result = ResizeByAreaAveraging(source, 256, 193);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(result.width, 256);
  ASSERT_EQ(result.height, 193);
  ASSERT_EQ(result.pixels.size(), 256u * 193u * 3u);
  for (std::size_t i = 0; i < result.pixels.size(); i += 3) {
    ASSERT_EQ(result.pixels[i], 255) << i;
    ASSERT_EQ(result.pixels[i + 1], 77) << i;
    ASSERT_EQ(result.pixels[i + 2], 0) << i;
  }
  // A photo is shrunk for every texture of a web page; a second would be far too slow even in a
  // sanitizer build.
  EXPECT_LT(elapsed, std::chrono::seconds(1));
}

TEST(ResizeByAreaAveraging, AFineCheckerAveragesToMidGrey) {
  DecodedImage checker = DecodedImage::Filled(64, 48, 0);
  for (int y = 0; y < 48; ++y) {
    for (int x = (y % 2); x < 64; x += 2) {
      for (int c = 0; c < 3; ++c) checker.pixels[(y * 64 + x) * 3 + c] = 255;
    }
  }
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {5, 7}, {32, 24}};
  for (const auto& [w, h] : sizes) {
    for (std::uint8_t level : RedChannel(ResizeByAreaAveraging(checker, w, h))) {
      EXPECT_NEAR(level, 128, 1) << w << "x" << h;
    }
  }
}

TEST(ResizeByAreaAveraging, RefusesSizesBelowOnePixel) {
  const DecodedImage source = DecodedImage::Filled(4, 4, 9);
  EXPECT_FALSE(ResizeByAreaAveraging(source, 0, 4).IsValid());
  EXPECT_FALSE(ResizeByAreaAveraging(source, 4, -1).IsValid());
  EXPECT_FALSE(ResizeByAreaAveraging(DecodedImage{}, 4, 4).IsValid());
}

}  // namespace
}  // namespace modrin::images
