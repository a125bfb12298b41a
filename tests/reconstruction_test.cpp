// Colour reconstruction: the fill of the missing differences, the rebuilt
// channels with their clamps, the black frame, and the whole engine on
// simple mosaics.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "cfa/cfa.h"
#include "engine/engine.h"

namespace demosaic {
namespace {

struct Pixel {
  int b, g, r;
  bool operator==(const Pixel&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Pixel& p) {
  return os << "(B " << p.b << ", G " << p.g << ", R " << p.r << ")";
}

// A 9 x 9 scene for ReconstructColors: a mosaic and fused planes set by hand.
struct Scene {
  static constexpr int kW = 9;
  static constexpr int kH = 9;
  std::vector<std::uint8_t> mosaic = std::vector<std::uint8_t>(kW * kH, 0);
  EngineWorkspace workspace;
  WorkingPlanes planes = PreparePlanes(workspace, kW, kH);
  std::vector<std::uint8_t> output = std::vector<std::uint8_t>(3 * kW * kH, 0xAB);

  void Sample(int r, int c, int v) { mosaic[r * kW + c] = static_cast<std::uint8_t>(v); }
  void Rg(int r, int c, int v) { planes.RgFused[r * kW + c] = v; }
  void Bg(int r, int c, int v) { planes.BgFused[r * kW + c] = v; }
  Pixel Run(int r, int c) {
    ReconstructColors(output, mosaic, kW, kH, planes);
    const std::uint8_t* px = &output[3 * (r * kW + c)];
    return {px[0], px[1], px[2]};
  }
};

TEST(Reconstruction, GreenSiteTakesTwoPointMeans) {
  Scene s;  // (4, 4) is a Gr site
  s.Sample(4, 4, 120);
  s.Rg(4, 3, 28), s.Rg(4, 5, 33);    // red neighbours: floor(61 / 2) = 30
  s.Bg(3, 4, -15), s.Bg(5, 4, -14);  // blue neighbours: floor(-29 / 2) = -15
  EXPECT_EQ(s.Run(4, 4), (Pixel{105, 120, 150}));
}

TEST(Reconstruction, RedSiteTakesTheBlueDiagonals) {
  Scene s;  // (4, 5) is an R site
  s.Sample(4, 5, 200);
  s.Rg(4, 5, 60);
  s.Bg(3, 4, 10), s.Bg(3, 6, 20), s.Bg(5, 4, 30), s.Bg(5, 6, 41);  // floor(101 / 4) = 25
  EXPECT_EQ(s.Run(4, 5), (Pixel{165, 140, 200}));
}

TEST(Reconstruction, BlueSiteTakesTheRedDiagonalsAndClampsRed) {
  Scene s;  // (5, 4) is a B site
  s.Sample(5, 4, 10);
  s.Bg(5, 4, -100);
  s.Rg(4, 3, 150), s.Rg(4, 5, 160), s.Rg(6, 3, 170), s.Rg(6, 5, 181);  // 165
  EXPECT_EQ(s.Run(5, 4), (Pixel{10, 110, 255}));                       // R = 275 clamped
}

TEST(Reconstruction, OddNegativeSumsRoundDown) {
  Scene two_point;  // Gr site: red neighbours -1 and -2 give -2, not -1
  two_point.Sample(4, 4, 100);
  two_point.Rg(4, 3, -1), two_point.Rg(4, 5, -2);
  EXPECT_EQ(two_point.Run(4, 4).r, 98);

  Scene four_point;  // B site: red diagonals summing to -1 give -1, not 0
  four_point.Sample(5, 4, 100);
  four_point.Rg(4, 3, -1);
  EXPECT_EQ(four_point.Run(5, 4).r, 99);
}

TEST(Reconstruction, RedAndBlueAreClampedOnTheirOwn) {
  Scene high;  // Gr site X = 250 with dR = 10
  high.Sample(4, 4, 250);
  high.Rg(4, 3, 10), high.Rg(4, 5, 10);
  EXPECT_EQ(high.Run(4, 4), (Pixel{250, 250, 255}));

  Scene low;  // Gr site X = 3 with dB = -10
  low.Sample(4, 4, 3);
  low.Bg(3, 4, -10), low.Bg(5, 4, -10);
  EXPECT_EQ(low.Run(4, 4), (Pixel{0, 3, 3}));
}

TEST(Reconstruction, FrameIsBlackWhateverThePlanesHold) {
  Scene s;
  std::mt19937 random(11);
  for (auto& v : s.mosaic) v = static_cast<std::uint8_t>(random() % 256);
  for (auto& v : s.planes.RgFused) v = static_cast<std::int32_t>(random() % 200) - 100;
  for (auto& v : s.planes.BgFused) v = static_cast<std::int32_t>(random() % 200) - 100;
  s.Run(0, 0);
  for (int r = 0; r < Scene::kH; ++r) {
    for (int c = 0; c < Scene::kW; ++c) {
      const bool frame = r < 3 || r > Scene::kH - 4 || c < 3 || c > Scene::kW - 4;
      if (!frame) continue;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(s.output[3 * (r * Scene::kW + c) + k], 0);
    }
  }
}

std::vector<std::uint8_t> Reconstruct(const std::vector<std::uint8_t>& mosaic, int w, int h) {
  std::vector<std::uint8_t> output(3 * static_cast<std::size_t>(w) * h, 0xAB);
  ReconstructFromMosaic(output, mosaic, w, h);
  return output;
}

TEST(Engine, EachSampleReappearsInItsOwnChannel) {
  const int w = 23;
  const int h = 17;
  std::mt19937 random(13);
  std::vector<std::uint8_t> mosaic(w * h);
  for (auto& v : mosaic) v = static_cast<std::uint8_t>(random() % 256);
  const std::vector<std::uint8_t> output = Reconstruct(mosaic, w, h);
  for (int r = 3; r <= h - 4; ++r) {
    for (int c = 3; c <= w - 4; ++c) {
      const int channel = SampledChannel(CfaClassOf(r, c));
      EXPECT_EQ(output[3 * (r * w + c) + channel], mosaic[r * w + c]) << r << "," << c;
    }
  }
}

TEST(Engine, UniformGreyComesBackUnchangedInsideABlackFrame) {
  const int w = 12;
  const int h = 10;
  const std::vector<std::uint8_t> output = Reconstruct(std::vector<std::uint8_t>(w * h, 77), w, h);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const bool interior = r >= 3 && r <= h - 4 && c >= 3 && c <= w - 4;
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(output[3 * (r * w + c) + k], interior ? 77 : 0) << r << "," << c;
      }
    }
  }
}

