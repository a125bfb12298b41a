// PSNR and CPSNR of a reconstruction against its reference over the measured
// interior, for 8-bit and 16-bit samples.
#include <cmath>
#include <type_traits>

#include "demosaic/quality.h"
#include "quality/measured_region.h"
#include "quality/squared_errors.h"

namespace demosaic {
namespace {

// The usual case, both rows in one channel order: offsets known when
// compiling, so the loop is vectorised. Integer sums, so the figures are the
// same as the general loop's.
template <class Sample>
void AddRowAlike(const Sample* reference_row, ChannelOrder order, const Sample* reconstruction_row,
                 std::int32_t first_column, std::int32_t end_column, SquaredErrors& sums) {
  using Term = std::conditional_t<sizeof(Sample) == 1, std::int32_t, std::int64_t>;
  std::int64_t at_offset[3] = {0, 0, 0};
  const std::ptrdiff_t begin = 3 * static_cast<std::ptrdiff_t>(first_column);
  const std::ptrdiff_t end = 3 * static_cast<std::ptrdiff_t>(end_column);
  for (std::ptrdiff_t at = begin; at < end; at += 3) {
    const Term d0 = Term{reference_row[at]} - reconstruction_row[at];
    const Term d1 = Term{reference_row[at + 1]} - reconstruction_row[at + 1];
    const Term d2 = Term{reference_row[at + 2]} - reconstruction_row[at + 2];
    at_offset[0] += d0 * d0;
    at_offset[1] += d1 * d1;
    at_offset[2] += d2 * d2;
  }
  sums.red += static_cast<double>(at_offset[RedOffset(order)]);
  sums.green += static_cast<double>(at_offset[1]);
  sums.blue += static_cast<double>(at_offset[BlueOffset(order)]);
}

// Differences of 8-bit samples are squared in 32 bits, of 16-bit samples in
// 64 (65535^2 does not fit a signed 32-bit integer); each row's sum fits 64
// bits for any width an int32 allows.
template <class Sample>
void AddRow(const Sample* reference_row, ChannelOrder reference_order,
            const Sample* reconstruction_row, ChannelOrder reconstruction_order,
            std::int32_t first_column, std::int32_t end_column, SquaredErrors& sums) {
  if (reference_order == reconstruction_order) {
    AddRowAlike(reference_row, reference_order, reconstruction_row, first_column, end_column, sums);
    return;
  }
  const int red = RedOffset(reference_order);
  const int blue = BlueOffset(reference_order);
  const int red_rec = RedOffset(reconstruction_order);
  const int blue_rec = BlueOffset(reconstruction_order);
  using Term = std::conditional_t<sizeof(Sample) == 1, std::int32_t, std::int64_t>;
  std::int64_t row_r = 0;
  std::int64_t row_g = 0;
  std::int64_t row_b = 0;
  for (std::int32_t c = first_column; c < end_column; ++c) {
    const std::ptrdiff_t at = 3 * static_cast<std::ptrdiff_t>(c);
    const Term dr = Term{reference_row[at + red]} - reconstruction_row[at + red_rec];
    const Term dg = Term{reference_row[at + 1]} - reconstruction_row[at + 1];
    const Term db = Term{reference_row[at + blue]} - reconstruction_row[at + blue_rec];
    row_r += dr * dr;
    row_g += dg * dg;
    row_b += db * db;
  }
  sums.red += static_cast<double>(row_r);
  sums.green += static_cast<double>(row_g);
  sums.blue += static_cast<double>(row_b);
}

}  // namespace

void AddRowSquaredErrors(const std::uint8_t* reference_row, ChannelOrder reference_order,
                         const std::uint8_t* reconstruction_row, ChannelOrder reconstruction_order,
                         std::int32_t first_column, std::int32_t end_column, SquaredErrors& sums) {
  AddRow(reference_row, reference_order, reconstruction_row, reconstruction_order, first_column,
         end_column, sums);
}

void AddRowSquaredErrors(const std::uint16_t* reference_row, ChannelOrder reference_order,
                         const std::uint16_t* reconstruction_row, ChannelOrder reconstruction_order,
                         std::int32_t first_column, std::int32_t end_column, SquaredErrors& sums) {
  AddRow(reference_row, reference_order, reconstruction_row, reconstruction_order, first_column,
         end_column, sums);
}

QualityFigures FiguresFromSquaredErrors(const SquaredErrors& sums, std::int64_t columns,
                                        std::int64_t rows, std::int32_t white_level) {
  const double column_count = static_cast<double>(columns);
  const double row_count = static_cast<double>(rows);
  // W^2 is exact in double (65025 for 8-bit samples).
  const double peak_squared = static_cast<double>(white_level) * static_cast<double>(white_level);
  auto psnr = [&](double sum) {
    return 10.0 * std::log10(peak_squared / (sum / column_count / row_count));
  };
  QualityFigures figures;
  figures.psnr_r = psnr(sums.red);
  figures.psnr_g = psnr(sums.green);
  figures.psnr_b = psnr(sums.blue);
  figures.cpsnr = psnr((sums.blue + sums.green + sums.red) / 3.0);
  return figures;
}

namespace {

// The white level of a view: 255 for 8-bit samples, the view's own for
// 16-bit ones.
std::int32_t WhiteLevelOf(ConstImageView) {
  return 255;
}
std::int32_t WhiteLevelOf(ConstImageView16 view) {
  return view.white_level;
}

// ComputeQuality at either depth.
template <class View>
QualityFigures QualityOf(View reference, View reconstruction, std::int32_t border) {
  CheckMeasuredRegion("ComputeQuality", reference, reconstruction, border, 1);
  SquaredErrors sums;
  for (std::int32_t r = border; r < reference.height - border; ++r) {
    AddRowSquaredErrors(reference.Row(r), reference.order, reconstruction.Row(r),
                        reconstruction.order, border, reference.width - border, sums);
  }
  return FiguresFromSquaredErrors(sums, reference.width - 2 * std::int64_t{border},
                                  reference.height - 2 * std::int64_t{border},
                                  WhiteLevelOf(reference));
}

}  // namespace

QualityFigures ComputeQuality(ConstImageView reference, ConstImageView reconstruction,
                              std::int32_t border) {
  return QualityOf(reference, reconstruction, border);
}

QualityFigures ComputeQuality(ConstImageView16 reference, ConstImageView16 reconstruction,
                              std::int32_t border) {
  return QualityOf(reference, reconstruction, border);
}

}  // namespace demosaic
