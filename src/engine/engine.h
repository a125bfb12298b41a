// The demosaicing engine: reconstruction of a full-colour image from a GRBG
// mosaic by directional colour-difference estimation, fusion and
// interpolation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "demosaic/types.h"

namespace demosaic {

// The colour-difference planes of one reconstruction, each W x H.
struct WorkingPlanes {
  DiffPlane RgH;      // R - G along the row, at Gr and R sites
  DiffPlane RgV;      // R - G down the column, at R and Gb sites
  DiffPlane BgH;      // B - G along the row, at B and Gb sites
  DiffPlane BgV;      // B - G down the column, at Gr and B sites
  DiffPlane RgFused;  // final R - G
  DiffPlane BgFused;  // final B - G
};

// Releases the memory of an EngineWorkspace.
struct WorkspaceMemoryReleaser {
  void operator()(std::int32_t* memory) const;
};

// Memory for the working planes, kept between reconstructions so that a
// program evaluating many images pays for obtaining it once. One workspace
// serves one reconstruction at a time.
struct EngineWorkspace {
  std::unique_ptr<std::int32_t, WorkspaceMemoryReleaser> memory;
  std::size_t sites = 0;  // capacity per plane
  WorkingPlanes planes;
};

// Points the workspace's planes at W x H sites, obtaining more memory if
// needed (throws std::bad_alloc when it cannot). Newly obtained memory is
// zero-filled; reused memory holds what the previous reconstruction left,
// which no stage reads: each reads only entries that an earlier stage of the
// same reconstruction wrote.
WorkingPlanes& PreparePlanes(EngineWorkspace& workspace, std::int32_t width, std::int32_t height);

// Heap bytes that ReconstructFromMosaic needs beyond its input and output.
std::size_t ReconstructionWorkingBytes(std::int32_t width, std::int32_t height);

// Writes all 3 * W * H bytes of `output`: the reconstruction at every site at
// least 3 from every edge, inside a black frame 3 pixels wide. Images with
// fewer than 7 rows or columns have no such site and come out all black. The
// mosaic is only read. The first form obtains and releases its own planes;
// the second reuses `workspace`. Both throw std::bad_alloc if the planes
// cannot be obtained.
void ReconstructFromMosaic(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                           std::int32_t height);
void ReconstructFromMosaic(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                           std::int32_t height, EngineWorkspace& workspace);

// The three stages, run in this order by ReconstructFromMosaic. Their domain
// is an image of at least 3 columns and 4 rows; they are exposed for tests.

// Fills RgH, RgV, BgH and BgV at every site of their classes, edges included.
void EstimateDirectionalDifferences(ConstMosaicPlane mosaic, std::int32_t width,
                                    std::int32_t height, WorkingPlanes& planes);

// Writes RgFused at R sites and BgFused at B sites at least 2 from every edge.
void FuseDirections(ConstMosaicPlane mosaic, std::int32_t width, std::int32_t height,
                    WorkingPlanes& planes);

// The fused difference at one R or B site whose mosaic sample is `sample`:
// `horizontal` and `vertical` point at the site in its row and column
// estimate planes (stride `width`). Always in sample - 255 .. sample.
std::int32_t FuseSite(const std::int32_t* horizontal, const std::int32_t* vertical,
                      std::ptrdiff_t width, std::int32_t sample);

// Completes the fused planes over the interior (at least 3 from every edge)
// and writes every output pixel, black outside the interior.
void ReconstructColors(ColorImage output, ConstMosaicPlane mosaic, std::int32_t width,
                       std::int32_t height, WorkingPlanes& planes);

}  // namespace demosaic
