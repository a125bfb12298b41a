// SSIM, CIEDE2000 and the zipper share: the CIELAB conversion and CIEDE2000
// against published values, each metric on images whose figure can be worked
// out by hand, the properties every figure must have (equal images, swapped
// arguments, frame, channel order, row stride), the argument checks, and the
// independent figures of the conformance corpus.
//
// The independent figures are read from DEMOSAIC_METRICS_DIR (expected.tsv)
// and the images from DEMOSAIC_CONFORMANCE_DIR; each
// comes from the environment variable of that name, else from the build's
// configuration. A missing folder is reported as a skip, never as a pass.
#include "demosaic/metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "demosaic/image.h"
#include "support/shared_data.h"

namespace demosaic {
namespace {

constexpr double kC1 = (0.01 * 255.0) * (0.01 * 255.0);
constexpr double kC2 = (0.03 * 255.0) * (0.03 * 255.0);

// A packed B, G, R image of its own.
struct Image {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> bytes;

  Image(std::int32_t w, std::int32_t h, std::uint8_t value = 0)
      : width(w), height(h), bytes(PackedImageBytes(w, h), value) {}
  std::uint8_t* At(std::int32_t r, std::int32_t c) {
    return bytes.data() + 3 * (static_cast<std::size_t>(r) * width + c);
  }
  ConstImageView View() const { return MakeImageView(bytes, width, height); }
};

Image RandomImage(std::int32_t w, std::int32_t h, std::mt19937& random) {
  Image image(w, h);
  for (auto& v : image.bytes) v = static_cast<std::uint8_t>(random() & 0xFF);
  return image;
}

// `image` with each byte moved by up to `amount` either way, clamped.
Image Perturbed(const Image& image, int amount, std::mt19937& random) {
  Image out = image;
  std::uniform_int_distribution<int> step(-amount, amount);
  for (auto& v : out.bytes) v = static_cast<std::uint8_t>(std::clamp(v + step(random), 0, 255));
  return out;
}

void SetPixel(Image& image, std::int32_t r, std::int32_t c, std::uint8_t red, std::uint8_t green,
              std::uint8_t blue) {
  std::uint8_t* pixel = image.At(r, c);
  pixel[0] = blue;
  pixel[1] = green;
  pixel[2] = red;
}

struct Figures {
  double ssim;
  double de2000;
  double zipper;
};

Figures AllFigures(ConstImageView reference, ConstImageView reconstruction, std::int32_t border,
                   int threads = 1) {
  return {ComputeSsim(reference, reconstruction, border, threads),
          ComputeDe2000(reference, reconstruction, border, threads),
          ComputeZipper(reference, reconstruction, border, threads)};
}

void ExpectSameFigures(const Figures& got, const Figures& want) {
  EXPECT_EQ(got.ssim, want.ssim);
  EXPECT_EQ(got.de2000, want.de2000);
  EXPECT_EQ(got.zipper, want.zipper);
}

std::string FourDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// ---------------------------------------------------------------- CIELAB

// Published CIELAB (D65) coordinates of the sRGB primaries and mid grey.
TEST(SrgbToLab, PrimariesAndGreyMatchPublishedValues) {
  struct Case {
    std::uint8_t r, g, b;
    double L, a, bb;
  };
  const Case cases[] = {{255, 0, 0, 53.2408, 80.0925, 67.2032},
                        {0, 255, 0, 87.7347, -86.1827, 83.1793},
                        {0, 0, 255, 32.2970, 79.1875, -107.8602},
                        {128, 128, 128, 53.5850, 0.0, 0.0},
                        {255, 255, 255, 100.0, 0.0, 0.0}};
  for (const Case& c : cases) {
    const Lab lab = SrgbToLab(c.r, c.g, c.b);
    EXPECT_NEAR(lab.L, c.L, 0.01) << int{c.r} << "," << int{c.g} << "," << int{c.b};
    EXPECT_NEAR(lab.a, c.a, 0.01) << int{c.r} << "," << int{c.g} << "," << int{c.b};
    EXPECT_NEAR(lab.b, c.bb, 0.01) << int{c.r} << "," << int{c.g} << "," << int{c.b};
  }
}

// The darkest values lie on both straight segments: linear = v / 255 / 12.92,
// then L = 116 (7.787 t + 16 / 116) - 16 = 116 * 7.787 * t.
TEST(SrgbToLab, DarkGreysUseTheLinearSegments) {
  EXPECT_NEAR(SrgbToLab(0, 0, 0).L, 0.0, 1e-12);
  for (int v : {1, 5, 10}) {
    const double t = v / 255.0 / 12.92;
    EXPECT_NEAR(SrgbToLab(v, v, v).L, 116.0 * 7.787 * t, 1e-12) << v;
  }
}

// The conversion carried out in long double: double precision throughout
// must agree with it to within a few units in the last place.
TEST(SrgbToLab, AgreesWithLongDoubleArithmetic) {
  auto linear = [](int v) {
    const long double c = v / 255.0L;
    return c > 0.04045L ? std::pow((c + 0.055L) / 1.055L, 2.4L) : c / 12.92L;
  };
  auto curve = [](long double t) {
    return t > 0.008856L ? std::cbrt(t) : 7.787L * t + 16.0L / 116.0L;
  };
  std::mt19937 random(5);
  for (int i = 0; i < 20000; ++i) {
    // Every grey first, then random colours.
    const int r = i < 256 ? i : static_cast<int>(random() & 0xFF);
    const int g = i < 256 ? i : static_cast<int>(random() & 0xFF);
    const int b = i < 256 ? i : static_cast<int>(random() & 0xFF);
    const long double lr = linear(r), lg = linear(g), lb = linear(b);
    const long double fx = curve((0.412453L * lr + 0.357580L * lg + 0.180423L * lb) / 0.95047L);
    const long double fy = curve(0.212671L * lr + 0.715160L * lg + 0.072169L * lb);
    const long double fz = curve((0.019334L * lr + 0.119193L * lg + 0.950227L * lb) / 1.08883L);
    const Lab lab = SrgbToLab(r, g, b);
    EXPECT_NEAR(lab.L, static_cast<double>(116.0L * fy - 16.0L), 1e-12)
        << r << "," << g << "," << b;
    EXPECT_NEAR(lab.a, static_cast<double>(500.0L * (fx - fy)), 1e-12) << r << "," << g << "," << b;
    EXPECT_NEAR(lab.b, static_cast<double>(200.0L * (fy - fz)), 1e-12) << r << "," << g << "," << b;
  }
}

// ------------------------------------------------------------ CIEDE2000

// The 34 test pairs of Sharma, Wu and Dalal (2005), difference to 4 decimals.
struct De2000Pair {
  Lab first;
  Lab second;
  const char* difference;
};

constexpr De2000Pair kSharmaPairs[] = {
    {{50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}, "2.0425"},
    {{50.0, 3.1571, -77.2803}, {50.0, 0.0, -82.7485}, "2.8615"},
    {{50.0, 2.8361, -74.0200}, {50.0, 0.0, -82.7485}, "3.4412"},
    {{50.0, -1.3802, -84.2814}, {50.0, 0.0, -82.7485}, "1.0000"},
    {{50.0, -1.1848, -84.8006}, {50.0, 0.0, -82.7485}, "1.0000"},
    {{50.0, -0.9009, -85.5211}, {50.0, 0.0, -82.7485}, "1.0000"},
    {{50.0, 0.0, 0.0}, {50.0, -1.0, 2.0}, "2.3669"},
    {{50.0, -1.0, 2.0}, {50.0, 0.0, 0.0}, "2.3669"},
    {{50.0, 2.4900, -0.0010}, {50.0, -2.4900, 0.0009}, "7.1792"},
    {{50.0, 2.4900, -0.0010}, {50.0, -2.4900, 0.0010}, "7.1792"},
    {{50.0, 2.4900, -0.0010}, {50.0, -2.4900, 0.0011}, "7.2195"},
    {{50.0, 2.4900, -0.0010}, {50.0, -2.4900, 0.0012}, "7.2195"},
    {{50.0, -0.0010, 2.4900}, {50.0, 0.0009, -2.4900}, "4.8045"},
    {{50.0, -0.0010, 2.4900}, {50.0, 0.0010, -2.4900}, "4.8045"},
    {{50.0, -0.0010, 2.4900}, {50.0, 0.0011, -2.4900}, "4.7461"},
    {{50.0, 2.5000, 0.0}, {50.0, 0.0, -2.5000}, "4.3065"},
    {{50.0, 2.5000, 0.0}, {73.0, 25.0, -18.0}, "27.1492"},
    {{50.0, 2.5000, 0.0}, {61.0, -5.0, 29.0}, "22.8977"},
    {{50.0, 2.5000, 0.0}, {56.0, -27.0, -3.0}, "31.9030"},
    {{50.0, 2.5000, 0.0}, {58.0, 24.0, 15.0}, "19.4535"},
    {{50.0, 2.5000, 0.0}, {50.0, 3.1736, 0.5854}, "1.0000"},
    {{50.0, 2.5000, 0.0}, {50.0, 3.2972, 0.0}, "1.0000"},
    {{50.0, 2.5000, 0.0}, {50.0, 1.8634, 0.5757}, "1.0000"},
    {{50.0, 2.5000, 0.0}, {50.0, 3.2592, 0.3350}, "1.0000"},
    {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, "1.2644"},
    {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, "1.2630"},
    {{61.2901, 3.7196, -5.3901}, {61.4292, 2.2480, -4.9620}, "1.8731"},
    {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, "1.8645"},
    {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, "2.0373"},
    {{36.4612, 47.8580, 18.3852}, {36.2715, 50.5065, 21.2231}, "1.4146"},
    {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, "1.4441"},
    {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, "1.5381"},
    {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, "0.6377"},
    {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, "0.9082"},
};

TEST(Ciede2000, PublishedPairsToFourDecimalsInEitherOrder) {
  for (std::size_t i = 0; i < std::size(kSharmaPairs); ++i) {
    const De2000Pair& pair = kSharmaPairs[i];
    EXPECT_EQ(FourDecimals(Ciede2000(pair.first, pair.second)), pair.difference)
        << "pair " << i + 1;
    EXPECT_EQ(FourDecimals(Ciede2000(pair.second, pair.first)), pair.difference)
        << "pair " << i + 1 << " swapped";
  }
}

// Two greys have no chroma and so no hue: only the weighted lightness
// difference remains, dL / S_L with S_L = 1 + 0.015 (L - 50)^2 / sqrt(20 + (L - 50)^2).
TEST(Ciede2000, GreysDifferInWeightedLightnessOnly) {
  EXPECT_NEAR(Ciede2000({50.0, 0.0, 0.0}, {60.0, 0.0, 0.0}),
              10.0 / (1.0 + 0.015 * 25.0 / std::sqrt(45.0)), 1e-12);
  EXPECT_NEAR(Ciede2000({20.0, 0.0, 0.0}, {30.0, 0.0, 0.0}),
              10.0 / (1.0 + 0.015 * 625.0 / std::sqrt(645.0)), 1e-12);
}

TEST(Ciede2000, EqualColoursDifferByExactlyZero) {
  for (const De2000Pair& pair : kSharmaPairs) {
    EXPECT_EQ(Ciede2000(pair.first, pair.first), 0.0);
    EXPECT_EQ(Ciede2000(pair.second, pair.second), 0.0);
  }
}

// --------------------------------------------------------------- SSIM

// Constant images have no variance: each channel's SSIM is the luminance
// term (2 a b + C1) / (a^2 + b^2 + C1) alone, and the figure their mean.
TEST(Ssim, ConstantImagesGiveTheLuminanceTerm) {
  Image reference(20, 17);
  Image reconstruction(20, 17);
  for (std::int32_t r = 0; r < 17; ++r) {
    for (std::int32_t c = 0; c < 20; ++c) {
      SetPixel(reference, r, c, 200, 100, 30);
      SetPixel(reconstruction, r, c, 180, 100, 60);
    }
  }
  auto term = [](double a, double b) { return (2 * a * b + kC1) / (a * a + b * b + kC1); };
  const double expected = (term(200, 180) + 1.0 + term(30, 60)) / 3.0;
  EXPECT_NEAR(ComputeSsim(reference.View(), reconstruction.View(), 2), expected, 1e-12);
}

// The weight of a pixel in a window whose centre is offset_rows and
// offset_columns away: w(offset_rows) w(offset_columns).
double Weight(int offset_rows, int offset_columns) {
  double sum = 0.0;
  for (int k = -5; k <= 5; ++k) sum += std::exp(-k * k / 4.5);
  return std::exp(-offset_rows * offset_rows / 4.5) / sum *
         std::exp(-offset_columns * offset_columns / 4.5) / sum;
}

// A flat field a whose reconstruction has one green sample a + d. A window
// giving that sample weight w sees mx = a, my = a + w d, vx = 0,
// vy = w (1 - w) d^2 (population form) and vxy = 0; every other window sees
// equal images and scores 1.
double OneSampleSsim(double a, double d, const std::vector<double>& weights, double map_pixels) {
  double green_sum = map_pixels - static_cast<double>(weights.size());
  for (double w : weights) {
    const double my = a + w * d;
    green_sum +=
        ((2 * a * my + kC1) * kC2) / ((a * a + my * my + kC1) * (w * (1 - w) * d * d + kC2));
  }
  return (1.0 + green_sum / map_pixels + 1.0) / 3.0;
}

TEST(Ssim, OneChangedSampleInsideTheMapMatchesTheGaussianWindow) {
  const std::int32_t border = 3;
  Image reference(40, 31, 120);
  Image reconstruction = reference;
  // Interior pixel (12, 15): all 121 windows around it lie inside the map.
  reconstruction.At(border + 12, border + 15)[1] = 120 + 50;
  std::vector<double> weights;
  for (int u = -5; u <= 5; ++u) {
    for (int v = -5; v <= 5; ++v) weights.push_back(Weight(u, v));
  }
  const double map_pixels = (40.0 - 6 - 10) * (31.0 - 6 - 10);
  EXPECT_NEAR(ComputeSsim(reference.View(), reconstruction.View(), border),
              OneSampleSsim(120.0, 50.0, weights, map_pixels), 1e-12);
}

// The interior's corner pixel lies in one window only, the map's first,
// where it has the smallest weight: windows reaching outside the interior
// are not part of the map.
TEST(Ssim, TheInteriorCornerLiesInOneWindowOnly) {
  const std::int32_t border = 2;
  Image reference(30, 25, 90);
  Image reconstruction = reference;
  reconstruction.At(border, border)[1] = 90 + 100;
  const double map_pixels = (30.0 - 4 - 10) * (25.0 - 4 - 10);
  const double expected = OneSampleSsim(90.0, 100.0, {Weight(5, 5)}, map_pixels);
  EXPECT_NEAR(ComputeSsim(reference.View(), reconstruction.View(), border), expected, 1e-12);
  // And the opposite corner, in the map's last window only: windows the
  // same in both images are passed over, and this one is not.
  reconstruction = reference;
  reconstruction.At(25 - border - 1, 30 - border - 1)[1] = 90 + 100;
  EXPECT_NEAR(ComputeSsim(reference.View(), reconstruction.View(), border), expected, 1e-12);
}

// --------------------------------------------------------------- DE2000

// Every pixel the same pair of colours: the mean is that pair's difference,
// with red and blue read from their places in B, G, R bytes.
TEST(De2000, UniformPairGivesThatPairsDifference) {
  Image reference(9, 7);
  Image reconstruction(9, 7);
  for (std::int32_t r = 0; r < 7; ++r) {
    for (std::int32_t c = 0; c < 9; ++c) {
      SetPixel(reference, r, c, 250, 120, 10);
      SetPixel(reconstruction, r, c, 240, 128, 40);
    }
  }
  const double expected = Ciede2000(SrgbToLab(250, 120, 10), SrgbToLab(240, 128, 40));
  EXPECT_GT(expected, 1.0);
  EXPECT_NEAR(ComputeDe2000(reference.View(), reconstruction.View(), 1), expected, 1e-12);
}

// A row's pixels are measured in vector lanes, a pass at a time, with the
// tail alone: each must be exactly its own pair's difference, as one call
// gives it (131 pixels: two full passes of 64 and three more).
TEST(De2000, EveryPixelOfARowIsExactlyItsOwnDifference) {
  std::mt19937 random(9);
  for (int trial = 0; trial < 20; ++trial) {
    constexpr std::int32_t kWidth = 131;
    Image reference = RandomImage(kWidth, 1, random);
    Image reconstruction = RandomImage(kWidth, 1, random);
    double sum = 0.0;
    for (std::int32_t c = 0; c < kWidth; ++c) {
      const std::uint8_t* x = reference.At(0, c);
      const std::uint8_t* y = reconstruction.At(0, c);
      sum += Ciede2000(SrgbToLab(x[2], x[1], x[0]), SrgbToLab(y[2], y[1], y[0]));
    }
    EXPECT_EQ(ComputeDe2000(reference.View(), reconstruction.View(), 0), sum / kWidth);
  }
}

// One changed pixel: its difference divided by the interior's pixel count.
TEST(De2000, OneChangedPixelIsAveragedOverTheInterior) {
  Image reference(12, 10, 77);
  Image reconstruction = reference;
  SetPixel(reconstruction, 4, 6, 10, 200, 90);
  const double one = Ciede2000(SrgbToLab(77, 77, 77), SrgbToLab(10, 200, 90));
  EXPECT_NEAR(ComputeDe2000(reference.View(), reconstruction.View(), 2), one / (8.0 * 6.0), 1e-12);
}

// --------------------------------------------------------------- zipper

// Over a flat reference all eight neighbours tie, so up-left is taken. In a
// reconstruction alternating between two greys 40 levels apart it has the
// pixel's own grey in a checkerboard (as every diagonal neighbour has), the
// other grey in stripes (as some straight neighbour has).
TEST(Zipper, TiesGoToTheUpLeftNeighbour) {
  auto share = [](auto pattern) {
    Image reference(16, 14, 100);
    Image reconstruction = reference;
    for (std::int32_t r = 0; r < 14; ++r) {
      for (std::int32_t c = 0; c < 16; ++c) {
        const std::uint8_t v = pattern(r, c) ? 140 : 100;
        SetPixel(reconstruction, r, c, v, v, v);
      }
    }
    return ComputeZipper(reference.View(), reconstruction.View(), 2);
  };
  EXPECT_EQ(share([](int r, int c) { return (r + c) % 2 == 1; }), 0.0);
  EXPECT_EQ(share([](int, int c) { return c % 2 == 1; }), 1.0);
  EXPECT_EQ(share([](int r, int) { return r % 2 == 1; }), 1.0);

  // One pixel changed at the first zipper pixel (the top-left one): it
  // counts, and so does the pixel down-right of it, which takes it as its
  // up-left neighbour. Any other diagonal first would count one pixel.
  Image reference(16, 14, 100);
  Image reconstruction = reference;
  SetPixel(reconstruction, 3, 3, 140, 140, 140);
  EXPECT_DOUBLE_EQ(ComputeZipper(reference.View(), reconstruction.View(), 2),
                   2.0 / ((16 - 6) * (14 - 6)));
}

// Rows of different greys: left and right tie at distance 0, so left is
// taken. A pixel changed in the first measured column is a zipper pixel, and
// so is its right neighbour, whose nearest neighbour it is; a neighbour on
// its left would lie outside the measured region.
TEST(Zipper, LeftIsTakenBeforeRightAndOnlyMeasuredPixelsCount) {
  const std::int32_t border = 2;
  Image reference(14, 12);
  for (std::int32_t r = 0; r < 12; ++r) {
    for (std::int32_t c = 0; c < 14; ++c) {
      const auto v = static_cast<std::uint8_t>(60 + 12 * r);
      SetPixel(reference, r, c, v, v, v);
    }
  }
  const std::int32_t zipper_pixels = (14 - 2 * border - 2) * (12 - 2 * border - 2);
  Image reconstruction = reference;
  SetPixel(reconstruction, 6, border + 1, 0, 200, 0);
  EXPECT_DOUBLE_EQ(ComputeZipper(reference.View(), reconstruction.View(), border),
                   2.0 / zipper_pixels);

  // The same change in the last measured column: its right neighbour is not
  // measured, and no measured pixel takes it as nearest but itself.
  reconstruction = reference;
  SetPixel(reconstruction, 6, 14 - border - 2, 0, 200, 0);
  EXPECT_DOUBLE_EQ(ComputeZipper(reference.View(), reconstruction.View(), border),
                   1.0 / zipper_pixels);
}

// Two neighbours whose squared distances from the pixel differ in the 13th
// digit, close enough for their roots to tie in other cases; the nearer is
// the later one (down-right), and its change makes the pixel a zipper pixel,
// as it does the changed pixel itself.
TEST(Zipper, TheNearerOfTwoAlmostEquallyNearNeighboursIsTaken) {
  Image reference(12, 12, 0);
  SetPixel(reference, 5, 5, 0x20, 0x80, 0xc0);
  SetPixel(reference, 4, 4, 0x3d, 0xa7, 0xd4);  // squared distance 396.32754633874868
  SetPixel(reference, 6, 6, 0x64, 0x96, 0xf0);  // squared distance 396.32754633846616
  Image reconstruction = reference;
  SetPixel(reconstruction, 6, 6, 0, 0, 0);
  EXPECT_DOUBLE_EQ(ComputeZipper(reference.View(), reconstruction.View(), 2), 2.0 / 36);
}

// A growth of one grey level (about 0.4 in CIE76) is under one noticeable
// difference; ten levels are over it.
TEST(Zipper, OnlyGrowthOverOneNoticeableDifferenceCounts) {
  Image reference(10, 10, 128);
  Image reconstruction = reference;
  SetPixel(reconstruction, 5, 5, 129, 129, 129);
  EXPECT_EQ(ComputeZipper(reference.View(), reconstruction.View(), 1), 0.0);
  SetPixel(reconstruction, 5, 5, 138, 138, 138);
  EXPECT_GT(ComputeZipper(reference.View(), reconstruction.View(), 1), 0.0);
}

// ----------------------------------------------------------- properties

class MetricProperties : public ::testing::Test {
 protected:
  static constexpr std::int32_t kWidth = 41;
  static constexpr std::int32_t kHeight = 33;
  static constexpr std::int32_t kBorder = 4;

