// Runs a program with arguments and captures its standard output, standard
// error and exit status, for tests that drive the built tools.
#pragma once

#include <string>
#include <vector>

namespace demosaic::testing {

struct ProgramResult {
  int exit_status = -1;  // 0..255, or -1 when killed by a signal
  std::string out;
  std::string err;
};

ProgramResult RunProgram(const std::vector<std::string>& argv);

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

std::string ReadFileBytes(const std::string& path);

}  // namespace demosaic::testing
