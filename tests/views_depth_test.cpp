// 16-bit views: their factories check the white level and count strides in
// samples, every function taking them refuses a forged or mismatched one, crops keep the white
// level, a std::vector's constness picks the view, and FindSampleAboveWhite reports the first
// sample above the white level where a caller can find it.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "demosaic/image.h"
#include "demosaic/metrics.h"
#include "demosaic/quality.h"
#include "demosaic/reconstruct.h"
#include "demosaic/transfer.h"

namespace demosaic {
namespace {

// The message of the std::invalid_argument that `call` throws, or "" when
// it throws none.
template <class Call>
std::string RefusalOf(Call call) {
  try {
    call();
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "";
}

TEST(Views16, WhiteLevelsOutsideOneTo65535AreRefusedByName) {
  std::vector<std::uint16_t> samples(3 * 4 * 4, 0);
  for (const int white : {0, -1, 65536}) {
    const std::string image =
        RefusalOf([&] { MakeImageView(samples, 4, 4, 0, ChannelOrder::kBGR, white); });
    EXPECT_NE(image.find("white level " + std::to_string(white)), std::string::npos) << image;
    const std::string mosaic =
        RefusalOf([&] { MakeMosaicView(samples, 4, 4, BayerPattern::kGRBG, 0, white); });
    EXPECT_NE(mosaic.find("white level " + std::to_string(white)), std::string::npos) << mosaic;
  }
  EXPECT_EQ(MakeImageView(samples, 4, 4, 0, ChannelOrder::kBGR, 1).white_level, 1);
  EXPECT_EQ(MakeMosaicView(samples, 4, 4, BayerPattern::kGRBG, 0, 65535).white_level, 65535);
  EXPECT_EQ(MakeImageView(samples, 4, 4).white_level, kMaxWhiteLevel) << "the default";
}

// A view built by hand may carry any white level: every function taking
// 16-bit views refuses an invalid one, or two views of different white
// levels, before it writes anything.
TEST(Views16, FunctionsRefuseInvalidAndMismatchedWhiteLevelsBeforeWriting) {
  constexpr std::uint16_t kMarker = 0xABCD;
  std::vector<std::uint16_t> mosaic(20 * 20, 100);
  std::vector<std::uint16_t> image(3 * 20 * 20, kMarker);
  const ConstMosaicView16 twelve_bit = MakeMosaicView(mosaic, 20, 20, BayerPattern::kGRBG, 0, 4095);
  const ImageView16 ten_bit = MakeImageView(image, 20, 20, 0, ChannelOrder::kBGR, 1023);
  ImageView16 zero = MakeImageView(image, 20, 20, 0, ChannelOrder::kBGR, 4095);
  zero.white_level = 0;
  ImageView16 too_white = zero;
  too_white.white_level = 65536;

  EXPECT_THROW(ReconstructFromMosaic(twelve_bit, ten_bit), std::invalid_argument);
  EXPECT_THROW(ReconstructInPlace(too_white, BayerPattern::kGRBG), std::invalid_argument);
  EXPECT_THROW(ApplySrgbCurve(zero), std::invalid_argument);
  EXPECT_THROW(SampleMosaic(ten_bit, MakeMosaicView(mosaic, 20, 20, BayerPattern::kGRBG)),
               std::invalid_argument);
  EXPECT_EQ(image, std::vector<std::uint16_t>(image.size(), kMarker)) << "written before refusing";
  EXPECT_EQ(mosaic, std::vector<std::uint16_t>(mosaic.size(), 100)) << "written before refusing";
  for (const auto& [a, b] : {std::pair<ConstImageView16, ConstImageView16>{ten_bit, zero},
                             std::pair<ConstImageView16, ConstImageView16>{zero, zero}}) {
    EXPECT_THROW(ComputeQuality(a, b), std::invalid_argument);
    EXPECT_THROW(ComputeSsim(a, b), std::invalid_argument);
    EXPECT_THROW(ComputeDe2000(a, b), std::invalid_argument);
    EXPECT_THROW(ComputeZipper(a, b), std::invalid_argument);
  }
}

// Strides and lengths count samples, not bytes: rows of 3 * 5 samples
// padded to 17 need 2 * 17 + 15 samples for three rows.
TEST(Views16, StridesAndLengthsCountSamples) {
  std::vector<std::uint16_t> exact(2 * 17 + 15, 0);
  const ImageView16 image = MakeImageView(exact, 5, 3, 17);
  EXPECT_EQ(image.Row(2), exact.data() + 34);
  std::vector<std::uint16_t> short_by_one(2 * 17 + 14, 0);
  const std::string refusal = RefusalOf([&] { MakeImageView(short_by_one, 5, 3, 17); });
  EXPECT_NE(refusal.find("samples"), std::string::npos) << refusal;
  EXPECT_THROW(MakeImageView(exact, 5, 3, 14), std::invalid_argument) << "stride below a row";
  std::vector<std::uint16_t> mosaic(2 * 7 + 5, 0);
  EXPECT_EQ(MakeMosaicView(mosaic, 5, 3, BayerPattern::kRGGB, 7).Row(2), mosaic.data() + 14);
  EXPECT_THROW(MakeMosaicView(mosaic, 5, 4, BayerPattern::kRGGB, 7), std::invalid_argument);
}

TEST(Views16, AVectorsConstnessPicksTheViewAndConversionKeepsTheWhiteLevel) {
  std::vector<std::uint16_t> writable(3 * 4 * 2, 7);
  const std::vector<std::uint16_t> read_only(3 * 4 * 2, 9);
  const auto image = MakeImageView(writable, 4, 2, 0, ChannelOrder::kRGB, 4095);
  const auto const_image = MakeImageView(read_only, 4, 2);
  const auto mosaic = MakeMosaicView(writable, 4, 2, BayerPattern::kBGGR, 0, 1023);
  const auto const_mosaic = MakeMosaicView(read_only, 4, 2, BayerPattern::kGBRG);
  static_assert(std::is_same_v<decltype(image), const ImageView16>);
  static_assert(std::is_same_v<decltype(const_image), const ConstImageView16>);
  static_assert(std::is_same_v<decltype(mosaic), const MosaicView16>);
  static_assert(std::is_same_v<decltype(const_mosaic), const ConstMosaicView16>);
  const ConstImageView16 converted_image = image;
  const ConstMosaicView16 converted_mosaic = mosaic;
  EXPECT_EQ(converted_image.white_level, 4095);
  EXPECT_EQ(converted_image.order, ChannelOrder::kRGB);
  EXPECT_EQ(converted_mosaic.white_level, 1023);
  EXPECT_EQ(converted_mosaic.pattern, BayerPattern::kBGGR);
}

TEST(Views16, CropsKeepTheWhiteLevelAndCarryTheTile) {
  std::vector<std::uint16_t> samples(3 * 10 * 8, 0);
  const ImageView16 image = MakeImageView(samples, 10, 8, 0, ChannelOrder::kBGR, 4095);
  const ImageView16 image_crop = CropImage(image, 3, 2, 4, 5);
  EXPECT_EQ(image_crop.white_level, 4095);
  EXPECT_EQ(image_crop.data, samples.data() + 2 * 30 + 3 * 3);
  EXPECT_EQ(image_crop.stride, 30);
  const MosaicView16 mosaic = MakeMosaicView(samples, 10, 8, BayerPattern::kGRBG, 0, 16383);
  const ConstMosaicView16 mosaic_crop = CropMosaic(ConstMosaicView16(mosaic), 1, 1, 4, 4);
  EXPECT_EQ(mosaic_crop.white_level, 16383);
  EXPECT_EQ(mosaic_crop.pattern, PatternAtSite(BayerPattern::kGRBG, 1, 1));
  EXPECT_EQ(mosaic_crop.data, samples.data() + 11);
  EXPECT_THROW(CropImage(image, 7, 0, 4, 1), std::invalid_argument);
  EXPECT_THROW(CropMosaic(mosaic, 0, 5, 1, 4), std::invalid_argument);
}

// ------------------------------------------------ samples above white

// Nothing when every sample is within the white level (an empty view
// included); else the first above it in row order, then pixel order, then
// the channel's place in the pixel as stored (a mosaic's sample is channel
// 0); the padding between rows is not the image's.
TEST(FindSampleAboveWhite, ReportsTheFirstSampleAboveInStorageOrder) {
  const int stride = 3 * 6 + 2;
  std::vector<std::uint16_t> samples(static_cast<std::size_t>(stride) * 4, 1023);  // = white
  samples[0 * stride + 3 * 6] = 65535;  // padding of row 0
  EXPECT_FALSE(FindSampleAboveWhite(MakeImageView(samples, 6, 4, stride, ChannelOrder::kRGB, 1023))
                   .has_value());
  EXPECT_FALSE(FindSampleAboveWhite(MakeImageView(samples, 0, 0)).has_value()) << "empty view";
  samples[2 * stride + 3 * 4 + 2] = 1024;  // row 2, pixel 4, third channel
  samples[2 * stride + 3 * 5 + 0] = 2000;  // later in the same row
  samples[3 * stride + 0] = 3000;          // a later row
  const std::optional<SampleAboveWhite> found =
      FindSampleAboveWhite(MakeImageView(samples, 6, 4, stride, ChannelOrder::kRGB, 1023));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->row, 2);
  EXPECT_EQ(found->column, 4);
  EXPECT_EQ(found->channel, 2);
  EXPECT_EQ(found->value, 1024);

  std::vector<std::uint16_t> mosaic(7 * 5, 255);
  mosaic[3 * 7 + 6] = 256;
  const std::optional<SampleAboveWhite> site =
      FindSampleAboveWhite(MakeMosaicView(mosaic, 7, 5, BayerPattern::kBGGR, 0, 255));
  ASSERT_TRUE(site.has_value());
  EXPECT_EQ(site->row, 3);
  EXPECT_EQ(site->column, 6);
  EXPECT_EQ(site->channel, 0);
  EXPECT_EQ(site->value, 256);
}

}  // namespace
}  // namespace demosaic
