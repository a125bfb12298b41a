// Mosaic sampling: the reference's channel of each site's filter colour.
#include "cfa/cfa.h"

namespace demosaic {

void SampleMosaic(ConstColorImage reference, std::int32_t width, std::int32_t height,
                  MosaicPlane mosaic) {
  for (std::int32_t r = 0; r < height; ++r) {
    // Along a row the classes alternate between two values, so the channel
    // offsets of even and odd columns are fixed for the whole row.
    const int even_channel = SampledChannel(CfaClassOf(r, 0));
    const int odd_channel = SampledChannel(CfaClassOf(r, 1));
    const std::uint8_t* src = reference.data() + 3 * SiteIndex(r, 0, width);
    std::uint8_t* dst = mosaic.data() + SiteIndex(r, 0, width);
    std::int32_t c = 0;
    for (; c + 1 < width; c += 2) {
      dst[c] = src[3 * static_cast<std::size_t>(c) + even_channel];
      dst[c + 1] = src[3 * static_cast<std::size_t>(c) + 3 + odd_channel];
    }
    if (c < width) dst[c] = src[3 * static_cast<std::size_t>(c) + even_channel];
  }
}

}  // namespace demosaic
