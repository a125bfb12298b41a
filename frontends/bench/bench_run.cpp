// The run of demosaic-bench: check where files will go, expand the paths,
// then evaluate the images (several at once with --jobs) and print each row
// in input order as soon as it and every row before it are done; finally the
// summary rows, the CSV file, the HTML report's page and the line naming what
// was skipped.
#include "bench_run.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "evaluation/failure.h"
#include "evaluation/image_evaluation.h"
#include "evaluation/image_list.h"
#include "evaluation/image_loading.h"
#include "evaluation/mat_views.h"
#include "evaluation/output_destinations.h"
#include "io/image_files.h"
#include "io/image_header.h"
#include "report/error_map.h"
#include "report/html_report.h"
#include "report/table.h"

namespace demosaic::bench {
namespace {

// Image k of n on the message stream, overwritten in place, only where that
// stream is a terminal: in a log file it would be noise.
struct Progress {
  std::FILE* stream;
  bool shown = isatty(fileno(stream)) == 1;

  void Show(std::size_t k, std::size_t n, const std::string& name) const {
    if (shown) std::fprintf(stream, "\r\033[K[%zu/%zu] %s", k, n, name.c_str());
  }
  void Clear() const {
    if (shown) std::fputs("\r\033[K", stream);
  }
  void Status(const std::string& text) const {
    if (shown) std::fprintf(stream, "\r\033[K%s", text.c_str());
  }
};

void Message(const Progress& progress, const std::string& text) {
  progress.Clear();
  std::fprintf(progress.stream, "demosaic-bench: %s\n", text.c_str());
  std::fflush(progress.stream);
}

struct Skip {
  std::string name;
  std::string reason;
};

// What evaluating one input produced.
struct ImageWork {
  ImageResult result;
  std::string skip_reason;              // empty when measured
  std::vector<std::string> unwritten;   // files that could not be saved
  std::vector<std::string> unmeasured;  // compared methods' files that could not be measured
  ImageSection report;                  // its images in the HTML report
};

// The image files of a compared method's directory, by name without the
// extension.
using ComparedFiles = std::map<std::string, std::vector<std::filesystem::path>>;

ComparedFiles ListComparedFiles(const std::filesystem::path& directory) {
  ComparedFiles files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::filesystem::path& path = it->path();
    std::error_code type_error;
    if (path.filename().string().starts_with('.') || !HasImageExtension(path)) continue;
    if (std::filesystem::is_directory(path, type_error)) continue;
    files[path.stem().string()].push_back(path);
  }
  for (auto& [stem, paths] : files) std::sort(paths.begin(), paths.end());
  return files;
}

// Reads the compared method's reconstruction of a reference of `size`.
// Returns "" or why it cannot be measured.
std::string LoadCompared(const ComparedFiles& files, const std::string& stem, cv::Size size,
                         std::size_t memory_left, cv::Mat& image) {
  const auto found = files.find(stem);
  if (found == files.end()) return "no file named " + stem + ".*";
  if (found->second.size() > 1) {
    std::string names;
    for (const auto& path : found->second) names += (names.empty() ? "" : ", ") + path.string();
    return "more than one file for the image: " + names;
  }
  const std::filesystem::path& path = found->second.front();
  RunMemory memory;
  memory.ceiling = memory_left;
  Expected<cv::Mat> loaded = LoadImageFile(path.string(), {memory, size});
  if (!loaded.ok()) {
    const std::string& detail = loaded.error().detail;
    return path.string() + " " + (detail.empty() ? "cannot be read as an image" : detail);
  }
  image = std::move(loaded).value();
  return "";
}

// Bytes per pixel that saving adds: the error levels, their colours and an
// encoded file (at most about the raw size).
constexpr std::size_t kSavingBytesPerPixel = 1 + 3 + 3;

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
  if (!SaveImageAtomically(path.string(), image).ok())
    return path.string() + " (cannot be written)";
  return "";
}

