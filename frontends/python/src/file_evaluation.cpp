// Binding of the pipeline's file evaluation and the bench's report formatting
// for the Dask front end (demosaic/evaluate.py).
#include "file_evaluation.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <opencv2/core/utility.hpp>
#include <span>
#include <string>
#include <vector>

#include "evaluation/failure.h"
#include "evaluation/image_evaluation.h"
#include "evaluation/image_list.h"
#include "evaluation/image_loading.h"
#include "evaluation/methods.h"
#include "io/image_files.h"
#include "numpy_views.h"
#include "report/table.h"

namespace demosaic::python {
namespace {

// Paths cross between Python and C++ as the file system's bytes, so that a
// name that is not valid UTF-8 survives the round trip (Python holds it with
// surrogate escapes, as os.fsdecode gives).
std::string FileSystemBytes(const py::handle& path) {
  return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

py::str FileSystemText(const std::string& bytes) {
  PyObject* text =
      PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// One image's evaluation as it crosses the network from a worker: a tuple
// (skip_reason, width, height, outcomes), each outcome a tuple (PSNR_R,
// PSNR_G, PSNR_B, CPSNR, milliseconds) in the order of method_names().
py::tuple EvaluationTuple(const ImageEvaluation& evaluation) {
  py::list outcomes;
  for (const MethodOutcome& outcome : evaluation.methods) {
    const QualityFigures& f = outcome.figures.psnr;
    outcomes.append(py::make_tuple(f.psnr_r, f.psnr_g, f.psnr_b, f.cpsnr, outcome.milliseconds));
  }
  return py::make_tuple(FileSystemText(evaluation.skip_reason), evaluation.width, evaluation.height,
                        outcomes);
}

// A measured image for the formatters, from (name, width, height, outcomes)
// with outcomes as EvaluationTuple gives them.
bench::ImageResult ImageResultOf(const py::handle& row) {
  const auto fields = row.cast<py::sequence>();
  if (fields.size() != 4) throw py::value_error("a result is (name, width, height, outcomes)");
  bench::ImageResult result;
  result.name = FileSystemBytes(fields[0]);
  result.width = fields[1].cast<std::int32_t>();
  result.height = fields[2].cast<std::int32_t>();
  for (const py::handle item : fields[3].cast<py::iterable>()) {
    const auto figures = item.cast<std::vector<double>>();
    if (figures.size() != 5) throw py::value_error("an outcome is five numbers");
    MethodOutcome outcome;
    outcome.figures.psnr = {figures[0], figures[1], figures[2], figures[3]};
    outcome.milliseconds = figures[4];
    result.methods.push_back(outcome);
  }
  return result;
}

std::vector<bench::ImageResult> ImageResultsOf(const py::iterable& rows) {
  std::vector<bench::ImageResult> results;
  for (const py::handle row : rows) results.push_back(ImageResultOf(row));
  if (results.empty()) throw py::value_error("no measured image");
  return results;
}

std::vector<Method> AllMethods() {
  return {kAllMethods.begin(), kAllMethods.end()};
}

// The table's columns: one per method, each timed.
std::vector<bench::MethodColumn> MethodColumns() {
  std::vector<bench::MethodColumn> columns;
  for (const Method method : kAllMethods) columns.push_back({std::string(MethodName(method))});
  return columns;
}

py::list ExpandPathsBinding(const py::iterable& paths) {
  std::vector<std::string> arguments;
  for (const py::handle path : paths) arguments.push_back(FileSystemBytes(path));
  py::list files;
  for (const InputFile& file : ExpandPaths(arguments)) {
    files.append(py::make_tuple(FileSystemText(file.path.string()), FileSystemText(file.name),
                                FileSystemText(file.error)));
  }
  return files;
}

py::tuple EvaluateFileBinding(const py::object& path, const std::string& pattern_name,
                              std::int32_t border) {
  const EvaluationRequest request{ParsePatternArgument(pattern_name), border, AllMethods(),
                                  MetricSet{}};
  const std::string file = FileSystemBytes(path);
  ImageEvaluation evaluation;
  {
    const py::gil_scoped_release release;
    // OpenCV would spread its baselines over every core while the method
    // uses one; the bench runs them on one thread each, and so does this
    // worker process.
    static std::once_flag one_thread;
    std::call_once(one_thread, [] { cv::setNumThreads(1); });
    std::error_code missing;
    if (!std::filesystem::exists(file, missing)) {
      evaluation.skip_reason = "no such file or directory";
    } else {
      try {
        evaluation = EvaluateImageFile(file, request);
      } catch (const std::exception& e) {
        evaluation = ImageEvaluation{};
        evaluation.skip_reason = std::string("error: ") + e.what();
      }
    }
  }
  return EvaluationTuple(evaluation);
}

py::array LoadImageBinding(const py::object& path) {
  const std::string file = FileSystemBytes(path);
  std::optional<Expected<cv::Mat>> loaded;
  {
    const py::gil_scoped_release release;
    loaded.emplace(LoadImageFile(file, {EvaluationMemory(1, false, 0), std::nullopt}));
  }
  if (!loaded->ok()) {
    throw py::value_error(py::str(path).cast<std::string>() + ": " + SkipReason(loaded->error()));
  }
  const cv::Mat& image = loaded->value();
  py::array_t<std::uint8_t> array = NewImageArray(image.cols, image.rows);
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(image.cols);
  for (int r = 0; r < image.rows; ++r) {
    std::memcpy(array.mutable_data(r), image.ptr<std::uint8_t>(r), row_bytes);
  }
  return array;
}

bool WriteFileBinding(const py::object& path, const py::bytes& data) {
  const std::string target = FileSystemBytes(path);
  const std::string bytes = data;
  const py::gil_scoped_release release;
  return WriteFileAtomically(
             target, std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()))
      .ok();
}

}  // namespace

void AddFileEvaluation(py::module_& module) {
  py::class_<bench::TableLayout>(module, "TableLayout",
                                 "The bench's table layout: methods, tile, border, name width.");

  module.def(
      "method_names",
      [] {
        std::vector<std::string> names;
        for (const Method method : kAllMethods) names.emplace_back(MethodName(method));
        return names;
      },
      "The methods evaluate_file runs, in its order: method, bilinear, edge-aware.");
  module.def("expand_paths", &ExpandPathsBinding, py::arg("paths"),
             "The image files of command-line paths as demosaic-bench takes them: a list of "
             "(path, name, error); error is non-empty for a directory that cannot be listed.");
  module.def("evaluate_file", &EvaluateFileBinding, py::arg("path"), py::arg("pattern"),
             py::arg("border"),
             "Loads one image file and evaluates every method on its mosaic as demosaic-bench "
             "does: (skip_reason, width, height, outcomes); skip_reason is empty when measured. "
             "Sets OpenCV to one thread in this process.");
  module.def("load_image", &LoadImageBinding, py::arg("path"),
             "Decodes an image file as the tools do (8-bit B, G, R; grey expanded, 16-bit scaled, "
             "alpha dropped); ValueError with the skip reason when it cannot.");
  module.def(
      "table_layout",
      [](const std::string& pattern, std::int32_t border, const std::vector<py::object>& names) {
        std::vector<std::string> bytes;
        for (const py::object& name : names) bytes.push_back(FileSystemBytes(name));
        return bench::MakeTableLayout(MethodColumns(), MetricSet{}, false,
                                      ParsePatternArgument(pattern), border, bytes);
      },
      py::arg("pattern"), py::arg("border"), py::arg("names"));
  module.def("format_table_header", [](const bench::TableLayout& layout) {
    return py::bytes(bench::FormatTableHeader(layout));
  });
  module.def("format_image_row", [](const bench::TableLayout& layout, const py::object& result) {
    return py::bytes(bench::FormatImageRow(layout, ImageResultOf(result)));
  });
  module.def("format_mean_row", [](const bench::TableLayout& layout, const py::iterable& results) {
    return py::bytes(bench::FormatMeanRow(layout, ImageResultsOf(results)));
  });
  module.def("format_throughput_row",
             [](const bench::TableLayout& layout, const py::iterable& results) {
               return py::bytes(bench::FormatThroughputRow(layout, ImageResultsOf(results)));
             });
  module.def("csv_header",
             [](const bench::TableLayout& layout) { return py::bytes(bench::CsvHeader(layout)); });
  module.def("csv_lines", [](const bench::TableLayout& layout, const py::object& result) {
    return py::bytes(bench::CsvLines(layout, ImageResultOf(result)));
  });
  module.def("write_file_atomically", &WriteFileBinding, py::arg("path"), py::arg("data"),
             "Replaces the file at path with data in one step, as the bench writes its CSV; "
             "False when it cannot be written (nothing is then left behind).");
  module.def(
      "is_same_file",
      [](const py::object& a, const py::object& b) {
        return IsSameFile(FileSystemBytes(a), FileSystemBytes(b));
      },
      py::arg("a"), py::arg("b"), "True when b names the existing file a (links included).");
}

}  // namespace demosaic::python
