// Formatting the report line.
#include "report/report_line.h"

#include <cstdio>

namespace demosaic {

std::string FormatReportLine(const std::string& image_name, const QualityFigures& figures) {
  const char* format = "%s\tPSNR_R = %.2f\tPSNR_G = %.2f\tPSNR_B = %.2f\tCPSNR = %.2f\r\n";
  const int length = std::snprintf(nullptr, 0, format, image_name.c_str(), figures.psnr_r,
                                   figures.psnr_g, figures.psnr_b, figures.cpsnr);
  std::string line(static_cast<std::size_t>(length), '\0');
  std::snprintf(line.data(), line.size() + 1, format, image_name.c_str(), figures.psnr_r,
                figures.psnr_g, figures.psnr_b, figures.cpsnr);
  return line;
}

}  // namespace demosaic
