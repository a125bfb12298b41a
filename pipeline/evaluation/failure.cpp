// The one table of failure wordings.
#include "evaluation/failure.h"

namespace demosaic {

std::string_view ToolMessage(Failure failure) {
  switch (failure) {
    case Failure::kUnreadable:
      return "Error in image reading.";
    case Failure::kOutOfMemory:
      return "Not enough memory.";
    case Failure::kTooSmall:
      return "Image too small: at least 7 x 7 pixels are needed.";
    case Failure::kOverwritesReference:
      return "Output would overwrite the reference.";
    case Failure::kNone:
      break;
  }
  return "";
}

std::string_view SkipReason(Failure failure) {
  switch (failure) {
    case Failure::kUnreadable:
      return "cannot be read as an image";
    case Failure::kOutOfMemory:
      return "not enough memory";
    case Failure::kTooSmall:
      return "too small: at least 7 x 7 pixels are needed";
    case Failure::kOverwritesReference:
      return "would overwrite an input image";
    case Failure::kNone:
      break;
  }
  return "";
}

}  // namespace demosaic
