// Runs a program with arguments and captures its standard output, standard
// error and exit status, for tests that drive the built tools. Runs can get
// resource limits and can be started in the background, to be killed or
// waited for.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace demosaic::testing {

struct ProgramResult {
  int exit_status = -1;  // 0..255, or -1 when killed by a signal
  std::string out;
  std::string err;
  int signal = 0;         // the signal that ended the program, 0 when it exited
  long peak_rss_kib = 0;  // the program's largest resident set
};

// How the child process is set up before the program starts.
struct RunOptions {
  // Resource limits (RLIMIT_AS, RLIMIT_FSIZE, ...) set as both soft and hard
  // limit.
  std::vector<std::pair<int, rlim_t>> limits;
  // Ignore SIGXFSZ, so that passing RLIMIT_FSIZE makes writes fail with EFBIG
  // instead of killing the program.
  bool ignore_sigxfsz = false;
  // Variables (NAME=value) set in the program's environment, beside those
  // it inherits.
  std::vector<std::string> environment;
  // Standard output: captured when empty; else a file opened for writing
  // (such as "/dev/full"), kClosedStdout for a closed descriptor, or
  // kClosedPipe for a pipe nobody reads.
  std::string stdout_path;
  // A cgroup.procs file the program's process is put into before it starts.
  std::string cgroup_procs;
  // The user (and group) the program runs as, when the test runs as root;
  // -1 keeps the test's own.
  int uid = -1;
};

inline constexpr const char* kClosedStdout = "<closed>";
inline constexpr const char* kClosedPipe = "<closed pipe>";

ProgramResult RunProgram(const std::vector<std::string>& argv);
ProgramResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options);

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object is destroyed.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path;
  std::string File(const std::string& name) const { return path + "/" + name; }
};

// A program running in the background. Wait() collects its result; a
// program never waited for is killed and reaped on destruction.
class BackgroundProgram {
 public:
  explicit BackgroundProgram(const std::vector<std::string>& argv, const RunOptions& options = {});
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;

  pid_t pid() const { return pid_; }
  // Sends `signal` to the program if it has not been waited for yet.
  void Kill(int signal);
  ProgramResult Wait();

 private:
  std::unique_ptr<ScratchDir> capture_;
  pid_t pid_ = -1;
  bool waited_ = false;
};

std::string ReadFileBytes(const std::string& path);

}  // namespace demosaic::testing
