// Probing a directory for writing.
#include "io/writable.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace demosaic {

Status CheckWritableDirectory(const std::filesystem::path& directory) {
  const std::filesystem::path where = directory.empty() ? "." : directory;
  int fd = open(where.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files here: a named one, removed at once.
    std::string probe = (where / ".demosaic-probe-XXXXXX").string();
    fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd >= 0) unlink(probe.c_str());
  }
  if (fd < 0) return Error{ErrorKind::kUnwritable, std::strerror(errno)};
  close(fd);
  return {};
}

}  // namespace demosaic
