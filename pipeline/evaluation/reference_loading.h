// Loading a reference image for evaluation, with the memory check made
// before decoding whenever the file's header declares its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>

#include "io/image_files.h"
#include "evaluation/failure.h"

namespace demosaic {

// What the caller's run needs once the reference is decoded, so that a run
// that cannot fit is refused before anything large is allocated.
struct RunMemory {
  std::size_t bytes_per_pixel = 0;   // images and buffers the size of the reference
  std::size_t bytes_per_column = 0;  // row buffers, independent of the height
  // Never count on more than this, whatever the system reports (a fuzzer
  // plays a smaller machine with it).
  std::size_t ceiling = SIZE_MAX;
};

// Bytes of a run on a width x height reference: the decoded reference
// (3 bytes a pixel) and what `memory` adds. Saturates at SIZE_MAX.
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

// Decodes `source` into `reference` (8-bit B, G, R, contiguous rows). Refuses
// with kOutOfMemory, before decoding, a file whose header declares a size
// whose decoding or run does not fit, and after decoding any run that does
// not fit; kTooSmall for an image under kMinimumSide on a side; kUnreadable
// when the file does not decode. Releases the source's bytes before
// decoding. `reference` is set only on kNone.
Failure DecodeReference(ImageSource& source, const RunMemory& memory, cv::Mat& reference);

// Reads the file at `path` (kUnreadable for a directory, a device or a
// missing file) and decodes it as DecodeReference does; the file is closed
// and its bytes released before returning.
Failure LoadReference(const std::string& path, const RunMemory& memory, cv::Mat& reference);

}  // namespace demosaic
