// Views of the pixels the library reads and writes: 8-bit colour images and
// 8-bit Bayer mosaics, each with an explicit row stride, so that a caller's
// own buffer (an OpenCV matrix, a numpy array, a cropped region) can be passed
// without copying. A view never owns memory. A mosaic view carries the Bayer
// tile its samples were taken through, so that no call can read it with
// another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "demosaic/bayer.h"
#include "demosaic/export.h"

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

// A Bayer mosaic of `width` x `height` 8-bit samples, one per site, taken
// through the tile `pattern` (as it falls at the view's top-left site). Row r
// starts at data + r * stride (bytes, at least width); its samples are
// contiguous. Make views with MakeMosaicView, which requires the tile.
struct ConstMosaicView {
  const std::uint8_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  BayerPattern pattern = BayerPattern::kGRBG;

  const std::uint8_t* Row(std::int32_t r) const { return data + r * stride; }
};

struct MosaicView {
  std::uint8_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  BayerPattern pattern = BayerPattern::kGRBG;

  std::uint8_t* Row(std::int32_t r) const { return data + r * stride; }
  operator ConstMosaicView() const { return {data, width, height, stride, pattern}; }
};

// Views over `bytes`. A stride of 0 means packed rows (3 * width for images,
// width for mosaics). Requires width >= 0, height >= 0, a stride of at least
// one packed row, and `bytes` long enough for every row's pixels (the last row
// need not be padded). Throws std::invalid_argument, saying which requirement
// failed, otherwise; never copies. A mosaic view needs the tile its samples
// are (or will be) taken through: there is no default.
DEMOSAIC_EXPORT ConstImageView MakeImageView(std::span<const std::uint8_t> bytes,
                                             std::int32_t width, std::int32_t height,
                                             std::ptrdiff_t stride = 0,
                                             ChannelOrder order = ChannelOrder::kBGR);
DEMOSAIC_EXPORT ImageView MakeImageView(std::span<std::uint8_t> bytes, std::int32_t width,
                                        std::int32_t height, std::ptrdiff_t stride = 0,
                                        ChannelOrder order = ChannelOrder::kBGR);
DEMOSAIC_EXPORT ConstMosaicView MakeMosaicView(std::span<const std::uint8_t> bytes,
                                               std::int32_t width, std::int32_t height,
                                               BayerPattern pattern, std::ptrdiff_t stride = 0);
DEMOSAIC_EXPORT MosaicView MakeMosaicView(std::span<std::uint8_t> bytes, std::int32_t width,
                                          std::int32_t height, BayerPattern pattern,
                                          std::ptrdiff_t stride = 0);

// The same over a whole std::vector: a const vector gives a read-only view,
// any other a writable one (a vector converts to either span, so without these
// the call would be ambiguous). A temporary vector is refused at compile time:
// its view would outlive the bytes.
inline ConstImageView MakeImageView(const std::vector<std::uint8_t>& bytes, std::int32_t width,
                                    std::int32_t height, std::ptrdiff_t stride = 0,
                                    ChannelOrder order = ChannelOrder::kBGR) {
  return MakeImageView(std::span<const std::uint8_t>(bytes), width, height, stride, order);
}
inline ImageView MakeImageView(std::vector<std::uint8_t>& bytes, std::int32_t width,
                               std::int32_t height, std::ptrdiff_t stride = 0,
                               ChannelOrder order = ChannelOrder::kBGR) {
  return MakeImageView(std::span<std::uint8_t>(bytes), width, height, stride, order);
}
inline ConstMosaicView MakeMosaicView(const std::vector<std::uint8_t>& bytes, std::int32_t width,
                                      std::int32_t height, BayerPattern pattern,
                                      std::ptrdiff_t stride = 0) {
  return MakeMosaicView(std::span<const std::uint8_t>(bytes), width, height, pattern, stride);
}
inline MosaicView MakeMosaicView(std::vector<std::uint8_t>& bytes, std::int32_t width,
                                 std::int32_t height, BayerPattern pattern,
                                 std::ptrdiff_t stride = 0) {
  return MakeMosaicView(std::span<std::uint8_t>(bytes), width, height, pattern, stride);
}
ConstImageView MakeImageView(std::vector<std::uint8_t>&& bytes, std::int32_t width,
                             std::int32_t height, std::ptrdiff_t stride = 0,
                             ChannelOrder order = ChannelOrder::kBGR) = delete;
ConstMosaicView MakeMosaicView(std::vector<std::uint8_t>&& bytes, std::int32_t width,
                               std::int32_t height, BayerPattern pattern,
                               std::ptrdiff_t stride = 0) = delete;

// The region of `view` of `width` x `height` pixels whose top-left pixel is
// (x, y) (column x, row y), sharing its memory, stride and channel order.
// Requires x, y, width and height >= 0 with x + width <= view.width and
// y + height <= view.height; throws std::invalid_argument, saying which
// requirement failed, otherwise. Never copies.
DEMOSAIC_EXPORT ConstImageView CropImage(ConstImageView view, std::int32_t x, std::int32_t y,
                                         std::int32_t width, std::int32_t height);
DEMOSAIC_EXPORT ImageView CropImage(ImageView view, std::int32_t x, std::int32_t y,
                                    std::int32_t width, std::int32_t height);

// The same for a mosaic. The crop carries the tile as it falls at its
// top-left site, PatternAtSite(view.pattern, y, x): reconstructing the crop
// gives what reconstructing its samples taken afresh with that tile would.
DEMOSAIC_EXPORT ConstMosaicView CropMosaic(ConstMosaicView view, std::int32_t x, std::int32_t y,
                                           std::int32_t width, std::int32_t height);
DEMOSAIC_EXPORT MosaicView CropMosaic(MosaicView view, std::int32_t x, std::int32_t y,
                                      std::int32_t width, std::int32_t height);

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
