// Colour reconstruction: the fill of the missing differences, the rebuilt
// channels with their clamps and the black frame, on hand-made fused rows.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "demosaic/image.h"
#include "engine/stages.h"
#include "support/engine_buffers.h"

namespace demosaic::testing {
namespace {

struct Pixel {
  int b, g, r;
  bool operator==(const Pixel&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Pixel& p) {
  return os << "(B " << p.b << ", G " << p.g << ", R " << p.r << ")";
}

// A 9 x 9 GRBG scene for ReconstructColors: a mosaic and fused differences
// set by hand (the fused plane holds R - G at R sites, B - G at B sites).
struct Scene {
  static constexpr int kW = 9;
  static constexpr int kH = 9;
  std::vector<std::uint8_t> mosaic = std::vector<std::uint8_t>(kW * kH, 0);
  WholePlane fused{kW, kH};
  std::vector<std::uint8_t> output = std::vector<std::uint8_t>(3 * kW * kH, 0xAB);

  Scene() {
    for (auto& v : fused.values) v = 0;
  }
  void Sample(int r, int c, int v) { mosaic[r * kW + c] = static_cast<std::uint8_t>(v); }
  void Fused(int r, int c, int v) { fused.At(r, c) = static_cast<engine::Diff>(v); }
  void Run(ChannelOrder order = ChannelOrder::kBGR) {
    engine::ReconstructColors(
        engine::WholeMosaic(PackedMosaic(mosaic, kW, kH, BayerPattern::kGRBG)), BayerPattern::kGRBG,
        0, kH, fused.Rows(),
        engine::WholeImage(MakeImageView(std::span(output), kW, kH, 0, order)));
  }
  Pixel At(int r, int c) {
    Run();
    const std::uint8_t* px = &output[3 * (r * kW + c)];
    return {px[0], px[1], px[2]};
  }
};

TEST(Reconstruction, GreenSiteTakesTwoPointMeans) {
  Scene s;  // (4, 4) is a Gr site
  s.Sample(4, 4, 120);
  s.Fused(4, 3, 28), s.Fused(4, 5, 33);    // red neighbours: floor(61 / 2) = 30
  s.Fused(3, 4, -15), s.Fused(5, 4, -14);  // blue neighbours: floor(-29 / 2) = -15
  EXPECT_EQ(s.At(4, 4), (Pixel{105, 120, 150}));
}

TEST(Reconstruction, GreenSiteOnABlueRowTakesRedFromAboveAndBelow) {
  Scene s;  // (5, 5) is a Gb site: R above and below, B left and right
  s.Sample(5, 5, 100);
  s.Fused(4, 5, 40), s.Fused(6, 5, 21);   // floor(61 / 2) = 30
  s.Fused(5, 4, -9), s.Fused(5, 6, -20);  // floor(-29 / 2) = -15
  EXPECT_EQ(s.At(5, 5), (Pixel{85, 100, 130}));
}

TEST(Reconstruction, RedSiteTakesTheBlueDiagonals) {
  Scene s;  // (4, 5) is an R site
  s.Sample(4, 5, 200);
  s.Fused(4, 5, 60);
  s.Fused(3, 4, 10), s.Fused(3, 6, 20), s.Fused(5, 4, 30), s.Fused(5, 6, 41);  // 25
  EXPECT_EQ(s.At(4, 5), (Pixel{165, 140, 200}));
}

TEST(Reconstruction, BlueSiteTakesTheRedDiagonalsAndClampsRed) {
  Scene s;  // (5, 4) is a B site
  s.Sample(5, 4, 10);
  s.Fused(5, 4, -100);
  s.Fused(4, 3, 150), s.Fused(4, 5, 160), s.Fused(6, 3, 170), s.Fused(6, 5, 181);  // 165
  EXPECT_EQ(s.At(5, 4), (Pixel{10, 110, 255}));  // R = 275 clamped
}

TEST(Reconstruction, RgbOrderSwapsOnlyWhereRedAndBlueGo) {
  Scene s;  // the R site of the diagonal example, written as R, G, B
  s.Sample(4, 5, 200);
  s.Fused(4, 5, 60);
  s.Fused(3, 4, 10), s.Fused(3, 6, 20), s.Fused(5, 4, 30), s.Fused(5, 6, 41);
  s.Run(ChannelOrder::kRGB);
  const std::uint8_t* px = &s.output[3 * (4 * Scene::kW + 5)];
  EXPECT_EQ((Pixel{px[0], px[1], px[2]}), (Pixel{200, 140, 165}));
}

TEST(Reconstruction, OddNegativeSumsRoundDown) {
  Scene two_point;  // Gr site: red neighbours -1 and -2 give -2, not -1
  two_point.Sample(4, 4, 100);
  two_point.Fused(4, 3, -1), two_point.Fused(4, 5, -2);
  EXPECT_EQ(two_point.At(4, 4).r, 98);

  Scene four_point;  // B site: red diagonals summing to -1 give -1, not 0
  four_point.Sample(5, 4, 100);
  four_point.Fused(4, 3, -1);
  EXPECT_EQ(four_point.At(5, 4).r, 99);
}

TEST(Reconstruction, RedAndBlueAreClampedOnTheirOwn) {
  Scene high;  // Gr site X = 250 with dR = 10
  high.Sample(4, 4, 250);
  high.Fused(4, 3, 10), high.Fused(4, 5, 10);
  EXPECT_EQ(high.At(4, 4), (Pixel{250, 250, 255}));

  Scene low;  // Gr site X = 3 with dB = -10
  low.Sample(4, 4, 3);
  low.Fused(3, 4, -10), low.Fused(5, 4, -10);
  EXPECT_EQ(low.At(4, 4), (Pixel{0, 3, 3}));
}

TEST(Reconstruction, FrameIsBlackWhateverTheRowsHold) {
  Scene s;
  std::mt19937 random(11);
  for (auto& v : s.mosaic) v = static_cast<std::uint8_t>(random() % 256);
  for (auto& v : s.fused.values)
    v = static_cast<engine::Diff>(static_cast<int>(random() % 200) - 100);
  s.Run();
  for (int r = 0; r < Scene::kH; ++r) {
    for (int c = 0; c < Scene::kW; ++c) {
      const bool frame = r < 3 || r > Scene::kH - 4 || c < 3 || c > Scene::kW - 4;
      if (!frame) continue;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(s.output[3 * (r * Scene::kW + c) + k], 0);
    }
  }
}

TEST(Reconstruction, WritesOnlyTheRowsOfItsRange) {
  Scene s;
  engine::ReconstructColors(
      engine::WholeMosaic(PackedMosaic(s.mosaic, Scene::kW, Scene::kH, BayerPattern::kGRBG)),
      BayerPattern::kGRBG, 4, 6, s.fused.Rows(),
      engine::WholeImage(MakeImageView(std::span(s.output), Scene::kW, Scene::kH)));
  for (int r = 0; r < Scene::kH; ++r) {
    const bool written = r >= 4 && r < 6;
    for (int k = 0; k < 3 * Scene::kW; ++k) {
      EXPECT_EQ(s.output[3 * r * Scene::kW + k] != 0xAB, written) << "row " << r;
    }
  }
}

}  // namespace
}  // namespace demosaic::testing
