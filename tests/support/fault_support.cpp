// Files, checks, watched temporary directories and memory groups for the
// fault suite.
#include "support/fault_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <sstream>
#include <thread>

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.flush();
  return out.good();
}

// The test process's group path in a hierarchy ("0::PATH" for v2, the line
// naming the memory controller for v1) and the mount point of that
// hierarchy, or empty strings.
struct Hierarchy {
  std::string group;
  std::string mount_point;
  std::string mount_root;
};

Hierarchy FindHierarchy(bool v2) {
  Hierarchy found;
  std::istringstream groups(ReadText("/proc/self/cgroup"));
  for (std::string line; std::getline(groups, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (second == std::string::npos) continue;
    std::string controllers = ",";
    controllers.append(line, first + 1, second - first - 1).append(",");
    if (v2 ? line.compare(0, 3, "0::") == 0 : controllers.find(",memory,") != std::string::npos) {
      found.group = line.substr(second + 1);
    }
  }
  std::istringstream mounts(ReadText("/proc/self/mountinfo"));
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 7 || dash == fields.end() || fields.end() - dash < 4) continue;
    const bool cgroup2 = *(dash + 1) == "cgroup2";
    const bool memory_v1 =
        *(dash + 1) == "cgroup" && ("," + *(dash + 3) + ",").find(",memory,") != std::string::npos;
    if ((v2 && cgroup2) || (!v2 && memory_v1)) {
      found.mount_root = fields[3];
      found.mount_point = fields[4];
    }
  }
  return found;
}

// A new group directory below the test's own in `hierarchy`, or "".
std::string MakeGroup(const Hierarchy& hierarchy) {
  if (hierarchy.group.empty() || hierarchy.mount_point.empty()) return "";
  std::string relative = hierarchy.group;
  if (hierarchy.mount_root != "/" && relative.rfind(hierarchy.mount_root, 0) == 0) {
    relative = relative.substr(hierarchy.mount_root.size());
  }
  static int count = 0;
  const fs::path directory =
      fs::path(hierarchy.mount_point) / fs::path(relative).relative_path() /
      ("demosaic-test-" + std::to_string(getpid()) + "-" + std::to_string(count++));
  std::error_code error;
  if (!fs::create_directory(directory, error) || error) return "";
  return directory.string();
}

}  // namespace

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

cv::Mat TestImage(int width, int height, unsigned seed) {
  cv::Mat image(height, width, CV_8UC3);
  std::mt19937 random(seed);
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      const auto noise = static_cast<int>(random() % 32);
      image.at<cv::Vec3b>(r, c) =
          cv::Vec3b(static_cast<uchar>((r * 255) / height), static_cast<uchar>((c / 8) % 2 * 200),
                    static_cast<uchar>((r + c) * 3 + noise));
    }
  }
  return image;
}

std::string Encode(const std::string& extension, const cv::Mat& image,
                   const std::vector<int>& params) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(extension, image, bytes, params)) << extension;
  return std::string(bytes.begin(), bytes.end());
}

std::set<std::string> Listing(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

void ExpectRefused(const ProgramResult& result, const std::string& message) {
  EXPECT_EQ(result.signal, 0) << "killed by signal " << result.signal;
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.out, message);
  EXPECT_EQ(result.err, "");
}

void ExpectReport(const ProgramResult& result, const std::string& name, bool write_failed) {
  EXPECT_EQ(result.signal, 0) << "killed by signal " << result.signal;
  EXPECT_EQ(result.exit_status, write_failed ? 255 : 0);
  EXPECT_EQ(result.out.rfind(name + "\tPSNR_R = ", 0), 0u) << result.out;
  EXPECT_NE(result.out.find("\tCPSNR = "), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("\r\n"), result.out.size() - 2) << result.out;
  EXPECT_EQ(result.err, write_failed ? kWriteError : "");
}

void ExpectNoFile(const std::string& path) {
  std::error_code error;
  EXPECT_FALSE(fs::exists(fs::symlink_status(path, error))) << path << " exists";
}

void ExpectCompleteImage(const std::string& path, cv::Size size) {
  const cv::Mat written = cv::imread(path, cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(written.empty()) << path << " missing or not decodable";
  EXPECT_EQ(written.size(), size);
  EXPECT_EQ(written.type(), CV_8UC3);
}

RunOptions AddressSpaceLimit(rlim_t bytes) {
  RunOptions options;
  options.limits.push_back({RLIMIT_AS, bytes});
  return options;
}

RunOptions WatchedTemp::Apply(RunOptions options) const {
  options.environment.push_back("TMPDIR=" + dir.path);
  options.environment.push_back("OPENCV_TEMP_PATH=" + dir.path);
  return options;
}

void WatchedTemp::ExpectEmpty() const {
  const std::set<std::string> left = Listing(dir.path);
  EXPECT_TRUE(left.empty()) << "left in the temporary directory: " << *left.begin();
  for (const std::string& name : left) fs::remove_all(fs::path(dir.path) / name);
}

MemoryGroup::MemoryGroup(std::uint64_t bytes, const std::string& wanted) : version(wanted) {
  if (geteuid() != 0) {
    reason = "making a memory group needs root";
    return;
  }
  if (wanted == "v2") {
    // Only where this process's group lets its children use the memory
    // controller: the parent's own settings are never changed.
    const std::string v2 = MakeGroup(FindHierarchy(true));
    if (v2.empty()) {
      reason = "no cgroup v2 hierarchy takes a new group below the test's own";
      return;
    }
    if (ReadText(v2 + "/cgroup.controllers").find("memory") == std::string::npos ||
        !WriteText(v2 + "/memory.max", std::to_string(bytes))) {
      rmdir(v2.c_str());
      reason = "cgroup v2 does not delegate the memory controller to the test's group";
      return;
    }
    WriteText(v2 + "/memory.swap.max", "0");
    directory = v2;
    return;
  }
  const std::string v1 = MakeGroup(FindHierarchy(false));
  if (v1.empty()) {
    reason = "no cgroup v1 memory hierarchy takes a new group below the test's own";
    return;
  }
  if (!WriteText(v1 + "/memory.limit_in_bytes", std::to_string(bytes))) {
    rmdir(v1.c_str());
    reason = "the cgroup v1 memory limit cannot be set";
    return;
  }
  WriteText(v1 + "/memory.memsw.limit_in_bytes", std::to_string(bytes));
  directory = v1;
}

MemoryGroup::~MemoryGroup() {
  if (directory.empty()) return;
  // The group can only go once the kernel has seen its last process leave.
  for (int attempt = 0; attempt < 100 && rmdir(directory.c_str()) != 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

RunOptions MemoryGroup::Apply(RunOptions options) const {
  options.cgroup_procs = directory + "/cgroup.procs";
  return options;
}

ProgramResult ToolFaultTest::Eval(const std::string& reference, const std::string& output,
                                  const RunOptions& options) const {
  return RunProgram({DEMOSAIC_EVAL_BINARY, reference, output}, temp_.Apply(options));
}

ProgramResult ToolFaultTest::Bench(const std::vector<std::string>& arguments,
                                   const RunOptions& options) const {
  std::vector<std::string> argv = {DEMOSAIC_BENCH_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunProgram(argv, temp_.Apply(options));
}

}  // namespace demosaic::testing
