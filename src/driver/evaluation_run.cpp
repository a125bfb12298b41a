// The run of demosaic-eval: check the arguments, load the reference, sample
// its mosaic, reconstruct, save, measure and report.
#include "driver/evaluation_run.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "cfa/cfa.h"
#include "driver/image_files.h"
#include "driver/image_header.h"
#include "engine/engine.h"
#include "quality/quality.h"

namespace demosaic {
namespace {

// The tool's messages on standard output carry no line end.
int Fail(const char* message) {
  std::fputs(message, stdout);
  std::fflush(stdout);
  return kExitFailure;
}

// The message of a reference that could not be read or decoded.
int FailToLoad(LoadStatus status) {
  return Fail(status == LoadStatus::kOutOfMemory ? "Not enough memory."
                                                 : "Error in image reading.");
}

// a * b, or SIZE_MAX when that does not fit.
std::size_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product) || product > SIZE_MAX) return SIZE_MAX;
  return static_cast<std::size_t>(product);
}

std::size_t SaturatingSum(std::size_t a, std::size_t b) {
  return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

}  // namespace

bool IsLargeEnough(std::int32_t width, std::int32_t height) {
  return width >= kMinimumSide && height >= kMinimumSide;
}

std::size_t RunBytesNeeded(std::uint64_t width, std::uint64_t height) {
  const std::size_t sites = SaturatingProduct(width, height);
  // Past these sizes the sums below could wrap; no such run fits anyway.
  if (width > INT32_MAX || height > INT32_MAX || sites > SIZE_MAX / 64) return SIZE_MAX;
  // The reconstruction and the encoded file (at most about the raw size),
  // 3 bytes a site each, the mosaic 1, and the engine's own planes.
  return 7 * sites + ReconstructionWorkingBytes(static_cast<std::int32_t>(width),
                                                static_cast<std::int32_t>(height));
}

int EvaluateReference(const cv::Mat& reference, const std::string& reference_name,
                      const std::string& output_path) {
  const std::int32_t width = reference.cols;
  const std::int32_t height = reference.rows;
  if (!IsLargeEnough(width, height)) {
    return Fail("Image too small: at least 7 x 7 pixels are needed.");
  }
  // Past what the system can give, the kernel would kill the process rather
  // than let an allocation fail: refuse before allocating instead.
  if (RunBytesNeeded(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height)) >
      AvailableMemoryBytes()) {
    return Fail("Not enough memory.");
  }

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

int EvaluateEncodedReference(std::span<const unsigned char> file, const std::string& reference_name,
                             const std::string& output_path) {
  // The decoded reference (3 bytes a pixel) and the run after it must fit
  // together; checking only after decoding would already have committed
  // gigabytes for a small file that declares a huge image.
  if (const std::optional<DeclaredSize> declared = ReadDeclaredSize(file)) {
    const std::size_t decoded =
        SaturatingProduct(SaturatingProduct(declared->width, declared->height), 3);
    if (SaturatingSum(decoded, RunBytesNeeded(declared->width, declared->height)) >
        AvailableMemoryBytes()) {
      return Fail("Not enough memory.");
    }
  }
  cv::Mat reference;
  if (const LoadStatus status = DecodeColorImage(file, reference); status != LoadStatus::kLoaded) {
    return FailToLoad(status);
  }
  return EvaluateReference(reference, reference_name, output_path);
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
  std::vector<unsigned char> file;
  if (const LoadStatus status = ReadFileContents(reference_path, file);
      status != LoadStatus::kLoaded) {
    return FailToLoad(status);
  }
  return EvaluateEncodedReference(file, reference_path, output_path);
}

}  // namespace demosaic
