// The one table of failure wordings.
#include "evaluation/failure.h"

namespace demosaic {

std::string_view ToolMessage(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kUnreadable:
      return "Error in image reading.";
    case ErrorKind::kOutOfMemory:
      return "Not enough memory.";
    case ErrorKind::kTooSmall:
      return "Image too small: at least 7 x 7 pixels are needed.";
    case ErrorKind::kOverwritesReference:
      return "Output would overwrite the reference.";
    case ErrorKind::kUnwritable:
      return "Error in image writing.";
    case ErrorKind::kInvalidArgument:
    case ErrorKind::kOther:
      break;
  }
  return "";
}

std::string SkipReason(const Error& error) {
  switch (error.kind) {
    case ErrorKind::kUnreadable:
      return "cannot be read as an image";
    case ErrorKind::kOutOfMemory:
      return "not enough memory";
    case ErrorKind::kTooSmall:
      return error.detail.empty() ? "too small: at least 7 x 7 pixels are needed" : error.detail;
    case ErrorKind::kOverwritesReference:
      return "would overwrite an input image";
    case ErrorKind::kUnwritable:
    case ErrorKind::kInvalidArgument:
    case ErrorKind::kOther:
      break;
  }
  return error.detail;
}

}  // namespace demosaic
