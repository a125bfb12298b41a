// Figures at depth: PSNR, SSIM, CIEDE2000 and the zipper share of 16-bit
// images against plain computations from their definitions with the white
// level W in place of 255; the same figures as the 8-bit functions at
// W = 255; the CIELAB conversion of values in 0..1; and the sRGB curve.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "demosaic/demosaic.h"

namespace demosaic {
namespace {

constexpr int kBorder = kFrameWidth;

// A packed B, G, R image of 16-bit samples with its white level.
struct Image16 {
  int width;
  int height;
  int white;
  std::vector<std::uint16_t> samples;

  ConstImageView16 View() const {
    return MakeImageView(samples, width, height, 0, ChannelOrder::kBGR, white);
  }
  // Channel k (0 blue, 1 green, 2 red) of pixel (r, c).
  int At(int r, int c, int k) const { return samples[3 * (r * width + c) + k]; }
};

Image16 RandomImage(int width, int height, int white, std::mt19937& random) {
  std::uniform_int_distribution<int> value(0, white);
  Image16 image{width, height, white, std::vector<std::uint16_t>(3 * width * height)};
  for (auto& v : image.samples) v = static_cast<std::uint16_t>(value(random));
  return image;
}

// `image` with every sample moved by up to W / 16 either way, clamped: a
// reconstruction with visible errors.
Image16 Perturbed(const Image16& image, std::mt19937& random) {
  const int amount = image.white / 16;
  std::uniform_int_distribution<int> step(-amount, amount);
  Image16 out = image;
  for (auto& v : out.samples) {
    const int moved = v + step(random);
    v = static_cast<std::uint16_t>(moved < 0 ? 0 : (moved > image.white ? image.white : moved));
  }
  return out;
}

// ----------------------------------------------- plain definitions

// PSNR of channel k: 10 log10(W^2 / MSE) over the interior.
double PlainPsnr(const Image16& x, const Image16& y, int k) {
  double sum = 0.0;
  for (int r = kBorder; r < x.height - kBorder; ++r) {
    for (int c = kBorder; c < x.width - kBorder; ++c) {
      const double d = x.At(r, c, k) - y.At(r, c, k);
      sum += d * d;
    }
  }
  const double mse = sum / (x.width - 2 * kBorder) / (x.height - 2 * kBorder);
  return 10.0 * std::log10(static_cast<double>(x.white) * x.white / mse);
}

// SSIM with 11 x 11 Gaussian windows (sigma 1.5) inside the interior, C1 =
// (0.01 W)^2, C2 = (0.03 W)^2, mean over the map and then the channels.
double PlainSsim(const Image16& x, const Image16& y) {
  std::array<double, 11> w{};
  double total = 0.0;
  for (int k = -5; k <= 5; ++k) total += std::exp(-(k * k) / 4.5);
  for (int k = -5; k <= 5; ++k) w[k + 5] = std::exp(-(k * k) / 4.5) / total;
  const double c1 = (0.01 * x.white) * (0.01 * x.white);
  const double c2 = (0.03 * x.white) * (0.03 * x.white);
  double channels = 0.0;
  for (int k = 0; k < 3; ++k) {
    double map_sum = 0.0;
    int map_pixels = 0;
    for (int r = kBorder + 5; r < x.height - kBorder - 5; ++r) {
      for (int c = kBorder + 5; c < x.width - kBorder - 5; ++c) {
        double mx = 0, my = 0, xx = 0, yy = 0, xy = 0;
        for (int i = -5; i <= 5; ++i) {
          for (int j = -5; j <= 5; ++j) {
            const double weight = w[i + 5] * w[j + 5];
            const double a = x.At(r + i, c + j, k);
            const double b = y.At(r + i, c + j, k);
            mx += weight * a;
            my += weight * b;
            xx += weight * a * a;
            yy += weight * b * b;
            xy += weight * a * b;
          }
        }
        const double vx = xx - mx * mx;
        const double vy = yy - my * my;
        const double vxy = xy - mx * my;
        map_sum +=
            ((2 * mx * my + c1) * (2 * vxy + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
        ++map_pixels;
      }
    }
    channels += map_sum / map_pixels;
  }
  return channels / 3.0;
}

Lab LabAt(const Image16& image, int r, int c) {
  const double white = image.white;
  return UnitSrgbToLab(image.At(r, c, 2) / white, image.At(r, c, 1) / white,
                       image.At(r, c, 0) / white);
}

double PlainDe2000(const Image16& x, const Image16& y) {
  double sum = 0.0;
  for (int r = kBorder; r < x.height - kBorder; ++r) {
    for (int c = kBorder; c < x.width - kBorder; ++c) {
      sum += Ciede2000(LabAt(x, r, c), LabAt(y, r, c));
    }
  }
  return sum / ((x.width - 2 * kBorder) * (x.height - 2 * kBorder));
}

double Cie76(Lab p, Lab q) {
  return std::sqrt((p.L - q.L) * (p.L - q.L) + (p.a - q.a) * (p.a - q.a) +
                   (p.b - q.b) * (p.b - q.b));
}

double PlainZipper(const Image16& x, const Image16& y) {
  // Up-left, up, up-right, left, right, down-left, down, down-right.
  constexpr int kRows[] = {-1, -1, -1, 0, 0, 1, 1, 1};
  constexpr int kColumns[] = {-1, 0, 1, -1, 1, -1, 0, 1};
  int count = 0;
  int pixels = 0;
  for (int r = kBorder + 1; r < x.height - kBorder - 1; ++r) {
    for (int c = kBorder + 1; c < x.width - kBorder - 1; ++c) {
      int nearest = 0;
      double nearest_distance = 0.0;
      for (int k = 0; k < 8; ++k) {
        const double d = Cie76(LabAt(x, r, c), LabAt(x, r + kRows[k], c + kColumns[k]));
        if (k == 0 || d < nearest_distance) nearest = k, nearest_distance = d;
      }
      const double grown =
          Cie76(LabAt(y, r, c), LabAt(y, r + kRows[nearest], c + kColumns[nearest]));
      count += grown - nearest_distance > 2.3;
      ++pixels;
    }
  }
  return static_cast<double>(count) / pixels;
}

// ------------------------------------------------------- the figures

class FiguresAtDepth : public ::testing::TestWithParam<int> {};

TEST_P(FiguresAtDepth, PsnrUsesTheWhiteLevelAsPeak) {
  std::mt19937 random(static_cast<std::uint32_t>(GetParam()));
  const Image16 x = RandomImage(23, 19, GetParam(), random);
  const Image16 y = Perturbed(x, random);
  const QualityFigures figures = ComputeQuality(x.View(), y.View());
  EXPECT_DOUBLE_EQ(figures.psnr_r, PlainPsnr(x, y, 2));
  EXPECT_DOUBLE_EQ(figures.psnr_g, PlainPsnr(x, y, 1));
  EXPECT_DOUBLE_EQ(figures.psnr_b, PlainPsnr(x, y, 0));
  // The perturbation is uniform over +-W/16 whatever W: about 28.9 dB.
  EXPECT_NEAR(figures.cpsnr, 28.9, 0.5);
}

TEST_P(FiguresAtDepth, SsimUsesTheWhiteLevelAsDataRange) {
  std::mt19937 random(static_cast<std::uint32_t>(GetParam()) + 1);
  const Image16 x = RandomImage(26, 24, GetParam(), random);
  const Image16 y = Perturbed(x, random);
  const double expected = PlainSsim(x, y);
  EXPECT_LT(expected, 0.999);
  EXPECT_NEAR(ComputeSsim(x.View(), y.View()), expected, 1e-10);
}

TEST_P(FiguresAtDepth, De2000AndZipperReadSamplesAsFractionsOfTheWhiteLevel) {
  std::mt19937 random(static_cast<std::uint32_t>(GetParam()) + 2);
  const Image16 x = RandomImage(21, 17, GetParam(), random);
  const Image16 y = Perturbed(x, random);
  const double de2000 = PlainDe2000(x, y);
  EXPECT_GT(de2000, 1.0);
  EXPECT_NEAR(ComputeDe2000(x.View(), y.View()), de2000, 1e-12 * de2000);
  const double zipper = PlainZipper(x, y);
  EXPECT_GT(zipper, 0.0);
  EXPECT_LT(zipper, 1.0);
  EXPECT_EQ(ComputeZipper(x.View(), y.View()), zipper);
}

INSTANTIATE_TEST_SUITE_P(WhiteLevels, FiguresAtDepth, ::testing::Values(1023, 4095, 65535));

// A 16-bit view of white level 255 holding an 8-bit view's values gives the
// 8-bit figures bit for bit, for every figure.
TEST(FiguresAtWhite255, EqualTheEightBitFigures) {
  std::mt19937 random(29);
  const int w = 31;
  const int h = 27;
  std::vector<std::uint8_t> x8(3 * w * h);
  std::vector<std::uint8_t> y8(3 * w * h);
  for (std::size_t i = 0; i < x8.size(); ++i) {
    x8[i] = static_cast<std::uint8_t>(random() % 256);
    const int moved = x8[i] + static_cast<int>(random() % 41) - 20;
    y8[i] = static_cast<std::uint8_t>(moved < 0 ? 0 : (moved > 255 ? 255 : moved));
  }
  const std::vector<std::uint16_t> x16(x8.begin(), x8.end());
  const std::vector<std::uint16_t> y16(y8.begin(), y8.end());
  const ConstImageView a8 = MakeImageView(x8, w, h, 0, ChannelOrder::kRGB);
  const ConstImageView b8 = MakeImageView(y8, w, h, 0, ChannelOrder::kRGB);
  const ConstImageView16 a16 = MakeImageView(x16, w, h, 0, ChannelOrder::kRGB, 255);
  const ConstImageView16 b16 = MakeImageView(y16, w, h, 0, ChannelOrder::kRGB, 255);
  const QualityFigures q8 = ComputeQuality(a8, b8);
  const QualityFigures q16 = ComputeQuality(a16, b16);
  EXPECT_EQ(q16.psnr_r, q8.psnr_r);
  EXPECT_EQ(q16.psnr_g, q8.psnr_g);
  EXPECT_EQ(q16.psnr_b, q8.psnr_b);
  EXPECT_EQ(q16.cpsnr, q8.cpsnr);
  EXPECT_EQ(ComputeSsim(a16, b16), ComputeSsim(a8, b8));
  EXPECT_EQ(ComputeDe2000(a16, b16), ComputeDe2000(a8, b8));
  EXPECT_EQ(ComputeZipper(a16, b16), ComputeZipper(a8, b8));
  EXPECT_GT(ComputeZipper(a8, b8), 0.0) << "the pair shows no zipper pixels to compare";
}

// ------------------------------------------------------------ CIELAB

// Values on the 8-bit levels give SrgbToLab's colours bit for bit; grey 0.5,
// between two levels, has Y = ((0.555 / 1.055)^2.4) (the three weights of Y
// sum to 1), L = 116 Y^(1/3) - 16, and a, b near 0.
TEST(UnitSrgbToLab, EqualsTheEightBitConversionAndFollowsTheFormulaBetweenLevels) {
  for (int v = 0; v < 256; ++v) {
    const int g = (v * 7 + 3) % 256;
    const int b = (v * 13 + 100) % 256;
    const Lab eight = SrgbToLab(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(g),
                                static_cast<std::uint8_t>(b));
    const Lab unit = UnitSrgbToLab(v / 255.0, g / 255.0, b / 255.0);
    EXPECT_EQ(unit.L, eight.L) << v;
    EXPECT_EQ(unit.a, eight.a) << v;
    EXPECT_EQ(unit.b, eight.b) << v;
  }
  const Lab grey = UnitSrgbToLab(0.5, 0.5, 0.5);
  EXPECT_NEAR(grey.L, 116.0 * std::cbrt(std::pow(0.555 / 1.055, 2.4)) - 16.0, 1e-9);
  EXPECT_NEAR(grey.a, 0.0, 1e-2);
  EXPECT_NEAR(grey.b, 0.0, 1e-2);
}

// ------------------------------------------------------ the sRGB curve

int EncodedByFormula(int v, int white) {
  const double c = static_cast<double>(v) / white;
  const double e = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
  return static_cast<int>(std::lround(white * e));
}

// Every sample as the formula says, at 8 bits and at three white levels
// (0, the top of the linear segment, just above it, a midpoint, W); the
// padding of a row is left as it was.
TEST(ApplySrgbCurve, MapsSamplesAsTheFormulaAtEveryDepthAndKeepsPadding) {
  for (const int white : {255, 4095, 65535}) {
    const int linear_top = static_cast<int>(0.0031308 * white);
    const std::vector<int> values = {0, linear_top, linear_top + 1, white / 2, white};
    const int pixels = static_cast<int>(values.size());
    const int stride = 3 * pixels + 2;
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(stride), 0xEEEE);
    std::vector<std::uint8_t> eight(static_cast<std::size_t>(stride), 0xEE);
    for (int i = 0; i < pixels; ++i) {
      for (int k = 0; k < 3; ++k) {
        samples[3 * i + k] = static_cast<std::uint16_t>(values[i]);
        if (white == 255) eight[3 * i + k] = static_cast<std::uint8_t>(values[i]);
      }
    }
    ApplySrgbCurve(MakeImageView(samples, pixels, 1, stride, ChannelOrder::kBGR, white));
    if (white == 255) ApplySrgbCurve(MakeImageView(eight, pixels, 1, stride));
    for (int i = 0; i < pixels; ++i) {
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(samples[3 * i + k], EncodedByFormula(values[i], white))
            << values[i] << " of " << white;
        if (white == 255) {
          EXPECT_EQ(eight[3 * i + k], EncodedByFormula(values[i], 255));
        }
      }
    }
    EXPECT_EQ(samples[3 * pixels], 0xEEEE) << "padding written";
    EXPECT_EQ(eight[3 * pixels], 0xEE) << "padding written";
  }
}

}  // namespace
}  // namespace demosaic
