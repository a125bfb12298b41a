// The three stages of the reconstruction and the row buffers they share.
// Internal to the library: ReconstructFromMosaic runs them band by band.
//
// The method's six colour-difference planes are held compactly. Along a row
// every site's horizontal estimate is of the same difference (R - G on a red
// row, B - G on a blue row), and down a column every vertical estimate is of
// the same difference, so RgH and BgH share one `horizontal` plane (row by
// row) and RgV and BgV one `vertical` plane (column by column). Likewise
// every fused difference a row holds is the row's own (RgFused at R sites,
// BgFused at B sites), so both fused planes share one `fused` plane. The
// differences that the fill derives at the other sites are used at once to
// rebuild the pixel and never stored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "demosaic/bayer.h"
#include "demosaic/image.h"

namespace demosaic::engine {

// Every colour difference the method stores lies in -255 .. 255.
using Diff = std::int16_t;

// Rows of one difference plane, held in `capacity` slots of `stride` entries:
// row r lives in slot r % capacity. A buffer of at least H slots is a plain
// whole-image plane; fewer slots make a rolling buffer that keeps only the
// latest rows.
struct DiffRows {
  Diff* base = nullptr;
  std::ptrdiff_t stride = 0;
  std::int32_t capacity = 0;

  Diff* Row(std::int32_t r) const {
    return base + static_cast<std::ptrdiff_t>(r % capacity) * stride;
  }
};

// Instruction sets a stage can be compiled for; all give the same values.
enum class SimdLevel { kBaseline, kAvx2, kAvx512 };

// The widest level this processor runs.
SimdLevel BestSimdLevel();
bool ProcessorSupports(SimdLevel level);

// Writes rows [first_row, end_row) of `horizontal` and `vertical` at every
// column: each site's difference estimated along its row and down its
// column from the mosaic alone, with the mirror rules at the image edges.
// Requires a mosaic of at least 3 columns and 4 rows. Reads mosaic rows up to
// 2 away from those written.
void EstimateDirectionalDifferences(ConstMosaicView mosaic, BayerPattern pattern,
                                    std::int32_t first_row, std::int32_t end_row,
                                    DiffRows horizontal, DiffRows vertical);

// Writes `fused` at the red and blue sites of rows [first_row, end_row) that
// lie at least 2 from every edge, and nothing else: the site's row and column
// estimates merged by their spreads, bounded to sample - 255 .. sample and
// rounded. Reads rows up to 2 away of `vertical`, the row itself of
// `horizontal`. `level` picks the compiled variant of the inner loop; the
// processor must support it.
void FuseDirections(ConstMosaicView mosaic, BayerPattern pattern, std::int32_t first_row,
                    std::int32_t end_row, DiffRows horizontal, DiffRows vertical, DiffRows fused,
                    SimdLevel level = BestSimdLevel());

// The fused difference at one red or blue site with mosaic sample `sample`:
// `horizontal` points at the site's entry of its row's horizontal estimates,
// `vertical[k]` at the entries of the column's vertical estimates in rows
// -2 .. +2 around it.
std::int32_t FuseSite(const Diff* horizontal, const Diff* const vertical[5], std::int32_t sample);

// Writes every pixel of output rows [first_row, end_row): black outside the
// interior (the sites at least 3 from every edge); inside it, the missing
// differences are taken as means of the nearest fused ones and the pixel is
// rebuilt from its mosaic sample and its two differences. Reads rows up to 1
// away of `fused`.
void ReconstructColors(ConstMosaicView mosaic, BayerPattern pattern, std::int32_t first_row,
                       std::int32_t end_row, DiffRows fused, ImageView output);

}  // namespace demosaic::engine
