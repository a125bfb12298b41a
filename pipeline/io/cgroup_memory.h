// The memory a control group still lets this process take. Containers,
// systemd services and batch schedulers bound memory with cgroups (v1 or v2),
// which /proc/meminfo does not show: a run sized by MemAvailable alone is
// killed at the group's limit without a message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace demosaic {

// Where the kernel describes the process's groups. Tests point these at a
// tree of their own.
struct CgroupSources {
  std::string self_cgroup;           // the text of /proc/self/cgroup
  std::string mountinfo;             // the text of /proc/self/mountinfo
  std::filesystem::path root = "/";  // prefixed to every mount point read
};

// The sources of the running process: /proc/self/cgroup and
// /proc/self/mountinfo (empty where /proc is missing).
CgroupSources SystemCgroupSources();

// The least, over the process's memory group and each ancestor visible
// under the mount point, of its limit less what it holds: memory.max less
// memory.current (v2), memory.limit_in_bytes less memory.usage_in_bytes
// (v1). Inactive file cache, which the kernel reclaims before reaching the
// limit, does not count as held. Both versions are read where both are
// mounted. Nothing when no group limits memory or nothing can be read.
// Only reads files; keeps nothing.
std::optional<std::uint64_t> CgroupMemoryLeft(const CgroupSources& sources);

}  // namespace demosaic
