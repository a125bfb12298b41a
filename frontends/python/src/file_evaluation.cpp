// Binding of the pipeline's run for the Dask front end (demosaic/evaluate.py):
// the run is planned, printed and finished by the pipeline, exactly as for
// demosaic-bench; Python only spreads the per-image evaluations over a
// cluster and hands their outcomes back.
#include "file_evaluation.h"

#include <fcntl.h>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "evaluation/failure.h"
#include "evaluation/image_evaluation.h"
#include "evaluation/image_loading.h"
#include "evaluation/run_plan.h"
#include "evaluation/run_report.h"
#include "io/image_files.h"
#include "numpy_views.h"

namespace demosaic::python {
namespace {

// Paths cross between Python and C++ as the file system's bytes, so that a
// name that is not valid UTF-8 survives the round trip (Python holds it with
// surrogate escapes, as os.fsdecode gives).
// A path with an embedded NUL byte would be cut short at it by every call
// of the system: refused, as os.open refuses it.
std::string FileSystemBytes(const py::handle& path) {
  std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  if (bytes.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
  return bytes;
}

py::str FileSystemText(const std::string& bytes) {
  PyObject* text =
      PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// How a Dask run reads and measures its references, as the bench's --depth,
// --white-level and --space say; evaluate.py has checked the command line.
struct DepthArguments {
  std::string depth = "8";
  std::int32_t white_level = 0;  // 0: none declared
  std::string space = "native";
  // Camera raw files' half-size references: "none" or "camera" (the
  // as-shot balance), as demosaic-bench's --white-balance.
  std::string white_balance = "none";
};

// The options of a Dask run: every built-in method, PSNR, the CSV file.
// ValueError for a depth, white level or space the bench would refuse.
RunOptions DaskRunOptions(const std::vector<std::string>& paths, const std::string& csv_path,
                          const std::string& pattern, std::int32_t border,
                          const DepthArguments& depth) {
  RunOptions options;
  options.program = "demosaic.evaluate";
  options.paths = paths;
  options.csv_path = csv_path;
  options.pattern = ParsePatternArgument(pattern);
  options.border = border;
  if (depth.depth != "8" && depth.depth != "native") {
    throw py::value_error("depth must be '8' or 'native', not '" + depth.depth + "'");
  }
  options.depth = depth.depth == "native" ? SampleDepth::kNative : SampleDepth::kEight;
  if (depth.white_level < 0 || depth.white_level > kMaxWhiteLevel ||
      (depth.white_level != 0 && options.depth == SampleDepth::kEight)) {
    throw py::value_error("white_level " + std::to_string(depth.white_level) +
                          " is not 1 to 65535 with depth 'native' (0: none declared)");
  }
  options.white_level = depth.white_level;
  const std::optional<SampleSpace> space = SpaceFromName(depth.space);
  if (!space) throw py::value_error("space must be 'native' or 'srgb', not '" + depth.space + "'");
  options.space = *space;
  if (depth.white_balance != "none" && depth.white_balance != "camera") {
    throw py::value_error("white_balance must be 'none' or 'camera', not '" + depth.white_balance +
                          "'");
  }
  if (depth.white_balance == "camera" && options.depth == SampleDepth::kEight) {
    throw py::value_error("white_balance 'camera' needs depth 'native'");
  }
  options.raw_white_balance =
      depth.white_balance == "camera" ? RawWhiteBalance::kCamera : RawWhiteBalance::kNone;
  return options;
}

// One image's outcome as it crosses the network from a worker: a tuple
// (skip_reason, width, height, outcomes, white_level, from_raw), each outcome
// a tuple (PSNR_R, PSNR_G, PSNR_B, CPSNR, milliseconds) in the run's method
// order. The skip reason is "" for a measured image. A tuple of the first
// four alone (an image that was never evaluated) has white level 255; one
// without from_raw is not from a raw file.
py::tuple OutcomeTuple(const ImageOutcome& outcome) {
  py::list methods;
  for (const MethodOutcome& method : outcome.methods) {
    const QualityFigures& f = method.figures.psnr;
    methods.append(py::make_tuple(f.psnr_r, f.psnr_g, f.psnr_b, f.cpsnr, method.milliseconds));
  }
  const std::string reason = outcome.status.ok() ? "" : SkipReason(outcome.status.error());
  return py::make_tuple(FileSystemText(reason), outcome.width, outcome.height, methods,
                        outcome.white_level, outcome.from_raw);
}

ImageOutcome OutcomeOf(const py::handle& tuple) {
  const auto fields = tuple.cast<py::sequence>();
  if (fields.size() < 4 || fields.size() > 6) {
    throw py::value_error(
        "an outcome is (reason, width, height, methods[, white_level[, from_raw]])");
  }
  ImageOutcome outcome;
  const std::string reason = FileSystemBytes(fields[0]);
  if (!reason.empty()) {
    outcome.status = Error{ErrorKind::kOther, reason};
    return outcome;
  }
  outcome.width = fields[1].cast<std::int32_t>();
  outcome.height = fields[2].cast<std::int32_t>();
  outcome.white_level = fields.size() >= 5 ? fields[4].cast<std::int32_t>() : 255;
  outcome.from_raw = fields.size() == 6 && fields[5].cast<bool>();
  for (const py::handle item : fields[3].cast<py::iterable>()) {
    const auto figures = item.cast<std::vector<double>>();
    if (figures.size() != 5) throw py::value_error("a method's outcome is five numbers");
    MethodOutcome method;
    method.figures.psnr = {figures[0], figures[1], figures[2], figures[3]};
    method.milliseconds = figures[4];
    outcome.methods.push_back(method);
  }
  return outcome;
}

// The task of one image, run on a worker.
py::tuple EvaluateFileBinding(const py::object& path, const std::string& pattern,
                              std::int32_t border, const std::string& depth,
                              std::int32_t white_level, const std::string& space,
                              const std::string& white_balance) {
  const std::string file = FileSystemBytes(path);
  const EvaluationRequest request = RequestOf(
      DaskRunOptions({}, "", pattern, border, {depth, white_level, space, white_balance}));
  const InputFile input{file, std::filesystem::path(file).filename().string(), ""};
  ImageOutcome outcome;
  {
    const py::gil_scoped_release release;
    outcome = EvaluateInput(input, request, EvaluationOutputs{}, SIZE_MAX);
  }
  return OutcomeTuple(outcome);
}

// A run's report, owned by Python between its start and its finish; its
// messages go to a stream of its own on the descriptor it was given.
struct Run {
  RunReport report;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> messages{nullptr, std::fclose};
};

py::str RunProblem(const Error& error) {
  return FileSystemText(error.detail);
}

std::shared_ptr<Run> StartRun(const py::iterable& paths, const py::object& csv_path,
                              const std::string& pattern, std::int32_t border, int message_fd,
                              const std::string& depth, std::int32_t white_level,
                              const std::string& space, const std::string& white_balance) {
  std::vector<std::string> arguments;
  for (const py::handle path : paths) arguments.push_back(FileSystemBytes(path));
  const RunOptions options = DaskRunOptions(arguments, FileSystemBytes(csv_path), pattern, border,
                                            {depth, white_level, space, white_balance});
  auto run = std::make_shared<Run>();
  const int fd = fcntl(message_fd, F_DUPFD_CLOEXEC, 3);
  std::FILE* stream = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (stream == nullptr && fd >= 0) close(fd);
  run->messages.reset(stream);
  Expected<RunPlan> plan = [&] {
    const py::gil_scoped_release release;
    return PlanRun(options);
  }();
  if (!plan.ok()) throw py::value_error(RunProblem(plan.error()));
  // Python flushes what it printed before the table starts (where it has a
  // standard output at all).
  if (const py::object out = py::module_::import("sys").attr("stdout"); !out.is_none()) {
    out.attr("flush")();
  }
  run->report = StartRunReport(std::move(plan).value(), stream != nullptr ? stream : stderr);
  return run;
}

py::list RunInputs(const Run& run) {
  py::list inputs;
  for (const InputFile& input : run.report.plan.inputs) {
    inputs.append(py::make_tuple(FileSystemText(input.path.string()), FileSystemText(input.name),
                                 FileSystemText(input.error)));
  }
  return inputs;
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

}  // namespace

void AddFileEvaluation(py::module_& module) {
  py::class_<Run, std::shared_ptr<Run>>(
      module, "Run",
      "A run over image files, planned, printed and finished as demosaic-bench does.")
      .def("inputs", &RunInputs,
           "The run's images as (path, name, error); error is non-empty for a path that could "
           "not be listed.")
      .def(
          "accept",
          [](Run& run, std::size_t index, const py::object& outcome) {
            if (index >= run.report.plan.inputs.size()) throw py::index_error("no such input");
            AcceptOutcome(run.report, index, OutcomeOf(outcome));
          },
          py::arg("index"), py::arg("outcome"),
          "Takes the outcome of input `index` (as evaluate_file gives it) and prints every row "
          "now next in input order.")
      .def(
          "message",
          [](Run& run, const py::object& text) { RunMessage(run.report, FileSystemBytes(text)); },
          py::arg("text"), "Prints 'demosaic.evaluate: TEXT' on the run's message stream.")
      .def(
          "finish",
          [](Run& run) {
            const py::gil_scoped_release release;
            return FinishRunReport(run.report);
          },
          "The mean and throughput rows, the CSV file and the summary; returns the exit status.");

  module.def("start_run", &StartRun, py::arg("paths"), py::arg("csv"), py::arg("pattern"),
             py::arg("border"), py::arg("message_fd") = 2, py::arg("depth") = "8",
             py::arg("white_level") = 0, py::arg("space") = "native",
             py::arg("white_balance") = "none",
             "Plans a run over the image files of `paths` with demosaic-bench's checks and prints "
             "the table's header; ValueError with the problem when a destination is refused. "
             "depth, white_level (0: none declared), space and white_balance (of camera raw "
             "files) as demosaic-bench's --depth, --white-level, --space and --white-balance.");
  module.def("evaluate_file", &EvaluateFileBinding, py::arg("path"), py::arg("pattern"),
             py::arg("border"), py::arg("depth") = "8", py::arg("white_level") = 0,
             py::arg("space") = "native", py::arg("white_balance") = "none",
             "Evaluates one image file as demosaic-bench does, every method on its mosaic: "
             "(skip_reason, width, height, outcomes, white_level, from_raw); skip_reason is empty "
             "when measured, white_level 255 for 8-bit samples, from_raw true for a camera raw "
             "file's half-size reference.");
  module.def("progress_text", &ProgressText, py::arg("done"), py::arg("total"),
             py::arg("width") = 30, "The progress bar of `done` of `total` images.");
  module.def("load_image", &LoadImageBinding, py::arg("path"),
             "Decodes an image file as the tools do (8-bit B, G, R; grey expanded, 16-bit scaled, "
             "alpha dropped); ValueError with the skip reason when it cannot.");
}

}  // namespace demosaic::python
