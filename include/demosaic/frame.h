// The black frame that every reconstruction leaves, and so the border that
// every quality figure leaves out by default.
#pragma once

#include <cstdint>

namespace demosaic {

// The reconstruction leaves a black frame this many pixels wide on every
// side: its windows need that many neighbours. Quality figures leave out at
// least this frame.
inline constexpr std::int32_t kFrameWidth = 3;

// The smallest width and height with a reconstructed interior (one pixel).
inline constexpr std::int32_t kMinimumSide = 2 * kFrameWidth + 1;

}  // namespace demosaic
