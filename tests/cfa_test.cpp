// The Bayer tiles and mosaic sampling: which reference channel each site
// keeps, for every tile, channel order and row stride.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "demosaic/demosaic.h"

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

std::vector<std::uint8_t> Sample(const std::vector<std::uint8_t>& image, int w, int h,
                                 BayerPattern pattern = BayerPattern::kGRBG) {
  std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h, 0xEE);
  SampleMosaic(MakeImageView(std::span<const std::uint8_t>(image), w, h),
               MakeMosaicView(std::span(mosaic), w, h, pattern));
  return mosaic;
}

TEST(CfaClass, FollowsEachTileFromTheTopLeftSite) {
  // GRBG: G R / B G.
  EXPECT_EQ(CfaClassOf(BayerPattern::kGRBG, 0, 0), kGr);
  EXPECT_EQ(CfaClassOf(BayerPattern::kGRBG, 0, 1), kR);
  EXPECT_EQ(CfaClassOf(BayerPattern::kGRBG, 1, 0), kB);
  EXPECT_EQ(CfaClassOf(BayerPattern::kGRBG, 1, 1), kGb);
  EXPECT_EQ(CfaClassOf(BayerPattern::kGRBG, 6, 9), kR);
  // RGGB: R G / G B; the green beside red is Gr.
  EXPECT_EQ(CfaClassOf(BayerPattern::kRGGB, 0, 0), kR);
  EXPECT_EQ(CfaClassOf(BayerPattern::kRGGB, 0, 1), kGr);
  EXPECT_EQ(CfaClassOf(BayerPattern::kRGGB, 1, 0), kGb);
  EXPECT_EQ(CfaClassOf(BayerPattern::kRGGB, 1, 1), kB);
  // BGGR: B G / G R.
  EXPECT_EQ(CfaClassOf(BayerPattern::kBGGR, 0, 0), kB);
  EXPECT_EQ(CfaClassOf(BayerPattern::kBGGR, 0, 1), kGb);
  EXPECT_EQ(CfaClassOf(BayerPattern::kBGGR, 1, 0), kGr);
  EXPECT_EQ(CfaClassOf(BayerPattern::kBGGR, 1, 1), kR);
  // GBRG: G B / R G.
  EXPECT_EQ(CfaClassOf(BayerPattern::kGBRG, 0, 0), kGb);
  EXPECT_EQ(CfaClassOf(BayerPattern::kGBRG, 0, 1), kB);
  EXPECT_EQ(CfaClassOf(BayerPattern::kGBRG, 1, 0), kR);
  EXPECT_EQ(CfaClassOf(BayerPattern::kGBRG, 1, 1), kGr);
}

TEST(BayerPattern, NamesReadBackInAnyCaseAndNothingElseParses) {
  for (const BayerPattern pattern :
       {BayerPattern::kGRBG, BayerPattern::kRGGB, BayerPattern::kBGGR, BayerPattern::kGBRG}) {
    EXPECT_EQ(ParsePattern(PatternName(pattern)), pattern);
  }
  EXPECT_EQ(ParsePattern("rggb"), BayerPattern::kRGGB);
  EXPECT_EQ(ParsePattern("gBrG"), BayerPattern::kGBRG);
  for (const char* bad : {"", "RGB", "RGGBB", "GGRB", "RRGB", "rg gb"}) {
    EXPECT_FALSE(ParsePattern(bad).has_value()) << bad;
  }
}

TEST(SampleMosaic, TwoByTwoKeepsEachTilesColours) {
  const auto image = UniformImage(2, 2, 10, 20, 30);  // B, G, R
  EXPECT_EQ(Sample(image, 2, 2), (std::vector<std::uint8_t>{20, 30, 10, 20}));
  EXPECT_EQ(Sample(image, 2, 2, BayerPattern::kRGGB), (std::vector<std::uint8_t>{30, 20, 20, 10}));
  EXPECT_EQ(Sample(image, 2, 2, BayerPattern::kBGGR), (std::vector<std::uint8_t>{10, 20, 20, 30}));
  EXPECT_EQ(Sample(image, 2, 2, BayerPattern::kGBRG), (std::vector<std::uint8_t>{20, 10, 30, 20}));
}

