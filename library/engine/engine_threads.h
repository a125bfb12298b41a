// The engine's threads: every share of the rows runs, on threads with the
// stack the library chooses, or none does.
#pragma once

#include <exception>
#include <system_error>

#include "threads/threads_with_stack.h"

namespace demosaic::engine {

// Runs body(k) for k = 1 .. count - 1 on threads of their own (see
// StartThreads) and body(0) on the calling thread; returns once all have
// ended. When a thread cannot be started, the shares already started are
// finished and std::system_error is thrown; an exception of body(0) is
// rethrown once every thread has ended. `body` must not throw on the
// threads it is given.
template <class Body>
void RunOnThreads(int count, const Body& body) {
  StartedThreads<Body> started;
  StartThreads(1, count, body, started);
  std::exception_ptr thrown;
  if (started.failure == 0) {
    try {
      body(0);
    } catch (...) {
      thrown = std::current_exception();
    }
  }
  JoinThreads(started);
  if (thrown) std::rethrow_exception(thrown);
  if (started.failure != 0)
    throw std::system_error(started.failure, std::generic_category(), "cannot start a thread");
}

}  // namespace demosaic::engine
