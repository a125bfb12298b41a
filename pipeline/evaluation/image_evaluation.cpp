// One reference through every requested method.
#include "evaluation/image_evaluation.h"

#include <chrono>
#include <new>
#include <opencv2/core.hpp>

#include "evaluation/failure.h"
#include "evaluation/mat_views.h"

namespace demosaic {

RunMemory EvaluationMemory(std::size_t method_count, bool keep_outputs,
                           std::size_t extra_bytes_per_pixel) {
  RunMemory memory;
  const std::size_t outputs = keep_outputs ? method_count : 1;
  memory.bytes_per_pixel = 1 + 3 * outputs + extra_bytes_per_pixel;
  memory.bytes_per_column = ReconstructionWorkingBytes(1);
  return memory;
}

std::string SizeProblem(std::int32_t width, std::int32_t height, std::int32_t border,
                        const MetricSet& metrics) {
  if (width < kMinimumSide || height < kMinimumSide) {
    return SkipReason(Error{ErrorKind::kTooSmall, ""});
  }
  const std::int64_t side = 2 * std::int64_t{border} + MinimumMeasuredSide(metrics);
  if (width < side || height < side) {
    const std::string needed =
        "at least " + std::to_string(side) + " x " + std::to_string(side) + " pixels are needed";
    if (width >= 2 * std::int64_t{border} + 1 && height >= 2 * std::int64_t{border} + 1) {
      const std::string what =
          metrics.ssim ? "SSIM's 11 x 11 window" : "the zipper figure's 3 x 3 neighbourhood";
      return "too small for " + what + " with --border " + std::to_string(border) + ": " + needed;
    }
    return "too small for --border " + std::to_string(border) + ": " + needed;
  }
  return "";
}

std::vector<MethodOutcome> EvaluateMethods(const cv::Mat& reference,
                                           const EvaluationRequest& request,
                                           std::vector<cv::Mat>* outputs) {
  const cv::Mat mosaic = SampleMosaicOf(reference, request.pattern);
  std::vector<MethodOutcome> outcomes;
  cv::Mat output;
  for (const Method method : request.methods) {
    if (outputs != nullptr) {
      // A fresh image for each kept output, its pages touched before the
      // clock starts: the time is the method's, not the system's page faults.
      output = cv::Mat(reference.rows, reference.cols, CV_8UC3, cv::Scalar::all(0));
    }
    const auto start = std::chrono::steady_clock::now();
    Reconstruct(method, request.pattern, mosaic, output);
    const auto stop = std::chrono::steady_clock::now();
    MethodOutcome outcome;
    outcome.milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
    outcome.figures = MeasureFigures(ImageViewOf(reference), ImageViewOf(output), request.border,
                                     request.metrics);
    outcomes.push_back(outcome);
    if (outputs != nullptr) outputs->push_back(output);
  }
  return outcomes;
}

ImageEvaluation EvaluateImageFile(const std::string& path, const EvaluationRequest& request) {
  ImageEvaluation evaluation;
  Expected<cv::Mat> loaded =
      LoadImageFile(path, {EvaluationMemory(request.methods.size(), false, 0), std::nullopt});
  if (!loaded.ok()) {
    evaluation.skip_reason = SkipReason(loaded.error());
    return evaluation;
  }
  const cv::Mat& reference = loaded.value();
  evaluation.width = reference.cols;
  evaluation.height = reference.rows;
  evaluation.skip_reason =
      SizeProblem(reference.cols, reference.rows, request.border, request.metrics);
  if (!evaluation.skip_reason.empty()) return evaluation;
  try {
    evaluation.methods = EvaluateMethods(reference, request);
  } catch (...) {
    evaluation.skip_reason = SkipReason(OutOfMemoryOrRethrow());
  }
  return evaluation;
}

}  // namespace demosaic
