// Perceptual measures of a reconstruction against its reference: structural
// similarity (SSIM), the mean CIEDE2000 colour difference and the share of
// zipper pixels, each over the measured interior (the pixels at least
// `border` from every edge, kFrameWidth unless said, as for ComputeQuality),
// and the CIELAB conversion and colour difference they are built on.
//
// Every figure is computed in IEEE double arithmetic from the formulas given
// here, and agrees with any careful double-precision implementation of them
// to about 1e-10: only the order of sums over pixels and the last bits of
// cube roots and trigonometric functions may differ. The functions keep no
// state between calls, work through a few rows at a time (their working
// memory grows with the width, not the height, plus 8 bytes a row for the
// per-row sums), and may be called from several threads at once. Each can
// share its rows among `threads` threads (the library's own, started per
// call; bands of consecutive rows): the figure is the same to the last bit
// for any number of threads, since every sum is taken per row and the rows'
// sums in order. `threads` below 1 throws std::invalid_argument; rows whose
// thread cannot be started are measured on the calling thread.
#pragma once

#include <cstdint>

#include "demosaic/export.h"
#include "demosaic/frame.h"
#include "demosaic/image.h"

namespace demosaic {

// Side of the square window over which SSIM compares local statistics.
inline constexpr std::int32_t kSsimWindowSide = 11;

// Side of the square neighbourhood (a pixel and its 8 neighbours) over which
// the zipper share compares colour distances.
inline constexpr std::int32_t kZipperNeighbourhoodSide = 3;

// A CIELAB colour: lightness L (0 for black, 100 for the white point) and the
// opponent coordinates a (green to red) and b (blue to yellow).
struct Lab {
  double L = 0.0;
  double a = 0.0;
  double b = 0.0;
};

// The CIELAB colour of an 8-bit sRGB pixel under D65:
//   c = v / 255 per channel; linear = ((c + 0.055) / 1.055)^2.4 if c > 0.04045,
//   else c / 12.92;
//   X = 0.412453 R + 0.357580 G + 0.180423 B,
//   Y = 0.212671 R + 0.715160 G + 0.072169 B,
//   Z = 0.019334 R + 0.119193 G + 0.950227 B (linear R, G, B);
//   x = X / 0.95047, y = Y / 1, z = Z / 1.08883;
//   f(t) = cube root of t if t > 0.008856, else 7.787 t + 16 / 116;
//   L = 116 f(y) - 16, a = 500 (f(x) - f(y)), b = 200 (f(y) - f(z)).
// Defined for every input; never fails.
DEMOSAIC_EXPORT Lab SrgbToLab(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// The same from encoded sRGB values already in 0..1 (the formula above from
// c onwards): SrgbToLab(r, g, b) equals UnitSrgbToLab(r / 255.0, g / 255.0,
// b / 255.0) bit for bit. Defined for every finite input; never fails.
DEMOSAIC_EXPORT Lab UnitSrgbToLab(double red, double green, double blue);

// The CIEDE2000 colour difference between two CIELAB colours with
// kL = kC = kH = 1, as published by Sharma, Wu and Dalal (2005): the hue of a
// colour of zero chroma is 0; the hue difference is taken the short way round
// the circle and is 0 when either chroma is 0; the mean hue is the sum of the
// hues when either chroma is 0, else their mean, moved by 180 degrees when
// the hues lie more than 180 degrees apart. A squared sum that rounds below
// zero counts as zero. Returns a value >= 0, the same for (x, y) and (y, x) up
// to rounding, and exactly 0 for two equal colours. Requires finite inputs.
DEMOSAIC_EXPORT double Ciede2000(Lab first, Lab second);

// The mean structural similarity of the measured interior. For each of R, G
// and B separately: for every 11 x 11 window lying wholly inside the interior
// (so the map is the interior less 5 pixels on each side), with weights
// w(i) w(j), w(k) = exp(-k^2 / 4.5) / sum over k = -5..5 of the same (a
// Gaussian of sigma 1.5), the weighted means mx, my, the population variances
// vx = E[x^2] - mx^2, vy = E[y^2] - my^2 and the covariance
// vxy = E[xy] - mx my, and
//   SSIM = (2 mx my + C1) (2 vxy + C2) / ((mx^2 + my^2 + C1) (vx + vy + C2)),
// C1 = (0.01 * 255)^2, C2 = (0.03 * 255)^2, with vx + vy taken as
// E[x^2 + y^2] - (mx^2 + my^2); the mean of the map. Returns the mean of the
// three channels' means: exactly 1 for equal interiors, and exactly the same
// figure with the arguments swapped.
// Requires two views of one size, border >= 0 and an interior of at least
// kSsimWindowSide x kSsimWindowSide (11 x 11) pixels; throws std::invalid_argument, naming the
// failed requirement, otherwise. Only reads the interior of either image. Works in about 300 kB a
// thread, columns taken 256 at a time, plus 24 bytes per interior row (std::bad_alloc if that
// cannot be had). The channels' sums over each row add up that row's strips
// of 256 columns from the left.
DEMOSAIC_EXPORT double ComputeSsim(ConstImageView reference, ConstImageView reconstruction,
                                   std::int32_t border = kFrameWidth, int threads = 1);

// The mean over the measured interior of Ciede2000(SrgbToLab(reference pixel),
// SrgbToLab(reconstruction pixel)): 0 for equal interiors. Requires two views
// of one size, border >= 0 and at least one measured pixel; throws
// std::invalid_argument, naming the failed requirement, otherwise. Only reads
// the interior of either image. Works in 64 bytes per interior column
// (std::bad_alloc if that cannot be had).
DEMOSAIC_EXPORT double ComputeDe2000(ConstImageView reference, ConstImageView reconstruction,
                                     std::int32_t border = kFrameWidth, int threads = 1);

// The share, in [0, 1], of zipper pixels among the pixels at least
// border + 1 from every edge (those whose 8 neighbours are all measured). For
// such a pixel p, q is the neighbour whose CIELAB colour is nearest p's in the
// reference, by CIE76 distance sqrt(dL^2 + da^2 + db^2); of equally near
// neighbours the first in the order up-left, up, up-right, left, right,
// down-left, down, down-right. p is a zipper pixel when the distance from p to
// q in the reconstruction minus their distance in the reference exceeds 2.3
// (one just-noticeable difference). 0 for equal interiors. Requires two views
// of one size, border >= 0 and an interior of at least
// kZipperNeighbourhoodSide x kZipperNeighbourhoodSide (3 x 3) pixels; throws
// std::invalid_argument, naming the failed requirement, otherwise. Only reads
// the interior of either image. Works in 192 bytes per interior column
// (std::bad_alloc if that cannot be had).
DEMOSAIC_EXPORT double ComputeZipper(ConstImageView reference, ConstImageView reconstruction,
                                     std::int32_t border = kFrameWidth, int threads = 1);

// ComputeDe2000's and ComputeZipper's figures of one pair, bit for bit, from
// one CIELAB conversion of each row of either image (each function alone
// converts every row itself): about two thirds of the time of the two calls.
// Requires what ComputeZipper requires, and throws what it throws, the
// message naming ComputeDe2000AndZipper. Works in the zipper's memory plus 8
// bytes per interior row.
struct ColourFigures {
  double de2000 = 0.0;
  double zipper = 0.0;
};
DEMOSAIC_EXPORT ColourFigures ComputeDe2000AndZipper(ConstImageView reference,
                                                     ConstImageView reconstruction,
                                                     std::int32_t border = kFrameWidth,
                                                     int threads = 1);

// The same four figures for 16-bit views of white level W. SSIM takes the
// data range W: C1 = (0.01 W)^2, C2 = (0.03 W)^2. CIEDE2000 and the zipper
// share convert each pixel with UnitSrgbToLab(v / W) per channel. For
// W = 255 each equals the 8-bit figure of the same values bit for bit.
// Requires in addition one white level for both views, within
// 1 .. kMaxWhiteLevel (throws std::invalid_argument otherwise), and samples
// within it. SSIM works in about 400 kB a thread plus 24 bytes per interior
// row; CIEDE2000 and the zipper share in the 8-bit figures' memory plus a
// table of W + 1 doubles.
DEMOSAIC_EXPORT double ComputeSsim(ConstImageView16 reference, ConstImageView16 reconstruction,
                                   std::int32_t border = kFrameWidth, int threads = 1);
DEMOSAIC_EXPORT double ComputeDe2000(ConstImageView16 reference, ConstImageView16 reconstruction,
                                     std::int32_t border = kFrameWidth, int threads = 1);
DEMOSAIC_EXPORT double ComputeZipper(ConstImageView16 reference, ConstImageView16 reconstruction,
                                     std::int32_t border = kFrameWidth, int threads = 1);
DEMOSAIC_EXPORT ColourFigures ComputeDe2000AndZipper(ConstImageView16 reference,
                                                     ConstImageView16 reconstruction,
                                                     std::int32_t border = kFrameWidth,
                                                     int threads = 1);

}  // namespace demosaic
