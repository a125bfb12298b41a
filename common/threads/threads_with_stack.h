// Threads with a stack of the size the program chooses. A thread started
// with the process default gets what `ulimit -s` says, which can be a few
// kilobytes, and a program embedding the library (an interpreter) may run
// under any limit. The library's engine and the bench's jobs both start
// their threads here.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <vector>

namespace demosaic {

// Far more than the deepest call of the engine or of an evaluation needs
// (their large buffers are on the heap), and little enough to start many
// threads.
inline constexpr std::size_t kThreadStackBytes = std::size_t{1} << 20;

// Threads started by StartThreads; JoinThreads must be called before it is
// destroyed. `failure` is the error of the first thread that could not be
// started (0 when every one was).
template <class Body>
struct StartedThreads {
  struct Share {
    const Body* body;
    int k;
  };
  std::vector<Share> shares;
  std::vector<pthread_t> threads;
  int failure = 0;
};

// Starts body(k) for k = first .. end - 1, each on a thread of its own with
// a stack of kThreadStackBytes, into `started` (which must be empty). Stops
// at the first thread that cannot be started and records why; those
// already started run on. `body` must outlive the threads and must not
// throw on them. Throws std::bad_alloc, having started nothing, when its
// few bytes of bookkeeping cannot be had.
template <class Body>
void StartThreads(int first, int end, const Body& body, StartedThreads<Body>& started) {
  if (end <= first) return;
  // Reserved up front: each thread holds the address of its share.
  started.shares.reserve(static_cast<std::size_t>(end - first));
  started.threads.reserve(static_cast<std::size_t>(end - first));
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kThreadStackBytes);
  for (int k = first; k < end && started.failure == 0; ++k) {
    started.shares.push_back({&body, k});
    pthread_t thread;
    started.failure = pthread_create(
        &thread, &attributes,
        [](void* share) -> void* {
          const auto& own = *static_cast<const typename StartedThreads<Body>::Share*>(share);
          (*own.body)(own.k);
          return nullptr;
        },
        &started.shares.back());
    if (started.failure == 0) started.threads.push_back(thread);
  }
  pthread_attr_destroy(&attributes);
}

// Waits until every thread of `started` has ended.
template <class Body>
void JoinThreads(StartedThreads<Body>& started) {
  for (const pthread_t thread : started.threads) pthread_join(thread, nullptr);
  started.threads.clear();
}

}  // namespace demosaic
