// Difference interpolation and colour reconstruction: the fused differences
// are spread to the interior sites that lack them, then every pixel is rebuilt
// from its own mosaic sample and its two differences, inside a black frame.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/engine.h"

namespace demosaic {
namespace {

constexpr std::int32_t kMargin = 3;

std::uint8_t Clamp8(std::int32_t v) {
  return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// Gives every interior site both differences. Means are arithmetic right
// shifts (floor, also for negative sums). Every value read was written by the
// fusion stage, and nothing written here is read here.
void FillDifferences(std::int32_t width, std::int32_t height, WorkingPlanes& planes) {
  const std::ptrdiff_t w = width;
  std::int32_t* rg = planes.RgFused.data();
  std::int32_t* bg = planes.BgFused.data();
  for (std::int32_t r = kMargin; r <= height - 1 - kMargin; ++r) {
    for (std::int32_t c = kMargin; c <= width - 1 - kMargin; ++c) {
      const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(SiteIndex(r, c, width));
      switch (CfaClassOf(r, c)) {
        case kGr:  // R to the left and right, B above and below
          rg[p] = (rg[p - 1] + rg[p + 1]) >> 1;
          bg[p] = (bg[p - w] + bg[p + w]) >> 1;
          break;
        case kR:  // B on the diagonals
          bg[p] = (bg[p - w - 1] + bg[p - w + 1] + bg[p + w - 1] + bg[p + w + 1]) >> 2;
          break;
        case kB:  // R on the diagonals
          rg[p] = (rg[p - w - 1] + rg[p - w + 1] + rg[p + w - 1] + rg[p + w + 1]) >> 2;
          break;
        case kGb:  // R above and below, B to the left and right
          rg[p] = (rg[p - w] + rg[p + w]) >> 1;
          bg[p] = (bg[p - 1] + bg[p + 1]) >> 1;
          break;
      }
    }
  }
}

}  // namespace

void ReconstructColors(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                       std::int32_t height, WorkingPlanes& planes) {
  FillDifferences(width, height, planes);

  const std::size_t row_bytes = 3 * static_cast<std::size_t>(width);
  std::vector<std::uint8_t> row(row_bytes);
  for (std::int32_t r = 0; r < height; ++r) {
    std::fill(row.begin(), row.end(), std::uint8_t{0});
    if (r >= kMargin && r <= height - 1 - kMargin) {
      for (std::int32_t c = kMargin; c <= width - 1 - kMargin; ++c) {
        const std::size_t p = SiteIndex(r, c, width);
        const std::int32_t x = mosaic[p];
        const std::int32_t dr = planes.RgFused[p];
        const std::int32_t db = planes.BgFused[p];
        std::int32_t red = 0;
        std::int32_t green = 0;
        std::int32_t blue = 0;
        switch (CfaClassOf(r, c)) {
          case kGr:
          case kGb:
            red = x + dr;
            green = x;
            blue = x + db;
            break;
          case kR:
            red = x;
            green = x - dr;
            blue = green + db;
            break;
          case kB:
            green = x - db;
            red = green + dr;
            blue = x;
            break;
        }
        std::uint8_t* pixel = row.data() + 3 * static_cast<std::size_t>(c);
        pixel[kChannelB] = Clamp8(blue);
        pixel[kChannelG] = Clamp8(green);
        pixel[kChannelR] = Clamp8(red);
      }
    }
    std::memcpy(output.data() + row_bytes * static_cast<std::size_t>(r), row.data(), row_bytes);
  }
}

}  // namespace demosaic
