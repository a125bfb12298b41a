// An earlier run's CSV file read back as a baseline, and the change of each
// method's means against it: how a CI job guards a method against
// regressions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/status.h"
#include "report/table.h"

namespace demosaic {

// One line of a baseline: an image, a method, a noise level and its figures
// (layout.csv_figures' columns; nothing where the method was not measured).
struct BaselineRow {
  std::string image;
  std::string method;
  std::string noise;
  std::vector<std::optional<double>> figures;
  // The reference's white level: 255 in a CSV from before the column, when
  // every reference was read at 8 bits.
  std::int32_t white_level = 255;
};

struct BaselineTable {
  std::string path;
  std::vector<BaselineRow> rows;
};

// The records of CSV text: fields separated by commas, records by LF or
// CR LF, a quoted field holding commas, quotes (doubled) and line breaks.
// kInvalidArgument for a quote left open or text after a closing quote.
Expected<std::vector<std::vector<std::string>>> ParseCsv(const std::string& text);

// Reads an earlier CSV of this tool made with the same columns as this
// run's (`layout`: the figures asked for; a file without the noise column,
// from before it existed, is taken as noise "none" when this run has no
// noise), the same tile and the same border. kInvalidArgument, saying what
// differs, for anything else: another program's CSV, other columns, a bad
// number, another tile or border.
Expected<BaselineTable> ReadBaseline(const std::string& path, const TableLayout& layout);
Expected<BaselineTable> ParseBaseline(const std::string& text, const std::string& path,
                                      const TableLayout& layout);

// One method's change at one noise level on one figure, over the images
// both runs measured it on.
struct BaselineChange {
  std::string noise;
  std::string method;
  Figure figure = Figure::kCpsnr;
  std::size_t images = 0;
  double old_mean = 0.0;
  double new_mean = 0.0;
};

struct BaselineComparison {
  std::vector<BaselineChange> changes;
  std::vector<std::string> only_here;      // "NAME (noise)" measured here, not in the baseline
  std::vector<std::string> only_baseline;  // and the other way round
};

// Per noise level (`levels[k]` the results of layout.noise[k]), method and
// CSV figure, the mean over the images present in both. An image measured at
// another white level than in the baseline is not the same measurement: it is
// listed on both sides ("NAME at white level W") and not compared.
BaselineComparison CompareWithBaseline(const BaselineTable& baseline, const TableLayout& layout,
                                       const std::vector<std::vector<ImageResult>>& levels);

// The comparison as printed under the table.
std::string FormatBaselineComparison(const BaselineComparison& comparison,
                                     const TableLayout& layout, const std::string& path);

// "METHOD: mean CPSNR X dB below the baseline's at noise N" for each method
// whose mean CPSNR at some level is more than `decibels` below the
// baseline's.
std::vector<std::string> RegressionsOf(const BaselineComparison& comparison, double decibels);

}  // namespace demosaic
