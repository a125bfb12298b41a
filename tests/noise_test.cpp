// The noise generator, the noise levels, the paired statistics and the
// baseline reader, called directly.
#include "evaluation/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "evaluation/paired_comparison.h"
#include "report/baseline.h"
#include "report/table.h"

namespace demosaic {
namespace {

NoiseLevel Level(const std::string& text) {
  const Expected<std::vector<NoiseLevel>> levels = ParseNoiseLevels(text);
  EXPECT_TRUE(levels.ok()) << text;
  return levels.value().front();
}

struct Moments {
  double mean = 0.0;
  double deviation = 0.0;
};

template <typename Sample>
Moments MomentsOf(const std::vector<Sample>& samples) {
  double sum = 0.0;
  for (const Sample s : samples) sum += s;
  const double mean = sum / static_cast<double>(samples.size());
  double squares = 0.0;
  for (const Sample s : samples) squares += (s - mean) * (s - mean);
  return {mean, std::sqrt(squares / static_cast<double>(samples.size()))};
}

constexpr std::int32_t kSide = 512;
constexpr double kSites = static_cast<double>(kSide) * kSide;

// Noise of a flat mosaic at `value` and white level 255: over N = 512^2
// sites the sample mean of a noise of standard deviation s lies within
// 5 s / sqrt(N) of the value, and the sample standard deviation within
// 5 s / sqrt(2 N) of s (its standard error for normal samples), where s
// includes rounding to integers (variance s^2 + 1/12). A wrong transform
// (a log that is off, a uniform that is biased) moves them far further.
void ExpectFlatNoise8(std::uint8_t value, const std::string& level, double deviation) {
  std::vector<std::uint8_t> mosaic(kSide * kSide, value);
  AddNoise(mosaic, kSide, kSide, kSide, Level(level), NoiseKey(7, "flat.png", Level(level)));
  const Moments moments = MomentsOf(mosaic);
  const double s = std::sqrt(deviation * deviation + 1.0 / 12.0);
  EXPECT_NEAR(moments.mean, value, 5.0 * s / std::sqrt(kSites)) << level;
  EXPECT_NEAR(moments.deviation, s, 5.0 * s / std::sqrt(2.0 * kSites)) << level;
}

TEST(Noise, GaussianOnFlatGreyHasItsMeanAndDeviation) {
  ExpectFlatNoise8(128, "gaussian:5", 5.0);
  ExpectFlatNoise8(128, "gaussian:12.5", 12.5);
}

TEST(Noise, PoissonGaussianVarianceFollowsTheValue) {
  // Variance A x 128 + B at mid grey, A x 64 + B at quarter grey.
  ExpectFlatNoise8(128, "poisson-gaussian:1,4", std::sqrt(128.0 + 4.0));
  ExpectFlatNoise8(64, "poisson-gaussian:0.5,2", std::sqrt(32.0 + 2.0));
}

// At white level 65535 the 8-bit parameters scale by 257: standard
// deviation 5 x 257, and a poisson-gaussian variance (A x 128 + B) x 257^2 at
// the value 128 x 257. Rounding is negligible at this scale.
TEST(Noise, SixteenBitMosaicsScaleTheLevelsToTheirWhite) {
  for (const auto& [text, deviation8] :
       {std::pair<std::string, double>{"gaussian:5", 5.0},
        std::pair<std::string, double>{"poisson-gaussian:1,4", std::sqrt(132.0)}}) {
    std::vector<std::uint16_t> mosaic(kSide * kSide, 128 * 257);
    AddNoise(mosaic, kSide, kSide, kSide, 65535, Level(text), NoiseKey(7, "flat", Level(text)));
    const Moments moments = MomentsOf(mosaic);
    const double s = deviation8 * 257.0;
    EXPECT_NEAR(moments.mean, 128.0 * 257.0, 5.0 * s / std::sqrt(kSites)) << text;
    EXPECT_NEAR(moments.deviation, s, 5.0 * s / std::sqrt(2.0 * kSites)) << text;
  }
}

TEST(Noise, ZeroLevelsChangeNothing) {
  std::vector<std::uint8_t> mosaic(97 * 61);
  for (std::size_t k = 0; k < mosaic.size(); ++k) mosaic[k] = static_cast<std::uint8_t>(k * 37);
  const std::vector<std::uint8_t> clean = mosaic;
  for (const std::string text : {"gaussian:0", "poisson-gaussian:0,0", "none"}) {
    AddNoise(mosaic, 97, 61, 97, Level(text), NoiseKey(3, "x", Level(text)));
    EXPECT_EQ(mosaic, clean) << text;
  }
}

TEST(Noise, SamplesAreClampedToTheWhiteLevel) {
  std::vector<std::uint8_t> mosaic(4096, 250);
  AddNoise(mosaic, 64, 64, 64, Level("gaussian:40"), 1);
  EXPECT_EQ(*std::max_element(mosaic.begin(), mosaic.end()), 255);
  std::vector<std::uint8_t> dark(4096, 3);
  AddNoise(dark, 64, 64, 64, Level("gaussian:40"), 1);
  EXPECT_EQ(*std::min_element(dark.begin(), dark.end()), 0);
}

// The noise of a site depends on its row and column, not on where its row
// starts in memory, and on the key: seed, name and level each change it.
TEST(Noise, DependsOnTheKeyAndTheSiteOnly) {
  const NoiseLevel level = Level("gaussian:10");
  std::vector<std::uint8_t> packed(40 * 30, 100);
  std::vector<std::uint8_t> strided(48 * 30, 100);
  AddNoise(packed, 40, 30, 40, level, NoiseKey(5, "a.png", level));
  AddNoise(strided, 40, 30, 48, level, NoiseKey(5, "a.png", level));
  for (int r = 0; r < 30; ++r) {
    for (int c = 0; c < 40; ++c) ASSERT_EQ(packed[r * 40 + c], strided[r * 48 + c]);
  }
  EXPECT_NE(NoiseKey(5, "a.png", level), NoiseKey(6, "a.png", level));
  EXPECT_NE(NoiseKey(5, "a.png", level), NoiseKey(5, "b.png", level));
  EXPECT_NE(NoiseKey(5, "a.png", level), NoiseKey(5, "a.png", Level("gaussian:11")));
  std::vector<std::uint8_t> other(40 * 30, 100);
  AddNoise(other, 40, 30, 40, level, NoiseKey(6, "a.png", level));
  EXPECT_NE(other, packed);
}

// The generator's pieces are the published ones: SplitMix64's first output
// from state 0 and FNV-1a's value for "a", so that the README's description
// is enough to reimplement it.
TEST(Noise, GeneratorPiecesMatchTheirPublishedValues) {
  EXPECT_EQ(Mix64(0x9E3779B97F4A7C15ULL), 0xe220a8397b1dcdafULL);
  const unsigned char a = 'a';
  EXPECT_EQ(Fnv1a64(std::span<const unsigned char>(&a, 1)), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(CounterWord(11, 3, 2),
            Mix64(Mix64(11 + 3 * 0x9E3779B97F4A7C15ULL) + 2 * 0x9E3779B97F4A7C15ULL));
}

TEST(Noise, PortableLogAgreesWithTheLibrarysToAFewUnitsInTheLastPlace) {
  for (double x = 1e-300; x < 1e300; x *= 1.37) {
    const double expected = std::log(x);
    EXPECT_NEAR(PortableLog(x), expected, 4e-16 * std::max(1.0, std::fabs(expected))) << x;
  }
  for (double x = 0.5; x < 2.0; x += 0.001) {
    EXPECT_NEAR(PortableLog(x), std::log(x), 4e-16) << x;
  }
  EXPECT_EQ(PortableLog(1.0), 0.0);
}

TEST(NoiseLevels, ParseListsAndRefuseWhatIsNotALevel) {
  const Expected<std::vector<NoiseLevel>> gaussian = ParseNoiseLevels("gaussian:5,10.5");
  ASSERT_TRUE(gaussian.ok());
  ASSERT_EQ(gaussian.value().size(), 2u);
  EXPECT_EQ(NoiseName(gaussian.value()[1]), "gaussian:10.5");
  const Expected<std::vector<NoiseLevel>> pairs = ParseNoiseLevels("poisson-gaussian:0.5,2,1,4");
  ASSERT_TRUE(pairs.ok());
  ASSERT_EQ(pairs.value().size(), 2u);
  EXPECT_EQ(NoiseName(pairs.value()[0]), "poisson-gaussian:0.5,2");
  EXPECT_EQ(NoiseName(Level("gaussian:5.0")), "gaussian:5");  // one name, one noise
  for (const char* bad : {"gaussian", "gaussian:", "gaussian:-1", "gaussian:nan", "gaussian:1e9",
                          "gaussian:0x10", "poisson-gaussian:1", "laplace:3", "gaussian:5,,6"}) {
    EXPECT_FALSE(ParseNoiseLevels(bad).ok()) << bad;
  }
}

TEST(Bootstrap, IsReproducibleForAKeyAndItsIntervalHoldsTheMean) {
  std::vector<double> differences;
  for (int k = 0; k < 400; ++k) differences.push_back(NormalDeviate(99, k) + 0.3);
  const double mean =
      std::accumulate(differences.begin(), differences.end(), 0.0) / differences.size();
  const Interval first = BootstrapInterval(differences, 1234);
  const Interval again = BootstrapInterval(differences, 1234);
  EXPECT_EQ(first.low, again.low);
  EXPECT_EQ(first.high, again.high);
  const Interval other = BootstrapInterval(differences, 1235);
  EXPECT_NE(first.low, other.low);
  EXPECT_LT(first.low, mean);
  EXPECT_GT(first.high, mean);
  // About mean +- 1.96 s / sqrt(n) for n = 400 samples of s near 1: the
  // half-width within 20 % of 0.098.
  EXPECT_NEAR((first.high - first.low) / 2.0, 1.96 / 20.0, 0.2 * 1.96 / 20.0);
}

TEST(Bootstrap, ConstantDifferencesGiveAPointInterval) {
  const Interval interval = BootstrapInterval(std::vector<double>(7, 0.25), 1);
  EXPECT_EQ(interval.low, 0.25);
  EXPECT_EQ(interval.high, 0.25);
}

ImageResult Image(const std::string& name, double first_cpsnr, double first_de2000,
                  double second_cpsnr, double second_de2000) {
  ImageResult image{name, 10, 10, {MethodOutcome{}, MethodOutcome{}}};
  image.methods[0].figures.psnr.cpsnr = first_cpsnr;
  image.methods[0].figures.de2000 = first_de2000;
  image.methods[1].figures.psnr.cpsnr = second_cpsnr;
  image.methods[1].figures.de2000 = second_de2000;
  return image;
}

// A positive difference is an improvement for every figure: higher PSNR,
// lower DE2000. An exact reconstruction (+inf) wins without entering the
// mean; an unmeasured method's image is left out.
TEST(PairedDifferences, SignMeansImprovementAndTiesAreExact) {
  std::vector<ImageResult> images{Image("a", 30, 2, 31, 1.5), Image("b", 30, 2, 30, 2),
                                  Image("c", 30, 2, 29.5, 2.5), Image("d", 30, 2, HUGE_VAL, 2)};
  images.push_back(Image("e", 30, 2, 40, 1));
  images.back().methods[1].measured = false;
  const PairedDifferences cpsnr = DifferencesOf(images, 1, 0, Figure::kCpsnr);
  EXPECT_EQ(cpsnr.wins, 2u);
  EXPECT_EQ(cpsnr.ties, 1u);
  EXPECT_EQ(cpsnr.losses, 1u);
  EXPECT_EQ(cpsnr.finite, (std::vector<double>{1.0, 0.0, -0.5}));
  const PairedDifferences de2000 = DifferencesOf(images, 1, 0, Figure::kDe2000);
  EXPECT_EQ(de2000.wins, 1u);
  EXPECT_EQ(de2000.ties, 2u);
  EXPECT_EQ(de2000.losses, 1u);
  EXPECT_EQ(de2000.finite, (std::vector<double>{0.5, 0.0, -0.5, 0.0}));
}

TableLayout Layout() {
  return MakeTableLayout({{"method"}, {"bilinear"}}, MetricSet{}, false, BayerPattern::kGRBG, 3,
                         {"a.png"});
}

TEST(Baseline, ReadsThisToolsCsvWithQuotedNames) {
  const std::string text =
      CsvHeader(Layout()) +
      "\"a,\"\"b\"\"\nc.png\",8,8,method,30,31,32,inf,1.5,GRBG,3,none,255\r\n" +
      "a.png,8,8,bilinear,,,,,,GRBG,3,none,65535\n";
  const Expected<BaselineTable> table = ParseBaseline(text, "old.csv", Layout());
  ASSERT_TRUE(table.ok()) << table.error().detail;
  ASSERT_EQ(table.value().rows.size(), 2u);
  EXPECT_EQ(table.value().rows[0].image, "a,\"b\"\nc.png");
  EXPECT_EQ(table.value().rows[0].figures[3], HUGE_VAL);
  EXPECT_FALSE(table.value().rows[1].figures[0].has_value());
}

TEST(Baseline, RefusesOtherFilesColumnsTilesAndNumbers) {
  const std::string header = CsvHeader(Layout());
  const std::string row = "a.png,8,8,method,30,31,32,33,1.5,GRBG,3,none,255\n";
  for (const std::string& text :
       {std::string("{\"program\": \"demosaic-bench\"}\n"), std::string(""),
        std::string("image,width,height,method,CPSNR\n") + row,
        header + "a.png,8,8,method,30,31,32,33,1.5,RGGB,3,none,255\n",
        header + "a.png,8,8,method,30,31,32,33,1.5,GRBG,10,none,255\n",
        header + "a.png,8,8,method,30,31,x,33,1.5,GRBG,3,none,255\n",
        header + "a.png,8,8,method,30,31,32\n", header + "\"a.png,8,8\n"}) {
    EXPECT_FALSE(ParseBaseline(text, "old.csv", Layout()).ok()) << text;
  }
  // A CSV from before the noise column is a clean run's baseline.
  const std::string old_header =
      header.substr(0, header.size() - std::string(",noise,white_level\n").size());
  EXPECT_TRUE(
      ParseBaseline(old_header + "\na.png,8,8,method,30,31,32,33,1.5,GRBG,3\n", "old.csv", Layout())
          .ok());
  // So is one from before the white level column, its noise level read.
  const Expected<BaselineTable> before_white =
      ParseBaseline(old_header + ",noise\na.png,8,8,method,30,31,32,33,1.5,GRBG,3,gaussian:4\n",
                    "old.csv", Layout());
  ASSERT_TRUE(before_white.ok()) << before_white.error().detail;
  EXPECT_EQ(before_white.value().rows[0].noise, "gaussian:4");
}

TEST(Baseline, ChangesUseSharedImagesAndRegressionsFollowTheLimit) {
  TableLayout layout = Layout();
  BaselineTable baseline{"old.csv", {}};
  const auto row = [](const std::string& image, const std::string& method, double cpsnr) {
    return BaselineRow{image, method, "none", {30.0, 30.0, 30.0, cpsnr}};
  };
  baseline.rows = {row("a", "method", 40), row("a", "bilinear", 30), row("gone", "method", 10),
                   row("gone", "bilinear", 10)};
  const std::vector<std::vector<ImageResult>> levels{
      {Image("a", 39, 0, 30, 0), Image("new", 1, 0, 1, 0)}};
  const BaselineComparison comparison = CompareWithBaseline(baseline, layout, levels);
  EXPECT_EQ(comparison.only_here, std::vector<std::string>{"new"});
  EXPECT_EQ(comparison.only_baseline, std::vector<std::string>{"gone"});
  bool found = false;
  for (const BaselineChange& change : comparison.changes) {
    if (change.method == "method" && change.figure == Figure::kCpsnr) {
      found = true;
      EXPECT_EQ(change.images, 1u);
      EXPECT_EQ(change.old_mean, 40.0);
      EXPECT_EQ(change.new_mean, 39.0);
    }
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(RegressionsOf(comparison, 0.5).size(), 1u);
  EXPECT_TRUE(RegressionsOf(comparison, 1.0).empty());
}

// Figures at another white level are another measurement: the image is
// listed on both sides and nothing is compared; the white level is read
// from the baseline's last column.
TEST(Baseline, ImagesAtAnotherWhiteLevelAreNotCompared) {
  const TableLayout layout = Layout();
  const Expected<BaselineTable> baseline = ParseBaseline(
      CsvHeader(layout) + "a,8,8,method,30,31,32,33,1.5,GRBG,3,none,4095\n", "old.csv", layout);
  ASSERT_TRUE(baseline.ok()) << baseline.error().detail;
  EXPECT_EQ(baseline.value().rows[0].white_level, 4095);
  EXPECT_FALSE(ParseBaseline(CsvHeader(layout) + "a,8,8,method,30,31,32,33,1.5,GRBG,3,none,0\n",
                             "old.csv", layout)
                   .ok());
  const std::vector<std::vector<ImageResult>> levels{{Image("a", 39, 0, 30, 0)}};
  const BaselineComparison comparison = CompareWithBaseline(baseline.value(), layout, levels);
  EXPECT_TRUE(comparison.changes.empty());
  EXPECT_EQ(comparison.only_here, std::vector<std::string>{"a"});
  EXPECT_EQ(comparison.only_baseline, std::vector<std::string>{"a at white level 4095"});
}

}  // namespace
}  // namespace demosaic
