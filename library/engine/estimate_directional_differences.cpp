// Directional colour-difference estimation: at every site, one difference
// estimated along the row and one down the column, from the mosaic alone.
//
// Each estimate is the mean of the site's two nearest neighbours along the
// direction (rounded down) corrected by a quarter of the second difference of
// the site's own colour. At red and blue sites that corrected mean estimates
// green and the stored value is sample - estimate; at green sites it
// estimates the neighbours' red or blue and the stored value is
// estimate - sample.
//
// Beyond the image, columns mirror about the edge column (-1 -> 1, -2 -> 2,
// W -> W - 2, W + 1 -> W - 3) and rows about the current row (row r - k
// outside becomes r + k, and the other way round), each neighbour on its own.
//
// One template serves 8-bit and 16-bit samples: the arithmetic is the same in
// 32-bit integers, and only the stored type differs (16-bit differences for
// 8-bit samples, 32-bit ones for 16-bit samples, whose estimates reach about
// 1.5 * 65535 in magnitude).
#include "cfa/cfa_layout.h"
#include "engine/simd.h"
#include "engine/stages.h"

namespace demosaic::engine {
namespace {

// The quarter-unit estimate s - L / 4 - M truncated toward zero, computed
// exactly as (4 * (s - M) - L) / 4 (integer division truncates toward zero).
// `sign` is +1 at red and blue sites and -1 at green sites, where the
// estimate is the negation: M + L / 4 - s.
template <class D>
DEMOSAIC_ALWAYS_INLINE D Estimate(std::int32_t sign, std::int32_t s, std::int32_t second_a,
                                  std::int32_t second_b, std::int32_t first_a,
                                  std::int32_t first_b) {
  const std::int32_t second_difference = 2 * s - second_a - second_b;
  const std::int32_t mean = (first_a + first_b) >> 1;
  return static_cast<D>(sign * ((4 * (s - mean) - second_difference) / 4));
}

// The five mosaic rows an output row reads.
template <class Sample>
struct RowNeighbourhood {
  const Sample* up2;
  const Sample* up1;
  const Sample* mid;
  const Sample* down1;
  const Sample* down2;
};

template <class Sample>
RowNeighbourhood<Sample> RowsAround(SampleRowsOf<Sample> samples, std::int32_t r) {
  const std::int32_t h = samples.height;
  return {samples.Row(r >= 2 ? r - 2 : r + 2), samples.Row(r >= 1 ? r - 1 : r + 1), samples.Row(r),
          samples.Row(r + 1 < h ? r + 1 : r - 1), samples.Row(r + 2 < h ? r + 2 : r - 2)};
}

// Column k of a row, mirrored about the edge column when outside.
inline std::int32_t MirrorColumn(std::int32_t k, std::int32_t width) {
  if (k < 0) return -k;
  if (k >= width) return 2 * (width - 1) - k;
  return k;
}

// Columns 2 .. W - 3 of one row, a pair (even, odd) at a time so that each
// lane's sign is fixed. The restrict-qualified pointers tell the compiler
// that the rows never overlap, which lets it vectorise the loop. Returns the
// first column not done.
template <class Sample, class D>
DEMOSAIC_ALWAYS_INLINE std::int32_t EstimateInteriorBody(const RowNeighbourhood<Sample>& rows,
                                                         std::int32_t width, std::int32_t sign_even,
                                                         D* __restrict horizontal,
                                                         D* __restrict vertical) {
  const Sample* __restrict up2 = rows.up2;
  const Sample* __restrict up1 = rows.up1;
  const Sample* __restrict mid = rows.mid;
  const Sample* __restrict down1 = rows.down1;
  const Sample* __restrict down2 = rows.down2;
  const std::int32_t sign_odd = -sign_even;
  std::int32_t c = 2;
  for (; c + 1 <= width - 3; c += 2) {
    const std::int32_t s0 = mid[c];
    const std::int32_t s1 = mid[c + 1];
    horizontal[c] = Estimate<D>(sign_even, s0, mid[c - 2], mid[c + 2], mid[c - 1], s1);
    horizontal[c + 1] = Estimate<D>(sign_odd, s1, mid[c - 1], mid[c + 3], s0, mid[c + 2]);
    vertical[c] = Estimate<D>(sign_even, s0, up2[c], down2[c], up1[c], down1[c]);
    vertical[c + 1] = Estimate<D>(sign_odd, s1, up2[c + 1], down2[c + 1], up1[c + 1], down1[c + 1]);
  }
  return c;
}

// One copy of the loop per instruction set and sample type.
template <class Sample, class D>
std::int32_t EstimateInteriorBaseline(const RowNeighbourhood<Sample>& rows, std::int32_t width,
                                      std::int32_t sign_even, D* horizontal, D* vertical) {
  return EstimateInteriorBody(rows, width, sign_even, horizontal, vertical);
}
#if DEMOSAIC_X86_VARIANTS
template <class Sample, class D>
DEMOSAIC_TARGET_AVX2 std::int32_t EstimateInteriorAvx2(const RowNeighbourhood<Sample>& rows,
                                                       std::int32_t width, std::int32_t sign_even,
                                                       D* horizontal, D* vertical) {
  return EstimateInteriorBody(rows, width, sign_even, horizontal, vertical);
}
template <class Sample, class D>
DEMOSAIC_TARGET_AVX512 std::int32_t EstimateInteriorAvx512(const RowNeighbourhood<Sample>& rows,
                                                           std::int32_t width,
                                                           std::int32_t sign_even, D* horizontal,
                                                           D* vertical) {
  return EstimateInteriorBody(rows, width, sign_even, horizontal, vertical);
}
#endif

// A site whose row neighbours may lie past the edge column.
template <class Sample, class D>
void EstimateEdgeSite(const RowNeighbourhood<Sample>& rows, std::int32_t width, std::int32_t sign,
                      std::int32_t c, D* horizontal, D* vertical) {
  const std::int32_t s = rows.mid[c];
  horizontal[c] = Estimate<D>(
      sign, s, rows.mid[MirrorColumn(c - 2, width)], rows.mid[MirrorColumn(c + 2, width)],
      rows.mid[MirrorColumn(c - 1, width)], rows.mid[MirrorColumn(c + 1, width)]);
  vertical[c] = Estimate<D>(sign, s, rows.up2[c], rows.down2[c], rows.up1[c], rows.down1[c]);
}

template <class Sample>
void EstimateRows(SampleRowsOf<Sample> samples, BayerPattern pattern, std::int32_t first_row,
                  std::int32_t end_row, DiffRowsOf<DiffOf<Sample>> horizontal,
                  DiffRowsOf<DiffOf<Sample>> vertical, SimdLevel level) {
  using D = DiffOf<Sample>;
  const std::int32_t width = samples.width;
#if DEMOSAIC_X86_VARIANTS
  auto* estimate_interior = level == SimdLevel::kAvx512 ? EstimateInteriorAvx512<Sample, D>
                            : level == SimdLevel::kAvx2 ? EstimateInteriorAvx2<Sample, D>
                                                        : EstimateInteriorBaseline<Sample, D>;
#else
  static_cast<void>(level);  // only the baseline is compiled here
  auto* estimate_interior = EstimateInteriorBaseline<Sample, D>;
#endif
  for (std::int32_t r = first_row; r < end_row; ++r) {
    const RowNeighbourhood<Sample> rows = RowsAround(samples, r);
    D* h = horizontal.Row(r);
    D* v = vertical.Row(r);
    // Green sites store the negated estimate.
    const std::int32_t green_parity = LayoutOfRow(pattern, r).green_parity;
    const std::int32_t sign_even = green_parity == 0 ? -1 : 1;
    auto sign = [&](std::int32_t c) { return (c & 1) == 0 ? sign_even : -sign_even; };

    // Two columns at each edge reach past it; the columns in between need no
    // mirroring and go through the straight loop.
    EstimateEdgeSite(rows, width, sign(0), 0, h, v);
    EstimateEdgeSite(rows, width, sign(1), 1, h, v);
    const std::int32_t c = estimate_interior(rows, width, sign_even, h, v);
    for (std::int32_t k = c; k < width; ++k) EstimateEdgeSite(rows, width, sign(k), k, h, v);
  }
}

}  // namespace

void EstimateDirectionalDifferences(SampleRows samples, BayerPattern pattern,
                                    std::int32_t first_row, std::int32_t end_row,
                                    DiffRows horizontal, DiffRows vertical, SimdLevel level) {
  EstimateRows(samples, pattern, first_row, end_row, horizontal, vertical, level);
}

void EstimateDirectionalDifferences(SampleRows16 samples, BayerPattern pattern,
                                    std::int32_t first_row, std::int32_t end_row,
                                    WideDiffRows horizontal, WideDiffRows vertical,
                                    SimdLevel level) {
  EstimateRows(samples, pattern, first_row, end_row, horizontal, vertical, level);
}

}  // namespace demosaic::engine
