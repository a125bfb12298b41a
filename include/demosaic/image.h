// Views of the pixels the library reads and writes: 8-bit colour images and
// 8-bit Bayer mosaics, each with an explicit row stride, so that a caller's
// own buffer (an OpenCV matrix, a numpy array, a cropped region) can be passed
// without copying. A view never owns memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace demosaic {

// Order of the three interleaved channels of a colour pixel: B, G, R as
// OpenCV stores them, or R, G, B as imageio, Pillow and most other libraries.
enum class ChannelOrder { kBGR, kRGB };

// Byte offset of red and blue within a pixel of this order (green is 1).
constexpr int RedOffset(ChannelOrder order) {
  return order == ChannelOrder::kBGR ? 2 : 0;
}
constexpr int BlueOffset(ChannelOrder order) {
  return order == ChannelOrder::kBGR ? 0 : 2;
}

// A colour image of `width` x `height` pixels, three 8-bit channels each,
// interleaved in `order`. Row r starts at data + r * stride; its pixels are
// contiguous (pixel c at byte 3 * c of the row). The stride is in bytes and
// at least 3 * width; rows may be padded. Make views with MakeImageView,
// which checks the geometry against the buffer.
struct ConstImageView {
  const std::uint8_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  ChannelOrder order = ChannelOrder::kBGR;

  const std::uint8_t* Row(std::int32_t r) const { return data + r * stride; }
};

struct ImageView {
  std::uint8_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  ChannelOrder order = ChannelOrder::kBGR;

  std::uint8_t* Row(std::int32_t r) const { return data + r * stride; }
  operator ConstImageView() const { return {data, width, height, stride, order}; }
};

// A Bayer mosaic of `width` x `height` 8-bit samples, one per site. Row r
// starts at data + r * stride (bytes, at least width); its samples are
// contiguous.
struct ConstMosaicView {
  const std::uint8_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;

  const std::uint8_t* Row(std::int32_t r) const { return data + r * stride; }
};

struct MosaicView {
  std::uint8_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;

  std::uint8_t* Row(std::int32_t r) const { return data + r * stride; }
  operator ConstMosaicView() const { return {data, width, height, stride}; }
};

// Views over `bytes`. A stride of 0 means packed rows (3 * width for images,
// width for mosaics). Requires width >= 0, height >= 0, a stride of at least
// one packed row, and `bytes` long enough for every row's pixels (the last row
// need not be padded). Throws std::invalid_argument, saying which requirement
// failed, otherwise; never copies.
ConstImageView MakeImageView(std::span<const std::uint8_t> bytes, std::int32_t width,
                             std::int32_t height, std::ptrdiff_t stride = 0,
                             ChannelOrder order = ChannelOrder::kBGR);
ImageView MakeImageView(std::span<std::uint8_t> bytes, std::int32_t width, std::int32_t height,
                        std::ptrdiff_t stride = 0, ChannelOrder order = ChannelOrder::kBGR);
ConstMosaicView MakeMosaicView(std::span<const std::uint8_t> bytes, std::int32_t width,
                               std::int32_t height, std::ptrdiff_t stride = 0);
MosaicView MakeMosaicView(std::span<std::uint8_t> bytes, std::int32_t width, std::int32_t height,
                          std::ptrdiff_t stride = 0);

// Bytes a packed image or mosaic of this size occupies: 3 * width * height and
// width * height, computed without overflow on any platform whose size_t
// holds the result. Requires non-negative sizes.
constexpr std::size_t PackedImageBytes(std::int32_t width, std::int32_t height) {
  return 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}
constexpr std::size_t PackedMosaicBytes(std::int32_t width, std::int32_t height) {
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace demosaic
