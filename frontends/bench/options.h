// The command line of demosaic-bench: its options, their defaults and the
// checks made before any image is read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "demosaic/bayer.h"
#include "demosaic/reconstruct.h"
#include "evaluation/figures.h"
#include "evaluation/methods.h"

namespace demosaic::bench {

inline constexpr int kExitAllMeasured = 0;
inline constexpr int kExitSomeFailed = 1;  // skipped images or unwritten files
inline constexpr int kExitUsage = 2;       // bad command line

// Another method's reconstructions, made by any program: one image per
// reference in `directory`, named after the reference without its extension.
struct ComparedMethod {
  std::string name;
  std::filesystem::path directory;
};

struct BenchOptions {
  std::vector<std::string> paths;        // image files and directories, as given
  std::vector<Method> methods;           // distinct, in the order given
  std::vector<ComparedMethod> compared;  // after the built-in methods, in the order given
  MetricSet metrics;
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t border = kFrameWidth;
  int jobs = 1;  // images evaluated at once
  bool detail = false;
  std::string csv_path;  // empty: no CSV file
  std::string save_dir;  // empty: nothing saved
  // Empty: no HTML report.
  std::string report_dir;
};

// Parses the command line. Returns the options, or nothing when the run ends
// here: `exit_status` is then 0 after --help (printed on standard output) or
// kExitUsage after a bad command line (message on `messages`).
std::optional<BenchOptions> ParseBenchOptions(int argc, const char* const* argv,
                                              std::FILE* messages, int& exit_status);

// A count written in decimal digits only (no sign, no base prefix, leading
// zeros allowed), up to `maximum`; nothing otherwise.
std::optional<std::int64_t> ParseDecimal(const std::string& text, std::int64_t maximum);

}  // namespace demosaic::bench
