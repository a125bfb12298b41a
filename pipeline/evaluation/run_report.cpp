// The ordered report of a run, whichever front end drives it.
#include "evaluation/run_report.h"

#include <unistd.h>

#include <algorithm>
#include <span>
#include <utility>

#include "evaluation/failure.h"
#include "io/image_files.h"
#include "io/standard_output.h"
#include "report/baseline.h"
#include "report/run_summary.h"

namespace demosaic {
namespace {

// The table goes to standard output; its first failure is kept, to be
// reported once at the end.
void PutTable(RunReport& report, const std::string& text) {
  const Status printed = PutStandardOutput(text);
  if (report.table.ok() && !printed.ok()) report.table = printed;
}

void DrawBar(RunReport& report) {
  if (!report.terminal) return;
  report.bar = ProgressText(report.done, report.plan.inputs.size());
  std::fprintf(report.messages, "\r\033[K%s", report.bar.c_str());
  std::fflush(report.messages);
}

void ClearBar(const RunReport& report) {
  if (!report.terminal || report.bar.empty()) return;
  std::fputs("\r\033[K", report.messages);
  std::fflush(report.messages);
}

std::string SummaryLine(const RunReport& report) {
  const std::size_t measured = report.results.size();
  const std::vector<ReportSkip>& skipped = report.skipped;
  std::string line = std::to_string(measured) + (measured == 1 ? " image" : " images") +
                     " measured, " + std::to_string(skipped.size()) + " skipped";
  for (std::size_t i = 0; i < skipped.size(); ++i) {
    line += (i == 0 ? ": " : ", ") + skipped[i].name + " (" + skipped[i].reason + ")";
  }
  const std::size_t unmeasured = report.unmeasured.size();
  if (unmeasured > 0) {
    line += "; " + std::to_string(unmeasured) + " compared " +
            (unmeasured == 1 ? "reconstruction" : "reconstructions") + " not measured";
  }
  const std::vector<std::string>& unwritten = report.unwritten;
  if (!unwritten.empty()) {
    line += "; " + std::to_string(unwritten.size()) + " not written: ";
    for (std::size_t i = 0; i < unwritten.size(); ++i) line += (i == 0 ? "" : ", ") + unwritten[i];
  }
  return line;
}

// Input `index`'s row (or its skip), now that every input before it is done.
void PrintNext(RunReport& report, std::size_t index, ImageOutcome outcome) {
  const InputFile& input = report.plan.inputs[index];
  report.unwritten.insert(report.unwritten.end(), outcome.unwritten.begin(),
                          outcome.unwritten.end());
  for (const std::string& problem : outcome.unmeasured) {
    RunMessage(report, input.path.string() + ": not measured for " + problem);
    report.unmeasured.push_back(input.name + " (" + problem + ")");
  }
  if (!outcome.status.ok()) {
    const std::string reason = SkipReason(outcome.status.error());
    RunMessage(report, input.path.string() + ": skipped, " + reason);
    report.skipped.push_back({input.path.string(), reason});
    return;
  }
  ImageResult result{input.name,          outcome.width,
                     outcome.height,      std::move(outcome.methods),
                     outcome.white_level, outcome.from_raw};
  for (std::size_t level = 0; level < report.later_results.size(); ++level) {
    std::vector<MethodOutcome> methods;
    if (level < outcome.later_levels.size()) methods = std::move(outcome.later_levels[level]);
    report.later_results[level].push_back({input.name, outcome.width, outcome.height, methods,
                                           outcome.white_level, outcome.from_raw});
  }
  report.sha256.push_back(outcome.sha256);
  report.paths.push_back(input.path.string());
  ClearBar(report);
  PutTable(report, FormatImageRow(report.plan.layout, result));
  report.csv += CsvLines(report.plan.layout, result);
  if (!report.plan.report.dir.empty()) {
    report.report_images.push_back(
        MakeReportImage(index + 1, result, report.plan.layout, std::move(outcome.report)));
  }
  report.results.push_back(std::move(result));
  DrawBar(report);
}

}  // namespace

std::string ProgressText(std::size_t done, std::size_t total, std::size_t width) {
  const std::size_t filled = total == 0 ? width : done * width / total;
  std::string text = "[";
  text.append(filled, '#').append(width - filled, '.').append("] ");
  text.append(std::to_string(done)).append("/").append(std::to_string(total)).append(" images");
  return text;
}

RunReport StartRunReport(RunPlan plan, std::FILE* messages) {
  RunReport report;
  report.plan = std::move(plan);
  report.messages = messages;
  report.terminal = isatty(fileno(messages)) == 1;
  report.waiting.resize(report.plan.inputs.size());
  report.csv = CsvHeader(report.plan.layout);
  report.later_results.resize(report.plan.layout.noise.size() - 1);
  PutTable(report, FormatTableHeader(report.plan.layout));
  if (ShowsNoise(report.plan.layout)) PutTable(report, FormatNoiseLine(report.plan.layout, 0));
  if (!report.plan.inputs.empty()) DrawBar(report);
  return report;
}

void AcceptOutcome(RunReport& report, std::size_t index, ImageOutcome outcome) {
  report.waiting[index] = std::move(outcome);
  ++report.done;
  DrawBar(report);
  while (report.printed < report.waiting.size() && report.waiting[report.printed]) {
    ImageOutcome next = std::move(*report.waiting[report.printed]);
    report.waiting[report.printed].reset();
    PrintNext(report, report.printed, std::move(next));
    ++report.printed;
  }
}

void RunMessage(RunReport& report, const std::string& text) {
  ClearBar(report);
  std::fprintf(report.messages, "%s: %s\n", report.plan.options.program.c_str(), text.c_str());
  std::fflush(report.messages);
  if (!report.bar.empty()) DrawBar(report);
}

int FinishRunReport(RunReport& report) {
  ClearBar(report);
  report.bar.clear();
  const RunOptions& options = report.plan.options;
  const TableLayout& layout = report.plan.layout;
  std::vector<std::vector<ImageResult>> levels{report.results};
  levels.insert(levels.end(), report.later_results.begin(), report.later_results.end());
  bool regressed = false;
  if (!report.results.empty()) {
    PutTable(report, FormatMeanRow(layout, report.results));
    std::vector<ImageResult> all = report.results;
    for (std::size_t level = 1; level < levels.size(); ++level) {
      std::string block = "\n" + FormatNoiseLine(layout, level);
      for (const ImageResult& image : levels[level]) {
        block += FormatImageRow(layout, image);
        report.csv += CsvLines(layout, image, level);
      }
      PutTable(report, block + FormatMeanRow(layout, levels[level]));
      all.insert(all.end(), levels[level].begin(), levels[level].end());
    }
    PutTable(report, FormatThroughputRow(layout, all));
    const std::vector<PairedComparison> comparisons =
        CompareWithFirst(layout, levels, layout.csv_figures, options.seed);
    std::vector<PairedComparison> shown;
    for (const PairedComparison& comparison : comparisons) {
      if (std::find(layout.figures.begin(), layout.figures.end(), comparison.figure) !=
          layout.figures.end()) {
        shown.push_back(comparison);
      }
    }
    PutTable(report, FormatPairedComparisons(shown, layout, options.seed));
    report.comparisons = comparisons;
  }
  if (!options.baseline_path.empty()) {
    const BaselineComparison change = CompareWithBaseline(report.plan.baseline, layout, levels);
    PutTable(report, FormatBaselineComparison(change, layout, options.baseline_path));
    if (options.fail_if_worse) {
      for (const std::string& regression : RegressionsOf(change, *options.fail_if_worse)) {
        RunMessage(report, "worse than the baseline: " + regression);
        regressed = true;
      }
      // A guard that compared nothing must not pass.
      const bool compared =
          std::any_of(change.changes.begin(), change.changes.end(),
                      [](const BaselineChange& c) { return c.figure == Figure::kCpsnr; });
      if (!compared) {
        RunMessage(report,
                   "--fail-if-worse: no method's CPSNR was measured on an image of the "
                   "baseline at the same noise level");
        regressed = true;
      }
    }
  }
  if (!options.summary_path.empty()) {
    std::vector<SummaryReference> references;
    for (std::size_t k = 0; k < report.results.size(); ++k) {
      references.push_back({report.results[k].name, report.paths[k], report.sha256[k]});
    }
    const std::string json = SummaryJson(report.plan, levels, references, report.comparisons);
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(json.data()),
                                               json.size());
    if (!WriteFileAtomically(options.summary_path, bytes).ok()) {
      report.unwritten.push_back(options.summary_path + " (cannot be written)");
    }
  }
  if (!options.csv_path.empty()) {
    const std::span<const unsigned char> bytes(
        reinterpret_cast<const unsigned char*>(report.csv.data()), report.csv.size());
    if (!WriteFileAtomically(options.csv_path, bytes).ok()) {
      report.unwritten.push_back(options.csv_path + " (cannot be written)");
    }
  }
  if (!report.plan.report.dir.empty()) {
    const std::string page = (report.plan.report.dir / "index.html").string();
    if (report.terminal) {
      std::fprintf(report.messages, "\r\033[Kwriting %s", page.c_str());
      std::fflush(report.messages);
      report.bar = "writing";
    }
    ReportPage contents = MakeReportPage(report.plan.layout, std::move(report.report_images),
                                         report.results, report.skipped);
    contents.comparisons = report.comparisons;
    contents.noise = layout.noise;
    contents.seed = options.seed;
    const Status written = WriteReportPage(report.plan.report.dir, contents);
    ClearBar(report);
    report.bar.clear();
    if (written.ok()) {
      RunMessage(report, "report: " + page);
    } else {
      report.unwritten.push_back(written.error().detail);
    }
  }
  if (report.plan.inputs.empty()) RunMessage(report, "no images found");
  // A table that could not be printed is a failed run; a reader that went
  // away (a closed pipe) needs no message.
  if (!report.table.ok() && !report.table.error().detail.empty()) {
    RunMessage(report, report.table.error().detail);
  }
  RunMessage(report, SummaryLine(report));
  const bool complete = report.skipped.empty() && report.unwritten.empty() &&
                        report.unmeasured.empty() && !report.plan.inputs.empty() &&
                        report.table.ok() && !regressed;
  return complete ? kExitAllMeasured : kExitSomeFailed;
}

}  // namespace demosaic
