// Running each compared method on a GRBG mosaic.
#include "methods.h"

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/engine.h"

namespace demosaic::bench {

std::string_view MethodName(Method method) {
  switch (method) {
    case Method::kMethod:
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

void Reconstruct(Method method, const cv::Mat& mosaic, cv::Mat& output) {
  output.create(mosaic.rows, mosaic.cols, CV_8UC3);
  switch (method) {
    case Method::kMethod: {
      // The planes' memory is obtained once and reused for every image, so
      // that the time measured is the method's, not the system's page faults.
      static thread_local EngineWorkspace workspace;
      const std::size_t sites =
          static_cast<std::size_t>(mosaic.rows) * static_cast<std::size_t>(mosaic.cols);
      ReconstructFromMosaic(ColorImage(output.ptr<std::uint8_t>(), 3 * sites),
                            ConstMosaicPlane(mosaic.ptr<std::uint8_t>(), sites), mosaic.cols,
                            mosaic.rows, workspace);
      return;
    }
    case Method::kBilinear:
      cv::cvtColor(mosaic, output, kBilinearCode);
      return;
    case Method::kEdgeAware:
      cv::cvtColor(mosaic, output, kEdgeAwareCode);
      return;
  }
}

}  // namespace demosaic::bench
