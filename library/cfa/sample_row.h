// Sampling one row of a colour image through a Bayer tile: shared by
// SampleMosaic and the reconstruction that samples rows as it goes.
#pragma once

#include <cstdint>

#include "cfa/cfa_layout.h"
#include "demosaic/image.h"

namespace demosaic {

// Writes `width` samples to `mosaic_row`: at every site the channel of
// `image_row` (pixels in `order`) that the row's filter passes there.
void SampleRow(const std::uint8_t* image_row, ChannelOrder order, RowLayout layout,
               std::int32_t width, std::uint8_t* mosaic_row);
void SampleRow(const std::uint16_t* image_row, ChannelOrder order, RowLayout layout,
               std::int32_t width, std::uint16_t* mosaic_row);

}  // namespace demosaic
