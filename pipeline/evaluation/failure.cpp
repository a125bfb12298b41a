// The one table of failure wordings.
#include "evaluation/failure.h"

#include "demosaic/reconstruct.h"

namespace demosaic {

std::string MinimumSizeText() {
  const std::string side = std::to_string(kMinimumSide);
  return "at least " + side + " x " + side + " pixels are needed";
}

std::string ToolMessage(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kUnreadable:
      return "Error in image reading.";
    case ErrorKind::kOutOfMemory:
      return "Not enough memory.";
    case ErrorKind::kTooSmall:
      return "Image too small: " + MinimumSizeText() + ".";
    case ErrorKind::kOverwritesReference:
      return "Output would overwrite the reference.";
    case ErrorKind::kUnwritable:
      return "Error in image writing.";
    case ErrorKind::kTooManyFiles:
      return "Too many open files.";
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
      return error.detail.empty() ? "too small: " + MinimumSizeText() : error.detail;
    case ErrorKind::kOverwritesReference:
      return "would overwrite an input image";
    case ErrorKind::kTooManyFiles:
      return "too many open files";
    case ErrorKind::kUnwritable:
    case ErrorKind::kInvalidArgument:
    case ErrorKind::kOther:
      break;
  }
  return error.detail;
}

namespace {
constexpr std::string_view kTooManyFilesNote = " (too many open files)";
}  // namespace

std::string UnwrittenNote(const std::string& path, const Status& status) {
  const bool descriptors = !status.ok() && status.error().kind == ErrorKind::kTooManyFiles;
  std::string note = path;
  note += descriptors ? kTooManyFilesNote : std::string_view(" (cannot be written)");
  return note;
}

bool NoteIsTooManyFiles(std::string_view note) {
  return note.ends_with(kTooManyFilesNote);
}

}  // namespace demosaic
