// Directional estimation: the quarter-unit estimates, their truncation, the
// mirror rules at the image edges, and agreement with the plain rules at
// every site of every size and tile.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "demosaic/bayer.h"
#include "engine/stages.h"
#include "support/engine_buffers.h"
#include "support/plain_method.h"

namespace demosaic::testing {
namespace {

constexpr BayerPattern kAllPatterns[] = {BayerPattern::kGRBG, BayerPattern::kRGGB,
                                         BayerPattern::kBGGR, BayerPattern::kGBRG};

// The horizontal and vertical estimates of a whole mosaic.
struct Estimated {
  Estimated(const std::vector<std::uint8_t>& mosaic, int width, int height,
            BayerPattern pattern = BayerPattern::kGRBG)
      : horizontal(width, height), vertical(width, height) {
    engine::EstimateDirectionalDifferences(
        engine::WholeMosaic(PackedMosaic(mosaic, width, height, pattern)), pattern, 0, height,
        horizontal.Rows(), vertical.Rows());
  }
  WholePlane horizontal;
  WholePlane vertical;
};

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
  EXPECT_EQ(Estimated(mosaic, 9, 7).horizontal.At(2, 3), 14);

  auto green = Filled(9, 7, 100);
  PutRow(green, 9, 2, 4, {90, 80, 100, 85, 97});  // (2, 4) is a Gr site: -14.75 -> -14
  EXPECT_EQ(Estimated(green, 9, 7).horizontal.At(2, 4), -14);
}

TEST(Estimation, ExtremesReachPlusAndMinus255) {
  auto bright = Filled(9, 7, 0);
  PutRow(bright, 9, 2, 3, {255, 0, 255, 0, 255});
  EXPECT_EQ(Estimated(bright, 9, 7).horizontal.At(2, 3), 255);

  auto dark = Filled(9, 7, 255);
  PutRow(dark, 9, 2, 3, {0, 255, 0, 255, 0});
  EXPECT_EQ(Estimated(dark, 9, 7).horizontal.At(2, 3), -255);
}

TEST(Estimation, VerticalEstimateTruncatesTowardZeroAtABlueSite) {
  // Column 2 around the B site (3, 2): 90, 80, 100, 85, 97 from row 1 down.
  auto mosaic = Filled(7, 8, 100);
  const int column[5] = {90, 80, 100, 85, 97};
  for (int k = 0; k < 5; ++k) mosaic[(1 + k) * 7 + 2] = static_cast<std::uint8_t>(column[k]);
  EXPECT_EQ(Estimated(mosaic, 7, 8).vertical.At(3, 2), 14);
}

TEST(Estimation, UniformMosaicGivesZeroEverywhere) {
  const Estimated e(Filled(8, 6, 173), 8, 6);
  for (const WholePlane* plane : {&e.horizontal, &e.vertical}) {
    for (engine::Diff v : plane->values) ASSERT_EQ(v, 0);
  }
}

// sample(r, c) = 20 + 3c^2 + 5r^2 on a 7 x 6 mosaic; the expected values
// below are worked out by hand from the mirror rules.
std::vector<std::uint8_t> Parabolic() {
  std::vector<std::uint8_t> mosaic(7 * 6);
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 7; ++c)
      mosaic[r * 7 + c] = static_cast<std::uint8_t>(20 + 3 * c * c + 5 * r * r);
  }
  return mosaic;
}

TEST(EdgeRules, ColumnsMirrorAboutTheImageEdge) {
  const Estimated e(Parabolic(), 7, 6);
  // Row 0 reads 20 23 32 47 68 95 128.
  EXPECT_EQ(e.horizontal.At(0, 0), -3);   // M = 23, L = 40 - 64: 23 - 6 - 20
  EXPECT_EQ(e.horizontal.At(0, 1), 3);    // left second neighbour is the site itself: L = 23 - 47
  EXPECT_EQ(e.horizontal.At(0, 5), -15);  // right second neighbour is the site itself: L = 95 - 47
  EXPECT_EQ(e.horizontal.At(0, 6), -3);   // M = 95, L = 256 - 2 * 68: 95 + 30 - 128
}

