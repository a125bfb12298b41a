// Where the colours of a Bayer tile fall along one row: what the engine and
// the sampling need to treat a whole row with fixed per-column rules.
#pragma once

#include <cstdint>

#include "demosaic/bayer.h"

namespace demosaic {

// A row of a Bayer mosaic alternates green with one other colour: red on a
// red row, blue on a blue row.
struct RowLayout {
  bool red_row = true;
  std::int32_t green_parity = 0;  // column parity (0 or 1) of the row's green sites
};

constexpr RowLayout LayoutOfRow(BayerPattern pattern, std::int32_t r) {
  const RedSite red = RedSiteOf(pattern);
  const bool red_row = ((r ^ red.row) & 1) == 0;
  // Red sites sit on the red site's column parity, blue sites on the other;
  // green takes the remaining parity of each row.
  return {red_row, red_row ? (red.column ^ 1) : red.column};
}

}  // namespace demosaic
