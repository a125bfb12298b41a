// Library views of numpy arrays for the Python module: the checks that turn a
// wrong argument into a TypeError or ValueError, and the rule for when an
// array can be read in place and when its pixels must be copied first.
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

// The argument `object` (named `what` in messages) as an H x W x 3 image in
// channel `order`. Throws py::type_error unless it is a numpy array of dtype
// uint8 and rank 3, py::value_error unless its last axis holds 3 channels and
// each side fits in 32 bits. Reads the caller's memory in place whenever a
// pixel's channels and a row's pixels are adjacent and rows follow one
// another at a positive stride of at least a row (crops and row slices);
// otherwise (a channel-reversed or column-stepped view, rows running
// backwards) reads a packed copy. Never writes to the array.
ReadableImage ReadImage(const py::object& object, const char* what, ChannelOrder order);

// The same for an H x W mosaic (rank 2) taken through `pattern`.
ReadableMosaic ReadMosaic(const py::object& object, const char* what, BayerPattern pattern);

// A new packed uint8 array of height x width x 3, or height x width.
py::array_t<std::uint8_t> NewImageArray(std::int32_t width, std::int32_t height);
py::array_t<std::uint8_t> NewMosaicArray(std::int32_t width, std::int32_t height);

// "BGR" or "RGB" in any letter case; py::value_error otherwise.
ChannelOrder ParseOrderArgument(const std::string& name);

// "GRBG", "RGGB", "BGGR" or "GBRG" in any letter case; py::value_error
// otherwise.
BayerPattern ParsePatternArgument(const std::string& name);

}  // namespace demosaic::python
