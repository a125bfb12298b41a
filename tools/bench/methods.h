// The demosaicing methods demosaic-bench compares: this project's method and
// OpenCV's bilinear and edge-aware Bayer conversions, all fed the same GRBG
// mosaic.
#pragma once

#include <array>
#include <opencv2/core/mat.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <string_view>

namespace demosaic::bench {

enum class Method { kMethod, kBilinear, kEdgeAware };

inline constexpr std::array<Method, 3> kAllMethods = {Method::kMethod, Method::kBilinear,
                                                      Method::kEdgeAware};

// The names used on the command line, in the table and in the CSV file.
std::string_view MethodName(Method method);
std::optional<Method> MethodFromName(std::string_view name);

// OpenCV's codes for our mosaic (G R on even rows, B G on odd rows, green at
// (0, 0)). OpenCV's legacy two-letter codes name the 2 x 2 tile that starts
// at (1, 1), so this layout is its "GB" pattern, which OpenCV 4.6 also spells
// GRBG after the top-left tile; the similar-looking COLOR_BayerGR2BGR would
// swap red and blue. bench_test checks this on flat colours.
inline constexpr int kBilinearCode = cv::COLOR_BayerGRBG2BGR;
inline constexpr int kEdgeAwareCode = cv::COLOR_BayerGRBG2BGR_EA;
static_assert(kBilinearCode == cv::COLOR_BayerGB2BGR && kEdgeAwareCode == cv::COLOR_BayerGB2BGR_EA);

// Reconstructs the 8-bit B, G, R image `output` from `mosaic` (CV_8UC1, one
// sample per site, contiguous). `output` is reused when it already has the
// mosaic's size and CV_8UC3, so that timing the call times the method alone.
// Throws std::bad_alloc or cv::Exception when memory runs out.
void Reconstruct(Method method, const cv::Mat& mosaic, cv::Mat& output);

}  // namespace demosaic::bench
