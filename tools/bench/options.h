// The command line of demosaic-bench: its options, their defaults and the
// checks made before any image is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "methods.h"

namespace demosaic::bench {

inline constexpr int kExitAllMeasured = 0;
inline constexpr int kExitSomeFailed = 1;  // skipped images or unwritten files
inline constexpr int kExitUsage = 2;       // bad command line

// The engine leaves a black frame this wide, so no measurement may include it.
inline constexpr std::int32_t kMinimumBorder = 3;

struct BenchOptions {
  std::vector<std::string> paths;  // image files and directories, as given
  std::vector<Method> methods;     // distinct, in the order given
  std::int32_t border = kMinimumBorder;
  bool detail = false;
  std::string csv_path;  // empty: no CSV file
  std::string save_dir;  // empty: nothing saved
};

// Parses the command line. Returns the options, or nothing when the run ends
// here: `exit_status` is then 0 after --help (printed on standard output) or
// kExitUsage after a bad command line (message on standard error).
std::optional<BenchOptions> ParseBenchOptions(int argc, const char* const* argv, int& exit_status);

}  // namespace demosaic::bench
