// A run on this machine: its images evaluated by several jobs at once, the
// report printed as they finish.
#pragma once

#include <cstdio>

#include "evaluation/run_plan.h"

namespace demosaic {

// Plans the run (a problem there: "PROGRAM: problem" on `messages`,
// kExitUsage), evaluates its images on options.jobs threads of this process,
// and reports them as RunReport does; returns the exit status. Each job
// counts on an equal share of the memory left; an image that does not fit
// its share is tried again alone, with all of it, so that what is skipped
// never depends on the number of jobs. The table, CSV and saved files are
// the same for every number of jobs.
int RunOnThisMachine(const RunOptions& options, std::FILE* messages);

}  // namespace demosaic
