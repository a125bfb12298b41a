// The Bayer colour filter: which 2 x 2 tile covers the sensor, and the class
// of every site under it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace demosaic {

// The 2 x 2 tile repeated over the sensor, named by its four colours read from
// the top-left site (row 0, column 0), row by row. GRBG is G R on even rows
// and B G on odd rows.
enum class BayerPattern { kGRBG, kRGGB, kBGGR, kGBRG };

// Colour of the filter over a site: green on a row with red (Gr), red, blue,
// green on a row with blue (Gb). The values are those of the GRBG tile's sites
// (row & 1) << 1 | (column & 1).
enum CfaClass : int {
  kGr = 0,
  kR = 1,
  kB = 2,
  kGb = 3,
};

// Row and column parity of the red site in the tile; the blue site is on the
// other row and the other column, the two green sites on the remaining ones.
struct RedSite {
  std::int32_t row;
  std::int32_t column;
};

constexpr RedSite RedSiteOf(BayerPattern pattern) {
  switch (pattern) {
    case BayerPattern::kRGGB:
      return {0, 0};
    case BayerPattern::kBGGR:
      return {1, 1};
    case BayerPattern::kGBRG:
      return {1, 0};
    case BayerPattern::kGRBG:
      break;
  }
  return {0, 1};
}

// The class of site (r, c) under `pattern`: the class of the GRBG site that
// lies as far from its tile's red site. Requires r >= 0 and c >= 0.
constexpr CfaClass CfaClassOf(BayerPattern pattern, std::int32_t r, std::int32_t c) {
  const RedSite red = RedSiteOf(pattern);
  return static_cast<CfaClass>((((r ^ red.row) & 1) << 1) | ((c ^ red.column ^ 1) & 1));
}

// "GRBG", "RGGB", "BGGR" or "GBRG".
std::string_view PatternName(BayerPattern pattern);

// The pattern a four-letter name denotes, in any letter case; nothing for any
// other text.
std::optional<BayerPattern> ParsePattern(std::string_view name);

}  // namespace demosaic
