// Drawing the error map.
#include "report/error_map.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace demosaic {

namespace {

// Each pixel's error level, 0 .. 255 for 0 .. kErrorMapFullScale on the
// 8-bit scale: errors of `Sample`s of white level `white_level`.
template <class Sample>
void ErrorLevels(const cv::Mat& reference, const cv::Mat& reconstruction, std::int32_t white_level,
                 cv::Mat& levels) {
  const bool eight_bit = sizeof(Sample) == 1;
  for (int r = 0; r < reference.rows; ++r) {
    const Sample* want = reference.ptr<Sample>(r);
    const Sample* got = reconstruction.ptr<Sample>(r);
    std::uint8_t* level = levels.ptr<std::uint8_t>(r);
    for (int c = 0; c < reference.cols; ++c) {
      const std::ptrdiff_t at = 3 * static_cast<std::ptrdiff_t>(c);
      double squares = 0.0;
      for (int k = 0; k < 3; ++k) {
        const std::int64_t diff = std::int64_t{want[at + k]} - std::int64_t{got[at + k]};
        squares += static_cast<double>(diff * diff);
      }
      double error = std::sqrt(squares / 3.0);
      if (!eight_bit) error = error * 255.0 / white_level;
      level[c] = static_cast<std::uint8_t>(
          std::lround(std::min(error, kErrorMapFullScale) * 255.0 / kErrorMapFullScale));
    }
  }
}

}  // namespace

cv::Mat EightBitRendering(const cv::Mat& image, std::int32_t white_level) {
  if (image.depth() != CV_16U) return image;
  cv::Mat rendering(image.rows, image.cols, CV_MAKETYPE(CV_8U, image.channels()));
  const std::int64_t white = white_level;
  const int samples = image.cols * image.channels();
  for (int r = 0; r < image.rows; ++r) {
    const std::uint16_t* in = image.ptr<std::uint16_t>(r);
    std::uint8_t* out = rendering.ptr<std::uint8_t>(r);
    for (int x = 0; x < samples; ++x) {
      const std::int64_t scaled = (std::int64_t{in[x]} * 255 * 2 + white) / (2 * white);
      out[x] = static_cast<std::uint8_t>(std::min<std::int64_t>(scaled, 255));
    }
  }
  return rendering;
}

cv::Mat MakeErrorMap(const cv::Mat& reference, const cv::Mat& reconstruction, std::int32_t border,
                     std::int32_t white_level) {
  cv::Mat levels(reference.rows, reference.cols, CV_8UC1);
  if (reference.depth() == CV_16U) {
    ErrorLevels<std::uint16_t>(reference, reconstruction, white_level, levels);
  } else {
    ErrorLevels<std::uint8_t>(reference, reconstruction, 255, levels);
  }
  cv::Mat map;
  cv::applyColorMap(levels, map, cv::COLORMAP_VIRIDIS);
  // Black (outside the colour map) marks the pixels no figure includes.
  const cv::Scalar black(0, 0, 0);
  const int rows = std::min(border, map.rows);
  const int cols = std::min(border, map.cols);
  map.rowRange(0, rows).setTo(black);
  map.rowRange(map.rows - rows, map.rows).setTo(black);
  map.colRange(0, cols).setTo(black);
  map.colRange(map.cols - cols, map.cols).setTo(black);
  return map;
}

}  // namespace demosaic