  MetricProperties()
      : random_(7),
        reference_(RandomImage(kWidth, kHeight, random_)),
        reconstruction_(Perturbed(reference_, 12, random_)) {}

  Figures Baseline() const {
    return AllFigures(reference_.View(), reconstruction_.View(), kBorder);
  }

  std::mt19937 random_;
  Image reference_;
  Image reconstruction_;
};

TEST_F(MetricProperties, EqualImagesGiveOneZeroAndZero) {
  const Figures same = AllFigures(reference_.View(), reference_.View(), kBorder);
  EXPECT_EQ(same.ssim, 1.0);
  EXPECT_EQ(same.de2000, 0.0);
  EXPECT_EQ(same.zipper, 0.0);
  const Figures different = Baseline();
  EXPECT_LT(different.ssim, 1.0);
  EXPECT_GT(different.de2000, 0.0);
  EXPECT_GT(different.zipper, 0.0);
}

// Bands of rows on threads of their own, more threads than rows included;
// and, on a tall image, several bands a thread, taken as threads come free.
TEST_F(MetricProperties, EveryNumberOfThreadsGivesTheSameFiguresToTheLastBit) {
  for (const int threads : {2, 3, 7, 40}) {
    ExpectSameFigures(AllFigures(reference_.View(), reconstruction_.View(), kBorder, threads),
                      Baseline());
  }
  const Image tall = RandomImage(19, 1100, random_);
  const Image tall_reconstruction = Perturbed(tall, 12, random_);
  for (const int threads : {2, 3}) {
    ExpectSameFigures(AllFigures(tall.View(), tall_reconstruction.View(), kBorder, threads),
                      AllFigures(tall.View(), tall_reconstruction.View(), kBorder));
  }
}

TEST_F(MetricProperties, De2000AndZipperTogetherAreEachAloneToTheLastBit) {
  for (const int threads : {1, 3}) {
    const ColourFigures both =
        ComputeDe2000AndZipper(reference_.View(), reconstruction_.View(), kBorder, threads);
    EXPECT_EQ(both.de2000, Baseline().de2000);
    EXPECT_EQ(both.zipper, Baseline().zipper);
  }
}

TEST_F(MetricProperties, SsimIsSymmetric) {
  EXPECT_EQ(ComputeSsim(reference_.View(), reconstruction_.View(), kBorder),
            ComputeSsim(reconstruction_.View(), reference_.View(), kBorder));
}

TEST_F(MetricProperties, PixelsOutsideTheInteriorAreNeverRead) {
  const Figures before = Baseline();
  Image reference = reference_;
  Image reconstruction = reconstruction_;
  for (std::int32_t r = 0; r < kHeight; ++r) {
    for (std::int32_t c = 0; c < kWidth; ++c) {
      const bool frame =
          r < kBorder || r >= kHeight - kBorder || c < kBorder || c >= kWidth - kBorder;
      if (!frame) continue;
      for (int k = 0; k < 3; ++k) {
        reference.At(r, c)[k] = static_cast<std::uint8_t>(random_());
        reconstruction.At(r, c)[k] = static_cast<std::uint8_t>(random_());
      }
    }
  }
  ExpectSameFigures(AllFigures(reference.View(), reconstruction.View(), kBorder), before);
}

TEST_F(MetricProperties, RgbOrderGivesTheSameFiguresAsBgr) {
  const Figures before = Baseline();
  auto as_rgb = [](const Image& image) {
    Image swapped = image;
    for (std::size_t i = 0; i < swapped.bytes.size(); i += 3) {
      std::swap(swapped.bytes[i], swapped.bytes[i + 2]);
    }
    return swapped;
  };
  const Image reference = as_rgb(reference_);
  const Image reconstruction = as_rgb(reconstruction_);
  const ConstImageView reference_rgb =
      MakeImageView(reference.bytes, kWidth, kHeight, 0, ChannelOrder::kRGB);
  const ConstImageView reconstruction_rgb =
      MakeImageView(reconstruction.bytes, kWidth, kHeight, 0, ChannelOrder::kRGB);
  ExpectSameFigures(AllFigures(reference_rgb, reconstruction_rgb, kBorder), before);
  // One view of each order.
  ExpectSameFigures(AllFigures(reference_rgb, reconstruction_.View(), kBorder), before);
  // The same bytes read in either order are different images.
  EXPECT_LT(ComputeSsim(MakeImageView(reference_.bytes, kWidth, kHeight, 0, ChannelOrder::kRGB),
                        reference_.View(), kBorder),
            1.0);
}

TEST_F(MetricProperties, PaddedRowsGiveTheSameFiguresAsPacked) {
  const Figures before = Baseline();
  const std::ptrdiff_t stride = 3 * kWidth + 13;
  auto padded = [&](const Image& image) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * kHeight, 0xA5);
    for (std::int32_t r = 0; r < kHeight; ++r) {
      std::copy_n(image.bytes.data() + 3 * static_cast<std::size_t>(r) * kWidth, 3 * kWidth,
                  bytes.data() + r * stride);
    }
    return bytes;
  };
  const std::vector<std::uint8_t> reference = padded(reference_);
  const std::vector<std::uint8_t> reconstruction = padded(reconstruction_);
  ExpectSameFigures(AllFigures(MakeImageView(reference, kWidth, kHeight, stride),
                               MakeImageView(reconstruction, kWidth, kHeight, stride), kBorder),
                    before);
}

