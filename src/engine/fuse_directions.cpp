// Directional fusion: at every R and B site at least 2 from the edges, the
// row and column estimates of the site's own difference are merged, each
// weighted by how little the other direction's estimates vary around it.
//
// The arithmetic is IEEE double in exactly the order written here (sum / 5.0,
// deviations squared and added in window order, one division for the
// combination); reordering it changes the rounded result at some sites.
// The selections are written as conditional expressions rather than
// branches: every value is computed and the right one kept, which gives the
// same result without mispredicted jumps on busy image content.
#include "engine/engine.h"

namespace demosaic {
namespace {

// Sum of squared deviations from the mean of five values, added in order.
inline double Spread(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
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
inline std::int32_t Combine(double sh, double sv, double hc, double vc, std::int32_t sample) {
  // A flat row decides alone, then a flat column; otherwise each centre value
  // is weighted by the other direction's spread.
  const double weighted = (hc * sv + vc * sh) / (sh + sv);
  double estimate = sh == 0.0 ? hc : (sv == 0.0 ? vc : weighted);
  // Bounded so that the green rebuilt at the site, sample - d, is 0 .. 255.
  const double low = static_cast<double>(sample - 255);
  const double high = static_cast<double>(sample);
  estimate = estimate < low ? low : estimate;
  estimate = estimate > high ? high : estimate;
  // Halves round away from zero; the conversion truncates toward zero.
  estimate += estimate < 0.0 ? -0.5 : (estimate > 0.0 ? 0.5 : 0.0);
  return static_cast<std::int32_t>(estimate);
}

// The R or B sites of one row, columns first, first + 2, ... <= last. The
// restrict-qualified pointers tell the compiler that the planes never
// overlap, which lets it vectorise across sites. An AVX2 clone (four doubles
// a vector, no fused multiply-add) is chosen at load time where the
// processor has it; both clones compute the same IEEE operations.
__attribute__((target_clones("avx2", "default"))) void FuseRow(
    const std::uint8_t* __restrict samples, const std::int32_t* __restrict horizontal,
    const std::int32_t* __restrict vertical, std::int32_t* __restrict fused, std::ptrdiff_t stride,
    std::int32_t first, std::int32_t last) {
  for (std::int32_t c = first; c <= last; c += 2) {
    const std::int32_t* h = horizontal + c;
    const std::int32_t* v = vertical + c;
    const double sh = Spread(h[-2], h[-1], h[0], h[1], h[2]);
    const double sv = Spread(v[-2 * stride], v[-stride], v[0], v[stride], v[2 * stride]);
    fused[c] = Combine(sh, sv, static_cast<double>(h[0]), static_cast<double>(v[0]), samples[c]);
  }
}

}  // namespace

std::int32_t FuseSite(const std::int32_t* horizontal, const std::int32_t* vertical,
                      std::ptrdiff_t width, std::int32_t sample) {
  const double sh =
      Spread(horizontal[-2], horizontal[-1], horizontal[0], horizontal[1], horizontal[2]);
  const double sv = Spread(vertical[-2 * width], vertical[-width], vertical[0], vertical[width],
                           vertical[2 * width]);
  return Combine(sh, sv, static_cast<double>(horizontal[0]), static_cast<double>(vertical[0]),
                 sample);
}

void FuseDirections(ConstMosaicPlane mosaic, std::int32_t width, std::int32_t height,
                    WorkingPlanes& planes) {
  for (std::int32_t r = 2; r <= height - 3; ++r) {
    // R sites lie on odd columns of even rows, B sites on even columns of odd
    // rows; each reads and writes its own difference's planes.
    const bool red_row = (r & 1) == 0;
    const std::size_t row_start = SiteIndex(r, 0, width);
    const DiffPlane& horizontal = red_row ? planes.RgH : planes.BgH;
    const DiffPlane& vertical = red_row ? planes.RgV : planes.BgV;
    DiffPlane& fused = red_row ? planes.RgFused : planes.BgFused;
    FuseRow(mosaic.data() + row_start, horizontal.data() + row_start, vertical.data() + row_start,
            fused.data() + row_start, width, red_row ? 3 : 2, width - 3);
  }
}

}  // namespace demosaic
