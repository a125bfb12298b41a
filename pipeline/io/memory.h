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

// a * b and a + b, or SIZE_MAX when the result does not fit.
std::size_t SaturatingProduct(std::uint64_t a, std::uint64_t b);
std::size_t SaturatingSum(std::size_t a, std::size_t b);

}  // namespace demosaic
