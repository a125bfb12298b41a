// Views of the pixels the library reads and writes: colour images and Bayer
// mosaics of 8-bit or 16-bit samples, each with an explicit row stride, so that a caller's
// own buffer (an OpenCV matrix, a numpy array, a cropped region) can be passed
// without copying. A view never owns memory. A mosaic view carries the Bayer
// tile its samples were taken through, so that no call can read it with
// another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// ---------------------------------------------------------------------------
// 16-bit samples. A 16-bit view carries its white level W, the largest value
// a sample may take (4095 for 12-bit raw data, 65535 for full 16-bit data);
// the library's bounds and figures scale with it. Every function that takes a
// 16-bit view requires its samples within 0 .. white_level unless it says
// otherwise; with a larger sample it stays memory-safe, but its results are
// unspecified (FindSampleAboveWhite finds such samples).

// The largest white level a 16-bit view may carry.
inline constexpr std::int32_t kMaxWhiteLevel = 65535;

// A colour image of `width` x `height` pixels, three 16-bit channels each,
// interleaved in `order`, values 0 .. white_level. Row r starts at
// data + r * stride; the stride is in SAMPLES (std::uint16_t), not bytes, and
// at least 3 * width. Make views with MakeImageView, which checks the
// geometry and the white level.
struct ConstImageView16 {
  const std::uint16_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  ChannelOrder order = ChannelOrder::kBGR;
  std::int32_t white_level = kMaxWhiteLevel;

  const std::uint16_t* Row(std::int32_t r) const { return data + r * stride; }
};

struct ImageView16 {
  std::uint16_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  ChannelOrder order = ChannelOrder::kBGR;
  std::int32_t white_level = kMaxWhiteLevel;

  std::uint16_t* Row(std::int32_t r) const { return data + r * stride; }
  operator ConstImageView16() const { return {data, width, height, stride, order, white_level}; }
};

// A Bayer mosaic of `width` x `height` 16-bit samples, values
// 0 .. white_level, taken through the tile `pattern` (as it falls at the
// view's top-left site). Row r starts at data + r * stride (in samples, at
// least width). Make views with MakeMosaicView, which requires the tile.
struct ConstMosaicView16 {
  const std::uint16_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t white_level = kMaxWhiteLevel;

  const std::uint16_t* Row(std::int32_t r) const { return data + r * stride; }
};

struct MosaicView16 {
  std::uint16_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t stride = 0;
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t white_level = kMaxWhiteLevel;

  std::uint16_t* Row(std::int32_t r) const { return data + r * stride; }
  operator ConstMosaicView16() const { return {data, width, height, stride, pattern, white_level}; }
};

// Views over `samples`, as for 8 bits with strides and lengths counted in
// samples. Requires in addition 1 <= white_level <= kMaxWhiteLevel; throws
// std::invalid_argument, saying which requirement failed (naming the white
// level when it is that), otherwise. Does not read the samples: a sample
// above the white level is not detected here (see FindSampleAboveWhite).
DEMOSAIC_EXPORT ConstImageView16 MakeImageView(std::span<const std::uint16_t> samples,
                                               std::int32_t width, std::int32_t height,
                                               std::ptrdiff_t stride = 0,
                                               ChannelOrder order = ChannelOrder::kBGR,
                                               std::int32_t white_level = kMaxWhiteLevel);
DEMOSAIC_EXPORT ImageView16 MakeImageView(std::span<std::uint16_t> samples, std::int32_t width,
                                          std::int32_t height, std::ptrdiff_t stride = 0,
                                          ChannelOrder order = ChannelOrder::kBGR,
                                          std::int32_t white_level = kMaxWhiteLevel);
DEMOSAIC_EXPORT ConstMosaicView16 MakeMosaicView(std::span<const std::uint16_t> samples,
                                                 std::int32_t width, std::int32_t height,
                                                 BayerPattern pattern, std::ptrdiff_t stride = 0,
                                                 std::int32_t white_level = kMaxWhiteLevel);
DEMOSAIC_EXPORT MosaicView16 MakeMosaicView(std::span<std::uint16_t> samples, std::int32_t width,
                                            std::int32_t height, BayerPattern pattern,
                                            std::ptrdiff_t stride = 0,
                                            std::int32_t white_level = kMaxWhiteLevel);

