// The measured interior of an image pair, and the argument checks that every
// perceptual metric makes before it reads a pixel.
#pragma once

#include <cstdint>

#include "demosaic/image.h"

namespace demosaic {

// Pixels at least `border` from every edge: rows top .. top + height - 1,
// columns left .. left + width - 1.
struct MeasuredRegion {
  std::int32_t top = 0;
  std::int32_t left = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The interior of two views of one size for `border`. Throws
// std::invalid_argument, with a message that starts with `metric` and says
// which requirement failed, unless: both views have data for their pixels and
// rows of at least 3 * width bytes, equal sizes, border >= 0, and an interior
// of at least minimum_side x minimum_side pixels. Never overflows, whatever
// the border.
MeasuredRegion CheckMeasuredRegion(const char* metric, ConstImageView reference,
                                   ConstImageView reconstruction, std::int32_t border,
                                   std::int32_t minimum_side);

// The same for 16-bit views (strides in samples), which must in addition
// carry one white level within 1 .. kMaxWhiteLevel.
MeasuredRegion CheckMeasuredRegion(const char* metric, ConstImageView16 reference,
                                   ConstImageView16 reconstruction, std::int32_t border,
                                   std::int32_t minimum_side);

}  // namespace demosaic
