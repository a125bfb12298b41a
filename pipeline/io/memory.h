// How much memory the system can still give this process, so that a run too
// large for it is refused with a message instead of being killed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace demosaic {

// Memory the system can still give this process, in bytes: the least of
// MemAvailable, what the process's memory groups (cgroup v1 and v2) still
// allow, and what the address-space and data limits leave after what the
// process already holds; SIZE_MAX when none of them is known. Reads /proc and
// the cgroup files each call; keeps nothing.
std::size_t AvailableMemoryBytes();

// Asks the kernel to back the whole 2 MiB pages within [data, data + bytes)
// with huge pages, where it runs transparent huge pages on request: a large
// image buffer then costs one page fault per 2 MiB instead of one per 4 KiB
// when it is first written. Call before the buffer is first touched. Only a
// hint: changes no byte, and does nothing where it is refused or the range
// holds no whole huge page.
void AdviseHugePages(void* data, std::size_t bytes);

// a * b and a + b, or SIZE_MAX when the result does not fit.
std::size_t SaturatingProduct(std::uint64_t a, std::uint64_t b);
std::size_t SaturatingSum(std::size_t a, std::size_t b);

}  // namespace demosaic
