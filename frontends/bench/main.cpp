// demosaic-bench [options] PATH...: compares this project's demosaicing
// method with OpenCV's bilinear and edge-aware Bayer demosaicing over a set
// of reference images. Its options, then the pipeline's run on this machine.
#include <cstdio>
#include <exception>
#include <new>
#include <opencv2/core/utility.hpp>

#include "cli/console.h"
#include "cli/process_policy.h"
#include "evaluation/local_run.h"
#include "options.h"
#include "threads/threads_with_stack.h"

namespace {

// The run itself: every image, then the table, CSV and report.
int Run(const demosaic::RunOptions& options, std::FILE* messages) {
  // OpenCV would spread its conversions over every core while the method uses
  // one; one thread each keeps the throughput row a comparison of methods.
  cv::setNumThreads(1);
  try {
    return demosaic::RunOnThisMachine(options, messages);
  } catch (const std::bad_alloc&) {
    std::fputs("demosaic-bench: not enough memory\n", messages);
  } catch (const std::exception& e) {
    std::fprintf(messages, "demosaic-bench: %s\n", e.what());
  }
  return demosaic::kExitSomeFailed;
}

}  // namespace

int main(int argc, char** argv) {
  demosaic::OccupyStandardDescriptors();
  std::FILE* messages = demosaic::DivertLibraryMessages();
  demosaic::SetWriteSignals();
  const demosaic::Expected<std::optional<demosaic::RunOptions>> options =
      demosaic::bench::ParseBenchOptions(argc, argv);
  if (!options.ok()) {
    std::fprintf(messages, "demosaic-bench: %s\nRun 'demosaic-bench --help' for the options.\n",
                 options.error().detail.c_str());
    return demosaic::kExitUsage;
  }
  if (!options.value()) return demosaic::kExitAllMeasured;  // --help
  // Set before the jobs start: a decoder asking for more than the system can
  // give fails and its image is skipped, instead of the process being killed.
  demosaic::BoundDataAllocationsToAvailableMemory();
  // The run goes on a thread with a stack of its own size: under a small
  // `ulimit -s` the main thread's stack is too small even for loading
  // OpenCV's thread library. Where no thread can be started it runs here.
  int status = demosaic::kExitSomeFailed;
  auto run = [&](int /*k*/) { status = Run(*options.value(), messages); };
  demosaic::StartedThreads<decltype(run)> runner;
  demosaic::StartThreads(0, 1, run, runner);
  if (runner.threads.empty()) run(0);
  demosaic::JoinThreads(runner);
  return status;
}
