// The report line of demosaic-eval: the name unchanged but for control
// characters and backslashes, escaped; two decimals, inf for an exact
// channel, tabs and CR LF.
#include "report/report_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace demosaic {
namespace {

TEST(ReportLine, KeepsTheNameAndRoundsToTwoDecimals) {
  QualityFigures q;
  q.psnr_r = 35.424999;
  q.psnr_g = 37.455;
  q.psnr_b = 9.5;
  q.cpsnr = 36.0;
  EXPECT_EQ(FormatReportLine("dir/my image.png", q),
            "dir/my image.png\tPSNR_R = 35.42\tPSNR_G = 37.45\tPSNR_B = 9.50\tCPSNR = 36.00\r\n");
}

TEST(ReportLine, AnErrorOfOneEverywherePrints48Point13) {
  const double one = 10.0 * std::log10(65025.0);
  EXPECT_EQ(FormatReportLine("a.png", {one, one, one, one}),
            "a.png\tPSNR_R = 48.13\tPSNR_G = 48.13\tPSNR_B = 48.13\tCPSNR = 48.13\r\n");
}

TEST(ReportLine, ExactChannelsPrintInf) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(FormatReportLine("x", {inf, inf, inf, inf}),
            "x\tPSNR_R = inf\tPSNR_G = inf\tPSNR_B = inf\tCPSNR = inf\r\n");
}

// Tab, CR, LF and other control characters in a name would split the line
// or add a field: they are written escaped, and a backslash doubled so that
// the escapes read back unambiguously.
TEST(ReportLine, ControlCharactersInTheNameAreEscaped) {
  const QualityFigures q{30.0, 31.0, 32.0, 31.0};
  EXPECT_EQ(FormatReportLine("a\tb\rc\nd\\e\x1b[0m\x7f.png", q),
            "a\\tb\\rc\\nd\\\\e\\x1B[0m\\x7F.png\tPSNR_R = 30.00\tPSNR_G = 31.00"
            "\tPSNR_B = 32.00\tCPSNR = 31.00\r\n");
  // Bytes of other scripts are not control characters.
  EXPECT_EQ(FormatReportLine("\xC3\xA9t\xC3\xA9.png", q).substr(0, 10), "\xC3\xA9t\xC3\xA9.png\t");
}

}  // namespace
}  // namespace demosaic
