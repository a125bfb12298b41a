// The engine's entry points: the stages run band by band through rolling row
// buffers, on one thread or several, from a mosaic or straight from a colour
// image that is sampled as the rows are needed.
//
// Output row r needs the fused differences of rows r - 1 .. r + 1, and fused
// row f the directional estimates of rows f - 2 .. f + 2; estimates of row e
// read mosaic rows e - 2 .. e + 2. So each step estimates up to 3 rows past
// the band it completes and fuses up to 1 row past it, and the buffers keep
// just the rows a later step still reads. Each thread takes a contiguous
// share of the rows and recomputes the few estimate and fused rows around
// its share's edges, so threads never wait for one another and every value
// is the one a whole-image pass computes.
//
// 8-bit and 16-bit samples go through the same templates; a 16-bit view's
// white level travels with its mosaic rows to the stages that bound by it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "cfa/sample_row.h"
#include "demosaic/quality.h"
#include "demosaic/reconstruct.h"
#include "engine/engine_threads.h"
#include "engine/stages.h"
#include "image/white_level.h"
#include "quality/measured_region.h"
#include "quality/squared_errors.h"

namespace demosaic {
namespace {

using engine::DiffOf;
using engine::DiffRowsOf;
using engine::PixelRowsOf;
using engine::SampleRowsOf;
using engine::SimdLevel;

// The views of one sample type.
template <class Sample>
struct ViewsOf;
template <>
struct ViewsOf<std::uint8_t> {
  using Image = ImageView;
  using ConstImage = ConstImageView;
};
template <>
struct ViewsOf<std::uint16_t> {
  using Image = ImageView16;
  using ConstImage = ConstImageView16;
};

// Rows per band when the caller leaves the choice to the engine: enough to
// make per-step overhead vanish, few enough that the row buffers of a wide
// image stay in the processor's cache.
constexpr std::int32_t kDefaultBandRows = 4;

// Slots beyond a band's rows that each buffer needs: the estimate rows a
// band's fusion reads besides those it estimates, the fused rows its output
// reads, and the mosaic rows the estimation reads around its rows.
constexpr std::int32_t kEstimateSlack = 6;
constexpr std::int32_t kFusedSlack = 2;
constexpr std::int32_t kSampleSlack = 10;

std::int32_t BandRows(const ReconstructionOptions& options) {
  return options.band_rows > 0 ? options.band_rows : kDefaultBandRows;
}

void CheckOptions(const ReconstructionOptions& options) {
  if (options.threads < 1) {
    throw std::invalid_argument("reconstruction: threads must be at least 1, not " +
                                std::to_string(options.threads));
  }
  if (options.band_rows < 0) {
    throw std::invalid_argument("reconstruction: band_rows must not be negative");
  }
}

// Sizes of one thread's buffers for rows `width` pixels wide. When the
// samples come from a colour image they get slots of their own, and output
// rows written in place pass through a buffer of their own.
struct BufferSizes {
  std::size_t diffs;    // entries of the three difference buffers
  std::size_t samples;  // samples of the mosaic slots and output slots
};

BufferSizes ThreadBufferSizes(std::int32_t width, std::int32_t band, bool sampling) {
  const auto w = static_cast<std::size_t>(width);
  const auto estimate_slots = static_cast<std::size_t>(band + kEstimateSlack);
  const auto fused_slots = static_cast<std::size_t>(band + kFusedSlack);
  BufferSizes sizes{(2 * estimate_slots + fused_slots) * w, 0};
  if (sampling) {
    const auto output_slots = static_cast<std::size_t>(std::max(band, kFrameWidth));
    sizes.samples = static_cast<std::size_t>(band + kSampleSlack) * w + output_slots * 3 * w;
  }
  return sizes;
}

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};

// Where one thread's stages read their samples.
template <class Sample>
struct SampleSource {
  SampleRowsOf<Sample> samples;
  // When not null, the samples are taken from `image` into `slots` as the
  // rows are first needed.
  Sample* slots = nullptr;
  typename ViewsOf<Sample>::ConstImage image;
  std::int32_t next_row = 0;  // first row not yet sampled
};

// Where one thread's output rows go: straight into the output, or, when the
// output is the image being sampled, through a few buffered rows that are
// measured against the original row before they replace it.
template <class Sample>
struct OutputSink {
  PixelRowsOf<Sample> rows;
  bool in_place = false;
  typename ViewsOf<Sample>::Image image;
  std::int32_t border = 0;
  SquaredErrors errors;
};

template <class Sample>
struct ThreadWork {
  DiffRowsOf<DiffOf<Sample>> horizontal;
  DiffRowsOf<DiffOf<Sample>> vertical;
  DiffRowsOf<DiffOf<Sample>> fused;
  SampleSource<Sample> source;
  OutputSink<Sample> sink;
};

template <class Sample>
void SampleUpTo(SampleSource<Sample>& source, BayerPattern pattern, std::int32_t end) {
  if (source.slots == nullptr) return;
  const SampleRowsOf<Sample>& rows = source.samples;
  for (; source.next_row < end; ++source.next_row) {
    const std::int32_t r = source.next_row;
    // The slot the stages will read row r from, written through the
    // writable pointer to the same memory.
    Sample* slot = source.slots + static_cast<std::ptrdiff_t>(r % rows.capacity) * rows.stride;
    SampleRow(source.image.Row(r), source.image.order, LayoutOfRow(pattern, r), rows.width, slot);
  }
}

template <class Sample>
void EmitRows(ThreadWork<Sample>& work, BayerPattern pattern, std::int32_t first, std::int32_t end,
              SimdLevel level) {
  if (first >= end) return;
  engine::ReconstructColors(work.source.samples, pattern, first, end, work.fused, work.sink.rows,
                            level);
  OutputSink<Sample>& sink = work.sink;
  if (!sink.in_place) return;
  const std::int32_t width = sink.image.width;
  for (std::int32_t r = first; r < end; ++r) {
    if (r >= sink.border && r < sink.image.height - sink.border) {
      AddRowSquaredErrors(sink.image.Row(r), sink.image.order, sink.rows.Row(r), sink.rows.order,
                          sink.border, width - sink.border, sink.errors);
    }
    std::memcpy(sink.image.Row(r), sink.rows.Row(r),
                3 * sizeof(Sample) * static_cast<std::size_t>(width));
  }
}

// Output rows [first, end) of an image of at least kMinimumSide on each side.
template <class Sample>
void ReconstructRows(ThreadWork<Sample>& work, BayerPattern pattern, std::int32_t first,
                     std::int32_t end, std::int32_t band, SimdLevel level) {
  const std::int32_t height = work.source.samples.height;
  // The rows with reconstructed pixels; the others are black frame.
  const std::int32_t interior_first = std::max(first, kFrameWidth);
  const std::int32_t interior_end = std::min(end, height - kFrameWidth);
  if (interior_first >= interior_end) {
    EmitRows(work, pattern, first, end, level);
    return;
  }
  work.source.next_row = std::max(0, interior_first - 5);
  std::int32_t estimated = interior_first - 3;  // next row to estimate
  std::int32_t fused = interior_first - 1;      // next row to fuse
  for (std::int32_t row = interior_first; row < interior_end; row += band) {
    const std::int32_t band_end = std::min(row + band, interior_end);
    const std::int32_t estimate_end = band_end + 3;
    SampleUpTo(work.source, pattern, std::min(height, estimate_end + 2));
    engine::EstimateDirectionalDifferences(work.source.samples, pattern, estimated, estimate_end,
                                           work.horizontal, work.vertical, level);
    estimated = estimate_end;
    engine::FuseDirections(work.source.samples, pattern, fused, band_end + 1, work.horizontal,
                           work.vertical, work.fused, level);
    fused = band_end + 1;
    // The frame rows above are written only now, once the rows they replace
    // in place have been sampled.
    if (row == interior_first) EmitRows(work, pattern, first, interior_first, level);
    EmitRows(work, pattern, row, band_end, level);
  }
  EmitRows(work, pattern, interior_end, end, level);
}

// Carves one thread's buffers out of the blocks obtained for all threads.
// `slots` is null when the samples come from a mosaic.
template <class Sample>
ThreadWork<Sample> CarveWork(DiffOf<Sample>* diffs, Sample* slots, std::int32_t width,
                             std::int32_t height, std::int32_t band) {
  const std::ptrdiff_t w = width;
  const std::int32_t estimate_slots = band + kEstimateSlack;
  ThreadWork<Sample> work;
  work.horizontal = {diffs, w, estimate_slots};
  work.vertical = {diffs + estimate_slots * w, w, estimate_slots};
  work.fused = {diffs + 2 * estimate_slots * w, w, band + kFusedSlack};
  if (slots != nullptr) {
    const std::int32_t sample_slots = band + kSampleSlack;
    work.source.slots = slots;
    work.source.samples = {slots, w, sample_slots, width, height};
    work.sink.rows = {slots + sample_slots * w, 3 * w, std::max(band, kFrameWidth),
                      ChannelOrder::kBGR};
  }
  return work;
}

// Every thread's buffers, obtained before any thread starts so that a
// failure leaves nothing half done. They are zeroed: the colour stage reads
// (and discards) entries at green sites, which no stage writes.
template <class Sample>
struct WorkMemory {
  std::unique_ptr<DiffOf<Sample>, FreeMemory> diffs;
  std::unique_ptr<Sample, FreeMemory> samples;
  BufferSizes sizes;
};

template <class Sample>
WorkMemory<Sample> ObtainWorkMemory(std::int32_t width, std::int32_t band, int threads,
                                    bool sampling) {
  using D = DiffOf<Sample>;
  WorkMemory<Sample> memory;
  memory.sizes = ThreadBufferSizes(width, band, sampling);
  const auto count = static_cast<std::size_t>(threads);
  memory.diffs.reset(static_cast<D*>(std::calloc(memory.sizes.diffs * count, sizeof(D))));
  if (!memory.diffs) throw std::bad_alloc();
  if (sampling) {
    memory.samples.reset(
        static_cast<Sample*>(std::calloc(memory.sizes.samples * count, sizeof(Sample))));
    if (!memory.samples) throw std::bad_alloc();
  }
  return memory;
}

template <class Sample>
void ReconstructMosaic(SampleRowsOf<Sample> mosaic, BayerPattern pattern,
                       PixelRowsOf<Sample> output, const ReconstructionOptions& options) {
  const std::int32_t width = mosaic.width;
  const std::int32_t height = mosaic.height;
  if (width < kMinimumSide || height < kMinimumSide) {
    // No interior: every pixel is frame, and the stages' windows would reach
    // outside so small an image.
    for (std::int32_t r = 0; r < height; ++r) {
      std::fill_n(output.Row(r), 3 * static_cast<std::size_t>(width), Sample{0});
    }
    return;
  }
  const std::int32_t band = BandRows(options);
  // More threads than rows would leave some without work.
  const int threads = std::min<int>(options.threads, height);
  const WorkMemory<Sample> memory = ObtainWorkMemory<Sample>(width, band, threads, false);
  const SimdLevel level = engine::BestSimdLevel();
  auto share = [&](int k) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(height) * k / threads);
  };
  auto run = [&](int k) {
    ThreadWork<Sample> work =
        CarveWork<Sample>(memory.diffs.get() + memory.sizes.diffs * static_cast<std::size_t>(k),
                          nullptr, width, height, band);
    work.source.samples = mosaic;
    work.sink.rows = output;
    ReconstructRows(work, pattern, share(k), share(k + 1), band, level);
  };
  engine::RunOnThreads(threads, run);
}

