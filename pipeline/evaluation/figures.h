// The figures an evaluation can report for a method on an image, by name:
// the PSNR family always, SSIM, CIEDE2000 and the zipper share when asked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "demosaic/quality.h"
#include "io/status.h"

namespace demosaic {

// The metrics a user can ask for; PSNR stands for its four figures.
struct MetricSet {
  bool psnr = true;
  bool ssim = false;
  bool de2000 = false;
  bool zipper = false;
};

// "psnr", "ssim", "de2000" and "zipper", comma-separated, each at most once
// and at least one; kInvalidArgument saying why for any other text.
Expected<MetricSet> ParseMetricList(std::string_view list);

// One figure column.
enum class Figure { kPsnrR, kPsnrG, kPsnrB, kCpsnr, kSsim, kDe2000, kZipper };

// "PSNR_R", "PSNR_G", "PSNR_B", "CPSNR", "SSIM", "DE2000", "zipper": the
// names of the table headings and CSV columns.
std::string_view FigureName(Figure figure);

// Decimals shown in the table (the CSV has full precision).
int FigureDecimals(Figure figure);

// True when a larger value is better (PSNR, SSIM), false for the error
// measures (DE2000, zipper).
bool HigherIsBetter(Figure figure);

// The table's columns per method: CPSNR (all four PSNR figures with
// `detail`) when PSNR is asked for, then SSIM, DE2000 and zipper as asked.
std::vector<Figure> TableFigures(const MetricSet& metrics, bool detail);

// The CSV's figure columns: the four PSNR figures always (scripts rely on
// them), then SSIM, DE2000 and zipper as asked.
std::vector<Figure> CsvFigures(const MetricSet& metrics);

// Everything measured of one method on one image.
struct MethodFigures {
  QualityFigures psnr;
  double ssim = 0.0;
  double de2000 = 0.0;
  double zipper = 0.0;
};

double FigureValue(const MethodFigures& figures, Figure figure);

// One method's figures on one image, with the time its reconstruction took.
struct MethodOutcome {
  MethodFigures figures;
  double milliseconds = 0.0;  // the reconstruction alone
  bool measured = true;       // false: no reconstruction to measure
};

// The smallest measured region (side, in pixels) the metrics need: 11 for
// SSIM's window, 3 for the zipper's neighbours, 1 otherwise.
std::int32_t MinimumMeasuredSide(const MetricSet& metrics);

// Measures `reconstruction` against `reference` over `border`: the PSNR
// figures and the metrics asked for, each metric's rows shared among
// `threads` threads (the same figures for any number). Both images only read.
MethodFigures MeasureFigures(ConstImageView reference, ConstImageView reconstruction,
                             std::int32_t border, const MetricSet& metrics, int threads = 1);
// The same at 16 bits: two views of one white level, whose samples are
// within it.
MethodFigures MeasureFigures(ConstImageView16 reference, ConstImageView16 reconstruction,
                             std::int32_t border, const MetricSet& metrics, int threads = 1);

// Where figures are computed: on the samples as stored, or, for linear data,
// after the sRGB transfer curve (ApplySrgbCurve, rounded back to the same
// white level) has been applied to reference and reconstruction alike.
enum class SampleSpace { kNative, kSrgb };

// "native" or "srgb", as the options and the table name them.
std::string_view SpaceName(SampleSpace space);
std::optional<SampleSpace> SpaceFromName(std::string_view name);

}  // namespace demosaic
