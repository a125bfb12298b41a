// Figure names, formats and the measurement of each.
#include "evaluation/figures.h"

#include <sstream>

#include "demosaic/metrics.h"

namespace demosaic {

Expected<MetricSet> ParseMetricList(std::string_view list) {
  MetricSet metrics{false, false, false, false};
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = list.find(',', start);
    const std::string_view item = list.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    bool* flag = item == "psnr"     ? &metrics.psnr
                 : item == "ssim"   ? &metrics.ssim
                 : item == "de2000" ? &metrics.de2000
                 : item == "zipper" ? &metrics.zipper
                                    : nullptr;
    if (flag == nullptr || *flag) {
      std::ostringstream message;
      message << '\'' << item << '\''
              << (flag == nullptr ? " is not a metric (known: psnr, ssim, de2000, zipper)"
                                  : " is listed twice");
      return Error{ErrorKind::kInvalidArgument, message.str()};
    }
    *flag = true;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return metrics;
}

std::string_view FigureName(Figure figure) {
  switch (figure) {
    case Figure::kPsnrR:
      return "PSNR_R";
    case Figure::kPsnrG:
      return "PSNR_G";
    case Figure::kPsnrB:
      return "PSNR_B";
    case Figure::kCpsnr:
      return "CPSNR";
    case Figure::kSsim:
      return "SSIM";
    case Figure::kDe2000:
      return "DE2000";
    case Figure::kZipper:
      return "zipper";
  }
  return "?";
}

int FigureDecimals(Figure figure) {
  switch (figure) {
    case Figure::kSsim:
    case Figure::kZipper:
      return 4;
    default:
      return 2;
  }
}

bool HigherIsBetter(Figure figure) {
  return figure != Figure::kDe2000 && figure != Figure::kZipper;
}

std::vector<Figure> TableFigures(const MetricSet& metrics, bool detail) {
  std::vector<Figure> figures;
  if (metrics.psnr) {
    if (detail) figures = {Figure::kPsnrR, Figure::kPsnrG, Figure::kPsnrB};
    figures.push_back(Figure::kCpsnr);
  }
  if (metrics.ssim) figures.push_back(Figure::kSsim);
  if (metrics.de2000) figures.push_back(Figure::kDe2000);
  if (metrics.zipper) figures.push_back(Figure::kZipper);
  return figures;
}

std::vector<Figure> CsvFigures(const MetricSet& metrics) {
  MetricSet all_psnr = metrics;
  all_psnr.psnr = true;
  return TableFigures(all_psnr, true);
}

double FigureValue(const MethodFigures& figures, Figure figure) {
  switch (figure) {
    case Figure::kPsnrR:
      return figures.psnr.psnr_r;
    case Figure::kPsnrG:
      return figures.psnr.psnr_g;
    case Figure::kPsnrB:
      return figures.psnr.psnr_b;
    case Figure::kCpsnr:
      return figures.psnr.cpsnr;
    case Figure::kSsim:
      return figures.ssim;
    case Figure::kDe2000:
      return figures.de2000;
    case Figure::kZipper:
      return figures.zipper;
  }
  return 0.0;
}

std::int32_t MinimumMeasuredSide(const MetricSet& metrics) {
  if (metrics.ssim) return kSsimWindowSide;
  if (metrics.zipper) return kZipperNeighbourhoodSide;
  return 1;
}

namespace {

// The same calls at either depth: the library's overloads pick the views'.
template <class View>
MethodFigures MeasureAt(View reference, View reconstruction, std::int32_t border,
                        const MetricSet& metrics, int threads) {
  MethodFigures figures;
  figures.psnr = ComputeQuality(reference, reconstruction, border);
  if (metrics.ssim) figures.ssim = ComputeSsim(reference, reconstruction, border, threads);
  if (metrics.de2000 && metrics.zipper) {
    const ColourFigures colour = ComputeDe2000AndZipper(reference, reconstruction, border, threads);
    figures.de2000 = colour.de2000;
    figures.zipper = colour.zipper;
  } else if (metrics.de2000) {
    figures.de2000 = ComputeDe2000(reference, reconstruction, border, threads);
  } else if (metrics.zipper) {
    figures.zipper = ComputeZipper(reference, reconstruction, border, threads);
  }
  return figures;
}

}  // namespace

MethodFigures MeasureFigures(ConstImageView reference, ConstImageView reconstruction,
                             std::int32_t border, const MetricSet& metrics, int threads) {
  return MeasureAt(reference, reconstruction, border, metrics, threads);
}

MethodFigures MeasureFigures(ConstImageView16 reference, ConstImageView16 reconstruction,
                             std::int32_t border, const MetricSet& metrics, int threads) {
  return MeasureAt(reference, reconstruction, border, metrics, threads);
}

std::string_view SpaceName(SampleSpace space) {
  return space == SampleSpace::kSrgb ? "srgb" : "native";
}

std::optional<SampleSpace> SpaceFromName(std::string_view name) {
  if (name == "native") return SampleSpace::kNative;
  if (name == "srgb") return SampleSpace::kSrgb;
  return std::nullopt;
}

}  // namespace demosaic
