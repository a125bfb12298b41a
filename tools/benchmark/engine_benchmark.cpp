// Speed of the reconstruction engine and of each of its stages, beside
// OpenCV's own Bayer conversions (bilinear, edge-aware, VNG) on the same
// mosaics, single-threaded, in one run so that the ratios are comparable.
//
// The mosaics are sampled from the bundled test chart scaled to about 0.4, 4
// and 24 megapixels (or from the image named by DEMOSAIC_BENCH_IMAGE).
// Throughput is reported as MP/s (megapixels of mosaic per second).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "cfa/cfa.h"
#include "chart.h"
#include "engine/engine.h"

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
const std::vector<std::uint8_t>& Mosaic(Size size) {
  static std::map<int, std::vector<std::uint8_t>> mosaics;
  auto [it, inserted] = mosaics.try_emplace(size.width);
  if (inserted) {
    cv::Mat scaled;
    cv::resize(SourceImage(), scaled, cv::Size(size.width, size.height), 0, 0, cv::INTER_CUBIC);
    const std::size_t sites = scaled.total();
    it->second.resize(sites);
    SampleMosaic(ConstColorImage(scaled.ptr<std::uint8_t>(), 3 * sites), size.width, size.height,
                 it->second);
  }
  return it->second;
}

void ReportThroughput(benchmark::State& state, Size size) {
  const double pixels = static_cast<double>(size.width) * size.height;
  state.counters["Mpix"] = benchmark::Counter(
      pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

Size SizeOf(const benchmark::State& state) {
  return kSizes[state.range(0)];
}

// The whole engine. With `reuse_workspace` false each call obtains and
// releases its own planes, as one run of the tool does; with it true the
// calls share one workspace, as a program evaluating a photo set does.
void BM_ReconstructFromMosaic(benchmark::State& state, bool reuse_workspace) {
  const Size size = SizeOf(state);
  const auto& mosaic = Mosaic(size);
  std::vector<std::uint8_t> output(3 * mosaic.size());
  EngineWorkspace workspace;
  if (reuse_workspace) {
    ReconstructFromMosaic(output, mosaic, size.width, size.height, workspace);  // obtains memory
  }
  for (auto _ : state) {
    if (reuse_workspace) {
      ReconstructFromMosaic(output, mosaic, size.width, size.height, workspace);
    } else {
      ReconstructFromMosaic(output, mosaic, size.width, size.height);
    }
    benchmark::DoNotOptimize(output.data());
  }
  ReportThroughput(state, size);
}

// The stages are timed on planes allocated outside the loop; each stage is
// repeatable on its own inputs (the fill step only writes what it never reads).
void BM_EstimateDirectionalDifferences(benchmark::State& state) {
  const Size size = SizeOf(state);
  const auto& mosaic = Mosaic(size);
  EngineWorkspace workspace;
  WorkingPlanes& planes = PreparePlanes(workspace, size.width, size.height);
  for (auto _ : state) {
    EstimateDirectionalDifferences(mosaic, size.width, size.height, planes);
    benchmark::ClobberMemory();
  }
  ReportThroughput(state, size);
}

void BM_FuseDirections(benchmark::State& state) {
  const Size size = SizeOf(state);
  const auto& mosaic = Mosaic(size);
  EngineWorkspace workspace;
  WorkingPlanes& planes = PreparePlanes(workspace, size.width, size.height);
  EstimateDirectionalDifferences(mosaic, size.width, size.height, planes);
  for (auto _ : state) {
    FuseDirections(mosaic, size.width, size.height, planes);
    benchmark::ClobberMemory();
  }
  ReportThroughput(state, size);
}

void BM_ReconstructColors(benchmark::State& state) {
  const Size size = SizeOf(state);
  const auto& mosaic = Mosaic(size);
  EngineWorkspace workspace;
  WorkingPlanes& planes = PreparePlanes(workspace, size.width, size.height);
  EstimateDirectionalDifferences(mosaic, size.width, size.height, planes);
  FuseDirections(mosaic, size.width, size.height, planes);
  std::vector<std::uint8_t> output(3 * mosaic.size());
  for (auto _ : state) {
    ReconstructColors(output, mosaic, size.width, size.height, planes);
    benchmark::DoNotOptimize(output.data());
  }
  ReportThroughput(state, size);
}

// OpenCV's code for our layout (G R on even rows, B G on odd rows).
void OpenCvBayer(benchmark::State& state, int code) {
  cv::setNumThreads(1);
  const Size size = SizeOf(state);
  const auto& mosaic = Mosaic(size);
  const cv::Mat raw(size.height, size.width, CV_8UC1, const_cast<std::uint8_t*>(mosaic.data()));
  cv::Mat output;
  for (auto _ : state) {
    cv::cvtColor(raw, output, code);
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

BENCHMARK_CAPTURE(BM_ReconstructFromMosaic, fresh_planes, false)->Apply(AllSizes);
BENCHMARK_CAPTURE(BM_ReconstructFromMosaic, reused_workspace, true)->Apply(AllSizes);
BENCHMARK(BM_EstimateDirectionalDifferences)->Apply(AllSizes);
BENCHMARK(BM_FuseDirections)->Apply(AllSizes);
BENCHMARK(BM_ReconstructColors)->Apply(AllSizes);
BENCHMARK(BM_OpenCvBilinear)->Apply(AllSizes);
BENCHMARK(BM_OpenCvEdgeAware)->Apply(AllSizes);
BENCHMARK(BM_OpenCvVng)->Apply(AllSizes);

}  // namespace
}  // namespace demosaic

BENCHMARK_MAIN();
