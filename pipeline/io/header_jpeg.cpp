// The JPEG marker walk: the frame header's size and sampling, the scans, and
// whether the stream reaches its end marker.
#include <algorithm>

#include "io/header_formats.h"

namespace demosaic::header {
namespace {

// What the frame header says about the memory of decoding.
struct Frame {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  bool progressive = false;
  std::uint64_t coefficient_bytes = 0;  // the whole image's DCT coefficients
};

// A decoder that makes several passes keeps every coefficient of the image:
// 64 two-byte values per 8 x 8 block of each component, the blocks of a
// component rounded up to whole sampling units.
std::uint64_t CoefficientBytes(Bytes b, std::size_t at, std::uint64_t width, std::uint64_t height) {
  const std::uint64_t components = b[at + 7];
  if (!Has(b, at + 8, 3 * components)) return 0;
  std::uint64_t h_max = 1;
  std::uint64_t v_max = 1;
  for (std::uint64_t c = 0; c < components; ++c) {
    h_max = std::max<std::uint64_t>(h_max, b[at + 9 + 3 * c] >> 4);
    v_max = std::max<std::uint64_t>(v_max, b[at + 9 + 3 * c] & 15);
  }
  std::uint64_t bytes = 0;
  for (std::uint64_t c = 0; c < components; ++c) {
    const std::uint64_t h = std::max<std::uint64_t>(1, b[at + 9 + 3 * c] >> 4);
    const std::uint64_t v = std::max<std::uint64_t>(1, b[at + 9 + 3 * c] & 15);
    const std::uint64_t columns = (width * h + 8 * h_max - 1) / (8 * h_max);
    const std::uint64_t rows = (height * v + 8 * v_max - 1) / (8 * v_max);
    const std::uint64_t blocks = Mul((columns + h - 1) / h * h, (rows + v - 1) / v * v);
    bytes = Add(bytes, Mul(blocks, 128));
  }
  return bytes;
}

bool IsFrameHeader(unsigned marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace

JpegWalk WalkJpeg(Bytes b) {
  JpegWalk walk;
  std::optional<Frame> frame;
  std::size_t at = 2;  // past the start-of-image marker
  while (true) {
    // A decoder skips stray bytes up to the next 0xFF, then fill bytes.
    while (at < b.size() && b[at] != 0xFF) ++at;
    while (at < b.size() && b[at] == 0xFF) ++at;
    if (at >= b.size()) break;
    const unsigned marker = b[at++];
    if (marker == 0xD9) {
      walk.complete = true;
      break;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8) || marker == 0x00) continue;
    if (b.size() - at < 2) break;
    const std::size_t length = static_cast<std::size_t>(Big16(b, at));
    if (length < 2 || b.size() - at < length) break;
    if (IsFrameHeader(marker) && length >= 8 && !frame) {
      frame = Frame{Big16(b, at + 5), Big16(b, at + 3),
                    marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE, 0};
      frame->coefficient_bytes = CoefficientBytes(b, at, frame->width, frame->height);
    }
    at += length;
    if (marker == 0xDA) {
      ++walk.scans;
      // Entropy-coded data of the scan.
      while (at + 1 < b.size()) {
        if (b[at] == 0xFF && b[at + 1] != 0x00 && b[at + 1] != 0xFF &&
            !(b[at + 1] >= 0xD0 && b[at + 1] <= 0xD7)) {
          break;
        }
        ++at;
      }
      if (at + 1 >= b.size()) break;
    }
  }
  if (frame) {
    // The colour image, and as much again while the decoder turns it upright
    // as an Exif orientation asks.
    const bool multiple_passes = frame->progressive || walk.scans > 1;
    walk.size =
        Declared(frame->width, frame->height, 6, multiple_passes ? frame->coefficient_bytes : 0);
  }
  return walk;
}

}  // namespace demosaic::header
