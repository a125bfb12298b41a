// What demosaic-bench prints and writes: the aligned table on standard output
// (header, image rows, mean row, throughput row) and the CSV lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "demosaic/bayer.h"
#include "demosaic/reconstruct.h"
#include "evaluation/figures.h"

namespace demosaic {

// One measured image; `methods` follows the run's method order. A method
// whose outcome is not `measured` (a compared method's file missing) shows
// "-" in the table and empty fields in the CSV.
struct ImageResult {
  std::string name;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<MethodOutcome> methods;
  std::int32_t white_level = 255;  // of the reference's samples
  bool from_raw = false;           // a camera raw file's half-size reference
};

// A method column group of the table: its name, and whether its
// reconstruction time was measured (compared methods are only read).
struct MethodColumn {
  std::string name;
  bool timed = true;
};

// The table's layout, fixed before the first row so rows can be printed as
// soon as their image is done. The run's settings go with it into every
// table header and CSV line, so that no figure is separated from the choices
// that produced it.
struct TableLayout {
  std::vector<MethodColumn> methods;
  std::vector<Figure> figures;      // the columns of every method's group
  std::vector<Figure> csv_figures;  // the figure columns of the CSV
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t border = kFrameWidth;
  std::size_t name_width = 5;  // the widest image name, at least "image"
  // The run's noise levels by name ("none", "gaussian:5", ...), one block of
  // rows each, in this order.
  std::vector<std::string> noise{"none"};
  // True when the figures are taken after the sRGB curve: the header line
  // says so.
  bool srgb = false;
  // True when some reference is a camera raw file: the header says what such
  // a reference is, its rows are marked "(raw)" and the CSV gains a last
  // column, `reference` ("raw" or "image"). raw_white_balance: those
  // references carry the as-shot white balance.
  bool raw_references = false;
  bool raw_white_balance = false;
};

// True when the table names its noise levels: a line before each block.
bool ShowsNoise(const TableLayout& layout);

// The line before noise level `level`'s block: "noise: gaussian:5".
std::string FormatNoiseLine(const TableLayout& layout, std::size_t level);

TableLayout MakeTableLayout(const std::vector<MethodColumn>& methods, const MetricSet& metrics,
                            bool detail, BayerPattern pattern, std::int32_t border,
                            const std::vector<std::string>& image_names);

// The line stating the tile, the border and the averaging rule, then the
// column headings; every line ends in '\n'.
std::string FormatTableHeader(const TableLayout& layout);
std::string FormatImageRow(const TableLayout& layout, const ImageResult& image);

// Each method's mean of the per-image figures (for PSNR the mean of the dB
// figures, the convention of demosaicing papers, not the PSNR of the pooled
// error). An image with an exact channel (+inf) makes that mean +inf; a
// method not measured on every image has no mean. Requires at least one
// image.
std::vector<std::optional<MethodFigures>> MeanFigures(const std::vector<ImageResult>& images);
std::string FormatMeanRow(const TableLayout& layout, const std::vector<ImageResult>& images);

// Each timed method's reconstruction throughput in megapixels per second:
// all pixels reconstructed over all the time spent reconstructing them.
std::vector<std::optional<double>> Throughput(const TableLayout& layout,
                                              const std::vector<ImageResult>& images);
std::string FormatThroughputRow(const TableLayout& layout, const std::vector<ImageResult>& images);

// The CSV file: a header line, then one line per image and method, each
// ending with the tile, the border, the noise level (layout.noise[level]) and
// the reference's white level (255 for 8-bit samples).
std::string CsvHeader(const TableLayout& layout);
std::string CsvLines(const TableLayout& layout, const ImageResult& image, std::size_t level = 0);

// One CSV field: quoted (with doubled quotes) when it holds a comma, a quote,
// a tab or a line break, as CSV readers expect.
std::string CsvField(const std::string& text);

// The shortest text that reads back as exactly `value`; "inf" for infinity.
std::string FullPrecision(double value);

// `value` with `decimals` decimals, rounded as printf rounds; "inf" for
// infinity. Both always write a point, whatever locale the process has set
// (a program embedding the module may set a decimal-comma one).
std::string FixedDecimals(double value, int decimals);

}  // namespace demosaic
