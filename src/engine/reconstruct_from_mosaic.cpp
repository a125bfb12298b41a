// The engine's entry: the working planes and the order of the stages.
#include <algorithm>

#include "engine/engine.h"

namespace demosaic {

WorkingPlanes MakeWorkingPlanes(std::int32_t width, std::int32_t height) {
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  return WorkingPlanes{DiffPlane(sites), DiffPlane(sites), DiffPlane(sites),
                       DiffPlane(sites), DiffPlane(sites), DiffPlane(sites)};
}

std::size_t ReconstructionWorkingBytes(std::int32_t width, std::int32_t height) {
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  // Six planes, plus the estimation's five row windows and the output row.
  return 6 * sizeof(std::int32_t) * sites + 8 * (static_cast<std::size_t>(width) + 4);
}

void ReconstructFromMosaic(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                           std::int32_t height) {
  // Without an interior every output pixel is frame; the stages' windows
  // would also reach outside such a small image.
  if (width < 7 || height < 7) {
    std::fill(output.begin(), output.end(), std::uint8_t{0});
    return;
  }
  WorkingPlanes planes = MakeWorkingPlanes(width, height);
  EstimateDirectionalDifferences(mosaic, width, height, planes);
  FuseDirections(mosaic, width, height, planes);
  ReconstructColors(output, mosaic, width, height, planes);
}

}  // namespace demosaic
