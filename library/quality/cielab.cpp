// sRGB to CIELAB under D65, one pixel or one row at a time, from 8-bit
// values, 16-bit values of a white level W, or values already in 0..1. All
// use the same steps after c = v / W, so a row's colours equal SrgbToLab's
// (or UnitSrgbToLab's) to the last bit.
#include "quality/cielab.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "demosaic/metrics.h"
#include "engine/simd.h"
#include "engine/stages.h"

namespace demosaic {
namespace {

// Linear light of an encoded sRGB value c in 0..1.
double LinearOf(double c) {
  return c > 0.04045 ? std::pow((c + 0.055) / 1.055, 2.4) : c / 12.92;
}

// Linear light of each 8-bit sRGB value, made once.
using LinearTable = std::array<double, 256>;

LinearTable MakeLinearTable() {
  LinearTable table{};
  for (int v = 0; v < 256; ++v) table[static_cast<std::size_t>(v)] = LinearOf(v / 255.0);
  return table;
}

const LinearTable& Linear() {
  static const LinearTable table = MakeLinearTable();
  return table;
}

// X / Xn, Y / Yn and Z / Zn of linear sRGB under D65.
struct Tristimulus {
  double x;
  double y;
  double z;
};

Tristimulus ToTristimulus(double red, double green, double blue) {
  return {(0.412453 * red + 0.357580 * green + 0.180423 * blue) / 0.95047,
          (0.212671 * red + 0.715160 * green + 0.072169 * blue) / 1.0,
          (0.019334 * red + 0.119193 * green + 0.950227 * blue) / 1.08883};
}

// The cube root of t > 0 without a division, which in vector lanes costs
// as much as a dozen multiplications: a first estimate of 1 / cbrt(t) from
// the bits of t (the exponent divided by 3), good to about 3.5 %, three
// Newton steps on it, each of which doubles the correct digits (to about
// 1e-10), then y = t r^2 and one Newton step on y^3 = t, whose derivative
// 1 / (3 y^2) is r^2 / 3 to far more digits than the step needs. For
// 0.008856 < t <= 1.1 the result is within one unit in the last place of the
// true cube root (std::cbrt here is off by up to about three and a half), at
// a fraction of its cost. The estimate reads only the upper 32 bits of t
// (sign, exponent and 20 bits of the fraction, plenty for 3.5 %): vector
// lanes can divide those by 3, and not 64 bits.
DEMOSAIC_ALWAYS_INLINE double InverseCubeRootEstimate(double t) {
  const auto upper = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(t) >> 32);
  return std::bit_cast<double>(std::uint64_t{0x553EF0FFu - upper / 3} << 32);
}

DEMOSAIC_ALWAYS_INLINE double CubeRootFrom(double t, double r) {
  constexpr double kThird = 1.0 / 3.0;
  for (int step = 0; step < 3; ++step) r = r * ((4.0 - t * (r * r * r)) * kThird);
  const double y = t * r * r;
  return y - (y * y * y - t) * (r * r) * kThird;
}

constexpr double kCurveThreshold = 0.008856;

// f(t): the cube root above the threshold, linear below it. Below it the
// root is unused, and the threshold's is taken instead, which keeps the
// steps away from zero; both sides are computed, so that a row's loop runs in
// vector lanes.
DEMOSAIC_ALWAYS_INLINE double LabCurve(double t) {
  const double root_argument = t > kCurveThreshold ? t : kCurveThreshold;
  const double cube_root = CubeRootFrom(root_argument, InverseCubeRootEstimate(root_argument));
  return t > kCurveThreshold ? cube_root : 7.787 * t + 16.0 / 116.0;
}

Lab LabOfLinear(double red, double green, double blue) {
  const Tristimulus t = ToTristimulus(red, green, blue);
  const double fx = LabCurve(t.x);
  const double fy = LabCurve(t.y);
  const double fz = LabCurve(t.z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

// The tristimulus values of one row's pixels into out.L (y), out.a (x) and
// out.b (z). 8-bit samples index the 256-entry table directly; larger ones
// are first limited to the white level, the table's last entry.
template <class Sample>
void RowToTristimulus(const Sample* pixels, ChannelOrder order, const LinearLevels& levels,
                      LabRow& out) {
  const double* linear = levels.values();
  const std::size_t red = static_cast<std::size_t>(RedOffset(order));
  const std::size_t blue = static_cast<std::size_t>(BlueOffset(order));
  const auto white = static_cast<std::uint32_t>(levels.white_level);
  auto level = [&](Sample v) {
    if constexpr (sizeof(Sample) == 1) {
      return linear[v];
    } else {
      return linear[v < white ? v : white];
    }
  };
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Sample* pixel = pixels + 3 * i;
    const Tristimulus t = ToTristimulus(level(pixel[red]), level(pixel[1]), level(pixel[blue]));
    out.L[i] = t.y;
    out.a[i] = t.x;
    out.b[i] = t.z;
  }
}

// The rest of a row's conversion once it holds tristimulus values.
DEMOSAIC_ALWAYS_INLINE void TristimulusRowToLabBody(LabRow& out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double fy = LabCurve(out.L[i]);
    const double fx = LabCurve(out.a[i]);
    const double fz = LabCurve(out.b[i]);
    out.L[i] = 116.0 * fy - 16.0;
    out.a[i] = 500.0 * (fx - fy);
    out.b[i] = 200.0 * (fy - fz);
  }
}

// One copy per instruction set, each computing the same IEEE operations (none
// may fuse a multiply and an add), chosen once per process.
void TristimulusRowToLabBaseline(LabRow& out) {
  TristimulusRowToLabBody(out);
}
#if DEMOSAIC_X86_VARIANTS
DEMOSAIC_TARGET_AVX2 void TristimulusRowToLabAvx2(LabRow& out) {
  TristimulusRowToLabBody(out);
}
DEMOSAIC_TARGET_AVX512 void TristimulusRowToLabAvx512(LabRow& out) {
  TristimulusRowToLabBody(out);
}
#endif

void TristimulusRowToLab(LabRow& out) {
#if DEMOSAIC_X86_VARIANTS
  switch (engine::BestSimdLevel()) {
    case engine::SimdLevel::kAvx512:
      return TristimulusRowToLabAvx512(out);
    case engine::SimdLevel::kAvx2:
      return TristimulusRowToLabAvx2(out);
    case engine::SimdLevel::kBaseline:
      break;
  }
#endif
  TristimulusRowToLabBaseline(out);
}

}  // namespace

