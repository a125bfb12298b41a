// Images the tests make up: uniform noise (every pixel independent, the
// hardest case for any demosaicing method) and a smooth scene with an edge
// (photo-like: finite, distinct figures per method).
#pragma once

#include <cstdint>
#include <opencv2/core.hpp>

namespace demosaic::testing {

inline cv::Mat Noise(int width, int height, std::uint64_t seed) {
  cv::Mat image(height, width, CV_8UC3);
  cv::RNG rng(seed);
  rng.fill(image, cv::RNG::UNIFORM, 0, 256);
  return image;
}

// Smooth colour ramps with a diagonal edge.
inline cv::Mat Scene(int width, int height) {
  cv::Mat image(height, width, CV_8UC3);
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      const bool edge = c > r + width / 4;
      image.at<cv::Vec3b>(r, c) =
          cv::Vec3b(static_cast<std::uint8_t>(40 + (r * 3) % 150),
                    static_cast<std::uint8_t>(edge ? 200 : 60 + c % 90),
                    static_cast<std::uint8_t>(edge ? 30 + (c + r) % 120 : 220 - r % 100));
    }
  }
  return image;
}

}  // namespace demosaic::testing
