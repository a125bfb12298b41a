// The white level check every function taking a 16-bit view makes before it
// touches a sample: a view built by hand may carry any value.
#pragma once

#include <cstdint>

namespace demosaic {

// Throws std::invalid_argument, starting with `what` and naming the value,
// unless 1 <= white_level <= kMaxWhiteLevel.
void CheckWhiteLevel(const char* what, std::int32_t white_level);

// Throws std::invalid_argument, starting with `what` and naming both values,
// unless the two white levels are equal and valid.
void CheckSameWhiteLevel(const char* what, std::int32_t first, std::int32_t second);

}  // namespace demosaic
