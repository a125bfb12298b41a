// demosaic-bench [options] PATH...: compares this project's demosaicing
// method with OpenCV's bilinear and edge-aware Bayer demosaicing over a set
// of reference images.
#include <exception>
#include <iostream>
#include <new>

#include "bench_run.h"
#include "options.h"

int main(int argc, char** argv) {
  int exit_status = 0;
  const std::optional<demosaic::bench::BenchOptions> options =
      demosaic::bench::ParseBenchOptions(argc, argv, exit_status);
  if (!options) return exit_status;
  try {
    return demosaic::bench::RunBench(*options);
  } catch (const std::bad_alloc&) {
    std::cerr << "demosaic-bench: not enough memory\n";
  } catch (const std::exception& e) {
    std::cerr << "demosaic-bench: " << e.what() << "\n";
  }
  return demosaic::bench::kExitSomeFailed;
}
