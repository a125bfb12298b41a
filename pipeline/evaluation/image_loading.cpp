// Reading and decoding an image under the run's memory plan.
#include "evaluation/image_loading.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "demosaic/reconstruct.h"
#include "io/image_header.h"
#include "io/memory.h"

namespace demosaic {
namespace {

constexpr std::size_t kDecodedBytesPerPixel = 3;

std::string SizeText(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

Error WrongSize(std::uint64_t width, std::uint64_t height, cv::Size expected) {
  return {ErrorKind::kUnreadable, "is " + SizeText(width, height) + ", the reference " +
                                      SizeText(static_cast<std::uint64_t>(expected.width),
                                               static_cast<std::uint64_t>(expected.height))};
}

}  // namespace

std::size_t RunBytes(const RunMemory& memory, std::uint64_t width, std::uint64_t height) {
  const std::size_t pixels = SaturatingProduct(width, height);
  const std::size_t per_pixel = SaturatingProduct(memory.bytes_per_pixel + kDecodedBytesPerPixel,
                                                  std::max<std::size_t>(memory.sample_bytes, 1));
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

Expected<cv::Mat> LoadImage(ImageSource& source, const LoadRequest& request) {
  const RunMemory& memory = request.memory;
  // Checking only after decoding would already have committed gigabytes for
  // a small file that declares a huge image.
  if (const std::optional<DeclaredSize> declared = ReadDeclaredSize(source.bytes)) {
    const cv::Size* expected = request.expected_size ? &*request.expected_size : nullptr;
    if (expected != nullptr && (declared->width != static_cast<std::uint64_t>(expected->width) ||
                                declared->height != static_cast<std::uint64_t>(expected->height))) {
      return WrongSize(declared->width, declared->height, *expected);
    }
    // The file's bytes stay held while they are decoded: in memory, or in
    // the unnamed file they are copied to (both at once while copying).
    const std::size_t file = source.bytes.size();
    const std::size_t held = DecodesFromMemory(source.bytes) ? file : SaturatingSum(file, file);
    const std::size_t decoding =
        SaturatingSum(SaturatingProduct(declared->decoding_bytes, 1), held);
    if (DecodeAndRunBytes(memory, declared->width, declared->height, decoding) >
        MemoryLeft(memory)) {
      return Error{ErrorKind::kOutOfMemory, ""};
    }
  }
  Expected<cv::Mat> decoded = DecodeColorImage(source, request.keep_16_bit);
  if (!decoded.ok()) return decoded;
  const cv::Mat& image = decoded.value();
  // Counted at the depth the image came out at: an 8-bit image read where
  // 16-bit ones are kept needs no more than at 8 bits.
  RunMemory decoded_memory = memory;
  decoded_memory.sample_bytes = image.elemSize1();
  if (request.expected_size && image.size() != *request.expected_size) {
    return WrongSize(static_cast<std::uint64_t>(image.cols), static_cast<std::uint64_t>(image.rows),
                     *request.expected_size);
  }
  if (!request.expected_size && (image.cols < kMinimumSide || image.rows < kMinimumSide)) {
    return Error{ErrorKind::kTooSmall, ""};
  }
  // Formats whose header was not read are checked now; the decoded image
  // itself is already held.
  const std::size_t rest = RunBytes(decoded_memory, static_cast<std::uint64_t>(image.cols),
                                    static_cast<std::uint64_t>(image.rows)) -
                           image.total() * image.elemSize();
  if (rest > MemoryLeft(memory)) return Error{ErrorKind::kOutOfMemory, ""};
  return decoded;
}

Expected<cv::Mat> LoadImageFile(const std::string& path, const LoadRequest& request) {
  Expected<ImageSource> source = OpenImageSource(path, MemoryLeft(request.memory));
  if (!source.ok()) return Error{source.error().kind, "cannot be read"};
  return LoadImage(source.value(), request);
}

}  // namespace demosaic
