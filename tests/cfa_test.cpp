// Mosaic sampling: which reference channel each site keeps.
#include "cfa/cfa.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace demosaic {
namespace {

std::vector<std::uint8_t> UniformImage(int width, int height, std::uint8_t b, std::uint8_t g,
                                       std::uint8_t r) {
  std::vector<std::uint8_t> image(3 * static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < image.size(); i += 3) {
    image[i] = b;
    image[i + 1] = g;
    image[i + 2] = r;
  }
  return image;
}

TEST(CfaClass, FollowsTheGrbgTile) {
  EXPECT_EQ(CfaClassOf(0, 0), kGr);
  EXPECT_EQ(CfaClassOf(0, 1), kR);
  EXPECT_EQ(CfaClassOf(1, 0), kB);
  EXPECT_EQ(CfaClassOf(1, 1), kGb);
  EXPECT_EQ(CfaClassOf(6, 9), kR);
  EXPECT_EQ(CfaClassOf(7, 4), kB);
}

TEST(SampleMosaic, TwoByTwoKeepsGreenRedBlueGreen) {
  const auto image = UniformImage(2, 2, 10, 20, 30);
  std::vector<std::uint8_t> mosaic(4, 0xEE);
  SampleMosaic(image, 2, 2, mosaic);
  EXPECT_EQ(mosaic, (std::vector<std::uint8_t>{20, 30, 10, 20}));
}

TEST(SampleMosaic, PureRedAppearsOnlyAtRedSites) {
  const int w = 6;
  const int h = 4;
  const auto image = UniformImage(w, h, 0, 0, 255);
  std::vector<std::uint8_t> mosaic(w * h, 0xEE);
  SampleMosaic(image, w, h, mosaic);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      EXPECT_EQ(mosaic[r * w + c], CfaClassOf(r, c) == kR ? 255 : 0) << r << "," << c;
    }
  }
}

// Odd sizes leave a partial last block: every site is still sampled by its
// class and nothing past the plane is touched.
TEST(SampleMosaic, OddSizesSampleEverySiteAndNothingMore) {
  const int w = 5;
  const int h = 3;
  std::vector<std::uint8_t> image(3 * w * h);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> mosaic(w * h + 8, 0xEE);
  SampleMosaic(image, w, h, std::span(mosaic).first(w * h));
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const int channel = CfaClassOf(r, c) == kR ? 2 : (CfaClassOf(r, c) == kB ? 0 : 1);
      EXPECT_EQ(mosaic[r * w + c], image[3 * (r * w + c) + channel]) << r << "," << c;
    }
  }
  for (int i = w * h; i < w * h + 8; ++i) EXPECT_EQ(mosaic[i], 0xEE);
}

}  // namespace
}  // namespace demosaic
