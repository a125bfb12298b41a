// The checks every quality figure makes on its arguments: two images of one
// size and a border that leaves enough pixels to measure.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "demosaic/image.h"

namespace demosaic {

// Throws std::invalid_argument, naming `what`, unless both images have one
// size, border >= 0 and the interior at least `border` from every edge is at
// least `minimum_side` pixels on each side.
inline void CheckMeasuredRegion(const char* what, ConstImageView reference,
                                ConstImageView reconstruction, std::int32_t border,
                                std::int32_t minimum_side) {
  const std::string name(what);
  if (reference.width != reconstruction.width || reference.height != reconstruction.height) {
    throw std::invalid_argument(name + ": the images differ in size");
  }
  if (border < 0) throw std::invalid_argument(name + ": negative border");
  const std::int64_t columns = std::int64_t{reference.width} - 2 * std::int64_t{border};
  const std::int64_t rows = std::int64_t{reference.height} - 2 * std::int64_t{border};
  if (columns < minimum_side || rows < minimum_side) {
    throw std::invalid_argument(
        name + ": a " + std::to_string(reference.width) + " x " + std::to_string(reference.height) +
        " image with border " + std::to_string(border) + " leaves fewer than " +
        std::to_string(minimum_side) + " x " + std::to_string(minimum_side) + " pixels to measure");
  }
}

}  // namespace demosaic
