// Speed of PNG decoding and encoding: OpenCV's codec (libpng and zlib)
// beside the pipeline's codec for the common kind of PNG (libdeflate's inflater,
// the deflater for filtered rows), on the
// camera chart scaled to 6000 x 4000, the file of scripts/measure-run.sh (or the image named by
// DEMOSAIC_BENCH_IMAGE), written by OpenCV with its defaults. The encoders'
// file sizes are reported as the counter "bytes".
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "chart.h"
#include "io/png_codec.h"

namespace demosaic {
namespace {

const cv::Mat& Image() {
  static const cv::Mat image = [] {
    cv::Mat source;
    if (const char* path = std::getenv("DEMOSAIC_BENCH_IMAGE"); path != nullptr && *path) {
      source = cv::imread(path, cv::IMREAD_COLOR);
    }
    if (source.empty()) source = DrawCameraChart();
    cv::Mat scaled;
    cv::resize(source, scaled, cv::Size(6000, 4000), 0, 0, cv::INTER_CUBIC);
    return scaled;
  }();
  return image;
}

const std::vector<unsigned char>& File() {
  static const std::vector<unsigned char> file = [] {
    std::vector<unsigned char> bytes;
    cv::imencode(".png", Image(), bytes);
    return bytes;
  }();
  return file;
}

void BM_DecodeOpenCv(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(cv::imdecode(File(), cv::IMREAD_COLOR).data);
}

void BM_DecodeCommonPng(benchmark::State& state) {
  std::vector<unsigned char> bytes = File();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeCommonPng(bytes).data);
}

void BM_EncodeOpenCv(benchmark::State& state) {
  std::vector<unsigned char> bytes;
  for (auto _ : state) cv::imencode(".png", Image(), bytes);
  state.counters["bytes"] = static_cast<double>(bytes.size());
}

// EncodePng copies the image first, as any save of an image kept for later
// does; demosaic-eval's own save filters its reconstruction where it is.
void BM_EncodePng(benchmark::State& state) {
  std::size_t size = 0;
  for (auto _ : state) size = EncodePng(Image()).size;
  state.counters["bytes"] = static_cast<double>(size);
}

BENCHMARK(BM_DecodeOpenCv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeCommonPng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOpenCv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace demosaic

BENCHMARK_MAIN();
