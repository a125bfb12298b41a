// Names of the Bayer tiles.
#include <array>
#include <cctype>

#include "demosaic/bayer.h"

namespace demosaic {
namespace {

constexpr std::array<BayerPattern, 4> kPatterns = {BayerPattern::kGRBG, BayerPattern::kRGGB,
                                                   BayerPattern::kBGGR, BayerPattern::kGBRG};

}  // namespace

std::string_view PatternName(BayerPattern pattern) {
  switch (pattern) {
    case BayerPattern::kRGGB:
      return "RGGB";
    case BayerPattern::kBGGR:
      return "BGGR";
    case BayerPattern::kGBRG:
      return "GBRG";
    case BayerPattern::kGRBG:
      break;
  }
  return "GRBG";
}

std::optional<BayerPattern> ParsePattern(std::string_view name) {
  if (name.size() != 4) return std::nullopt;
  for (const BayerPattern pattern : kPatterns) {
    const std::string_view candidate = PatternName(pattern);
    bool same = true;
    for (std::size_t i = 0; i < 4; ++i) {
      same = same && std::toupper(static_cast<unsigned char>(name[i])) == candidate[i];
    }
    if (same) return pattern;
  }
  return std::nullopt;
}

}  // namespace demosaic
