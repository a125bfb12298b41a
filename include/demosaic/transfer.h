// The sRGB transfer curve, for evaluating linear data (such as a camera's raw
// samples) in the encoded space that published results use.
#pragma once

#include "demosaic/export.h"
#include "demosaic/image.h"

namespace demosaic {

// Replaces every sample v of `image` (the pixels of its rows, not the padding
// between them) with round(W * e(v / W)), W its white level (255 for an
// 8-bit view), where e(c) = 12.92 c for c <= 0.0031308, else
// 1.055 c^(1/2.4) - 0.055; halves round away from zero. Maps 0 to 0 and W to
// W. Requires samples within the white level (a larger one is replaced by
// an unspecified value, memory-safely) and, for a 16-bit view, a white level
// within 1 .. kMaxWhiteLevel (throws std::invalid_argument otherwise, having
// changed nothing); never fails otherwise. Works in a table of W + 1 samples.
DEMOSAIC_EXPORT void ApplySrgbCurve(ImageView image);
DEMOSAIC_EXPORT void ApplySrgbCurve(ImageView16 image);

}  // namespace demosaic
