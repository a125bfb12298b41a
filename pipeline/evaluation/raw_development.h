// Developing a camera raw file: its own mosaic (the visible area less its
// black levels) reconstructed at full resolution by one of the evaluation's
// methods, then, unless linear output is asked for, the file's as-shot white
// balance, its camera matrix and the sRGB curve.
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>

#include "evaluation/methods.h"
#include "io/raw_file.h"
#include "io/status.h"

namespace demosaic {

// Memory a development holds per site of the visible area beyond the raw
// samples themselves: the black-subtracted mosaic, the reconstruction, the
// developed image and the encoded output, at 2 bytes a sample.
inline constexpr std::size_t kDevelopmentBytesPerSite = 2 + 6 + 6 + 6;

// The black-subtracted mosaic of `raw` (BlackSubtractedMosaic) reconstructed
// by `method`: a CV_16UC3 B, G, R image whose white level is the file's less
// SmallestBlackLevel, every sample within it. The method leaves a frame of
// kFrameWidth black at the edges, as it does for any mosaic; OpenCV's
// conversions fill the edges their own way. Errors: kTooSmall for a visible
// area under kMinimumSide on a side; kOutOfMemory.
Expected<DeepImage> ReconstructRawMosaic(const RawMosaic& raw, Method method);

// Whether development applies the file's as-shot white balance.
struct ColourDevelopment {
  bool white_balance = true;
  // 8 or 16: the output's sample size.
  int bits = 8;
};

// The reconstruction's camera colours as sRGB: each channel v becomes
// c = v / W times its as-shot multiplier (green's 1; with white_balance),
// then s = camera_to_srgb * c, each clamped to 0 .. 1 and rounded to a
// 16-bit linear level round(65535 s); the sRGB curve (ApplySrgbCurve) then
// encodes it, and an 8-bit output takes round(v / 257) of it; halves
// rounded away from zero throughout. Returns CV_16UC3 or CV_8UC3 B, G, R.
// Errors: kUnreadable "has no as-shot white balance" (with white_balance)
// or "has no usable camera matrix"; kInvalidArgument for bits other than
// 8 or 16; kOutOfMemory.
Expected<cv::Mat> DevelopColours(const DeepImage& linear, const RawMosaic& raw,
                                 const ColourDevelopment& development);

}  // namespace demosaic
