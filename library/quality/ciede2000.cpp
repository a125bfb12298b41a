// The CIEDE2000 colour difference of two CIELAB colours, and its mean over
// the measured interior of an image pair.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "demosaic/metrics.h"
#include "quality/cielab.h"
#include "quality/measured_region.h"
#include "quality/row_bands.h"

namespace demosaic {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
constexpr double k25ToThe7th = 6103515625.0;

double Square(double x) {
  return x * x;
}

double Seventh(double x) {
  const double cube = x * x * x;
  return cube * cube * x;
}

// Hue angle in degrees, in [0, 360); 0 for the origin.
double HueDegrees(double a, double b) {
  if (a == 0.0 && b == 0.0) return 0.0;
  const double hue = std::atan2(b, a) / kRadiansPerDegree;
  return hue < 0.0 ? hue + 360.0 : hue;
}

// T(h) = 1 - 0.17 cos(h - 30) + 0.24 cos(2h) + 0.32 cos(3h + 6)
//        - 0.20 cos(4h - 63), h in degrees, from the cosine and sine of h
// alone by the multiple-angle and angle-sum formulas: one cosine and one
// sine instead of four cosines.
double HueWeight(double mean_hue) {
  const double c = std::cos(mean_hue * kRadiansPerDegree);
  const double s = std::sin(mean_hue * kRadiansPerDegree);
  const double cos2 = (c - s) * (c + s);
  const double sin2 = 2.0 * s * c;
  const double cos3 = c * (4.0 * c * c - 3.0);
  const double sin3 = s * (3.0 - 4.0 * s * s);
  const double cos4 = (cos2 - sin2) * (cos2 + sin2);
  const double sin4 = 2.0 * sin2 * cos2;
  // cos and sin of 30, 6 and 63 degrees.
  constexpr double kCos30 = 0.8660254037844386;
  constexpr double kCos6 = 0.9945218953682733;
  constexpr double kSin6 = 0.10452846326765347;
  constexpr double kCos63 = 0.4539904997395468;
  constexpr double kSin63 = 0.8910065241883678;
  return 1.0 - 0.17 * (c * kCos30 + s * 0.5) + 0.24 * cos2 + 0.32 * (cos3 * kCos6 - sin3 * kSin6) -
         0.20 * (cos4 * kCos63 + sin4 * kSin63);
}

}  // namespace

double Ciede2000(Lab first, Lab second) {
  // a is stretched by 1 + G, which grows as the mean chroma falls, so that
  // near-neutral colours get hue differences of a perceptual size.
  const double chroma1 = std::sqrt(first.a * first.a + first.b * first.b);
  const double chroma2 = std::sqrt(second.a * second.a + second.b * second.b);
  const double mean_chroma7 = Seventh(0.5 * (chroma1 + chroma2));
  const double g = 0.5 * (1.0 - std::sqrt(mean_chroma7 / (mean_chroma7 + k25ToThe7th)));
  const double a1 = (1.0 + g) * first.a;
  const double a2 = (1.0 + g) * second.a;
  const double c1 = std::sqrt(a1 * a1 + first.b * first.b);
  const double c2 = std::sqrt(a2 * a2 + second.b * second.b);
  const double h1 = HueDegrees(a1, first.b);
  const double h2 = HueDegrees(a2, second.b);

  // Hue difference the short way round and the mean hue of the short arc;
  // a colour without chroma has no hue to average.
  const double chroma_product = c1 * c2;
  double hue_difference = 0.0;
  double mean_hue = h1 + h2;
  if (chroma_product != 0.0) {
    hue_difference = h2 - h1;
    if (hue_difference > 180.0) {
      hue_difference -= 360.0;
    } else if (hue_difference < -180.0) {
      hue_difference += 360.0;
    }
    if (std::fabs(h1 - h2) > 180.0) mean_hue += mean_hue < 360.0 ? 360.0 : -360.0;
    mean_hue *= 0.5;
  }

  const double delta_l = second.L - first.L;
  const double delta_c = c2 - c1;
  const double delta_h =
      2.0 * std::sqrt(chroma_product) * std::sin(0.5 * hue_difference * kRadiansPerDegree);

  const double mean_l = 0.5 * (first.L + second.L);
  const double mean_c = 0.5 * (c1 + c2);
  const double t = HueWeight(mean_hue);
  const double lightness_offset = Square(mean_l - 50.0);
  const double s_l = 1.0 + 0.015 * lightness_offset / std::sqrt(20.0 + lightness_offset);
  const double s_c = 1.0 + 0.045 * mean_c;
  const double s_h = 1.0 + 0.015 * mean_c * t;

  // Rotation of the chroma-hue ellipse in the blue region (mean hue near 275).
  const double delta_theta = 30.0 * std::exp(-Square((mean_hue - 275.0) / 25.0));
  const double mean_c7 = Seventh(mean_c);
  const double r_c = 2.0 * std::sqrt(mean_c7 / (mean_c7 + k25ToThe7th));
  const double r_t = -std::sin(2.0 * delta_theta * kRadiansPerDegree) * r_c;

  const double l_term = delta_l / s_l;
  const double c_term = delta_c / s_c;
  const double h_term = delta_h / s_h;
  const double sum = l_term * l_term + c_term * c_term + h_term * h_term + r_t * c_term * h_term;
  return std::sqrt(std::max(sum, 0.0));
}

