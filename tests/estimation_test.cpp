// Directional estimation: the quarter-unit estimates, their truncation, the
// mirror rules at the image edges and which planes each site writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "engine/engine.h"

namespace demosaic {
namespace {

struct Estimated {
  int width;
  EngineWorkspace workspace;  // owns the planes' memory
  WorkingPlanes planes;
  std::int32_t At(const DiffPlane& plane, int r, int c) const { return plane[r * width + c]; }
};

Estimated Estimate(const std::vector<std::uint8_t>& mosaic, int width, int height) {
  Estimated result{width, {}, {}};
  result.planes = PreparePlanes(result.workspace, width, height);
  EstimateDirectionalDifferences(mosaic, width, height, result.planes);
  return result;
}

std::vector<std::uint8_t> Filled(int width, int height, std::uint8_t value) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height, value);
}

// Places five samples centred on (r, c) along the row.
void PutRow(std::vector<std::uint8_t>& mosaic, int width, int r, int c,
            std::initializer_list<int> five) {
  int k = c - 2;
  for (int v : five) mosaic[r * width + k++] = static_cast<std::uint8_t>(v);
}

TEST(Estimation, NeighbourMeanIsRoundedDownBeforeTruncatingTheQuarters) {
  // Second neighbours 90 and 97, first neighbours 80 and 85 around 100:
  // L = 13, M = 82 (not 82.5), estimate 100 - 3.25 - 82 = 14.75 -> 14.
  auto mosaic = Filled(9, 7, 100);
  PutRow(mosaic, 9, 2, 3, {90, 80, 100, 85, 97});  // (2, 3) is an R site
  const Estimated at_red = Estimate(mosaic, 9, 7);
  EXPECT_EQ(at_red.At(at_red.planes.RgH, 2, 3), 14);

  auto green = Filled(9, 7, 100);
  PutRow(green, 9, 2, 4, {90, 80, 100, 85, 97});  // (2, 4) is a Gr site: -14.75 -> -14
  const Estimated at_green = Estimate(green, 9, 7);
  EXPECT_EQ(at_green.At(at_green.planes.RgH, 2, 4), -14);
}

TEST(Estimation, ExtremesReachPlusAndMinus255) {
  auto bright = Filled(9, 7, 0);
  PutRow(bright, 9, 2, 3, {255, 0, 255, 0, 255});
  const Estimated high = Estimate(bright, 9, 7);
  EXPECT_EQ(high.At(high.planes.RgH, 2, 3), 255);

  auto dark = Filled(9, 7, 255);
  PutRow(dark, 9, 2, 3, {0, 255, 0, 255, 0});
  const Estimated low = Estimate(dark, 9, 7);
  EXPECT_EQ(low.At(low.planes.RgH, 2, 3), -255);
}

TEST(Estimation, VerticalEstimateTruncatesTowardZeroAtABlueSite) {
  // Column 2 around the B site (3, 2): 90, 80, 100, 85, 97 from row 1 down.
  auto mosaic = Filled(7, 8, 100);
  const int column[5] = {90, 80, 100, 85, 97};
  for (int k = 0; k < 5; ++k) mosaic[(1 + k) * 7 + 2] = static_cast<std::uint8_t>(column[k]);
  const Estimated e = Estimate(mosaic, 7, 8);
  EXPECT_EQ(e.At(e.planes.BgV, 3, 2), 14);
}

TEST(Estimation, UniformMosaicGivesZeroEverywhere) {
  const Estimated e = Estimate(Filled(8, 6, 173), 8, 6);
  for (const DiffPlane* plane : {&e.planes.RgH, &e.planes.RgV, &e.planes.BgH, &e.planes.BgV}) {
    for (std::int32_t v : *plane) ASSERT_EQ(v, 0);
  }
}

// sample(r, c) = 20 + 3c^2 + 5r^2 on a 7 x 6 mosaic; the expected values
// below are worked out by hand from the mirror rules.
class EdgeRules : public ::testing::Test {
 protected:
  static constexpr int kW = 7;
  static constexpr int kH = 6;
  void SetUp() override {
    std::vector<std::uint8_t> mosaic(kW * kH);
    for (int r = 0; r < kH; ++r) {
      for (int c = 0; c < kW; ++c)
        mosaic[r * kW + c] = static_cast<std::uint8_t>(20 + 3 * c * c + 5 * r * r);
    }
    estimated = std::make_unique<Estimated>(Estimate(mosaic, kW, kH));
  }
  std::int32_t At(const DiffPlane& plane, int r, int c) const { return estimated->At(plane, r, c); }
  std::unique_ptr<Estimated> estimated;
};

TEST_F(EdgeRules, ColumnsMirrorAboutTheImageEdge) {
  const WorkingPlanes& p = estimated->planes;
  // Row 0 reads 20 23 32 47 68 95 128.
  EXPECT_EQ(At(p.RgH, 0, 0), -3);   // M = 23, L = 40 - 64: 23 - 6 - 20
  EXPECT_EQ(At(p.RgH, 0, 1), 3);    // left second neighbour is the site itself: L = 23 - 47
  EXPECT_EQ(At(p.RgH, 0, 5), -15);  // right second neighbour is the site itself: L = 95 - 47
  EXPECT_EQ(At(p.RgH, 0, 6), -3);   // M = 95, L = 256 - 2 * 68: 95 + 30 - 128
}

