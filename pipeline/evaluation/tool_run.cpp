// One reference through the whole run, and where each failure is decided.
#include "evaluation/tool_run.h"

#include <new>
#include <opencv2/core.hpp>
#include <utility>
#include <vector>

#include "demosaic/reconstruct.h"
#include "io/image_files.h"
#include "evaluation/mat_views.h"

namespace demosaic {
namespace {

// The encoded output, at most about the raw size (4 bytes a pixel leaves room
// for encoders' own buffers and files that do not compress): the
// reconstruction itself takes the decoded reference's place.
constexpr std::size_t kRunBytesPerPixel = 4;

// Everything after a successful load. The reference is replaced by its
// reconstruction row by row, each row measured against the original just
// before it is replaced: the figures are those of the pixels that are saved,
// and no second image or mosaic is ever held.
ToolRun RunOnReference(cv::Mat image, const std::string& output_path) {
  ToolRun run;
  try {
    run.figures = ReconstructInPlace(MutableImageViewOf(image), BayerPattern::kGRBG);
    run.saved = SaveImageAtomically(output_path, image);
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
