// Why an image could not be evaluated, and how each front end says so.
#pragma once

#include <string_view>

namespace demosaic {

enum class Failure {
  kNone,
  kUnreadable,           // missing, not a file, or not decodable (a JPEG cut short included)
  kOutOfMemory,          // the run would not fit in the memory the system can give
  kTooSmall,             // under the minimum side: no interior to reconstruct
  kOverwritesReference,  // the output names the reference itself
};

// The message demosaic-eval prints on standard output (no line end).
std::string_view ToolMessage(Failure failure);

// The reason demosaic-bench and the Python evaluation give for a skipped
// image, in lower case to follow a file name.
std::string_view SkipReason(Failure failure);

}  // namespace demosaic
