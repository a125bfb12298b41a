// Simulated single-sensor capture behind the GRBG Bayer filter.
#pragma once

#include <cstdint>

#include "demosaic/types.h"

namespace demosaic {

// Channel of a B, G, R pixel that the filter over a site of this class passes.
constexpr int SampledChannel(CfaClass cls) {
  return cls == kR ? kChannelR : (cls == kB ? kChannelB : kChannelG);
}

// Keeps, at every site, the one reference channel the filter passes there.
// Every sample of `mosaic` (W * H) is written; the reference is only read.
void SampleMosaic(ConstColorImage reference, std::int32_t width, std::int32_t height,
                  MosaicPlane mosaic);

}  // namespace demosaic
