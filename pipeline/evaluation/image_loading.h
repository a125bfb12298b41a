// Loading an image for evaluation, a reference or another method's
// reconstruction alike, with the memory check made before decoding whenever
// the file's header declares its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <optional>
#include <string>

#include "io/image_files.h"
#include "io/status.h"

namespace demosaic {

// What the caller's run needs once the image is decoded, so that a run that
// cannot fit is refused before anything large is allocated.
struct RunMemory {
  std::size_t bytes_per_pixel = 0;   // images and buffers the size of the reference
  std::size_t bytes_per_column = 0;  // row buffers, independent of the height
  // Bytes of one sample: 2 for 16-bit images, every per-pixel figure
  // (the decoded image's included) counted that many times.
  std::size_t sample_bytes = 1;
  // Never count on more than this, whatever the system reports (a fuzzer
  // plays a smaller machine with it; the bench gives each job its share).
  std::size_t ceiling = SIZE_MAX;
};

// Bytes of a run on a width x height image: the decoded image (3 samples a
// pixel) and what `memory` adds. Saturates at SIZE_MAX.
std::size_t RunBytes(const RunMemory& memory, std::uint64_t width, std::uint64_t height);

// The memory the run may count on now: the system's figure within the
// ceiling.
std::size_t MemoryLeft(const RunMemory& memory);

// Bytes of decoding a file that declares `width` x `height` and needs
// `decoding_bytes` to decode, then running on it: decoding's peak or the
// run's, whichever is larger (the decoder's buffers are gone before the run
// allocates). Saturates at SIZE_MAX.
std::size_t DecodeAndRunBytes(const RunMemory& memory, std::uint64_t width, std::uint64_t height,
                              std::uint64_t decoding_bytes);

// How references are read: every format reduced to 8 bits, or 16-bit
// integer samples kept at 16 bits (8-bit and floating-point samples are still
// read at 8 bits).
enum class SampleDepth { kEight, kNative };

struct LoadRequest {
  RunMemory memory;
  // Set for another method's reconstruction, which must have its
  // reference's size; unset for a reference, which must be at least
  // kMinimumSide on each side.
  std::optional<cv::Size> expected_size;
  // Keep 16-bit integer samples at 16 bits (DecodeColorImage's keep_16_bit);
  // the memory plan then counts memory.sample_bytes until the decoded depth
  // is known, and that depth's bytes after.
  bool keep_16_bit = false;
};

// Decodes `source` (8-bit B, G, R, contiguous rows; 16-bit ones kept as
// such with request.keep_16_bit). Errors:
// - kOutOfMemory, before decoding, for a file whose header declares a size
//   whose decoding (with the file's own bytes) or run does not fit, and
//   after decoding for any run that does not fit;
// - kUnreadable when the file does not decode, or (detail "is W x H, the
//   reference W x H") when a reconstruction's size is not the one expected,
//   told from the header before decoding where it can be;
// - kTooSmall for a reference under kMinimumSide on a side.
// The memory check before decoding counts the source's bytes, which are
// held while they are decoded, and released once decoded.
Expected<cv::Mat> LoadImage(ImageSource& source, const LoadRequest& request);

// Reads the file at `path` (kUnreadable with the detail "cannot be read" for
// a directory, a device or a missing file; kOutOfMemory for a file larger
// than the memory left) and loads it as LoadImage does; the file is closed
// and its bytes released before returning.
Expected<cv::Mat> LoadImageFile(const std::string& path, const LoadRequest& request);

}  // namespace demosaic
