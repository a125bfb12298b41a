// Speed of the reconstruction engine, whole and stage by stage, beside
// OpenCV's own Bayer conversions (bilinear, edge-aware, VNG) on the same
// mosaics, in one run so that the ratios are comparable. The engine runs on
// 8-bit mosaics and, beside them (the cases named "16"), on the same mosaics
// widened to 16 bits (each sample times 257, white level 65535).
//
// The mosaics are sampled from the bundled test chart scaled to about 0.4, 4
// and 24 megapixels (or from the image named by DEMOSAIC_BENCH_IMAGE).
// Throughput is reported as MP/s (megapixels of mosaic per second). Every
// engine call obtains its own working memory, as one run of demosaic-eval
// does: nothing is reused from one call to the next.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "chart.h"
#include "demosaic/demosaic.h"
#include "engine/stages.h"
#include "evaluation/mat_views.h"
#include "evaluation/methods.h"

namespace demosaic {
namespace {

struct Size {
  int width;
  int height;
};

// About 0.4, 4 and 24 megapixels, 3:2 like a camera sensor.
constexpr Size kSizes[] = {{768, 512}, {2448, 1632}, {6000, 4000}};

cv::Mat SourceImage() {
  if (const char* path = std::getenv("DEMOSAIC_BENCH_IMAGE"); path != nullptr && *path) {
    cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
    if (!image.empty()) return image;
  }
  return DrawTestChart();
}

// One mosaic per size, made once and shared by all benchmarks.
const cv::Mat& Mosaic(Size size) {
  static std::map<int, cv::Mat> mosaics;
  auto [it, inserted] = mosaics.try_emplace(size.width);
  if (inserted) {
    cv::Mat scaled;
    cv::resize(SourceImage(), scaled, cv::Size(size.width, size.height), 0, 0, cv::INTER_CUBIC);
    it->second = SampleMosaicOf(scaled, BayerPattern::kGRBG);
  }
  return it->second;
}

// The mosaic of this size widened to 16 bits, full range.
const cv::Mat& Mosaic16(Size size) {
  static std::map<int, cv::Mat> mosaics;
  auto [it, inserted] = mosaics.try_emplace(size.width);
  if (inserted) Mosaic(size).convertTo(it->second, CV_16U, 257.0);
  return it->second;
}

ConstMosaicView16 MosaicView16Of(const cv::Mat& mosaic) {
  const auto* samples = mosaic.ptr<std::uint16_t>();
  const std::size_t count = mosaic.step1() * static_cast<std::size_t>(mosaic.rows);
  return MakeMosaicView(std::span<const std::uint16_t>(samples, count), mosaic.cols, mosaic.rows,
                        BayerPattern::kGRBG, static_cast<std::ptrdiff_t>(mosaic.step1()),
                        kMaxWhiteLevel);
}

ImageView16 ImageView16Of(cv::Mat& image) {
  auto* samples = image.ptr<std::uint16_t>();
  const std::size_t count = image.step1() * static_cast<std::size_t>(image.rows);
  return MakeImageView(std::span<std::uint16_t>(samples, count), image.cols, image.rows,
                       static_cast<std::ptrdiff_t>(image.step1()), ChannelOrder::kBGR,
                       kMaxWhiteLevel);
}

// The views of one sample type, so that each stage's benchmark is written
// once for both.
engine::SampleRows WholeMosaicOf(const cv::Mat& mosaic, std::uint8_t) {
  return engine::WholeMosaic(MosaicViewOf(mosaic, BayerPattern::kGRBG));
}
engine::SampleRows16 WholeMosaicOf(const cv::Mat& mosaic, std::uint16_t) {
  return engine::WholeMosaic(MosaicView16Of(mosaic));
}
engine::PixelRows WholeImageOf(cv::Mat& image, std::uint8_t) {
  return engine::WholeImage(MutableImageViewOf(image));
}
engine::PixelRows16 WholeImageOf(cv::Mat& image, std::uint16_t) {
  return engine::WholeImage(ImageView16Of(image));
}
template <class Sample>
const cv::Mat& MosaicOf(Size size) {
  return sizeof(Sample) == 1 ? Mosaic(size) : Mosaic16(size);
}
template <class Sample>
constexpr int kImageType = sizeof(Sample) == 1 ? CV_8UC3 : CV_16UC3;

void ReportThroughput(benchmark::State& state, Size size) {
  const double pixels = static_cast<double>(size.width) * size.height;
  state.counters["Mpix"] = benchmark::Counter(
      pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

Size SizeOf(const benchmark::State& state) {
  return kSizes[state.range(0)];
}

// The whole engine on `threads` threads. It obtains its own working memory
// on every call; the output is the caller's, written in place, or (with
// `fresh_output`) a new image each call, whose first-touch page faults a
// program pays once per image whatever method fills it.
void BM_ReconstructFromMosaic(benchmark::State& state, int threads, bool fresh_output) {
  const Size size = SizeOf(state);
  const cv::Mat& mosaic = Mosaic(size);
  ReconstructionOptions options;
  options.threads = threads;
  // The caller's output, its pages touched once before timing starts.
  cv::Mat output(size.height, size.width, CV_8UC3, cv::Scalar::all(0));
  for (auto _ : state) {
    if (fresh_output) output = cv::Mat(size.height, size.width, CV_8UC3);
    ReconstructFromMosaic(MosaicViewOf(mosaic, BayerPattern::kGRBG), MutableImageViewOf(output),
                          options);
    benchmark::DoNotOptimize(output.data);
  }
  ReportThroughput(state, size);
}

// The same on the 16-bit mosaic.
void BM_ReconstructFromMosaic16(benchmark::State& state, int threads) {
  const Size size = SizeOf(state);
  const cv::Mat& mosaic = Mosaic16(size);
  ReconstructionOptions options;
  options.threads = threads;
  cv::Mat output(size.height, size.width, CV_16UC3, cv::Scalar::all(0));
  for (auto _ : state) {
    ReconstructFromMosaic(MosaicView16Of(mosaic), ImageView16Of(output), options);
    benchmark::DoNotOptimize(output.data);
  }
  ReportThroughput(state, size);
}

// Whole-image planes for timing one stage alone over every row.
template <class Sample>
struct WholePlanes {
  using D = engine::DiffOf<Sample>;
  explicit WholePlanes(Size size)
      : values(3 * static_cast<std::size_t>(size.width) * size.height),
        horizontal{values.data(), size.width, size.height},
        vertical{values.data() + static_cast<std::size_t>(size.width) * size.height, size.width,
                 size.height},
        fused{values.data() + 2 * static_cast<std::size_t>(size.width) * size.height, size.width,
              size.height} {}
  std::vector<D> values;
  engine::DiffRowsOf<D> horizontal;
  engine::DiffRowsOf<D> vertical;
  engine::DiffRowsOf<D> fused;
};

template <class Sample>
void EstimateCase(benchmark::State& state) {
  const Size size = SizeOf(state);
  const cv::Mat& mosaic = MosaicOf<Sample>(size);
  WholePlanes<Sample> planes(size);
  for (auto _ : state) {
    engine::EstimateDirectionalDifferences(WholeMosaicOf(mosaic, Sample{}), BayerPattern::kGRBG, 0,
                                           size.height, planes.horizontal, planes.vertical);
    benchmark::ClobberMemory();
  }
  ReportThroughput(state, size);
}

template <class Sample>
void FuseCase(benchmark::State& state, engine::SimdLevel level) {
  if (!engine::ProcessorSupports(level)) {
    state.SkipWithError("this processor lacks the instruction set");
    return;
  }
  const Size size = SizeOf(state);
  const cv::Mat& mosaic = MosaicOf<Sample>(size);
  WholePlanes<Sample> planes(size);
  engine::EstimateDirectionalDifferences(WholeMosaicOf(mosaic, Sample{}), BayerPattern::kGRBG, 0,
                                         size.height, planes.horizontal, planes.vertical);
  for (auto _ : state) {
    engine::FuseDirections(WholeMosaicOf(mosaic, Sample{}), BayerPattern::kGRBG, 0, size.height,
                           planes.horizontal, planes.vertical, planes.fused, level);
    benchmark::ClobberMemory();
  }
  ReportThroughput(state, size);
}

template <class Sample>
void ColorsCase(benchmark::State& state) {
  const Size size = SizeOf(state);
  const cv::Mat& mosaic = MosaicOf<Sample>(size);
  WholePlanes<Sample> planes(size);
  engine::EstimateDirectionalDifferences(WholeMosaicOf(mosaic, Sample{}), BayerPattern::kGRBG, 0,
                                         size.height, planes.horizontal, planes.vertical);
  engine::FuseDirections(WholeMosaicOf(mosaic, Sample{}), BayerPattern::kGRBG, 0, size.height,
                         planes.horizontal, planes.vertical, planes.fused);
  cv::Mat output(size.height, size.width, kImageType<Sample>, cv::Scalar::all(0));
  for (auto _ : state) {
    engine::ReconstructColors(WholeMosaicOf(mosaic, Sample{}), BayerPattern::kGRBG, 0, size.height,
                              planes.fused, WholeImageOf(output, Sample{}));
    benchmark::DoNotOptimize(output.data);
  }
  ReportThroughput(state, size);
}

// Each stage at 8 and at 16 bits.
void BM_EstimateDirectionalDifferences(benchmark::State& state) {
  EstimateCase<std::uint8_t>(state);
}
void BM_EstimateDirectionalDifferences16(benchmark::State& state) {
  EstimateCase<std::uint16_t>(state);
}
void BM_FuseDirections(benchmark::State& state, engine::SimdLevel level) {
  FuseCase<std::uint8_t>(state, level);
}
void BM_FuseDirections16(benchmark::State& state, engine::SimdLevel level) {
  FuseCase<std::uint16_t>(state, level);
}
void BM_ReconstructColors(benchmark::State& state) {
  ColorsCase<std::uint8_t>(state);
}
void BM_ReconstructColors16(benchmark::State& state) {
  ColorsCase<std::uint16_t>(state);
}

void OpenCvBayer(benchmark::State& state, int code) {
  cv::setNumThreads(1);
  const Size size = SizeOf(state);
  const cv::Mat& mosaic = Mosaic(size);
  // As for the engine: the output written in place, its pages touched before
  // timing starts.
  cv::Mat output(size.height, size.width, CV_8UC3, cv::Scalar::all(0));
  for (auto _ : state) {
    cv::cvtColor(mosaic, output, code);
    benchmark::DoNotOptimize(output.data);
  }
  ReportThroughput(state, size);
}

void BM_OpenCvBilinear(benchmark::State& state) {
  OpenCvBayer(state, cv::COLOR_BayerGRBG2BGR);
}
void BM_OpenCvEdgeAware(benchmark::State& state) {
  OpenCvBayer(state, cv::COLOR_BayerGRBG2BGR_EA);
}
void BM_OpenCvVng(benchmark::State& state) {
  OpenCvBayer(state, cv::COLOR_BayerGRBG2BGR_VNG);
}

void AllSizes(benchmark::internal::Benchmark* b) {
  b->ArgName("size")->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
}
void LargestSize(benchmark::internal::Benchmark* b) {
  b->ArgName("size")->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK_CAPTURE(BM_ReconstructFromMosaic, one_thread, 1, false)->Apply(AllSizes);
BENCHMARK_CAPTURE(BM_ReconstructFromMosaic, two_threads, 2, false)->Apply(LargestSize);
BENCHMARK_CAPTURE(BM_ReconstructFromMosaic, one_thread_fresh_output, 1, true)->Apply(LargestSize);
BENCHMARK_CAPTURE(BM_ReconstructFromMosaic16, one_thread, 1)->Apply(AllSizes);
BENCHMARK_CAPTURE(BM_ReconstructFromMosaic16, two_threads, 2)->Apply(LargestSize);
BENCHMARK(BM_EstimateDirectionalDifferences)->Apply(LargestSize);
BENCHMARK(BM_EstimateDirectionalDifferences16)->Apply(LargestSize);
BENCHMARK_CAPTURE(BM_FuseDirections, baseline, engine::SimdLevel::kBaseline)->Apply(LargestSize);
BENCHMARK_CAPTURE(BM_FuseDirections, avx2, engine::SimdLevel::kAvx2)->Apply(LargestSize);
BENCHMARK_CAPTURE(BM_FuseDirections, avx512, engine::SimdLevel::kAvx512)->Apply(LargestSize);
BENCHMARK_CAPTURE(BM_FuseDirections16, best, engine::BestSimdLevel())->Apply(LargestSize);
BENCHMARK(BM_ReconstructColors)->Apply(LargestSize);
BENCHMARK(BM_ReconstructColors16)->Apply(LargestSize);
BENCHMARK(BM_OpenCvBilinear)->Apply(AllSizes);
BENCHMARK(BM_OpenCvEdgeAware)->Apply(AllSizes);
BENCHMARK(BM_OpenCvVng)->Apply(AllSizes);

}  // namespace
}  // namespace demosaic

BENCHMARK_MAIN();
