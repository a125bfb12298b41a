// A figure's rows shared among threads: each thread takes one band of
// consecutive rows. What the figures sum, they sum per row and then over the
// rows in order, so that a figure is the same to the last bit on any number
// of threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "threads/threads_with_stack.h"

namespace demosaic {

// Runs body(band_first, band_end) over up to `threads` bands of consecutive
// rows that together cover first .. end - 1: one band on the calling thread,
// the others on threads of their own (StartThreads), and any band whose
// thread cannot be started on the calling thread too, so that a process
// short of threads still gets its figures. Returns once all have ended. An
// exception of a band (std::bad_alloc for its working memory) is rethrown
// once all have ended. Throws std::invalid_argument, its message starting
// with `metric`, for threads < 1, having run nothing.
template <class Body>
void ForEachRowBand(const char* metric, std::int32_t first, std::int32_t end, int threads,
                    const Body& body) {
  if (threads < 1) {
    throw std::invalid_argument(std::string(metric) + ": threads must be at least 1, not " +
                                std::to_string(threads));
  }
  const std::int64_t rows = std::max<std::int64_t>(std::int64_t{end} - first, 0);
  const int bands = static_cast<int>(std::clamp<std::int64_t>(rows, 1, threads));
  std::vector<std::exception_ptr> thrown(static_cast<std::size_t>(bands));
  auto band = [&](int k) {
    const auto band_first = static_cast<std::int32_t>(first + rows * k / bands);
    const auto band_end = static_cast<std::int32_t>(first + rows * (k + 1) / bands);
    try {
      body(band_first, band_end);
    } catch (...) {
      thrown[static_cast<std::size_t>(k)] = std::current_exception();
    }
  };
  StartedThreads<decltype(band)> started;
  StartThreads(1, bands, band, started);
  // Bands 1 .. started.threads.size() have threads; the rest run here.
  band(0);
  for (int k = 1 + static_cast<int>(started.threads.size()); k < bands; ++k) band(k);
  JoinThreads(started);
  for (const std::exception_ptr& exception : thrown) {
    if (exception) std::rethrow_exception(exception);
  }
}

}  // namespace demosaic
