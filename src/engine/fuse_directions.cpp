// Directional fusion: at every R and B site at least 2 from the edges, the
// row and column estimates of the site's own difference are merged, each
// weighted by how little the other direction's estimates vary around it.
//
// The arithmetic is IEEE double in exactly the order written here (sum / 5.0,
// deviations squared and added in window order, one division for the
// combination); reordering it changes the rounded result at some sites.
#include "engine/engine.h"

namespace demosaic {
namespace {

// Sum of squared deviations from the mean over a five-value window, the
// values taken at p + k * stride for k = -2 .. 2.
double Spread(const std::int32_t* centre, std::ptrdiff_t stride) {
  const std::int32_t sum =
      centre[-2 * stride] + centre[-stride] + centre[0] + centre[stride] + centre[2 * stride];
  const double mean = static_cast<double>(sum) / 5.0;
  double spread = 0.0;
  for (std::ptrdiff_t k = -2; k <= 2; ++k) {
    const double deviation = static_cast<double>(centre[k * stride]) - mean;
    spread += deviation * deviation;
  }
  return spread;
}

}  // namespace

std::int32_t FuseSite(const std::int32_t* horizontal, const std::int32_t* vertical,
                      std::ptrdiff_t width, std::int32_t sample) {
  const double sh = Spread(horizontal, 1);
  const double sv = Spread(vertical, width);
  const double hc = static_cast<double>(*horizontal);
  const double vc = static_cast<double>(*vertical);
  double estimate;
  if (sh == 0.0) {
    estimate = hc;
  } else if (sv == 0.0) {
    estimate = vc;
  } else {
    estimate = (hc * sv + vc * sh) / (sh + sv);
  }
  // Bounded so that the green rebuilt at the site, sample - d, is 0 .. 255.
  if (estimate < sample - 255) estimate = sample - 255;
  if (estimate > sample) estimate = sample;
  // Halves round away from zero.
  if (estimate < 0.0) {
    estimate -= 0.5;
  } else if (estimate > 0.0) {
    estimate += 0.5;
  }
  return static_cast<std::int32_t>(estimate);
}

void FuseDirections(ConstMosaicPlane mosaic, std::int32_t width, std::int32_t height,
                    WorkingPlanes& planes) {
  for (std::int32_t r = 2; r <= height - 3; ++r) {
    // R sites lie on odd columns of even rows, B sites on even columns of odd
    // rows; each reads and writes its own difference's planes.
    const bool red_row = (r & 1) == 0;
    const DiffPlane& horizontal = red_row ? planes.RgH : planes.BgH;
    const DiffPlane& vertical = red_row ? planes.RgV : planes.BgV;
    DiffPlane& fused = red_row ? planes.RgFused : planes.BgFused;
    for (std::int32_t c = red_row ? 3 : 2; c <= width - 3; c += 2) {
      const std::size_t p = SiteIndex(r, c, width);
      fused[p] = FuseSite(horizontal.data() + p, vertical.data() + p, width, mosaic[p]);
    }
  }
}

}  // namespace demosaic
