// What a run with several methods says about their differences: the paired
// comparisons printed under the table, and the --summary JSON file (the
// options, each method's means, the comparisons and each reference's
// SHA-256).
#pragma once

#include <string>
#include <vector>

#include "evaluation/paired_comparison.h"
#include "evaluation/run_plan.h"
#include "report/table.h"

namespace demosaic {

// One measured reference of the summary.
struct SummaryReference {
  std::string image;
  std::string path;
  std::string sha256;  // empty when it could not be hashed (a pipe): null
};

// The comparisons as printed under the table: a heading stating the rule,
// then one line per comparison. Empty without comparisons.
std::string FormatPairedComparisons(const std::vector<PairedComparison>& comparisons,
                                    const TableLayout& layout, std::uint64_t seed);

// The --summary file: {"program", "version", "options", "images",
// "references", "methods" (each method's mean per CSV figure at the first
// noise level), "levels" (the same per level), "comparisons"}. A mean that
// is not finite (an exact channel) or not measured is null, as is the noise
// of a clean level.
std::string SummaryJson(const RunPlan& plan, const std::vector<std::vector<ImageResult>>& levels,
                        const std::vector<SummaryReference>& references,
                        const std::vector<PairedComparison>& comparisons);

// `text` as a JSON string, quotes included.
std::string JsonString(const std::string& text);

}  // namespace demosaic
