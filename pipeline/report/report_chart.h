// The chart of the HTML report: one figure column as an inline SVG dot chart
// drawn by the program, a row per image and one for the mean, a dot per
// method.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/report_columns.h"

namespace demosaic {

// The colour that stands for method `index` (from 0) in the chart and the
// table, as "#rrggbb": eight colours told apart with any colour vision, then
// again from the first.
std::string_view MethodColour(std::size_t index);

// The chart of `column`: `values[i][m]` is image i's figure for method m,
// `means[m]` each method's mean. Requires `names` and `values` of one length
// and a value per method in every row. Infinite figures (an exact
// reconstruction) are drawn as open dots at the right end, marked "inf"; the
// axis spans the finite ones. Every text is escaped; returns an <svg> element.
std::string RenderFigureChart(const FigureColumn& column, const std::vector<std::string>& names,
                              const std::vector<std::string>& methods,
                              const std::vector<std::vector<double>>& values,
                              const std::vector<double>& means);

// `text` with &, <, >, " and ' replaced by character references, safe in
// HTML text and in quoted attribute values.
std::string EscapeHtml(std::string_view text);

}  // namespace demosaic