TEST(SampleMosaic, PureRedAppearsOnlyAtRedSites) {
  const int w = 6;
  const int h = 4;
  const auto image = UniformImage(w, h, 0, 0, 255);
  const auto mosaic = Sample(image, w, h);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      EXPECT_EQ(mosaic[r * w + c], CfaClassOf(BayerPattern::kGRBG, r, c) == kR ? 255 : 0)
          << r << "," << c;
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
  SampleMosaic(MakeImageView(std::span<const std::uint8_t>(image), w, h),
               MakeMosaicView(std::span(mosaic).first(w * h), w, h, BayerPattern::kGRBG));
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const CfaClass cls = CfaClassOf(BayerPattern::kGRBG, r, c);
      const int channel = cls == kR ? 2 : (cls == kB ? 0 : 1);
      EXPECT_EQ(mosaic[r * w + c], image[3 * (r * w + c) + channel]) << r << "," << c;
    }
  }
  for (int i = w * h; i < w * h + 8; ++i) EXPECT_EQ(mosaic[i], 0xEE);
}

// An R, G, B image with padded rows (a crop of a larger buffer) samples the
// same mosaic as the packed B, G, R image, writing only inside each row.
TEST(SampleMosaic, RgbOrderAndStridesSampleTheSameColours) {
  const int w = 7;
  const int h = 5;
  std::vector<std::uint8_t> bgr(3 * w * h);
  for (std::size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const int image_stride = 3 * w + 4;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(image_stride) * h);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      for (int k = 0; k < 3; ++k) rgb[r * image_stride + 3 * c + k] = bgr[3 * (r * w + c) + 2 - k];
    }
  }
  const int mosaic_stride = w + 3;
  for (const BayerPattern pattern : {BayerPattern::kGRBG, BayerPattern::kBGGR}) {
    std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(mosaic_stride) * h, 0xEE);
    SampleMosaic(
        MakeImageView(std::span<const std::uint8_t>(rgb), w, h, image_stride, ChannelOrder::kRGB),
        MakeMosaicView(std::span(mosaic), w, h, pattern, mosaic_stride));
    const auto packed = Sample(bgr, w, h, pattern);
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < mosaic_stride; ++c) {
        if (c < w) {
          EXPECT_EQ(mosaic[r * mosaic_stride + c], packed[r * w + c]) << r << "," << c;
        } else {
          EXPECT_EQ(mosaic[r * mosaic_stride + c], 0xEE) << "padding at " << r << "," << c;
        }
      }
    }
  }
}

TEST(SampleMosaic, RefusesViewsOfDifferentSizes) {
  std::vector<std::uint8_t> image(3 * 16, 0);
  std::vector<std::uint8_t> mosaic(16, 0);
  EXPECT_THROW(SampleMosaic(MakeImageView(std::span<const std::uint8_t>(image), 4, 4),
                            MakeMosaicView(std::span(mosaic), 4, 3, BayerPattern::kGRBG)),
               std::invalid_argument);
}

// Views are checked against the buffer they describe.
TEST(Views, ChecksGeometryAgainstTheBuffer) {
  std::vector<std::uint8_t> bytes(100);
  const std::span<const std::uint8_t> all(bytes);
  EXPECT_NO_THROW(MakeImageView(all, 10, 3));                          // 90 bytes
  EXPECT_EQ(MakeImageView(all, 10, 3).stride, 30);                     // packed by default
  EXPECT_THROW(MakeImageView(all, 10, 4), std::invalid_argument);      // 120 bytes
  EXPECT_THROW(MakeImageView(all, 10, 3, 29), std::invalid_argument);  // stride < row
  EXPECT_NO_THROW(MakeImageView(all, 10, 3, 35));                      // 2 * 35 + 30 = 100
  EXPECT_THROW(MakeImageView(all, 10, 3, 36), std::invalid_argument);  // 102 bytes
  EXPECT_THROW(MakeImageView(all, -1, 3), std::invalid_argument);
  constexpr BayerPattern kTile = BayerPattern::kGRBG;
  EXPECT_NO_THROW(MakeMosaicView(all, 10, 10, kTile));
  EXPECT_THROW(MakeMosaicView(all, 10, 11, kTile), std::invalid_argument);
  EXPECT_THROW(MakeMosaicView(all, 1 << 30, 1 << 30, kTile), std::invalid_argument);
  EXPECT_NO_THROW(MakeMosaicView(all, 0, 0, kTile));
}

}  // namespace
}  // namespace demosaic
