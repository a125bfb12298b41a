// The HTML report's section of paired comparisons: per figure of the table,
// an interval plot (inline SVG, drawn by the program) of each method's mean
// difference from the first method with its 95 % bootstrap interval, per
// noise level, and the numbers in a table beside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "evaluation/paired_comparison.h"
#include "report/report_columns.h"

namespace demosaic {

// One figure's interval plot: a row per comparison (all of `column`'s
// figure), a vertical line at zero, the interval as a bar and the mean as a
// dot. Comparisons without a finite mean are listed without a bar. Every
// text is escaped; returns an <svg> element.
std::string RenderIntervalChart(const FigureColumn& column,
                                const std::vector<PairedComparison>& comparisons, bool show_noise);

// The whole section, or "" without comparisons. `first_level` names the
// level the rest of the report shows when the run has several.
std::string ComparisonSection(const std::vector<FigureColumn>& columns,
                              const std::vector<PairedComparison>& comparisons, bool show_noise,
                              std::uint64_t seed);

}  // namespace demosaic
