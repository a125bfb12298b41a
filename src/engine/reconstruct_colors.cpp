// Difference interpolation and colour reconstruction: the fused differences
// are spread to the interior sites that lack them, then every pixel is rebuilt
// from its own mosaic sample and its two differences, inside a black frame
// 3 pixels wide.
//
// The fill reads only values that the fusion stage wrote (R - G at R sites,
// B - G at B sites) and writes only the other sites, so filling and rebuilding
// one row at a time gives the same result as filling the whole interior first,
// with one pass over the planes instead of two.
#include <algorithm>
#include <cstring>

#include "engine/engine.h"

namespace demosaic {
namespace {

constexpr std::int32_t kMargin = 3;

inline std::uint8_t Clamp8(std::int32_t v) {
  return static_cast<std::uint8_t>(std::min(std::max(v, 0), 255));
}

inline void PutPixel(std::uint8_t* pixel, std::int32_t red, std::int32_t green, std::int32_t blue) {
  pixel[kChannelB] = Clamp8(blue);
  pixel[kChannelG] = Clamp8(green);
  pixel[kChannelR] = Clamp8(red);
}

// One interior row: `rg` and `bg` point at the row's start in the fused
// planes, `stride` is W. Means are arithmetic right shifts, which round
// toward minus infinity also for negative sums.
void ReconstructRow(const std::uint8_t* __restrict samples, std::int32_t* __restrict rg,
                    std::int32_t* __restrict bg, std::uint8_t* __restrict out,
                    std::ptrdiff_t stride, std::int32_t width, bool red_row) {
  const std::ptrdiff_t w = stride;
  for (std::int32_t c = kMargin; c <= width - 1 - kMargin; ++c) {
    const std::int32_t x = samples[c];
    std::uint8_t* pixel = out + 3 * static_cast<std::ptrdiff_t>(c);
    const bool even_column = (c & 1) == 0;
    if (red_row && even_column) {  // Gr: R left and right, B above and below
      const std::int32_t dr = (rg[c - 1] + rg[c + 1]) >> 1;
      const std::int32_t db = (bg[c - w] + bg[c + w]) >> 1;
      rg[c] = dr;
      bg[c] = db;
      PutPixel(pixel, x + dr, x, x + db);
    } else if (red_row) {  // R: B on the diagonals
      const std::int32_t db = (bg[c - w - 1] + bg[c - w + 1] + bg[c + w - 1] + bg[c + w + 1]) >> 2;
      bg[c] = db;
      const std::int32_t green = x - rg[c];
      PutPixel(pixel, x, green, green + db);
    } else if (even_column) {  // B: R on the diagonals
      const std::int32_t dr = (rg[c - w - 1] + rg[c - w + 1] + rg[c + w - 1] + rg[c + w + 1]) >> 2;
      rg[c] = dr;
      const std::int32_t green = x - bg[c];
      PutPixel(pixel, green + dr, green, x);
    } else {  // Gb: R above and below, B left and right
      const std::int32_t dr = (rg[c - w] + rg[c + w]) >> 1;
      const std::int32_t db = (bg[c - 1] + bg[c + 1]) >> 1;
      rg[c] = dr;
      bg[c] = db;
      PutPixel(pixel, x + dr, x, x + db);
    }
  }
}

}  // namespace

void ReconstructColors(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                       std::int32_t height, WorkingPlanes& planes) {
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(width);
  const std::size_t frame_bytes = 3 * static_cast<std::size_t>(kMargin);
  for (std::int32_t r = 0; r < height; ++r) {
    std::uint8_t* out = output.data() + row_bytes * static_cast<std::size_t>(r);
    const bool interior_row = r >= kMargin && r <= height - 1 - kMargin;
    if (!interior_row || width <= 2 * kMargin) {
      std::memset(out, 0, row_bytes);
      continue;
    }
    std::memset(out, 0, frame_bytes);
    std::memset(out + row_bytes - frame_bytes, 0, frame_bytes);
    const std::size_t row_start = SiteIndex(r, 0, width);
    ReconstructRow(mosaic.data() + row_start, planes.RgFused.data() + row_start,
                   planes.BgFused.data() + row_start, out, width, width, (r & 1) == 0);
  }
}

}  // namespace demosaic
