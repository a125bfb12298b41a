// The figure columns of a run, named, in table order, with the values each
// method reached in them: what the HTML report shows, whatever figures the
// run measured, without knowing their fields one by one.
#pragma once

#include <string>
#include <vector>

#include "evaluation/figures.h"

namespace demosaic {

struct FigureColumn {
  Figure figure = Figure::kCpsnr;
  std::string name;  // as in the table heading and the CSV header: "CPSNR"
  std::string unit;  // "dB"; empty for a plain number
  bool higher_is_better = true;
  int decimals = 2;  // shown in the table and the chart
};

// The columns of the table's figures, in its order. Never empty when
// `figures` is not.
std::vector<FigureColumn> FigureColumns(const std::vector<Figure>& figures);

// The value of each of `columns` in `outcome`, in the same order; NaN for
// every column of an outcome that was not measured.
std::vector<double> FigureValues(const std::vector<FigureColumn>& columns,
                                 const MethodOutcome& outcome);

// The index of the column the report's chart and region choice rest on:
// CPSNR where it is present, the first column otherwise.
std::size_t HeadlineColumn(const std::vector<FigureColumn>& columns);

}  // namespace demosaic
