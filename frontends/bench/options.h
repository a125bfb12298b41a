// The command line of demosaic-bench: its options, their defaults and the
// checks made before any image is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "evaluation/run_plan.h"
#include "io/status.h"

namespace demosaic::bench {

// Parses the command line into the run it asks for. Nothing (and the help
// printed on standard output) after --help; kInvalidArgument, with the
// problem, for a bad command line.
Expected<std::optional<RunOptions>> ParseBenchOptions(int argc, const char* const* argv);

// A count written in decimal digits only (no sign, no base prefix, leading
// zeros allowed), up to `maximum`; nothing otherwise.
std::optional<std::int64_t> ParseDecimal(const std::string& text, std::int64_t maximum);

}  // namespace demosaic::bench
