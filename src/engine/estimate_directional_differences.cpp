// Directional colour-difference estimation: at every site, one R - G or B - G
// estimate along the row and one down the column, from the mosaic alone.
//
// Each estimate is the mean of the site's two nearest neighbours along the
// direction (rounded down) corrected by a quarter of the second difference of
// the site's own colour. At R and B sites that corrected mean estimates green
// and the stored value is sample - estimate; at green sites it estimates the
// neighbours' red or blue and the stored value is estimate - sample.
//
// Beyond the image, columns mirror about the edge column (-1 -> 1, -2 -> 2,
// W -> W - 2, W + 1 -> W - 3) and rows about the current row (row r - k
// outside becomes r + k, and the other way round), each neighbour on its own.
#include "engine/engine.h"

namespace demosaic {
namespace {

// The quarter-unit estimate s - L / 4 - M, truncated toward zero, computed
// exactly as (4 * (s - M) - L) / 4 (integer division truncates toward zero).
// `sign` is +1 at R and B sites and -1 at green sites, where the estimate is
// the negation: M + L / 4 - s.
inline std::int32_t Estimate(std::int32_t sign, std::int32_t s, std::int32_t second_a,
                             std::int32_t second_b, std::int32_t first_a, std::int32_t first_b) {
  const std::int32_t second_difference = 2 * s - second_a - second_b;
  const std::int32_t mean = (first_a + first_b) >> 1;
  return sign * ((4 * (s - mean) - second_difference) / 4);
}

// Pointers to the five mosaic rows an output row reads.
struct RowNeighbourhood {
  const std::uint8_t* up2;
  const std::uint8_t* up1;
  const std::uint8_t* mid;
  const std::uint8_t* down1;
  const std::uint8_t* down2;
};

RowNeighbourhood RowsAround(ConstMosaicPlane mosaic, std::int32_t width, std::int32_t height,
                            std::int32_t r) {
  auto row = [&](std::int32_t k) { return mosaic.data() + SiteIndex(k, 0, width); };
  return RowNeighbourhood{row(r >= 2 ? r - 2 : r + 2), row(r >= 1 ? r - 1 : r + 1), row(r),
                          row(r + 1 < height ? r + 1 : r - 1), row(r + 2 < height ? r + 2 : r - 2)};
}

// Column index k of the row, mirrored about the edge column when outside.
inline std::int32_t MirrorColumn(std::int32_t k, std::int32_t width) {
  if (k < 0) return -k;
  if (k >= width) return 2 * (width - 1) - k;
  return k;
}

// Columns 2 .. W - 3 of one row, a pair (even, odd) at a time so that each
// lane's sign and vertical plane are fixed. The restrict-qualified pointers
// tell the compiler that the planes and the mosaic never overlap, which lets
// it vectorise the loop. Returns the first column not done.
std::int32_t EstimateInteriorColumns(const RowNeighbourhood& rows, std::int32_t width,
                                     std::int32_t sign_even, std::int32_t* __restrict horizontal,
                                     std::int32_t* __restrict vertical_even,
                                     std::int32_t* __restrict vertical_odd) {
  const std::uint8_t* __restrict up2 = rows.up2;
  const std::uint8_t* __restrict up1 = rows.up1;
  const std::uint8_t* __restrict mid = rows.mid;
  const std::uint8_t* __restrict down1 = rows.down1;
  const std::uint8_t* __restrict down2 = rows.down2;
  const std::int32_t sign_odd = -sign_even;
  std::int32_t c = 2;
  for (; c + 1 <= width - 3; c += 2) {
    const std::int32_t s0 = mid[c];
    const std::int32_t s1 = mid[c + 1];
    horizontal[c] = Estimate(sign_even, s0, mid[c - 2], mid[c + 2], mid[c - 1], s1);
    horizontal[c + 1] = Estimate(sign_odd, s1, mid[c - 1], mid[c + 3], s0, mid[c + 2]);
    vertical_even[c] = Estimate(sign_even, s0, up2[c], down2[c], up1[c], down1[c]);
    vertical_odd[c + 1] =
        Estimate(sign_odd, s1, up2[c + 1], down2[c + 1], up1[c + 1], down1[c + 1]);
  }
  return c;
}

}  // namespace

void EstimateDirectionalDifferences(ConstMosaicPlane mosaic, std::int32_t width,
                                    std::int32_t height, WorkingPlanes& planes) {
  for (std::int32_t r = 0; r < height; ++r) {
    const RowNeighbourhood rows = RowsAround(mosaic, width, height, r);
    const std::size_t row_start = SiteIndex(r, 0, width);
    // Even rows hold R - G along the row, odd rows B - G; even columns hold
    // B - G down the column, odd columns R - G. Green sites are the even
    // columns of even rows and the odd columns of odd rows.
    std::int32_t* horizontal = ((r & 1) == 0 ? planes.RgH : planes.BgH).data() + row_start;
    std::int32_t* vertical_even = planes.BgV.data() + row_start;
    std::int32_t* vertical_odd = planes.RgV.data() + row_start;
    const std::int32_t sign_even = (r & 1) == 0 ? -1 : 1;
    const std::int32_t sign_odd = -sign_even;

    // A site whose row neighbours may lie past the edge column.
    auto edge_site = [&](std::int32_t c) {
      const std::int32_t sign = (c & 1) == 0 ? sign_even : sign_odd;
      const std::int32_t s = rows.mid[c];
      horizontal[c] = Estimate(
          sign, s, rows.mid[MirrorColumn(c - 2, width)], rows.mid[MirrorColumn(c + 2, width)],
          rows.mid[MirrorColumn(c - 1, width)], rows.mid[MirrorColumn(c + 1, width)]);
      ((c & 1) == 0 ? vertical_even : vertical_odd)[c] =
          Estimate(sign, s, rows.up2[c], rows.down2[c], rows.up1[c], rows.down1[c]);
    };

    // Two columns at each edge reach past it; the columns in between need no
    // mirroring and go through the straight loop.
    edge_site(0);
    edge_site(1);
    const std::int32_t c =
        EstimateInteriorColumns(rows, width, sign_even, horizontal, vertical_even, vertical_odd);
    for (std::int32_t k = c; k < width; ++k) edge_site(k);
  }
}

}  // namespace demosaic
