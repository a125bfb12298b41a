// PNG streams written by hand, for tests of what decoders make of them.
#pragma once

#include <cstdint>
#include <string>

namespace demosaic::testing {

// A chunk with its CRC, a signature and header declaring any size, and a
// complete black 1-bit greyscale image, a few hundred kilobytes on disk for
// 30000 x 30000 pixels.
std::string BigEndian32(std::uint32_t v);
std::string PngChunk(const std::string& type, const std::string& data);
std::string PngHeader(std::uint32_t width, std::uint32_t height, char bit_depth, char colour);
std::string BlackBilevelPng(std::uint32_t width, std::uint32_t height);

}  // namespace demosaic::testing