Lab SrgbToLab(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const LinearTable& linear = Linear();
  return LabOfLinear(linear[red], linear[green], linear[blue]);
}

Lab UnitSrgbToLab(double red, double green, double blue) {
  return LabOfLinear(LinearOf(red), LinearOf(green), LinearOf(blue));
}

LinearLevels LinearLevelsOf(ConstImageView) {
  LinearLevels levels;
  levels.shared = Linear().data();
  return levels;
}

LinearLevels LinearLevelsOf(ConstImageView16 image) {
  LinearLevels levels;
  levels.white_level = image.white_level;
  levels.owned.resize(static_cast<std::size_t>(image.white_level) + 1);
  const double white = static_cast<double>(image.white_level);
  for (std::int32_t v = 0; v <= image.white_level; ++v) {
    levels.owned[static_cast<std::size_t>(v)] = LinearOf(v / white);
  }
  return levels;
}

void ConvertRowToLab(ConstImageView image, const LinearLevels& linear, std::int32_t row,
                     std::int32_t first_column, LabRow& out) {
  RowToTristimulus(image.Row(row) + 3 * static_cast<std::ptrdiff_t>(first_column), image.order,
                   linear, out);
  TristimulusRowToLab(out);
}

void ConvertRowToLab(ConstImageView16 image, const LinearLevels& linear, std::int32_t row,
                     std::int32_t first_column, LabRow& out) {
  RowToTristimulus(image.Row(row) + 3 * static_cast<std::ptrdiff_t>(first_column), image.order,
                   linear, out);
  TristimulusRowToLab(out);
}

}  // namespace demosaic
