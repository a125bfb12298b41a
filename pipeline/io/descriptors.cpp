// Writing to descriptors, and how many more the process may open.
#include "io/descriptors.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>

namespace demosaic {

bool WriteAll(int fd, std::span<const unsigned char> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t DescriptorsLeft() {
  // Above this limit a run never comes near it, and counting open
  // descriptors one by one would take longer than it is worth.
  constexpr rlim_t kPlenty = 1 << 16;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > kPlenty) {
    return SIZE_MAX;
  }
  // Counted by asking each number in turn: listing /proc/self/fd would need
  // a descriptor of its own, which may be the one missing.
  std::size_t open_now = 0;
  const int end = static_cast<int>(limit.rlim_cur);
  for (int fd = 0; fd < end; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) ++open_now;
  }
  return static_cast<std::size_t>(limit.rlim_cur) - open_now;
}

}  // namespace demosaic