TEST(EdgeRules, RowsMirrorAboutTheCurrentRow) {
  const Estimated e(Parabolic(), 7, 6);
  // Column 0 reads 20 25 40 65 100 145 from the top.
  EXPECT_EQ(e.vertical.At(0, 0), -5);  // both first neighbours row 1, both second row 2
  EXPECT_EQ(e.vertical.At(1, 0), 15);  // both second neighbours are row 3, not row 0 or 1
  EXPECT_EQ(e.vertical.At(4, 0), 35);  // both second neighbours are row 2
  EXPECT_EQ(e.vertical.At(5, 0), 5);   // first neighbours row 4, second row 3
  // Column 1 reads 23 28 43 68 103 148: at the R site (0, 1) M = 28, L = -40.
  EXPECT_EQ(e.vertical.At(0, 1), 5);
}

// The horizontal estimate at a site is of the row's difference (R - G on a
// row with red, B - G on a row with blue), the vertical one of the column's.
const Plane& PlainHorizontal(const PlainPlanes& p, BayerPattern pattern, int r, int c) {
  const CfaClass cls = CfaClassOf(pattern, r, c);
  return cls == kGr || cls == kR ? p.RgH : p.BgH;
}
const Plane& PlainVertical(const PlainPlanes& p, BayerPattern pattern, int r, int c) {
  const CfaClass cls = CfaClassOf(pattern, r, c);
  return cls == kR || cls == kGb ? p.RgV : p.BgV;
}

// Every size from the smallest the rules cover (3 x 4) upwards, odd and even,
// every tile, against the plain rule at every entry.
TEST(Estimation, MatchesThePlainRuleAtEverySiteOfEverySizeAndTile) {
  std::mt19937 random(29);
  for (const BayerPattern pattern : kAllPatterns) {
    for (int w = 3; w <= 16; ++w) {
      for (int h = 4; h <= 13; ++h) {
        const auto mosaic = RandomBytes(static_cast<std::size_t>(w) * h, random);
        const Estimated e(mosaic, w, h, pattern);
        const PlainPlanes plain = PlainEstimate(mosaic, w, h, pattern);
        for (int r = 0; r < h; ++r) {
          for (int c = 0; c < w; ++c) {
            ASSERT_EQ(e.horizontal.At(r, c), plain.At(PlainHorizontal(plain, pattern, r, c), r, c))
                << PatternName(pattern) << " " << w << " x " << h << " at " << r << "," << c;
            ASSERT_EQ(e.vertical.At(r, c), plain.At(PlainVertical(plain, pattern, r, c), r, c))
                << PatternName(pattern) << " " << w << " x " << h << " at " << r << "," << c;
          }
        }
      }
    }
  }
}

// Rows of a range are written and no others; a rolling buffer of a few slots
// holds the same values as a whole plane.
TEST(Estimation, WritesExactlyTheRowsOfItsRangeIntoRollingSlots) {
  const int w = 19;
  const int h = 15;
  std::mt19937 random(5);
  const auto mosaic = RandomBytes(static_cast<std::size_t>(w) * h, random);
  const Estimated whole(mosaic, w, h);
  WholePlane horizontal(w, 4);  // four slots
  WholePlane vertical(w, 4);
  engine::EstimateDirectionalDifferences(
      engine::WholeMosaic(PackedMosaic(mosaic, w, h, BayerPattern::kGRBG)), BayerPattern::kGRBG, 9,
      12, horizontal.Rows(), vertical.Rows());
  for (int r = 9; r < 12; ++r) {
    for (int c = 0; c < w; ++c) {
      EXPECT_EQ(horizontal.At(r % 4, c), whole.horizontal.At(r, c));
      EXPECT_EQ(vertical.At(r % 4, c), whole.vertical.At(r, c));
    }
  }
  for (int c = 0; c < w; ++c) {
    EXPECT_EQ(horizontal.At(12 % 4, c), kMarker) << "row 12 is outside the range";
  }
}

}  // namespace
}  // namespace demosaic::testing