// The frame-only case of ReconstructInPlace: the image, under kMinimumSide
// on a side, is measured against black and then blackened.
template <class Image>
SquaredErrors BlackenSmallImage(Image image, std::int32_t border) {
  using Sample = std::remove_pointer_t<decltype(image.data)>;
  const std::int32_t width = image.width;
  const std::vector<Sample> black(3 * static_cast<std::size_t>(width), 0);
  SquaredErrors errors;
  for (std::int32_t r = border; r < image.height - border; ++r) {
    AddRowSquaredErrors(image.Row(r), image.order, black.data(), image.order, border,
                        width - border, errors);
  }
  for (std::int32_t r = 0; r < image.height; ++r) std::fill_n(image.Row(r), black.size(), 0);
  return errors;
}

template <class Image>
QualityFigures ReconstructImageInPlace(Image image, BayerPattern pattern,
                                       const ReconstructionOptions& options, std::int32_t border,
                                       std::int32_t white_level) {
  using Sample = std::remove_pointer_t<decltype(image.data)>;
  const std::int32_t width = image.width;
  const std::int32_t height = image.height;
  const std::int64_t columns = width - 2 * std::int64_t{border};
  const std::int64_t rows = height - 2 * std::int64_t{border};
  if (width < kMinimumSide || height < kMinimumSide) {
    return FiguresFromSquaredErrors(BlackenSmallImage(image, border), columns, rows, white_level);
  }
  const std::int32_t band = BandRows(options);
  const WorkMemory<Sample> memory = ObtainWorkMemory<Sample>(width, band, 1, true);
  ThreadWork<Sample> work =
      CarveWork<Sample>(memory.diffs.get(), memory.samples.get(), width, height, band);
  work.source.samples.white_level = white_level;
  work.source.image = image;
  work.sink.rows.order = image.order;
  work.sink.in_place = true;
  work.sink.image = image;
  work.sink.border = border;
  ReconstructRows(work, pattern, 0, height, band, engine::BestSimdLevel());
  return FiguresFromSquaredErrors(work.sink.errors, columns, rows, white_level);
}

}  // namespace

