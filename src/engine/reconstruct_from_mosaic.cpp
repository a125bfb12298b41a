// The engine's entry: the working planes, their memory and the order of the
// stages.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "engine/engine.h"

namespace demosaic {
namespace {

constexpr std::size_t kPlaneCount = 6;

// calloc hands out large blocks as fresh pages that the kernel has already
// zeroed, so the planes need no clearing pass of their own.
std::int32_t* ObtainZeroedMemory(std::size_t bytes) {
  void* memory = std::calloc(bytes, 1);
  if (memory == nullptr) throw std::bad_alloc();
  return static_cast<std::int32_t*>(memory);
}

}  // namespace

void WorkspaceMemoryReleaser::operator()(std::int32_t* memory) const {
  std::free(memory);
}

WorkingPlanes& PreparePlanes(EngineWorkspace& workspace, std::int32_t width, std::int32_t height) {
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (sites > workspace.sites || !workspace.memory) {
    workspace.memory.reset();  // give the old block back before taking a larger one
    workspace.sites = 0;
    const std::size_t bytes = std::max<std::size_t>(1, ReconstructionWorkingBytes(width, height));
    workspace.memory = std::unique_ptr<std::int32_t, WorkspaceMemoryReleaser>(
        ObtainZeroedMemory(bytes), WorkspaceMemoryReleaser{});
    workspace.sites = sites;
  }
  std::int32_t* base = workspace.memory.get();
  auto plane = [&](std::size_t k) { return DiffPlane(base + k * sites, sites); };
  workspace.planes = WorkingPlanes{plane(0), plane(1), plane(2), plane(3), plane(4), plane(5)};
  return workspace.planes;
}

std::size_t ReconstructionWorkingBytes(std::int32_t width, std::int32_t height) {
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  return kPlaneCount * sizeof(std::int32_t) * sites;
}

void ReconstructFromMosaic(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                           std::int32_t height, EngineWorkspace& workspace) {
  // Without an interior every output pixel is frame; the stages' windows
  // would also reach outside such a small image.
  if (width < 7 || height < 7) {
    std::fill(output.begin(), output.end(), std::uint8_t{0});
    return;
  }
  WorkingPlanes& planes = PreparePlanes(workspace, width, height);
  EstimateDirectionalDifferences(mosaic, width, height, planes);
  FuseDirections(mosaic, width, height, planes);
  ReconstructColors(output, mosaic, width, height, planes);
}

void ReconstructFromMosaic(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                           std::int32_t height) {
  EngineWorkspace workspace;
  ReconstructFromMosaic(output, mosaic, width, height, workspace);
}

}  // namespace demosaic
