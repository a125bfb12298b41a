// Directional fusion: the weighting by the other direction's spread, the
// flat-window rules, the bounds, the rounding, the sites written, and every
// compiled variant of the loop against the plain rules.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "demosaic/bayer.h"
#include "engine/stages.h"
#include "support/engine_buffers.h"
#include "support/plain_method.h"

namespace demosaic::testing {
namespace {

using engine::Diff;
using engine::SimdLevel;

constexpr BayerPattern kAllPatterns[] = {BayerPattern::kGRBG, BayerPattern::kRGGB,
                                         BayerPattern::kBGGR, BayerPattern::kGBRG};

// The fused value at a site whose row window holds `horizontal` and whose
// column window holds `vertical` (both centred on the site).
std::int32_t Fuse(std::array<int, 5> horizontal, std::array<int, 5> vertical, int sample) {
  std::array<Diff, 5> h{};
  std::array<Diff, 5> v{};
  for (int k = 0; k < 5; ++k) {
    h[k] = static_cast<Diff>(horizontal[k]);
    v[k] = static_cast<Diff>(vertical[k]);
  }
  const Diff* column[5] = {&v[0], &v[1], &v[2], &v[3], &v[4]};
  return engine::FuseSite(&h[2], column, sample);
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

// Directional planes of random estimates with some flat runs, as a plain
// six-plane set and as the engine's two planes.
struct RandomEstimates {
  RandomEstimates(int w, int h, BayerPattern pattern, std::mt19937& random)
      : horizontal(w, h), vertical(w, h) {
    plain.width = w;
    plain.height = h;
    const std::size_t sites = static_cast<std::size_t>(w) * h;
    for (Plane* plane :
         {&plain.RgH, &plain.RgV, &plain.BgH, &plain.BgV, &plain.RgFused, &plain.BgFused}) {
      plane->assign(sites, 0);
    }
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        const bool flat = (r * w + c) % 7 == 0;
        const auto h_value = static_cast<Diff>(flat ? 3 : static_cast<int>(random() % 511) - 255);
        const auto v_value = static_cast<Diff>(flat ? 3 : static_cast<int>(random() % 511) - 255);
        horizontal.At(r, c) = h_value;
        vertical.At(r, c) = v_value;
        const CfaClass cls = CfaClassOf(pattern, r, c);
        const std::size_t at = static_cast<std::size_t>(r) * w + c;
        (cls == kGr || cls == kR ? plain.RgH : plain.BgH)[at] = h_value;
        (cls == kR || cls == kGb ? plain.RgV : plain.BgV)[at] = v_value;
      }
    }
  }
  WholePlane horizontal;
  WholePlane vertical;
  PlainPlanes plain;
};

std::vector<SimdLevel> SupportedLevels() {
  std::vector<SimdLevel> levels;
  for (const SimdLevel level : {SimdLevel::kBaseline, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
    if (engine::ProcessorSupports(level)) levels.push_back(level);
  }
  return levels;
}

// Every compiled variant of the loop (baseline, AVX2, AVX-512, as far as this
// processor runs them), every tile, at every site: the plain rule's value at
// red and blue sites at least 2 from the edges, untouched everywhere else.
TEST(Fusion, EveryCompiledVariantMatchesThePlainRuleAndWritesNothingElse) {
  if (!engine::ProcessorSupports(SimdLevel::kAvx2)) {
    std::printf("note: this processor has no AVX2; only the baseline loop is checked\n");
  }
  std::mt19937 random(19);
  for (const SimdLevel level : SupportedLevels()) {
    for (const BayerPattern pattern : kAllPatterns) {
      for (auto [w, h] : {std::pair{5, 5}, std::pair{12, 9}, std::pair{37, 14}, std::pair{64, 33},
                          std::pair{4, 9}, std::pair{9, 4}}) {
        const auto mosaic = RandomBytes(static_cast<std::size_t>(w) * h, random);
        RandomEstimates estimates(w, h, pattern, random);
        WholePlane fused(w, h);
        engine::FuseDirections(engine::WholeMosaic(PackedMosaic(mosaic, w, h, pattern)), pattern, 0,
                               h, estimates.horizontal.Rows(), estimates.vertical.Rows(),
                               fused.Rows(), level);
        PlainFuse(mosaic, pattern, estimates.plain);
        for (int r = 0; r < h; ++r) {
          for (int c = 0; c < w; ++c) {
            const CfaClass cls = CfaClassOf(pattern, r, c);
            const bool inside = r >= 2 && r <= h - 3 && c >= 2 && c <= w - 3;
            const bool fusable = inside && (cls == kR || cls == kB);
            const PlainPlanes& p = estimates.plain;
            const int expected = !fusable    ? kMarker
                                 : cls == kR ? p.At(p.RgFused, r, c)
                                             : p.At(p.BgFused, r, c);
            ASSERT_EQ(fused.At(r, c), expected)
                << "level " << static_cast<int>(level) << " " << PatternName(pattern) << " " << w
                << " x " << h << " at " << r << "," << c;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace demosaic::testing
