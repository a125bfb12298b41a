// The reconstruction method written as plainly as possible, site by site over
// six whole-image planes, straight from the rules: the reference that the
// optimised engine is checked against. Nothing here is tuned for speed.
// Every step exists for 8-bit samples and for 16-bit samples of a white
// level W, the largest sample value, which replaces 255 as the bound.
#pragma once

#include <cstdint>
#include <vector>

#include "demosaic/bayer.h"

namespace demosaic::testing {

using Plane = std::vector<std::int32_t>;

// The six colour-difference planes of one reconstruction, W x H each,
// row-major; entries no rule writes stay 0.
struct PlainPlanes {
  int width = 0;
  int height = 0;
  Plane RgH, RgV, BgH, BgV, RgFused, BgFused;
  std::int32_t At(const Plane& plane, int r, int c) const { return plane[r * width + c]; }
};

// A packed W x H mosaic, one sample per site.
using PlainMosaic = std::vector<std::uint8_t>;
using PlainMosaic16 = std::vector<std::uint16_t>;

// The directional estimates at every site (requires W >= 3, H >= 4).
PlainPlanes PlainEstimate(const PlainMosaic& mosaic, int width, int height, BayerPattern pattern);
PlainPlanes PlainEstimate(const PlainMosaic16& mosaic, int width, int height, BayerPattern pattern);

// Adds the fused differences at the red and blue sites at least 2 from every
// edge, each kept within sample - W .. sample.
void PlainFuse(const PlainMosaic& mosaic, BayerPattern pattern, PlainPlanes& planes);
void PlainFuse(const PlainMosaic16& mosaic, BayerPattern pattern, PlainPlanes& planes,
               int white_level);

// The whole reconstruction as packed B, G, R samples, each within 0 .. W:
// black outside the sites at least 3 from every edge, all black under 7 on a
// side.
std::vector<std::uint8_t> PlainReconstruct(const PlainMosaic& mosaic, int width, int height,
                                           BayerPattern pattern);
std::vector<std::uint16_t> PlainReconstruct(const PlainMosaic16& mosaic, int width, int height,
                                            BayerPattern pattern, int white_level);

// The sample of the site's filter colour in a packed B, G, R image.
PlainMosaic PlainSample(const std::vector<std::uint8_t>& bgr, int width, int height,
                        BayerPattern pattern);
PlainMosaic16 PlainSample(const std::vector<std::uint16_t>& bgr, int width, int height,
                          BayerPattern pattern);

}  // namespace demosaic::testing
