// The whole reconstruction through the public interface: against the plain
// rules at every size, tile, band height and thread count, and the
// properties a user relies on (samples kept, grey kept, frame, tile shifts,
// strided and RGB-order views, argument checks).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "demosaic/demosaic.h"
#include "engine/stages.h"
#include "support/engine_buffers.h"
#include "support/engine_cases.h"
#include "support/plain_method.h"

namespace demosaic::testing {
namespace {

constexpr std::uint8_t kOutputMarker = 0xAB;

std::vector<std::uint8_t> Reconstruct(const std::vector<std::uint8_t>& mosaic, int w, int h,
                                      BayerPattern pattern,
                                      const ReconstructionOptions& options = {}) {
  std::vector<std::uint8_t> output(3 * static_cast<std::size_t>(w) * h, kOutputMarker);
  ReconstructFromMosaic(PackedMosaic(mosaic, w, h, pattern), MakeImageView(std::span(output), w, h),
                        options);
  return output;
}

std::string Describe(BayerPattern pattern, int w, int h) {
  return std::string(PatternName(pattern)) + " " + std::to_string(w) + " x " + std::to_string(h);
}

// Every size from the smallest with an interior to 24 x 24, odd and even,
// every tile: the engine's output equals the plain rules' byte for byte.
TEST(Engine, MatchesThePlainRulesAtEverySmallSizeAndTile) {
  std::mt19937 random(3);
  for (const BayerPattern pattern : kAllPatterns) {
    for (int w = 7; w <= 24; ++w) {
      for (int h = 7; h <= 24; ++h) {
        const auto mosaic = RandomBytes(static_cast<std::size_t>(w) * h, random);
        ASSERT_EQ(Reconstruct(mosaic, w, h, pattern), PlainReconstruct(mosaic, w, h, pattern))
            << Describe(pattern, w, h);
      }
    }
  }
}

// Larger odd sizes, on smooth content with edges (where fusion chooses a
// direction) as well as noise, through several band heights and thread
// counts: every way of splitting the rows gives the same bytes.
TEST(Engine, BandsAndThreadsNeverChangeABit) {
  std::mt19937 random(7);
  for (auto [w, h] : kSplitSizes) {
    std::vector<std::uint8_t> reference(3 * static_cast<std::size_t>(w) * h);
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        for (int k = 0; k < 3; ++k) {
          const int smooth = (r * (k + 2) + c * (3 - k)) % 256;
          const int edge = (c > w / 2) == (r > h / 3) ? 60 : 0;
          reference[3 * (r * w + c) + k] =
              static_cast<std::uint8_t>((smooth + edge + static_cast<int>(random() % 9)) % 256);
        }
      }
    }
    for (const BayerPattern pattern : kAllPatterns) {
      const PlainMosaic mosaic = PlainSample(reference, w, h, pattern);
      const std::vector<std::uint8_t> expected = PlainReconstruct(mosaic, w, h, pattern);
      for (const int threads : kThreadCounts) {
        for (const int band : kBandHeights) {
          ReconstructionOptions options;
          options.threads = threads;
          options.band_rows = BandRowsFor(band, h);
          ASSERT_EQ(Reconstruct(mosaic, w, h, pattern, options), expected)
              << Describe(pattern, w, h) << ", " << threads << " threads, bands of "
              << options.band_rows;
        }
      }
    }
  }
}

// The stages' loops are compiled for several instruction sets and the one
// for this processor is chosen at run time: every variant this processor
// runs gives the plain rules' bytes.
TEST(Engine, EveryCompiledVariantOfTheStagesGivesThePlainRulesBytes) {
  using engine::SimdLevel;
  std::mt19937 random(41);
  for (const SimdLevel level : kAllSimdLevels) {
    if (!ProcessorRuns(level)) continue;
    for (const BayerPattern pattern : kAllPatterns) {
      for (auto [w, h] : kVariantSizes) {
        const auto mosaic = RandomBytes(static_cast<std::size_t>(w) * h, random);
        const ConstMosaicView view = PackedMosaic(mosaic, w, h, pattern);
        WholePlane horizontal(w, h);
        WholePlane vertical(w, h);
        WholePlane fused(w, h);
        std::vector<std::uint8_t> output(3 * static_cast<std::size_t>(w) * h, kOutputMarker);
        engine::EstimateDirectionalDifferences(engine::WholeMosaic(view), pattern, 0, h,
                                               horizontal.Rows(), vertical.Rows(), level);
        engine::FuseDirections(engine::WholeMosaic(view), pattern, 0, h, horizontal.Rows(),
                               vertical.Rows(), fused.Rows(), level);
        engine::ReconstructColors(engine::WholeMosaic(view), pattern, 0, h, fused.Rows(),
                                  engine::WholeImage(MakeImageView(std::span(output), w, h)),
                                  level);
        ASSERT_EQ(output, PlainReconstruct(mosaic, w, h, pattern))
            << "variant " << static_cast<int>(level) << " " << Describe(pattern, w, h);
      }
    }
  }
}

