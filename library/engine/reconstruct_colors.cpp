// Difference interpolation and colour reconstruction: the fused differences
// are spread to the interior sites that lack them, and every interior pixel
// is rebuilt from its own mosaic sample and its two differences, inside a
// black frame 3 pixels wide.
//
// The fill reads only values that the fusion wrote (the row's own difference
// at its red or blue sites) and derives the others, so each derived
// difference is used at once to rebuild its pixel and never stored.
//
// A row is rebuilt in two straight passes that the compiler vectorises: the
// first computes both sites' formulas at every column and keeps the one of
// the column's class, giving three planar rows of clamped channels; the
// second interleaves them into the output's pixels.
//
// One template serves 8-bit and 16-bit samples: channels are clamped to
// 0 .. W, W the white level (255, a constant, for 8-bit samples).
#include <algorithm>
#include <cstring>

#include "cfa/cfa_layout.h"
#include "demosaic/reconstruct.h"
#include "engine/simd.h"
#include "engine/stages.h"

namespace demosaic::engine {
namespace {

// The longest row segment rebuilt at once: planar rows of this many columns
// stay in the first-level cache.
constexpr std::int32_t kChunk = 1024;

// 8-bit samples keep the constant bound written out: the compiler turns that
// form into vector minimum and maximum instructions, and a bound passed in
// (even one known to be 255) into slower compare-and-blend sequences.
template <class Sample>
DEMOSAIC_ALWAYS_INLINE Sample ClampToWhite(std::int32_t v, std::int32_t white) {
  if constexpr (sizeof(Sample) == 1) {
    static_cast<void>(white);
    return static_cast<Sample>(v < 0 ? 0 : (v > 255 ? 255 : v));
  } else {
    return static_cast<Sample>(v < 0 ? 0 : (v > white ? white : v));
  }
}

// `when_set` where `mask` is all ones, `otherwise` where it is zero: a
// selection written with bit operations, which every instruction set
// vectorises.
DEMOSAIC_ALWAYS_INLINE std::int32_t Select(std::int32_t mask, std::int32_t when_set,
                                           std::int32_t otherwise) {
  return (when_set & mask) | (otherwise & ~mask);
}

// The fused rows around an interior row: `above` and `below` hold the other
// colour's differences, `here` the row's own. Means are arithmetic right
// shifts, which round toward minus infinity also for negative sums.
template <class D>
struct FusedRows {
  const D* above;
  const D* here;
  const D* below;
};

// Columns [first, end) of one interior row into planar rows of the row's own
// colour (red on a red row, blue on a blue row), green and the other colour.
// At a green site the own colour's neighbours lie left and right and the
// other colour's above and below; at a red or blue site its own difference
// was fused here and the other colour's lies on the four diagonals.
template <class Sample, class D>
DEMOSAIC_ALWAYS_INLINE void RebuildPlanar(const Sample* __restrict samples, const FusedRows<D>& f,
                                          std::int32_t green_parity, std::int32_t first,
                                          std::int32_t end, std::int32_t white,
                                          Sample* __restrict own, Sample* __restrict green,
                                          Sample* __restrict other) {
  const D* __restrict above = f.above;
  const D* __restrict here = f.here;
  const D* __restrict below = f.below;
  for (std::int32_t c = first; c < end; ++c) {
    const std::int32_t x = samples[c];
    const std::int32_t green_site = -static_cast<std::int32_t>((c & 1) == green_parity);
    // Green site.
    const std::int32_t own_at_green = x + ((here[c - 1] + here[c + 1]) >> 1);
    const std::int32_t other_at_green = x + ((above[c] + below[c]) >> 1);
    // Red or blue site.
    const std::int32_t green_at_colour = x - here[c];
    const std::int32_t other_at_colour =
        green_at_colour + ((above[c - 1] + above[c + 1] + below[c - 1] + below[c + 1]) >> 2);
    const std::int32_t k = c - first;
    own[k] = ClampToWhite<Sample>(Select(green_site, own_at_green, x), white);
    green[k] = ClampToWhite<Sample>(Select(green_site, x, green_at_colour), white);
    other[k] = ClampToWhite<Sample>(Select(green_site, other_at_green, other_at_colour), white);
  }
}

// Interleaves the planar rows into `count` pixels, the own colour at byte
// kOwn of each pixel and the other colour at byte 2 - kOwn.
template <int kOwn, class Sample>
DEMOSAIC_ALWAYS_INLINE void Interleave(const Sample* __restrict own, const Sample* __restrict green,
                                       const Sample* __restrict other, std::int32_t count,
                                       Sample* __restrict out) {
  for (std::int32_t k = 0; k < count; ++k) {
    out[3 * k + kOwn] = own[k];
    out[3 * k + 1] = green[k];
    out[3 * k + 2 - kOwn] = other[k];
  }
}

template <class Sample>
struct InteriorRow {
  const Sample* samples;
  FusedRows<DiffOf<Sample>> fused;
  std::int32_t green_parity;
  int own_offset;  // 0 or 2
  Sample* out;
  std::int32_t white_level;
};

// The clamp's white level: a constant for 8-bit samples, so that their loop
// is compiled exactly as before 16-bit samples existed.
template <class Sample>
DEMOSAIC_ALWAYS_INLINE std::int32_t WhiteOf(const InteriorRow<Sample>& row) {
  if constexpr (sizeof(Sample) == 1) {
    return 255;
  } else {
    return row.white_level;
  }
}

template <class Sample>
DEMOSAIC_ALWAYS_INLINE void RebuildRowBody(const InteriorRow<Sample>& row, std::int32_t first,
                                           std::int32_t end) {
  alignas(64) Sample own[kChunk];
  alignas(64) Sample green[kChunk];
  alignas(64) Sample other[kChunk];
  const std::int32_t white = WhiteOf(row);
  for (std::int32_t start = first; start < end; start += kChunk) {
    const std::int32_t stop = std::min(start + kChunk, end);
    RebuildPlanar(row.samples, row.fused, row.green_parity, start, stop, white, own, green, other);
    Sample* out = row.out + 3 * static_cast<std::ptrdiff_t>(start);
    if (row.own_offset == 0) {
      Interleave<0>(own, green, other, stop - start, out);
    } else {
      Interleave<2>(own, green, other, stop - start, out);
    }
  }
}

template <class Sample>
void RebuildRowBaseline(const InteriorRow<Sample>& row, std::int32_t first, std::int32_t end) {
  RebuildRowBody(row, first, end);
}
#if DEMOSAIC_X86_VARIANTS
template <class Sample>
DEMOSAIC_TARGET_AVX2 void RebuildRowAvx2(const InteriorRow<Sample>& row, std::int32_t first,
                                         std::int32_t end) {
  RebuildRowBody(row, first, end);
}
template <class Sample>
DEMOSAIC_TARGET_AVX512 void RebuildRowAvx512(const InteriorRow<Sample>& row, std::int32_t first,
                                             std::int32_t end) {
  RebuildRowBody(row, first, end);
}
#endif

template <class Sample>
void RebuildRows(SampleRowsOf<Sample> samples, BayerPattern pattern, std::int32_t first_row,
                 std::int32_t end_row, DiffRowsOf<DiffOf<Sample>> fused, PixelRowsOf<Sample> output,
                 SimdLevel level) {
  const std::int32_t width = samples.width;
  const std::int32_t height = samples.height;
  const std::size_t row_bytes = 3 * sizeof(Sample) * static_cast<std::size_t>(width);
  const std::size_t frame_samples = 3 * static_cast<std::size_t>(kFrameWidth);
  const std::size_t frame_bytes = sizeof(Sample) * frame_samples;
#if DEMOSAIC_X86_VARIANTS
  auto* rebuild_row = level == SimdLevel::kAvx512 ? RebuildRowAvx512<Sample>
                      : level == SimdLevel::kAvx2 ? RebuildRowAvx2<Sample>
                                                  : RebuildRowBaseline<Sample>;
#else
  static_cast<void>(level);  // only the baseline is compiled here
  auto* rebuild_row = RebuildRowBaseline<Sample>;
#endif
  for (std::int32_t r = first_row; r < end_row; ++r) {
    Sample* out = output.Row(r);
    const bool interior_row = r >= kFrameWidth && r < height - kFrameWidth;
    if (!interior_row || width < kMinimumSide) {
      std::memset(out, 0, row_bytes);
      continue;
    }
    std::memset(out, 0, frame_bytes);
    std::memset(out + 3 * static_cast<std::size_t>(width) - frame_samples, 0, frame_bytes);
    const RowLayout layout = LayoutOfRow(pattern, r);
    const int own_offset = layout.red_row ? RedOffset(output.order) : BlueOffset(output.order);
    const InteriorRow<Sample> row{samples.Row(r),
                                  {fused.Row(r - 1), fused.Row(r), fused.Row(r + 1)},
                                  layout.green_parity,
                                  own_offset,
                                  out,
                                  samples.white_level};
    rebuild_row(row, kFrameWidth, width - kFrameWidth);
  }
}

}  // namespace

void ReconstructColors(SampleRows samples, BayerPattern pattern, std::int32_t first_row,
                       std::int32_t end_row, DiffRows fused, PixelRows output, SimdLevel level) {
  RebuildRows(samples, pattern, first_row, end_row, fused, output, level);
}

void ReconstructColors(SampleRows16 samples, BayerPattern pattern, std::int32_t first_row,
                       std::int32_t end_row, WideDiffRows fused, PixelRows16 output,
                       SimdLevel level) {
  RebuildRows(samples, pattern, first_row, end_row, fused, output, level);
}

}  // namespace demosaic::engine
