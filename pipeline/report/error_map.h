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
// map; the `border`-wide frame left out of the measurement is black.
cv::Mat MakeErrorMap(const cv::Mat& reference, const cv::Mat& reconstruction, std::int32_t border);

}  // namespace demosaic
