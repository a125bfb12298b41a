// Directional fusion: the weighting by the other direction's spread, the
// flat-window rules, the bounds, the rounding and the sites written.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/engine.h"

namespace demosaic {
namespace {

// The fused value at the centre of a 5 x 5 neighbourhood whose centre row
// holds `horizontal` and centre column `vertical` (both through the site).
std::int32_t Fuse(std::array<int, 5> horizontal, std::array<int, 5> vertical, int sample) {
  std::vector<std::int32_t> h_plane(25, 999);
  std::vector<std::int32_t> v_plane(25, 999);
  for (int k = 0; k < 5; ++k) {
    h_plane[2 * 5 + k] = horizontal[k];
    v_plane[k * 5 + 2] = vertical[k];
  }
  return FuseSite(&h_plane[12], &v_plane[12], 5, sample);
}

TEST(Fusion, WeightsEachDirectionByTheOtherDirectionsSpread) {
  // Sh = 3.2, Sv = 160: (12 * 160 + 8 * 3.2) / 163.2 = 11.92... -> 12.
  EXPECT_EQ(Fuse({10, 10, 12, 10, 10}, {0, 4, 8, 12, 16}, 100), 12);
  // The same windows at a sample of 5 are bounded to 5.
  EXPECT_EQ(Fuse({10, 10, 12, 10, 10}, {0, 4, 8, 12, 16}, 5), 5);
}

TEST(Fusion, FlatWindowsDecideAlone) {
  EXPECT_EQ(Fuse({7, 7, 7, 7, 7}, {0, 4, 8, 12, 16}, 100), 7);     // flat row wins
  EXPECT_EQ(Fuse({10, 10, 12, 10, 10}, {3, 3, 3, 3, 3}, 100), 3);  // flat column wins
  EXPECT_EQ(Fuse({7, 7, 7, 7, 7}, {3, 3, 3, 3, 3}, 100), 7);       // both flat: the row
}

TEST(Fusion, BoundsKeepTheRebuiltGreenInEightBits) {
  // At sample 0 the value lies in -255 .. 0, at 255 in 0 .. 255.
  EXPECT_EQ(Fuse({50, 50, 50, 50, 50}, {1, 2, 3, 4, 5}, 0), 0);
  EXPECT_EQ(Fuse({-255, -255, -255, -255, -255}, {1, 2, 3, 4, 5}, 0), -255);
  EXPECT_EQ(Fuse({-10, -10, -10, -10, -10}, {1, 2, 3, 4, 5}, 255), 0);
  EXPECT_EQ(Fuse({255, 255, 255, 255, 255}, {1, 2, 3, 4, 5}, 255), 255);
  EXPECT_EQ(Fuse({-200, -200, -200, -200, -200}, {1, 2, 3, 4, 5}, 40), -200);
  EXPECT_EQ(Fuse({-250, -250, -250, -250, -250}, {1, 2, 3, 4, 5}, 20), -235);
}

// Windows with integer means and chosen spreads produce estimates of exactly
// +-0.5 (equal spreads, centres 0 and +-1) and +-0.4 (spreads 8 and 12).
TEST(Fusion, HalvesRoundAwayFromZero) {
  EXPECT_EQ(Fuse({-2, 2, 0, 0, 0}, {-1, 3, 1, 1, 1}, 100), 1);      // 0.5
  EXPECT_EQ(Fuse({-2, 2, 0, 0, 0}, {-3, 1, -1, -1, -1}, 100), -1);  // -0.5
  EXPECT_EQ(Fuse({0, 4, 2, 2, 2}, {1, 5, 3, 3, 3}, 100), 3);        // 2.5
  EXPECT_EQ(Fuse({-2, 2, 0, 0, 0}, {-3, 1, 1, 1, 0}, 100), 0);      // 0.4
  EXPECT_EQ(Fuse({2, -2, 0, 0, 0}, {3, -1, -1, -1, 0}, 100), 0);    // -0.4
}

WorkingPlanes RandomDirectionalPlanes(EngineWorkspace& workspace, int width, int height,
                                      std::mt19937& random) {
  WorkingPlanes planes = PreparePlanes(workspace, width, height);
  for (DiffPlane* plane : {&planes.RgH, &planes.RgV, &planes.BgH, &planes.BgV}) {
    for (auto& v : *plane) v = static_cast<std::int32_t>(random() % 201) - 100;
  }
  return planes;
}

TEST(Fusion, WritesOnlyTheOwnDifferenceAtRedAndBlueSitesInsideTheFrame) {
  const int w = 11;
  const int h = 10;
  std::mt19937 random(3);
  std::vector<std::uint8_t> mosaic(w * h);
  for (auto& v : mosaic) v = static_cast<std::uint8_t>(random() % 256);
  EngineWorkspace workspace;
  WorkingPlanes planes = RandomDirectionalPlanes(workspace, w, h, random);
  FuseDirections(mosaic, w, h, planes);
  int seeded = 0;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const int p = r * w + c;
      const bool inside = r >= 2 && r <= h - 3 && c >= 2 && c <= w - 3;
      const CfaClass cls = CfaClassOf(r, c);
      if (!inside || cls != kR) {
        EXPECT_EQ(planes.RgFused[p], 0) << r << "," << c;
      }
      if (!inside || cls != kB) {
        EXPECT_EQ(planes.BgFused[p], 0) << r << "," << c;
      }
      if (inside && (cls == kR || cls == kB)) {
        const std::int32_t d = cls == kR ? planes.RgFused[p] : planes.BgFused[p];
        EXPECT_GE(d, mosaic[p] - 255);
        EXPECT_LE(d, mosaic[p]);
        seeded += d != 0;
      }
    }
  }
  EXPECT_GT(seeded, 10);
}

