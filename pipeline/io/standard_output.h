// Standard output as the front ends print their reports and tables on it:
// every failure to write it is reported, but for a reader that went away.
#pragma once

#include <string_view>

#include "io/status.h"

namespace demosaic {

// Writes `text` to standard output and flushes it. On failure (a full disk,
// a closed descriptor, a closed pipe) returns kUnwritable with the detail
// "cannot write to standard output: REASON", or with an empty detail for a
// pipe whose reader has gone (EPIPE), which ends a program quietly.
Status PutStandardOutput(std::string_view text);

}  // namespace demosaic
