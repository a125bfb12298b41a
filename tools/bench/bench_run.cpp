// The run of demosaic-bench: check where files will go, expand the paths,
// then for every image sample the mosaic once, reconstruct it with each
// method, measure, print its row and save what was asked for; finally the
// summary rows, the CSV file and the line naming what was skipped.
#include "bench_run.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <span>
#include <string>
#include <vector>

#include "cfa/cfa.h"
#include "driver/evaluation_run.h"
#include "driver/image_files.h"
#include "engine/engine.h"
#include "error_map.h"
#include "image_list.h"
#include "methods.h"
#include "quality/quality.h"
#include "report.h"

namespace demosaic::bench {
namespace {

constexpr std::int32_t kMinimumSide = 7;  // the smallest image with an interior

// Image k of n on standard error, overwritten in place, only where standard
// error is a terminal: in a log file it would be noise.
struct Progress {
  bool shown = isatty(STDERR_FILENO) == 1;

  void Show(std::size_t k, std::size_t n, const std::string& name) const {
    if (shown) std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", k, n, name.c_str());
  }
  void Clear() const {
    if (shown) std::fputs("\r\033[K", stderr);
  }
};

void Message(const Progress& progress, const std::string& text) {
  progress.Clear();
  std::fprintf(stderr, "demosaic-bench: %s\n", text.c_str());
}

struct Skip {
  std::string name;
  std::string reason;
};

// Why an image of this size cannot be measured, or "" when it can.
std::string SizeProblem(std::int32_t width, std::int32_t height, std::int32_t border) {
  if (!IsLargeEnough(width, height)) {
    return "too small: at least 7 x 7 pixels are needed";
  }
  const std::int64_t side = 2 * std::int64_t{border} + 1;
  if (width < side || height < side) {
    return "too small for --border " + std::to_string(border) + ": at least " +
           std::to_string(side) + " x " + std::to_string(side) + " pixels are needed";
  }
  return "";
}

// Bytes an image still needs once loaded: the mosaic, one reconstruction
// (reused by every method), the engine's planes and, when saving, the error
// levels, their colours and an encoded file (at most about the raw size).
std::size_t BytesStillNeeded(std::int32_t width, std::int32_t height, bool saving) {
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::size_t bytes = sites + 3 * sites + ReconstructionWorkingBytes(width, height);
  if (saving) bytes += sites + 3 * sites + 3 * sites;
  return bytes;
}

bool IsAnInput(const std::filesystem::path& path, const std::vector<InputFile>& inputs) {
  for (const InputFile& input : inputs) {
    if (IsSameFile(input.path, path)) return true;
  }
  return false;
}

// Writes one image unless that would replace one of the run's inputs.
// Returns "" or what went wrong.
std::string SaveOutput(const std::filesystem::path& path, const cv::Mat& image,
                       const std::vector<InputFile>& inputs) {
  if (IsAnInput(path, inputs)) return path.string() + " (would overwrite an input image)";
  if (!SaveImageAtomically(path.string(), image)) return path.string() + " (cannot be written)";
  return "";
}

// Where the run's files go, checked before any image is read so that a long
// run cannot end with its results unwritable. Returns "" or the problem.
std::string CheckDestinations(const BenchOptions& options) {
  std::error_code error;
  if (!options.csv_path.empty()) {
    std::filesystem::path directory = std::filesystem::path(options.csv_path).parent_path();
    if (directory.empty()) directory = ".";
    if (!std::filesystem::is_directory(directory, error)) {
      return "--csv: directory '" + directory.string() + "' does not exist";
    }
    if (std::filesystem::is_directory(options.csv_path, error)) {
      return "--csv: '" + options.csv_path + "' is a directory";
    }
  }
  if (!options.save_dir.empty()) {
    std::filesystem::create_directories(options.save_dir, error);
    if (error || !std::filesystem::is_directory(options.save_dir)) {
      return "--save: cannot create directory '" + options.save_dir +
             "': " + (error ? error.message() : "a file of that name exists");
    }
    // Saved files in an input directory would be taken as images next run.
    for (const std::string& path : options.paths) {
      if (std::filesystem::is_directory(path, error) &&
          std::filesystem::equivalent(path, options.save_dir, error)) {
        return "--save: '" + options.save_dir + "' is one of the image directories";
      }
    }
  }
  return "";
}

// Samples the mosaic once and runs every method on it. Returns "" or why the
// image could not be measured; names of files that could not be saved are
// added to `unwritten`.
std::string MeasureImage(const cv::Mat& reference, const BenchOptions& options,
                         const std::filesystem::path& save_stem,
                         const std::vector<InputFile>& inputs, ImageResult& result,
                         std::vector<std::string>& unwritten) {
  const std::int32_t width = reference.cols;
  const std::int32_t height = reference.rows;
  const bool saving = !options.save_dir.empty();
  // Past what the system can give, the kernel would kill the process rather
  // than let an allocation fail: refuse before allocating instead.
  if (BytesStillNeeded(width, height, saving) > AvailableMemoryBytes()) {
    return "not enough memory";
  }
  try {
    const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const ConstColorImage reference_pixels(reference.ptr<std::uint8_t>(), 3 * sites);
    cv::Mat mosaic(height, width, CV_8UC1);
    SampleMosaic(reference_pixels, width, height, MosaicPlane(mosaic.ptr<std::uint8_t>(), sites));
    cv::Mat output(height, width, CV_8UC3);
    for (const Method method : options.methods) {
      const auto start = std::chrono::steady_clock::now();
      Reconstruct(method, mosaic, output);
      const auto stop = std::chrono::steady_clock::now();
      MethodResult measured;
      measured.milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
      measured.figures =
          ComputeQuality(reference_pixels, ConstColorImage(output.ptr<std::uint8_t>(), 3 * sites),
                         width, height, options.border);
      result.methods.push_back(measured);
      if (saving) {
        const std::string stem = save_stem.string() + "." + std::string(MethodName(method));
        for (const std::string& problem :
             {SaveOutput(stem + ".png", output, inputs),
              SaveOutput(stem + ".err.png", MakeErrorMap(reference, output, options.border),
                         inputs)}) {
          if (!problem.empty()) unwritten.push_back(problem);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return "not enough memory";
  } catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem) return "not enough memory";
    return "OpenCV error: " + e.msg;
  }
  return "";
}

std::string SummaryLine(std::size_t measured, const std::vector<Skip>& skipped,
                        const std::vector<std::string>& unwritten) {
  std::string line = std::to_string(measured) + (measured == 1 ? " image" : " images") +
                     " measured, " + std::to_string(skipped.size()) + " skipped";
  for (std::size_t i = 0; i < skipped.size(); ++i) {
    line += (i == 0 ? ": " : ", ") + skipped[i].name + " (" + skipped[i].reason + ")";
  }
  if (!unwritten.empty()) {
    line += "; " + std::to_string(unwritten.size()) + " not written: ";
    for (std::size_t i = 0; i < unwritten.size(); ++i) line += (i == 0 ? "" : ", ") + unwritten[i];
  }
  return line;
}

}  // namespace

int RunBench(const BenchOptions& options) {
  // OpenCV would spread its conversions over every core while the method uses
  // one; one thread each keeps the throughput row a comparison of methods.
  cv::setNumThreads(1);

  if (const std::string problem = CheckDestinations(options); !problem.empty()) {
    std::fprintf(stderr, "demosaic-bench: %s\n", problem.c_str());
    return kExitUsage;
  }
  const std::vector<InputFile> inputs = ExpandPaths(options.paths);
  if (!options.csv_path.empty() && IsAnInput(options.csv_path, inputs)) {
    std::fprintf(stderr, "demosaic-bench: --csv: '%s' is one of the images\n",
                 options.csv_path.c_str());
    return kExitUsage;
  }
  const std::vector<std::string> save_names = SaveNames(inputs);
  std::vector<std::string> names;
  for (const InputFile& input : inputs) names.push_back(input.name);
  const TableLayout layout = MakeTableLayout(options.methods, options.detail, names);

  const Progress progress;
  std::fputs(FormatTableHeader(layout, options.border).c_str(), stdout);
  std::fflush(stdout);
  std::vector<ImageResult> results;
  std::vector<Skip> skipped;
  std::vector<std::string> unwritten;
  std::string csv = CsvHeader();
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const InputFile& input = inputs[i];
    progress.Show(i + 1, inputs.size(), input.name);
    std::string reason = input.error;
    cv::Mat reference;
    std::error_code missing;
    if (reason.empty() && !std::filesystem::exists(input.path, missing)) {
      reason = "no such file or directory";
    }
    if (reason.empty()) {
      switch (LoadColorImage(input.path.string(), reference)) {
        case LoadStatus::kLoaded:
          reason = SizeProblem(reference.cols, reference.rows, options.border);
          break;
        case LoadStatus::kUnreadable:
          reason = "cannot be read as an image";
          break;
        case LoadStatus::kOutOfMemory:
          reason = "not enough memory";
          break;
      }
    }
    ImageResult result{input.name, reference.cols, reference.rows, {}};
    if (reason.empty()) {
      reason =
          MeasureImage(reference, options, std::filesystem::path(options.save_dir) / save_names[i],
                       inputs, result, unwritten);
    }
    if (!reason.empty()) {
      Message(progress, input.path.string() + ": skipped, " + reason);
      skipped.push_back({input.path.string(), reason});
      continue;
    }
    progress.Clear();
    std::fputs(FormatImageRow(layout, result).c_str(), stdout);
    std::fflush(stdout);
    csv += CsvLines(options.methods, result);
    results.push_back(std::move(result));
  }
  progress.Clear();
  if (!results.empty()) {
    std::fputs(FormatMeanRow(layout, results).c_str(), stdout);
    std::fputs(FormatThroughputRow(layout, results).c_str(), stdout);
    std::fflush(stdout);
  }
  if (!options.csv_path.empty()) {
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(csv.data()),
                                               csv.size());
    if (!WriteFileAtomically(options.csv_path, bytes)) {
      unwritten.push_back(options.csv_path + " (cannot be written)");
    }
  }
  if (inputs.empty()) Message(progress, "no images found");
  Message(progress, SummaryLine(results.size(), skipped, unwritten));
  const bool complete = skipped.empty() && unwritten.empty() && !inputs.empty();
  return complete ? kExitAllMeasured : kExitSomeFailed;
}

}  // namespace demosaic::bench
