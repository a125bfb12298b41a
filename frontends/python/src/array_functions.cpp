// The module's public calls on numpy arrays: sample_mosaic, reconstruct and
// measure, each a check of its arguments, library views over the arrays and
// one library call made with the GIL released. Each takes arrays of dtype
// uint8 or uint16; uint16 ones with a white level, the largest value their
// samples may take, which reconstruct and measure are given.
#include "array_functions.h"

#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "demosaic/demosaic.h"
#include "evaluation/failure.h"
#include "evaluation/figures.h"
#include "evaluation/noise.h"
#include "numpy_views.h"

namespace demosaic::python {
namespace {

// A figure of `measure` under the name its dict key (and CSV column) has.
using NamedFigures = std::vector<std::pair<const char*, double>>;

// Every figure `measure` reports, under the names of demosaic-bench's CSV
// columns, computed without touching Python objects (the GIL is released
// around it). A figure whose window does not fit the measured interior (SSIM
// needs 11 x 11 pixels, the zipper share 3 x 3) is NaN.
template <class View>
NamedFigures MeasureAll(View reference, View reconstruction, std::int32_t border,
                        const MetricSet& metrics) {
  const std::int64_t side =
      std::min(std::int64_t{reference.width}, std::int64_t{reference.height}) -
      2 * std::int64_t{border};
  MetricSet only_ssim{false, true, false, false};
  MetricSet only_zipper{false, false, false, true};
  MetricSet computable = metrics;
  computable.ssim = metrics.ssim && side >= MinimumMeasuredSide(only_ssim);
  computable.zipper = metrics.zipper && side >= MinimumMeasuredSide(only_zipper);
  const MethodFigures figures = MeasureFigures(reference, reconstruction, border, computable);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  NamedFigures named;
  for (const Figure figure : CsvFigures(metrics)) {
    const bool missing = (figure == Figure::kSsim && !computable.ssim) ||
                         (figure == Figure::kZipper && !computable.zipper);
    if (!metrics.psnr && (figure == Figure::kPsnrR || figure == Figure::kPsnrG ||
                          figure == Figure::kPsnrB || figure == Figure::kCpsnr)) {
      continue;
    }
    named.emplace_back(FigureName(figure).data(), missing ? nan : FigureValue(figures, figure));
  }
  return named;
}

// The one noise level `noise` names (None: no noise); ValueError otherwise.
NoiseLevel NoiseArgument(const py::object& noise) {
  if (noise.is_none()) return NoiseLevel{};
  if (!py::isinstance<py::str>(noise)) throw py::type_error("noise must be a str or None");
  const std::string text = noise.cast<std::string>();
  const Expected<std::vector<NoiseLevel>> levels = ParseNoiseLevels(text);
  if (!levels.ok()) throw py::value_error("noise " + levels.error().detail);
  if (levels.value().size() != 1) {
    throw py::value_error("noise '" + text + "': one level at a time (call once per level)");
  }
  return levels.value().front();
}

// The mosaic of a uint16 image, of white level 65535 (sampling only copies
// samples, so any value is kept).
py::array SampleMosaic16(const py::object& image, BayerPattern pattern, ChannelOrder order) {
  const ReadableImage16 reference = ReadImage16(image, "image", order, kMaxWhiteLevel);
  const std::int32_t width = reference.view.width;
  const std::int32_t height = reference.view.height;
  py::array_t<std::uint16_t> mosaic = NewMosaicArray16(width, height);
  const MosaicView16 output =
      MakeMosaicView(std::span(mosaic.mutable_data(), PackedMosaicBytes(width, height)), width,
                     height, pattern, 0, kMaxWhiteLevel);
  {
    const py::gil_scoped_release release;
    SampleMosaic(reference.view, output);
  }
  return mosaic;
}

py::array SampleMosaicOfArray(const py::object& image, const std::string& pattern_name,
                              const std::string& order_name, const py::object& noise,
                              std::uint64_t seed, const std::string& name) {
  const BayerPattern pattern = ParsePatternArgument(pattern_name);
  const NoiseLevel level = NoiseArgument(noise);
  const ChannelOrder order = ParseOrderArgument(order_name);
  if (HoldsSixteenBitSamples(image)) {
    if (level.kind != NoiseKind::kNone) {
      throw py::value_error(
          "noise is defined on the 8-bit scale: a uint16 image is sampled without noise "
          "(noise=None)");
    }
    return SampleMosaic16(image, pattern, order);
  }
  const ReadableImage reference = ReadImage(image, "image", order, "uint8 or uint16");
  py::array_t<std::uint8_t> mosaic = NewMosaicArray(reference.view.width, reference.view.height);
  const MosaicView output =
      MakeMosaicView(std::span(mosaic.mutable_data(),
                               PackedMosaicBytes(reference.view.width, reference.view.height)),
                     reference.view.width, reference.view.height, pattern);
  const std::size_t width = static_cast<std::size_t>(reference.view.width);
  const std::span<std::uint8_t> samples(mosaic.mutable_data(),
                                        width * static_cast<std::size_t>(reference.view.height));
  {
    const py::gil_scoped_release release;
    SampleMosaic(reference.view, output);
    AddNoise(samples, reference.view.width, reference.view.height, width, level,
             NoiseKey(seed, name, level));
  }
  return mosaic;
}

// The tools' rule: nothing under the minimum side is reconstructed.
void CheckReconstructible(std::int32_t width, std::int32_t height) {
  if (width < kMinimumSide || height < kMinimumSide) {
    throw py::value_error("mosaic is " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels (width x height): too small: " + MinimumSizeText());
  }
}

// The 8-bit path reads its array first, so that an array of another dtype
// is reported as such rather than as a misplaced white level.
py::array Reconstruct8(const py::object& mosaic_object, BayerPattern pattern, ChannelOrder order,
                       const py::object& white_level_object, const ReconstructionOptions& options) {
  const ReadableMosaic mosaic = ReadMosaic(mosaic_object, "mosaic", pattern, "uint8 or uint16");
  WhiteLevelArgument(white_level_object, false);
  const std::int32_t width = mosaic.view.width;
  const std::int32_t height = mosaic.view.height;
  CheckReconstructible(width, height);
  py::array_t<std::uint8_t> image = NewImageArray(width, height);
  const ImageView output = MakeImageView(
      std::span(image.mutable_data(), PackedImageBytes(width, height)), width, height, 0, order);
  {
    const py::gil_scoped_release release;
    ReconstructFromMosaic(mosaic.view, output, options);
  }
  return image;
}

py::array Reconstruct16(const py::object& mosaic_object, BayerPattern pattern, ChannelOrder order,
                        std::int32_t white_level, const ReconstructionOptions& options) {
  const ReadableMosaic16 mosaic = ReadMosaic16(mosaic_object, "mosaic", pattern, white_level);
  const std::int32_t width = mosaic.view.width;
  const std::int32_t height = mosaic.view.height;
  CheckReconstructible(width, height);
  py::array_t<std::uint16_t> image = NewImageArray16(width, height);
  const ImageView16 output =
      MakeImageView(std::span(image.mutable_data(), PackedImageBytes(width, height)), width, height,
                    0, order, white_level);
  {
    const py::gil_scoped_release release;
    ReconstructFromMosaic(mosaic.view, output, options);
  }
  return image;
}

py::array ReconstructArray(const py::object& mosaic_object, const std::string& pattern_name,
                           const std::string& order_name, int threads,
                           const py::object& white_level_object) {
  const BayerPattern pattern = ParsePatternArgument(pattern_name);
  const ChannelOrder order = ParseOrderArgument(order_name);
  if (threads < 1) {
    throw py::value_error("threads must be at least 1, not " + std::to_string(threads));
  }
  ReconstructionOptions options;
  options.threads = threads;
  if (HoldsSixteenBitSamples(mosaic_object)) {
    return Reconstruct16(mosaic_object, pattern, order,
                         WhiteLevelArgument(white_level_object, true), options);
  }
  return Reconstruct8(mosaic_object, pattern, order, white_level_object, options);
}

// The figures asked for: "psnr,ssim" as the bench's --metrics takes them, or
// a list or tuple of the same names.
MetricSet ParseMetricsArgument(const py::object& argument) {
  std::string list;
  if (py::isinstance<py::str>(argument)) {
    list = argument.cast<std::string>();
  } else if (py::isinstance<py::list>(argument) || py::isinstance<py::tuple>(argument)) {
    for (const py::handle item : argument) {
      if (!py::isinstance<py::str>(item)) {
        throw py::type_error("metrics must name figures as strings, not " +
                             py::repr(item).cast<std::string>());
      }
      if (!list.empty()) list += ',';
      list += item.cast<std::string>();
    }
  } else {
    throw py::type_error("metrics must be a comma-separated string or a list or tuple of names");
  }
  Expected<MetricSet> metrics = ParseMetricList(list);
  if (!metrics.ok()) throw py::value_error("metrics: " + metrics.error().detail);
  return metrics.value();
}

// The figures of two arrays read as `Readable` images (ReadableImage or
// ReadableImage16), once both have been checked.
template <class Readable>
py::dict MeasureReadable(const Readable& reference, const Readable& reconstruction,
                         const py::object& reference_object,
                         const py::object& reconstruction_object, int border,
                         const MetricSet& metrics) {
  if (reference.view.width != reconstruction.view.width ||
      reference.view.height != reconstruction.view.height) {
    throw py::value_error("reference and reconstruction differ in shape: " +
                          py::str(reference_object.attr("shape")).cast<std::string>() + " and " +
                          py::str(reconstruction_object.attr("shape")).cast<std::string>());
  }
  if (border < 0)
    throw py::value_error("border must not be negative, not " + std::to_string(border));
  const std::int64_t side = 2 * std::int64_t{border} + 1;
  if (reference.view.width < side || reference.view.height < side) {
    throw py::value_error(
        "a " + std::to_string(reference.view.width) + " x " +
        std::to_string(reference.view.height) + " image (width x height) has no pixel at least " +
        std::to_string(border) + " from every edge: border " + std::to_string(border) +
        " needs at least " + std::to_string(side) + " x " + std::to_string(side));
  }
  NamedFigures figures;
  {
    const py::gil_scoped_release release;
    figures = MeasureAll(reference.view, reconstruction.view, border, metrics);
  }
  py::dict result;
  for (const auto& [name, value] : figures) result[name] = value;
  return result;
}

py::dict MeasureArrays(const py::object& reference_object, const py::object& reconstruction_object,
                       int border, const std::string& order_name, const py::object& metric_list,
                       const py::object& white_level_object) {
  const ChannelOrder order = ParseOrderArgument(order_name);
  const MetricSet metrics = ParseMetricsArgument(metric_list);
  if (HoldsSixteenBitSamples(reference_object)) {
    const std::int32_t white_level = WhiteLevelArgument(white_level_object, true);
    // The reconstruction must be of the reference's dtype.
    const ReadableImage16 reference =
        ReadImage16(reference_object, "reference", order, white_level);
    const ReadableImage16 reconstruction =
        ReadImage16(reconstruction_object, "reconstruction", order, white_level);
    return MeasureReadable(reference, reconstruction, reference_object, reconstruction_object,
                           border, metrics);
  }
  const ReadableImage reference =
      ReadImage(reference_object, "reference", order, "uint8 or uint16");
  const ReadableImage reconstruction = ReadImage(reconstruction_object, "reconstruction", order);
  WhiteLevelArgument(white_level_object, false);
  return MeasureReadable(reference, reconstruction, reference_object, reconstruction_object, border,
                         metrics);
}

constexpr const char* kSampleMosaicDoc =
    R"(Samples the Bayer mosaic a single-sensor camera would record.

Keeps at every site the one channel that the filter of ``pattern`` passes
there, unchanged.

Args:
    image: height x width x 3 numpy array of dtype uint8 or uint16, channels
        in B, G, R order (as ``cv2.imread`` gives) or, with ``order="RGB"``,
        in R, G, B order (as imageio and Pillow give). Any size, including
        crops and other strided views.
    pattern: the 2 x 2 filter tile, its colours read row by row from the
        top-left pixel: "GRBG", "RGGB", "BGGR" or "GBRG", in any letter case.
        Required: ``reconstruct`` must be given the same tile.
    order: "BGR" (default) or "RGB".
    noise: None (default) or one level, as demosaic-bench's --noise takes it:
        "gaussian:S" (standard deviation S on the 8-bit scale) or
        "poisson-gaussian:A,B" (variance A x value + B), added after sampling,
        rounded and clamped to 0..255. For uint8 images only.
    seed: the noise's seed (default 0), an integer from 0 to 2**64 - 1.
    name: the image's name (default ""); with the same name, seed and level
        the mosaic is byte for byte the one demosaic-bench reconstructs
        (there, the image's file name, as its table shows it).

Returns:
    A new height x width array of the image's dtype (uint8 or uint16).

Raises:
    TypeError: ``image`` is not a uint8 or uint16 numpy array of 3 axes.
    ValueError: its last axis is not 3 channels, an unknown pattern, order
        or noise level, or noise asked for a uint16 image.

Views whose pixels are adjacent within each row (crops, row slices) are read
in place; others (``image[:, :, ::-1]``, ``image[:, ::2]``, flipped rows) are
copied first. The GIL is released while sampling.

An array made with ``numpy.lib.stride_tricks.as_strided`` must keep every
row inside its buffer: numpy cannot tell, and the library reads what the
strides name (the caller's contract; rows that overlap, or run backwards,
are safe: they are copied first).)";

constexpr const char* kReconstructDoc = R"(Reconstructs a full-colour image from a Bayer mosaic.

The directional colour-difference method of ``demosaic-eval``, bit for bit:
the same bytes as the tool's output for the same mosaic.

Args:
    mosaic: height x width numpy array of dtype uint8 or uint16, at least
        7 x 7, one sample per site (as ``sample_mosaic`` gives).
    pattern: the filter tile the mosaic was taken through, as given to
        ``sample_mosaic``: "GRBG", "RGGB", "BGGR" or "GBRG", in any letter
        case. Required: a mosaic reconstructed with another tile than its own
        comes out with false colours and no error.
    order: channel order of the result, "BGR" (default) or "RGB".
    threads: threads sharing the rows, at least 1; the result is the same
        for every count.
    white_level: for a uint16 mosaic, the largest value a sample may take
        (4095 for 12-bit raw data), 1 to 65535; None (default) means 65535.
        The method's bounds scale with it: each output channel lies in
        0..white_level. For a uint8 mosaic only None or 255.

Returns:
    A new height x width x 3 array of the mosaic's dtype. The outer 3-pixel
    frame is black: the method's windows need 3 neighbours on every side.

Raises:
    TypeError: ``mosaic`` is not a uint8 or uint16 numpy array of 2 axes, or
        ``white_level`` is not an int or None.
    ValueError: smaller than 7 x 7, threads below 1, an unknown pattern or
        order, a white level outside 1 to 65535 (or other than 255 for
        uint8), or a sample above the white level (the message names its
        row, column and value).
    MemoryError: the method's few rows of working memory cannot be had.

The GIL is released during the reconstruction, so Python threads
reconstructing different images run in parallel. A mosaic view whose samples
are not adjacent within a row (``mosaic[:, ::2]``, flipped rows) is copied
first; crops and row slices are read in place. An array made with
``numpy.lib.stride_tricks.as_strided`` must keep every row inside its
buffer: numpy cannot tell, and the library reads what the strides name.)";

constexpr const char* kMeasureDoc = R"(Measures a reconstruction against its reference.

PSNR of each channel and the colour PSNR (from the mean of the three
channels' squared errors), in dB with the peak 255 for uint8 arrays and the
white level for uint16 ones, over the pixels at least
``border`` from every edge: the figures ``demosaic-eval`` prints, and what
``demosaic-bench`` measures unless told otherwise. Asked for, the structural
similarity (SSIM), the mean CIEDE2000 colour difference (DE2000) and the
share of pixels with zipper artefacts (zipper), as ``demosaic-bench
--metrics`` measures them.

What each costs, one thread, on a 24-megapixel photograph: PSNR about
25 ms, SSIM about 0.6 s, the zipper share about 0.5 s and CIEDE2000 about
1.2 s; CIEDE2000 and the zipper share together about 1.5 s (they share one
CIELAB conversion). Pixels reconstructed exactly cost CIEDE2000 next to
nothing, and stretches of them SSIM too.

Args:
    reference: height x width x 3 uint8 or uint16 numpy array, the
        original image.
    reconstruction: an array of the same dtype, shape and channel order.
    border: pixels left out at every edge, at least 0; default 3, the
        method's black frame (published tables often use 10).
    order: channel order of both arrays, "BGR" (default) or "RGB".
    metrics: a comma-separated string or a list or tuple naming a subset of
        "psnr", "ssim", "de2000", "zipper" (default "psnr", the bench's
        default, by far the quickest).
    white_level: for uint16 arrays, the largest value a sample may take,
        1 to 65535; None (default) means 65535. PSNR takes it as the peak,
        SSIM as the data range, and CIEDE2000 and the zipper share read each
        sample v as the sRGB value v / white_level. For uint8 arrays only
        None or 255.

Returns:
    A dict with the float figures asked for: "PSNR_R", "PSNR_G", "PSNR_B",
    "CPSNR" (``math.inf`` for a channel reconstructed exactly), "SSIM",
    "DE2000", "zipper". SSIM is NaN when the measured region is under 11 x 11
    pixels, zipper when it is under 3 x 3.

Raises:
    TypeError: an argument is not a uint8 or uint16 numpy array of 3 axes,
        the two dtypes differ, or ``white_level`` is not an int or None.
    ValueError: the shapes differ, not 3 channels, a negative border or one
        that leaves no pixel to measure, an unknown order or metric, a white
        level outside 1 to 65535 (or other than 255 for uint8), or a sample
        above it (the message names the array, its index and its value).

Strided views are read as ``sample_mosaic`` reads them (with the same
contract for ``as_strided`` arrays); the GIL is released while measuring.)";

}  // namespace

void AddArrayFunctions(py::module_& module) {
  // The tile has no default: sampling with one tile and reconstructing with
  // another would give a plausible but wrong image without any error.
  module.def("sample_mosaic", &SampleMosaicOfArray, py::arg("image"), py::arg("pattern"),
             py::arg("order") = "BGR", py::arg("noise") = py::none(), py::arg("seed") = 0,
             py::arg("name") = "", kSampleMosaicDoc);
  module.def("reconstruct", &ReconstructArray, py::arg("mosaic"), py::arg("pattern"),
             py::arg("order") = "BGR", py::arg("threads") = 1, py::arg("white_level") = py::none(),
             kReconstructDoc);
  module.def("measure", &MeasureArrays, py::arg("reference"), py::arg("reconstruction"),
             py::arg("border") = kFrameWidth, py::arg("order") = "BGR", py::arg("metrics") = "psnr",
             py::arg("white_level") = py::none(), kMeasureDoc);
}

}  // namespace demosaic::python
