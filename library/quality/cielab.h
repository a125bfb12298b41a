// Conversion of image rows to CIELAB, shared by the CIEDE2000 mean and the
// zipper share, for 8-bit views and for 16-bit views of any white level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "demosaic/image.h"
#include "quality/measured_region.h"

namespace demosaic {

// The CIELAB colours of a run of pixels, one array per coordinate so that
// each step of the conversion runs over whole arrays.
struct LabRow {
  std::vector<double> L;
  std::vector<double> a;
  std::vector<double> b;

  explicit LabRow(std::size_t width) : L(width), a(width), b(width) {}
  std::size_t size() const { return L.size(); }
};

// Linear light of every sample value v in 0 .. W of a view, W its white
// level (255 for 8-bit views): the sRGB curve of c = v / W. The curve depends
// on the value alone, so W + 1 entries replace a pow per channel and pixel.
// 8-bit views share one table made once; a 16-bit view's is made per call.
struct LinearLevels {
  std::vector<double> owned;       // the 16-bit view's table
  const double* shared = nullptr;  // the 8-bit table, when `owned` is empty
  std::int32_t white_level = 255;

  const double* values() const { return owned.empty() ? shared : owned.data(); }
};

LinearLevels LinearLevelsOf(ConstImageView image);
LinearLevels LinearLevelsOf(ConstImageView16 image);

// Sets `out` to the CIELAB colours of pixels first_column .. first_column +
// out.size() - 1 of row `row` of `image`, honouring its channel order: the
// values of SrgbToLab (8 bits) or UnitSrgbToLab(v / W) (16 bits) to the last
// bit. `linear` must be LinearLevelsOf a view of the same white level. A
// sample above the white level is read as the white level. Requires the
// pixels to lie inside the image.
void ConvertRowToLab(ConstImageView image, const LinearLevels& linear, std::int32_t row,
                     std::int32_t first_column, LabRow& out);
void ConvertRowToLab(ConstImageView16 image, const LinearLevels& linear, std::int32_t row,
                     std::int32_t first_column, LabRow& out);

// The sum of Ciede2000 over the pixel pairs of two rows of one length,
// pixel by pixel from the left.
double RowDe2000Sum(const LabRow& reference, const LabRow& reconstruction);

// The mean CIEDE2000 difference over `region` from its rows' sums, added in
// row order: the same figure however the rows were shared among threads.
double MeanOfRowSums(std::span<const double> row_sums, const MeasuredRegion& region);

}  // namespace demosaic
