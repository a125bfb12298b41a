// Library views of OpenCV matrices, without copying.
#pragma once

#include <opencv2/core/mat.hpp>

#include "demosaic/image.h"

namespace demosaic {

// Requires a CV_8UC3 (B, G, R) or CV_8UC1 matrix whose pixels within a row
// are contiguous, as every cv::Mat's are.
inline ConstImageView ImageViewOf(const cv::Mat& image) {
  return {image.ptr<std::uint8_t>(), image.cols, image.rows,
          static_cast<std::ptrdiff_t>(image.step[0]), ChannelOrder::kBGR};
}
inline ImageView MutableImageViewOf(cv::Mat& image) {
  return {image.ptr<std::uint8_t>(), image.cols, image.rows,
          static_cast<std::ptrdiff_t>(image.step[0]), ChannelOrder::kBGR};
}
// A mosaic's view carries the tile it was (or is to be) sampled through.
inline ConstMosaicView MosaicViewOf(const cv::Mat& mosaic, BayerPattern pattern) {
  return {mosaic.ptr<std::uint8_t>(), mosaic.cols, mosaic.rows,
          static_cast<std::ptrdiff_t>(mosaic.step[0]), pattern};
}
inline MosaicView MutableMosaicViewOf(cv::Mat& mosaic, BayerPattern pattern) {
  return {mosaic.ptr<std::uint8_t>(), mosaic.cols, mosaic.rows,
          static_cast<std::ptrdiff_t>(mosaic.step[0]), pattern};
}

// The same for 16-bit matrices (CV_16UC3, CV_16UC1); the stride is in
// samples, and the view carries `white_level`.
inline std::ptrdiff_t SampleStride(const cv::Mat& image) {
  return static_cast<std::ptrdiff_t>(image.step[0] / sizeof(std::uint16_t));
}
inline ConstImageView16 ImageView16Of(const cv::Mat& image, std::int32_t white_level) {
  return {image.ptr<std::uint16_t>(), image.cols,         image.rows,
          SampleStride(image),        ChannelOrder::kBGR, white_level};
}
inline ImageView16 MutableImageView16Of(cv::Mat& image, std::int32_t white_level) {
  return {image.ptr<std::uint16_t>(), image.cols,         image.rows,
          SampleStride(image),        ChannelOrder::kBGR, white_level};
}
inline ConstMosaicView16 MosaicView16Of(const cv::Mat& mosaic, BayerPattern pattern,
                                        std::int32_t white_level) {
  return {mosaic.ptr<std::uint16_t>(), mosaic.cols, mosaic.rows,
          SampleStride(mosaic),        pattern,     white_level};
}
inline MosaicView16 MutableMosaicView16Of(cv::Mat& mosaic, BayerPattern pattern,
                                          std::int32_t white_level) {
  return {mosaic.ptr<std::uint16_t>(), mosaic.cols, mosaic.rows,
          SampleStride(mosaic),        pattern,     white_level};
}

}  // namespace demosaic
