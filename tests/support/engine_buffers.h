// Whole-image difference planes for calling the engine's stages directly,
// filled with a marker value first so that "not written" never rests on
// memory that happens to be zero.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "demosaic/image.h"
#include "engine/stages.h"

namespace demosaic::testing {

// A value no stage ever writes (differences lie in -255 .. 255).
inline constexpr engine::Diff kMarker = 0x5A5A;

struct WholePlane {
  WholePlane(int width, int height)
      : width(width), values(static_cast<std::size_t>(width) * height, kMarker) {}
  engine::DiffRows Rows() {
    return {values.data(), width, static_cast<std::int32_t>(values.size() / width)};
  }
  engine::Diff At(int r, int c) const { return values[static_cast<std::size_t>(r) * width + c]; }
  engine::Diff& At(int r, int c) { return values[static_cast<std::size_t>(r) * width + c]; }
  int width;
  std::vector<engine::Diff> values;
};

inline std::vector<std::uint8_t> RandomBytes(std::size_t count, std::mt19937& random) {
  std::vector<std::uint8_t> bytes(count);
  for (auto& v : bytes) v = static_cast<std::uint8_t>(random() % 256);
  return bytes;
}

inline ConstMosaicView PackedMosaic(const std::vector<std::uint8_t>& samples, int width, int height,
                                    BayerPattern pattern) {
  return MakeMosaicView(samples, width, height, pattern);
}

}  // namespace demosaic::testing