// The same over a whole std::vector, as for 8 bits: a const vector gives a
// read-only view, any other a writable one; a temporary is refused.
inline ConstImageView16 MakeImageView(const std::vector<std::uint16_t>& samples, std::int32_t width,
                                      std::int32_t height, std::ptrdiff_t stride = 0,
                                      ChannelOrder order = ChannelOrder::kBGR,
                                      std::int32_t white_level = kMaxWhiteLevel) {
  return MakeImageView(std::span<const std::uint16_t>(samples), width, height, stride, order,
                       white_level);
}
inline ImageView16 MakeImageView(std::vector<std::uint16_t>& samples, std::int32_t width,
                                 std::int32_t height, std::ptrdiff_t stride = 0,
                                 ChannelOrder order = ChannelOrder::kBGR,
                                 std::int32_t white_level = kMaxWhiteLevel) {
  return MakeImageView(std::span<std::uint16_t>(samples), width, height, stride, order,
                       white_level);
}
inline ConstMosaicView16 MakeMosaicView(const std::vector<std::uint16_t>& samples,
                                        std::int32_t width, std::int32_t height,
                                        BayerPattern pattern, std::ptrdiff_t stride = 0,
                                        std::int32_t white_level = kMaxWhiteLevel) {
  return MakeMosaicView(std::span<const std::uint16_t>(samples), width, height, pattern, stride,
                        white_level);
}
inline MosaicView16 MakeMosaicView(std::vector<std::uint16_t>& samples, std::int32_t width,
                                   std::int32_t height, BayerPattern pattern,
                                   std::ptrdiff_t stride = 0,
                                   std::int32_t white_level = kMaxWhiteLevel) {
  return MakeMosaicView(std::span<std::uint16_t>(samples), width, height, pattern, stride,
                        white_level);
}
ConstImageView16 MakeImageView(std::vector<std::uint16_t>&& samples, std::int32_t width,
                               std::int32_t height, std::ptrdiff_t stride = 0,
                               ChannelOrder order = ChannelOrder::kBGR,
                               std::int32_t white_level = kMaxWhiteLevel) = delete;
ConstMosaicView16 MakeMosaicView(std::vector<std::uint16_t>&& samples, std::int32_t width,
                                 std::int32_t height, BayerPattern pattern,
                                 std::ptrdiff_t stride = 0,
                                 std::int32_t white_level = kMaxWhiteLevel) = delete;

// Crops of 16-bit views, as CropImage and CropMosaic for 8 bits; the crop
// keeps the view's white level (and, for a mosaic, carries the tile as it
// falls at its top-left site).
DEMOSAIC_EXPORT ConstImageView16 CropImage(ConstImageView16 view, std::int32_t x, std::int32_t y,
                                           std::int32_t width, std::int32_t height);
DEMOSAIC_EXPORT ImageView16 CropImage(ImageView16 view, std::int32_t x, std::int32_t y,
                                      std::int32_t width, std::int32_t height);
DEMOSAIC_EXPORT ConstMosaicView16 CropMosaic(ConstMosaicView16 view, std::int32_t x, std::int32_t y,
                                             std::int32_t width, std::int32_t height);
DEMOSAIC_EXPORT MosaicView16 CropMosaic(MosaicView16 view, std::int32_t x, std::int32_t y,
                                        std::int32_t width, std::int32_t height);

// A sample above its view's white level: where (row, column and channel
// index within the pixel, in the view's own channel order; 0 for a mosaic),
// and its value.
struct SampleAboveWhite {
  std::int32_t row = 0;
  std::int32_t column = 0;
  std::int32_t channel = 0;
  std::int32_t value = 0;
};

// The first sample of `view` above view.white_level, scanning rows top to
// bottom, pixels left to right and channels in memory order within a pixel;
// nullopt when every sample is within the white level. Reads only the
// view's own samples (not the padding between rows); never fails. This is
// the one function taking a 16-bit view that accepts samples above the white
// level.
DEMOSAIC_EXPORT std::optional<SampleAboveWhite> FindSampleAboveWhite(ConstImageView16 view);
DEMOSAIC_EXPORT std::optional<SampleAboveWhite> FindSampleAboveWhite(ConstMosaicView16 view);

}  // namespace demosaic
