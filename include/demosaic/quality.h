// How close a reconstruction is to its reference, measured over the pixels at
// least `border` from every edge (the measured interior).
#pragma once

#include <cstdint>

#include "demosaic/export.h"
#include "demosaic/frame.h"
#include "demosaic/image.h"

namespace demosaic {

// Peak signal-to-noise ratios in decibels: each channel's, and
// the colour PSNR of the three channels' mean squared error. +infinity where
// the error is zero.
struct QualityFigures {
  double psnr_r = 0.0;
  double psnr_g = 0.0;
  double psnr_b = 0.0;
  double cpsnr = 0.0;
};

// For each channel the sum of squared differences over the measured interior
// (exact: integer terms summed in double); MSE = sum / columns / rows, dividing
// by the column count first; PSNR = 10 log10(65025 / MSE). CPSNR uses the mean
// of the three sums. Requires two views of one size, border >= 0 and at least
// one measured pixel (width and height above 2 * border); throws
// std::invalid_argument otherwise. Only reads the images; the figures do not
// depend on any pixel outside the interior.
DEMOSAIC_EXPORT QualityFigures ComputeQuality(ConstImageView reference,
                                              ConstImageView reconstruction,
                                              std::int32_t border = kFrameWidth);

// The same for 16-bit views with the peak W, their white level:
// PSNR = 10 log10(W^2 / MSE) (for W = 255 exactly the 8-bit figures of the
// same values). Requires in addition one white level for both views (throws
// std::invalid_argument otherwise) and samples within it.
DEMOSAIC_EXPORT QualityFigures ComputeQuality(ConstImageView16 reference,
                                              ConstImageView16 reconstruction,
                                              std::int32_t border = kFrameWidth);

}  // namespace demosaic
