// The sRGB transfer curve applied to every sample of an image. The curve of
// a sample depends on its value alone, so each call makes a table of the
// W + 1 encoded values once and maps the samples through it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "demosaic/transfer.h"
#include "image/white_level.h"

namespace demosaic {
namespace {

// round(W * e(v / W)) for every v in 0 .. W, halves away from zero
// (std::round). The result never exceeds W: e(1) rounds to within a few
// units in the last place of 1.
template <class Sample>
std::vector<Sample> EncodedLevels(std::int32_t white_level) {
  std::vector<Sample> table(static_cast<std::size_t>(white_level) + 1);
  const double white = static_cast<double>(white_level);
  for (std::int32_t v = 0; v <= white_level; ++v) {
    const double c = v / white;
    const double encoded = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
    const double rounded = std::round(white * encoded);
    table[static_cast<std::size_t>(v)] =
        static_cast<Sample>(rounded < 0.0 ? 0.0 : (rounded > white ? white : rounded));
  }
  return table;
}

// Samples above the white level are mapped as the white level: their value
// is unspecified, but the lookup stays inside the table.
template <class Image>
void MapSamples(Image image, std::int32_t white_level) {
  using Sample = std::remove_pointer_t<decltype(image.data)>;
  const std::vector<Sample> table = EncodedLevels<Sample>(white_level);
  const auto white = static_cast<std::uint32_t>(white_level);
  const std::size_t row_samples = 3 * static_cast<std::size_t>(image.width > 0 ? image.width : 0);
  for (std::int32_t r = 0; r < image.height; ++r) {
    Sample* row = image.Row(r);
    for (std::size_t k = 0; k < row_samples; ++k) {
      const std::uint32_t v = row[k];
      row[k] = table[v < white ? v : white];
    }
  }
}

}  // namespace

void ApplySrgbCurve(ImageView image) {
  MapSamples(image, 255);
}

void ApplySrgbCurve(ImageView16 image) {
  CheckWhiteLevel("ApplySrgbCurve", image.white_level);
  MapSamples(image, image.white_level);
}

}  // namespace demosaic