TEST(Engine, SevenBySevenHasOneInteriorPixel) {
  const std::vector<std::uint8_t> output = Reconstruct(std::vector<std::uint8_t>(49, 90), 7, 7);
  for (int i = 0; i < 49; ++i) {
    const int expected = i == 3 * 7 + 3 ? 90 : 0;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(output[3 * i + k], expected) << "site " << i;
  }
}

TEST(Engine, ImagesWithoutInteriorComeOutBlack) {
  for (auto [w, h] : {std::pair{6, 20}, std::pair{20, 6}, std::pair{2, 1}, std::pair{3, 3}}) {
    const std::vector<std::uint8_t> output =
        Reconstruct(std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h, 200), w, h);
    for (std::uint8_t v : output) ASSERT_EQ(v, 0) << w << " x " << h;
  }
}

// A workspace reused across images keeps the previous image's values in
// entries no stage writes; none of them may leak into the next result.
TEST(Engine, ReusedWorkspaceGivesTheSameResultAsFreshPlanes) {
  std::mt19937 random(17);
  EngineWorkspace workspace;
  for (auto [w, h] : {std::pair{40, 30}, std::pair{40, 30}, std::pair{17, 23}, std::pair{41, 9}}) {
    std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h);
    for (auto& v : mosaic) v = static_cast<std::uint8_t>(random() % 256);
    std::vector<std::uint8_t> reused(3 * mosaic.size(), 0xAB);
    ReconstructFromMosaic(reused, mosaic, w, h, workspace);
    EXPECT_EQ(reused, Reconstruct(mosaic, w, h)) << w << " x " << h;
  }
}

}  // namespace
}  // namespace demosaic
