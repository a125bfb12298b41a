// The Bayer colour filter: which 2 x 2 tile covers the sensor, and the class
// of every site under it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "demosaic/export.h"

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

// The tile as it falls at site (r, c): the pattern of the part of the sensor
// whose top-left site is (r, c), as a crop starting there sees it. The same
// tile at even r and c; rows swapped at odd r, columns at odd c. Requires
// r >= 0 and c >= 0.
constexpr BayerPattern PatternAtSite(BayerPattern pattern, std::int32_t r, std::int32_t c) {
  const RedSite red = RedSiteOf(pattern);
  const bool red_row = ((red.row ^ r) & 1) != 0;
  const bool red_column = ((red.column ^ c) & 1) != 0;
  if (red_row) return red_column ? BayerPattern::kBGGR : BayerPattern::kGBRG;
  return red_column ? BayerPattern::kGRBG : BayerPattern::kRGGB;
}

// "GRBG", "RGGB", "BGGR" or "GBRG".
DEMOSAIC_EXPORT std::string_view PatternName(BayerPattern pattern);

// The pattern a four-letter name denotes, in any letter case; nothing for any
// other text.
DEMOSAIC_EXPORT std::optional<BayerPattern> ParsePattern(std::string_view name);

}  // namespace demosaic
