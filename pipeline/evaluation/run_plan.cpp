// Planning a run: its images, its destinations and each image's evaluation.
#include "evaluation/run_plan.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include "evaluation/file_digest.h"
#include "evaluation/output_destinations.h"
#include "io/raw_file.h"
#include "io/writable.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;

Error Usage(std::string problem) {
  return {ErrorKind::kInvalidArgument, std::move(problem)};
}

// A file of the run (the CSV, the summary) goes into a directory that
// exists (or into the --save directory, made below) and is not a directory
// itself.
Status CheckFilePath(const RunOptions& options, const std::string& path,
                     const std::string& option) {
  if (path.empty()) return {};
  std::error_code error;
  fs::path directory = fs::path(path).parent_path();
  if (directory.empty()) directory = ".";
  const bool in_save_dir =
      !options.save_dir.empty() &&
      fs::weakly_canonical(directory, error) == fs::weakly_canonical(options.save_dir, error);
  if (!fs::is_directory(directory, error) && !in_save_dir) {
    return Usage(option + ": directory '" + directory.string() + "' does not exist");
  }
  if (fs::is_directory(path, error)) {
    return Usage(option + ": '" + path + "' is a directory");
  }
  return {};
}

// "NAME.METHOD" without noise, "NAME.METHOD.TAG" with it: each level's
// reconstructions under a name of their own.
std::string SavedStem(const std::string& name, Method method, const NoiseLevel& level) {
  std::string stem = name + "." + std::string(MethodName(method));
  if (level.kind == NoiseKind::kNone) return stem;
  std::string tag = NoiseName(level);
  for (char& ch : tag) {
    if (ch == ':') ch = '-';
    if (ch == ',') ch = '_';
  }
  return stem + "." + tag;
}

// The files each output option claims, for the checks against the inputs
// and against one another.
std::vector<OutputClaim> ClaimsOf(const RunOptions& options,
                                  const std::vector<std::string>& save_names) {
  std::vector<OutputClaim> claims;
  if (!options.csv_path.empty()) {
    claims.push_back({"--csv", options.csv_path, false, {}, HasImageExtension(options.csv_path)});
  }
  if (!options.summary_path.empty()) {
    claims.push_back(
        {"--summary", options.summary_path, false, {}, HasImageExtension(options.summary_path)});
  }
  if (!options.save_dir.empty()) {
    OutputClaim save{"--save", options.save_dir, true, {}, false};
    for (const std::string& name : save_names) {
      for (const NoiseLevel& level : options.noise) {
        for (const Method method : options.methods) {
          const std::string stem = SavedStem(name, method, level);
          save.names.push_back(stem + ".png");
          save.names.push_back(stem + ".err.png");
        }
      }
      for (const ComparedMethod& compared : options.compared) {
        save.names.push_back(name + "." + compared.name + ".err.png");
      }
    }
    claims.push_back(save);
  }
  if (!options.report_dir.empty()) {
    claims.push_back({"--report", options.report_dir, true, {}, false});
  }
  return claims;
}

RunInputs InputsOf(const RunOptions& options, const std::vector<InputFile>& inputs) {
  RunInputs run_inputs;
  std::error_code error;
  for (const std::string& path : options.paths) {
    if (fs::is_directory(path, error)) run_inputs.directories.emplace_back(path);
  }
  for (const ComparedMethod& compared : options.compared) {
    run_inputs.directories.push_back(compared.directory);
  }
  for (const InputFile& input : inputs) {
    if (input.error.empty()) run_inputs.files.push_back(input.path);
  }
  return run_inputs;
}

