// One run of the evaluation tool: the command line, the run order, the
// messages and the exit status.
#pragma once

#include <opencv2/core/mat.hpp>
#include <string>

namespace demosaic {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = -1;  // the shell sees 255

// The whole tool: argument check, load, evaluate. Returns the exit status.
int RunEvaluationTool(int argc, const char* const* argv);

// Everything after a successful load: sample, reconstruct, save to
// `output_path`, measure, print the report line. `reference` is 8-bit B, G, R
// with contiguous rows. Returns the exit status.
int EvaluateReference(const cv::Mat& reference, const std::string& reference_name,
                      const std::string& output_path);

}  // namespace demosaic
