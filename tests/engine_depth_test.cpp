// The reconstruction of 16-bit mosaics: against the plain rules at several
// white levels, through every tile, compiled variant, band height and thread
// count, in place too; the bounds that scale with the white level; and the
// checks of white levels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "demosaic/demosaic.h"
#include "engine/stages.h"
#include "support/engine_cases.h"
#include "support/plain_method.h"

namespace demosaic::testing {
namespace {

using engine::SimdLevel;

// 10, 12, 14 and 16 bits: the depths raw files come in.
constexpr int kWhiteLevels[] = {1023, 4095, 16383, 65535};
constexpr std::uint16_t kOutputMarker = 0xABCD;

// Samples within 0 .. white: a quarter at 0, a quarter at white (so that
// the bounds of the fusion and of the output are reached) and the rest
// uniform.
std::vector<std::uint16_t> RandomSamples(std::size_t count, int white, std::mt19937& random) {
  std::uniform_int_distribution<int> uniform(0, white);
  std::vector<std::uint16_t> samples(count);
  for (auto& v : samples) {
    const unsigned kind = random() % 4;
    v = static_cast<std::uint16_t>(kind == 0 ? 0 : (kind == 1 ? white : uniform(random)));
  }
  return samples;
}

std::string Describe(BayerPattern pattern, int w, int h, int white) {
  return std::string(PatternName(pattern)) + " " + std::to_string(w) + " x " + std::to_string(h) +
         ", white level " + std::to_string(white);
}

std::vector<std::uint16_t> Reconstruct(const std::vector<std::uint16_t>& mosaic, int w, int h,
                                       BayerPattern pattern, int white,
                                       const ReconstructionOptions& options = {}) {
  std::vector<std::uint16_t> output(3 * static_cast<std::size_t>(w) * h, kOutputMarker);
  ReconstructFromMosaic(MakeMosaicView(mosaic, w, h, pattern, 0, white),
                        MakeImageView(output, w, h, 0, ChannelOrder::kBGR, white), options);
  return output;
}

// The mosaics these tests use reach what 16-bit differences cannot hold and
// what the bounds cut off: without that, agreeing with the plain rules would
// prove little about either.
TEST(EngineAtDepth, TestMosaicsReachTheBoundsAndBeyondSixteenBitDifferences) {
  std::mt19937 random(5);
  const int w = 40;
  const int h = 30;
  const int white = 65535;
  const auto mosaic = RandomSamples(static_cast<std::size_t>(w) * h, white, random);
  PlainPlanes planes = PlainEstimate(mosaic, w, h, BayerPattern::kGRBG);
  PlainFuse(mosaic, BayerPattern::kGRBG, planes, white);
  int beyond_int16 = 0;
  int at_bound = 0;
  for (int r = 2; r < h - 2; ++r) {
    for (int c = 2; c < w - 2; ++c) {
      const int at = r * w + c;
      for (const Plane* plane : {&planes.RgH, &planes.RgV, &planes.BgH, &planes.BgV}) {
        if ((*plane)[at] > 32767 || (*plane)[at] < -32768) ++beyond_int16;
      }
      const CfaClass cls = CfaClassOf(BayerPattern::kGRBG, r, c);
      if (cls != kR && cls != kB) continue;
      const int fused = cls == kR ? planes.RgFused[at] : planes.BgFused[at];
      if (fused == mosaic[at] - white || (fused == mosaic[at] && mosaic[at] > 0)) ++at_bound;
    }
  }
  EXPECT_GT(beyond_int16, 0);
  EXPECT_GT(at_bound, 0);
  const auto output = PlainReconstruct(mosaic, w, h, BayerPattern::kGRBG, white);
  int clamped = 0;
  for (int r = 3; r < h - 3; ++r) {
    for (int c = 3 * 3; c < 3 * (w - 3); ++c) clamped += output[3 * r * w + c] == white;
  }
  EXPECT_GT(clamped, 0);
}

// Each compiled variant of the three stages, called directly on whole
// planes, gives the plain rules' samples at every white level and tile.
TEST(EngineAtDepth, EveryCompiledVariantGivesThePlainRulesSamples) {
  std::mt19937 random(41);
  for (const SimdLevel level : kAllSimdLevels) {
    if (!ProcessorRuns(level)) continue;
    for (const int white : kWhiteLevels) {
      for (const BayerPattern pattern : kAllPatterns) {
        for (auto [w, h] : kVariantSizes) {
          const auto mosaic = RandomSamples(static_cast<std::size_t>(w) * h, white, random);
          const ConstMosaicView16 view = MakeMosaicView(mosaic, w, h, pattern, 0, white);
          const auto sites = static_cast<std::size_t>(w) * h;
          // A marker no stage writes, small enough for the colour stage's
          // discarded sums at green sites.
          std::vector<engine::WideDiff> planes(3 * sites, 0x5A5A5A);
          const engine::WideDiffRows horizontal{planes.data(), w, h};
          const engine::WideDiffRows vertical{planes.data() + sites, w, h};
          const engine::WideDiffRows fused{planes.data() + 2 * sites, w, h};
          std::vector<std::uint16_t> output(3 * sites, kOutputMarker);
          engine::EstimateDirectionalDifferences(engine::WholeMosaic(view), pattern, 0, h,
                                                 horizontal, vertical, level);
          engine::FuseDirections(engine::WholeMosaic(view), pattern, 0, h, horizontal, vertical,
                                 fused, level);
          engine::ReconstructColors(
              engine::WholeMosaic(view), pattern, 0, h, fused,
              engine::WholeImage(MakeImageView(output, w, h, 0, ChannelOrder::kBGR, white)), level);
          ASSERT_EQ(output, PlainReconstruct(mosaic, w, h, pattern, white))
              << "variant " << static_cast<int>(level) << " " << Describe(pattern, w, h, white);
        }
      }
    }
  }
}

// Through the public call, every way of splitting the rows gives the plain
// rules' samples.
TEST(EngineAtDepth, BandsAndThreadsGiveThePlainRulesSamples) {
  std::mt19937 random(7);
  for (const int white : kWhiteLevels) {
    for (auto [w, h] : kSplitSizes) {
      for (const BayerPattern pattern : kAllPatterns) {
        const auto mosaic = RandomSamples(static_cast<std::size_t>(w) * h, white, random);
        const auto expected = PlainReconstruct(mosaic, w, h, pattern, white);
        for (const int threads : kThreadCounts) {
          for (const int band : kBandHeights) {
            ReconstructionOptions options;
            options.threads = threads;
            options.band_rows = BandRowsFor(band, h);
            ASSERT_EQ(Reconstruct(mosaic, w, h, pattern, white, options), expected)
                << Describe(pattern, w, h, white) << ", " << threads << " threads, bands of "
                << options.band_rows;
          }
        }
      }
    }
  }
}

// In place, at every white level: the samples of the separate passes, and
// ComputeQuality's figures (peak W) of them against the original.
TEST(EngineAtDepth, InPlaceGivesTheSeparatePassesSamplesAndFigures) {
  std::mt19937 random(43);
  for (const int white : kWhiteLevels) {
    for (const BayerPattern pattern : kAllPatterns) {
      for (auto [w, h] : {std::pair{7, 7}, std::pair{33, 21}, std::pair{64, 45}}) {
        for (const int band : kBandHeights) {
          auto image = RandomSamples(3 * static_cast<std::size_t>(w) * h, white, random);
          const auto original = image;
          std::vector<std::uint16_t> mosaic(static_cast<std::size_t>(w) * h);
          SampleMosaic(MakeImageView(original, w, h, 0, ChannelOrder::kBGR, white),
                       MakeMosaicView(mosaic, w, h, pattern, 0, white));
          ASSERT_EQ(mosaic, PlainSample(original, w, h, pattern));
          ReconstructionOptions options;
          options.band_rows = BandRowsFor(band, h);
          const auto separate = Reconstruct(mosaic, w, h, pattern, white, options);
          const QualityFigures expected =
              ComputeQuality(MakeImageView(original, w, h, 0, ChannelOrder::kBGR, white),
                             MakeImageView(separate, w, h, 0, ChannelOrder::kBGR, white));
          const QualityFigures figures = ReconstructInPlace(
              MakeImageView(image, w, h, 0, ChannelOrder::kBGR, white), pattern, options);
          ASSERT_EQ(image, separate) << Describe(pattern, w, h, white);
          EXPECT_EQ(figures.psnr_r, expected.psnr_r) << Describe(pattern, w, h, white);
          EXPECT_EQ(figures.psnr_g, expected.psnr_g) << Describe(pattern, w, h, white);
          EXPECT_EQ(figures.psnr_b, expected.psnr_b) << Describe(pattern, w, h, white);
          EXPECT_EQ(figures.cpsnr, expected.cpsnr) << Describe(pattern, w, h, white);
        }
      }
    }
  }
}

// A 16-bit mosaic of white level 255 holding an 8-bit mosaic's values is
// reconstructed to the same values.
TEST(EngineAtDepth, WhiteLevel255GivesTheEightBitPixels) {
  std::mt19937 random(11);
  const int w = 45;
  const int h = 38;
  std::vector<std::uint8_t> mosaic8(static_cast<std::size_t>(w) * h);
  for (auto& v : mosaic8) v = static_cast<std::uint8_t>(random() % 256);
  const std::vector<std::uint16_t> mosaic16(mosaic8.begin(), mosaic8.end());
  for (const BayerPattern pattern : kAllPatterns) {
    std::vector<std::uint8_t> output8(3 * mosaic8.size());
    ReconstructFromMosaic(MakeMosaicView(mosaic8, w, h, pattern), MakeImageView(output8, w, h));
    const auto output16 = Reconstruct(mosaic16, w, h, pattern, 255);
    ASSERT_EQ(output16, std::vector<std::uint16_t>(output8.begin(), output8.end()))
        << PatternName(pattern);
  }
}

// Samples above the white level are outside the contract: the values are
// then unspecified, but the call stays within its views and every output
// sample within the white level.
TEST(EngineAtDepth, SamplesAboveTheWhiteLevelStayWithinTheViews) {
  const int w = 20;
  const int h = 15;
  const int white = 1023;
  std::vector<std::uint16_t> mosaic(static_cast<std::size_t>(w) * h, 65535);
  for (std::size_t k = 0; k < mosaic.size(); k += 3) mosaic[k] = 0;
  const auto output = Reconstruct(mosaic, w, h, BayerPattern::kGRBG, white);
  for (const std::uint16_t v : output) ASSERT_LE(v, white);
}

// 16-bit samples double the sample rows and the differences' width: the
// working memory grows, still with the width alone.
TEST(EngineAtDepth, WorkingMemoryCountsTheWiderSamples) {
  const std::size_t eight = ReconstructionWorkingBytes(1000, {}, 1);
  const std::size_t sixteen = ReconstructionWorkingBytes(1000, {}, 2);
  EXPECT_EQ(ReconstructionWorkingBytes(1000), eight);
  EXPECT_GT(sixteen, eight);
  EXPECT_LE(sixteen, 2 * eight);
  EXPECT_EQ(ReconstructionWorkingBytes(2000, {}, 2), 2 * sixteen);
  EXPECT_THROW(ReconstructionWorkingBytes(1000, {}, 3), std::invalid_argument);
}

}  // namespace
}  // namespace demosaic::testing
