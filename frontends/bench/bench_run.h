// One run of demosaic-bench over its images: measuring, printing, saving and
// the exit status.
#pragma once

#include <cstdio>

#include "options.h"

namespace demosaic::bench {

// Runs the comparison the options describe, printing the table on standard
// output and messages on `messages`, and returns the exit status.
int RunBench(const BenchOptions& options, std::FILE* messages);

}  // namespace demosaic::bench
