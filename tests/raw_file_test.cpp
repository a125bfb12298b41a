// Camera raw files through LibRaw: DNGs written here are unpacked to exactly
// what was written (samples of the active area, tile, blacks, white, as-shot
// balance, colour matrix), the half-size reference follows its plain rule,
// and cut, corrupt and non-Bayer files are refused with a reason.
#include "io/raw_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <string>

#include "support/dng_writer.h"

namespace demosaic {
namespace {

using testing::DngContents;
using testing::WriteDng;

constexpr BayerPattern kTiles[] = {BayerPattern::kRGGB, BayerPattern::kBGGR, BayerPattern::kGRBG,
                                   BayerPattern::kGBRG};

// A 46 x 38 sensor with masked margins around its active area, with a
// 2 x 2 black pattern of four different levels.
DngContents TestDng(BayerPattern pattern) {
  DngContents dng;
  dng.width = 46;
  dng.height = 38;
  dng.samples = testing::TestSensorSamples(dng.width, dng.height, 7);
  dng.pattern = pattern;
  dng.active_top = 2;
  dng.active_left = 4;
  dng.active_width = 41;  // odd: the half-size reference drops a column
  dng.active_height = 33;
  dng.black_rows = 2;
  dng.black_columns = 2;
  dng.black_levels = {60, 64, 68, 72};
  return dng;
}

Expected<RawMosaic> Unpack(const std::vector<unsigned char>& bytes, RunMemory memory = {}) {
  ImageSource source{bytes};
  return UnpackRawFile(source, memory);
}

std::uint16_t WrittenSample(const DngContents& dng, int row, int column) {
  return dng.samples[static_cast<std::size_t>((row + dng.active_top) * dng.width + column +
                                              dng.active_left)];
}

int WrittenBlack(const DngContents& dng, int row, int column) {
  return dng.black_levels[static_cast<std::size_t>((row % dng.black_rows) * dng.black_columns +
                                                   column % dng.black_columns)];
}

class RawTileTest : public ::testing::TestWithParam<BayerPattern> {};

TEST_P(RawTileTest, UnpacksWhatWasWritten) {
  const DngContents dng = TestDng(GetParam());
  const Expected<RawMosaic> raw = Unpack(WriteDng(dng));
  ASSERT_TRUE(raw.ok()) << raw.error().detail;
  const RawMosaic& mosaic = raw.value();
  EXPECT_EQ(mosaic.pattern, GetParam());
  ASSERT_EQ(mosaic.width, dng.active_width);
  ASSERT_EQ(mosaic.height, dng.active_height);
  EXPECT_EQ(mosaic.white_level, 4095);
  for (int row = 0; row < mosaic.height; ++row) {
    for (int column = 0; column < mosaic.width; ++column) {
      ASSERT_EQ(mosaic.samples[static_cast<std::size_t>(row * mosaic.width + column)],
                WrittenSample(dng, row, column))
          << "site " << row << ", " << column;
      ASSERT_EQ(BlackLevelAt(mosaic, row, column), WrittenBlack(dng, row, column))
          << "site " << row << ", " << column;
    }
  }
  EXPECT_EQ(SmallestBlackLevel(mosaic), 60);
  // AsShotNeutral 0.5, 1, 0.8: the multipliers are its reciprocals.
  EXPECT_NEAR(mosaic.as_shot_multipliers[0], 2.0, 1e-4);
  EXPECT_EQ(mosaic.as_shot_multipliers[1], 1.0);
  EXPECT_NEAR(mosaic.as_shot_multipliers[2], 1.25, 1e-4);
  // The colour matrix written makes the camera's values linear sRGB.
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) {
      EXPECT_NEAR(mosaic.camera_to_srgb[i][j], i == j ? 1.0 : 0.0, 2e-3) << i << ", " << j;
    }
  }
}