TEST(Engine, EachSampleReappearsInItsOwnChannel) {
  const int w = 23;
  const int h = 17;
  std::mt19937 random(13);
  const auto mosaic = RandomBytes(static_cast<std::size_t>(w) * h, random);
  for (const BayerPattern pattern : kAllPatterns) {
    const std::vector<std::uint8_t> output = Reconstruct(mosaic, w, h, pattern);
    for (int r = 3; r <= h - 4; ++r) {
      for (int c = 3; c <= w - 4; ++c) {
        const CfaClass cls = CfaClassOf(pattern, r, c);
        const int channel = cls == kR ? 2 : (cls == kB ? 0 : 1);
        EXPECT_EQ(output[3 * (r * w + c) + channel], mosaic[r * w + c]) << r << "," << c;
      }
    }
  }
}

TEST(Engine, UniformGreyComesBackUnchangedInsideABlackFrame) {
  const int w = 12;
  const int h = 10;
  const std::vector<std::uint8_t> output =
      Reconstruct(std::vector<std::uint8_t>(w * h, 77), w, h, BayerPattern::kGRBG);
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
  const std::vector<std::uint8_t> output =
      Reconstruct(std::vector<std::uint8_t>(49, 90), 7, 7, BayerPattern::kGRBG);
  for (int i = 0; i < 49; ++i) {
    const int expected = i == 3 * 7 + 3 ? 90 : 0;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(output[3 * i + k], expected) << "site " << i;
  }
}

TEST(Engine, ImagesWithoutInteriorComeOutBlack) {
  for (auto [w, h] :
       {std::pair{6, 20}, std::pair{20, 6}, std::pair{2, 1}, std::pair{3, 3}, std::pair{0, 5}}) {
    const std::vector<std::uint8_t> output = Reconstruct(
        std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h, 200), w, h, BayerPattern::kGRBG);
    for (std::uint8_t v : output) ASSERT_EQ(v, 0) << w << " x " << h;
  }
}

// Away from the edges, a tile is the GRBG tile seen one column and/or one
// row further on: RGGB is GRBG without the first column, BGGR without the
// first row, GBRG without both.
TEST(Engine, OtherTilesAreGrbgShiftedByARowOrAColumn) {
  std::mt19937 random(23);
  constexpr int kInset = 8;
  for (auto [w, h] : {std::pair{30, 30}, std::pair{31, 29}, std::pair{40, 23}, std::pair{27, 44}}) {
    const auto reference = RandomBytes(3 * static_cast<std::size_t>(w) * h, random);
    for (const auto& [pattern, skip_rows, skip_columns] :
         {std::tuple{BayerPattern::kRGGB, 0, 1}, std::tuple{BayerPattern::kBGGR, 1, 0},
          std::tuple{BayerPattern::kGBRG, 1, 1}, std::tuple{BayerPattern::kGRBG, 0, 0}}) {
      // The reference without its first rows and columns, packed.
      const int cw = w - skip_columns;
      const int ch = h - skip_rows;
      std::vector<std::uint8_t> cropped(3 * static_cast<std::size_t>(cw) * ch);
      for (int r = 0; r < ch; ++r) {
        for (int k = 0; k < 3 * cw; ++k) {
          cropped[3 * r * cw + k] = reference[3 * ((r + skip_rows) * w + skip_columns) + k];
        }
      }
      std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h);
      SampleMosaic(MakeImageView(std::span<const std::uint8_t>(reference), w, h),
                   MakeMosaicView(std::span(mosaic), w, h, pattern));
      std::vector<std::uint8_t> cropped_mosaic(static_cast<std::size_t>(cw) * ch);
      SampleMosaic(MakeImageView(std::span<const std::uint8_t>(cropped), cw, ch),
                   MakeMosaicView(std::span(cropped_mosaic), cw, ch, BayerPattern::kGRBG));
      const auto shifted = Reconstruct(mosaic, w, h, pattern);
      const auto grbg = Reconstruct(cropped_mosaic, cw, ch, BayerPattern::kGRBG);
      for (int r = kInset; r < h - kInset; ++r) {
        for (int c = kInset; c < w - kInset; ++c) {
          for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(shifted[3 * (r * w + c) + k],
                      grbg[3 * ((r - skip_rows) * cw + (c - skip_columns)) + k])
                << Describe(pattern, w, h) << " at " << r << "," << c;
          }
        }
      }
    }
  }
}

