// The demosaicing methods the evaluation runs: this project's method and
// OpenCV's bilinear and edge-aware Bayer conversions, all fed one mosaic.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <optional>
#include <string_view>

#include "demosaic/bayer.h"

namespace demosaic {

enum class Method { kDirectional, kBilinear, kEdgeAware };

inline constexpr std::array<Method, 3> kAllMethods = {Method::kDirectional, Method::kBilinear,
                                                      Method::kEdgeAware};

// The names used on the command line, in tables and in CSV files: "method",
// "bilinear", "edge-aware".
std::string_view MethodName(Method method);
std::optional<Method> MethodFromName(std::string_view name);

// OpenCV's conversion code for a mosaic of `pattern`. OpenCV's two-letter
// codes name the tile by its second row and column (its GB code is our GRBG);
// the four-letter aliases used here name it from the top-left site, as we do.
int OpenCvBayerCode(Method method, BayerPattern pattern);

// OpenCV's Bayer conversions index their output with 32-bit integers: an
// output of 2^31 bytes or more (about 27000 x 27000 pixels) makes them write
// out of bounds. Larger images are converted in bands of rows below this
// size, each with kBandMargin rows of context on either side (more than the
// conversions' neighbourhoods reach), which gives the same pixels as one
// call would.
inline constexpr std::size_t kMaxBayerCallBytes = std::size_t{1} << 30;
inline constexpr int kBandMargin = 4;

// Converts `mosaic` (CV_8UC1 or CV_16UC1) with the OpenCV Bayer conversion
// `code` into the B, G, R `output` of the mosaic's depth, in bands of rows
// where the whole would reach `max_call_bytes` of output. Requires
// max_call_bytes to hold a few rows.
void ConvertBayerInBands(const cv::Mat& mosaic, cv::Mat& output, int code,
                         std::size_t max_call_bytes);

// Reconstructs the B, G, R image `output` from `mosaic`: 8-bit from CV_8UC1,
// 16-bit from CV_16UC1 whose samples are within `white_level` (the method
// clamps to it; OpenCV's conversions, which only average samples, stay
// within it). Both OpenCV conversions take 16-bit mosaics. `output` is reused
// when it already has the mosaic's size and type, so that timing the call
// times the method alone. Runs on the calling thread only. Throws
// std::bad_alloc or cv::Exception when memory runs out.
void Reconstruct(Method method, BayerPattern pattern, const cv::Mat& mosaic, cv::Mat& output,
                 std::int32_t white_level = 255);

// The mosaic `pattern` samples from a B, G, R reference: CV_8UC1 from 8-bit,
// CV_16UC1 carrying `white_level` from 16-bit.
cv::Mat SampleMosaicOf(const cv::Mat& reference, BayerPattern pattern,
                       std::int32_t white_level = 255);

}  // namespace demosaic
