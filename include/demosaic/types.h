// Shared image and plane types of demosaic-eval: the colour image, the Bayer
// mosaic, the CFA site classes and the colour-difference planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace demosaic {

// W x H pixels of three 8-bit channels interleaved as B, G, R, rows contiguous
// with a stride of exactly 3 * W bytes: pixel (r, c) channel k is at byte
// 3 * (r * W + c) + k. Functions take the bytes plus W and H.
using ColorImage = std::span<std::uint8_t>;
using ConstColorImage = std::span<const std::uint8_t>;

// W x H 8-bit sensor samples, one per site, row-major with stride W.
using MosaicPlane = std::span<std::uint8_t>;
using ConstMosaicPlane = std::span<const std::uint8_t>;

// W x H signed colour differences X - G (X = R or B), row-major with stride W.
// The engine's workspace owns the memory (zero-filled when first obtained).
using DiffPlane = std::span<std::int32_t>;

inline constexpr int kChannelB = 0;
inline constexpr int kChannelG = 1;
inline constexpr int kChannelR = 2;

// Colour of the filter over a site of the GRBG Bayer tile anchored at (0, 0):
// even rows read G R G R ..., odd rows B G B G ...
enum CfaClass : int {
  kGr = 0,  // green on an even (red) row
  kR = 1,
  kB = 2,
  kGb = 3,  // green on an odd (blue) row
};

constexpr CfaClass CfaClassOf(std::int32_t r, std::int32_t c) {
  return static_cast<CfaClass>(((r & 1) << 1) | (c & 1));
}

// Index of site (r, c) in a W-wide plane, computed without 32-bit overflow.
constexpr std::size_t SiteIndex(std::int32_t r, std::int32_t c, std::int32_t width) {
  return static_cast<std::size_t>(r) * static_cast<std::size_t>(width) +
         static_cast<std::size_t>(c);
}

}  // namespace demosaic