// A mosaic inside a larger padded buffer and an output with padded rows in
// R, G, B order give the same pixels as packed B, G, R buffers; the padding
// is never touched.
TEST(Engine, StridedViewsAndRgbOrderGiveTheSamePixels) {
  const int w = 29;
  const int h = 21;
  std::mt19937 random(31);
  const auto mosaic = RandomBytes(static_cast<std::size_t>(w) * h, random);
  const auto packed = Reconstruct(mosaic, w, h, BayerPattern::kGRBG);

  const int mosaic_stride = w + 13;
  std::vector<std::uint8_t> padded_mosaic(static_cast<std::size_t>(mosaic_stride) * h, 0xEE);
  for (int r = 0; r < h; ++r) {
    std::copy_n(&mosaic[r * w], w, &padded_mosaic[r * mosaic_stride]);
  }
  const int output_stride = 3 * w + 7;
  std::vector<std::uint8_t> padded_output(static_cast<std::size_t>(output_stride) * h, 0xCD);
  ReconstructFromMosaic(
      MakeMosaicView(std::span<const std::uint8_t>(padded_mosaic), w, h, BayerPattern::kGRBG,
                     mosaic_stride),
      MakeImageView(std::span(padded_output), w, h, output_stride, ChannelOrder::kRGB));
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const std::uint8_t* bgr = &packed[3 * (r * w + c)];
      const std::uint8_t* rgb = &padded_output[r * output_stride + 3 * c];
      ASSERT_EQ(rgb[0], bgr[2]) << r << "," << c;
      ASSERT_EQ(rgb[1], bgr[1]) << r << "," << c;
      ASSERT_EQ(rgb[2], bgr[0]) << r << "," << c;
    }
    for (int k = 3 * w; k < output_stride && r + 1 < h; ++k) {
      ASSERT_EQ(padded_output[r * output_stride + k], 0xCD) << "padding of row " << r;
    }
  }
}

TEST(Engine, RefusesMismatchedViewsAndBadOptions) {
  std::vector<std::uint8_t> mosaic(100, 0);
  std::vector<std::uint8_t> output(3 * 100, 0);
  const ConstMosaicView ten =
      MakeMosaicView(std::span<const std::uint8_t>(mosaic), 10, 10, BayerPattern::kGRBG);
  EXPECT_THROW(ReconstructFromMosaic(ten, MakeImageView(std::span(output), 10, 9)),
               std::invalid_argument);
  ReconstructionOptions no_threads;
  no_threads.threads = 0;
  EXPECT_THROW(ReconstructFromMosaic(ten, MakeImageView(std::span(output), 10, 10), no_threads),
               std::invalid_argument);
  ReconstructionOptions negative_band;
  negative_band.band_rows = -1;
  EXPECT_THROW(ReconstructFromMosaic(ten, MakeImageView(std::span(output), 10, 10), negative_band),
               std::invalid_argument);
}

// The working memory is a few rows: it grows with the width, the band height
// and the thread count, never with the height.
TEST(Engine, WorkingMemoryIsAFewRowsPerThread) {
  ReconstructionOptions one;
  ReconstructionOptions two;
  two.threads = 2;
  const std::size_t narrow = ReconstructionWorkingBytes(1000, one);
  EXPECT_EQ(ReconstructionWorkingBytes(2000, one), 2 * narrow);
  EXPECT_EQ(ReconstructionWorkingBytes(1000, two), 2 * narrow);
  EXPECT_LT(narrow, 128u * 1000u) << "more than 128 bytes per column";
}