// A border is the same as measuring a view of the interior alone.
TEST_F(MetricProperties, BorderEqualsAViewOfTheInterior) {
  auto interior = [&](const Image& image) {
    const ConstImageView full = image.View();
    return ConstImageView{full.data + kBorder * full.stride + 3 * kBorder, kWidth - 2 * kBorder,
                          kHeight - 2 * kBorder, full.stride, full.order};
  };
  ExpectSameFigures(AllFigures(interior(reference_), interior(reconstruction_), 0), Baseline());
}

// ---------------------------------------------------------- bad arguments

using Metric = double (*)(ConstImageView, ConstImageView, std::int32_t, int);

struct MetricCase {
  const char* name;
  Metric metric;
  std::int32_t minimum_side;
};

constexpr MetricCase kMetrics[] = {{"ComputeSsim", ComputeSsim, 11},
                                   {"ComputeDe2000", ComputeDe2000, 1},
                                   {"ComputeZipper", ComputeZipper, 3}};

// Calls `metric` and returns the message of the std::invalid_argument it
// throws, or "" if it returns.
std::string Refusal(const MetricCase& m, ConstImageView a, ConstImageView b, std::int32_t border,
                    int threads = 1) {
  try {
    m.metric(a, b, border, threads);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "";
}

TEST(MetricArguments, TheSmallestInteriorIsMeasuredAndOneLessRefused) {
  for (const MetricCase& m : kMetrics) {
    const std::int32_t side = m.minimum_side + 2 * 3;
    const Image large(side, side, 50);
    EXPECT_EQ(Refusal(m, large.View(), large.View(), 3), "") << m.name;
    const Image narrow(side - 1, side, 50);
    const Image low(side, side - 1, 50);
    for (const Image* image : {&narrow, &low}) {
      const std::string message = Refusal(m, image->View(), image->View(), 3);
      EXPECT_NE(message.find(m.name), std::string::npos) << message;
      EXPECT_NE(message.find("border of 3"), std::string::npos) << message;
    }
  }
}

TEST(MetricArguments, MismatchedSizesBadBordersMissingDataAndNoThreadsAreRefused) {
  const Image a(30, 30, 50);
  const Image b(30, 31, 50);
  for (const MetricCase& m : kMetrics) {
    EXPECT_NE(Refusal(m, a.View(), b.View(), 2).find("30 x 31"), std::string::npos) << m.name;
    EXPECT_NE(Refusal(m, a.View(), a.View(), -1).find("negative"), std::string::npos) << m.name;
    EXPECT_NE(Refusal(m, a.View(), a.View(), std::numeric_limits<std::int32_t>::max()), "")
        << m.name;
    const ConstImageView no_data{nullptr, 30, 30, 90, ChannelOrder::kBGR};
    EXPECT_NE(Refusal(m, no_data, a.View(), 2).find("no pixel data"), std::string::npos) << m.name;
    ConstImageView short_rows = a.View();
    short_rows.stride = 89;
    EXPECT_NE(Refusal(m, a.View(), short_rows, 2).find("stride"), std::string::npos) << m.name;
    const ConstImageView empty{};
    EXPECT_NE(Refusal(m, empty, empty, 0), "") << m.name;
    EXPECT_NE(Refusal(m, a.View(), a.View(), 2, 0).find("threads must be at least 1"),
              std::string::npos)
        << m.name;
  }
}

// ------------------------------------------------- independent figures

std::filesystem::path MetricsDir() {
  return testing::SharedDataDir("DEMOSAIC_METRICS_DIR", DEMOSAIC_METRICS_DIR);
}

std::filesystem::path CorpusDir() {
  return testing::SharedDataDir("DEMOSAIC_CONFORMANCE_DIR", DEMOSAIC_CONFORMANCE_DIR);
}

bool FiguresPresent() {
  return !MetricsDir().empty() && std::filesystem::exists(MetricsDir() / "expected.tsv") &&
         !CorpusDir().empty() && std::filesystem::exists(CorpusDir() / "input") &&
         std::filesystem::exists(CorpusDir() / "expected");
}

std::vector<std::vector<std::string>> ReadTable(const std::filesystem::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream table(path);
  std::string line;
  std::getline(table, line);  // column names
  while (std::getline(table, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string field; std::getline(fields, field, '\t');) row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

struct ExpectedFigures {
  std::string image;
  std::int32_t border = 0;
  Figures figures{};
};

void PrintTo(const ExpectedFigures& e, std::ostream* os) {
  *os << e.image << " border " << e.border;
}

std::vector<ExpectedFigures> LoadExpected() {
  std::vector<ExpectedFigures> cases;
  if (!FiguresPresent()) return cases;
  for (const auto& row : ReadTable(MetricsDir() / "expected.tsv")) {
    if (row.size() != 5) continue;  // reported by the IsPresent test
    cases.push_back(
        {row[0], std::stoi(row[1]), {std::stod(row[2]), std::stod(row[3]), std::stod(row[4])}});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<ExpectedFigures>& info) {
  return testing::CaseTestName(info.param.image + "_border" + std::to_string(info.param.border));
}

class IndependentFigures : public ::testing::TestWithParam<ExpectedFigures> {};

TEST_P(IndependentFigures, MatchToOneMillionth) {
  const ExpectedFigures& e = GetParam();
  const std::string stem = std::filesystem::path(e.image).stem().string();
  const cv::Mat reference =
      cv::imread((CorpusDir() / "input" / e.image).string(), cv::IMREAD_COLOR);
  const cv::Mat reconstruction =
      cv::imread((CorpusDir() / "expected" / (stem + ".png")).string(), cv::IMREAD_COLOR);
  ASSERT_FALSE(reference.empty()) << e.image << ": reference unreadable";
  ASSERT_FALSE(reconstruction.empty()) << e.image << ": reconstruction unreadable";
  auto view = [](const cv::Mat& m) {
    return ConstImageView{m.ptr<std::uint8_t>(), m.cols, m.rows,
                          static_cast<std::ptrdiff_t>(m.step), ChannelOrder::kBGR};
  };
  const Figures got = AllFigures(view(reference), view(reconstruction), e.border);
  EXPECT_NEAR(got.ssim, e.figures.ssim, 1e-6) << "SSIM";
  EXPECT_NEAR(got.de2000, e.figures.de2000, 1e-6) << "DE2000";
  EXPECT_NEAR(got.zipper, e.figures.zipper, 1e-6) << "zipper";
}

INSTANTIATE_TEST_SUITE_P(Corpus, IndependentFigures, ::testing::ValuesIn(LoadExpected()), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(IndependentFigures);

TEST(IndependentFiguresTable, IsPresentAndWellFormed) {
  if (!FiguresPresent()) {
    GTEST_SKIP() << "metric figures or corpus not found (DEMOSAIC_METRICS_DIR='"
                 << MetricsDir().string() << "', DEMOSAIC_CONFORMANCE_DIR='" << CorpusDir().string()
                 << "'): the independent SSIM, CIEDE2000 and zipper cases were NOT run";
  }
  const auto rows = ReadTable(MetricsDir() / "expected.tsv");
  EXPECT_FALSE(rows.empty()) << "expected.tsv lists no image";
  for (const auto& row : rows) EXPECT_EQ(row.size(), 5u) << "malformed row of expected.tsv";
}

}  // namespace
}  // namespace demosaic
