// A run over many references, as demosaic-bench and the Dask evaluation make
// it: the options, the images they name, where the run's files go (checked
// before any image is read), and the evaluation of each image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "demosaic/bayer.h"
#include "demosaic/reconstruct.h"
#include "evaluation/compared_methods.h"
#include "evaluation/figures.h"
#include "evaluation/image_evaluation.h"
#include "evaluation/image_list.h"
#include "evaluation/methods.h"
#include "evaluation/noise.h"
#include "io/status.h"
#include "report/baseline.h"
#include "report/html_report.h"
#include "report/table.h"

namespace demosaic {

inline constexpr int kExitAllMeasured = 0;
inline constexpr int kExitSomeFailed = 1;  // skipped images, unmeasured or unwritten files
inline constexpr int kExitUsage = 2;       // bad command line or destination

struct RunOptions {
  std::string program = "demosaic-bench";  // the name its messages start with
  std::vector<std::string> paths;          // image files and directories, as given
  std::vector<Method> methods{kAllMethods.begin(), kAllMethods.end()};
  std::vector<ComparedMethod> compared;  // after the built-in methods, in the order given
  MetricSet metrics;
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t border = kFrameWidth;
  int jobs = 1;  // images evaluated at once on this machine
  bool detail = false;
  std::string csv_path;    // empty: no CSV file
  std::string save_dir;    // empty: nothing saved
  std::string report_dir;  // empty: no HTML report
  // Noise levels, one block of rows each; {none} is the clean mosaic alone.
  std::vector<NoiseLevel> noise{NoiseLevel{}};
  std::uint64_t seed = 0;               // of the noise and of the bootstrap
  std::string summary_path;             // empty: no JSON summary
  std::string baseline_path;            // empty: no comparison with an earlier CSV
  std::optional<double> fail_if_worse;  // dB of mean CPSNR a method may lose
  // 16-bit references at 8 bits (their high byte) or at 16 bits, with the
  // white level declared for them (0: none, kMaxWhiteLevel); figures on the
  // samples or after the sRGB curve.
  SampleDepth depth = SampleDepth::kEight;
  std::int32_t white_level = 0;
  SampleSpace space = SampleSpace::kNative;
  // The white balance of camera raw files' half-size references (taken at
  // depth kNative only).
  RawWhiteBalance raw_white_balance = RawWhiteBalance::kNone;
};

struct RunPlan {
  RunOptions options;
  std::vector<InputFile> inputs;
  std::vector<std::string> save_names;  // per input
  EvaluationRequest request;
  TableLayout layout;
  ReportTarget report;     // report.dir empty: no report
  BaselineTable baseline;  // read before any image when --baseline is given
  // Held for the whole run: the report folder's lock, so that a page and
  // its images always come from one run.
  std::shared_ptr<const int> report_lock;
};

// Expands the paths into the run's images and checks, before any image is
// read, where every file of the run goes: the CSV file's directory, the
// --save and --report directories (created here), none of them among the
// inputs (the images and the compared methods' directories, which are only
// read) or on one another; and reads the --baseline CSV (refused unless it is
// this tool's CSV with this run's columns, tile and border). kInvalidArgument
// with the problem, worded to follow the program's name, otherwise.
Expected<RunPlan> PlanRun(const RunOptions& options);

// What image `index` of the plan writes: its reconstructions and error maps
// under --save (per noise level: NAME.METHOD.png without noise,
// NAME.METHOD.TAG.png with it, TAG the level's name with ':' as '-' and ','
// as '_'), its images in the report, never over an input.
EvaluationOutputs OutputsOf(const RunPlan& plan, std::size_t index);

// The evaluation request of a run with these options, compared methods'
// directories listed.
EvaluationRequest RequestOf(const RunOptions& options);

// Evaluates one input of a run. A path that could not be listed, or a file
// that does not exist, is skipped with that reason (kOther); an unexpected
// failure (any exception but running out of memory) skips the image with
// "error: " and its message, so that one bad image never ends the run.
ImageOutcome EvaluateInput(const InputFile& input, const EvaluationRequest& request,
                           const EvaluationOutputs& outputs, std::size_t memory_ceiling);

}  // namespace demosaic
