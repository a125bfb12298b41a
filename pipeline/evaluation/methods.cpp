// Running each method on a mosaic.
#include "evaluation/methods.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "demosaic/reconstruct.h"
#include "evaluation/mat_views.h"

namespace demosaic {

std::string_view MethodName(Method method) {
  switch (method) {
    case Method::kDirectional:
      return "method";
    case Method::kBilinear:
      return "bilinear";
    case Method::kEdgeAware:
      return "edge-aware";
  }
  return "?";
}

std::optional<Method> MethodFromName(std::string_view name) {
  for (const Method method : kAllMethods) {
    if (MethodName(method) == name) return method;
  }
  return std::nullopt;
}

int OpenCvBayerCode(Method method, BayerPattern pattern) {
  const bool edge_aware = method == Method::kEdgeAware;
  switch (pattern) {
    case BayerPattern::kRGGB:
      return edge_aware ? cv::COLOR_BayerRGGB2BGR_EA : cv::COLOR_BayerRGGB2BGR;
    case BayerPattern::kBGGR:
      return edge_aware ? cv::COLOR_BayerBGGR2BGR_EA : cv::COLOR_BayerBGGR2BGR;
    case BayerPattern::kGBRG:
      return edge_aware ? cv::COLOR_BayerGBRG2BGR_EA : cv::COLOR_BayerGBRG2BGR;
    case BayerPattern::kGRBG:
      break;
  }
  return edge_aware ? cv::COLOR_BayerGRBG2BGR_EA : cv::COLOR_BayerGRBG2BGR;
}

void ConvertBayerInBands(const cv::Mat& mosaic, cv::Mat& output, int code,
                         std::size_t max_call_bytes) {
  output.create(mosaic.rows, mosaic.cols, CV_MAKETYPE(mosaic.depth(), 3));
  const std::size_t row_bytes = 3 * mosaic.elemSize1() * static_cast<std::size_t>(mosaic.cols);
  if (static_cast<std::size_t>(mosaic.rows) * row_bytes < max_call_bytes) {
    cv::cvtColor(mosaic, output, code);
    return;
  }
  // Each band starts on an even row, so that it begins with the tile's
  // first row, and brings kBandMargin rows from above and below: its own
  // rows then come out as in one call, and the margin rows are dropped.
  const int margin = kBandMargin;
  const int usable = static_cast<int>(max_call_bytes / row_bytes) - 2 * margin;
  const int band = std::max(2, usable - usable % 2);
  cv::Mat converted;
  for (int top = 0; top < mosaic.rows; top += band) {
    const int bottom = std::min(mosaic.rows, top + band);
    const int from = std::max(0, top - margin);
    const int to = std::min(mosaic.rows, bottom + margin);
    cv::cvtColor(mosaic.rowRange(from, to), converted, code);
    converted.rowRange(top - from, bottom - from).copyTo(output.rowRange(top, bottom));
  }
}

void Reconstruct(Method method, BayerPattern pattern, const cv::Mat& mosaic, cv::Mat& output,
                 std::int32_t white_level) {
  output.create(mosaic.rows, mosaic.cols, CV_MAKETYPE(mosaic.depth(), 3));
  if (method == Method::kDirectional) {
    if (mosaic.depth() == CV_16U) {
      ReconstructFromMosaic(MosaicView16Of(mosaic, pattern, white_level),
                            MutableImageView16Of(output, white_level));
    } else {
      ReconstructFromMosaic(MosaicViewOf(mosaic, pattern), MutableImageViewOf(output));
    }
    return;
  }
  ConvertBayerInBands(mosaic, output, OpenCvBayerCode(method, pattern), kMaxBayerCallBytes);
}

cv::Mat SampleMosaicOf(const cv::Mat& reference, BayerPattern pattern, std::int32_t white_level) {
  cv::Mat mosaic(reference.rows, reference.cols, CV_MAKETYPE(reference.depth(), 1));
  if (reference.depth() == CV_16U) {
    SampleMosaic(ImageView16Of(reference, white_level),
                 MutableMosaicView16Of(mosaic, pattern, white_level));
  } else {
    SampleMosaic(ImageViewOf(reference), MutableMosaicViewOf(mosaic, pattern));
  }
  return mosaic;
}

}  // namespace demosaic