// Equal colours differ by exactly 0, so they are passed over: flat stretches
// reconstructed exactly cost only the comparison.
double RowDe2000Sum(const LabRow& reference, const LabRow& reconstruction) {
  double sum = 0.0;
  for (std::size_t c = 0; c < reference.size(); ++c) {
    const Lab first{reference.L[c], reference.a[c], reference.b[c]};
    const Lab second{reconstruction.L[c], reconstruction.a[c], reconstruction.b[c]};
    if (first.L == second.L && first.a == second.a && first.b == second.b) continue;
    sum += Ciede2000(first, second);
  }
  return sum;
}

namespace {

// The mean over the interior, for views of either sample type.
template <class View>
double MeanDe2000(View reference, View reconstruction, std::int32_t border, int threads) {
  const MeasuredRegion region =
      CheckMeasuredRegion("ComputeDe2000", reference, reconstruction, border, 1);
  const LinearLevels linear = LinearLevelsOf(reference);
  const std::size_t width = static_cast<std::size_t>(region.width);
  // One sum per row, then the rows' sums in order: keeps each addend near the
  // size of the running total, and gives the same figure on any number of
  // threads.
  std::vector<double> row_sums(static_cast<std::size_t>(region.height));
  ForEachRowBand("ComputeDe2000", region.top, region.top + region.height, threads,
                 [&](std::int32_t first, std::int32_t end) {
                   LabRow reference_row(width);
                   LabRow reconstruction_row(width);
                   for (std::int32_t r = first; r < end; ++r) {
                     ConvertRowToLab(reference, linear, r, region.left, reference_row);
                     ConvertRowToLab(reconstruction, linear, r, region.left, reconstruction_row);
                     row_sums[static_cast<std::size_t>(r - region.top)] =
                         RowDe2000Sum(reference_row, reconstruction_row);
                   }
                 });
  double total = 0.0;
  for (const double row_sum : row_sums) total += row_sum;
  return total / (static_cast<double>(region.width) * static_cast<double>(region.height));
}

}  // namespace

double ComputeDe2000(ConstImageView reference, ConstImageView reconstruction, std::int32_t border,
                     int threads) {
  return MeanDe2000(reference, reconstruction, border, threads);
}

double ComputeDe2000(ConstImageView16 reference, ConstImageView16 reconstruction,
                     std::int32_t border, int threads) {
  return MeanDe2000(reference, reconstruction, border, threads);
}

}  // namespace demosaic
