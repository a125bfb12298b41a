// Reading what memory is left from the kernel's accounting, the process's
// memory groups and its resource limits.
#include "io/memory.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "io/cgroup_memory.h"

namespace demosaic {

void AdviseHugePages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + bytes) & ~(kHugePage - 1);
  if (data == nullptr || end <= first) return;
  // Refused (EINVAL where the kernel has no transparent huge pages): the
  // buffer is used with ordinary pages, as it would be without the hint.
  static_cast<void>(madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE));
#else
  static_cast<void>(data);
  static_cast<void>(bytes);
#endif
}

std::size_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product) || product > SIZE_MAX) return SIZE_MAX;
  return static_cast<std::size_t>(product);
}

std::size_t SaturatingSum(std::size_t a, std::size_t b) {
  return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

std::size_t AvailableMemoryBytes() {
  std::size_t available = SIZE_MAX;
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    unsigned long long kib = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kib) == 1) {
      available = std::min(available, SaturatingProduct(kib, 1024));
      break;
    }
  }
  // Inside a container MemAvailable shows the host's memory; the group's
  // limit is what the process is killed at.
  if (const std::optional<std::uint64_t> left = CgroupMemoryLeft(SystemCgroupSources())) {
    available = std::min(available, SaturatingProduct(*left, 1));
  }
  // A resource limit counts what the process already holds: only the rest
  // of it is left for new allocations.
  unsigned long long size_pages = 0;
  unsigned long long data_pages = 0;
  std::ifstream statm("/proc/self/statm");
  unsigned long long ignored = 0;
  statm >> size_pages >> ignored >> ignored >> ignored >> ignored >> data_pages;
  const auto page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
  const auto bound_by = [&](int resource, unsigned long long used_pages) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
    const unsigned long long used = used_pages * page;
    const unsigned long long left = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
    available = std::min<std::size_t>(available, static_cast<std::size_t>(left));
  };
  bound_by(RLIMIT_AS, size_pages);
  bound_by(RLIMIT_DATA, data_pages);
  return available;
}

}  // namespace demosaic