// A file that exists and is not a regular file (a device, a FIFO, standard
// output) is written in place, not created beside itself.
bool WrittenInPlace(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  return !error && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

// Every directory the run will create files in takes a file now: a
// read-only file system or a folder the user may not write is found before
// the run, not after it.
Status CheckWritable(const RunOptions& options) {
  const auto probe = [](const std::string& option, const fs::path& directory) -> Status {
    const Status writable = CheckWritableDirectory(directory);
    if (writable.ok()) return {};
    return Usage(option + ": cannot write into directory '" + directory.string() +
                 "': " + writable.error().detail);
  };
  if (!options.csv_path.empty() && !WrittenInPlace(options.csv_path)) {
    fs::path directory = fs::path(options.csv_path).parent_path();
    if (directory.empty()) directory = ".";
    if (const Status status = probe("--csv", directory); !status.ok()) return status;
  }
  if (!options.save_dir.empty()) {
    if (const Status status = probe("--save", options.save_dir); !status.ok()) return status;
  }
  if (!options.report_dir.empty()) {
    if (const Status status = probe("--report", options.report_dir); !status.ok()) return status;
  }
  return {};
}

// Where the run's files go, checked before any image is read so that a long
// run cannot end with its results unwritable, among its inputs or on one
// another. Creates the --save and --report directories.
Status CheckDestinations(const RunOptions& options, const std::vector<InputFile>& inputs,
                         const std::vector<std::string>& save_names) {
  if (const Status csv = CheckFilePath(options, options.csv_path, "--csv"); !csv.ok()) return csv;
  if (const Status summary = CheckFilePath(options, options.summary_path, "--summary");
      !summary.ok()) {
    return summary;
  }
  if (const Status claims =
          CheckOutputClaims(ClaimsOf(options, save_names), InputsOf(options, inputs));
      !claims.ok()) {
    return claims;
  }
  if (!options.report_dir.empty()) {
    if (const Status report = PrepareReportDirectory(options.report_dir, options.paths);
        !report.ok()) {
      return report;
    }
  }
  if (!options.save_dir.empty()) {
    std::error_code error;
    fs::create_directories(options.save_dir, error);
    if (error || !fs::is_directory(options.save_dir)) {
      return Usage("--save: cannot create directory '" + options.save_dir +
                   "': " + (error ? error.message() : "a file of that name exists"));
    }
  }
  return CheckWritable(options);
}

// An exclusive lock on the report folder, released when the last copy of
// the plan is gone: two runs writing one report at once would leave a page
// of one run beside the images of the other. A folder another run holds is
// refused, not waited for.
Expected<std::shared_ptr<const int>> LockReportDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return Usage("--report: cannot open directory '" + dir + "': " + std::strerror(errno));
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) {
      return Usage("--report: '" + dir + "' is being written by another run");
    }
    return Usage("--report: cannot lock directory '" + dir + "': " + std::strerror(error));
  }
  return std::shared_ptr<const int>(new int(fd), [](const int* held) {
    close(*held);
    delete held;
  });
}

std::vector<MethodColumn> ColumnsOf(const RunOptions& options) {
  std::vector<MethodColumn> columns;
  for (const Method method : options.methods) columns.push_back({std::string(MethodName(method))});
  for (const ComparedMethod& compared : options.compared) columns.push_back({compared.name, false});
  return columns;
}

}  // namespace

EvaluationRequest RequestOf(const RunOptions& options) {
  EvaluationRequest request;
  request.pattern = options.pattern;
  request.border = options.border;
  request.methods = options.methods;
  request.metrics = options.metrics;
  request.timed = true;
  request.noise = options.noise;
  request.seed = options.seed;
  request.hash_reference = !options.summary_path.empty();
  request.depth = options.depth;
  request.white_level = options.white_level;
  request.space = options.space;
  request.raw_white_balance = options.raw_white_balance;
  for (const ComparedMethod& compared : options.compared) {
    request.compared.push_back({compared.name, ListComparedFiles(compared.directory)});
  }
  return request;
}