// Where the run's files go, checked before any image is read so that a long
// run cannot end with its results unwritable, among its inputs (the
// reference images and the compared methods' directories, which are only
// read) or on one another. Creates the --save and --report directories.
// Returns "" or the problem.
std::string CheckDestinations(const BenchOptions& options, const std::vector<InputFile>& inputs,
                              const std::vector<std::string>& save_names) {
  std::error_code error;
  std::vector<OutputClaim> claims;
  if (!options.csv_path.empty()) {
    std::filesystem::path directory = std::filesystem::path(options.csv_path).parent_path();
    if (directory.empty()) directory = ".";
    // The --save directory, made below, may take the CSV file too.
    const bool in_save_dir =
        !options.save_dir.empty() && std::filesystem::weakly_canonical(directory, error) ==
                                         std::filesystem::weakly_canonical(options.save_dir, error);
    if (!std::filesystem::is_directory(directory, error) && !in_save_dir) {
      return "--csv: directory '" + directory.string() + "' does not exist";
    }
    if (std::filesystem::is_directory(options.csv_path, error)) {
      return "--csv: '" + options.csv_path + "' is a directory";
    }
    claims.push_back({"--csv", options.csv_path, false, {}, HasImageExtension(options.csv_path)});
  }
  if (!options.save_dir.empty()) {
    OutputClaim save{"--save", options.save_dir, true, {}, false};
    for (const std::string& name : save_names) {
      for (const Method method : options.methods) {
        const std::string stem = name + "." + std::string(MethodName(method));
        save.names.push_back(stem + ".png");
        save.names.push_back(stem + ".err.png");
      }
      for (const ComparedMethod& compared : options.compared) {
        save.names.push_back(name + "." + compared.name + ".err.png");
      }
    }
    claims.push_back(save);
  }
  if (!options.report_dir.empty())
    claims.push_back({"--report", options.report_dir, true, {}, false});
  RunInputs run_inputs;
  for (const std::string& path : options.paths) {
    if (std::filesystem::is_directory(path, error)) run_inputs.directories.emplace_back(path);
  }
  for (const ComparedMethod& compared : options.compared) {
    run_inputs.directories.push_back(compared.directory);
  }
  for (const InputFile& input : inputs) {
    if (input.error.empty()) run_inputs.files.push_back(input.path);
  }
  if (std::string problem = CheckOutputClaims(claims, run_inputs); !problem.empty()) {
    return problem;
  }
  if (!options.report_dir.empty()) {
    if (std::string problem = PrepareReportDirectory(options.report_dir, options.paths);
        !problem.empty()) {
      return problem;
    }
  }
  if (!options.save_dir.empty()) {
    std::filesystem::create_directories(options.save_dir, error);
    if (error || !std::filesystem::is_directory(options.save_dir)) {
      return "--save: cannot create directory '" + options.save_dir +
             "': " + (error ? error.message() : "a file of that name exists");
    }
  }
  return "";
}

// Standard output for the table: the first failure to write it is kept, to
// be reported once at the end.
struct TableOutput {
  int error = 0;
  void Put(const std::string& text) {
    const int failure = PutStandardOutput(text);
    if (error == 0) error = failure;
  }
};

// What the images being evaluated at once share: jobs normally run side by
// side, each counting on an equal share of the memory left; an image that does
// not fit its share is tried again alone with all of it, so that what is
// skipped never depends on the number of jobs.
struct SharedMemory {
  std::shared_mutex turns;
  int jobs = 1;
};

