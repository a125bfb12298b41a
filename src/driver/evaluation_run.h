// One run of the evaluation tool: the command line, the run order, the
// messages and the exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>

namespace demosaic {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = -1;  // the shell sees 255

// Images need at least 7 rows and 7 columns to have an interior; smaller ones
// are refused with a message.
inline constexpr std::int32_t kMinimumSide = 7;
bool IsLargeEnough(std::int32_t width, std::int32_t height);

// Peak memory of a run on a W x H reference once it is decoded: the
// reconstruction, the mosaic, the engine's planes and the encoded output.
// Saturates at SIZE_MAX.
std::size_t RunBytesNeeded(std::uint64_t width, std::uint64_t height);

// The whole tool: argument check, load, evaluate. Returns the exit status.
int RunEvaluationTool(int argc, const char* const* argv);

// Everything after a successful load: sample, reconstruct, save to
// `output_path`, measure, print the report line. `reference` is 8-bit B, G, R
// with contiguous rows. Returns the exit status.
int EvaluateReference(const cv::Mat& reference, const std::string& reference_name,
                      const std::string& output_path);

// The run from the reference file's bytes on: when the header tells the
// size, a run that would not fit in memory is refused before decoding; then
// decode and EvaluateReference. Returns the exit status.
int EvaluateEncodedReference(std::span<const unsigned char> file, const std::string& reference_name,
                             const std::string& output_path);

}  // namespace demosaic
