// The three stages of the reconstruction and the row buffers they share.
// Internal to the library: the entry points run them band by band.
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
//
// Every plane, the mosaic and the output are reached through row buffers of
// a few slots: row r lives in slot r % capacity. A buffer of at least H slots
// is a plain whole image; fewer slots make a rolling buffer that keeps only
// the latest rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "demosaic/bayer.h"
#include "demosaic/image.h"

namespace demosaic::engine {

// The differences the method stores lie in -1.5 W .. 1.5 W for samples of
// white level W (the estimates; the fused ones in -W .. W). For 8-bit samples
// they fit 16 bits; for 16-bit samples, up to W = 65535, they need 32.
using Diff = std::int16_t;
using WideDiff = std::int32_t;

// The difference type of a sample type.
template <class Sample>
using DiffOf = std::conditional_t<sizeof(Sample) == 1, Diff, WideDiff>;

// Rows of one difference plane.
template <class D>
struct DiffRowsOf {
  D* base = nullptr;
  std::ptrdiff_t stride = 0;  // entries from one slot to the next
  std::int32_t capacity = 0;

  D* Row(std::int32_t r) const { return base + static_cast<std::ptrdiff_t>(r % capacity) * stride; }
};
using DiffRows = DiffRowsOf<Diff>;
using WideDiffRows = DiffRowsOf<WideDiff>;

// Rows of the mosaic of a `width` x `height` image, samples of white level
// `white_level` (always 255 for 8-bit samples, whose stages use the constant).
template <class Sample>
struct SampleRowsOf {
  const Sample* base = nullptr;
  std::ptrdiff_t stride = 0;  // samples from one slot to the next
  std::int32_t capacity = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t white_level = sizeof(Sample) == 1 ? 255 : kMaxWhiteLevel;

  const Sample* Row(std::int32_t r) const {
    return base + static_cast<std::ptrdiff_t>(r % capacity) * stride;
  }
};
using SampleRows = SampleRowsOf<std::uint8_t>;
using SampleRows16 = SampleRowsOf<std::uint16_t>;

// A whole mosaic, every row in its own slot.
inline SampleRows WholeMosaic(ConstMosaicView mosaic) {
  return {mosaic.data, mosaic.stride, mosaic.height > 0 ? mosaic.height : 1, mosaic.width,
          mosaic.height};
}
inline SampleRows16 WholeMosaic(ConstMosaicView16 mosaic) {
  return {mosaic.data,  mosaic.stride, mosaic.height > 0 ? mosaic.height : 1,
          mosaic.width, mosaic.height, mosaic.white_level};
}

// Rows of output pixels, three channels each in `order`.
template <class Sample>
struct PixelRowsOf {
  Sample* base = nullptr;
  std::ptrdiff_t stride = 0;  // samples from one slot to the next
  std::int32_t capacity = 0;
  ChannelOrder order = ChannelOrder::kBGR;

  Sample* Row(std::int32_t r) const {
    return base + static_cast<std::ptrdiff_t>(r % capacity) * stride;
  }
};
using PixelRows = PixelRowsOf<std::uint8_t>;
using PixelRows16 = PixelRowsOf<std::uint16_t>;

// A whole output image, every row in its own slot.
inline PixelRows WholeImage(ImageView image) {
  return {image.data, image.stride, image.height > 0 ? image.height : 1, image.order};
}
inline PixelRows16 WholeImage(ImageView16 image) {
  return {image.data, image.stride, image.height > 0 ? image.height : 1, image.order};
}

// Instruction sets a stage can be compiled for; all give the same values.
enum class SimdLevel { kBaseline, kAvx2, kAvx512 };

// The widest level this processor runs.
SimdLevel BestSimdLevel();
bool ProcessorSupports(SimdLevel level);

// Writes rows [first_row, end_row) of `horizontal` and `vertical` at every
// column: each site's difference estimated along its row and down its
// column from the mosaic alone, with the mirror rules at the image edges.
// Requires a mosaic of at least 3 columns and 4 rows. Reads mosaic rows up to
// 2 away from those written. `level` picks the compiled variant of the inner
// loop; the processor must support it.
void EstimateDirectionalDifferences(SampleRows samples, BayerPattern pattern,
                                    std::int32_t first_row, std::int32_t end_row,
                                    DiffRows horizontal, DiffRows vertical,
                                    SimdLevel level = BestSimdLevel());
void EstimateDirectionalDifferences(SampleRows16 samples, BayerPattern pattern,
                                    std::int32_t first_row, std::int32_t end_row,
                                    WideDiffRows horizontal, WideDiffRows vertical,
                                    SimdLevel level = BestSimdLevel());

// Writes `fused` at the red and blue sites of rows [first_row, end_row) that
// lie at least 2 from every edge, and nothing else: the site's row and column
// estimates merged by their spreads, bounded to sample - 255 .. sample and
// rounded (sample - samples.white_level .. sample for 16-bit samples). Reads
// rows up to 2 away of `vertical`, the row itself of `horizontal` and of the
// mosaic. `level` as above.
void FuseDirections(SampleRows samples, BayerPattern pattern, std::int32_t first_row,
                    std::int32_t end_row, DiffRows horizontal, DiffRows vertical, DiffRows fused,
                    SimdLevel level = BestSimdLevel());
void FuseDirections(SampleRows16 samples, BayerPattern pattern, std::int32_t first_row,
                    std::int32_t end_row, WideDiffRows horizontal, WideDiffRows vertical,
                    WideDiffRows fused, SimdLevel level = BestSimdLevel());

// The fused difference at one red or blue site with mosaic sample `sample`:
// `horizontal` points at the site's entry of its row's horizontal estimates,
// `vertical[k]` at the entries of the column's vertical estimates in rows
// -2 .. +2 around it.
std::int32_t FuseSite(const Diff* horizontal, const Diff* const vertical[5], std::int32_t sample);
// The same for 16-bit samples of white level `white_level`.
std::int32_t FuseSite(const WideDiff* horizontal, const WideDiff* const vertical[5],
                      std::int32_t sample, std::int32_t white_level);

// Writes every pixel of output rows [first_row, end_row): black outside the
// interior (the sites at least 3 from every edge); inside it, the missing
// differences are taken as means of the nearest fused ones and the pixel is
// rebuilt from its mosaic sample and its two differences, each channel
// clamped to 0 .. 255 (0 .. samples.white_level for 16-bit samples). Reads
// rows up to 1 away of `fused`, including entries at green sites whose values
// it discards: they must hold some value, never uninitialised memory (any
// value for 8-bit samples; for 16-bit samples one of magnitude below 2^28,
// such as the zeros the entry points' buffers start with, so that the sums
// the discarded formulas form cannot overflow). `level` as above.
void ReconstructColors(SampleRows samples, BayerPattern pattern, std::int32_t first_row,
                       std::int32_t end_row, DiffRows fused, PixelRows output,
                       SimdLevel level = BestSimdLevel());
void ReconstructColors(SampleRows16 samples, BayerPattern pattern, std::int32_t first_row,
                       std::int32_t end_row, WideDiffRows fused, PixelRows16 output,
                       SimdLevel level = BestSimdLevel());

}  // namespace demosaic::engine
