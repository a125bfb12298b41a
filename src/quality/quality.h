// Reconstruction quality: per-channel PSNR and colour PSNR over the image
// interior, the running totals, and the report line.
#pragma once

#include <cstdint>
#include <string>

#include "demosaic/types.h"

namespace demosaic {

// Four figures in decibels for 8-bit data; +infinity where the error is 0.
struct QualityTotals {
  double psnr_r = 0.0;
  double psnr_g = 0.0;
  double psnr_b = 0.0;
  double cpsnr = 0.0;
};

// The figures of one image pair over the sites at least `border` from every
// edge (the engine leaves a black frame of 3). Both images are only read.
// Requires width and height greater than 2 * border.
QualityTotals ComputeQuality(ConstColorImage reference, ConstColorImage reconstruction,
                             std::int32_t width, std::int32_t height, std::int32_t border = 3);

// The process-wide totals, zero at start.
QualityTotals& Totals();

// Adds the figures of one image pair (frame of 3 excluded) to Totals().
void MeasureQuality(ConstColorImage reference, ConstColorImage reconstruction, std::int32_t width,
                    std::int32_t height);

// "NAME\tPSNR_R = x\tPSNR_G = x\tPSNR_B = x\tCPSNR = x\r\n", two decimals.
std::string FormatReportLine(const std::string& image_name, const QualityTotals& figures);

}  // namespace demosaic