Expected<RunPlan> PlanRun(const RunOptions& options) {
  RunPlan plan;
  plan.options = options;
  plan.inputs = ExpandPaths(options.paths, options.depth == SampleDepth::kNative);
  // The longest suffix a saved file's name gets: ".METHOD.err.png".
  std::size_t longest_suffix = 0;
  for (const Method method : options.methods) {
    longest_suffix = std::max(longest_suffix, MethodName(method).size() + 9);
  }
  for (const ComparedMethod& compared : options.compared) {
    longest_suffix = std::max(longest_suffix, compared.name.size() + 9);
  }
  if (!options.save_dir.empty() && longest_suffix + 40 > kNameMax) {
    return Usage(
        "--compare: a method's name leaves no room for the images' names in the saved "
        "files' names (at most " +
        std::to_string(kNameMax - 40 - 9) + " bytes)");
  }
  plan.save_names = SaveNames(plan.inputs, longest_suffix);
  if (const Status destinations = CheckDestinations(options, plan.inputs, plan.save_names);
      !destinations.ok()) {
    return destinations.error();
  }
  if (!options.report_dir.empty()) {
    Expected<std::shared_ptr<const int>> lock = LockReportDirectory(options.report_dir);
    if (!lock.ok()) return lock.error();
    plan.report_lock = std::move(lock).value();
    plan.report = {options.report_dir, FindInputFolders(options.paths, plan.inputs),
                   plan.inputs.size()};
    if (const Status report = CheckReportDestination(plan.report, options.csv_path); !report.ok()) {
      return report.error();
    }
  }
  std::vector<std::string> names;
  for (const InputFile& input : plan.inputs) names.push_back(input.name);
  plan.layout = MakeTableLayout(ColumnsOf(options), options.metrics, options.detail,
                                options.pattern, options.border, names);
  plan.layout.srgb = options.space == SampleSpace::kSrgb;
  if (options.depth == SampleDepth::kNative) {
    for (const InputFile& input : plan.inputs) {
      if (HasRawExtension(input.path.string())) plan.layout.raw_references = true;
    }
  }
  plan.layout.raw_white_balance = options.raw_white_balance == RawWhiteBalance::kCamera;
  plan.layout.noise.clear();
  for (const NoiseLevel& level : options.noise) plan.layout.noise.push_back(NoiseName(level));
  if (!options.baseline_path.empty()) {
    Expected<BaselineTable> baseline = ReadBaseline(options.baseline_path, plan.layout);
    if (!baseline.ok()) return Usage("--baseline: " + baseline.error().detail);
    plan.baseline = std::move(baseline).value();
  }
  plan.request = RequestOf(options);
  return plan;
}

EvaluationOutputs OutputsOf(const RunPlan& plan, std::size_t index) {
  EvaluationOutputs outputs;
  const RunOptions& options = plan.options;
  const std::string& name = plan.save_names[index];
  if (!options.save_dir.empty()) {
    const fs::path directory(options.save_dir);
    for (const NoiseLevel& level : options.noise) {
      for (const Method method : options.methods) {
        const std::string stem = (directory / SavedStem(name, method, level)).string();
        outputs.reconstruction_files.push_back(stem + ".png");
        outputs.error_map_files.push_back(stem + ".err.png");
      }
    }
    for (const ComparedMethod& compared : options.compared) {
      outputs.error_map_files.push_back((directory / name).string() + "." + compared.name +
                                        ".err.png");
    }
  }
  outputs.report = plan.report;
  outputs.report_index = index;
  outputs.report_name = name;
  for (const InputFile& input : plan.inputs) outputs.protected_files.push_back(input.path);
  return outputs;
}

ImageOutcome EvaluateInput(const InputFile& input, const EvaluationRequest& request,
                           const EvaluationOutputs& outputs, std::size_t memory_ceiling) {
  ImageOutcome outcome;
  std::error_code missing;
  if (!input.error.empty()) {
    outcome.status = Error{ErrorKind::kOther, input.error};
  } else if (!fs::exists(input.path, missing)) {
    outcome.status = Error{ErrorKind::kOther, "no such file or directory"};
  } else {
    try {
      outcome = EvaluateReference({input.path.string(), {}, input.name}, request, outputs,
                                  memory_ceiling);
      if (outcome.status.ok() && request.hash_reference) {
        outcome.sha256 = FileSha256(input.path).value_or("");
      }
    } catch (const std::exception& e) {
      outcome = ImageOutcome{};
      outcome.status = Error{ErrorKind::kOther, std::string("error: ") + e.what()};
    }
  }
  return outcome;
}

}  // namespace demosaic
