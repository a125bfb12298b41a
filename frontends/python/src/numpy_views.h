// Library views of numpy arrays for the Python module: the checks that turn a
// wrong argument into a TypeError or ValueError, and the rule for when an
// array can be read in place and when its pixels must be copied first. Arrays
// of dtype uint8 give 8-bit views, arrays of dtype uint16 16-bit views of a
// white level the caller gives.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "demosaic/bayer.h"
#include "demosaic/image.h"

namespace demosaic::python {

namespace py = pybind11;

// A colour image the library can read: `view` points into `array`, which is
// the caller's own array or, when its layout needs it, a packed copy; holding
// `array` keeps the pixels alive while the GIL is released.
struct ReadableImage {
  py::array array;
  ConstImageView view;
};

struct ReadableMosaic {
  py::array array;
  ConstMosaicView view;
};

struct ReadableImage16 {
  py::array array;
  ConstImageView16 view;
};

struct ReadableMosaic16 {
  py::array array;
  ConstMosaicView16 view;
};

// True when `object` is a numpy array of dtype uint16 (in either byte
// order): the calls that take both depths read it with the 16-bit functions
// below, anything else with the 8-bit ones, which say what is wrong with it.
bool HoldsSixteenBitSamples(const py::object& object);

// The argument `object` (named `what` in messages) as an H x W x 3 image in
// channel `order`. Throws py::type_error unless it is a numpy array of dtype
// uint8 and rank 3, py::value_error unless its last axis holds 3 channels and
// each side fits in 32 bits. Reads the caller's memory in place whenever a
// pixel's channels and a row's pixels are adjacent and rows follow one
// another at a positive stride of at least a row (crops and row slices);
// otherwise (a channel-reversed or column-stepped view, rows running
// backwards) reads a packed copy. Never writes to the array.
// `dtypes` names the dtypes the call accepts in the TypeError ("uint8" where
// only 8-bit samples are read).
ReadableImage ReadImage(const py::object& object, const char* what, ChannelOrder order,
                        const char* dtypes = "uint8");

// The same for an H x W mosaic (rank 2) taken through `pattern`.
ReadableMosaic ReadMosaic(const py::object& object, const char* what, BayerPattern pattern,
                          const char* dtypes = "uint8");

// The same for arrays of dtype uint16, viewed with `white_level` (which must
// be valid: see WhiteLevelArgument). Reads a packed native copy also when
// the array's samples are not in the machine's byte order or not aligned to
// 2 bytes, or a stride is not a whole number of samples. Throws
// py::value_error naming the first sample above the white level (its row,
// column and, for an image, channel) and its value.
ReadableImage16 ReadImage16(const py::object& object, const char* what, ChannelOrder order,
                            std::int32_t white_level, const char* dtypes = "uint16");
ReadableMosaic16 ReadMosaic16(const py::object& object, const char* what, BayerPattern pattern,
                              std::int32_t white_level, const char* dtypes = "uint16");

// The white level a call uses: None gives `fallback` (255 for uint8 arrays,
// 65535 for uint16 ones). For uint8 arrays (sixteen_bit false) anything but
// None or 255 is a py::value_error; for uint16 ones a value outside
// 1 .. 65535 is. A value that is not an int is a py::type_error.
std::int32_t WhiteLevelArgument(const py::object& white_level, bool sixteen_bit);

// A new packed uint8 array of height x width x 3, or height x width.
py::array_t<std::uint8_t> NewImageArray(std::int32_t width, std::int32_t height);
py::array_t<std::uint8_t> NewMosaicArray(std::int32_t width, std::int32_t height);

// The same of dtype uint16.
py::array_t<std::uint16_t> NewImageArray16(std::int32_t width, std::int32_t height);
py::array_t<std::uint16_t> NewMosaicArray16(std::int32_t width, std::int32_t height);

// "BGR" or "RGB" in any letter case; py::value_error otherwise.
ChannelOrder ParseOrderArgument(const std::string& name);

// "GRBG", "RGGB", "BGGR" or "GBRG" in any letter case; py::value_error
// otherwise.
BayerPattern ParsePatternArgument(const std::string& name);

}  // namespace demosaic::python
