// The run of demosaic-bench: check where files will go, expand the paths,
// then evaluate the images (several at once with --jobs) and print each row
// in input order as soon as it and every row before it are done; finally the
// summary rows, the CSV file and the line naming what was skipped.
#include "bench_run.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
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
#include "error_map.h"
#include "image_list.h"
#include "io/image_files.h"
#include "pipeline/image_evaluation.h"
#include "pipeline/output_destinations.h"
#include "pipeline/reference_loading.h"
#include "report.h"

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
  std::string skip_reason;             // empty when measured
  std::vector<std::string> unwritten;  // files that could not be saved
};

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
  if (!SaveImageAtomically(path.string(), image)) return path.string() + " (cannot be written)";
  return "";
}

// Where the run's files go, checked before any image is read so that a long
// run cannot end with its results unwritable, among its inputs or on one
// another. Creates the --save directory. Returns "" or the problem.
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
    }
    claims.push_back(save);
  }
  RunInputs run_inputs;
  for (const std::string& path : options.paths) {
    if (std::filesystem::is_directory(path, error)) run_inputs.directories.emplace_back(path);
  }
  for (const InputFile& input : inputs) {
    if (input.error.empty()) run_inputs.files.push_back(input.path);
  }
  if (std::string problem = CheckOutputClaims(claims, run_inputs); !problem.empty()) {
    return problem;
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

// Loads and measures one input, saving its files when asked.
ImageWork EvaluateInput(const InputFile& input, const std::string& save_name,
                        const BenchOptions& options, const std::vector<InputFile>& inputs,
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
  RunMemory memory =
      EvaluationMemory(options.methods.size(), saving, saving ? kSavingBytesPerPixel : 0);
  EvaluationRequest request{options.pattern, options.border, options.methods};
  auto attempt = [&](std::size_t share) -> Failure {
    memory.ceiling = share;
    cv::Mat reference;
    if (const Failure failure = LoadReference(input.path.string(), memory, reference);
        failure != Failure::kNone) {
      return failure;
    }
    work.result.width = reference.cols;
    work.result.height = reference.rows;
    work.skip_reason = SizeProblem(reference.cols, reference.rows, options.border);
    if (!work.skip_reason.empty()) return Failure::kNone;
    try {
      std::vector<cv::Mat> outputs;
      work.result.methods = EvaluateMethods(reference, request, saving ? &outputs : nullptr);
      for (std::size_t m = 0; saving && m < outputs.size(); ++m) {
        const std::string stem = (std::filesystem::path(options.save_dir) / save_name).string() +
                                 "." + std::string(MethodName(options.methods[m]));
        for (const std::string& problem :
             {SaveOutput(stem + ".png", outputs[m], inputs),
              SaveOutput(stem + ".err.png", MakeErrorMap(reference, outputs[m], options.border),
                         inputs)}) {
          if (!problem.empty()) work.unwritten.push_back(problem);
        }
      }
    } catch (const std::bad_alloc&) {
      work.result.methods.clear();
      return Failure::kOutOfMemory;
    } catch (const cv::Exception& e) {
      if (e.code != cv::Error::StsNoMem) throw;
      work.result.methods.clear();
      return Failure::kOutOfMemory;
    }
    return Failure::kNone;
  };

  Failure failure = Failure::kNone;
  {
    std::shared_lock<std::shared_mutex> side_by_side(shared.turns);
    failure = attempt(MemoryLeft(RunMemory{}) / static_cast<std::size_t>(shared.jobs));
  }
  if (failure == Failure::kOutOfMemory && shared.jobs > 1) {
    std::unique_lock<std::shared_mutex> alone(shared.turns);
    work.unwritten.clear();
    failure = attempt(SIZE_MAX);
  }
  if (failure != Failure::kNone) work.skip_reason = SkipReason(failure);
  return work;
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
  std::vector<std::string> names;
  for (const InputFile& input : inputs) names.push_back(input.name);
  const TableLayout layout =
      MakeTableLayout(options.methods, options.pattern, options.border, options.detail, names);

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
        work = EvaluateInput(inputs[i], save_names[i], options, inputs, shared);
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
  std::vector<Skip> skipped;
  std::vector<std::string> unwritten;
  std::string csv = CsvHeader();
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
    if (!work.skip_reason.empty()) {
      Message(progress, inputs[i].path.string() + ": skipped, " + work.skip_reason);
      skipped.push_back({inputs[i].path.string(), work.skip_reason});
      continue;
    }
    progress.Clear();
    table.Put(FormatImageRow(layout, work.result));
    csv += CsvLines(layout, work.result);
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
    if (!WriteFileAtomically(options.csv_path, bytes)) {
      unwritten.push_back(options.csv_path + " (cannot be written)");
    }
  }
  if (inputs.empty()) Message(progress, "no images found");
  // A table that could not be printed is a failed run; a reader that went
  // away (a closed pipe) needs no message.
  if (const std::string problem = StandardOutputProblem(table.error);
      table.error != 0 && !problem.empty()) {
    Message(progress, problem);
  }
  Message(progress, SummaryLine(results.size(), skipped, unwritten));
  const bool complete = skipped.empty() && unwritten.empty() && !inputs.empty() && table.error == 0;
  return complete ? kExitAllMeasured : kExitSomeFailed;
}

}  // namespace demosaic::bench
