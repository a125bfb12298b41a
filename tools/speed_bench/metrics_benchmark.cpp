// Speed of the perceptual metrics (SSIM, mean CIEDE2000, zipper share, and
// the last two from one conversion) beside the PSNR figures, on one thread
// and, at 24 MP, on two, over the measured interior of the reconstruction's
// frame (border 3).
//
// The reference is the bundled test chart scaled to about 0.4 and 24
// megapixels (or the image named by DEMOSAIC_BENCH_IMAGE); the
// "reconstruction" is a copy with Gaussian noise of sigma 3 added to every
// sample, from a fixed seed, so that no pixel pair repeats often enough to
// flatter the timings. Throughput is reported as MP/s (megapixels of image
// per second).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "chart.h"
#include "demosaic/metrics.h"
#include "demosaic/quality.h"

namespace demosaic {
namespace {

struct Size {
  int width;
  int height;
};

// About 0.4 megapixels (a Kodak photograph) and 24 (a camera sensor).
constexpr Size kSizes[] = {{768, 512}, {6000, 4000}};
constexpr std::int32_t kBorder = 3;

cv::Mat SourceImage() {
  if (const char* path = std::getenv("DEMOSAIC_BENCH_IMAGE"); path != nullptr && *path) {
    cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
    if (!image.empty()) return image;
  }
  return DrawTestChart();
}

struct ImagePair {
  cv::Mat reference;
  cv::Mat reconstruction;
};

// One pair per size, made once and shared by all benchmarks.
const ImagePair& Pair(Size size) {
  static std::map<int, ImagePair> pairs;
  auto [it, inserted] = pairs.try_emplace(size.width);
  if (inserted) {
    ImagePair& pair = it->second;
    cv::resize(SourceImage(), pair.reference, cv::Size(size.width, size.height), 0, 0,
               cv::INTER_CUBIC);
    cv::Mat noise(pair.reference.size(), CV_16SC3);
    cv::RNG random(20240611);
    random.fill(noise, cv::RNG::NORMAL, 0.0, 3.0);
    cv::Mat widened;
    pair.reference.convertTo(widened, CV_16SC3);
    cv::add(widened, noise, widened);
    widened.convertTo(pair.reconstruction, CV_8UC3);  // saturates to 0..255
  }
  return it->second;
}

ConstImageView ViewOf(const cv::Mat& image) {
  return {image.ptr<std::uint8_t>(), image.cols, image.rows,
          static_cast<std::ptrdiff_t>(image.step), ChannelOrder::kBGR};
}

void ReportThroughput(benchmark::State& state, Size size) {
  const double pixels = static_cast<double>(size.width) * size.height;
  state.counters["Mpix"] = benchmark::Counter(
      pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

using Metric = double (*)(ConstImageView, ConstImageView, std::int32_t, int);

// Argument 0: the size; argument 1: the threads.
void TimeMetric(benchmark::State& state, Metric metric) {
  const Size size = kSizes[state.range(0)];
  const ImagePair& pair = Pair(size);
  const int threads = static_cast<int>(state.range(1));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        metric(ViewOf(pair.reference), ViewOf(pair.reconstruction), kBorder, threads));
  }
  ReportThroughput(state, size);
}

void BM_Ssim(benchmark::State& state) {
  TimeMetric(state, ComputeSsim);
}
void BM_De2000(benchmark::State& state) {
  TimeMetric(state, ComputeDe2000);
}
void BM_Zipper(benchmark::State& state) {
  TimeMetric(state, ComputeZipper);
}
void BM_De2000AndZipper(benchmark::State& state) {
  TimeMetric(state, [](ConstImageView reference, ConstImageView reconstruction, std::int32_t border,
                       int threads) {
    return ComputeDe2000AndZipper(reference, reconstruction, border, threads).de2000;
  });
}

// PSNR per channel and CPSNR, for comparison: one pass of integer squares.
void BM_Psnr(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  const ImagePair& pair = Pair(size);
  const ConstImageView reference{pair.reference.ptr<std::uint8_t>(), size.width, size.height,
                                 static_cast<std::ptrdiff_t>(pair.reference.step[0])};
  const ConstImageView reconstruction{pair.reconstruction.ptr<std::uint8_t>(), size.width,
                                      size.height,
                                      static_cast<std::ptrdiff_t>(pair.reconstruction.step[0])};
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComputeQuality(reference, reconstruction, kBorder));
  }
  ReportThroughput(state, size);
}

void AllSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"size", "threads"})
      ->Args({0, 1})
      ->Args({1, 1})
      ->Args({1, 2})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

BENCHMARK(BM_Ssim)->Apply(AllSizes);
BENCHMARK(BM_De2000)->Apply(AllSizes);
BENCHMARK(BM_Zipper)->Apply(AllSizes);
BENCHMARK(BM_De2000AndZipper)->Apply(AllSizes);
BENCHMARK(BM_Psnr)->ArgName("size")->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace demosaic

BENCHMARK_MAIN();