// The half-size reference computed from the written samples, site by site:
// each quad's sites by the colour the tile's name gives them.
cv::Mat PlainHalfSize(const DngContents& dng, const std::array<double, 3>& multipliers, int white) {
  const std::string_view tile = PatternName(dng.pattern);
  cv::Mat expected(dng.active_height / 2, dng.active_width / 2, CV_16UC3);
  for (int y = 0; y < expected.rows; ++y) {
    for (int x = 0; x < expected.cols; ++x) {
      int red = 0, blue = 0, green_sum = 0;
      for (int site = 0; site < 4; ++site) {
        const int row = 2 * y + site / 2;
        const int column = 2 * x + site % 2;
        int value = WrittenSample(dng, row, column) - WrittenBlack(dng, row, column);
        value = std::min(std::max(value, 0), white);
        const char colour = tile[static_cast<std::size_t>(site)];
        if (colour == 'R') red = value;
        if (colour == 'B') blue = value;
        if (colour == 'G') green_sum += value;
      }
      const int channels[3] = {red, (green_sum + 1) / 2, blue};
      cv::Vec3w& pixel = expected.at<cv::Vec3w>(y, x);
      for (int c = 0; c < 3; ++c) {
        const double balanced = std::round(channels[c] * multipliers[static_cast<std::size_t>(c)]);
        pixel[2 - c] = static_cast<std::uint16_t>(std::min(balanced, static_cast<double>(white)));
      }
    }
  }
  return expected;
}

TEST_P(RawTileTest, HalfSizeReferenceFollowsThePlainRule) {
  const DngContents dng = TestDng(GetParam());
  const Expected<RawMosaic> raw = Unpack(WriteDng(dng));
  ASSERT_TRUE(raw.ok()) << raw.error().detail;
  const int white = 4095 - 60;
  for (const RawWhiteBalance balance : {RawWhiteBalance::kNone, RawWhiteBalance::kCamera}) {
    const Expected<DeepImage> reference = HalfSizeReference(raw.value(), balance);
    ASSERT_TRUE(reference.ok());
    EXPECT_EQ(reference.value().white_level, white);
    const std::array<double, 3> multipliers = balance == RawWhiteBalance::kCamera
                                                  ? raw.value().as_shot_multipliers
                                                  : std::array<double, 3>{1, 1, 1};
    const cv::Mat expected = PlainHalfSize(dng, multipliers, white);
    ASSERT_EQ(reference.value().image.size(), expected.size());
    ASSERT_EQ(reference.value().image.type(), CV_16UC3);
    EXPECT_EQ(cv::norm(reference.value().image, expected, cv::NORM_INF), 0.0)
        << "white balance " << static_cast<int>(balance);
  }
}

