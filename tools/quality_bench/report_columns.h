// The figure columns of a run, named, in table order, with the values each
// method reached in them: what the HTML report shows, whatever figures the
// run measured, without knowing their fields one by one.
#pragma once

#include <string>
#include <vector>

#include "pipeline/image_evaluation.h"

namespace demosaic::bench {

struct FigureColumn {
  std::string name;  // as in the table heading and the CSV header: "CPSNR"
  std::string unit;  // "dB"; empty for a plain number
  bool higher_is_better = true;
  int decimals = 2;  // shown in the table and the chart
};

// The columns the table shows: CPSNR alone, or with `detail` PSNR_R, PSNR_G,
// PSNR_B and CPSNR. Never empty.
std::vector<FigureColumn> FigureColumns(bool detail);

// The value of each of `columns` in `outcome`, in the same order. Requires
// columns from FigureColumns; throws std::invalid_argument for a name it
// does not know.
std::vector<double> FigureValues(const std::vector<FigureColumn>& columns,
                                 const MethodOutcome& outcome);

// The index of the column the report's chart and region choice rest on:
// CPSNR where it is present, the first column otherwise.
std::size_t HeadlineColumn(const std::vector<FigureColumn>& columns);

}  // namespace demosaic::bench
