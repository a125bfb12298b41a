// Finding the process's memory groups from /proc and reading their limits
// and usage, level by level up to the top the process can see.
#include "io/cgroup_memory.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace demosaic {
namespace {

namespace fs = std::filesystem;

enum class Version { kV1, kV2 };

// Values at or above this mean "no limit": cgroup v1 reports an unlimited
// group as the largest page count in bytes, 0x7FFFFFFFFFFFF000.
constexpr std::uint64_t kUnlimited = std::uint64_t{1} << 62;

std::optional<std::string> ReadText(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A decimal count, ignoring surrounding white space; nothing otherwise.
std::optional<std::uint64_t> ParseCount(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  if (!(in >> word) || word.empty() || word.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (const char ch : word) {
    if (ch < '0' || ch > '9') return std::nullopt;
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, static_cast<std::uint64_t>(ch - '0'), &value)) {
      return kUnlimited;
    }
  }
  return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

bool Contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const std::string digits = text.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

struct Mount {
  Version version;
  std::string root;         // the group path shown at the mount point
  std::string mount_point;  // where it is mounted
};

// The cgroup2 mounts and the cgroup v1 mounts carrying the memory controller.
std::vector<Mount> MemoryMounts(const std::string& mountinfo) {
  std::vector<Mount> mounts;
  std::istringstream lines(mountinfo);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 7 || dash == fields.end() || fields.end() - dash < 4) continue;
    const std::string& type = *(dash + 1);
    const std::vector<std::string> options = Split(*(dash + 3), ',');
    if (type == "cgroup2") {
      mounts.push_back({Version::kV2, Unescape(fields[3]), Unescape(fields[4])});
    } else if (type == "cgroup" && Contains(options, "memory")) {
      mounts.push_back({Version::kV1, Unescape(fields[3]), Unescape(fields[4])});
    }
  }
  return mounts;
}

// The process's path in the unified hierarchy ("0::PATH") and in the v1
// hierarchy holding the memory controller ("N:...,memory,...:PATH").
std::optional<std::string> GroupPath(const std::string& self_cgroup, Version version) {
  std::istringstream lines(self_cgroup);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (version == Version::kV2 && line.substr(0, first) == "0" && controllers.empty()) return path;
    if (version == Version::kV1 && Contains(Split(controllers, ','), "memory")) return path;
  }
  return std::nullopt;
}

fs::path WithoutTrailingSeparator(fs::path path) {
  path = path.lexically_normal();
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

// The directory of the group at `group_path` under `mount`. Where the mount
// shows another part of the hierarchy (a container's own namespace), the
// mount point itself is the process's group as far as it can see.
fs::path GroupDirectory(const Mount& mount, const std::string& group_path, const fs::path& root) {
  const fs::path top = WithoutTrailingSeparator(root / fs::path(mount.mount_point).relative_path());
  std::string relative;
  if (mount.root == "/") {
    relative = group_path;
  } else if (group_path == mount.root || group_path.starts_with(mount.root + "/")) {
    relative = group_path.substr(mount.root.size());
  }
  const fs::path directory = WithoutTrailingSeparator(top / fs::path(relative).relative_path());
  // A path climbing out of the mount (".." in it) is not followed.
  const auto [end, unused] =
      std::mismatch(top.begin(), top.end(), directory.begin(), directory.end());
  return end == top.end() ? directory : top;
}

// Bytes of file cache the kernel drops first when the group reaches its
// limit.
std::uint64_t InactiveFileBytes(const fs::path& directory, Version version) {
  const std::optional<std::string> stat = ReadText(directory / "memory.stat");
  if (!stat) return 0;
  const std::string key = version == Version::kV2 ? "inactive_file" : "total_inactive_file";
  std::istringstream lines(*stat);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string name;
    std::string value;
    if (words >> name >> value && name == key) return ParseCount(value).value_or(0);
  }
  return 0;
}

// What one level of the hierarchy still allows; nothing without a limit.
std::optional<std::uint64_t> LevelLeft(const fs::path& directory, Version version) {
  const bool v2 = version == Version::kV2;
  const std::optional<std::string> limit_text =
      ReadText(directory / (v2 ? "memory.max" : "memory.limit_in_bytes"));
  if (!limit_text) return std::nullopt;
  const std::optional<std::uint64_t> limit = ParseCount(*limit_text);  // "max" is no limit
  if (!limit || *limit >= kUnlimited) return std::nullopt;
  const std::optional<std::string> usage_text =
      ReadText(directory / (v2 ? "memory.current" : "memory.usage_in_bytes"));
  const std::uint64_t usage = usage_text ? ParseCount(*usage_text).value_or(0) : 0;
  const std::uint64_t held = usage - std::min(usage, InactiveFileBytes(directory, version));
  return *limit > held ? *limit - held : 0;
}

}  // namespace

CgroupSources SystemCgroupSources() {
  CgroupSources sources;
  sources.self_cgroup = ReadText("/proc/self/cgroup").value_or("");
  sources.mountinfo = ReadText("/proc/self/mountinfo").value_or("");
  return sources;
}

std::optional<std::uint64_t> CgroupMemoryLeft(const CgroupSources& sources) {
  std::optional<std::uint64_t> least;
  for (const Mount& mount : MemoryMounts(sources.mountinfo)) {
    const std::optional<std::string> group = GroupPath(sources.self_cgroup, mount.version);
    if (!group) continue;
    const fs::path top =
        WithoutTrailingSeparator(sources.root / fs::path(mount.mount_point).relative_path());
    // Every ancestor's limit applies too: the least of them is what is left.
    for (fs::path level = GroupDirectory(mount, *group, sources.root);;
         level = level.parent_path()) {
      if (const std::optional<std::uint64_t> left = LevelLeft(level, mount.version)) {
        least = std::min(least.value_or(*left), *left);
      }
      if (level == top || level == level.parent_path()) break;
    }
  }
  return least;
}

}  // namespace demosaic
