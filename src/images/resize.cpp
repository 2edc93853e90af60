#include "images/resize.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace modrin::images {
namespace {

// How the target pixels along one axis are made of source pixels: target pixel i covers
// `count[i]` source pixels from `first[i]` on, each by its share in `weights` (from
// `offset[i]` on; the shares of one target pixel add up to 1).
struct AxisWeights {
  std::vector<int> first;
  std::vector<int> count;
  std::vector<std::size_t> offset;
  std::vector<float> weights;
};

// Measured in 1/target of a source pixel, target pixel i spans [i * source, (i + 1) * source)
// and source pixel j spans [j * target, (j + 1) * target), so every overlap is a whole number
// and the shares are exact whatever the ratio.
AxisWeights WeighAxis(int source, int target) {
  const std::int64_t s = source;
  const std::int64_t t = target;
  AxisWeights axis;
  for (std::int64_t i = 0; i < t; ++i) {
    const std::int64_t begin = i * s;
    const std::int64_t end = begin + s;
    const std::int64_t j0 = begin / t;
    const std::int64_t j1 = (end + t - 1) / t;
    axis.first.push_back(static_cast<int>(j0));
    axis.count.push_back(static_cast<int>(j1 - j0));
    axis.offset.push_back(axis.weights.size());
    for (std::int64_t j = j0; j < j1; ++j) {
      const std::int64_t overlap = std::min(end, (j + 1) * t) - std::max(begin, j * t);
      axis.weights.push_back(static_cast<float>(overlap) / static_cast<float>(s));
    }
  }
  return axis;
}

std::uint8_t ToByte(float value) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Averages one row of RGB values along x into `out` (3 bytes per target pixel).
void ResampleRow(const float* row, const AxisWeights& x, std::uint8_t* out) {
  for (std::size_t i = 0; i < x.first.size(); ++i) {
    const float* pixel = row + static_cast<std::size_t>(x.first[i]) * 3;
    const float* weight = x.weights.data() + x.offset[i];
    float r = 0, g = 0, b = 0;
    for (int k = 0; k < x.count[i]; ++k, pixel += 3) {
      r += weight[k] * pixel[0];
      g += weight[k] * pixel[1];
      b += weight[k] * pixel[2];
    }
    out[3 * i] = ToByte(r);
    out[3 * i + 1] = ToByte(g);
    out[3 * i + 2] = ToByte(b);
  }
}

}  // namespace

DecodedImage ResizeByAreaAveraging(const DecodedImage& source, int width, int height) {
  if (!source.IsValid() || width < 1 || height < 1) return {};
  const AxisWeights x = WeighAxis(source.width, width);
  const AxisWeights y = WeighAxis(source.height, height);
  DecodedImage result;
  result.width = width;
  result.height = height;
  result.pixels.resize(result.stride() * static_cast<std::size_t>(height));
  // Each target row is first averaged from whole source rows, then along x: the first pass
  // runs over contiguous bytes the compiler vectorizes, and the second over far fewer rows.
  std::vector<float> sum(source.stride());
  for (int i = 0; i < height; ++i) {
    std::fill(sum.begin(), sum.end(), 0.0f);
    for (int k = 0; k < y.count[i]; ++k) {
      const float weight = y.weights[y.offset[i] + k];
      const std::uint8_t* row =
          source.pixels.data() + static_cast<std::size_t>(y.first[i] + k) * source.stride();
      for (std::size_t c = 0; c < sum.size(); ++c) sum[c] += weight * row[c];
    }
    ResampleRow(sum.data(), x,
                result.pixels.data() + static_cast<std::size_t>(i) * result.stride());
  }
  return result;
}

}  // namespace modrin::images
