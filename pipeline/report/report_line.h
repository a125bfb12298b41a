// The line demosaic-eval prints for a measured reference.
#pragma once

#include <string>

#include "demosaic/quality.h"

namespace demosaic {

// "NAME\tPSNR_R = x\tPSNR_G = x\tPSNR_B = x\tCPSNR = x\r\n", two decimals
// each; an exact channel prints as inf.
std::string FormatReportLine(const std::string& image_name, const QualityFigures& figures);

}  // namespace demosaic
