// Moving the library's console noise out of the way of the tools' messages.
#include "cli/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define DEMOSAIC_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define DEMOSAIC_SANITIZED 1
#endif
#endif
#ifdef DEMOSAIC_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace demosaic {

std::FILE* DivertLibraryMessages() {
  std::fflush(stderr);
  const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved < 0) return stderr;
  std::FILE* messages = fdopen(saved, "w");
  if (messages == nullptr) {
    close(saved);
    return stderr;
  }
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd >= 0) {
    dup2(null_fd, STDERR_FILENO);
    if (null_fd != STDERR_FILENO) close(null_fd);
  }
#ifdef DEMOSAIC_SANITIZED
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(saved)));
#endif
  return messages;
}

}  // namespace demosaic
