// Simulated capture and reconstruction: sampling a Bayer mosaic from a colour
// reference, and rebuilding a full-colour image from a mosaic alone by
// directional colour-difference estimation, fusion and interpolation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "demosaic/bayer.h"
#include "demosaic/export.h"
#include "demosaic/frame.h"
#include "demosaic/image.h"
#include "demosaic/quality.h"  // QualityFigures

namespace demosaic {

// Keeps, at every site, the one channel of `reference` that the filter of
// mosaic.pattern passes there, unchanged. Requires both views of one size
// (throws std::invalid_argument otherwise). Writes every sample of `mosaic`,
// nothing else; only reads `reference`.
DEMOSAIC_EXPORT void SampleMosaic(ConstImageView reference, MosaicView mosaic);

// How the reconstruction shares its work; the tile is the mosaic's own.
struct ReconstructionOptions {
  // Threads that share the rows, at least 1; the calling thread is one of
  // them. The output is the same bit for bit for every count.
  int threads = 1;
  // Output rows each thread completes per step through its rolling row
  // buffers, at least 1; 0 lets the engine choose. The output is the same bit
  // for bit for every value: only speed and working memory change.
  std::int32_t band_rows = 0;
};

// Writes every byte of every pixel of `output`: the reconstruction, through
// mosaic.pattern, at each site at least kFrameWidth from every edge, black elsewhere (an image
// under kMinimumSide on a side comes out all black). Only reads `mosaic`, which must not overlap
// `output`. Requires views of one size and valid options (throws std::invalid_argument otherwise);
// throws std::bad_alloc, having written nothing, when its few rows of working memory cannot be
// obtained, and std::system_error when a thread cannot be started. Keeps nothing between calls:
// calls on different outputs may run concurrently.
DEMOSAIC_EXPORT void ReconstructFromMosaic(ConstMosaicView mosaic, ImageView output,
                                           const ReconstructionOptions& options = {});

// Simulates the capture of `image` through `pattern` and replaces every
// pixel with its reconstruction: the bytes that SampleMosaic followed by
// ReconstructFromMosaic would write. Returns the figures of the
// reconstruction against the image as it was, over `border`, exactly as
// ComputeQuality would (quality.h). Needs no mosaic and no second image: only
// a few rows of working memory. Requires options.threads == 1 and a border
// ComputeQuality accepts; throws std::invalid_argument otherwise and
// std::bad_alloc when its rows cannot be obtained, in both cases before
// changing any pixel.
DEMOSAIC_EXPORT QualityFigures ReconstructInPlace(ImageView image, BayerPattern pattern,
                                                  const ReconstructionOptions& options = {},
                                                  std::int32_t border = kFrameWidth);

// Heap bytes ReconstructFromMosaic or ReconstructInPlace obtains for an image
// `width` pixels wide with these options, beyond the images it is given, for
// samples of `sample_bytes` bytes (1 for 8-bit views, 2 for 16-bit views);
// independent of the height. Throws std::invalid_argument for invalid
// options or a sample size other than 1 or 2.
DEMOSAIC_EXPORT std::size_t ReconstructionWorkingBytes(std::int32_t width,
                                                       const ReconstructionOptions& options = {},
                                                       std::size_t sample_bytes = 1);

// ---------------------------------------------------------------------------
// 16-bit samples. The same method with every bound that is 255 for 8-bit
// samples replaced by the white level W: the fused colour difference at a
// site with sample X is kept within X - W .. X, and each reconstructed
// channel is clamped to 0 .. W. A 16-bit view of white level 255 holding the
// values of an 8-bit view gives the same values as the 8-bit functions.
// Each requires samples within the white level of the view they are read
// from (with larger samples it stays memory-safe, but what it writes is
// unspecified).

// As SampleMosaic for 8 bits. Requires in addition one white level for both
// views (throws std::invalid_argument otherwise).
DEMOSAIC_EXPORT void SampleMosaic(ConstImageView16 reference, MosaicView16 mosaic);

// As ReconstructFromMosaic for 8 bits, every output channel within
// 0 .. mosaic.white_level. Requires in addition output.white_level ==
// mosaic.white_level (throws std::invalid_argument otherwise, having written
// nothing).
DEMOSAIC_EXPORT void ReconstructFromMosaic(ConstMosaicView16 mosaic, ImageView16 output,
                                           const ReconstructionOptions& options = {});

// As ReconstructInPlace for 8 bits: the samples SampleMosaic followed by
// ReconstructFromMosaic would write, and the figures ComputeQuality would
// return for them with peak image.white_level.
DEMOSAIC_EXPORT QualityFigures ReconstructInPlace(ImageView16 image, BayerPattern pattern,
                                                  const ReconstructionOptions& options = {},
                                                  std::int32_t border = kFrameWidth);

}  // namespace demosaic
