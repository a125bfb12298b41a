// The CIEDE2000 colour difference of two CIELAB colours, one pair or a row of
// pairs, and its mean over the measured interior of an image pair. Both run
// the same steps over arrays, with the arctangent, sine, cosine and
// exponential of vector_math.h, so a pair's difference is the same to the
// last bit whichever way it is asked for.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "demosaic/metrics.h"
#include "engine/simd.h"
#include "engine/stages.h"
#include "quality/cielab.h"
#include "quality/measured_region.h"
#include "quality/row_bands.h"
#include "quality/vector_math.h"

namespace demosaic {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
constexpr double k25ToThe7th = 6103515625.0;

DEMOSAIC_ALWAYS_INLINE double Square(double x) {
  return x * x;
}

DEMOSAIC_ALWAYS_INLINE double Seventh(double x) {
  const double cube = x * x * x;
  return cube * cube * x;
}

// Hue angle in degrees, in [0, 360), from atan2(b, a) in radians; 0 for the
// origin.
DEMOSAIC_ALWAYS_INLINE double HueDegrees(double a, double b, double atan2_of_b_a) {
  const double hue = atan2_of_b_a / kRadiansPerDegree;
  const double turned = hue < 0.0 ? hue + 360.0 : hue;
  return a == 0.0 && b == 0.0 ? 0.0 : turned;
}

// T(h) = 1 - 0.17 cos(h - 30) + 0.24 cos(2h) + 0.32 cos(3h + 6)
//        - 0.20 cos(4h - 63), h in degrees, from the cosine c and sine s of h
// alone by the multiple-angle and angle-sum formulas: one sine and cosine
// instead of four cosines.
DEMOSAIC_ALWAYS_INLINE double HueWeight(double c, double s) {
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

// The colours, the intermediate values and the differences of up to N
// pairs, one array per quantity: members of one structure, which the
// compiler knows never overlap, so every step runs in vector lanes.
template <std::size_t N>
struct PassValues {
  double L1[N], A1[N], B1[N], L2[N], A2[N], B2[N];
  double difference[N];
  double a1[N], a2[N], c1[N], c2[N];
  double atan1[N], atan2[N];
  double chroma_product[N];
  double half_angle[N], sin_half[N];
  double hue_angle[N], sin_hue[N], cos_hue[N];
  double rotation_exponent[N], rotation_exp[N];
  double rotation_angle[N], sin_rotation[N];
};

// Pairs of a row handled per pass: each step below runs over a whole pass,
// so that the plain arithmetic vectorises and the functions take full lanes.
constexpr std::size_t kPass = 64;

// v.difference[i] = the difference of the colours (L1, A1, B1)[i] and
// (L2, A2, B2)[i], for i < count <= N.
template <std::size_t N>
DEMOSAIC_ALWAYS_INLINE void Ciede2000PassBody(std::size_t count, PassValues<N>& v) {
  const double* L1 = v.L1;
  const double* A1 = v.A1;
  const double* B1 = v.B1;
  const double* L2 = v.L2;
  const double* A2 = v.A2;
  const double* B2 = v.B2;

  // a is stretched by 1 + G, which grows as the mean chroma falls, so that
  // near-neutral colours get hue differences of a perceptual size.
  for (std::size_t i = 0; i < count; ++i) {
    const double chroma1 = std::sqrt(A1[i] * A1[i] + B1[i] * B1[i]);
    const double chroma2 = std::sqrt(A2[i] * A2[i] + B2[i] * B2[i]);
    const double mean_chroma7 = Seventh(0.5 * (chroma1 + chroma2));
    const double g = 0.5 * (1.0 - std::sqrt(mean_chroma7 / (mean_chroma7 + k25ToThe7th)));
    v.a1[i] = (1.0 + g) * A1[i];
    v.a2[i] = (1.0 + g) * A2[i];
    v.c1[i] = std::sqrt(v.a1[i] * v.a1[i] + B1[i] * B1[i]);
    v.c2[i] = std::sqrt(v.a2[i] * v.a2[i] + B2[i] * B2[i]);
  }
  quality::Atan2Values(B1, v.a1, v.atan1, count);
  quality::Atan2Values(B2, v.a2, v.atan2, count);

  // Hue difference the short way round and the mean hue of the short arc;
  // a colour without chroma has no hue to average. Written as selections
  // rather than branches, so that the loop runs in vector lanes; the values
  // are those of the branches.
  for (std::size_t i = 0; i < count; ++i) {
    const double h1 = HueDegrees(v.a1[i], B1[i], v.atan1[i]);
    const double h2 = HueDegrees(v.a2[i], B2[i], v.atan2[i]);
    const double chroma_product = v.c1[i] * v.c2[i];
    const bool has_hues = chroma_product != 0.0;
    const double difference = h2 - h1;
    const double short_difference = difference > 180.0    ? difference - 360.0
                                    : difference < -180.0 ? difference + 360.0
                                                          : difference;
    const double hue_difference = has_hues ? short_difference : 0.0;
    const double hue_sum = h1 + h2;
    const double moved_sum = hue_sum + (hue_sum < 360.0 ? 360.0 : -360.0);
    const double arc_sum = std::fabs(h1 - h2) > 180.0 ? moved_sum : hue_sum;
    const double mean_hue = has_hues ? arc_sum * 0.5 : hue_sum;
    v.chroma_product[i] = chroma_product;
    v.half_angle[i] = 0.5 * hue_difference * kRadiansPerDegree;
    v.hue_angle[i] = mean_hue * kRadiansPerDegree;
    v.rotation_exponent[i] = -Square((mean_hue - 275.0) / 25.0);
  }
  quality::SinValues(v.half_angle, v.sin_half, count);
  quality::SinCosValues(v.hue_angle, v.sin_hue, v.cos_hue, count);
  quality::ExpValues(v.rotation_exponent, v.rotation_exp, count);

  // Rotation of the chroma-hue ellipse in the blue region (mean hue near 275).
  for (std::size_t i = 0; i < count; ++i) {
    const double delta_theta = 30.0 * v.rotation_exp[i];
    v.rotation_angle[i] = 2.0 * delta_theta * kRadiansPerDegree;
  }
  quality::SinValues(v.rotation_angle, v.sin_rotation, count);

  for (std::size_t i = 0; i < count; ++i) {
    const double delta_l = L2[i] - L1[i];
    const double delta_c = v.c2[i] - v.c1[i];
    const double delta_h = 2.0 * std::sqrt(v.chroma_product[i]) * v.sin_half[i];
    const double mean_l = 0.5 * (L1[i] + L2[i]);
    const double mean_c = 0.5 * (v.c1[i] + v.c2[i]);
    const double t = HueWeight(v.cos_hue[i], v.sin_hue[i]);
    const double lightness_offset = Square(mean_l - 50.0);
    const double s_l = 1.0 + 0.015 * lightness_offset / std::sqrt(20.0 + lightness_offset);
    const double s_c = 1.0 + 0.045 * mean_c;
    const double s_h = 1.0 + 0.015 * mean_c * t;
    const double mean_c7 = Seventh(mean_c);
    const double r_c = 2.0 * std::sqrt(mean_c7 / (mean_c7 + k25ToThe7th));
    const double r_t = -v.sin_rotation[i] * r_c;
    const double l_term = delta_l / s_l;
    const double c_term = delta_c / s_c;
    const double h_term = delta_h / s_h;
    const double sum = l_term * l_term + c_term * c_term + h_term * h_term + r_t * c_term * h_term;
    v.difference[i] = std::sqrt(sum < 0.0 ? 0.0 : sum);
  }
}

// The pass compiled for each instruction set; the values are the same.
template <std::size_t N>
void Ciede2000PassBaseline(std::size_t count, PassValues<N>& v) {
  Ciede2000PassBody(count, v);
}
#if DEMOSAIC_X86_VARIANTS
template <std::size_t N>
DEMOSAIC_TARGET_AVX2 void Ciede2000PassAvx2(std::size_t count, PassValues<N>& v) {
  Ciede2000PassBody(count, v);
}
template <std::size_t N>
DEMOSAIC_TARGET_AVX512 void Ciede2000PassAvx512(std::size_t count, PassValues<N>& v) {
  Ciede2000PassBody(count, v);
}
#endif

template <std::size_t N>
void Ciede2000Pass(std::size_t count, PassValues<N>& v) {
#if DEMOSAIC_X86_VARIANTS
  switch (engine::BestSimdLevel()) {
    case engine::SimdLevel::kAvx512:
      return Ciede2000PassAvx512(count, v);
    case engine::SimdLevel::kAvx2:
      return Ciede2000PassAvx2(count, v);
    case engine::SimdLevel::kBaseline:
      break;
  }
#endif
  Ciede2000PassBaseline(count, v);
}

}  // namespace

double Ciede2000(Lab first, Lab second) {
  PassValues<1> v;
  v.L1[0] = first.L;
  v.A1[0] = first.a;
  v.B1[0] = first.b;
  v.L2[0] = second.L;
  v.A2[0] = second.a;
  v.B2[0] = second.b;
  Ciede2000Pass(1, v);
  return v.difference[0];
}

// Equal colours differ by exactly 0, so they are passed over: flat stretches
// reconstructed exactly cost only the comparison. The others are gathered a
// pass at a time, in order, so the sum is the same as pixel by pixel.
double RowDe2000Sum(const LabRow& reference, const LabRow& reconstruction) {
  // On the heap: the library's threads keep modest stacks.
  const auto v = std::make_unique<PassValues<kPass>>();
  double sum = 0.0;
  std::size_t gathered = 0;
  auto flush = [&] {
    Ciede2000Pass(gathered, *v);
    for (std::size_t i = 0; i < gathered; ++i) sum += v->difference[i];
    gathered = 0;
  };
  for (std::size_t c = 0; c < reference.size(); ++c) {
    if (reference.L[c] == reconstruction.L[c] && reference.a[c] == reconstruction.a[c] &&
        reference.b[c] == reconstruction.b[c]) {
      continue;
    }
    v->L1[gathered] = reference.L[c];
    v->A1[gathered] = reference.a[c];
    v->B1[gathered] = reference.b[c];
    v->L2[gathered] = reconstruction.L[c];
    v->A2[gathered] = reconstruction.a[c];
    v->B2[gathered] = reconstruction.b[c];
    if (++gathered == kPass) flush();
  }
  flush();
  return sum;
}

double MeanOfRowSums(std::span<const double> row_sums, const MeasuredRegion& region) {
  double total = 0.0;
  for (const double row_sum : row_sums) total += row_sum;
  return total / (static_cast<double>(region.width) * static_cast<double>(region.height));
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
  return MeanOfRowSums(row_sums, region);
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
