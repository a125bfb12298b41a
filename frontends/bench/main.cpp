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
  // OpenCV would spread its conversions over every core while the method uses
  // one; one thread each keeps the throughput row a comparison of methods.
  cv::setNumThreads(1);
  try {
    return demosaic::RunOnThisMachine(*options.value(), messages);
  } catch (const std::bad_alloc&) {
    std::fputs("demosaic-bench: not enough memory\n", messages);
  } catch (const std::exception& e) {
    std::fprintf(messages, "demosaic-bench: %s\n", e.what());
  }
  return demosaic::kExitSomeFailed;
}
