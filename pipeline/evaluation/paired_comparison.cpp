// Paired differences, wins, ties and losses, and the bootstrap interval.
#include "evaluation/paired_comparison.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "evaluation/noise.h"

namespace demosaic {
namespace {

std::uint64_t HashText(const std::string& text, std::uint64_t hash) {
  hash = Fnv1a64(std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(text.data()),
                                                text.size()),
                 hash);
  const unsigned char zero = 0;
  return Fnv1a64(std::span<const unsigned char>(&zero, 1), hash);
}

}  // namespace

PairedDifferences DifferencesOf(const std::vector<ImageResult>& images, std::size_t method,
                                std::size_t against, Figure figure) {
  PairedDifferences result;
  const double sign = HigherIsBetter(figure) ? 1.0 : -1.0;
  for (const ImageResult& image : images) {
    const MethodOutcome& a = image.methods[method];
    const MethodOutcome& b = image.methods[against];
    if (!a.measured || !b.measured) continue;
    const double value = FigureValue(a.figures, figure);
    const double reference = FigureValue(b.figures, figure);
    if (value == reference) {
      ++result.ties;
      result.finite.push_back(0.0);
      continue;
    }
    const double difference = sign * (value - reference);
    if (difference > 0) ++result.wins;
    if (difference < 0) ++result.losses;
    if (std::isfinite(difference)) result.finite.push_back(difference);
  }
  return result;
}

Interval BootstrapInterval(const std::vector<double>& differences, std::uint64_t key,
                           std::size_t resamples) {
  const std::size_t n = differences.size();
  std::vector<double> means(resamples);
  for (std::size_t r = 0; r < resamples; ++r) {
    double sum = 0.0;
    for (std::size_t j = 0; j < n; ++j) sum += differences[CounterWord(key, r, j) % n];
    means[r] = sum / static_cast<double>(n);
  }
  std::sort(means.begin(), means.end());
  const auto low = static_cast<std::size_t>(std::floor(0.025 * static_cast<double>(resamples)));
  const auto high = static_cast<std::size_t>(std::ceil(0.975 * static_cast<double>(resamples)));
  return {means[std::min(low, resamples - 1)], means[std::max<std::size_t>(high, 1) - 1]};
}

std::uint64_t BootstrapKey(std::uint64_t seed, const std::string& method,
                           const std::string& against, Figure figure, const std::string& noise) {
  unsigned char seed_bytes[8];
  for (int k = 0; k < 8; ++k) seed_bytes[k] = static_cast<unsigned char>(seed >> (8 * k));
  std::uint64_t hash = Fnv1a64(seed_bytes);
  for (const std::string& text :
       {std::string("bootstrap"), method, against, std::string(FigureName(figure)), noise}) {
    hash = HashText(text, hash);
  }
  return hash;
}

std::vector<PairedComparison> CompareWithFirst(const TableLayout& layout,
                                               const std::vector<std::vector<ImageResult>>& levels,
                                               const std::vector<Figure>& figures,
                                               std::uint64_t seed) {
  std::vector<PairedComparison> comparisons;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t level = 0; level < levels.size(); ++level) {
    for (std::size_t m = 1; m < layout.methods.size(); ++m) {
      for (const Figure figure : figures) {
        const PairedDifferences differences = DifferencesOf(levels[level], m, 0, figure);
        PairedComparison comparison{layout.methods[m].name,
                                    layout.methods[0].name,
                                    figure,
                                    layout.noise.at(level),
                                    differences.finite.size(),
                                    nan,
                                    {nan, nan},
                                    differences.wins,
                                    differences.ties,
                                    differences.losses};
        if (!differences.finite.empty()) {
          double sum = 0.0;
          for (const double d : differences.finite) sum += d;
          comparison.mean_difference = sum / static_cast<double>(differences.finite.size());
          comparison.ci95 = BootstrapInterval(
              differences.finite,
              BootstrapKey(seed, comparison.method, comparison.against, figure, comparison.noise));
        }
        comparisons.push_back(comparison);
      }
    }
  }
  return comparisons;
}

}  // namespace demosaic
