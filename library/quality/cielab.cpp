// 8-bit sRGB to CIELAB under D65, one pixel or one row at a time. Both use
// the same steps, so a row's colours equal SrgbToLab's to the last bit.
#include "quality/cielab.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "demosaic/metrics.h"

namespace demosaic {
namespace {

// Linear light of each 8-bit sRGB value: the transfer curve depends on the
// value alone, so 256 entries replace a pow per channel and pixel.
using LinearTable = std::array<double, 256>;

LinearTable MakeLinearTable() {
  LinearTable table{};
  for (int v = 0; v < 256; ++v) {
    const double c = v / 255.0;
    table[static_cast<std::size_t>(v)] =
        c > 0.04045 ? std::pow((c + 0.055) / 1.055, 2.4) : c / 12.92;
  }
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

// The cube root of t > 0 in two parts: a first estimate from the bits of t
// (the exponent divided by 3), good to about 3 %, then three Halley steps,
// each of which triples the correct digits. For 0.008856 < t <= 1 the result
// is within one unit in the last place of the true cube root (std::cbrt here
// is off by up to about three and a half) at half std::cbrt's cost; it was
// the largest single cost of CIEDE2000 and the zipper share. The estimate is
// apart so that the steps can run over whole arrays.
double CubeRootEstimate(double t) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(t) / 3 + 0x2A9F7893782DA1CEull);
}

double RefineCubeRoot(double t, double y) {
  for (int step = 0; step < 3; ++step) {
    const double cube = y * y * y;
    y -= y * (cube - t) / (2.0 * cube + t);
  }
  return y;
}

constexpr double kCurveThreshold = 0.008856;

// What f takes the cube root of: t itself above the threshold; below it f is
// linear and the root unused, and rooting the threshold instead keeps the
// steps away from zero.
double RootArgument(double t) {
  return t > kCurveThreshold ? t : kCurveThreshold;
}

// f(t) given the cube root of RootArgument(t).
double LabCurve(double t, double cube_root) {
  return t > kCurveThreshold ? cube_root : 7.787 * t + 16.0 / 116.0;
}

double LabCurve(double t) {
  const double root_argument = RootArgument(t);
  return LabCurve(t, RefineCubeRoot(root_argument, CubeRootEstimate(root_argument)));
}

// Replaces each t of `values` by f(t), exactly as LabCurve(t) does.
void ApplyLabCurve(std::vector<double>& values, std::vector<double>& scratch) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    scratch[i] = CubeRootEstimate(RootArgument(values[i]));
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = LabCurve(values[i], RefineCubeRoot(RootArgument(values[i]), scratch[i]));
  }
}

}  // namespace

Lab SrgbToLab(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const LinearTable& linear = Linear();
  const Tristimulus t = ToTristimulus(linear[red], linear[green], linear[blue]);
  const double fx = LabCurve(t.x);
  const double fy = LabCurve(t.y);
  const double fz = LabCurve(t.z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

void ConvertRowToLab(ConstImageView image, std::int32_t row, std::int32_t first_column,
                     LabRow& out) {
  const LinearTable& linear = Linear();
  const std::size_t red = static_cast<std::size_t>(RedOffset(image.order));
  const std::size_t blue = static_cast<std::size_t>(BlueOffset(image.order));
  const std::uint8_t* pixels = image.Row(row) + 3 * static_cast<std::ptrdiff_t>(first_column);
  // L, a and b hold y, x and z, then f of each, then the coordinates.
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::uint8_t* pixel = pixels + 3 * i;
    const Tristimulus t = ToTristimulus(linear[pixel[red]], linear[pixel[1]], linear[pixel[blue]]);
    out.L[i] = t.y;
    out.a[i] = t.x;
    out.b[i] = t.z;
  }
  ApplyLabCurve(out.L, out.scratch);
  ApplyLabCurve(out.a, out.scratch);
  ApplyLabCurve(out.b, out.scratch);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double fy = out.L[i];
    const double fx = out.a[i];
    const double fz = out.b[i];
    out.L[i] = 116.0 * fy - 16.0;
    out.a[i] = 500.0 * (fx - fy);
    out.b[i] = 200.0 * (fy - fz);
  }
}

}  // namespace demosaic
