// Running part of a test in a child process, for what would change the test
// process itself (its limits, descriptors, standard output or user).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace demosaic::testing {

// Runs `body` in a forked child and returns its exit status, or 128 plus the
// signal that ended it.
inline int InChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace demosaic::testing
