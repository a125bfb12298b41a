// The run of demosaic-eval: check the arguments, load the reference, sample
// its mosaic, reconstruct, save, measure and report.
#include "driver/evaluation_run.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <opencv2/core.hpp>
#include <vector>

#include "cfa/cfa.h"
#include "driver/image_files.h"
#include "engine/engine.h"
#include "quality/quality.h"

namespace demosaic {
namespace {

constexpr int kMinimumSide = 7;  // the smallest image with an interior

// The tool's messages on standard output carry no line end.
int Fail(const char* message) {
  std::fputs(message, stdout);
  std::fflush(stdout);
  return kExitFailure;
}

// Bytes the run still has to allocate once the reference is loaded: the
// reconstruction, the mosaic, the engine's planes and the encoded file (at
// most about the raw size).
std::size_t BytesStillNeeded(std::int32_t width, std::int32_t height) {
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  return 3 * sites + sites + ReconstructionWorkingBytes(width, height) + 3 * sites;
}

}  // namespace

int EvaluateReference(const cv::Mat& reference, const std::string& reference_name,
                      const std::string& output_path) {
  const std::int32_t width = reference.cols;
  const std::int32_t height = reference.rows;
  if (width < kMinimumSide || height < kMinimumSide) {
    return Fail("Image too small: at least 7 x 7 pixels are needed.");
  }
  // Past what the system can give, the kernel would kill the process rather
  // than let an allocation fail: refuse before allocating instead.
  if (BytesStillNeeded(width, height) > AvailableMemoryBytes()) return Fail("Not enough memory.");

  bool saved = false;
  QualityTotals figures;
  try {
    const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // Every byte of the reconstruction is written by the engine.
    cv::Mat reconstruction(height, width, CV_8UC3);
    std::vector<std::uint8_t> mosaic(sites);
    const ConstColorImage reference_pixels(reference.ptr<std::uint8_t>(), 3 * sites);
    const ColorImage output_pixels(reconstruction.ptr<std::uint8_t>(), 3 * sites);

    SampleMosaic(reference_pixels, width, height, mosaic);
    ReconstructFromMosaic(output_pixels, mosaic, width, height);
    saved = SaveImageAtomically(output_path, reconstruction);
    MeasureQuality(reference_pixels, output_pixels, width, height);
    figures = Totals();
  } catch (const std::bad_alloc&) {
    return Fail("Not enough memory.");
  } catch (const cv::Exception&) {
    return Fail("Not enough memory.");  // the library's allocation failure
  }

  std::fputs(FormatReportLine(reference_name, figures).c_str(), stdout);
  std::fflush(stdout);
  if (!saved) {
    std::fputs("Error in image writing.\n", stderr);
    return kExitFailure;
  }
  return kExitSuccess;
}

int RunEvaluationTool(int argc, const char* const* argv) {
  if (argc != 3) {
    std::fputs("usage: demosaic-eval REFERENCE OUTPUT\n", stderr);
    return Fail("wrong argument number.");
  }
  const std::string reference_path = argv[1];
  const std::string output_path = argv[2];
  if (IsSameFile(reference_path, output_path)) {
    return Fail("Output would overwrite the reference.");
  }
  cv::Mat reference;
  switch (LoadColorImage(reference_path, reference)) {
    case LoadStatus::kLoaded:
      break;
    case LoadStatus::kUnreadable:
      return Fail("Error in image reading.");
    case LoadStatus::kOutOfMemory:
      return Fail("Not enough memory.");
  }
  return EvaluateReference(reference, reference_path, output_path);
}

}  // namespace demosaic
