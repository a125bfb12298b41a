// One run of demosaic-bench over its images: measuring, printing, saving and
// the exit status.
#pragma once

#include "options.h"

namespace demosaic::bench {

// Runs the comparison the options describe and returns the exit status.
int RunBench(const BenchOptions& options);

}  // namespace demosaic::bench
