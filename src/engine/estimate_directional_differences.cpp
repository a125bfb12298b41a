// Directional colour-difference estimation: at every site, one R - G or B - G
// estimate along the row and one down the column, from the mosaic alone.
//
// Each estimate is the mean of the site's two nearest neighbours along the
// direction (rounded down) corrected by a quarter of the second difference of
// the site's own colour. At R and B sites that corrected mean estimates green
// and the stored value is sample - estimate; at green sites it estimates the
// neighbours' red or blue and the stored value is estimate - sample.
#include <cstring>
#include <vector>

#include "engine/engine.h"

namespace demosaic {
namespace {

// Two guard bytes on each side of a row copy, so columns -2 .. W + 1 exist.
constexpr std::int32_t kGuard = 2;

// A private copy of one mosaic row: position k (-2 <= k <= W + 1) is byte k + 2.
struct RowWindow {
  std::vector<std::uint8_t> bytes;
  std::uint8_t at(std::int32_t k) const { return bytes[static_cast<std::size_t>(k + kGuard)]; }
};

void CopyRow(ConstMosaicPlane mosaic, std::int32_t width, std::int32_t row, RowWindow& window) {
  std::memcpy(window.bytes.data() + kGuard, mosaic.data() + SiteIndex(row, 0, width),
              static_cast<std::size_t>(width));
}

// Mirrors the edge columns about the edge, the edge column not repeated:
// -1 <- 1, -2 <- 2, W <- W - 2, W + 1 <- W - 3.
void MirrorGuards(std::int32_t width, RowWindow& window) {
  std::uint8_t* at0 = window.bytes.data() + kGuard;
  at0[-1] = at0[1];
  at0[-2] = at0[2];
  at0[width] = at0[width - 2];
  at0[width + 1] = at0[width - 3];
}

// The quarter-unit estimate s - L / 4 - M as 4 * (s - M) - L, truncated toward
// zero when divided by 4 (C++ integer division truncates toward zero).
constexpr std::int32_t NativeMinusGreen(std::int32_t s, std::int32_t second_diff,
                                        std::int32_t mean) {
  return (4 * (s - mean) - second_diff) / 4;
}

}  // namespace

void EstimateDirectionalDifferences(ConstMosaicPlane mosaic, std::int32_t width,
                                    std::int32_t height, WorkingPlanes& planes) {
  const std::size_t window_bytes = static_cast<std::size_t>(width) + 2 * kGuard;
  RowWindow mid{std::vector<std::uint8_t>(window_bytes)};
  RowWindow up1{std::vector<std::uint8_t>(window_bytes)};
  RowWindow down1{std::vector<std::uint8_t>(window_bytes)};
  RowWindow up2{std::vector<std::uint8_t>(window_bytes)};
  RowWindow down2{std::vector<std::uint8_t>(window_bytes)};

  for (std::int32_t r = 0; r < height; ++r) {
    // A neighbour row outside the image is replaced by the row at the same
    // distance on the other side of row r; each test stands on its own.
    CopyRow(mosaic, width, r, mid);
    CopyRow(mosaic, width, r >= 1 ? r - 1 : r + 1, up1);
    CopyRow(mosaic, width, r + 1 < height ? r + 1 : r - 1, down1);
    CopyRow(mosaic, width, r >= 2 ? r - 2 : r + 2, up2);
    CopyRow(mosaic, width, r + 2 < height ? r + 2 : r - 2, down2);
    for (RowWindow* window : {&mid, &up1, &down1, &up2, &down2}) MirrorGuards(width, *window);

    // Even rows hold R - G along the row, odd rows B - G; even columns hold
    // B - G down the column, odd columns R - G.
    DiffPlane& horizontal = (r & 1) == 0 ? planes.RgH : planes.BgH;
    for (std::int32_t c = 0; c < width; ++c) {
      const std::int32_t s = mid.at(c);
      const std::int32_t lh = 2 * s - mid.at(c - 2) - mid.at(c + 2);
      const std::int32_t mh = (mid.at(c - 1) + mid.at(c + 1)) >> 1;
      const std::int32_t lv = 2 * s - up2.at(c) - down2.at(c);
      const std::int32_t mv = (up1.at(c) + down1.at(c)) >> 1;
      std::int32_t estimate_h = NativeMinusGreen(s, lh, mh);
      std::int32_t estimate_v = NativeMinusGreen(s, lv, mv);
      const CfaClass cls = CfaClassOf(r, c);
      if (cls == kGr || cls == kGb) {
        // At a green site the sign flips: (M + L / 4) - s.
        estimate_h = -estimate_h;
        estimate_v = -estimate_v;
      }
      DiffPlane& vertical = (c & 1) == 0 ? planes.BgV : planes.RgV;
      const std::size_t p = SiteIndex(r, c, width);
      horizontal[p] = estimate_h;
      vertical[p] = estimate_v;
    }
  }
}

}  // namespace demosaic