// In place, the image becomes exactly what sampling and reconstructing into
// a separate image writes, and the figures are exactly ComputeQuality's of
// that output against the original: for every tile, odd and even sizes,
// borders and band heights, including the smallest images.
TEST(InPlace, GivesTheSeparatePassesBytesAndFigures) {
  std::mt19937 random(43);
  for (const BayerPattern pattern : kAllPatterns) {
    for (auto [w, h] : {std::pair{7, 7}, std::pair{8, 13}, std::pair{33, 21}, std::pair{64, 45}}) {
      for (const int border : {3, 4}) {
        if (2 * border >= w || 2 * border >= h) continue;
        for (const int band : {1, 3, 0}) {
          auto image = RandomBytes(3 * static_cast<std::size_t>(w) * h, random);
          const auto original = image;
          std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h);
          SampleMosaic(MakeImageView(std::span<const std::uint8_t>(original), w, h),
                       MakeMosaicView(std::span(mosaic), w, h, pattern));
          ReconstructionOptions options;
          options.band_rows = band;
          const auto separate = Reconstruct(mosaic, w, h, pattern, options);
          const QualityFigures expected =
              ComputeQuality(MakeImageView(std::span<const std::uint8_t>(original), w, h),
                             MakeImageView(std::span<const std::uint8_t>(separate), w, h), border);
          const QualityFigures figures =
              ReconstructInPlace(MakeImageView(std::span(image), w, h), pattern, options, border);
          ASSERT_EQ(image, separate) << Describe(pattern, w, h) << ", bands of " << band;
          EXPECT_EQ(figures.psnr_r, expected.psnr_r) << Describe(pattern, w, h);
          EXPECT_EQ(figures.psnr_g, expected.psnr_g) << Describe(pattern, w, h);
          EXPECT_EQ(figures.psnr_b, expected.psnr_b) << Describe(pattern, w, h);
          EXPECT_EQ(figures.cpsnr, expected.cpsnr) << Describe(pattern, w, h);
        }
      }
    }
  }
}

TEST(InPlace, WorksOnPaddedRgbRowsAndLeavesThePaddingAlone) {
  const int w = 19;
  const int h = 15;
  const int stride = 3 * w + 5;
  std::mt19937 random(47);
  std::vector<std::uint8_t> image(static_cast<std::size_t>(stride) * h, 0xCD);
  for (int r = 0; r < h; ++r) {
    for (int k = 0; k < 3 * w; ++k) image[r * stride + k] = static_cast<std::uint8_t>(random());
  }
  const auto original = image;
  std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h);
  SampleMosaic(
      MakeImageView(std::span<const std::uint8_t>(original), w, h, stride, ChannelOrder::kRGB),
      MakeMosaicView(std::span(mosaic), w, h, BayerPattern::kBGGR));
  std::vector<std::uint8_t> separate(static_cast<std::size_t>(stride) * h, 0xCD);
  ReconstructFromMosaic(PackedMosaic(mosaic, w, h, BayerPattern::kBGGR),
                        MakeImageView(std::span(separate), w, h, stride, ChannelOrder::kRGB));
  ReconstructInPlace(MakeImageView(std::span(image), w, h, stride, ChannelOrder::kRGB),
                     BayerPattern::kBGGR);
  EXPECT_EQ(image, separate);
}

TEST(InPlace, RefusesBeforeChangingAnything) {
  std::vector<std::uint8_t> image(3 * 20 * 20, 77);
  const auto original = image;
  ReconstructionOptions two_threads;
  two_threads.threads = 2;
  EXPECT_THROW(
      ReconstructInPlace(MakeImageView(std::span(image), 20, 20), BayerPattern::kGRBG, two_threads),
      std::invalid_argument);
  EXPECT_THROW(
      ReconstructInPlace(MakeImageView(std::span(image), 20, 20), BayerPattern::kGRBG, {}, 10),
      std::invalid_argument);
  EXPECT_EQ(image, original);
}

}  // namespace
}  // namespace demosaic::testing
