// PNG streams written by hand: chunks, headers and a bilevel image.
#include "support/png_chunks.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace demosaic::testing {

std::string BigEndian32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
  std::string chunk = BigEndian32(static_cast<std::uint32_t>(data.size())) + type + data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4),
                    static_cast<uInt>(chunk.size() - 4));
  return chunk + BigEndian32(static_cast<std::uint32_t>(crc));
}

std::string PngHeader(std::uint32_t width, std::uint32_t height, char bit_depth, char colour) {
  const std::string ihdr =
      BigEndian32(width) + BigEndian32(height) + std::string{bit_depth, colour, 0, 0, 0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr);
}

std::string BlackBilevelPng(std::uint32_t width, std::uint32_t height) {
  z_stream stream{};
  EXPECT_EQ(deflateInit(&stream, 9), Z_OK);
  const std::vector<unsigned char> row(1 + (width + 7) / 8, 0);  // filter byte, then pixels
  std::string compressed;
  std::vector<unsigned char> buffer(1 << 16);
  for (std::uint32_t r = 0; r <= height; ++r) {
    const bool last = r == height;
    stream.next_in = const_cast<Bytef*>(row.data());
    stream.avail_in = last ? 0 : static_cast<uInt>(row.size());
    do {
      stream.next_out = buffer.data();
      stream.avail_out = static_cast<uInt>(buffer.size());
      deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
      compressed.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);
  return PngHeader(width, height, 1, 0) + PngChunk("IDAT", compressed) + PngChunk("IEND", "");
}

}  // namespace demosaic::testing
