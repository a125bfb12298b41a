// The HTML report's page: the run's settings, the sortable figure table with
// its mean row, the chart and a section per image with its magnified crops,
// as one self-contained document (style, script and chart inline; images as
// files beside it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "demosaic/reconstruct.h"
#include "evaluation/paired_comparison.h"
#include "report/report_columns.h"
#include "report/report_images.h"

namespace demosaic {

struct ReportImage {
  std::size_t number = 0;  // position among the run's inputs, from 1
  std::string name;        // as in the table
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::vector<double>> values;  // [method][column]
  ImageSection section;
};

struct ReportSkip {
  std::string name;
  std::string reason;
};

struct ReportPage {
  std::string pattern;  // the Bayer tile, "GRBG"
  std::int32_t border = kFrameWidth;
  std::vector<std::string> methods;
  std::vector<FigureColumn> columns;
  std::vector<ReportImage> images;  // measured, in input order
  std::vector<double> throughput;   // megapixels per second per method; empty without images
  std::vector<ReportSkip> skipped;
  std::string date;     // when the report was written
  std::string version;  // of the program
  // Every method against the first (the figures of `columns` are shown),
  // per noise level; `noise` the levels, the first the one the table, the
  // chart and the regions show.
  std::vector<PairedComparison> comparisons;
  std::vector<std::string> noise{"none"};
  std::uint64_t seed = 0;
  bool srgb = false;  // the figures taken after the sRGB curve (--space srgb)
};

// For each method and column, the mean of the images' values (the mean of
// per-image figures, as the table's mean row); +inf where any image's value
// is +inf. Requires at least one image, each with a value per method and
// column.
std::vector<std::vector<double>> MeanValues(const std::vector<ReportImage>& images);

// The whole document, UTF-8. Every name and message is escaped; file names
// are those of the sections, relative to the page. Works without the script
// (all but sorting and the chart chooser) and without any network.
std::string RenderReportPage(const ReportPage& page);

}  // namespace demosaic
