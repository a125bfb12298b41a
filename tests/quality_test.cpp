// PSNR and CPSNR over the interior, the running totals and the report line.
#include "quality/quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace demosaic {
namespace {

constexpr int kW = 16;
constexpr int kH = 12;

std::vector<std::uint8_t> RandomImage(std::mt19937& random, int low, int high) {
  std::vector<std::uint8_t> image(3 * kW * kH);
  for (auto& v : image) v = static_cast<std::uint8_t>(low + random() % (high - low + 1));
  return image;
}

bool InFrame(int r, int c) {
  return r < 3 || r >= kH - 3 || c < 3 || c >= kW - 3;
}

TEST(Quality, ErrorOfOneEverywhereGives48Point13) {
  std::mt19937 random(1);
  const auto reference = RandomImage(random, 1, 254);
  auto reconstruction = reference;
  for (std::size_t i = 0; i < reconstruction.size(); ++i) {
    reconstruction[i] = static_cast<std::uint8_t>(reference[i] + ((i % 2) ? 1 : -1));
  }
  const QualityTotals q = ComputeQuality(reference, reconstruction, kW, kH);
  const double expected = 10.0 * std::log10(65025.0);
  EXPECT_DOUBLE_EQ(q.psnr_r, expected);
  EXPECT_DOUBLE_EQ(q.psnr_g, expected);
  EXPECT_DOUBLE_EQ(q.psnr_b, expected);
  EXPECT_DOUBLE_EQ(q.cpsnr, expected);
  EXPECT_EQ(FormatReportLine("a.png", q),
            "a.png\tPSNR_R = 48.13\tPSNR_G = 48.13\tPSNR_B = 48.13\tCPSNR = 48.13\r\n");
}

TEST(Quality, TheFrameIsNeverRead) {
  std::mt19937 random(2);
  const auto reference = RandomImage(random, 0, 255);
  const auto reconstruction = RandomImage(random, 0, 255);
  const QualityTotals before = ComputeQuality(reference, reconstruction, kW, kH);
  auto changed_reference = reference;
  auto changed_reconstruction = reconstruction;
  for (int r = 0; r < kH; ++r) {
    for (int c = 0; c < kW; ++c) {
      if (!InFrame(r, c)) continue;
      for (int k = 0; k < 3; ++k) {
        changed_reference[3 * (r * kW + c) + k] ^= 0x5A;
        changed_reconstruction[3 * (r * kW + c) + k] = 0;
      }
    }
  }
  const QualityTotals after = ComputeQuality(changed_reference, changed_reconstruction, kW, kH);
  EXPECT_EQ(after.psnr_r, before.psnr_r);
  EXPECT_EQ(after.psnr_g, before.psnr_g);
  EXPECT_EQ(after.psnr_b, before.psnr_b);
  EXPECT_EQ(after.cpsnr, before.cpsnr);
}

// One interior red value off by 10: only PSNR_R and CPSNR are finite, with
// the mean squared error taken over (W - 6) x (H - 6) pixels.
TEST(Quality, ChannelsAreMeasuredSeparately) {
  std::mt19937 random(3);
  const auto reference = RandomImage(random, 20, 200);
  auto reconstruction = reference;
  reconstruction[3 * (5 * kW + 7) + 2] += 10;
  const QualityTotals q = ComputeQuality(reference, reconstruction, kW, kH);
  const double pixels = (kW - 6) * (kH - 6);
  EXPECT_DOUBLE_EQ(q.psnr_r, 10.0 * std::log10(65025.0 * pixels / 100.0));
  EXPECT_DOUBLE_EQ(q.cpsnr, 10.0 * std::log10(65025.0 * pixels * 3.0 / 100.0));
  EXPECT_EQ(q.psnr_g, std::numeric_limits<double>::infinity());
  EXPECT_EQ(q.psnr_b, std::numeric_limits<double>::infinity());
}

TEST(Quality, ExactReconstructionIsInfiniteAndPrintsInf) {
  std::mt19937 random(4);
  const auto reference = RandomImage(random, 0, 255);
  const QualityTotals q = ComputeQuality(reference, reference, kW, kH);
  EXPECT_EQ(q.cpsnr, std::numeric_limits<double>::infinity());
  EXPECT_EQ(FormatReportLine("x", q),
            "x\tPSNR_R = inf\tPSNR_G = inf\tPSNR_B = inf\tCPSNR = inf\r\n");
}

TEST(Quality, WiderBorderLeavesMoreOut) {
  std::mt19937 random(5);
  const auto reference = RandomImage(random, 0, 255);
  auto reconstruction = reference;
  reconstruction[3 * (3 * kW + 3) + 1] ^= 0xFF;  // inside a border of 3, outside one of 4
  EXPECT_LT(ComputeQuality(reference, reconstruction, kW, kH, 3).psnr_g,
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(ComputeQuality(reference, reconstruction, kW, kH, 4).psnr_g,
            std::numeric_limits<double>::infinity());
}

TEST(Quality, MeasureQualityAddsToTheTotals) {
  std::mt19937 random(6);
  const auto reference = RandomImage(random, 0, 255);
  const auto reconstruction = RandomImage(random, 0, 255);
  const QualityTotals one = ComputeQuality(reference, reconstruction, kW, kH);
  const QualityTotals start = Totals();
  MeasureQuality(reference, reconstruction, kW, kH);
  MeasureQuality(reference, reconstruction, kW, kH);
  EXPECT_DOUBLE_EQ(Totals().psnr_r - start.psnr_r, 2 * one.psnr_r);
  EXPECT_DOUBLE_EQ(Totals().psnr_g - start.psnr_g, 2 * one.psnr_g);
  EXPECT_DOUBLE_EQ(Totals().psnr_b - start.psnr_b, 2 * one.psnr_b);
  EXPECT_DOUBLE_EQ(Totals().cpsnr - start.cpsnr, 2 * one.cpsnr);
}

TEST(Quality, ReportLineKeepsTheNameAndRoundsToTwoDecimals) {
  QualityTotals q;
  q.psnr_r = 35.424999;
  q.psnr_g = 37.455;
  q.psnr_b = 9.5;
  q.cpsnr = 36.0;
  EXPECT_EQ(FormatReportLine("dir/my image.png", q),
            "dir/my image.png\tPSNR_R = 35.42\tPSNR_G = 37.45\tPSNR_B = 9.50\tCPSNR = 36.00\r\n");
}

}  // namespace
}  // namespace demosaic
