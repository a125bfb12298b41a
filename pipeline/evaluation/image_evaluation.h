// The evaluation of one reference by several methods, as demosaic-bench and
// the Python evaluation make it: one mosaic, each method's reconstruction of
// it, each measured by the same function over the same interior.
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

#include "demosaic/bayer.h"
#include "demosaic/quality.h"
#include "demosaic/reconstruct.h"
#include "evaluation/figures.h"
#include "evaluation/image_loading.h"
#include "evaluation/methods.h"

namespace demosaic {

struct EvaluationRequest {
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t border = kFrameWidth;
  std::vector<Method> methods{kAllMethods.begin(), kAllMethods.end()};
  MetricSet metrics;
};

struct MethodOutcome {
  MethodFigures figures;
  double milliseconds = 0.0;  // the reconstruction alone
  bool measured = true;       // false: no reconstruction to measure
};

struct ImageEvaluation {
  std::string skip_reason;  // empty when the image was measured
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<MethodOutcome> methods;  // in the request's order
};

// What an evaluation holds beyond the decoded reference: the mosaic, the
// reconstructions (one reused, or one per method when `keep_outputs`), the
// engine's row buffers and `extra_bytes_per_pixel` of the caller's own.
RunMemory EvaluationMemory(std::size_t method_count, bool keep_outputs,
                           std::size_t extra_bytes_per_pixel);

// Why a width x height reference cannot be measured with `border` and
// `metrics`, or "".
std::string SizeProblem(std::int32_t width, std::int32_t height, std::int32_t border,
                        const MetricSet& metrics);

// Samples the mosaic of `reference` (8-bit B, G, R) once and runs every
// requested method on it. When `outputs` is given it receives each method's
// reconstruction, in the request's order. Throws std::bad_alloc or
// cv::Exception when memory runs out.
std::vector<MethodOutcome> EvaluateMethods(const cv::Mat& reference,
                                           const EvaluationRequest& request,
                                           std::vector<cv::Mat>* outputs = nullptr);

// Loads the image at `path` and evaluates it; a file that cannot be loaded or
// measured comes back with its skip reason and no figures.
ImageEvaluation EvaluateImageFile(const std::string& path, const EvaluationRequest& request);

}  // namespace demosaic
