// The engine's threads, each with a stack of the size the library chooses:
// a thread started with the process default gets what `ulimit -s` says,
// which can be a few kilobytes, and a program embedding the library (an
// interpreter) may run under any limit.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <exception>
#include <system_error>
#include <vector>

namespace demosaic::engine {

// Far more than the engine's deepest call needs (its row buffers are on the
// heap), and little enough to start many threads.
inline constexpr std::size_t kThreadStackBytes = std::size_t{1} << 20;

// Runs body(k) for k = 1 .. count - 1 on threads of their own, each with a
// stack of kThreadStackBytes, and body(0) on the calling thread; returns
// once all have ended. When a thread cannot be started, the shares already
// started are finished and std::system_error is thrown; an exception of
// body(0) is rethrown once every thread has ended. `body` must not throw on
// the threads it is given.
template <class Body>
void RunOnThreads(int count, const Body& body) {
  struct Share {
    const Body* body;
    int k;
  };
  std::vector<Share> shares;
  shares.reserve(static_cast<std::size_t>(count > 1 ? count - 1 : 0));
  std::vector<pthread_t> started;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kThreadStackBytes);
  int failure = 0;
  for (int k = 1; k < count && failure == 0; ++k) {
    shares.push_back({&body, k});
    pthread_t thread;
    failure = pthread_create(
        &thread, &attributes,
        [](void* share) -> void* {
          const Share& own = *static_cast<const Share*>(share);
          (*own.body)(own.k);
          return nullptr;
        },
        &shares.back());
    if (failure == 0) started.push_back(thread);
  }
  pthread_attr_destroy(&attributes);
  std::exception_ptr thrown;
  if (failure == 0) {
    try {
      body(0);
    } catch (...) {
      thrown = std::current_exception();
    }
  }
  for (const pthread_t thread : started) pthread_join(thread, nullptr);
  if (thrown) std::rethrow_exception(thrown);
  if (failure != 0)
    throw std::system_error(failure, std::generic_category(), "cannot start a thread");
}

}  // namespace demosaic::engine
