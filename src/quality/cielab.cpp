// 8-bit sRGB to CIELAB under D65, one pixel or one row at a time.
#include "quality/cielab.h"

#include <array>
#include <cmath>
#include <cstddef>

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

double LabCurve(double t) {
  return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0;
}

Lab LinearToLab(double red, double green, double blue) {
  const double x = (0.412453 * red + 0.357580 * green + 0.180423 * blue) / 0.95047;
  const double y = (0.212671 * red + 0.715160 * green + 0.072169 * blue) / 1.0;
  const double z = (0.019334 * red + 0.119193 * green + 0.950227 * blue) / 1.08883;
  const double fx = LabCurve(x);
  const double fy = LabCurve(y);
  const double fz = LabCurve(z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

}  // namespace

Lab SrgbToLab(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const LinearTable& linear = Linear();
  return LinearToLab(linear[red], linear[green], linear[blue]);
}

void ConvertRowToLab(ConstImageView image, std::int32_t row, std::int32_t first_column,
                     std::span<Lab> out) {
  const LinearTable& linear = Linear();
  const std::size_t red = static_cast<std::size_t>(RedOffset(image.order));
  const std::size_t blue = static_cast<std::size_t>(BlueOffset(image.order));
  const std::uint8_t* pixel = image.Row(row) + 3 * static_cast<std::ptrdiff_t>(first_column);
  for (Lab& lab : out) {
    lab = LinearToLab(linear[pixel[red]], linear[pixel[1]], linear[pixel[blue]]);
    pixel += 3;
  }
}

}  // namespace demosaic