// The rule written out plainly, one step after the other, for comparison
// with the engine's (vectorised) loop.
std::int32_t PlainFuse(const std::int32_t* h, const std::int32_t* v, int w, int sample) {
  double window_h[5], window_v[5];
  int sum_h = 0, sum_v = 0;
  for (int k = 0; k < 5; ++k) {
    sum_h += h[k - 2];
    sum_v += v[(k - 2) * w];
    window_h[k] = h[k - 2];
    window_v[k] = v[(k - 2) * w];
  }
  const double mh = sum_h / 5.0;
  const double mv = sum_v / 5.0;
  double sh = 0.0, sv = 0.0;
  for (int k = 0; k < 5; ++k) {
    sh += (window_h[k] - mh) * (window_h[k] - mh);
    sv += (window_v[k] - mv) * (window_v[k] - mv);
  }
  double estimate;
  if (sh == 0.0) {
    estimate = h[0];
  } else if (sv == 0.0) {
    estimate = v[0];
  } else {
    const double weighted_sum = h[0] * sv + v[0] * sh;
    estimate = weighted_sum / (sh + sv);
  }
  if (estimate < sample - 255) estimate = sample - 255;
  if (estimate > sample) estimate = sample;
  if (estimate < 0) estimate -= 0.5;
  if (estimate > 0) estimate += 0.5;
  return static_cast<std::int32_t>(estimate);
}

// Busy planes with some flat runs, every R and B site of several sizes.
TEST(Fusion, MatchesThePlainRuleAtEverySite) {
  std::mt19937 random(19);
  for (auto [w, h] : {std::pair{5, 5}, std::pair{12, 9}, std::pair{37, 14}, std::pair{64, 33}}) {
    std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h);
    for (auto& v : mosaic) v = static_cast<std::uint8_t>(random() % 256);
    EngineWorkspace workspace;
    WorkingPlanes planes = RandomDirectionalPlanes(workspace, w, h, random);
    for (int i = 0; i < w * h; i += 7) planes.RgH[i] = planes.BgV[i] = 3;  // some flat runs
    FuseDirections(mosaic, w, h, planes);
    for (int r = 2; r <= h - 3; ++r) {
      for (int c = 2; c <= w - 3; ++c) {
        const int p = r * w + c;
        if (CfaClassOf(r, c) == kR) {
          ASSERT_EQ(planes.RgFused[p], PlainFuse(&planes.RgH[p], &planes.RgV[p], w, mosaic[p]));
        } else if (CfaClassOf(r, c) == kB) {
          ASSERT_EQ(planes.BgFused[p], PlainFuse(&planes.BgH[p], &planes.BgV[p], w, mosaic[p]));
        }
      }
    }
  }
}

TEST(Fusion, ImagesWithoutAFusableSiteLeaveTheFusedPlanesZero) {
  std::mt19937 random(5);
  for (auto [w, h] : {std::pair{4, 9}, std::pair{9, 4}, std::pair{4, 4}}) {
    std::vector<std::uint8_t> mosaic(w * h, 200);
    EngineWorkspace workspace;
    WorkingPlanes planes = RandomDirectionalPlanes(workspace, w, h, random);
    FuseDirections(mosaic, w, h, planes);
    for (std::size_t i = 0; i < mosaic.size(); ++i) {
      EXPECT_EQ(planes.RgFused[i], 0);
      EXPECT_EQ(planes.BgFused[i], 0);
    }
  }
}

}  // namespace
}  // namespace demosaic
