// Conversion of image rows to CIELAB, shared by the CIEDE2000 mean and the
// zipper share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "demosaic/image.h"

namespace demosaic {

// The CIELAB colours of a run of pixels, one array per coordinate so that
// each step of the conversion runs over whole arrays.
struct LabRow {
  std::vector<double> L;
  std::vector<double> a;
  std::vector<double> b;
  std::vector<double> scratch;

  explicit LabRow(std::size_t width) : L(width), a(width), b(width), scratch(width) {}
  std::size_t size() const { return L.size(); }
};

// Sets `out` to SrgbToLab of pixels first_column .. first_column +
// out.size() - 1 of row `row` of `image`, honouring its channel order; the
// values are those of SrgbToLab to the last bit. Requires the pixels to lie
// inside the image.
void ConvertRowToLab(ConstImageView image, std::int32_t row, std::int32_t first_column,
                     LabRow& out);

}  // namespace demosaic
