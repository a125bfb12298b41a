// Reading and decoding a reference under the run's memory plan.
#include "evaluation/reference_loading.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "demosaic/reconstruct.h"
#include "io/image_files.h"
#include "io/image_header.h"
#include "io/memory.h"

namespace demosaic {
namespace {

constexpr std::size_t kDecodedBytesPerPixel = 3;

Failure FailureOf(LoadStatus status) {
  switch (status) {
    case LoadStatus::kUnreadable:
      return Failure::kUnreadable;
    case LoadStatus::kOutOfMemory:
      return Failure::kOutOfMemory;
    case LoadStatus::kLoaded:
      break;
  }
  return Failure::kNone;
}

}  // namespace

std::size_t RunBytes(const RunMemory& memory, std::uint64_t width, std::uint64_t height) {
  const std::size_t pixels = SaturatingProduct(width, height);
  const std::size_t per_pixel = memory.bytes_per_pixel + kDecodedBytesPerPixel;
  return SaturatingSum(SaturatingProduct(pixels, per_pixel),
                       SaturatingProduct(width, memory.bytes_per_column));
}

std::size_t MemoryLeft(const RunMemory& memory) {
  return std::min(AvailableMemoryBytes(), memory.ceiling);
}

std::size_t DecodeAndRunBytes(const RunMemory& memory, std::uint64_t width, std::uint64_t height,
                              std::uint64_t decoding_bytes) {
  const std::size_t decoding = SaturatingProduct(decoding_bytes, 1);
  return std::max(decoding, RunBytes(memory, width, height));
}

Failure DecodeReference(ImageSource& source, const RunMemory& memory, cv::Mat& reference) {
  // Checking only after decoding would already have committed gigabytes for
  // a small file that declares a huge image.
  if (const std::optional<DeclaredSize> declared = ReadDeclaredSize(source.bytes)) {
    if (DecodeAndRunBytes(memory, declared->width, declared->height, declared->decoding_bytes) >
        MemoryLeft(memory)) {
      return Failure::kOutOfMemory;
    }
  }
  cv::Mat decoded;
  if (const Failure failure = FailureOf(DecodeColorImage(source, decoded));
      failure != Failure::kNone) {
    return failure;
  }
  if (decoded.cols < kMinimumSide || decoded.rows < kMinimumSide) return Failure::kTooSmall;
  // Formats whose header was not read are checked now; the decoded image
  // itself is already held.
  const std::size_t rest = RunBytes(memory, static_cast<std::uint64_t>(decoded.cols),
                                    static_cast<std::uint64_t>(decoded.rows)) -
                           kDecodedBytesPerPixel * decoded.total();
  if (rest > MemoryLeft(memory)) return Failure::kOutOfMemory;
  reference = std::move(decoded);
  return Failure::kNone;
}

Failure LoadReference(const std::string& path, const RunMemory& memory, cv::Mat& reference) {
  ImageSource source;
  if (const Failure failure = FailureOf(OpenImageSource(path, MemoryLeft(memory), source));
      failure != Failure::kNone) {
    return failure;
  }
  return DecodeReference(source, memory, reference);
}

}  // namespace demosaic
