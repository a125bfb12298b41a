// Checked construction of image and mosaic views over callers' buffers, of
// views of a region of another view, and the checks of 16-bit views' white
// levels and samples.
#include <limits>
#include <stdexcept>
#include <string>

#include "demosaic/image.h"
#include "image/white_level.h"

namespace demosaic {
namespace {

// Checks that `available` units (bytes for 8-bit views, samples for 16-bit
// ones, `unit` naming them) hold `height` rows of `pixel_units * width`
// units each, `stride` apart, and returns the stride to use (the packed one
// for 0).
std::ptrdiff_t CheckGeometry(const char* what, std::size_t available, std::int32_t width,
                             std::int32_t height, std::ptrdiff_t stride, std::size_t pixel_bytes,
                             const char* unit = "bytes") {
  const std::string prefix = std::string(what) + " view: ";
  if (width < 0 || height < 0) {
    throw std::invalid_argument(prefix + "negative size " + std::to_string(width) + " x " +
                                std::to_string(height));
  }
  const std::size_t row_bytes = pixel_bytes * static_cast<std::size_t>(width);
  if (row_bytes > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
    throw std::invalid_argument(prefix + "rows too long to address");
  }
  if (stride == 0) stride = static_cast<std::ptrdiff_t>(row_bytes);
  if (stride < 0 || static_cast<std::size_t>(stride) < row_bytes) {
    throw std::invalid_argument(prefix + "row stride " + std::to_string(stride) +
                                " is shorter than a row of " + std::to_string(row_bytes) + " " +
                                unit);
  }
  if (width == 0 || height == 0) return stride;
  // The last row needs only its own pixels, not the padding after them.
  const std::size_t rows_before_last = static_cast<std::size_t>(height) - 1;
  const std::size_t stride_bytes = static_cast<std::size_t>(stride);
  if (rows_before_last > 0 &&
      stride_bytes > (std::numeric_limits<std::size_t>::max() - row_bytes) / rows_before_last) {
    throw std::invalid_argument(prefix + "image too large to address");
  }
  const std::size_t needed = rows_before_last * stride_bytes + row_bytes;
  if (available < needed) {
    throw std::invalid_argument(prefix + std::to_string(width) + " x " + std::to_string(height) +
                                " with row stride " + std::to_string(stride) + " needs " +
                                std::to_string(needed) + " " + unit + ", the buffer holds " +
                                std::to_string(available));
  }
  return stride;
}

// Checks that the region of `width` x `height` at (x, y) lies inside a view
// of `view_width` x `view_height`.
void CheckCrop(const char* what, std::int32_t view_width, std::int32_t view_height, std::int32_t x,
               std::int32_t y, std::int32_t width, std::int32_t height) {
  const std::string prefix = std::string(what) + ": ";
  if (x < 0 || y < 0 || width < 0 || height < 0) {
    throw std::invalid_argument(prefix + "negative position or size");
  }
  // In 64 bits: x + width cannot overflow.
  if (std::int64_t{x} + width > view_width || std::int64_t{y} + height > view_height) {
    throw std::invalid_argument(prefix + std::to_string(width) + " x " + std::to_string(height) +
                                " at (" + std::to_string(x) + ", " + std::to_string(y) +
                                ") reaches outside the " + std::to_string(view_width) + " x " +
                                std::to_string(view_height) + " view");
  }
}

// Byte offset of pixel (x, y) in a view of this stride.
std::ptrdiff_t CropOffset(std::ptrdiff_t stride, std::int32_t x, std::int32_t y,
                          std::ptrdiff_t pixel_bytes) {
  return static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * pixel_bytes;
}

// The checks of a 16-bit view: its white level, then its geometry.
std::ptrdiff_t CheckGeometry16(const char* what, std::size_t available, std::int32_t width,
                               std::int32_t height, std::ptrdiff_t stride,
                               std::size_t pixel_samples, std::int32_t white_level) {
  CheckWhiteLevel((std::string(what) + " view").c_str(), white_level);
  return CheckGeometry(what, available, width, height, stride, pixel_samples, "samples");
}

// The first sample above `white_level` among `samples_per_row` samples of
// each of `height` rows, `stride` apart; the channel is the position within
// a group of `channels`.
std::optional<SampleAboveWhite> FindAbove(const std::uint16_t* data, std::ptrdiff_t stride,
                                          std::int32_t width, std::int32_t height,
                                          std::int32_t channels, std::int32_t white_level) {
  const std::ptrdiff_t samples_per_row = static_cast<std::ptrdiff_t>(width) * channels;
  for (std::int32_t r = 0; r < height; ++r) {
    const std::uint16_t* samples = data + r * stride;
    for (std::ptrdiff_t k = 0; k < samples_per_row; ++k) {
      if (samples[k] > white_level) {
        return SampleAboveWhite{r, static_cast<std::int32_t>(k / channels),
                                static_cast<std::int32_t>(k % channels), samples[k]};
      }
    }
  }
  return std::nullopt;
}

}  // namespace

void CheckWhiteLevel(const char* what, std::int32_t white_level) {
  if (white_level < 1 || white_level > kMaxWhiteLevel) {
    throw std::invalid_argument(std::string(what) + ": white level " + std::to_string(white_level) +
                                " is outside 1 .. " + std::to_string(kMaxWhiteLevel));
  }
}

void CheckSameWhiteLevel(const char* what, std::int32_t first, std::int32_t second) {
  CheckWhiteLevel(what, first);
  CheckWhiteLevel(what, second);
  if (first != second) {
    throw std::invalid_argument(std::string(what) + ": white levels " + std::to_string(first) +
                                " and " + std::to_string(second) + " differ");
  }
}

ConstImageView MakeImageView(std::span<const std::uint8_t> bytes, std::int32_t width,
                             std::int32_t height, std::ptrdiff_t stride, ChannelOrder order) {
  stride = CheckGeometry("image", bytes.size(), width, height, stride, 3);
  return {bytes.data(), width, height, stride, order};
}

ImageView MakeImageView(std::span<std::uint8_t> bytes, std::int32_t width, std::int32_t height,
                        std::ptrdiff_t stride, ChannelOrder order) {
  stride = CheckGeometry("image", bytes.size(), width, height, stride, 3);
  return {bytes.data(), width, height, stride, order};
}

ConstMosaicView MakeMosaicView(std::span<const std::uint8_t> bytes, std::int32_t width,
                               std::int32_t height, BayerPattern pattern, std::ptrdiff_t stride) {
  stride = CheckGeometry("mosaic", bytes.size(), width, height, stride, 1);
  return {bytes.data(), width, height, stride, pattern};
}

MosaicView MakeMosaicView(std::span<std::uint8_t> bytes, std::int32_t width, std::int32_t height,
                          BayerPattern pattern, std::ptrdiff_t stride) {
  stride = CheckGeometry("mosaic", bytes.size(), width, height, stride, 1);
  return {bytes.data(), width, height, stride, pattern};
}

ConstImageView CropImage(ConstImageView view, std::int32_t x, std::int32_t y, std::int32_t width,
                         std::int32_t height) {
  CheckCrop("CropImage", view.width, view.height, x, y, width, height);
  return {view.data + CropOffset(view.stride, x, y, 3), width, height, view.stride, view.order};
}

ImageView CropImage(ImageView view, std::int32_t x, std::int32_t y, std::int32_t width,
                    std::int32_t height) {
  CheckCrop("CropImage", view.width, view.height, x, y, width, height);
  return {view.data + CropOffset(view.stride, x, y, 3), width, height, view.stride, view.order};
}

ConstMosaicView CropMosaic(ConstMosaicView view, std::int32_t x, std::int32_t y, std::int32_t width,
                           std::int32_t height) {
  CheckCrop("CropMosaic", view.width, view.height, x, y, width, height);
  return {view.data + CropOffset(view.stride, x, y, 1), width, height, view.stride,
          PatternAtSite(view.pattern, y, x)};
}

MosaicView CropMosaic(MosaicView view, std::int32_t x, std::int32_t y, std::int32_t width,
                      std::int32_t height) {
  CheckCrop("CropMosaic", view.width, view.height, x, y, width, height);
  return {view.data + CropOffset(view.stride, x, y, 1), width, height, view.stride,
          PatternAtSite(view.pattern, y, x)};
}

ConstImageView16 MakeImageView(std::span<const std::uint16_t> samples, std::int32_t width,
                               std::int32_t height, std::ptrdiff_t stride, ChannelOrder order,
                               std::int32_t white_level) {
  stride = CheckGeometry16("image", samples.size(), width, height, stride, 3, white_level);
  return {samples.data(), width, height, stride, order, white_level};
}

ImageView16 MakeImageView(std::span<std::uint16_t> samples, std::int32_t width, std::int32_t height,
                          std::ptrdiff_t stride, ChannelOrder order, std::int32_t white_level) {
  stride = CheckGeometry16("image", samples.size(), width, height, stride, 3, white_level);
  return {samples.data(), width, height, stride, order, white_level};
}

ConstMosaicView16 MakeMosaicView(std::span<const std::uint16_t> samples, std::int32_t width,
                                 std::int32_t height, BayerPattern pattern, std::ptrdiff_t stride,
                                 std::int32_t white_level) {
  stride = CheckGeometry16("mosaic", samples.size(), width, height, stride, 1, white_level);
  return {samples.data(), width, height, stride, pattern, white_level};
}

MosaicView16 MakeMosaicView(std::span<std::uint16_t> samples, std::int32_t width,
                            std::int32_t height, BayerPattern pattern, std::ptrdiff_t stride,
                            std::int32_t white_level) {
  stride = CheckGeometry16("mosaic", samples.size(), width, height, stride, 1, white_level);
  return {samples.data(), width, height, stride, pattern, white_level};
}

namespace {

// The crops of a 16-bit view, const or not: the view moved to (x, y), with
// its white level (and a mosaic's tile as it falls there, set by the
// caller); `samples` per site.
template <class View>
View Crop16(const char* name, View view, std::int32_t x, std::int32_t y, std::int32_t width,
            std::int32_t height, int samples) {
  CheckCrop(name, view.width, view.height, x, y, width, height);
  View crop = view;
  crop.data = view.data + CropOffset(view.stride, x, y, samples);
  crop.width = width;
  crop.height = height;
  return crop;
}

template <class View>
View CropImage16(View view, std::int32_t x, std::int32_t y, std::int32_t width,
                 std::int32_t height) {
  return Crop16("CropImage", view, x, y, width, height, 3);
}

template <class View>
View CropMosaic16(View view, std::int32_t x, std::int32_t y, std::int32_t width,
                  std::int32_t height) {
  View crop = Crop16("CropMosaic", view, x, y, width, height, 1);
  crop.pattern = PatternAtSite(view.pattern, y, x);
  return crop;
}

}  // namespace

ConstImageView16 CropImage(ConstImageView16 view, std::int32_t x, std::int32_t y,
                           std::int32_t width, std::int32_t height) {
  return CropImage16(view, x, y, width, height);
}

ImageView16 CropImage(ImageView16 view, std::int32_t x, std::int32_t y, std::int32_t width,
                      std::int32_t height) {
  return CropImage16(view, x, y, width, height);
}

ConstMosaicView16 CropMosaic(ConstMosaicView16 view, std::int32_t x, std::int32_t y,
                             std::int32_t width, std::int32_t height) {
  return CropMosaic16(view, x, y, width, height);
}

MosaicView16 CropMosaic(MosaicView16 view, std::int32_t x, std::int32_t y, std::int32_t width,
                        std::int32_t height) {
  return CropMosaic16(view, x, y, width, height);
}

std::optional<SampleAboveWhite> FindSampleAboveWhite(ConstImageView16 view) {
  return FindAbove(view.data, view.stride, view.width, view.height, 3, view.white_level);
}

std::optional<SampleAboveWhite> FindSampleAboveWhite(ConstMosaicView16 view) {
  return FindAbove(view.data, view.stride, view.width, view.height, 1, view.white_level);
}

}  // namespace demosaic
