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

// One site of each class. `rg` and `bg` point at the site in the fused
// planes, `w` is the row stride. Means are arithmetic right shifts, which
// round toward minus infinity also for negative sums.
inline void GreenSite(std::int32_t x, std::int32_t* rg, std::int32_t* bg, std::ptrdiff_t rg_step,
                      std::ptrdiff_t bg_step, std::uint8_t* pixel) {
  const std::int32_t dr = (rg[-rg_step] + rg[rg_step]) >> 1;
  const std::int32_t db = (bg[-bg_step] + bg[bg_step]) >> 1;
  *rg = dr;
  *bg = db;
  PutPixel(pixel, x + dr, x, x + db);
}

// At an R site the diagonals carry B - G; at a B site they carry R - G.
inline std::int32_t DiagonalMean(const std::int32_t* d, std::ptrdiff_t w) {
  return (d[-w - 1] + d[-w + 1] + d[w - 1] + d[w + 1]) >> 2;
}

// One interior row, columns 3 .. W - 4, a pair of columns at a time so that
// both classes of the row are fixed per lane. A red row holds Gr sites at
// even columns and R sites at odd ones, a blue row B sites at even columns
// and Gb sites at odd ones.
template <bool kRedRow>
void ReconstructRow(const std::uint8_t* __restrict samples, std::int32_t* __restrict rg,
                    std::int32_t* __restrict bg, std::uint8_t* __restrict out, std::ptrdiff_t w,
                    std::int32_t width) {
  auto even_site = [&](std::int32_t c) {
    std::uint8_t* pixel = out + 3 * static_cast<std::ptrdiff_t>(c);
    if constexpr (kRedRow) {  // Gr: R left and right, B above and below
      GreenSite(samples[c], rg + c, bg + c, 1, w, pixel);
    } else {  // B: R on the diagonals
      const std::int32_t dr = DiagonalMean(rg + c, w);
      rg[c] = dr;
      const std::int32_t green = samples[c] - bg[c];
      PutPixel(pixel, green + dr, green, samples[c]);
    }
  };
  auto odd_site = [&](std::int32_t c) {
    std::uint8_t* pixel = out + 3 * static_cast<std::ptrdiff_t>(c);
    if constexpr (kRedRow) {  // R: B on the diagonals
      const std::int32_t db = DiagonalMean(bg + c, w);
      bg[c] = db;
      const std::int32_t green = samples[c] - rg[c];
      PutPixel(pixel, samples[c], green, green + db);
    } else {  // Gb: R above and below, B left and right
      GreenSite(samples[c], rg + c, bg + c, w, 1, pixel);
    }
  };
  const std::int32_t last = width - 1 - kMargin;
  std::int32_t c = kMargin;  // odd
  odd_site(c++);
  for (; c + 1 <= last; c += 2) {
    even_site(c);
    odd_site(c + 1);
  }
  if (c <= last) even_site(c);
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
    const std::uint8_t* samples = mosaic.data() + row_start;
    std::int32_t* rg = planes.RgFused.data() + row_start;
    std::int32_t* bg = planes.BgFused.data() + row_start;
    if ((r & 1) == 0) {
      ReconstructRow<true>(samples, rg, bg, out, width, width);
    } else {
      ReconstructRow<false>(samples, rg, bg, out, width, width);
    }
  }
}

}  // namespace demosaic
