// Reading what a memory group still allows, on trees laid out as the kernel
// lays out cgroup v2, cgroup v1 and both at once, as seen from the host and
// from inside a container: a wrong path or a misread file would let a run be
// killed at the group's limit, or refuse runs that fit.
#include "io/cgroup_memory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_program.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

void Put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// A v2 hierarchy mounted at /sys/fs/cgroup, the usual place.
const std::string kV2Mount =
    "29 23 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 "
    "rw,nsdelegate,memory_recursiveprot\n";

class CgroupTest : public ::testing::Test {
 protected:
  CgroupSources Sources(const std::string& self_cgroup, const std::string& mountinfo) const {
    return {self_cgroup, mountinfo, dir_.path};
  }
  fs::path Path(const std::string& relative) const { return fs::path(dir_.path) / relative; }
  ScratchDir dir_;
};

TEST_F(CgroupTest, V2LimitLessCurrentUsage) {
  Put(Path("sys/fs/cgroup/batch/job7/memory.max"), "1073741824\n");
  Put(Path("sys/fs/cgroup/batch/job7/memory.current"), "104857600\n");
  const auto left = CgroupMemoryLeft(Sources("0::/batch/job7\n", kV2Mount));
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(*left, 1024 * kMiB - 100 * kMiB);
}

// The kernel drops inactive file cache before it reaches the limit: such
// pages are room, not use.
TEST_F(CgroupTest, InactiveFileCacheCountsAsRoom) {
  Put(Path("sys/fs/cgroup/job/memory.max"), "1073741824\n");
  Put(Path("sys/fs/cgroup/job/memory.current"), "838860800\n");  // 800 MiB
  Put(Path("sys/fs/cgroup/job/memory.stat"),
      "anon 104857600\nfile 734003200\nactive_file 0\ninactive_file 629145600\n");  // 600 MiB
  EXPECT_EQ(CgroupMemoryLeft(Sources("0::/job\n", kV2Mount)), 1024 * kMiB - 200 * kMiB);
}

// A parent's limit binds its children: the least room over the levels wins.
TEST_F(CgroupTest, TighterAncestorWins) {
  Put(Path("sys/fs/cgroup/user.slice/memory.max"), "536870912\n");      // 512 MiB
  Put(Path("sys/fs/cgroup/user.slice/memory.current"), "419430400\n");  // 400 MiB
  Put(Path("sys/fs/cgroup/user.slice/session/memory.max"), "max\n");
  Put(Path("sys/fs/cgroup/user.slice/session/memory.current"), "300000000\n");
  Put(Path("sys/fs/cgroup/user.slice/session/app/memory.max"), "1073741824\n");
  Put(Path("sys/fs/cgroup/user.slice/session/app/memory.current"), "1048576\n");
  EXPECT_EQ(CgroupMemoryLeft(Sources("0::/user.slice/session/app\n", kV2Mount)), 112 * kMiB);
}

TEST_F(CgroupTest, NoLimitAnywhereIsNothing) {
  Put(Path("sys/fs/cgroup/job/memory.max"), "max\n");
  Put(Path("sys/fs/cgroup/job/memory.current"), "123456\n");
  EXPECT_FALSE(CgroupMemoryLeft(Sources("0::/job\n", kV2Mount)).has_value());
  // Nothing mounted, or no /proc at all: nothing known.
  EXPECT_FALSE(CgroupMemoryLeft(Sources("0::/job\n", "")).has_value());
  EXPECT_FALSE(CgroupMemoryLeft(Sources("", "")).has_value());
}

TEST_F(CgroupTest, UsageOverTheLimitLeavesNothing) {
  Put(Path("sys/fs/cgroup/job/memory.max"), "1000\n");
  Put(Path("sys/fs/cgroup/job/memory.current"), "5000\n");
  EXPECT_EQ(CgroupMemoryLeft(Sources("0::/job\n", kV2Mount)), 0u);
}

