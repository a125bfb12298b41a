// demosaic-bench [options] PATH...: compares this project's demosaicing
// method with OpenCV's bilinear and edge-aware Bayer demosaicing over a set
// of reference images.
#include <cstdio>
#include <exception>
#include <new>

#include "bench_run.h"
#include "cli/console.h"
#include "cli/process_policy.h"
#include "options.h"

int main(int argc, char** argv) {
  demosaic::OccupyStandardDescriptors();
  std::FILE* messages = demosaic::DivertLibraryMessages();
  demosaic::SetWriteSignals();
  int exit_status = 0;
  const std::optional<demosaic::bench::BenchOptions> options =
      demosaic::bench::ParseBenchOptions(argc, argv, messages, exit_status);
  if (!options) return exit_status;
  // Set before the jobs start: a decoder asking for more than the system can
  // give fails and its image is skipped, instead of the process being killed.
  demosaic::BoundDataAllocationsToAvailableMemory();
  try {
    return demosaic::bench::RunBench(*options, messages);
  } catch (const std::bad_alloc&) {
    std::fputs("demosaic-bench: not enough memory\n", messages);
  } catch (const std::exception& e) {
    std::fprintf(messages, "demosaic-bench: %s\n", e.what());
  }
  return demosaic::bench::kExitSomeFailed;
}
