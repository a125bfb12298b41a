// The ways the engine's work can be split and compiled, shared by the tests
// that check each of them against the plain rules at 8 and at 16 bits: every
// tile, every compiled variant of the stages, band heights and thread counts,
// and the image sizes each is tried at.
#pragma once

#include <cstdio>
#include <utility>

#include "demosaic/bayer.h"
#include "engine/stages.h"

namespace demosaic::testing {

inline constexpr BayerPattern kAllPatterns[] = {BayerPattern::kGRBG, BayerPattern::kRGGB,
                                                BayerPattern::kBGGR, BayerPattern::kGBRG};

inline constexpr engine::SimdLevel kAllSimdLevels[] = {
    engine::SimdLevel::kBaseline, engine::SimdLevel::kAvx2, engine::SimdLevel::kAvx512};

// The variants this processor runs; the others are named as not checked.
inline bool ProcessorRuns(engine::SimdLevel level) {
  if (engine::ProcessorSupports(level)) return true;
  std::printf("note: this processor cannot run variant %d; not checked\n", static_cast<int>(level));
  return false;
}

inline constexpr int kThreadCounts[] = {1, 2, 3, 4};

// Output rows per band; 0 lets the engine choose, and kWholeImageBand stands
// for the image's height (one band).
inline constexpr int kWholeImageBand = -1;
inline constexpr int kBandHeights[] = {1, 2, 3, 5, 0, kWholeImageBand};

inline int BandRowsFor(int band, int height) {
  return band == kWholeImageBand ? height : band;
}

// Sizes at which each compiled variant of the stages is checked: the
// smallest with an interior, and rows longer than the vector loops' steps.
inline constexpr std::pair<int, int> kVariantSizes[] = {{7, 7}, {70, 19}, {131, 12}};

// Sizes at which bands and threads are checked: odd and even, taller and
// wider than a band, rows not a multiple of any thread count.
inline constexpr std::pair<int, int> kSplitSizes[] = {{101, 67}, {64, 97}, {257, 33}};

}  // namespace demosaic::testing
