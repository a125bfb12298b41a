// The process-wide settings of the front ends: the data limit that turns a
// decoder's oversized allocation into "out of memory" instead of a kill,
// and never loosens a limit already set; standard descriptors kept
// occupied; standard output failures told apart.
#include "cli/process_policy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "cli/console.h"
#include "io/image_files.h"
#include "io/standard_output.h"
#include "support/child_process.h"
#include "support/sanitizer.h"

namespace demosaic {
namespace {

using testing::InChild;

// An 8000 x 8000 image decodes to 192 MB: with 64 MB to spare the image
// library's allocation fails where it is made, and the decode reports it.
TEST(DataLimit, DecoderAllocationBeyondTheBoundIsOutOfMemory) {
  if (testing::kAddressSanitizer) {
    GTEST_SKIP() << "the address sanitizer's allocator aborts instead of failing an allocation";
  }
  std::vector<unsigned char> png;
  ASSERT_TRUE(cv::imencode(".png", cv::Mat(8000, 8000, CV_8UC1, cv::Scalar(0)), png));
  const int status = InChild([&] {
    if (!BoundDataAllocations(std::size_t{64} << 20)) return 3;
    const Expected<cv::Mat> decoded = DecodeColorImage(png);
    if (decoded.ok()) return 1;
    return decoded.error().kind == ErrorKind::kOutOfMemory ? 0 : 2;
  });
  EXPECT_EQ(status, 0) << "1: decoded anyway, 2: reported unreadable, 3: limit not set";
  // Without the bound the same bytes decode.
  EXPECT_TRUE(DecodeColorImage(png).ok());
}

// The data the process holds now, as the limit counts it (under the
// address sanitizer, terabytes of shadow memory).
rlim_t DataHeld() {
  std::ifstream statm("/proc/self/statm");
  unsigned long long pages[6] = {};
  for (unsigned long long& value : pages) statm >> value;
  return static_cast<rlim_t>(pages[5] * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)));
}

TEST(DataLimit, NeverRaisesALimitAlreadySet) {
  const int status = InChild([] {
    const rlimit user{DataHeld() + (rlim_t{1} << 30), RLIM_INFINITY};
    if (setrlimit(RLIMIT_DATA, &user) != 0) return 10;
    if (!BoundDataAllocations(SIZE_MAX)) return 11;
    rlimit now{};
    getrlimit(RLIMIT_DATA, &now);
    if (now.rlim_cur != user.rlim_cur) return 12;  // a larger bound left the user's
    if (!BoundDataAllocations(std::size_t{1} << 20)) return 13;
    getrlimit(RLIMIT_DATA, &now);
    if (now.rlim_cur >= user.rlim_cur || now.rlim_max != RLIM_INFINITY) return 14;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

// A closed standard output is taken by /dev/null read-only: nothing opened
// later lands on descriptor 1, and writing there still fails.
TEST(StandardDescriptors, ClosedOutputStaysUnwritable) {
  const int status = InChild([] {
    close(STDOUT_FILENO);
    OccupyStandardDescriptors();
    const int next = open("/dev/null", O_RDONLY);
    if (next == STDOUT_FILENO) return 1;
    const Status printed = PutStandardOutput("report");
    if (printed.ok()) return 2;
    return printed.error().detail.find("cannot write to standard output") == 0 ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
}

// A pipe whose reader has gone fails without words: the program ends as
// other tools do, with nothing to say about it.
TEST(StandardOutput, ClosedPipeFailsQuietly) {
  const int status = InChild([] {
    signal(SIGPIPE, SIG_IGN);
    int ends[2];
    if (pipe(ends) != 0) return 1;
    close(ends[0]);
    dup2(ends[1], STDOUT_FILENO);
    const Status printed = PutStandardOutput("report");
    if (printed.ok()) return 2;
    return printed.error().detail.empty() ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace demosaic
