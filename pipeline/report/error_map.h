// The error map saved beside each reconstruction: where and how much a method
// got the colours wrong.
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>

namespace demosaic {

// The per-pixel error that reaches the top of the colour map, in 8-bit levels.
inline constexpr double kErrorMapFullScale = 32.0;

// For two 8-bit B, G, R images of one size: at every pixel the root of the
// mean of the three squared channel errors, scaled so that 0 is the bottom
// and kErrorMapFullScale or more the top of the perceptual viridis colour
// map; the `border`-wide frame left out of the measurement is black. Two
// 16-bit images (CV_16UC3) of white level `white_level` have their error
// taken to the 8-bit scale first (times 255 / white_level), so that a map
// reads the same whatever the depth. The map itself is 8-bit colour.
cv::Mat MakeErrorMap(const cv::Mat& reference, const cv::Mat& reconstruction, std::int32_t border,
                     std::int32_t white_level = 255);

// An 8-bit rendering of a 16-bit B, G, R image of white level `white_level`:
// every sample v becomes v * 255 / white_level rounded to nearest (halves
// up). An 8-bit image is returned as it is (not copied).
cv::Mat EightBitRendering(const cv::Mat& image, std::int32_t white_level);

}  // namespace demosaic
