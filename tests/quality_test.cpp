// PSNR and CPSNR over the interior: the arithmetic, the frame never read,
// channel order and row strides, and the argument checks.
#include "demosaic/quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
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

ConstImageView View(const std::vector<std::uint8_t>& image) {
  return MakeImageView(std::span<const std::uint8_t>(image), kW, kH);
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
  const QualityFigures q = ComputeQuality(View(reference), View(reconstruction));
  const double expected = 10.0 * std::log10(65025.0);
  EXPECT_DOUBLE_EQ(q.psnr_r, expected);
  EXPECT_DOUBLE_EQ(q.psnr_g, expected);
  EXPECT_DOUBLE_EQ(q.psnr_b, expected);
  EXPECT_DOUBLE_EQ(q.cpsnr, expected);
}

TEST(Quality, TheFrameIsNeverRead) {
  std::mt19937 random(2);
  const auto reference = RandomImage(random, 0, 255);
  const auto reconstruction = RandomImage(random, 0, 255);
  const QualityFigures before = ComputeQuality(View(reference), View(reconstruction));
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
  const QualityFigures after =
      ComputeQuality(View(changed_reference), View(changed_reconstruction));
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
  const QualityFigures q = ComputeQuality(View(reference), View(reconstruction));
  const double pixels = (kW - 6) * (kH - 6);
  EXPECT_DOUBLE_EQ(q.psnr_r, 10.0 * std::log10(65025.0 * pixels / 100.0));
  EXPECT_DOUBLE_EQ(q.cpsnr, 10.0 * std::log10(65025.0 * pixels * 3.0 / 100.0));
  EXPECT_EQ(q.psnr_g, std::numeric_limits<double>::infinity());
  EXPECT_EQ(q.psnr_b, std::numeric_limits<double>::infinity());
}

TEST(Quality, ExactReconstructionIsInfinite) {
  std::mt19937 random(4);
  const auto reference = RandomImage(random, 0, 255);
  const QualityFigures q = ComputeQuality(View(reference), View(reference));
  EXPECT_EQ(q.cpsnr, std::numeric_limits<double>::infinity());
  EXPECT_EQ(q.psnr_r, std::numeric_limits<double>::infinity());
}

TEST(Quality, WiderBorderLeavesMoreOut) {
  std::mt19937 random(5);
  const auto reference = RandomImage(random, 0, 255);
  auto reconstruction = reference;
  reconstruction[3 * (3 * kW + 3) + 1] ^= 0xFF;  // inside a border of 3, outside one of 4
  EXPECT_LT(ComputeQuality(View(reference), View(reconstruction), 3).psnr_g,
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(ComputeQuality(View(reference), View(reconstruction), 4).psnr_g,
            std::numeric_limits<double>::infinity());
}

// Two evaluations in one process give the figures of each, never a sum.
TEST(Quality, RepeatedCallsGiveTheSameFigures) {
  std::mt19937 random(6);
  const auto reference = RandomImage(random, 0, 255);
  const auto reconstruction = RandomImage(random, 0, 255);
  const QualityFigures first = ComputeQuality(View(reference), View(reconstruction));
  const QualityFigures second = ComputeQuality(View(reference), View(reconstruction));
  EXPECT_EQ(first.psnr_r, second.psnr_r);
  EXPECT_EQ(first.cpsnr, second.cpsnr);
}

// The same pixels as R, G, B with padded rows: the same figures, each channel
// still measured as itself.
TEST(Quality, RgbOrderAndRowPaddingDoNotChangeTheFigures) {
  std::mt19937 random(8);
  const auto reference = RandomImage(random, 0, 255);
  auto reconstruction = reference;
  reconstruction[3 * (5 * kW + 7) + 2] += 10;  // red off by 10 at one pixel
  const QualityFigures packed = ComputeQuality(View(reference), View(reconstruction));
  const int stride = 3 * kW + 5;
  auto padded_rgb = [&](const std::vector<std::uint8_t>& bgr) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(stride) * kH, 0x77);
    for (int r = 0; r < kH; ++r) {
      for (int c = 0; c < kW; ++c) {
        for (int k = 0; k < 3; ++k) out[r * stride + 3 * c + k] = bgr[3 * (r * kW + c) + 2 - k];
      }
    }
    return out;
  };
  const auto ref_rgb = padded_rgb(reference);
  const auto rec_rgb = padded_rgb(reconstruction);
  const QualityFigures strided = ComputeQuality(
      MakeImageView(std::span<const std::uint8_t>(ref_rgb), kW, kH, stride, ChannelOrder::kRGB),
      MakeImageView(std::span<const std::uint8_t>(rec_rgb), kW, kH, stride, ChannelOrder::kRGB));
  EXPECT_EQ(strided.psnr_r, packed.psnr_r);
  EXPECT_EQ(strided.psnr_g, packed.psnr_g);
  EXPECT_EQ(strided.psnr_b, packed.psnr_b);
  EXPECT_EQ(strided.cpsnr, packed.cpsnr);
  EXPECT_LT(strided.psnr_r, std::numeric_limits<double>::infinity());
  EXPECT_EQ(strided.psnr_b, std::numeric_limits<double>::infinity());
}

TEST(Quality, RefusesMismatchedImagesAndBordersThatLeaveNothing) {
  std::mt19937 random(9);
  const auto reference = RandomImage(random, 0, 255);
  const ConstImageView smaller =
      MakeImageView(std::span<const std::uint8_t>(reference), kW - 1, kH);
  EXPECT_THROW(ComputeQuality(View(reference), smaller), std::invalid_argument);
  EXPECT_THROW(ComputeQuality(View(reference), View(reference), -1), std::invalid_argument);
  EXPECT_THROW(ComputeQuality(View(reference), View(reference), kH / 2), std::invalid_argument);
  EXPECT_NO_THROW(ComputeQuality(View(reference), View(reference), kH / 2 - 1));
}

}  // namespace
}  // namespace demosaic