TEST_F(EdgeRules, RowsMirrorAboutTheCurrentRow) {
  const WorkingPlanes& p = estimated->planes;
  // Column 0 reads 20 25 40 65 100 145 from the top.
  EXPECT_EQ(At(p.BgV, 0, 0), -5);  // both first neighbours row 1, both second row 2
  EXPECT_EQ(At(p.BgV, 1, 0), 15);  // both second neighbours are row 3, not row 0 or 1
  EXPECT_EQ(At(p.BgV, 4, 0), 35);  // both second neighbours are row 2
  EXPECT_EQ(At(p.BgV, 5, 0), 5);   // first neighbours row 4, second row 3
  // Column 1 reads 23 28 43 68 103 148: at the R site (0, 1) M = 28, L = -40.
  EXPECT_EQ(At(p.RgV, 0, 1), 5);
}

// Each site writes its own two planes and leaves the other two at 0.
TEST(Estimation, WritesExactlyTwoPlanesPerSiteClass) {
  const int w = 10;
  const int h = 9;
  std::mt19937 random(7);
  std::vector<std::uint8_t> mosaic(w * h);
  for (auto& v : mosaic) v = static_cast<std::uint8_t>(random() % 256);
  const Estimated e = Estimate(mosaic, w, h);
  const WorkingPlanes& p = e.planes;
  int nonzero_written = 0;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const DiffPlane* unwritten[2] = {};
      const DiffPlane* written[2] = {};
      switch (CfaClassOf(r, c)) {
        case kGr:
          written[0] = &p.RgH, written[1] = &p.BgV, unwritten[0] = &p.RgV, unwritten[1] = &p.BgH;
          break;
        case kR:
          written[0] = &p.RgH, written[1] = &p.RgV, unwritten[0] = &p.BgH, unwritten[1] = &p.BgV;
          break;
        case kB:
          written[0] = &p.BgH, written[1] = &p.BgV, unwritten[0] = &p.RgH, unwritten[1] = &p.RgV;
          break;
        case kGb:
          written[0] = &p.BgH, written[1] = &p.RgV, unwritten[0] = &p.RgH, unwritten[1] = &p.BgV;
          break;
      }
      EXPECT_EQ(e.At(*unwritten[0], r, c), 0) << r << "," << c;
      EXPECT_EQ(e.At(*unwritten[1], r, c), 0) << r << "," << c;
      for (const DiffPlane* plane : written) {
        const std::int32_t v = e.At(*plane, r, c);
        EXPECT_GE(v, -255);
        EXPECT_LE(v, 255);
        nonzero_written += v != 0;
      }
    }
  }
  EXPECT_GT(nonzero_written, w * h);  // a noise mosaic gives mostly non-zero estimates
}

// A site-by-site statement of the rule, kept deliberately plain: neighbours
// outside the image mirror about the edge column, or about the current row.
std::int32_t PlainEstimate(const std::vector<std::uint8_t>& m, int w, int h, int r, int c,
                           bool horizontal) {
  auto col = [&](int k) { return k < 0 ? -k : (k >= w ? 2 * (w - 1) - k : k); };
  auto row = [&](int k) { return k < 0 || k >= h ? 2 * r - k : k; };
  auto at = [&](int rr, int cc) { return static_cast<double>(m[rr * w + cc]); };
  const double s = at(r, c);
  double first_sum, second_sum;
  if (horizontal) {
    first_sum = at(r, col(c - 1)) + at(r, col(c + 1));
    second_sum = at(r, col(c - 2)) + at(r, col(c + 2));
  } else {
    first_sum = at(row(r - 1), c) + at(row(r + 1), c);
    second_sum = at(row(r - 2), c) + at(row(r + 2), c);
  }
  const double mean = std::floor(first_sum / 2.0);
  const double quarter = (2.0 * s - second_sum) / 4.0;
  const CfaClass cls = CfaClassOf(r, c);
  const double estimate = (cls == kR || cls == kB) ? s - quarter - mean : mean + quarter - s;
  return static_cast<std::int32_t>(std::trunc(estimate));
}

// Every size from the smallest the rules cover (3 x 4) upwards, odd and even,
// against the plain rule at every written entry.
TEST(Estimation, MatchesThePlainRuleAtEverySiteOfEverySize) {
  std::mt19937 random(29);
  for (int w = 3; w <= 13; ++w) {
    for (int h = 4; h <= 11; ++h) {
      std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h);
      for (auto& v : mosaic) v = static_cast<std::uint8_t>(random() % 256);
      const Estimated e = Estimate(mosaic, w, h);
      for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
          const DiffPlane& horizontal = (r & 1) == 0 ? e.planes.RgH : e.planes.BgH;
          const DiffPlane& vertical = (c & 1) == 0 ? e.planes.BgV : e.planes.RgV;
          ASSERT_EQ(e.At(horizontal, r, c), PlainEstimate(mosaic, w, h, r, c, true))
              << w << " x " << h << " at " << r << "," << c;
          ASSERT_EQ(e.At(vertical, r, c), PlainEstimate(mosaic, w, h, r, c, false))
              << w << " x " << h << " at " << r << "," << c;
        }
      }
    }
  }
}

}  // namespace
}  // namespace demosaic
