// One reference through the whole run, and where each failure is decided.
#include "pipeline/tool_run.h"

#include <new>
#include <opencv2/core.hpp>
#include <utility>
#include <vector>

#include "demosaic/reconstruct.h"
#include "io/image_files.h"
#include "pipeline/mat_views.h"
#include "pipeline/methods.h"

namespace demosaic {
namespace {

constexpr std::size_t kRunBytesPerPixel = 3 + 1 + 3;

// Everything after a successful load. The figures are computed before the
// file is encoded, so that the reference can be released first: the
// measurement reads the same pixels that are saved.
ToolRun RunOnReference(cv::Mat reference, const std::string& output_path) {
  ToolRun run;
  try {
    cv::Mat reconstruction(reference.rows, reference.cols, CV_8UC3);
    {
      const cv::Mat mosaic = SampleMosaicOf(reference, BayerPattern::kGRBG);
      ReconstructFromMosaic(MosaicViewOf(mosaic), MutableImageViewOf(reconstruction));
    }
    run.figures = ComputeQuality(ImageViewOf(reference), ImageViewOf(reconstruction));
    reference.release();
    run.saved = SaveImageAtomically(output_path, reconstruction);
  } catch (const std::bad_alloc&) {
    run.failure = Failure::kOutOfMemory;
  } catch (const cv::Exception& e) {
    // The library's own allocation failure; anything else is a fault that
    // the caller reports as such.
    if (e.code != cv::Error::StsNoMem) throw;
    run.failure = Failure::kOutOfMemory;
  }
  return run;
}

}  // namespace

RunMemory ToolRunMemory(std::size_t ceiling) {
  RunMemory memory;
  memory.bytes_per_pixel = kRunBytesPerPixel;
  memory.bytes_per_column = ReconstructionWorkingBytes(1);
  memory.ceiling = ceiling;
  return memory;
}

ToolRun RunTool(const std::string& reference_path, const std::string& output_path,
                std::size_t memory_ceiling) {
  if (IsSameFile(reference_path, output_path)) return {Failure::kOverwritesReference, {}, false};
  cv::Mat reference;
  if (const Failure failure =
          LoadReference(reference_path, ToolRunMemory(memory_ceiling), reference);
      failure != Failure::kNone) {
    return {failure, {}, false};
  }
  return RunOnReference(std::move(reference), output_path);
}

ToolRun RunToolOnBytes(std::span<const unsigned char> file, const std::string& output_path,
                       std::size_t memory_ceiling) {
  ImageSource source;
  switch (ImageSourceOfBytes(file, source)) {
    case LoadStatus::kUnreadable:
      return {Failure::kUnreadable, {}, false};
    case LoadStatus::kOutOfMemory:
      return {Failure::kOutOfMemory, {}, false};
    case LoadStatus::kLoaded:
      break;
  }
  cv::Mat reference;
  if (const Failure failure = DecodeReference(source, ToolRunMemory(memory_ceiling), reference);
      failure != Failure::kNone) {
    return {failure, {}, false};
  }
  return RunOnReference(std::move(reference), output_path);
}

}  // namespace demosaic
