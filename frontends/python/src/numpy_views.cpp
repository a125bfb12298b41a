// Checking numpy arrays and viewing them through the library's strided views.
#include "numpy_views.h"

#include <cctype>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace demosaic::python {
namespace {

std::string TypeName(const py::handle& object) {
  return py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>();
}

std::string ShapeText(const py::array& array) {
  return py::str(py::tuple(array.attr("shape"))).cast<std::string>();
}

// The argument as a uint8 array of `rank` axes, or the TypeError saying what
// it is instead.
py::array CheckedArray(const py::object& object, const char* what, py::ssize_t rank,
                       const char* layout) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error(std::string(what) + " must be a numpy.ndarray of dtype uint8 (" + layout +
                         "), not " + TypeName(object));
  }
  py::array array = py::reinterpret_borrow<py::array>(object);
  const py::dtype dtype = array.dtype();
  if (dtype.kind() != 'u' || dtype.itemsize() != 1) {
    throw py::type_error(std::string(what) +
                         " must have dtype uint8 (8-bit samples, 0 to 255), not " +
                         py::str(py::handle(dtype)).cast<std::string>());
  }
  if (array.ndim() != rank) {
    throw py::type_error(std::string(what) + " must have " + std::to_string(rank) + " axes (" +
                         layout + "), not " + std::to_string(array.ndim()) + ": shape " +
                         ShapeText(array));
  }
  constexpr py::ssize_t kLargestSide = std::numeric_limits<std::int32_t>::max();
  if (array.shape(0) > kLargestSide || array.shape(1) > kLargestSide) {
    throw py::value_error(std::string(what) + " of shape " + ShapeText(array) +
                          " is too large: each side must be below 2^31");
  }
  return array;
}

// The row stride through which the library can read `array` in place, or
// nothing when it needs a packed copy: the library's views require a pixel's
// bytes and a row's pixels to be adjacent, and rows to start at least a row
// apart in increasing addresses. Strides of axes of length 1 are never used,
// so numpy may give them any value.
std::optional<std::ptrdiff_t> InPlaceRowStride(const py::array& array, std::ptrdiff_t pixel_bytes) {
  const py::ssize_t height = array.shape(0);
  const py::ssize_t width = array.shape(1);
  if (pixel_bytes > 1 && array.strides(2) != 1) return std::nullopt;
  if (width > 1 && array.strides(1) != pixel_bytes) return std::nullopt;
  const std::ptrdiff_t row_bytes = width * pixel_bytes;
  if (height <= 1 || row_bytes == 0) return row_bytes;
  if (array.strides(0) < row_bytes) return std::nullopt;
  return array.strides(0);
}

// `array`, or a packed copy of it, with the row stride to read it through.
std::pair<py::array, std::ptrdiff_t> InPlaceOrPacked(py::array array, std::ptrdiff_t pixel_bytes) {
  if (const std::optional<std::ptrdiff_t> stride = InPlaceRowStride(array, pixel_bytes)) {
    return {array, *stride};
  }
  std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
  py::array_t<std::uint8_t> packed(shape);
  py::module_::import("numpy").attr("copyto")(packed, array);
  return {packed, static_cast<std::ptrdiff_t>(array.shape(1)) * pixel_bytes};
}

// The bytes the view may read: from the first pixel to the end of the last
// row's pixels.
std::span<const std::uint8_t> ReadableBytes(const py::array& array, std::ptrdiff_t stride,
                                            std::ptrdiff_t pixel_bytes) {
  const auto* data = static_cast<const std::uint8_t*>(array.data());
  const py::ssize_t height = array.shape(0);
  const py::ssize_t width = array.shape(1);
  if (height == 0 || width == 0) return {data, 0};
  return {data, static_cast<std::size_t>((height - 1) * stride + width * pixel_bytes)};
}

}  // namespace

ReadableImage ReadImage(const py::object& object, const char* what, ChannelOrder order) {
  const py::array checked = CheckedArray(object, what, 3, "height x width x 3");
  if (checked.shape(2) != 3) {
    throw py::value_error(std::string(what) + " must have 3 channels (height x width x 3), not " +
                          std::to_string(checked.shape(2)) + ": shape " + ShapeText(checked) +
                          (checked.shape(2) == 4 ? " (drop alpha with image[..., :3])" : ""));
  }
  auto [array, stride] = InPlaceOrPacked(checked, 3);
  const auto width = static_cast<std::int32_t>(array.shape(1));
  const auto height = static_cast<std::int32_t>(array.shape(0));
  const ConstImageView view =
      MakeImageView(ReadableBytes(array, stride, 3), width, height, stride, order);
  return {array, view};
}

ReadableMosaic ReadMosaic(const py::object& object, const char* what, BayerPattern pattern) {
  const py::array checked = CheckedArray(object, what, 2, "height x width");
  auto [array, stride] = InPlaceOrPacked(checked, 1);
  const auto width = static_cast<std::int32_t>(array.shape(1));
  const auto height = static_cast<std::int32_t>(array.shape(0));
  const ConstMosaicView view =
      MakeMosaicView(ReadableBytes(array, stride, 1), width, height, pattern, stride);
  return {array, view};
}

py::array_t<std::uint8_t> NewImageArray(std::int32_t width, std::int32_t height) {
  return py::array_t<std::uint8_t>(std::vector<py::ssize_t>{height, width, 3});
}

py::array_t<std::uint8_t> NewMosaicArray(std::int32_t width, std::int32_t height) {
  return py::array_t<std::uint8_t>(std::vector<py::ssize_t>{height, width});
}

ChannelOrder ParseOrderArgument(const std::string& name) {
  std::string upper = name;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (upper == "BGR") return ChannelOrder::kBGR;
  if (upper == "RGB") return ChannelOrder::kRGB;
  throw py::value_error(
      "order must be \"BGR\" (as cv2.imread gives) or \"RGB\" (as imageio and "
      "Pillow give), not \"" +
      name + "\"");
}

BayerPattern ParsePatternArgument(const std::string& name) {
  if (const std::optional<BayerPattern> pattern = ParsePattern(name)) return *pattern;
  throw py::value_error(
      "pattern must be one of \"GRBG\", \"RGGB\", \"BGGR\", \"GBRG\" (the tile's "
      "colours read row by row from the top-left site), not \"" +
      name + "\"");
}

}  // namespace demosaic::python
