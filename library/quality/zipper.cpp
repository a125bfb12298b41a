// The zipper share: pixels whose most similar neighbour in the reference
// becomes visibly more different from them in the reconstruction, the
// alternating on-off pattern that demosaicing leaves along edges.
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "demosaic/metrics.h"
#include "engine/simd.h"
#include "engine/stages.h"
#include "quality/cielab.h"
#include "quality/measured_region.h"
#include "quality/row_bands.h"

namespace demosaic {
namespace {

// One just-noticeable difference in CIE76 units.
constexpr double kNoticeableGrowth = 2.3;

// Three consecutive rows of CIELAB colours of one image, the middle one being
// the row measured; advancing drops the top row and converts the next one.
struct LabRows {
  LabRow above;
  LabRow centre;
  LabRow below;
};

// Converts row `row` of the region into `out`; a row outside the region is
// left as it is (nothing reads it).
template <class View>
void ConvertRegionRow(View image, const LinearLevels& linear, const MeasuredRegion& region,
                      std::int32_t row, LabRow& out) {
  if (row < region.top || row >= region.top + region.height) return;
  ConvertRowToLab(image, linear, row, region.left, out);
}

// The rows above, at and below `centre`.
template <class View>
LabRows RowsAround(View image, const LinearLevels& linear, const MeasuredRegion& region,
                   std::int32_t centre) {
  const std::size_t width = static_cast<std::size_t>(region.width);
  LabRows rows{LabRow(width), LabRow(width), LabRow(width)};
  ConvertRegionRow(image, linear, region, centre - 1, rows.above);
  ConvertRegionRow(image, linear, region, centre, rows.centre);
  ConvertRegionRow(image, linear, region, centre + 1, rows.below);
  return rows;
}

// Moves the window down one row: the centre becomes `next_row` - 1.
template <class View>
void Advance(LabRows& rows, View image, const LinearLevels& linear, const MeasuredRegion& region,
             std::int32_t next_row) {
  std::swap(rows.above, rows.centre);
  std::swap(rows.centre, rows.below);
  ConvertRegionRow(image, linear, region, next_row, rows.below);
}

// The neighbours in the order that settles ties: up-left, up, up-right,
// left, right, down-left, down, down-right; rows index above, centre and
// below, columns count from the one left of the pixel.
constexpr std::array<std::size_t, 8> kRow = {0, 0, 0, 1, 1, 2, 2, 2};
constexpr std::array<std::size_t, 8> kColumn = {0, 1, 2, 0, 2, 0, 1, 2};

// A row's three coordinate arrays.
struct LabPointers {
  const double* L;
  const double* a;
  const double* b;
};

// The rows above, at and below the measured one, of either image, and
// their width.
struct Neighbourhoods {
  std::array<LabPointers, 3> reference;
  std::array<LabPointers, 3> reconstruction;
  std::size_t width;
};

Neighbourhoods NeighbourhoodsOf(const LabRows& reference, const LabRows& reconstruction) {
  const auto pointers = [](const LabRows& rows) {
    std::array<LabPointers, 3> out{};
    std::size_t k = 0;
    for (const LabRow* row : {&rows.above, &rows.centre, &rows.below}) {
      out[k++] = {row->L.data(), row->a.data(), row->b.data()};
    }
    return out;
  };
  return {pointers(reference), pointers(reconstruction), reference.centre.size()};
}

// The square of the CIE76 distance between pixel i of p and pixel j of q.
DEMOSAIC_ALWAYS_INLINE double SquaredCie76(const LabPointers& p, std::size_t i,
                                           const LabPointers& q, std::size_t j) {
  const double dl = p.L[i] - q.L[j];
  const double da = p.a[i] - q.a[j];
  const double db = p.b[i] - q.b[j];
  return dl * dl + da * da + db * db;
}

// The CIE76 distance from pixel c of the middle row of `rows` to its
// neighbour k.
double Cie76ToNeighbour(const std::array<LabPointers, 3>& rows, std::size_t c, std::size_t k) {
  return std::sqrt(SquaredCie76(rows[1], c, rows[kRow[k]], c - 1 + kColumn[k]));
}

// Zipper pixels among columns 1 .. width - 2 of the middle rows, as defined:
// each pixel's first neighbour of least CIE76 distance in the reference.
std::int64_t CountRowByDistances(const Neighbourhoods& rows) {
  std::int64_t count = 0;
  for (std::size_t c = 1; c + 1 < rows.width; ++c) {
    std::size_t nearest = 0;
    double nearest_distance = Cie76ToNeighbour(rows.reference, c, 0);
    for (std::size_t k = 1; k < 8; ++k) {
      const double distance = Cie76ToNeighbour(rows.reference, c, k);
      if (distance < nearest_distance) {
        nearest_distance = distance;
        nearest = k;
      }
    }
    const double reconstructed_distance = Cie76ToNeighbour(rows.reconstruction, c, nearest);
    if (reconstructed_distance - nearest_distance > kNoticeableGrowth) ++count;
  }
  return count;
}

// The same count in vector lanes. Squares order as their roots do, so the
// nearest neighbour is found without roots, every step a selection; the
// reconstruction's square for every neighbour is computed and the nearest
// one's kept. Two squares a few units in the last place apart can still have
// one root, where the definition takes the earlier neighbour: a row with a
// square that close above its pixel's least is counted again by
// CountRowByDistances.
DEMOSAIC_ALWAYS_INLINE std::int64_t CountRowBody(const Neighbourhoods& rows) {
  const std::array<LabPointers, 3>& reference = rows.reference;
  const std::array<LabPointers, 3>& reconstruction = rows.reconstruction;
  std::int64_t count = 0;
  std::int64_t close_squares = 0;
  for (std::size_t c = 1; c + 1 < rows.width; ++c) {
    double least = SquaredCie76(reference[1], c, reference[kRow[0]], c - 1 + kColumn[0]);
    double reconstructed =
        SquaredCie76(reconstruction[1], c, reconstruction[kRow[0]], c - 1 + kColumn[0]);
    // The least square above `least` so far.
    double next = std::numeric_limits<double>::infinity();
#pragma GCC unroll 8
    for (std::size_t k = 1; k < 8; ++k) {
      const double square = SquaredCie76(reference[1], c, reference[kRow[k]], c - 1 + kColumn[k]);
      const double reconstructed_square =
          SquaredCie76(reconstruction[1], c, reconstruction[kRow[k]], c - 1 + kColumn[k]);
      const bool nearer = square < least;
      const double above = square > least && square < next ? square : next;
      next = nearer ? least : above;
      reconstructed = nearer ? reconstructed_square : reconstructed;
      least = nearer ? square : least;
    }
    close_squares += next <= least * (1.0 + 1e-12) ? 1 : 0;
    count += std::sqrt(reconstructed) - std::sqrt(least) > kNoticeableGrowth ? 1 : 0;
  }
  return close_squares == 0 ? count : CountRowByDistances(rows);
}

// One copy per instruction set, each computing the same IEEE operations.
std::int64_t CountRowBaseline(const Neighbourhoods& rows) {
  return CountRowBody(rows);
}
#if DEMOSAIC_X86_VARIANTS
DEMOSAIC_TARGET_AVX2 std::int64_t CountRowAvx2(const Neighbourhoods& rows) {
  return CountRowBody(rows);
}
DEMOSAIC_TARGET_AVX512 std::int64_t CountRowAvx512(const Neighbourhoods& rows) {
  return CountRowBody(rows);
}
#endif

// Zipper pixels among columns 1 .. width - 2 of the middle rows.
std::int64_t CountRow(const LabRows& reference, const LabRows& reconstruction) {
  const Neighbourhoods rows = NeighbourhoodsOf(reference, reconstruction);
#if DEMOSAIC_X86_VARIANTS
  switch (engine::BestSimdLevel()) {
    case engine::SimdLevel::kAvx512:
      return CountRowAvx512(rows);
    case engine::SimdLevel::kAvx2:
      return CountRowAvx2(rows);
    case engine::SimdLevel::kBaseline:
      break;
  }
#endif
  return CountRowBaseline(rows);
}

// The zipper share, and CIEDE2000 too when `with_de2000`, from one
// conversion of each row: a band converts its rows and the one above and
// below it, the window of 3 rows moving down one row at a time; every row of
// the band adds its CIEDE2000 sum, and every row with a measured row on
// either side its zipper count (integers, so the bands' order does not
// matter). `metric` names the call in refusals.
template <class View>
ColourFigures ColourFiguresOver(View reference, View reconstruction, std::int32_t border,
                                int threads, const char* metric, bool with_de2000) {
  const MeasuredRegion region =
      CheckMeasuredRegion(metric, reference, reconstruction, border, kZipperNeighbourhoodSide);
  const LinearLevels linear = LinearLevelsOf(reference);
  const std::int32_t region_end = region.top + region.height;
  std::vector<double> row_sums(with_de2000 ? static_cast<std::size_t>(region.height) : 0);
  std::atomic<std::int64_t> count{0};
  ForEachRowBand(metric, region.top, region_end, threads,
                 [&](std::int32_t first, std::int32_t end) {
                   LabRows reference_rows = RowsAround(reference, linear, region, first);
                   LabRows reconstruction_rows = RowsAround(reconstruction, linear, region, first);
                   std::int64_t band_count = 0;
                   for (std::int32_t r = first; r < end; ++r) {
                     if (r > first) {
                       Advance(reference_rows, reference, linear, region, r + 1);
                       Advance(reconstruction_rows, reconstruction, linear, region, r + 1);
                     }
                     if (with_de2000) {
                       row_sums[static_cast<std::size_t>(r - region.top)] =
                           RowDe2000Sum(reference_rows.centre, reconstruction_rows.centre);
                     }
                     if (r > region.top && r + 1 < region_end) {
                       band_count += CountRow(reference_rows, reconstruction_rows);
                     }
                   }
                   count += band_count;
                 });
  ColourFigures figures;
  if (with_de2000) figures.de2000 = MeanOfRowSums(row_sums, region);
  figures.zipper = static_cast<double>(count.load()) /
                   (static_cast<double>(region.width - 2) * static_cast<double>(region.height - 2));
  return figures;
}

}  // namespace

ColourFigures ComputeDe2000AndZipper(ConstImageView reference, ConstImageView reconstruction,
                                     std::int32_t border, int threads) {
  return ColourFiguresOver(reference, reconstruction, border, threads, "ComputeDe2000AndZipper",
                           true);
}

ColourFigures ComputeDe2000AndZipper(ConstImageView16 reference, ConstImageView16 reconstruction,
                                     std::int32_t border, int threads) {
  return ColourFiguresOver(reference, reconstruction, border, threads, "ComputeDe2000AndZipper",
                           true);
}

double ComputeZipper(ConstImageView reference, ConstImageView reconstruction, std::int32_t border,
                     int threads) {
  return ColourFiguresOver(reference, reconstruction, border, threads, "ComputeZipper", false)
      .zipper;
}

double ComputeZipper(ConstImageView16 reference, ConstImageView16 reconstruction,
                     std::int32_t border, int threads) {
  return ColourFiguresOver(reference, reconstruction, border, threads, "ComputeZipper", false)
      .zipper;
}

}  // namespace demosaic
