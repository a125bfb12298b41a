// PSNR and CPSNR of a reconstruction against its reference over the measured
// interior.
#include <cmath>

#include "demosaic/quality.h"
#include "quality/measured_region.h"

namespace demosaic {
namespace {

constexpr double kPeakSquared = 65025.0;  // 255 squared

}  // namespace

QualityFigures ComputeQuality(ConstImageView reference, ConstImageView reconstruction,
                              std::int32_t border) {
  CheckMeasuredRegion("ComputeQuality", reference, reconstruction, border, 1);
  const int red = RedOffset(reference.order);
  const int blue = BlueOffset(reference.order);
  const int red_rec = RedOffset(reconstruction.order);
  const int blue_rec = BlueOffset(reconstruction.order);
  // Squared errors are integers of at most 65025; their sums stay exact in
  // double far beyond any image size. Each row's sums are kept in integers
  // first, which is exact and faster.
  double sse_r = 0.0;
  double sse_g = 0.0;
  double sse_b = 0.0;
  for (std::int32_t r = border; r < reference.height - border; ++r) {
    const std::uint8_t* want = reference.Row(r);
    const std::uint8_t* got = reconstruction.Row(r);
    std::int64_t row_r = 0;
    std::int64_t row_g = 0;
    std::int64_t row_b = 0;
    for (std::int32_t c = border; c < reference.width - border; ++c) {
      const std::ptrdiff_t at = 3 * static_cast<std::ptrdiff_t>(c);
      const std::int32_t dr = std::int32_t{want[at + red]} - got[at + red_rec];
      const std::int32_t dg = std::int32_t{want[at + 1]} - got[at + 1];
      const std::int32_t db = std::int32_t{want[at + blue]} - got[at + blue_rec];
      row_r += dr * dr;
      row_g += dg * dg;
      row_b += db * db;
    }
    sse_r += static_cast<double>(row_r);
    sse_g += static_cast<double>(row_g);
    sse_b += static_cast<double>(row_b);
  }
  const double columns = static_cast<double>(reference.width - 2 * border);
  const double rows = static_cast<double>(reference.height - 2 * border);
  auto psnr = [&](double sum) { return 10.0 * std::log10(kPeakSquared / (sum / columns / rows)); };
  QualityFigures figures;
  figures.psnr_r = psnr(sse_r);
  figures.psnr_g = psnr(sse_g);
  figures.psnr_b = psnr(sse_b);
  figures.cpsnr = psnr((sse_b + sse_g + sse_r) / 3.0);
  return figures;
}

}  // namespace demosaic