// LibRaw moves an active area at odd offsets to the next even row and
// column (its bottom and right edges stay): the tile and samples must follow
// the visible area it reports.
TEST_P(RawTileTest, OddActiveAreaGivesTheTileAtTheVisibleOrigin) {
  DngContents dng = TestDng(GetParam());
  dng.active_top = 3;
  dng.active_left = 1;
  dng.black_rows = dng.black_columns = 1;
  dng.black_levels = {64};
  const Expected<RawMosaic> raw = Unpack(WriteDng(dng));
  ASSERT_TRUE(raw.ok()) << raw.error().detail;
  const RawMosaic& mosaic = raw.value();
  const int top = dng.active_top + dng.active_height - mosaic.height;
  const int left = dng.active_left + dng.active_width - mosaic.width;
  ASSERT_GE(top, dng.active_top);
  ASSERT_GE(left, dng.active_left);
  EXPECT_EQ(mosaic.pattern,
            PatternAtSite(GetParam(), top - dng.active_top, left - dng.active_left));
  for (int row = 0; row < mosaic.height; ++row) {
    for (int column = 0; column < mosaic.width; ++column) {
      ASSERT_EQ(mosaic.samples[static_cast<std::size_t>(row * mosaic.width + column)],
                dng.samples[static_cast<std::size_t>((row + top) * dng.width + column + left)]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllTiles, RawTileTest, ::testing::ValuesIn(kTiles),
                         [](const auto& info) { return std::string(PatternName(info.param)); });

TEST(RawFile, OneBlackLevelAppliesToEverySite) {
  DngContents dng = TestDng(BayerPattern::kGRBG);
  dng.black_rows = dng.black_columns = 1;
  dng.black_levels = {256};
  const Expected<RawMosaic> raw = Unpack(WriteDng(dng));
  ASSERT_TRUE(raw.ok()) << raw.error().detail;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column)
      EXPECT_EQ(BlackLevelAt(raw.value(), row, column), 256);
  }
}

TEST(RawFile, WhiteBalanceNeedsTheAsShotNeutral) {
  DngContents dng = TestDng(BayerPattern::kRGGB);
  dng.has_as_shot_neutral = false;
  const Expected<RawMosaic> raw = Unpack(WriteDng(dng));
  ASSERT_TRUE(raw.ok()) << raw.error().detail;
  EXPECT_TRUE(HalfSizeReference(raw.value(), RawWhiteBalance::kNone).ok());
  const Expected<DeepImage> balanced = HalfSizeReference(raw.value(), RawWhiteBalance::kCamera);
  ASSERT_FALSE(balanced.ok());
  EXPECT_EQ(balanced.error().detail, "has no as-shot white balance");
}

void ExpectRefused(const std::vector<unsigned char>& bytes, const std::string& what) {
  const Expected<RawMosaic> raw = Unpack(bytes);
  ASSERT_FALSE(raw.ok()) << what;
  EXPECT_EQ(raw.error().kind, ErrorKind::kUnreadable) << what;
  EXPECT_FALSE(raw.error().detail.empty()) << what;
}

TEST(RawFile, CutFilesAreRefused) {
  const std::vector<unsigned char> whole = WriteDng(TestDng(BayerPattern::kRGGB));
  const std::size_t strip = whole.size() - 46 * 38 * 2;
  for (const std::size_t length : {std::size_t{0}, std::size_t{4}, std::size_t{8}, std::size_t{40},
                                   strip - 20, strip, strip + 1000, whole.size() - 2}) {
    const std::vector<unsigned char> cut(whole.begin(),
                                         whole.begin() + static_cast<std::ptrdiff_t>(length));
    ExpectRefused(cut, "cut to " + std::to_string(length) + " bytes");
  }
}

// Overwrites the 4-byte value of the IFD entry for `tag`.
void SetEntryValue(std::vector<unsigned char>& dng, std::uint16_t tag, std::uint32_t value) {
  const std::size_t entries = dng[8] | dng[9] << 8;
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t at = 10 + 12 * i;
    if ((dng[at] | dng[at + 1] << 8) != tag) continue;
    for (int b = 0; b < 4; ++b)
      dng[at + 8 + static_cast<std::size_t>(b)] = static_cast<unsigned char>(value >> (8 * b));
    return;
  }
  FAIL() << "no tag " << tag;
}

TEST(RawFile, CorruptFilesAreRefused) {
  const std::vector<unsigned char> whole = WriteDng(TestDng(BayerPattern::kRGGB));
  std::vector<unsigned char> strip_beyond_end = whole;
  SetEntryValue(strip_beyond_end, 273, static_cast<std::uint32_t>(whole.size()));
  ExpectRefused(strip_beyond_end, "strip beyond the end");
  std::vector<unsigned char> taller = whole;
  SetEntryValue(taller, 257, 38 * 4);
  SetEntryValue(taller, 278, 38 * 4);
  ExpectRefused(taller, "more rows than the strip holds");
  ExpectRefused(std::vector<unsigned char>(2000, 0x5A), "noise");
  const std::string text = "P3\n2 2\n255\n0 0 0 0 0 0 0 0 0 0 0 0\n";
  ExpectRefused(std::vector<unsigned char>(text.begin(), text.end()), "an image but no raw");
}

