// Mosaic sampling: at every site, the reference's channel of the site's
// filter colour.
#include <stdexcept>

#include "cfa/cfa_layout.h"
#include "demosaic/reconstruct.h"

namespace demosaic {

void SampleMosaic(ConstImageView reference, MosaicView mosaic, BayerPattern pattern) {
  if (reference.width != mosaic.width || reference.height != mosaic.height) {
    throw std::invalid_argument("SampleMosaic: reference and mosaic differ in size");
  }
  const std::int32_t width = mosaic.width;
  for (std::int32_t r = 0; r < mosaic.height; ++r) {
    // Along a row the filter alternates between green and one other colour,
    // so the channel taken at even and at odd columns is fixed for the row.
    const RowLayout layout = LayoutOfRow(pattern, r);
    const int other = layout.red_row ? RedOffset(reference.order) : BlueOffset(reference.order);
    const int even_channel = layout.green_parity == 0 ? 1 : other;
    const int odd_channel = layout.green_parity == 0 ? other : 1;
    const std::uint8_t* src = reference.Row(r);
    std::uint8_t* dst = mosaic.Row(r);
    std::int32_t c = 0;
    for (; c + 1 < width; c += 2) {
      const std::ptrdiff_t at = 3 * static_cast<std::ptrdiff_t>(c);
      dst[c] = src[at + even_channel];
      dst[c + 1] = src[at + 3 + odd_channel];
    }
    if (c < width) dst[c] = src[3 * static_cast<std::ptrdiff_t>(c) + even_channel];
  }
}

}  // namespace demosaic
