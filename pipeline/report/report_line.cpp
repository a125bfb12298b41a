// Formatting the report line, with the name escaped so that the line stays
// one line of five tab-separated fields whatever the file is called.
#include "report/report_line.h"

#include <cstdio>

namespace demosaic {
namespace {

// `name` with a backslash doubled, tab, CR and LF as \t, \r and \n, and any
// other control character as \xHH; every other byte unchanged.
std::string EscapedName(const std::string& name) {
  std::string escaped;
  escaped.reserve(name.size());
  for (const char ch : name) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '\\') {
      escaped += "\\\\";
    } else if (ch == '\t') {
      escaped += "\\t";
    } else if (ch == '\r') {
      escaped += "\\r";
    } else if (ch == '\n') {
      escaped += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      escaped += hex;
    } else {
      escaped += ch;
    }
  }
  return escaped;
}

}  // namespace

std::string FormatReportLine(const std::string& image_name, const QualityFigures& figures) {
  const std::string name = EscapedName(image_name);
  const char* format = "%s\tPSNR_R = %.2f\tPSNR_G = %.2f\tPSNR_B = %.2f\tCPSNR = %.2f\r\n";
  const int length = std::snprintf(nullptr, 0, format, name.c_str(), figures.psnr_r, figures.psnr_g,
                                   figures.psnr_b, figures.cpsnr);
  std::string line(static_cast<std::size_t>(length), '\0');
  std::snprintf(line.data(), line.size() + 1, format, name.c_str(), figures.psnr_r, figures.psnr_g,
                figures.psnr_b, figures.cpsnr);
  return line;
}

}  // namespace demosaic
