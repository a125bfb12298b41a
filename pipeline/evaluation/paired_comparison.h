// Paired comparisons of methods over the same images: every method against
// the first, per figure and per noise level, with a paired-bootstrap
// interval drawn from the noise's counter-based generator, so that the
// interval is the same bytes on every machine for a seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "evaluation/figures.h"
#include "report/table.h"

namespace demosaic {

inline constexpr std::size_t kBootstrapResamples = 10000;

// The per-image differences of one method against another on one figure,
// signed so that a positive difference is always an improvement: method
// minus first for PSNR and SSIM, first minus method for DE2000 and zipper.
struct PairedDifferences {
  std::vector<double> finite;  // per image where both are measured and the difference is finite
  std::size_t wins = 0;        // difference > 0 (an infinite one included)
  std::size_t ties = 0;        // exactly equal figures
  std::size_t losses = 0;      // difference < 0
};

// Over the images where both methods were measured (`images[i].methods`
// indexed by `method` and `against`).
PairedDifferences DifferencesOf(const std::vector<ImageResult>& images, std::size_t method,
                                std::size_t against, Figure figure);

struct Interval {
  double low = 0.0;
  double high = 0.0;
};

// The 95 % percentile interval of the mean of `differences` over `resamples`
// paired-bootstrap resamples: resample r takes, for j = 0 .. n-1, the
// difference at CounterWord(key, r, j) mod n, and its mean is their sum in
// that order divided by n; of the sorted means, low is the one at index
// floor(0.025 R), high the one at ceil(0.975 R) - 1. Requires a non-empty
// `differences` and resamples >= 1.
Interval BootstrapInterval(const std::vector<double>& differences, std::uint64_t key,
                           std::size_t resamples = kBootstrapResamples);

// The generator key of one comparison: FNV-1a (64 bits) over the seed's 8
// bytes (least significant first) and "bootstrap", METHOD, AGAINST, FIGURE
// and NOISE, each followed by one zero byte.
std::uint64_t BootstrapKey(std::uint64_t seed, const std::string& method,
                           const std::string& against, Figure figure, const std::string& noise);

struct PairedComparison {
  std::string method;
  std::string against;
  Figure figure = Figure::kCpsnr;
  std::string noise;             // the level's name
  std::size_t images = 0;        // images in the mean and the interval
  double mean_difference = 0.0;  // NaN when no image has a finite difference
  Interval ci95;                 // NaN likewise
  std::size_t wins = 0;
  std::size_t ties = 0;
  std::size_t losses = 0;
};

// Every method of `layout` against the first, for each of `figures` and
// each noise level (`levels[k]` the results of layout.noise[k]). Nothing
// with fewer than two methods.
std::vector<PairedComparison> CompareWithFirst(const TableLayout& layout,
                                               const std::vector<std::vector<ImageResult>>& levels,
                                               const std::vector<Figure>& figures,
                                               std::uint64_t seed);

}  // namespace demosaic
