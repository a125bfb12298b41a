// Descriptors, signals and the data limit of the command-line tools.
#include "cli/process_policy.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <fstream>

#include "io/memory.h"

namespace demosaic {

void OccupyStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

void SetWriteSignals() {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_DFL);
}

bool BoundDataAllocations(std::size_t bytes_left) {
  // The data segment and private writable mappings, as the limit counts them.
  std::ifstream statm("/proc/self/statm");
  unsigned long long pages[6] = {};
  for (unsigned long long& value : pages) statm >> value;
  if (!statm) return false;
  const unsigned long long held = pages[5] * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
  rlimit limit{};
  if (getrlimit(RLIMIT_DATA, &limit) != 0) return false;
  const rlim_t wanted = bytes_left > RLIM_INFINITY - 1 - held
                            ? RLIM_INFINITY
                            : static_cast<rlim_t>(held + bytes_left);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= wanted) return true;
  limit.rlim_cur = wanted;
  return setrlimit(RLIMIT_DATA, &limit) == 0;
}

bool BoundDataAllocationsToAvailableMemory() {
  const std::size_t available = AvailableMemoryBytes();
  if (available == SIZE_MAX) return true;
  return BoundDataAllocations(available);
}

}  // namespace demosaic
