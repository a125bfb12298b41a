// Writing the front ends' reports to standard output.
#include "io/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace demosaic {

Status PutStandardOutput(std::string_view text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  const int write_error = errno;
  if (std::fflush(stdout) == 0 && written) return {};
  // The error of the write, if it failed, else the flush's; a stream that
  // failed before keeps failing without saying why.
  int error = errno != 0 ? errno : EIO;
  if (!written && write_error != 0) error = write_error;
  if (error == EPIPE) return Error{ErrorKind::kUnwritable, ""};
  return Error{ErrorKind::kUnwritable,
               std::string("cannot write to standard output: ") + std::strerror(error)};
}

}  // namespace demosaic
