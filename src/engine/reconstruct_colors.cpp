// Difference interpolation and colour reconstruction: the fused differences
// are spread to the interior sites that lack them, and every interior pixel
// is rebuilt from its own mosaic sample and its two differences, inside a
// black frame 3 pixels wide.
//
// The fill reads only values that the fusion wrote (the row's own difference
// at its red or blue sites) and derives the others, so each derived
// difference is used at once to rebuild its pixel and never stored.
#include <algorithm>
#include <cstring>

#include "cfa/cfa_layout.h"
#include "demosaic/reconstruct.h"
#include "engine/stages.h"

namespace demosaic::engine {
namespace {

inline std::uint8_t Clamp8(std::int32_t v) {
  return static_cast<std::uint8_t>(std::min(std::max(v, 0), 255));
}

// Pixel layout of one row: where its own colour (red on a red row, blue on a
// blue row) and the other one go in the output's channel order.
struct PixelOffsets {
  int own;
  int other;
};

inline void PutPixel(std::uint8_t* pixel, PixelOffsets at, std::int32_t own, std::int32_t green,
                     std::int32_t other) {
  pixel[at.own] = Clamp8(own);
  pixel[1] = Clamp8(green);
  pixel[at.other] = Clamp8(other);
}

// The fused rows around an interior row: `above` and `below` hold the other
// colour's differences, `here` the row's own. Means are arithmetic right
// shifts, which round toward minus infinity also for negative sums.
struct FusedRows {
  const Diff* above;
  const Diff* here;
  const Diff* below;
};

// A green site: its own-colour neighbours lie left and right, the other
// colour's above and below.
inline void GreenSite(const std::uint8_t* samples, const FusedRows& f, std::int32_t c,
                      PixelOffsets at, std::uint8_t* pixel) {
  const std::int32_t x = samples[c];
  const std::int32_t d_own = (f.here[c - 1] + f.here[c + 1]) >> 1;
  const std::int32_t d_other = (f.above[c] + f.below[c]) >> 1;
  PutPixel(pixel, at, x + d_own, x, x + d_other);
}

// A red or blue site: its own difference was fused here; the other colour's
// lies on the four diagonals.
inline void ColourSite(const std::uint8_t* samples, const FusedRows& f, std::int32_t c,
                       PixelOffsets at, std::uint8_t* pixel) {
  const std::int32_t x = samples[c];
  const std::int32_t d_other =
      (f.above[c - 1] + f.above[c + 1] + f.below[c - 1] + f.below[c + 1]) >> 2;
  const std::int32_t green = x - f.here[c];
  PutPixel(pixel, at, x, green, green + d_other);
}

// Columns 3 .. W - 4 of one interior row, a pair at a time so that each
// lane's class is fixed: column 3 + 2k is green when kOddGreen.
template <bool kOddGreen>
void ReconstructRow(const std::uint8_t* __restrict samples, const FusedRows& f,
                    std::uint8_t* __restrict out, std::int32_t width, PixelOffsets at) {
  auto site = [&](std::int32_t c, bool green) {
    std::uint8_t* pixel = out + 3 * static_cast<std::ptrdiff_t>(c);
    if (green) {
      GreenSite(samples, f, c, at, pixel);
    } else {
      ColourSite(samples, f, c, at, pixel);
    }
  };
  const std::int32_t last = width - 1 - kFrameWidth;
  std::int32_t c = kFrameWidth;  // odd
  for (; c + 1 <= last; c += 2) {
    site(c, kOddGreen);
    site(c + 1, !kOddGreen);
  }
  if (c <= last) site(c, kOddGreen);
}

}  // namespace

void ReconstructColors(ConstMosaicView mosaic, BayerPattern pattern, std::int32_t first_row,
                       std::int32_t end_row, DiffRows fused, ImageView output) {
  const std::int32_t width = mosaic.width;
  const std::int32_t height = mosaic.height;
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(width);
  const std::size_t frame_bytes = 3 * static_cast<std::size_t>(kFrameWidth);
  for (std::int32_t r = first_row; r < end_row; ++r) {
    std::uint8_t* out = output.Row(r);
    const bool interior_row = r >= kFrameWidth && r < height - kFrameWidth;
    if (!interior_row || width < kMinimumSide) {
      std::memset(out, 0, row_bytes);
      continue;
    }
    std::memset(out, 0, frame_bytes);
    std::memset(out + row_bytes - frame_bytes, 0, frame_bytes);
    const RowLayout layout = LayoutOfRow(pattern, r);
    const PixelOffsets at = layout.red_row
                                ? PixelOffsets{RedOffset(output.order), BlueOffset(output.order)}
                                : PixelOffsets{BlueOffset(output.order), RedOffset(output.order)};
    const FusedRows f{fused.Row(r - 1), fused.Row(r), fused.Row(r + 1)};
    if (layout.green_parity == 1) {
      ReconstructRow<true>(mosaic.Row(r), f, out, width, at);
    } else {
      ReconstructRow<false>(mosaic.Row(r), f, out, width, at);
    }
  }
}

}  // namespace demosaic::engine