// cgroup v1: the memory controller's own hierarchy, found by its name in
// /proc/self/cgroup and its mount options; the unlimited value is a huge
// page count, not a limit.
TEST_F(CgroupTest, V1MemoryControllerAmongOthers) {
  const std::string self = "12:pids:/x\n4:cpuacct,cpu:/y\n3:memory:/slurm/uid_1000/job_42\n";
  const std::string mounts =
      "31 30 0:28 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
      "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n";
  Put(Path("sys/fs/cgroup/memory/slurm/uid_1000/job_42/memory.limit_in_bytes"), "268435456\n");
  Put(Path("sys/fs/cgroup/memory/slurm/uid_1000/job_42/memory.usage_in_bytes"), "209715200\n");
  Put(Path("sys/fs/cgroup/memory/slurm/uid_1000/job_42/memory.stat"),
      "cache 0\ninactive_file 999999999\ntotal_inactive_file 10485760\n");
  Put(Path("sys/fs/cgroup/memory/slurm/memory.limit_in_bytes"), "9223372036854771712\n");
  Put(Path("sys/fs/cgroup/memory/slurm/memory.usage_in_bytes"), "209715200\n");
  // 256 MiB less (200 MiB less 10 MiB of the group's whole inactive cache).
  EXPECT_EQ(CgroupMemoryLeft(Sources(self, mounts)), 256 * kMiB - 190 * kMiB);
}

// Inside a container the group's own directory is mounted at the mount
// point: the mount's root is the process's path, and the files sit at the
// top.
TEST_F(CgroupTest, ContainerSeesItsGroupAtTheMountPoint) {
  const std::string self = "9:memory:/docker/0123abcd\n";
  const std::string mounts =
      "500 490 0:31 /docker/0123abcd /sys/fs/cgroup/memory ro,nosuid - cgroup cgroup rw,memory\n";
  Put(Path("sys/fs/cgroup/memory/memory.limit_in_bytes"), "1073741824\n");
  Put(Path("sys/fs/cgroup/memory/memory.usage_in_bytes"), "0\n");
  EXPECT_EQ(CgroupMemoryLeft(Sources(self, mounts)), 1024 * kMiB);
  // With a cgroup namespace the kernel shows "/" for both.
  EXPECT_EQ(CgroupMemoryLeft(Sources("0::/\n", kV2Mount)), std::nullopt);
  Put(Path("sys/fs/cgroup/memory.max"), "2147483648\n");
  Put(Path("sys/fs/cgroup/memory.current"), "1073741824\n");
  EXPECT_EQ(CgroupMemoryLeft(Sources("0::/\n", kV2Mount)), 1024 * kMiB);
}

// Hosts mount both versions: whichever is tighter counts.
TEST_F(CgroupTest, HybridHierarchiesTakeTheTighter) {
  const std::string self = "4:memory:/a\n0::/b\n";
  const std::string mounts =
      "34 30 0:31 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
      "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";
  Put(Path("sys/fs/cgroup/memory/a/memory.limit_in_bytes"), "4294967296\n");
  Put(Path("sys/fs/cgroup/memory/a/memory.usage_in_bytes"), "0\n");
  Put(Path("sys/fs/cgroup/unified/b/memory.max"), "1073741824\n");
  Put(Path("sys/fs/cgroup/unified/b/memory.current"), "0\n");
  EXPECT_EQ(CgroupMemoryLeft(Sources(self, mounts)), 1024 * kMiB);
}

// mountinfo writes a space in a path as \040.
TEST_F(CgroupTest, EscapedMountPoint) {
  const std::string mounts = "29 23 0:26 / /srv/cg\\040root rw - cgroup2 cgroup2 rw\n";
  Put(Path("srv/cg root/job/memory.max"), "1048576\n");
  Put(Path("srv/cg root/job/memory.current"), "0\n");
  EXPECT_EQ(CgroupMemoryLeft(Sources("0::/job\n", mounts)), kMiB);
}

// A path that climbs out of the mount is not followed outside it.
TEST_F(CgroupTest, PathClimbingOutOfTheMountStaysInside) {
  Put(Path("sys/fs/cgroup/memory.max"), "1048576\n");
  Put(Path("sys/fs/cgroup/memory.current"), "0\n");
  Put(Path("sys/memory.max"), "1\n");
  Put(Path("sys/memory.current"), "0\n");
  EXPECT_EQ(CgroupMemoryLeft(Sources("0::/../..\n", kV2Mount)), kMiB);
}

}  // namespace
}  // namespace demosaic
