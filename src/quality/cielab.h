// Conversion of image rows to CIELAB, shared by the CIEDE2000 mean and the
// zipper share.
#pragma once

#include <cstdint>
#include <span>

#include "demosaic/image.h"
#include "demosaic/metrics.h"

namespace demosaic {

// SrgbToLab of pixels first_column .. first_column + out.size() - 1 of row
// `row` of `image`, honouring its channel order, into `out`. Requires the
// pixels to lie inside the image.
void ConvertRowToLab(ConstImageView image, std::int32_t row, std::int32_t first_column,
                     std::span<Lab> out);

}  // namespace demosaic