// Loads and measures one input, saving its files and writing its report
// images when asked.
ImageWork EvaluateInput(const InputFile& input, std::size_t index, const std::string& save_name,
                        const BenchOptions& options, const std::vector<InputFile>& inputs,
                        const std::vector<ComparedFiles>& compared_files,
                        const std::vector<std::string>& method_names, const ReportTarget& report,
                        SharedMemory& shared) {
  ImageWork work;
  work.result.name = input.name;
  work.skip_reason = input.error;
  std::error_code missing;
  if (work.skip_reason.empty() && !std::filesystem::exists(input.path, missing)) {
    work.skip_reason = "no such file or directory";
  }
  if (!work.skip_reason.empty()) return work;

  const bool saving = !options.save_dir.empty();
  const bool reporting = !report.dir.empty();
  const bool keep = saving || reporting;
  // A compared method's image is read one at a time, unless the report
  // keeps every method's image.
  const std::size_t compared_bytes =
      options.compared.empty() ? 0 : 3 * (reporting ? options.compared.size() : 1);
  RunMemory memory = EvaluationMemory(options.methods.size(), keep,
                                      (keep ? kSavingBytesPerPixel : 0) + compared_bytes);
  const EvaluationRequest request{options.pattern, options.border, options.methods,
                                  options.metrics};
  auto save = [&](const std::string& method, const cv::Mat* output, const cv::Mat& reference,
                  const cv::Mat& reconstruction) {
    const std::string stem =
        (std::filesystem::path(options.save_dir) / save_name).string() + "." + method;
    if (output != nullptr) {
      if (std::string problem = SaveOutput(stem + ".png", *output, inputs); !problem.empty()) {
        work.unwritten.push_back(problem);
      }
    }
    if (std::string problem = SaveOutput(
            stem + ".err.png", MakeErrorMap(reference, reconstruction, options.border), inputs);
        !problem.empty()) {
      work.unwritten.push_back(problem);
    }
  };
  auto attempt = [&](std::size_t share) -> Status {
    memory.ceiling = share;
    Expected<cv::Mat> loaded = LoadImageFile(input.path.string(), {memory, std::nullopt});
    if (!loaded.ok()) return loaded.error();
    const cv::Mat& reference = loaded.value();
    work.result.width = reference.cols;
    work.result.height = reference.rows;
    work.skip_reason = SizeProblem(reference.cols, reference.rows, options.border, options.metrics);
    if (!work.skip_reason.empty()) return {};
    try {
      std::vector<cv::Mat> outputs;
      work.result.methods = EvaluateMethods(reference, request, keep ? &outputs : nullptr);
      for (std::size_t m = 0; saving && m < outputs.size(); ++m) {
        save(std::string(MethodName(options.methods[m])), &outputs[m], reference, outputs[m]);
      }
      if (!reporting) outputs.clear();
      for (std::size_t k = 0; k < options.compared.size(); ++k) {
        cv::Mat image;
        MethodOutcome outcome;
        const std::string problem = LoadCompared(compared_files[k], input.path.stem().string(),
                                                 reference.size(), MemoryLeft(memory), image);
        outcome.measured = problem.empty();
        if (!problem.empty()) {
          work.unmeasured.push_back(options.compared[k].name + ": " + problem);
        } else {
          outcome.figures = MeasureFigures(ImageViewOf(reference), ImageViewOf(image),
                                           options.border, options.metrics);
          if (saving) save(options.compared[k].name, nullptr, reference, image);
        }
        work.result.methods.push_back(outcome);
        // An unmeasured method has an empty image: the report shows no crop.
        if (reporting) outputs.push_back(image);
      }
      if (reporting) {
        work.report = WriteReportImages(report, index, save_name, reference, outputs, method_names,
                                        work.result.methods, options.border);
        work.unwritten.insert(work.unwritten.end(), work.report.unwritten.begin(),
                              work.report.unwritten.end());
      }
    } catch (...) {
      work.result.methods.clear();
      return OutOfMemoryOrRethrow();
    }
    return {};
  };

  Status failure;
  {
    std::shared_lock<std::shared_mutex> side_by_side(shared.turns);
    failure = attempt(MemoryLeft(RunMemory{}) / static_cast<std::size_t>(shared.jobs));
  }
  if (!failure.ok() && failure.error().kind == ErrorKind::kOutOfMemory && shared.jobs > 1) {
    std::unique_lock<std::shared_mutex> alone(shared.turns);
    work.unwritten.clear();
    work.unmeasured.clear();
    failure = attempt(SIZE_MAX);
  }
  if (!failure.ok()) work.skip_reason = SkipReason(failure.error());
  return work;
}

std::string SummaryLine(std::size_t measured, const std::vector<Skip>& skipped,
                        const std::vector<std::string>& unwritten, std::size_t unmeasured) {
  std::string line = std::to_string(measured) + (measured == 1 ? " image" : " images") +
                     " measured, " + std::to_string(skipped.size()) + " skipped";
  for (std::size_t i = 0; i < skipped.size(); ++i) {
    line += (i == 0 ? ": " : ", ") + skipped[i].name + " (" + skipped[i].reason + ")";
  }
  if (unmeasured > 0) {
    line += "; " + std::to_string(unmeasured) + " compared " +
            (unmeasured == 1 ? "reconstruction" : "reconstructions") + " not measured";
  }
  if (!unwritten.empty()) {
    line += "; " + std::to_string(unwritten.size()) + " not written: ";
    for (std::size_t i = 0; i < unwritten.size(); ++i) line += (i == 0 ? "" : ", ") + unwritten[i];
  }
  return line;
}

// The images' results as the jobs finish them, handed to the printing thread
// in input order.
struct FinishedImages {
  std::mutex lock;
  std::condition_variable done;
  std::vector<std::optional<ImageWork>> works;
};

}  // namespace

