// A figure's rows shared among threads in bands of consecutive rows. What the figures sum, they sum
// per row and then over the rows in order, so that a figure is the same to the last bit on any
// number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "threads/threads_with_stack.h"

namespace demosaic {

// Rows are shared in more bands than threads, each thread taking the next
// band as it comes free: rows differ in cost (CIEDE2000 passes over equal
// colours, so a flat half of an image costs little), and one equal band a
// thread would leave one idle. A band is at least this many rows, as each
// band repeats some work at its edges (SSIM filters its window's 10 rows
// above it).
inline constexpr std::int64_t kBandsPerThread = 8;
inline constexpr std::int64_t kLeastBandRows = 128;

// Runs body(band_first, band_end) over bands of consecutive rows that
// together cover first .. end - 1, on up to `threads` threads: the calling
// thread and others of their own (StartThreads), each taking the next band
// until none is left, so that a process short of threads still gets its
// figures on those it has. Returns once all have ended. An exception of a
// band (std::bad_alloc for its working memory) leaves the bands not yet
// begun undone and is rethrown once all have ended. Throws
// std::invalid_argument, its message starting with `metric`, for
// threads < 1, having run nothing.
template <class Body>
void ForEachRowBand(const char* metric, std::int32_t first, std::int32_t end, int threads,
                    const Body& body) {
  if (threads < 1) {
    throw std::invalid_argument(std::string(metric) + ": threads must be at least 1, not " +
                                std::to_string(threads));
  }
  const std::int64_t rows = std::max<std::int64_t>(std::int64_t{end} - first, 0);
  const int workers = static_cast<int>(std::clamp<std::int64_t>(rows, 1, threads));
  const std::int64_t bands =
      workers == 1 ? 1
                   : std::clamp<std::int64_t>(rows / kLeastBandRows, workers,
                                              std::int64_t{workers} * kBandsPerThread);
  std::atomic<std::int64_t> next_band{0};
  std::vector<std::exception_ptr> thrown(static_cast<std::size_t>(workers));
  auto worker = [&](int w) {
    try {
      for (std::int64_t k = next_band++; k < bands; k = next_band++) {
        body(static_cast<std::int32_t>(first + rows * k / bands),
             static_cast<std::int32_t>(first + rows * (k + 1) / bands));
      }
    } catch (...) {
      thrown[static_cast<std::size_t>(w)] = std::current_exception();
      next_band = bands;
    }
  };
  StartedThreads<decltype(worker)> started;
  StartThreads(1, workers, worker, started);
  worker(0);
  JoinThreads(started);
  for (const std::exception_ptr& exception : thrown) {
    if (exception) std::rethrow_exception(exception);
  }
}

}  // namespace demosaic
