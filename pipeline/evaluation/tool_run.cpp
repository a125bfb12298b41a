// One reference through the whole run, and where each failure is decided.
#include "evaluation/tool_run.h"

#include <new>
#include <opencv2/core.hpp>
#include <utility>
#include <vector>

#include "demosaic/reconstruct.h"
#include "evaluation/mat_views.h"
#include "io/image_files.h"

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
    run.figures = ReconstructInPlace(MutableImageViewOf(image));
    run.saved = SaveImageAtomically(output_path, image).ok();
  } catch (...) {
    // Anything but running out of memory is a fault that the caller
    // reports as such.
    run.status = OutOfMemoryOrRethrow();
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
  if (IsSameFile(reference_path, output_path)) {
    return {Error{ErrorKind::kOverwritesReference, ""}, {}, false};
  }
  Expected<cv::Mat> reference =
      LoadImageFile(reference_path, {ToolRunMemory(memory_ceiling), std::nullopt});
  if (!reference.ok()) return {reference.error(), {}, false};
  return RunOnReference(std::move(reference).value(), output_path);
}

ToolRun RunToolOnBytes(std::span<const unsigned char> file, const std::string& output_path,
                       std::size_t memory_ceiling) {
  Expected<ImageSource> source = ImageSourceOfBytes(file);
  if (!source.ok()) return {source.error(), {}, false};
  Expected<cv::Mat> reference =
      LoadImage(source.value(), {ToolRunMemory(memory_ceiling), std::nullopt});
  if (!reference.ok()) return {reference.error(), {}, false};
  return RunOnReference(std::move(reference).value(), output_path);
}

}  // namespace demosaic
