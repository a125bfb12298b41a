// What the fault suite's cases share: files to feed the tools (images of
// every kind, forged headers), the checks made on every run, a temporary
// directory of the program's own that must stay empty, and memory groups to
// run the tools in.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/png_chunks.h"
#include "support/run_program.h"

namespace demosaic::testing {

inline const std::string kReadError = "Error in image reading.";
inline const std::string kNoMemory = "Not enough memory.";
inline const std::string kOverwrite = "Output would overwrite the reference.";
inline const std::string kWriteError = "Error in image writing.\n";

inline constexpr rlim_t kGiB = rlim_t{1} << 30;
// Peak resident set of a run that allocated nothing for the image; even
// under the address sanitizer it stays well below this.
inline constexpr long kSmallRunKiB = 400 * 1024;

void WriteFile(const std::string& path, const std::string& bytes);

// A colour image with gradients, hard edges and noise in every channel, so
// that every codec has real work to do.
cv::Mat TestImage(int width, int height, unsigned seed);

std::string Encode(const std::string& extension, const cv::Mat& image,
                   const std::vector<int>& params = {});

// The files in `directory`, by name.
std::set<std::string> Listing(const std::string& directory);

// A refusal: `message` on standard output, nothing on standard error, 255.
void ExpectRefused(const ProgramResult& result, const std::string& message);

// One report line for `name`; with `write_failed` the writing message
// follows on standard error and the status is 255.
void ExpectReport(const ProgramResult& result, const std::string& name, bool write_failed);

void ExpectNoFile(const std::string& path);
void ExpectCompleteImage(const std::string& path, cv::Size size);

// Limits the run's address space, so that a run that tried to allocate
// gigabytes would fail (or be refused) the same on any machine. The address
// sanitizer reserves terabytes of address space up front and cannot run so.
RunOptions AddressSpaceLimit(rlim_t bytes);

// A temporary directory for the program alone (TMPDIR, and OPENCV_TEMP_PATH,
// where the image library puts its copies): after every run it must still
// be empty.
struct WatchedTemp {
  ScratchDir dir;
  // `options` with the program's temporary directory pointed here.
  RunOptions Apply(RunOptions options = {}) const;
  // Fails the test when anything was left in it, and clears it.
  void ExpectEmpty() const;
};

// A memory control group of the test's own, below the test process's own
// group, of cgroup `version` ("v2": where the memory controller is delegated
// to that group; "v1": in the memory controller's hierarchy), limited to
// `bytes` without swap. Needs root; `reason` says why not where it cannot be
// made. Removed with the object, once its programs have ended.
struct MemoryGroup {
  MemoryGroup(std::uint64_t bytes, const std::string& version);
  ~MemoryGroup();
  MemoryGroup(const MemoryGroup&) = delete;
  MemoryGroup& operator=(const MemoryGroup&) = delete;
  bool available() const { return !directory.empty(); }
  // `options` with the program put into the group.
  RunOptions Apply(RunOptions options = {}) const;
  std::string directory;
  std::string version;  // "v2" or "v1"
  std::string reason;
};

// The fault suite's fixture: a scratch directory for the case's files and a
// watched temporary directory for the tools, checked after every case.
class ToolFaultTest : public ::testing::Test {
 protected:
  void TearDown() override { temp_.ExpectEmpty(); }
  // demosaic-eval REFERENCE OUTPUT and demosaic-bench ARGS..., with the
  // tool's temporary directory watched.
  ProgramResult Eval(const std::string& reference, const std::string& output,
                     const RunOptions& options = {}) const;
  ProgramResult Bench(const std::vector<std::string>& arguments,
                      const RunOptions& options = {}) const;
  ScratchDir dir_;
  WatchedTemp temp_;
};

}  // namespace demosaic::testing
