// What a run shows and writes as its images are evaluated, in whatever order
// they finish (on this machine's jobs or a cluster's workers): the table on
// standard output, a row per image in input order as soon as it and every
// image before it are done; a progress bar and the skips on the message
// stream; then the mean and throughput rows, the CSV file, the report's page,
// the summary line and the exit status.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "evaluation/image_evaluation.h"
#include "evaluation/paired_comparison.h"
#include "evaluation/run_plan.h"
#include "io/status.h"
#include "report/html_report.h"
#include "report/table.h"

namespace demosaic {

struct RunReport {
  RunPlan plan;
  std::FILE* messages = stderr;
  bool terminal = false;  // the progress bar is drawn only on a terminal
  std::string bar;        // the bar on screen, redrawn after each message
  Status table;           // the first failure to print the table
  std::vector<std::optional<ImageOutcome>> waiting;  // finished, not yet printed
  std::size_t done = 0;
  std::size_t printed = 0;
  std::vector<ImageResult> results;  // measured, in input order, at the first noise level
  // The same for each further noise level, printed in blocks at the end.
  std::vector<std::vector<ImageResult>> later_results;
  std::vector<std::string> sha256;            // per result, "" when not hashed
  std::vector<std::string> paths;             // per result, the file measured
  std::vector<PairedComparison> comparisons;  // made at the finish
  std::vector<ReportImage> report_images;
  std::vector<ReportSkip> skipped;      // path and reason
  std::vector<std::string> unwritten;   // "PATH (reason)"
  std::vector<std::string> unmeasured;  // "NAME (METHOD: problem)"
  std::string csv;
};

// "[#######.......................] 12/43 images": the progress bar for
// `done` of `total` images, `width` marks wide.
std::string ProgressText(std::size_t done, std::size_t total, std::size_t width = 30);

// Starts the report of `plan`'s run: prints the table's header and the empty
// progress bar (where `messages` is a terminal).
RunReport StartRunReport(RunPlan plan, std::FILE* messages);

// Takes the outcome of input `index` (each exactly once, in any order) and
// prints every row that is now next in input order, with its messages.
void AcceptOutcome(RunReport& report, std::size_t index, ImageOutcome outcome);

// After every outcome: the first level's mean row, each further noise
// level's block (its line, rows and mean row), the throughput row, the paired
// comparisons, the change against the baseline, the CSV file, the summary
// file, the report's page and the summary line. Returns the exit status:
// kExitAllMeasured when every image was measured, printed and written (and
// no method fell more than --fail-if-worse below the baseline),
// kExitSomeFailed otherwise (no images at all included).
int FinishRunReport(RunReport& report);

// "PROGRAM: text" on its own line of the message stream, the progress bar
// cleared first and drawn again after.
void RunMessage(RunReport& report, const std::string& text);

}  // namespace demosaic
