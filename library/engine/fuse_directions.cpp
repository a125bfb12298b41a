// Directional fusion: at every red and blue site at least 2 from the edges,
// the row and column estimates of the site's own difference are merged, each
// weighted by how little the other direction's estimates vary around it.
//
// The arithmetic is IEEE double in exactly the order written here (sum / 5.0,
// deviations squared and added in window order, one division for the
// combination); reordering it changes the rounded result at some sites.
// The selections are written as conditional expressions rather than
// branches: every value is computed and the right one kept, which gives the
// same result without mispredicted jumps on busy image content.
//
// One template serves 8-bit and 16-bit samples; the only difference is the
// white level W in the bound (255, a constant, for 8-bit samples).
#include "cfa/cfa_layout.h"
#include "engine/simd.h"
#include "engine/stages.h"

namespace demosaic::engine {
namespace {

// Sum of squared deviations from the mean of five values, added in order.
DEMOSAIC_ALWAYS_INLINE double Spread(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                                     std::int32_t e) {
  const double mean = static_cast<double>(a + b + c + d + e) / 5.0;
  const double da = static_cast<double>(a) - mean;
  const double db = static_cast<double>(b) - mean;
  const double dc = static_cast<double>(c) - mean;
  const double dd = static_cast<double>(d) - mean;
  const double de = static_cast<double>(e) - mean;
  return (((da * da + db * db) + dc * dc) + dd * dd) + de * de;
}

// The fused value from the two spreads, the two centre values and the sample.
DEMOSAIC_ALWAYS_INLINE std::int32_t Combine(double sh, double sv, double hc, double vc,
                                            std::int32_t sample, std::int32_t white) {
  // A flat row decides alone, then a flat column; otherwise each centre value
  // is weighted by the other direction's spread.
  const double weighted = (hc * sv + vc * sh) / (sh + sv);
  double estimate = sh == 0.0 ? hc : (sv == 0.0 ? vc : weighted);
  // Bounded so that the green rebuilt at the site, sample - d, is 0 .. W.
  const double low = static_cast<double>(sample - white);
  const double high = static_cast<double>(sample);
  estimate = estimate < low ? low : estimate;
  estimate = estimate > high ? high : estimate;
  // Halves round away from zero; the conversion truncates toward zero.
  estimate += estimate < 0.0 ? -0.5 : (estimate > 0.0 ? 0.5 : 0.0);
  return static_cast<std::int32_t>(estimate);
}

// The pointers one row of fusion reads and writes, and the samples' white
// level.
template <class Sample>
struct FusionRow {
  using D = DiffOf<Sample>;
  const Sample* samples;
  const D* horizontal;
  const D* vertical[5];  // rows -2 .. +2
  D* fused;
  std::int32_t white_level;
};

// The bound's white level: a constant for 8-bit samples, so that their loop
// is compiled exactly as before 16-bit samples existed.
template <class Sample>
DEMOSAIC_ALWAYS_INLINE std::int32_t WhiteOf(const FusionRow<Sample>& row) {
  if constexpr (sizeof(Sample) == 1) {
    return 255;
  } else {
    return row.white_level;
  }
}

// The red or blue sites of one row, columns first, first + 2, ... <= last.
// The restrict-qualified pointers tell the compiler that the rows never
// overlap, which lets it vectorise across sites.
template <class Sample>
DEMOSAIC_ALWAYS_INLINE void FuseRowBody(const FusionRow<Sample>& row, std::int32_t first,
                                        std::int32_t last) {
  using D = DiffOf<Sample>;
  const Sample* __restrict samples = row.samples;
  const D* __restrict h = row.horizontal;
  const D* __restrict v0 = row.vertical[0];
  const D* __restrict v1 = row.vertical[1];
  const D* __restrict v2 = row.vertical[2];
  const D* __restrict v3 = row.vertical[3];
  const D* __restrict v4 = row.vertical[4];
  D* __restrict fused = row.fused;
  const std::int32_t white = WhiteOf(row);
  for (std::int32_t c = first; c <= last; c += 2) {
    const double sh = Spread(h[c - 2], h[c - 1], h[c], h[c + 1], h[c + 2]);
    const double sv = Spread(v0[c], v1[c], v2[c], v3[c], v4[c]);
    fused[c] = static_cast<D>(
        Combine(sh, sv, static_cast<double>(h[c]), static_cast<double>(v2[c]), samples[c], white));
  }
}

// One copy of the loop per instruction set and sample type; each computes
// the same IEEE operations (none of these sets is allowed to fuse a multiply
// and an add).
template <class Sample>
void FuseRowBaseline(const FusionRow<Sample>& row, std::int32_t first, std::int32_t last) {
  FuseRowBody(row, first, last);
}
#if DEMOSAIC_X86_VARIANTS
template <class Sample>
DEMOSAIC_TARGET_AVX2 void FuseRowAvx2(const FusionRow<Sample>& row, std::int32_t first,
                                      std::int32_t last) {
  FuseRowBody(row, first, last);
}
template <class Sample>
DEMOSAIC_TARGET_AVX512 void FuseRowAvx512(const FusionRow<Sample>& row, std::int32_t first,
                                          std::int32_t last) {
  FuseRowBody(row, first, last);
}
#endif

template <class Sample>
void FuseRows(SampleRowsOf<Sample> samples, BayerPattern pattern, std::int32_t first_row,
              std::int32_t end_row, DiffRowsOf<DiffOf<Sample>> horizontal,
              DiffRowsOf<DiffOf<Sample>> vertical, DiffRowsOf<DiffOf<Sample>> fused,
              SimdLevel level) {
  const std::int32_t width = samples.width;
  const std::int32_t begin = first_row > 2 ? first_row : 2;
  const std::int32_t end = end_row < samples.height - 2 ? end_row : samples.height - 2;
#if DEMOSAIC_X86_VARIANTS
  auto* fuse_row = level == SimdLevel::kAvx512 ? FuseRowAvx512<Sample>
                   : level == SimdLevel::kAvx2 ? FuseRowAvx2<Sample>
                                               : FuseRowBaseline<Sample>;
#else
  static_cast<void>(level);  // only the baseline is compiled here
  auto* fuse_row = FuseRowBaseline<Sample>;
#endif
  for (std::int32_t r = begin; r < end; ++r) {
    // The row's red or blue sites are the columns of the other parity than
    // its green ones; the first of them at least 2 from the left edge.
    const std::int32_t first_column = 2 + (LayoutOfRow(pattern, r).green_parity == 0 ? 1 : 0);
    const FusionRow<Sample> row{samples.Row(r),
                                horizontal.Row(r),
                                {vertical.Row(r - 2), vertical.Row(r - 1), vertical.Row(r),
                                 vertical.Row(r + 1), vertical.Row(r + 2)},
                                fused.Row(r),
                                samples.white_level};
    fuse_row(row, first_column, width - 3);
  }
}

template <class D>
std::int32_t FuseOneSite(const D* horizontal, const D* const vertical[5], std::int32_t sample,
                         std::int32_t white_level) {
  const double sh =
      Spread(horizontal[-2], horizontal[-1], horizontal[0], horizontal[1], horizontal[2]);
  const double sv =
      Spread(vertical[0][0], vertical[1][0], vertical[2][0], vertical[3][0], vertical[4][0]);
  return Combine(sh, sv, static_cast<double>(horizontal[0]), static_cast<double>(vertical[2][0]),
                 sample, white_level);
}

}  // namespace

std::int32_t FuseSite(const Diff* horizontal, const Diff* const vertical[5], std::int32_t sample) {
  return FuseOneSite(horizontal, vertical, sample, 255);
}

std::int32_t FuseSite(const WideDiff* horizontal, const WideDiff* const vertical[5],
                      std::int32_t sample, std::int32_t white_level) {
  return FuseOneSite(horizontal, vertical, sample, white_level);
}

void FuseDirections(SampleRows samples, BayerPattern pattern, std::int32_t first_row,
                    std::int32_t end_row, DiffRows horizontal, DiffRows vertical, DiffRows fused,
                    SimdLevel level) {
  FuseRows(samples, pattern, first_row, end_row, horizontal, vertical, fused, level);
}

void FuseDirections(SampleRows16 samples, BayerPattern pattern, std::int32_t first_row,
                    std::int32_t end_row, WideDiffRows horizontal, WideDiffRows vertical,
                    WideDiffRows fused, SimdLevel level) {
  FuseRows(samples, pattern, first_row, end_row, horizontal, vertical, fused, level);
}

}  // namespace demosaic::engine
