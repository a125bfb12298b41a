// Writing outputs: a regular file is replaced in one step and keeps its
// permissions; a device, a FIFO or standard output is written in place and
// never replaced; a file the user may not write is left alone; temporary
// names fit however long the output's name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "io/image_files.h"
#include "support/child_process.h"
#include "support/run_program.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;
using testing::InChild;
using testing::ReadFileBytes;
using testing::ScratchDir;

bool Write(const fs::path& path, const std::string& text) {
  return WriteFileAtomically(
             path, std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()))
      .ok();
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t Mode(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

TEST(Replacing, NewAndExistingFilesGetTheBytesAndNothingElseIsLeft) {
  ScratchDir dir;
  const std::string path = dir.File("out.csv");
  ASSERT_TRUE(Write(path, "first"));
  EXPECT_EQ(ReadFileBytes(path), "first");
  Put(path, std::string(100000, 'x'));
  ASSERT_TRUE(Write(path, "second"));
  EXPECT_EQ(ReadFileBytes(path), "second");
  EXPECT_EQ(Names(dir.path), std::vector<std::string>{"out.csv"});
}

// Replacing a private file must not make it readable by everyone, nor a
// shared one private.
TEST(Replacing, ExistingPermissionsAreKept) {
  ScratchDir dir;
  for (const mode_t mode : {0600, 0640, 0664, 0400 | 0200}) {
    SCOPED_TRACE(mode);
    const std::string path = dir.File("out.png");
    Put(path, "old");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(Write(path, "new"));
    EXPECT_EQ(Mode(path) & 0777, mode);
    EXPECT_EQ(ReadFileBytes(path), "new");
  }
}

TEST(Replacing, ThroughASymbolicLinkTheTargetIsReplaced) {
  ScratchDir dir;
  fs::create_directory(dir.File("real"));
  Put(dir.File("real/out.csv"), "old");
  fs::create_symlink("real/out.csv", dir.File("link.csv"));
  ASSERT_TRUE(Write(dir.File("link.csv"), "new"));
  EXPECT_TRUE(fs::is_symlink(dir.File("link.csv")));
  EXPECT_EQ(ReadFileBytes(dir.File("real/out.csv")), "new");
  // A dangling link gets its target created, a looping one is an error.
  fs::create_symlink("real/later.csv", dir.File("dangling.csv"));
  ASSERT_TRUE(Write(dir.File("dangling.csv"), "made"));
  EXPECT_EQ(ReadFileBytes(dir.File("real/later.csv")), "made");
  fs::create_symlink("loop-b", dir.File("loop-a"));
  fs::create_symlink("loop-a", dir.File("loop-b"));
  EXPECT_FALSE(Write(dir.File("loop-a"), "x"));
}

// The hidden temporary name is cut short to fit: names of up to the
// system's limit work.
TEST(Replacing, LongestFileNamesWork) {
  ScratchDir dir;
  for (const std::size_t length : {200u, 242u, 250u, 255u}) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - 4, 'n') + ".csv";
    ASSERT_TRUE(Write(dir.File(name), "bytes"));
    EXPECT_EQ(ReadFileBytes(dir.File(name)), "bytes");
    ASSERT_TRUE(Write(dir.File(name), "again"));
    EXPECT_EQ(Names(dir.path), std::vector<std::string>{name});
    fs::remove(dir.File(name));
  }
}

// A file the user could not write into stays as it is, even in a directory
// the user may write: run as an ordinary user where the test runs as root.
TEST(Replacing, FileTheUserMayNotWriteIsLeftAlone) {
  ScratchDir dir;
  const std::string path = dir.File("theirs.csv");
  Put(path, "theirs");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
  const int status = InChild([&] {
    if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) return 2;
    return Write(path, "mine") ? 1 : 0;
  });
  EXPECT_EQ(status, 0) << "the write must fail";
  EXPECT_EQ(ReadFileBytes(path), "theirs");
  EXPECT_EQ(Names(dir.path), std::vector<std::string>{"theirs.csv"});
}

// A FIFO is written into, as cp writes into it, and stays a FIFO.
TEST(InPlace, FifoIsWrittenNotReplaced) {
  ScratchDir dir;
  const std::string fifo = dir.File("stream.csv");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("stream.csv", dir.File("link.csv"));
  for (const std::string& path : {fifo, dir.File("link.csv")}) {
    std::string received;
    std::thread reader([&] { received = ReadFileBytes(fifo); });
    EXPECT_TRUE(Write(path, "through the pipe"));
    reader.join();
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
  }
}

// A device node is written into, never replaced by a regular file (as root
// that would destroy the node). A private node of the null device stands in
// for /dev/null.
TEST(InPlace, DeviceIsWrittenNotReplaced) {
  ScratchDir dir;
  const std::string device = dir.File("null");
  if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make a device node here (needs root): not checked";
  }
  const int probe = open(device.c_str(), O_WRONLY);
  if (probe < 0) GTEST_SKIP() << "device nodes do not open here (nodev mount): not checked";
  close(probe);
  fs::create_symlink("null", dir.File("out.png"));
  EXPECT_TRUE(Write(device, "gone"));
  EXPECT_TRUE(Write(dir.File("out.png"), "gone too"));
  EXPECT_TRUE(fs::is_character_file(device));
  EXPECT_TRUE(fs::is_symlink(dir.File("out.png")));
  EXPECT_EQ(Names(dir.path), (std::vector<std::string>{"null", "out.png"}));
}

// Standard output redirected to a file: /dev/stdout and the file's own name
// add to what was printed instead of replacing the file under it.
TEST(InPlace, StandardOutputsOwnFileIsWrittenThroughIt) {
  ScratchDir dir;
  const std::string file = dir.File("table.txt");
  for (const std::string& path :
       {std::string("/dev/stdout"), file, std::string("/proc/self/fd/1")}) {
    SCOPED_TRACE(path);
    const int status = InChild([&] {
      const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) return 2;
      std::fputs("table\n", stdout);
      return Write(path, "csv\n") ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFileBytes(file), "table\ncsv\n");
  }
}

TEST(Failures, DirectoryAndMissingDirectoryAreErrors) {
  ScratchDir dir;
  EXPECT_FALSE(Write(dir.path, "x"));
  EXPECT_FALSE(Write(dir.File("missing/out.csv"), "x"));
  EXPECT_TRUE(fs::is_empty(dir.path));
}

}  // namespace
}  // namespace demosaic
