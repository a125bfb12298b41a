// The line demosaic-eval prints for a measured reference.
#pragma once

#include <string>

#include "demosaic/quality.h"

namespace demosaic {

// "NAME\tPSNR_R = x\tPSNR_G = x\tPSNR_B = x\tCPSNR = x\r\n", two decimals
// each; an exact channel prints as inf. NAME is `image_name` byte for byte,
// but that a backslash is written "\\", a tab "\t", a CR "\r", a LF "\n"
// and any other control character (below 0x20, and 0x7F) "\xHH": the line
// is always one line of five fields.
std::string FormatReportLine(const std::string& image_name, const QualityFigures& figures);

}  // namespace demosaic
