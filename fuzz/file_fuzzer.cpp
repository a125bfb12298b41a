// libFuzzer target for the tool's file path: arbitrary bytes, as if read from
// the reference file, go through the same header check, decoding and run as
// demosaic-eval's. Every input must end in figures with a complete decodable
// output, or in a clean failure with no output, and never leave a file
// beside the output or in the temporary directory (where the image library
// would put copies of what it cannot decode from memory).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <span>
#include <string>

#include "evaluation/image_evaluation.h"
#include "io/image_files.h"

namespace {

std::filesystem::path g_scratch;
std::filesystem::path g_temp;  // the process's TMPDIR and OPENCV_TEMP_PATH

// Runs as on a machine with 16 MiB to spare: every run stays small and quick
// (about half a megapixel at most), and the refusals of larger images are
// exercised.
constexpr std::size_t kMemoryCeiling = std::size_t{16} << 20;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "file fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Outputs go to memory when possible: every run syncs its file to disk.
  std::filesystem::path base = "/dev/shm";
  if (access(base.c_str(), W_OK) != 0) base = std::filesystem::temp_directory_path();
  std::string pattern = (base / "demosaic-file-fuzzer-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create a scratch directory");
  g_scratch = pattern;
  g_temp = g_scratch / "temp";
  std::filesystem::create_directory(g_temp);
  setenv("TMPDIR", g_temp.c_str(), 1);
  setenv("OPENCV_TEMP_PATH", g_temp.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_scratch, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path output = g_scratch / "out.png";
  std::error_code ignored;
  std::filesystem::remove(output, ignored);

  const std::span<const unsigned char> file(data, size);
  // demosaic-eval's evaluation: the method alone, untimed, in place.
  demosaic::EvaluationRequest request;
  request.methods = {demosaic::Method::kDirectional};
  request.timed = false;
  demosaic::EvaluationOutputs outputs;
  outputs.reconstruction_files = {output.string()};
  const demosaic::ImageOutcome run =
      demosaic::EvaluateReference({"fuzzed", file, "fuzzed"}, request, outputs, kMemoryCeiling);

  if (run.status.ok()) {
    if (!run.unwritten.empty()) Fail("run measured but did not save its output");
    const cv::Mat written = cv::imread(output.string(), cv::IMREAD_UNCHANGED);
    if (written.empty()) Fail("run succeeded but its output does not decode");
    const demosaic::Expected<cv::Mat> decoding = demosaic::DecodeColorImage(file);
    if (!decoding.ok()) Fail("run succeeded on a file that does not decode");
    const cv::Mat& decoded = decoding.value();
    if (written.size() != decoded.size() || written.type() != CV_8UC3) {
      Fail("output differs in size or type from the reference");
    }
  } else if (std::filesystem::exists(output)) {
    Fail("failed run left an output");
  }

  // demosaic-bench's evaluation at depth: 16-bit samples kept, a declared
  // 12-bit white level (so that samples above it are met), the method's
  // reconstruction saved at the reference's depth.
  const std::filesystem::path deep_output = g_scratch / "deep.png";
  std::filesystem::remove(deep_output, ignored);
  demosaic::EvaluationRequest deep;
  deep.methods = {demosaic::Method::kDirectional};
  deep.depth = demosaic::SampleDepth::kNative;
  deep.white_level = 4095;
  demosaic::EvaluationOutputs deep_outputs;
  deep_outputs.reconstruction_files = {deep_output.string()};
  const demosaic::ImageOutcome deep_run =
      demosaic::EvaluateReference({"fuzzed", file, "fuzzed"}, deep, deep_outputs, kMemoryCeiling);
  if (deep_run.status.ok()) {
    const cv::Mat written = cv::imread(deep_output.string(), cv::IMREAD_UNCHANGED);
    const int type = deep_run.white_level == 255 ? CV_8UC3 : CV_16UC3;
    if (written.empty() || written.type() != type) Fail("deep run's output is not at its depth");
    if (deep_run.white_level != 255 && deep_run.white_level != 4095) Fail("wrong white level");
    if (written.cols != deep_run.width || written.rows != deep_run.height) {
      Fail("deep run's output differs in size from the reference");
    }
  } else if (std::filesystem::exists(deep_output)) {
    Fail("failed deep run left an output");
  }
  for (const auto& entry : std::filesystem::directory_iterator(g_scratch)) {
    if (entry.path() != output && entry.path() != deep_output && entry.path() != g_temp) {
      Fail("stray file left beside the output");
    }
  }
  if (!std::filesystem::is_empty(g_temp)) Fail("file left in the temporary directory");
  return 0;
}
