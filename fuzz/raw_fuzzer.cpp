// libFuzzer target for camera raw files: arbitrary bytes, as if read from a
// raw reference, go through the unpacking, the half-size reference and the
// black-subtracted mosaic the bench and demosaic-develop take from it. Every
// input must end in a clean refusal, or in values that keep what the raw
// reader promises: every buffer of the size it says, no sample above its
// white level.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "io/raw_file.h"

namespace {

// Runs as on a machine with 16 MiB to spare, as the file fuzzer does: large
// sensors are refused before they are unpacked.
constexpr std::size_t kMemoryCeiling = std::size_t{16} << 20;

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "raw fuzzer: %s\n", what);
  std::abort();
}

bool SamplesWithin(const cv::Mat& image, std::int32_t white_level) {
  for (int r = 0; r < image.rows; ++r) {
    const auto* row = image.ptr<std::uint16_t>(r);
    for (int k = 0; k < image.cols * image.channels(); ++k) {
      if (row[k] > white_level) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace demosaic;
  Expected<ImageSource> source = ImageSourceOfBytes(std::span<const unsigned char>(data, size));
  if (!source.ok()) return 0;
  RunMemory memory;
  memory.bytes_per_pixel = 6;
  memory.ceiling = kMemoryCeiling;
  const Expected<RawMosaic> unpacked = UnpackRawFile(source.value(), memory);
  if (!unpacked.ok()) {
    const ErrorKind kind = unpacked.error().kind;
    Check(kind == ErrorKind::kUnreadable || kind == ErrorKind::kOutOfMemory,
          "a refusal of another kind");
    return 0;
  }
  const RawMosaic& raw = unpacked.value();
  Check(raw.width > 0 && raw.height > 0, "an empty visible area taken");
  Check(raw.samples.size() ==
            static_cast<std::size_t>(raw.width) * static_cast<std::size_t>(raw.height),
        "samples not the visible area's");
  Check(raw.black_rows > 0 && raw.black_columns > 0 && raw.black_rows % 2 == 0 &&
            raw.black_columns % 2 == 0,
        "a black pattern of odd or empty size");
  Check(raw.black_levels.size() == static_cast<std::size_t>(raw.black_rows) *
                                       static_cast<std::size_t>(raw.black_columns),
        "black levels not the pattern's");
  Check(raw.white_level > SmallestBlackLevel(raw), "a white level not above the black");

  const std::int32_t white = raw.white_level - SmallestBlackLevel(raw);
  const Expected<DeepImage> reference = HalfSizeReference(raw, RawWhiteBalance::kNone);
  if (reference.ok()) {
    const cv::Mat& image = reference.value().image;
    Check(image.type() == CV_16UC3 && image.cols == raw.width / 2 && image.rows == raw.height / 2,
          "a half-size reference of another size");
    Check(reference.value().white_level == white, "a reference of another white level");
    Check(SamplesWithin(image, white), "a reference sample above the white level");
  }
  const Expected<cv::Mat> mosaic = BlackSubtractedMosaic(raw);
  if (mosaic.ok()) {
    Check(mosaic.value().cols == raw.width && mosaic.value().rows == raw.height,
          "a mosaic of another size");
    Check(SamplesWithin(mosaic.value(), white), "a mosaic sample above the white level");
  }
  return 0;
}
