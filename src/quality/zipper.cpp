// The zipper share: pixels whose most similar neighbour in the reference
// becomes visibly more different from them in the reconstruction, the
// alternating on-off pattern that demosaicing leaves along edges.
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "demosaic/metrics.h"
#include "quality/cielab.h"
#include "quality/measured_region.h"

namespace demosaic {
namespace {

// One just-noticeable difference in CIE76 units.
constexpr double kNoticeableGrowth = 2.3;

double Cie76(const Lab& p, const Lab& q) {
  const double dl = p.L - q.L;
  const double da = p.a - q.a;
  const double db = p.b - q.b;
  return std::sqrt(dl * dl + da * da + db * db);
}

// Three consecutive rows of CIELAB colours of one image, the middle one being
// the row measured; advancing drops the top row and converts the next one.
struct LabRows {
  std::vector<Lab> above;
  std::vector<Lab> centre;
  std::vector<Lab> below;
};

LabRows FirstRows(ConstImageView image, const MeasuredRegion& region) {
  const std::size_t width = static_cast<std::size_t>(region.width);
  LabRows rows{std::vector<Lab>(width), std::vector<Lab>(width), std::vector<Lab>(width)};
  ConvertRowToLab(image, region.top, region.left, rows.above);
  ConvertRowToLab(image, region.top + 1, region.left, rows.centre);
  ConvertRowToLab(image, region.top + 2, region.left, rows.below);
  return rows;
}

void Advance(LabRows& rows, ConstImageView image, std::int32_t next_row, std::int32_t left) {
  std::swap(rows.above, rows.centre);
  std::swap(rows.centre, rows.below);
  ConvertRowToLab(image, next_row, left, rows.below);
}

// Zipper pixels among columns 1 .. width - 2 of the middle rows.
std::int64_t CountRow(const LabRows& reference, const LabRows& reconstruction) {
  // The neighbours in the order that settles ties: up-left, up, up-right,
  // left, right, down-left, down, down-right.
  const Lab* const reference_rows[3] = {reference.above.data(), reference.centre.data(),
                                        reference.below.data()};
  const Lab* const reconstruction_rows[3] = {
      reconstruction.above.data(), reconstruction.centre.data(), reconstruction.below.data()};
  constexpr int kRow[8] = {0, 0, 0, 1, 1, 2, 2, 2};
  constexpr int kColumn[8] = {-1, 0, 1, -1, 1, -1, 0, 1};

  std::int64_t count = 0;
  const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(reference.centre.size()) - 1;
  for (std::ptrdiff_t c = 1; c < last; ++c) {
    const Lab& p = reference.centre[static_cast<std::size_t>(c)];
    int nearest = 0;
    double nearest_distance = Cie76(p, reference_rows[kRow[0]][c + kColumn[0]]);
    for (int k = 1; k < 8; ++k) {
      const double distance = Cie76(p, reference_rows[kRow[k]][c + kColumn[k]]);
      if (distance < nearest_distance) {
        nearest_distance = distance;
        nearest = k;
      }
    }
    const double reconstructed_distance =
        Cie76(reconstruction.centre[static_cast<std::size_t>(c)],
              reconstruction_rows[kRow[nearest]][c + kColumn[nearest]]);
    if (reconstructed_distance - nearest_distance > kNoticeableGrowth) ++count;
  }
  return count;
}

}  // namespace

double ComputeZipper(ConstImageView reference, ConstImageView reconstruction, std::int32_t border) {
  const MeasuredRegion region =
      CheckMeasuredRegion("ComputeZipper", reference, reconstruction, border, 3);
  LabRows reference_rows = FirstRows(reference, region);
  LabRows reconstruction_rows = FirstRows(reconstruction, region);
  std::int64_t count = 0;
  const std::int32_t last_row = region.top + region.height - 1;
  for (std::int32_t r = region.top + 1; r < last_row; ++r) {
    if (r > region.top + 1) {
      Advance(reference_rows, reference, r + 1, region.left);
      Advance(reconstruction_rows, reconstruction, r + 1, region.left);
    }
    count += CountRow(reference_rows, reconstruction_rows);
  }
  const double pixels =
      static_cast<double>(region.width - 2) * static_cast<double>(region.height - 2);
  return static_cast<double>(count) / pixels;
}

}  // namespace demosaic
