// The mapping from the measured figures to named columns.
#include "report/report_columns.h"

#include <limits>

namespace demosaic {

std::vector<FigureColumn> FigureColumns(const std::vector<Figure>& figures) {
  std::vector<FigureColumn> columns;
  for (const Figure figure : figures) {
    const bool decibels = figure == Figure::kPsnrR || figure == Figure::kPsnrG ||
                          figure == Figure::kPsnrB || figure == Figure::kCpsnr;
    columns.push_back({figure, std::string(FigureName(figure)), decibels ? "dB" : "",
                       HigherIsBetter(figure), FigureDecimals(figure)});
  }
  return columns;
}

std::vector<double> FigureValues(const std::vector<FigureColumn>& columns,
                                 const MethodOutcome& outcome) {
  std::vector<double> values;
  for (const FigureColumn& column : columns) {
    values.push_back(outcome.measured ? FigureValue(outcome.figures, column.figure)
                                      : std::numeric_limits<double>::quiet_NaN());
  }
  return values;
}

std::size_t HeadlineColumn(const std::vector<FigureColumn>& columns) {
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].figure == Figure::kCpsnr) return k;
  }
  return 0;
}

}  // namespace demosaic
