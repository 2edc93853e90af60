#pragma once

#include "images/decoded_image.h"

namespace modrin::images {

// Resamples `source` to `width` x `height` pixels by area averaging: every target pixel is the
// mean of the source area it covers, source pixels that it covers only in part counted by the
// part covered, so any ratio (not only whole ones) keeps the picture's brightness and detail
// finer than a target pixel averages out instead of flickering as a nearest-pixel pick does.
// Meant for shrinking; enlarging repeats pixels and blends them only where target pixels
// straddle two. Each colour channel is averaged on its own; the result's format is Unknown.
// An invalid source or a size below 1 gives an invalid (empty) image.
DecodedImage ResizeByAreaAveraging(const DecodedImage& source, int width, int height);

}  // namespace modrin::images