// 64 bytes of forged TIFF directories that send LibRaw 0.20 past its
// buffers (found by the raw fuzzer): the crash ends the child that unpacks,
// and the caller gets a refusal.
TEST(RawFile, AFileThatCrashesLibRawIsRefusedAndTheCallerLivesOn) {
  const std::vector<unsigned char> forged = {
      0x49, 0x49, 0x2a, 0x00, 0x08, 0x00, 0x00, 0x00, 0x1b, 0x00, 0xfe, 0x03, 0x00,
      0x01, 0x4d, 0x4d, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x8e, 0x82, 0x01, 0x00,
      0x24, 0x00, 0x00, 0x00, 0x02, 0xe9, 0x05, 0xe9, 0x05, 0x01, 0x00, 0x00, 0x00,
      0x82, 0x4d, 0x4d, 0x4d, 0x4d, 0x00, 0x00, 0x02, 0x00, 0x00, 0x8e, 0x82, 0x01,
      0x00, 0x24, 0x00, 0x00, 0x00, 0x02, 0x01, 0x01, 0xe9, 0x05, 0xe9, 0x05};
  ExpectRefused(forged, "forged directories");
}

TEST(RawFile, HugeDeclaredSensorIsRefusedBeforeUnpacking) {
  DngContents dng = TestDng(BayerPattern::kRGGB);
  dng.active_top = dng.active_left = dng.active_width = dng.active_height = 0;
  std::vector<unsigned char> huge = WriteDng(dng);
  SetEntryValue(huge, 256, 30000);
  SetEntryValue(huge, 257, 20000);
  SetEntryValue(huge, 278, 20000);
  RunMemory memory;
  memory.ceiling = 64u << 20;
  const Expected<RawMosaic> raw = Unpack(huge, memory);
  ASSERT_FALSE(raw.ok());
  EXPECT_EQ(raw.error().kind, ErrorKind::kOutOfMemory) << raw.error().detail;
}

TEST(RawFile, MemoryPlanCountsTheRun) {
  const std::vector<unsigned char> bytes = WriteDng(TestDng(BayerPattern::kRGGB));
  RunMemory memory;
  memory.bytes_per_pixel = 1000;  // 41 x 33 sites: about 1.35 MB for the run alone
  memory.ceiling = 1 << 20;
  const Expected<RawMosaic> raw = Unpack(bytes, memory);
  ASSERT_FALSE(raw.ok());
  EXPECT_EQ(raw.error().kind, ErrorKind::kOutOfMemory);
  memory.ceiling = 4 << 20;
  EXPECT_TRUE(Unpack(bytes, memory).ok());
}

TEST(RawFile, LinearDngIsNotABayerMosaic) {
  DngContents dng = TestDng(BayerPattern::kRGGB);
  dng.linear = true;
  const Expected<RawMosaic> raw = Unpack(WriteDng(dng));
  ASSERT_FALSE(raw.ok());
  EXPECT_EQ(raw.error().kind, ErrorKind::kUnreadable);
  EXPECT_EQ(raw.error().detail.rfind("is not a Bayer mosaic", 0), 0u) << raw.error().detail;
}

TEST(RawFile, RawExtensionsInAnyCase) {
  EXPECT_TRUE(HasRawExtension("a/b/IMG_0001.CR2"));
  EXPECT_TRUE(HasRawExtension("shot.dng"));
  EXPECT_TRUE(HasRawExtension("x.Rw2"));
  EXPECT_FALSE(HasRawExtension("photo.png"));
  EXPECT_FALSE(HasRawExtension("dir.dng/photo"));
  EXPECT_FALSE(HasRawExtension("nef"));
}

}  // namespace
}  // namespace demosaic
