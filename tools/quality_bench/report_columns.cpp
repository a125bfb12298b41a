// The mapping from the measured figures to named columns.
#include "report_columns.h"

#include <stdexcept>

namespace demosaic::bench {

std::vector<FigureColumn> FigureColumns(bool detail) {
  std::vector<FigureColumn> columns;
  if (detail) {
    columns.push_back({"PSNR_R", "dB", true, 2});
    columns.push_back({"PSNR_G", "dB", true, 2});
    columns.push_back({"PSNR_B", "dB", true, 2});
  }
  columns.push_back({"CPSNR", "dB", true, 2});
  return columns;
}

std::vector<double> FigureValues(const std::vector<FigureColumn>& columns,
                                 const MethodOutcome& outcome) {
  std::vector<double> values;
  for (const FigureColumn& column : columns) {
    if (column.name == "PSNR_R") {
      values.push_back(outcome.figures.psnr_r);
    } else if (column.name == "PSNR_G") {
      values.push_back(outcome.figures.psnr_g);
    } else if (column.name == "PSNR_B") {
      values.push_back(outcome.figures.psnr_b);
    } else if (column.name == "CPSNR") {
      values.push_back(outcome.figures.cpsnr);
    } else {
      throw std::invalid_argument("no figure is named '" + column.name + "'");
    }
  }
  return values;
}

std::size_t HeadlineColumn(const std::vector<FigureColumn>& columns) {
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].name == "CPSNR") return k;
  }
  return 0;
}

}  // namespace demosaic::bench
