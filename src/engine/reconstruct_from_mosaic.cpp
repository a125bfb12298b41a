// The engine's entry: the stages run band by band through rolling row
// buffers, on one thread or several.
//
// Output row r needs the fused differences of rows r - 1 .. r + 1, and fused
// row f the directional estimates of rows f - 2 .. f + 2; estimates of row e
// read mosaic rows e - 2 .. e + 2. So each step estimates up to 3 rows past
// the band it completes and fuses up to 1 row past it, and the buffers keep
// just the rows a later step still reads. Each thread takes a contiguous
// share of the rows and recomputes the few estimate and fused rows around
// its share's edges, so threads never wait for one another and every value
// is the one a whole-image pass computes.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "demosaic/reconstruct.h"
#include "engine/stages.h"

namespace demosaic {
namespace {

using engine::Diff;
using engine::DiffRows;

// Rows per band when the caller leaves the choice to the engine: enough to
// make per-step overhead vanish, few enough that the row buffers of a wide
// image stay in the processor's cache.
constexpr std::int32_t kDefaultBandRows = 4;

// Halo of each buffer: estimate rows that a band's fusion reads beyond the
// rows it estimates in the same step, and fused rows its output reads.
constexpr std::int32_t kEstimateSlack = 6;
constexpr std::int32_t kFusedSlack = 2;

std::int32_t BandRows(const ReconstructionOptions& options) {
  return options.band_rows > 0 ? options.band_rows : kDefaultBandRows;
}

// Slots of the three buffers for one thread: two estimate buffers and the
// fused one.
std::size_t SlotsPerThread(std::int32_t band) {
  return 2 * static_cast<std::size_t>(band + kEstimateSlack) +
         static_cast<std::size_t>(band + kFusedSlack);
}

void CheckOptions(const ReconstructionOptions& options) {
  if (options.threads < 1) {
    throw std::invalid_argument("ReconstructFromMosaic: threads must be at least 1, not " +
                                std::to_string(options.threads));
  }
  if (options.band_rows < 0) {
    throw std::invalid_argument("ReconstructFromMosaic: band_rows must not be negative");
  }
}

struct FreeDiffs {
  void operator()(Diff* memory) const { std::free(memory); }
};

// The rolling buffers of one thread, carved out of one block.
struct ThreadBuffers {
  DiffRows horizontal;
  DiffRows vertical;
  DiffRows fused;
};

ThreadBuffers CarveBuffers(Diff* memory, std::int32_t width, std::int32_t band) {
  const std::ptrdiff_t stride = width;
  const std::int32_t estimates = band + kEstimateSlack;
  Diff* horizontal = memory;
  Diff* vertical = horizontal + estimates * stride;
  Diff* fused = vertical + estimates * stride;
  return {{horizontal, stride, estimates},
          {vertical, stride, estimates},
          {fused, stride, band + kFusedSlack}};
}

// Output rows [first, end) of an image of at least kMinimumSide on each side.
void ReconstructRows(ConstMosaicView mosaic, ImageView output, BayerPattern pattern,
                     std::int32_t first, std::int32_t end, std::int32_t band,
                     const ThreadBuffers& buffers) {
  const std::int32_t height = mosaic.height;
  // The rows with reconstructed pixels; the others are black frame.
  const std::int32_t interior_first = std::max(first, kFrameWidth);
  const std::int32_t interior_end = std::min(end, height - kFrameWidth);
  if (interior_first >= interior_end) {
    engine::ReconstructColors(mosaic, pattern, first, end, buffers.fused, output);
    return;
  }
  engine::ReconstructColors(mosaic, pattern, first, interior_first, buffers.fused, output);
  std::int32_t estimated = interior_first - 3;  // next row to estimate
  std::int32_t fused = interior_first - 1;      // next row to fuse
  for (std::int32_t row = interior_first; row < interior_end; row += band) {
    const std::int32_t band_end = std::min(row + band, interior_end);
    const std::int32_t estimate_end = band_end + 2;
    engine::EstimateDirectionalDifferences(mosaic, pattern, estimated, estimate_end + 1,
                                           buffers.horizontal, buffers.vertical);
    estimated = estimate_end + 1;
    engine::FuseDirections(mosaic, pattern, fused, band_end + 1, buffers.horizontal,
                           buffers.vertical, buffers.fused);
    fused = band_end + 1;
    engine::ReconstructColors(mosaic, pattern, row, band_end, buffers.fused, output);
  }
  engine::ReconstructColors(mosaic, pattern, interior_end, end, buffers.fused, output);
}

}  // namespace

std::size_t ReconstructionWorkingBytes(std::int32_t width, const ReconstructionOptions& options) {
  CheckOptions(options);
  const std::size_t per_thread = SlotsPerThread(BandRows(options)) *
                                 static_cast<std::size_t>(std::max(width, 0)) * sizeof(Diff);
  return per_thread * static_cast<std::size_t>(options.threads);
}

void ReconstructFromMosaic(ConstMosaicView mosaic, ImageView output,
                           const ReconstructionOptions& options) {
  CheckOptions(options);
  if (mosaic.width != output.width || mosaic.height != output.height) {
    throw std::invalid_argument("ReconstructFromMosaic: mosaic and output differ in size");
  }
  const std::int32_t width = mosaic.width;
  const std::int32_t height = mosaic.height;
  if (width < kMinimumSide || height < kMinimumSide) {
    // No interior: every pixel is frame, and the stages' windows would reach
    // outside so small an image.
    for (std::int32_t r = 0; r < height; ++r) {
      std::fill_n(output.Row(r), 3 * static_cast<std::size_t>(width), std::uint8_t{0});
    }
    return;
  }
  const std::int32_t band = BandRows(options);
  // More threads than rows would leave some without work.
  const std::int32_t threads = std::min<std::int32_t>(options.threads, height);
  const std::size_t slots = SlotsPerThread(band) * static_cast<std::size_t>(width);
  // All memory is obtained before any thread starts, so a failure leaves
  // nothing half done.
  std::unique_ptr<Diff, FreeDiffs> memory(
      static_cast<Diff*>(std::malloc(slots * static_cast<std::size_t>(threads) * sizeof(Diff))));
  if (!memory) throw std::bad_alloc();

  auto share = [&](std::int32_t k) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(height) * k / threads);
  };
  auto run = [&](std::int32_t k) {
    const ThreadBuffers buffers =
        CarveBuffers(memory.get() + slots * static_cast<std::size_t>(k), width, band);
    ReconstructRows(mosaic, output, options.pattern, share(k), share(k + 1), band, buffers);
  };
  std::vector<std::jthread> helpers;
  helpers.reserve(static_cast<std::size_t>(threads - 1));
  for (std::int32_t k = 1; k < threads; ++k) helpers.emplace_back(run, k);
  run(0);
}

}  // namespace demosaic