std::size_t ReconstructionWorkingBytes(std::int32_t width, const ReconstructionOptions& options,
                                       std::size_t sample_bytes) {
  CheckOptions(options);
  if (sample_bytes != 1 && sample_bytes != 2) {
    throw std::invalid_argument("ReconstructionWorkingBytes: samples of " +
                                std::to_string(sample_bytes) + " bytes; 1 or 2 are known");
  }
  const BufferSizes sizes = ThreadBufferSizes(std::max(width, 0), BandRows(options), true);
  const std::size_t diff_bytes =
      sample_bytes == 1 ? sizeof(engine::Diff) : sizeof(engine::WideDiff);
  return (sizes.diffs * diff_bytes + sizes.samples * sample_bytes) *
         static_cast<std::size_t>(options.threads);
}

void ReconstructFromMosaic(ConstMosaicView mosaic, ImageView output,
                           const ReconstructionOptions& options) {
  CheckOptions(options);
  if (mosaic.width != output.width || mosaic.height != output.height) {
    throw std::invalid_argument("ReconstructFromMosaic: mosaic and output differ in size");
  }
  ReconstructMosaic(engine::WholeMosaic(mosaic), mosaic.pattern, engine::WholeImage(output),
                    options);
}

void ReconstructFromMosaic(ConstMosaicView16 mosaic, ImageView16 output,
                           const ReconstructionOptions& options) {
  CheckOptions(options);
  if (mosaic.width != output.width || mosaic.height != output.height) {
    throw std::invalid_argument("ReconstructFromMosaic: mosaic and output differ in size");
  }
  CheckSameWhiteLevel("ReconstructFromMosaic", mosaic.white_level, output.white_level);
  ReconstructMosaic(engine::WholeMosaic(mosaic), mosaic.pattern, engine::WholeImage(output),
                    options);
}

namespace {

// The checks of ReconstructInPlace, then the work, for either sample type.
template <class View>
QualityFigures CheckedReconstructInPlace(View image, BayerPattern pattern,
                                         const ReconstructionOptions& options, std::int32_t border,
                                         std::int32_t white_level) {
  CheckOptions(options);
  if (options.threads != 1) {
    throw std::invalid_argument("ReconstructInPlace: runs on one thread only");
  }
  CheckMeasuredRegion("ReconstructInPlace", image, image, border, 1);
  return ReconstructImageInPlace(image, pattern, options, border, white_level);
}

}  // namespace

QualityFigures ReconstructInPlace(ImageView image, BayerPattern pattern,
                                  const ReconstructionOptions& options, std::int32_t border) {
  return CheckedReconstructInPlace(image, pattern, options, border, 255);
}

QualityFigures ReconstructInPlace(ImageView16 image, BayerPattern pattern,
                                  const ReconstructionOptions& options, std::int32_t border) {
  return CheckedReconstructInPlace(image, pattern, options, border, image.white_level);
}

}  // namespace demosaic
