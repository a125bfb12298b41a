// Checking numpy arrays and viewing them through the library's strided views.
#include "numpy_views.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
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

// What each accepted dtype holds, for the TypeError.
std::string DtypeText(const std::string& dtypes) {
  if (dtypes == "uint16") return "uint16 (16-bit samples, 0 to the white level)";
  if (dtypes == "uint8") return "uint8 (8-bit samples, 0 to 255)";
  if (dtypes == "uint8 or uint16") {
    return "uint8 or uint16 (8-bit samples, 0 to 255, or 16-bit samples, 0 to the white level)";
  }
  return dtypes;
}

// The argument as an array of `rank` axes whose samples are `sample_bytes`
// unsigned bytes, or the TypeError saying what it is instead. `dtypes` names
// the dtypes the call accepts.
py::array CheckedArray(const py::object& object, const char* what, py::ssize_t rank,
                       const char* layout, py::ssize_t sample_bytes, const char* dtypes) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error(std::string(what) + " must be a numpy.ndarray of dtype " + dtypes + " (" +
                         layout + "), not " + TypeName(object));
  }
  py::array array = py::reinterpret_borrow<py::array>(object);
  const py::dtype dtype = array.dtype();
  if (dtype.kind() != 'u' || dtype.itemsize() != sample_bytes) {
    throw py::type_error(std::string(what) + " must have dtype " + DtypeText(dtypes) + ", not " +
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

// The row stride, in samples, through which the library can read `array` in
// place, or nothing when it needs a packed copy: the library's views require
// a pixel's samples and a row's pixels to be adjacent, rows to start at least
// a row apart in increasing addresses, and (for 16-bit samples) samples in
// the machine's byte order at addresses and strides that are whole samples.
// Strides of axes of length 1 are never used, so numpy may give them any
// value.
template <class Sample>
std::optional<std::ptrdiff_t> InPlaceRowStride(const py::array& array,
                                               std::ptrdiff_t pixel_samples) {
  constexpr auto kSampleBytes = static_cast<std::ptrdiff_t>(sizeof(Sample));
  if constexpr (sizeof(Sample) > 1) {
    if (!array.dtype().attr("isnative").cast<bool>()) return std::nullopt;
    if (reinterpret_cast<std::uintptr_t>(array.data()) % alignof(Sample) != 0) return std::nullopt;
  }
  const py::ssize_t height = array.shape(0);
  const py::ssize_t width = array.shape(1);
  if (pixel_samples > 1 && array.strides(2) != kSampleBytes) return std::nullopt;
  if (width > 1 && array.strides(1) != pixel_samples * kSampleBytes) return std::nullopt;
  const std::ptrdiff_t row_samples = width * pixel_samples;
  if (height <= 1 || row_samples == 0) return row_samples;
  if (array.strides(0) < row_samples * kSampleBytes || array.strides(0) % kSampleBytes != 0) {
    return std::nullopt;
  }
  return array.strides(0) / kSampleBytes;
}

// `array`, or a packed copy of it, with the row stride (in samples) to read
// it through.
template <class Sample>
std::pair<py::array, std::ptrdiff_t> InPlaceOrPacked(py::array array,
                                                     std::ptrdiff_t pixel_samples) {
  if (const std::optional<std::ptrdiff_t> stride = InPlaceRowStride<Sample>(array, pixel_samples)) {
    return {array, *stride};
  }
  std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
  py::array_t<Sample> packed(shape);
  py::module_::import("numpy").attr("copyto")(packed, array);
  return {packed, static_cast<std::ptrdiff_t>(array.shape(1)) * pixel_samples};
}

// The samples the view may read: from the first pixel to the end of the last
// row's pixels.
template <class Sample>
std::span<const Sample> ReadableSamples(const py::array& array, std::ptrdiff_t stride,
                                        std::ptrdiff_t pixel_samples) {
  const auto* data = static_cast<const Sample*>(array.data());
  const py::ssize_t height = array.shape(0);
  const py::ssize_t width = array.shape(1);
  if (height == 0 || width == 0) return {data, 0};
  return {data, static_cast<std::size_t>((height - 1) * stride + width * pixel_samples)};
}

void CheckChannels(const py::array& checked, const char* what) {
  if (checked.shape(2) != 3) {
    throw py::value_error(std::string(what) + " must have 3 channels (height x width x 3), not " +
                          std::to_string(checked.shape(2)) + ": shape " + ShapeText(checked) +
                          (checked.shape(2) == 4 ? " (drop alpha with image[..., :3])" : ""));
  }
}

// The ValueError for a sample above the white level, where numpy indexing
// finds it: array[row, column, channel] for an image, array[row, column] for
// a mosaic.
void CheckWithinWhiteLevel(const std::optional<SampleAboveWhite>& above, const char* what,
                           bool image, std::int32_t white_level) {
  if (!above) return;
  const std::string where = "[" + std::to_string(above->row) + ", " +
                            std::to_string(above->column) +
                            (image ? ", " + std::to_string(above->channel) : std::string()) + "]";
  throw py::value_error(std::string(what) + where + " is " + std::to_string(above->value) +
                        ", above the white level " + std::to_string(white_level) +
                        " (pass white_level= the largest value the samples may take)");
}

}  // namespace

bool HoldsSixteenBitSamples(const py::object& object) {
  if (!py::isinstance<py::array>(object)) return false;
  const py::dtype dtype = py::reinterpret_borrow<py::array>(object).dtype();
  return dtype.kind() == 'u' && dtype.itemsize() == 2;
}

ReadableImage ReadImage(const py::object& object, const char* what, ChannelOrder order,
                        const char* dtypes) {
  const py::array checked = CheckedArray(object, what, 3, "height x width x 3", 1, dtypes);
  CheckChannels(checked, what);
  auto [array, stride] = InPlaceOrPacked<std::uint8_t>(checked, 3);
  const auto width = static_cast<std::int32_t>(array.shape(1));
  const auto height = static_cast<std::int32_t>(array.shape(0));
  const ConstImageView view =
      MakeImageView(ReadableSamples<std::uint8_t>(array, stride, 3), width, height, stride, order);
  return {array, view};
}

ReadableMosaic ReadMosaic(const py::object& object, const char* what, BayerPattern pattern,
                          const char* dtypes) {
  const py::array checked = CheckedArray(object, what, 2, "height x width", 1, dtypes);
  auto [array, stride] = InPlaceOrPacked<std::uint8_t>(checked, 1);
  const auto width = static_cast<std::int32_t>(array.shape(1));
  const auto height = static_cast<std::int32_t>(array.shape(0));
  const ConstMosaicView view = MakeMosaicView(ReadableSamples<std::uint8_t>(array, stride, 1),
                                              width, height, pattern, stride);
  return {array, view};
}

ReadableImage16 ReadImage16(const py::object& object, const char* what, ChannelOrder order,
                            std::int32_t white_level, const char* dtypes) {
  const py::array checked = CheckedArray(object, what, 3, "height x width x 3", 2, dtypes);
  CheckChannels(checked, what);
  auto [array, stride] = InPlaceOrPacked<std::uint16_t>(checked, 3);
  const auto width = static_cast<std::int32_t>(array.shape(1));
  const auto height = static_cast<std::int32_t>(array.shape(0));
  const ConstImageView16 view = MakeImageView(ReadableSamples<std::uint16_t>(array, stride, 3),
                                              width, height, stride, order, white_level);
  CheckWithinWhiteLevel(FindSampleAboveWhite(view), what, true, white_level);
  return {array, view};
}

ReadableMosaic16 ReadMosaic16(const py::object& object, const char* what, BayerPattern pattern,
                              std::int32_t white_level, const char* dtypes) {
  const py::array checked = CheckedArray(object, what, 2, "height x width", 2, dtypes);
  auto [array, stride] = InPlaceOrPacked<std::uint16_t>(checked, 1);
  const auto width = static_cast<std::int32_t>(array.shape(1));
  const auto height = static_cast<std::int32_t>(array.shape(0));
  const ConstMosaicView16 view = MakeMosaicView(ReadableSamples<std::uint16_t>(array, stride, 1),
                                                width, height, pattern, stride, white_level);
  CheckWithinWhiteLevel(FindSampleAboveWhite(view), what, false, white_level);
  return {array, view};
}

std::int32_t WhiteLevelArgument(const py::object& white_level, bool sixteen_bit) {
  if (white_level.is_none()) return sixteen_bit ? kMaxWhiteLevel : 255;
  if (!py::isinstance<py::int_>(white_level) || py::isinstance<py::bool_>(white_level)) {
    throw py::type_error("white_level must be an int or None, not " + TypeName(white_level));
  }
  // Python ints are unbounded: compare before narrowing.
  const py::int_ value = py::reinterpret_borrow<py::int_>(white_level);
  const bool in_range = value >= py::int_(1) && value <= py::int_(kMaxWhiteLevel);
  const std::string text = py::str(py::handle(value)).cast<std::string>();
  if (!sixteen_bit) {
    if (value.equal(py::int_(255))) return 255;
    throw py::value_error("white_level " + text +
                          " applies to uint16 arrays only: a uint8 array's is 255 (pass None)");
  }
  if (!in_range) {
    throw py::value_error("white_level must be from 1 to " + std::to_string(kMaxWhiteLevel) +
                          ", not " + text);
  }
  return value.cast<std::int32_t>();
}

py::array_t<std::uint8_t> NewImageArray(std::int32_t width, std::int32_t height) {
  return py::array_t<std::uint8_t>(std::vector<py::ssize_t>{height, width, 3});
}

py::array_t<std::uint8_t> NewMosaicArray(std::int32_t width, std::int32_t height) {
  return py::array_t<std::uint8_t>(std::vector<py::ssize_t>{height, width});
}

py::array_t<std::uint16_t> NewImageArray16(std::int32_t width, std::int32_t height) {
  return py::array_t<std::uint16_t>(std::vector<py::ssize_t>{height, width, 3});
}

py::array_t<std::uint16_t> NewMosaicArray16(std::int32_t width, std::int32_t height) {
  return py::array_t<std::uint16_t>(std::vector<py::ssize_t>{height, width});
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
