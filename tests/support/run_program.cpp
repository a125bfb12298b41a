// Process and scratch-directory helpers for the end-to-end tests.
#include "run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace demosaic::testing {
namespace {

// Forks and execs `argv` with its output captured in `capture`. Only
// async-signal-safe calls happen between fork and exec: the test process may
// have threads.
// The environment of the program: the test's own, with `overrides`
// (NAME=value) replacing or adding variables.
std::vector<std::string> Environment(const std::vector<std::string>& overrides) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    const std::string name = variable.substr(0, variable.find('='));
    bool replaced = false;
    for (const std::string& o : overrides) replaced |= o.substr(0, o.find('=')) == name;
    if (!replaced) variables.push_back(variable);
  }
  variables.insert(variables.end(), overrides.begin(), overrides.end());
  return variables;
}

// Writes the decimal `pid` to `fd` without the C library's formatting,
// which is not safe between fork and exec.
bool WritePid(int fd, pid_t pid) {
  char digits[24];
  int length = 0;
  do {
    digits[sizeof digits - 1 - length++] = static_cast<char>('0' + pid % 10);
    pid /= 10;
  } while (pid > 0);
  return write(fd, digits + sizeof digits - length, static_cast<std::size_t>(length)) == length;
}

pid_t StartProgram(const std::vector<std::string>& argv, const RunOptions& options,
                   const ScratchDir& capture) {
  const std::string out_path =
      options.stdout_path.empty() ? capture.File("stdout") : options.stdout_path;
  const std::string err_path = capture.File("stderr");
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::vector<std::string> environment = Environment(options.environment);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const bool closed_stdout = options.stdout_path == kClosedStdout;
  const bool closed_pipe = options.stdout_path == kClosedPipe;
  const bool as_user = options.uid >= 0 && geteuid() == 0;
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in_fd = open("/dev/null", O_RDONLY);
    if (err_fd < 0 || in_fd < 0) _exit(127);
    dup2(in_fd, STDIN_FILENO);
    if (closed_stdout) {
      close(STDOUT_FILENO);
    } else if (closed_pipe) {
      int ends[2];
      if (pipe(ends) != 0) _exit(127);
      close(ends[0]);
      dup2(ends[1], STDOUT_FILENO);
    } else {
      const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out_fd < 0) _exit(127);
      dup2(out_fd, STDOUT_FILENO);
    }
    dup2(err_fd, STDERR_FILENO);
    if (!options.cgroup_procs.empty()) {
      const int procs = open(options.cgroup_procs.c_str(), O_WRONLY);
      if (procs < 0 || !WritePid(procs, getpid())) _exit(126);
      close(procs);
    }
    // The program gets standard input, output and error alone, as from a
    // shell: a descriptor limit then means what it says.
    close_range(3, ~0U, 0);
    for (const auto& [resource, value] : options.limits) {
      const rlimit limit{value, value};
      if (setrlimit(resource, &limit) != 0) _exit(127);
    }
    if (options.ignore_sigxfsz) signal(SIGXFSZ, SIG_IGN);
    if (as_user) {
      const auto id = static_cast<uid_t>(options.uid);
      if (setgroups(0, nullptr) != 0 || setresgid(id, id, id) != 0 || setresuid(id, id, id) != 0) {
        _exit(127);
      }
    }
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

ProgramResult Collect(pid_t pid, const ScratchDir& capture) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  ProgramResult result;
  result.peak_rss_kib = usage.ru_maxrss;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = ReadFileBytes(capture.File("stdout"));  // empty when not captured
  result.err = ReadFileBytes(capture.File("stderr"));
  return result;
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  return RunProgram(argv, RunOptions{});
}

ProgramResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  ScratchDir capture;
  return Collect(StartProgram(argv, options, capture), capture);
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv,
                                     const RunOptions& options)
    : capture_(std::make_unique<ScratchDir>()) {
  pid_ = StartProgram(argv, options, *capture_);
}

BackgroundProgram::~BackgroundProgram() {
  if (!waited_) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

void BackgroundProgram::Kill(int signal) {
  if (!waited_) kill(pid_, signal);
}

ProgramResult BackgroundProgram::Wait() {
  if (waited_) throw std::logic_error("program already waited for");
  waited_ = true;
  return Collect(pid_, *capture_);
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "demosaic-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace demosaic::testing
