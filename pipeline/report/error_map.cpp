// Drawing the error map.
#include "report/error_map.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace demosaic {

cv::Mat MakeErrorMap(const cv::Mat& reference, const cv::Mat& reconstruction, std::int32_t border) {
  cv::Mat levels(reference.rows, reference.cols, CV_8UC1);
  for (int r = 0; r < reference.rows; ++r) {
    const std::uint8_t* want = reference.ptr<std::uint8_t>(r);
    const std::uint8_t* got = reconstruction.ptr<std::uint8_t>(r);
    std::uint8_t* level = levels.ptr<std::uint8_t>(r);
    for (int c = 0; c < reference.cols; ++c) {
      const std::ptrdiff_t at = 3 * static_cast<std::ptrdiff_t>(c);
      double squares = 0.0;
      for (int k = 0; k < 3; ++k) {
        const int diff = int{want[at + k]} - int{got[at + k]};
        squares += static_cast<double>(diff * diff);
      }
      const double error = std::sqrt(squares / 3.0);
      level[c] = static_cast<std::uint8_t>(
          std::lround(std::min(error, kErrorMapFullScale) * 255.0 / kErrorMapFullScale));
    }
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
