// Structural similarity (SSIM) with an 11 x 11 Gaussian window of sigma 1.5,
// computed separably: each image row is filtered horizontally once, into a
// ring of the last 14 filtered rows, and the map rows are then filtered
// vertically from the ring, 4 at a time. Working memory is about 12 x 14
// strips of 256 doubles a thread.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "demosaic/metrics.h"
#include "engine/simd.h"
#include "engine/stages.h"
#include "quality/measured_region.h"
#include "quality/row_bands.h"

namespace demosaic {
namespace {

constexpr int kWindow = kSsimWindowSide;
constexpr int kRadius = kWindow / 2;

// The stabilising constants for data of range W (255 for 8-bit views).
struct Constants {
  double c1;
  double c2;
};

Constants ConstantsFor(std::int32_t white_level) {
  const double range = static_cast<double>(white_level);
  return {(0.01 * range) * (0.01 * range), (0.03 * range) * (0.03 * range)};
}

// What is filtered for each channel: x, y, x^2 + y^2 and xy. The two squares
// are only ever needed as the sum vx + vy, so they are filtered together.
constexpr int kQuantities = 4;
constexpr int kPlanes = 3 * kQuantities;

// The window's taps by distance from its centre: exp(-k^2 / 4.5) for
// k = -5..5 divided by their sum (a Gaussian of sigma 1.5).
using Taps = std::array<double, kRadius + 1>;

Taps MakeTaps() {
  double sum = 0.0;
  for (int k = -kRadius; k <= kRadius; ++k) sum += std::exp(-(k * k) / 4.5);
  Taps taps{};
  for (int k = 0; k <= kRadius; ++k) {
    taps[static_cast<std::size_t>(k)] = std::exp(-(k * k) / 4.5) / sum;
  }
  return taps;
}

const Taps& GaussianTaps() {
  static const Taps taps = MakeTaps();
  return taps;
}

// out[j] = sum of taps[|k|] * v[j + 5 + k] for k = -5..5. The window is
// symmetric, so the two samples at each distance are added first, exactly,
// as integers (64-bit for 16-bit samples, whose sums of squares exceed 32).
template <class Integer>
DEMOSAIC_ALWAYS_INLINE void FilterRow(const Integer* v, std::span<double> out, const Taps& taps) {
  for (std::size_t j = 0; j < out.size(); ++j) {
    const Integer* centre = v + j + kRadius;
    double sum = taps[0] * centre[0];
    for (int k = 1; k <= kRadius; ++k) sum += taps[k] * (centre[-k] + centre[k]);
    out[j] = sum;
  }
}

// outs[t][j] = sum of taps[|k|] * rows[t + 5 + k][j] for k = -5..5, for
// Count consecutive map rows t at once: each row of the ring read serves
// them all, which divides the reads from the second-level cache (what bounds
// this pass) by up to Count. Each output is the same sum in the same order.
template <int Count>
DEMOSAIC_ALWAYS_INLINE void FilterColumns(
    const std::array<const double*, kWindow + Count - 1>& rows,
    const std::array<double*, Count>& outs, std::size_t columns, const Taps& taps) {
  for (std::size_t j = 0; j < columns; ++j) {
    for (int t = 0; t < Count; ++t) {
      double sum = taps[0] * rows[static_cast<std::size_t>(t + kRadius)][j];
      for (int k = 1; k <= kRadius; ++k) {
        sum += taps[k] * (rows[static_cast<std::size_t>(t + kRadius - k)][j] +
                          rows[static_cast<std::size_t>(t + kRadius + k)][j]);
      }
      outs[static_cast<std::size_t>(t)][j] = sum;
    }
  }
}

// Sum of the SSIM map over one row from the four filtered quantities. The
// terms are grouped so that equal images give exactly 1 and swapped images
// exactly the same value: the sum of squares filtered together is exactly
// twice the filtered product when x = y.
DEMOSAIC_ALWAYS_INLINE double SsimRowSum(std::span<const double> mean_x,
                                         std::span<const double> mean_y,
                                         std::span<const double> mean_squares,
                                         std::span<const double> mean_product,
                                         const Constants& constants) {
  const double c1 = constants.c1;
  const double c2 = constants.c2;
  double sum = 0.0;
  for (std::size_t j = 0; j < mean_x.size(); ++j) {
    const double mx = mean_x[j];
    const double my = mean_y[j];
    const double means_product = mx * my;
    const double means_squared = mx * mx + my * my;
    const double covariance = mean_product[j] - means_product;
    const double variances = mean_squares[j] - means_squared;
    sum += ((2.0 * means_product + c1) * (2.0 * covariance + c2)) /
           ((means_squared + c1) * (variances + c2));
  }
  return sum;
}

struct ChannelOffsets {
  std::array<std::size_t, 3> reference;
  std::array<std::size_t, 3> reconstruction;
};

// Byte offsets of red, green and blue within a pixel of either image.
template <class View>
ChannelOffsets OffsetsOf(View reference, View reconstruction) {
  auto rgb = [](ChannelOrder order) {
    return std::array<std::size_t, 3>{static_cast<std::size_t>(RedOffset(order)), 1,
                                      static_cast<std::size_t>(BlueOffset(order))};
  };
  return {rgb(reference.order), rgb(reconstruction.order)};
}

// The four quantities of each channel of one row of the interior, as
// integers: plane 4 * channel + quantity, each `width` long.
template <class Sample, class Integer>
DEMOSAIC_ALWAYS_INLINE void SplitRow(const Sample* reference, const Sample* reconstruction,
                                     const ChannelOffsets& offsets, std::size_t width,
                                     std::vector<Integer>& planes) {
  for (std::size_t channel = 0; channel < 3; ++channel) {
    Integer* x_plane = planes.data() + (kQuantities * channel + 0) * width;
    Integer* y_plane = x_plane + width;
    Integer* squares_plane = y_plane + width;
    Integer* product_plane = squares_plane + width;
    const Sample* x_pixel = reference + offsets.reference[channel];
    const Sample* y_pixel = reconstruction + offsets.reconstruction[channel];
    // The samples first, then their squares and products from the planes,
    // a loop that runs in vector lanes.
    for (std::size_t c = 0; c < width; ++c) {
      x_plane[c] = x_pixel[3 * c];
      y_plane[c] = y_pixel[3 * c];
    }
    for (std::size_t c = 0; c < width; ++c) {
      const Integer x = x_plane[c];
      const Integer y = y_plane[c];
      squares_plane[c] = x * x + y * y;
      product_plane[c] = x * y;
    }
  }
}

// Map columns filtered together: the ring of 14 rows of 12 planes of a strip
// this wide stays in the processor's second-level cache.
constexpr std::size_t kStripColumns = 256;

// Map rows filtered down together, and the ring rows their windows span.
constexpr int kMapRowsAtOnce = 4;
constexpr int kRingRows = kWindow + kMapRowsAtOnce - 1;

// What every band of one SSIM computation shares.
template <class View>
struct SsimJob {
  View reference;
  View reconstruction;
  MeasuredRegion region;
  Constants constants;
  ChannelOffsets offsets;
  std::size_t map_width = 0;
  // Each map row's sum per channel: for each strip in turn, left to right,
  // its sum is added.
  std::vector<std::array<double, 3>>* map_row_sums = nullptr;
};

// Filters down the Count map rows from m on from the ring and adds each
// one's sums, channel by channel.
template <int Count, class View, class RingRow>
DEMOSAIC_ALWAYS_INLINE void AddMapRows(const SsimJob<View>& job, std::int32_t m,
                                       std::size_t columns, const RingRow& ring_row,
                                       std::vector<double>& filtered, const Taps& taps) {
  for (std::size_t channel = 0; channel < 3; ++channel) {
    for (std::size_t q = 0; q < kQuantities; ++q) {
      std::array<const double*, kWindow + Count - 1> rows{};
      for (int k = 0; k < kWindow + Count - 1; ++k) {
        rows[static_cast<std::size_t>(k)] = ring_row(m + k, kQuantities * channel + q);
      }
      std::array<double*, Count> outs{};
      for (int t = 0; t < Count; ++t) {
        outs[static_cast<std::size_t>(t)] =
            filtered.data() + (static_cast<std::size_t>(t) * kQuantities + q) * kStripColumns;
      }
      FilterColumns<Count>(rows, outs, columns, taps);
    }
    for (int t = 0; t < Count; ++t) {
      const double* f = filtered.data() + static_cast<std::size_t>(t) * kQuantities * kStripColumns;
      (*job.map_row_sums)[static_cast<std::size_t>(m + t)][channel] +=
          SsimRowSum({f, columns}, {f + kStripColumns, columns}, {f + 2 * kStripColumns, columns},
                     {f + 3 * kStripColumns, columns}, job.constants);
    }
  }
}

// Map rows first .. end - 1, strip by strip: each strip filters its own
// rows, the 10 below the band's first included, into a ring of its own, and
// filters them down 4 map rows at a time.
template <class Integer, class View>
DEMOSAIC_ALWAYS_INLINE void SsimBandBody(const SsimJob<View>& job, std::int32_t first,
                                         std::int32_t end) {
  const Taps& taps = GaussianTaps();
  const std::size_t strip_inputs = kStripColumns + kWindow - 1;
  std::vector<Integer> row_planes(kPlanes * strip_inputs);
  // Slot s of the ring holds the horizontally filtered planes of every
  // interior row i with i % 14 == s, plane p at (s * kPlanes + p) * kStripColumns.
  std::vector<double> ring(kRingRows * kPlanes * kStripColumns);
  std::vector<double> filtered(kMapRowsAtOnce * kQuantities * kStripColumns);
  auto ring_row = [&](std::int32_t interior_row, std::size_t plane) {
    const std::size_t slot = static_cast<std::size_t>(interior_row % kRingRows);
    return ring.data() + (slot * kPlanes + plane) * kStripColumns;
  };
  // Where every row of a window is the same in both images over the strip,
  // the map is exactly 1 along the window's map row (see SsimRowSum), so its
  // sum is the number of columns and nothing need be filtered: flat stretches
  // reconstructed exactly make this common. A row is filtered only when a
  // window that differs needs it; slot_rows[s] is the row slot s holds.
  const bool same_order = job.offsets.reference == job.offsets.reconstruction;
  std::array<std::int32_t, kRingRows> slot_rows{};
  // same_rows[i - first]: how many rows up to row i are the same in both.
  std::vector<int> same_rows(static_cast<std::size_t>(end - first + kWindow - 1));
  for (std::size_t strip = 0; strip < job.map_width; strip += kStripColumns) {
    const std::size_t columns = std::min(kStripColumns, job.map_width - strip);
    const std::size_t inputs = columns + kWindow - 1;
    const std::ptrdiff_t first_byte =
        3 * (static_cast<std::ptrdiff_t>(job.region.left) + static_cast<std::ptrdiff_t>(strip));
    auto filter_row = [&](std::int32_t i) {
      SplitRow(job.reference.Row(job.region.top + i) + first_byte,
               job.reconstruction.Row(job.region.top + i) + first_byte, job.offsets, inputs,
               row_planes);
      for (std::size_t p = 0; p < kPlanes; ++p) {
        FilterRow(row_planes.data() + p * inputs, {ring_row(i, p), columns}, taps);
      }
      slot_rows[static_cast<std::size_t>(i % kRingRows)] = i;
    };
    slot_rows.fill(-1);
    int run = 0;
    for (std::int32_t i = first; i < end + kWindow - 1; ++i) {
      const auto* reference_row = job.reference.Row(job.region.top + i) + first_byte;
      const bool same =
          same_order && std::equal(reference_row, reference_row + 3 * inputs,
                                   job.reconstruction.Row(job.region.top + i) + first_byte);
      run = same ? run + 1 : 0;
      same_rows[static_cast<std::size_t>(i - first)] = run;
    }
    for (std::int32_t m = first; m < end; m += kMapRowsAtOnce) {
      const int count = std::min(kMapRowsAtOnce, end - m);
      // The windows of map rows m .. m + count - 1 span rows m .. last.
      const std::int32_t last = m + count + kWindow - 2;
      if (same_rows[static_cast<std::size_t>(last - first)] >= count + kWindow - 1) {
        for (int t = 0; t < count; ++t) {
          for (double& sum : (*job.map_row_sums)[static_cast<std::size_t>(m + t)]) {
            sum += static_cast<double>(columns);
          }
        }
        continue;
      }
      for (std::int32_t r = m; r <= last; ++r) {
        if (slot_rows[static_cast<std::size_t>(r % kRingRows)] != r) filter_row(r);
      }
      if (count == kMapRowsAtOnce) {
        AddMapRows<kMapRowsAtOnce>(job, m, columns, ring_row, filtered, taps);
      } else {
        for (int t = 0; t < count; ++t) {
          AddMapRows<1>(job, m + t, columns, ring_row, filtered, taps);
        }
      }
    }
  }
}

// One copy of the band's loops per instruction set; each computes the same
// IEEE operations in the same order (none may fuse a multiply and an add).
template <class Integer, class View>
void SsimBandBaseline(const SsimJob<View>& job, std::int32_t first, std::int32_t end) {
  SsimBandBody<Integer>(job, first, end);
}
#if DEMOSAIC_X86_VARIANTS
template <class Integer, class View>
DEMOSAIC_TARGET_AVX2 void SsimBandAvx2(const SsimJob<View>& job, std::int32_t first,
                                       std::int32_t end) {
  SsimBandBody<Integer>(job, first, end);
}
template <class Integer, class View>
DEMOSAIC_TARGET_AVX512 void SsimBandAvx512(const SsimJob<View>& job, std::int32_t first,
                                           std::int32_t end) {
  SsimBandBody<Integer>(job, first, end);
}
#endif

// The mean SSIM for views of either sample type; `white_level` is the data
// range.
template <class View>
double MeanSsim(View reference, View reconstruction, std::int32_t border, std::int32_t white_level,
                int threads) {
  // 8-bit samples' quantities fit 32 bits; 16-bit ones' sums of squares need
  // 64. Either converts to double exactly.
  using Integer = std::conditional_t<sizeof(*reference.data) == 1, std::int32_t, std::int64_t>;
  SsimJob<View> job{reference, reconstruction,
                    CheckMeasuredRegion("ComputeSsim", reference, reconstruction, border, kWindow),
                    ConstantsFor(white_level), OffsetsOf(reference, reconstruction)};
  job.map_width = static_cast<std::size_t>(job.region.width) - (kWindow - 1);
  const std::int32_t map_height = job.region.height - (kWindow - 1);
  // The map rows' sums are added up in row order at the end: the same figure
  // on any number of threads.
  std::vector<std::array<double, 3>> map_row_sums(static_cast<std::size_t>(map_height),
                                                  {0.0, 0.0, 0.0});
  job.map_row_sums = &map_row_sums;
#if DEMOSAIC_X86_VARIANTS
  const engine::SimdLevel level = engine::BestSimdLevel();
  auto* band = level == engine::SimdLevel::kAvx512 ? SsimBandAvx512<Integer, View>
               : level == engine::SimdLevel::kAvx2 ? SsimBandAvx2<Integer, View>
                                                   : SsimBandBaseline<Integer, View>;
#else
  auto* band = SsimBandBaseline<Integer, View>;
#endif
  ForEachRowBand("ComputeSsim", 0, map_height, threads,
                 [&](std::int32_t first, std::int32_t end) { band(job, first, end); });
  std::array<double, 3> channel_sums{0.0, 0.0, 0.0};
  for (const std::array<double, 3>& sums : map_row_sums) {
    for (std::size_t channel = 0; channel < 3; ++channel) channel_sums[channel] += sums[channel];
  }
  const double map_pixels = static_cast<double>(job.map_width) * static_cast<double>(map_height);
  return (channel_sums[0] / map_pixels + channel_sums[1] / map_pixels +
          channel_sums[2] / map_pixels) /
         3.0;
}

}  // namespace

double ComputeSsim(ConstImageView reference, ConstImageView reconstruction, std::int32_t border,
                   int threads) {
  return MeanSsim(reference, reconstruction, border, 255, threads);
}

double ComputeSsim(ConstImageView16 reference, ConstImageView16 reconstruction, std::int32_t border,
                   int threads) {
  // The white levels are checked (equal, valid) before the constants are used.
  return MeanSsim(reference, reconstruction, border, reference.white_level, threads);
}

}  // namespace demosaic
