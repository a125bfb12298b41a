// Running each method on a mosaic.
#include "pipeline/methods.h"

#include <opencv2/imgproc.hpp>

#include "demosaic/reconstruct.h"
#include "pipeline/mat_views.h"

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

void Reconstruct(Method method, BayerPattern pattern, const cv::Mat& mosaic, cv::Mat& output) {
  output.create(mosaic.rows, mosaic.cols, CV_8UC3);
  if (method == Method::kDirectional) {
    ReconstructionOptions options;
    options.pattern = pattern;
    ReconstructFromMosaic(MosaicViewOf(mosaic), MutableImageViewOf(output), options);
    return;
  }
  cv::cvtColor(mosaic, output, OpenCvBayerCode(method, pattern));
}

cv::Mat SampleMosaicOf(const cv::Mat& reference, BayerPattern pattern) {
  cv::Mat mosaic(reference.rows, reference.cols, CV_8UC1);
  SampleMosaic(ImageViewOf(reference), MutableMosaicViewOf(mosaic), pattern);
  return mosaic;
}

}  // namespace demosaic