int RunBench(const BenchOptions& options, std::FILE* messages) {
  // OpenCV would spread its conversions over every core while the method uses
  // one; one thread each keeps the throughput row a comparison of methods.
  cv::setNumThreads(1);

  const std::vector<InputFile> inputs = ExpandPaths(options.paths);
  const std::vector<std::string> save_names = SaveNames(inputs);
  if (const std::string problem = CheckDestinations(options, inputs, save_names);
      !problem.empty()) {
    std::fprintf(messages, "demosaic-bench: %s\n", problem.c_str());
    return kExitUsage;
  }
  ReportTarget report;
  if (!options.report_dir.empty()) {
    report = {options.report_dir, FindInputFolders(options.paths, inputs), inputs.size()};
    if (const std::string problem = CheckReportDestination(report, options.csv_path);
        !problem.empty()) {
      std::fprintf(messages, "demosaic-bench: %s\n", problem.c_str());
      return kExitUsage;
    }
  }
  std::vector<std::string> names;
  for (const InputFile& input : inputs) names.push_back(input.name);
  std::vector<MethodColumn> columns;
  for (const Method method : options.methods) columns.push_back({std::string(MethodName(method))});
  std::vector<ComparedFiles> compared_files;
  for (const ComparedMethod& compared : options.compared) {
    columns.push_back({compared.name, false});
    compared_files.push_back(ListComparedFiles(compared.directory));
  }
  const TableLayout layout = MakeTableLayout(columns, options.metrics, options.detail,
                                             options.pattern, options.border, names);
  std::vector<std::string> method_names;
  for (const MethodColumn& column : columns) method_names.push_back(column.name);

  const Progress progress{messages};
  TableOutput table;
  table.Put(FormatTableHeader(layout));

  SharedMemory shared;
  shared.jobs = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(options.jobs),
                                                       std::max<std::size_t>(inputs.size(), 1)));
  FinishedImages finished;
  finished.works.resize(inputs.size());
  std::mutex next_lock;
  std::size_t next = 0;
  auto job = [&] {
    while (true) {
      std::size_t i = 0;
      {
        std::lock_guard<std::mutex> guard(next_lock);
        if (next == inputs.size()) return;
        i = next++;
      }
      ImageWork work;
      try {
        work = EvaluateInput(inputs[i], i, save_names[i], options, inputs, compared_files,
                             method_names, report, shared);
      } catch (const std::exception& e) {
        work.skip_reason = std::string("error: ") + e.what();
      }
      std::lock_guard<std::mutex> guard(finished.lock);
      finished.works[i] = std::move(work);
      finished.done.notify_all();
    }
  };
  std::vector<std::jthread> jobs;
  for (int k = 0; k < shared.jobs; ++k) jobs.emplace_back(job);

  std::vector<ImageResult> results;
  std::vector<ReportImage> report_images;
  std::vector<Skip> skipped;
  std::vector<std::string> unwritten;
  std::vector<std::string> unmeasured;
  std::string csv = CsvHeader(layout);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    progress.Show(i + 1, inputs.size(), inputs[i].name);
    ImageWork work;
    {
      std::unique_lock<std::mutex> guard(finished.lock);
      finished.done.wait(guard, [&] { return finished.works[i].has_value(); });
      work = std::move(*finished.works[i]);
      finished.works[i].reset();
    }
    unwritten.insert(unwritten.end(), work.unwritten.begin(), work.unwritten.end());
    for (const std::string& problem : work.unmeasured) {
      Message(progress, inputs[i].path.string() + ": not measured for " + problem);
      unmeasured.push_back(inputs[i].name + " (" + problem + ")");
    }
    if (!work.skip_reason.empty()) {
      Message(progress, inputs[i].path.string() + ": skipped, " + work.skip_reason);
      skipped.push_back({inputs[i].path.string(), work.skip_reason});
      continue;
    }
    progress.Clear();
    table.Put(FormatImageRow(layout, work.result));
    csv += CsvLines(layout, work.result);
    if (!report.dir.empty()) {
      report_images.push_back(MakeReportImage(i + 1, work.result, layout, std::move(work.report)));
    }
    results.push_back(std::move(work.result));
  }
  jobs.clear();
  progress.Clear();
  if (!results.empty()) {
    table.Put(FormatMeanRow(layout, results) + FormatThroughputRow(layout, results));
  }
  if (!options.csv_path.empty()) {
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(csv.data()),
                                               csv.size());
    if (!WriteFileAtomically(options.csv_path, bytes).ok()) {
      unwritten.push_back(options.csv_path + " (cannot be written)");
    }
  }
  if (!report.dir.empty()) {
    const std::string page = (report.dir / "index.html").string();
    progress.Status("writing " + page);
    std::vector<ReportSkip> report_skips;
    for (const Skip& skip : skipped) report_skips.push_back({skip.name, skip.reason});
    const std::string problem = WriteReportPage(
        report.dir, MakeReportPage(layout, std::move(report_images), results, report_skips));
    if (problem.empty()) {
      Message(progress, "report: " + page);
    } else {
      unwritten.push_back(problem);
    }
  }
  if (inputs.empty()) Message(progress, "no images found");
  // A table that could not be printed is a failed run; a reader that went
  // away (a closed pipe) needs no message.
  if (const std::string problem = StandardOutputProblem(table.error);
      table.error != 0 && !problem.empty()) {
    Message(progress, problem);
  }
  Message(progress, SummaryLine(results.size(), skipped, unwritten, unmeasured.size()));
  const bool complete = skipped.empty() && unwritten.empty() && unmeasured.empty() &&
                        !inputs.empty() && table.error == 0;
  return complete ? kExitAllMeasured : kExitSomeFailed;
}

}  // namespace demosaic::bench
