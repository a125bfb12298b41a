// PSNR and CPSNR of a reconstruction against its reference, and the report
// line that prints them.
#include <cmath>
#include <cstdio>

#include "quality/quality.h"

namespace demosaic {
namespace {

constexpr double kPeakSquared = 65025.0;  // 255 squared

QualityTotals totals;

}  // namespace

QualityTotals ComputeQuality(ConstColorImage reference, ConstColorImage reconstruction,
                             std::int32_t width, std::int32_t height, std::int32_t border) {
  // Squared errors are integers of at most 65025; their sums stay exact in
  // double far beyond any image size.
  double sse[3] = {0.0, 0.0, 0.0};
  for (std::int32_t r = border; r < height - border; ++r) {
    const std::size_t row = 3 * SiteIndex(r, 0, width);
    for (std::int32_t c = border; c < width - border; ++c) {
      const std::size_t at = row + 3 * static_cast<std::size_t>(c);
      for (int k = 0; k < 3; ++k) {
        const int diff = int{reference[at + k]} - int{reconstruction[at + k]};
        sse[k] += static_cast<double>(diff * diff);
      }
    }
  }
  const double columns = static_cast<double>(width - 2 * border);
  const double rows = static_cast<double>(height - 2 * border);
  auto psnr = [&](double sum) { return 10.0 * std::log10(kPeakSquared / (sum / columns / rows)); };
  QualityTotals figures;
  figures.psnr_b = psnr(sse[kChannelB]);
  figures.psnr_g = psnr(sse[kChannelG]);
  figures.psnr_r = psnr(sse[kChannelR]);
  figures.cpsnr = psnr((sse[kChannelB] + sse[kChannelG] + sse[kChannelR]) / 3.0);
  return figures;
}

QualityTotals& Totals() {
  return totals;
}

void MeasureQuality(ConstColorImage reference, ConstColorImage reconstruction, std::int32_t width,
                    std::int32_t height) {
  const QualityTotals figures = ComputeQuality(reference, reconstruction, width, height);
  totals.psnr_r += figures.psnr_r;
  totals.psnr_g += figures.psnr_g;
  totals.psnr_b += figures.psnr_b;
  totals.cpsnr += figures.cpsnr;
}

std::string FormatReportLine(const std::string& image_name, const QualityTotals& figures) {
  const char* format = "%s\tPSNR_R = %.2f\tPSNR_G = %.2f\tPSNR_B = %.2f\tCPSNR = %.2f\r\n";
  const int length = std::snprintf(nullptr, 0, format, image_name.c_str(), figures.psnr_r,
                                   figures.psnr_g, figures.psnr_b, figures.cpsnr);
  std::string line(static_cast<std::size_t>(length), '\0');
  std::snprintf(line.data(), line.size() + 1, format, image_name.c_str(), figures.psnr_r,
                figures.psnr_g, figures.psnr_b, figures.cpsnr);
  return line;
}

}  // namespace demosaic
