// What demosaic-bench prints and writes: the aligned table on standard output
// (header, image rows, mean row, throughput row) and the CSV lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demosaic/bayer.h"
#include "demosaic/quality.h"
#include "pipeline/image_evaluation.h"
#include "pipeline/methods.h"

namespace demosaic::bench {

// One measured image; `methods` follows the run's method order.
struct ImageResult {
  std::string name;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<MethodOutcome> methods;
};

// The table's layout, fixed before the first row so rows can be printed as
// soon as their image is done.
// The run's settings go with it into every table header and CSV line, so
// that no figure is separated from the choices that produced it.
struct TableLayout {
  std::vector<Method> methods;
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t border = 3;
  bool detail = false;
  std::size_t name_width = 5;  // the widest image name, at least "image"
};

TableLayout MakeTableLayout(const std::vector<Method>& methods, BayerPattern pattern,
                            std::int32_t border, bool detail,
                            const std::vector<std::string>& image_names);

// The line stating the tile, the border and the averaging rule, then the
// column headings; every line ends in '\n'.
std::string FormatTableHeader(const TableLayout& layout);
std::string FormatImageRow(const TableLayout& layout, const ImageResult& image);

// Each method's mean of the per-image figures in dB (the convention of
// demosaicing papers, not the PSNR of the pooled error). An image with an
// exact channel (+inf) makes that mean +inf. Requires at least one image.
std::vector<QualityFigures> MeanFigures(const std::vector<ImageResult>& images);
std::string FormatMeanRow(const TableLayout& layout, const std::vector<ImageResult>& images);

// Each method's reconstruction throughput in megapixels per second: all
// pixels reconstructed over all the time spent reconstructing them.
std::vector<double> Throughput(const std::vector<ImageResult>& images);
std::string FormatThroughputRow(const TableLayout& layout, const std::vector<ImageResult>& images);

// The CSV file: a header line, then one line per image and method, each
// ending with the tile and the border.
std::string CsvHeader();
std::string CsvLines(const TableLayout& layout, const ImageResult& image);

// The shortest text that reads back as exactly `value`; "inf" for infinity.
std::string FullPrecision(double value);

}  // namespace demosaic::bench
