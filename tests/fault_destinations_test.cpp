// Destinations and names a hostile system gives the bench: folders that
// cannot be written, found before any image is read; names so long that the
// saved files' derived names would not fit; a FIFO waiting in a compared
// method's folder.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/fault_support.h"

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

// A read-only file system of the test's own (a tmpfs mounted read-only),
// where creating any file fails as it does on a read-only mount or in a
// folder the user may not write. Needs root; skipped, with the reason,
// elsewhere.
struct ReadOnlyFolder {
  explicit ReadOnlyFolder(const std::string& path) : path(path) {
    fs::create_directories(path);
    if (mount("tmpfs", path.c_str(), "tmpfs", MS_RDONLY, "size=1m") == 0) mounted = true;
  }
  ~ReadOnlyFolder() {
    if (mounted) umount(path.c_str());
  }
  std::string path;
  bool mounted = false;
};

class DestinationTest : public ToolFaultTest {};

// --csv, --save and --report on a read-only file system: refused with
// status 2 before any image is read, not after the whole set.
TEST_F(DestinationTest, UnwritableDestinationsAreRefusedBeforeAnyImageIsRead) {
  const ReadOnlyFolder read_only(dir_.File("ro"));
  if (!read_only.mounted) GTEST_SKIP() << "cannot mount a read-only file system (needs root)";
  WriteFile(dir_.File("a.png"), Encode(".png", TestImage(16, 12, 1)));
  for (const std::vector<std::string>& option :
       {std::vector<std::string>{"--csv", read_only.path + "/out.csv"},
        std::vector<std::string>{"--save", read_only.path},
        std::vector<std::string>{"--report", read_only.path}}) {
    std::vector<std::string> arguments = option;
    arguments.push_back(dir_.File("a.png"));
    const ProgramResult result = Bench(arguments);
    EXPECT_EQ(result.exit_status, 2) << option[0] << ": " << result.err;
    EXPECT_NE(result.err.find(option[0] + ": cannot write into directory '" + read_only.path +
                              "': Read-only file system"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "") << "refused before the run's table starts";
  }
}

// Two runs into one report folder at once: the second is refused while the
// first holds the folder, so that a page and its images come from one run.
TEST_F(DestinationTest, ASecondRunIntoABusyReportFolderIsRefused) {
  const std::string fifo = dir_.File("slow.png");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteFile(dir_.File("other.png"), Encode(".png", TestImage(16, 12, 4)));
  BackgroundProgram first(
      {DEMOSAIC_BENCH_BINARY, "--jobs", "1", "--report", dir_.File("report"), fifo}, temp_.Apply());
  // The first run is evaluating once it reads the FIFO: a writer can then
  // open it without waiting.
  int writer = -1;
  for (int attempt = 0; attempt < 600 && writer < 0; ++attempt) {
    writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer < 0) usleep(50000);
  }
  ASSERT_GE(writer, 0) << "the first run never started reading";
  const ProgramResult second = Bench({"--report", dir_.File("report"), dir_.File("other.png")});
  close(writer);  // the first run reads an empty file, skips it and ends
  EXPECT_EQ(second.exit_status, 2) << second.err;
  EXPECT_NE(second.err.find("is being written by another run"), std::string::npos) << second.err;
  EXPECT_EQ(first.Wait().exit_status, 1);
  const ProgramResult after = Bench({"--report", dir_.File("report"), dir_.File("other.png")});
  EXPECT_EQ(after.exit_status, 0) << "the folder is free once the first run has ended";
}

// An image whose name leaves no room for ".edge-aware.err.png" within the
// file system's 255 bytes is saved under a shortened name, the same on every
// run, and all its files are written.
TEST_F(DestinationTest, LongestNamesAreShortenedDeterministicallyForSavedFiles) {
  const std::string stem(251, 'n');
  const std::string reference = dir_.File("set/" + stem + ".png");
  fs::create_directories(dir_.File("set"));
  WriteFile(reference, Encode(".png", TestImage(16, 12, 2)));
  std::set<std::string> first;
  for (const char* folder : {"saved1", "saved2"}) {
    const ProgramResult result = Bench({"--save", dir_.File(folder), "--report",
                                        dir_.File(std::string(folder) + "-report"), reference});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::set<std::string> saved = Listing(dir_.File(folder));
    EXPECT_EQ(saved.size(), 6u) << "every method's reconstruction and error map";
    for (const std::string& name : saved) {
      EXPECT_LE(name.size(), 255u);
      EXPECT_EQ(name.rfind(stem.substr(0, 200), 0), 0u) << "starts with the image's own name";
    }
    if (first.empty()) {
      first = saved;
    } else {
      EXPECT_EQ(saved, first) << "the shortened names are the same every run";
    }
  }
}

// A FIFO named like a reference in a compared method's folder, with no
// writer, is not opened: the cell is empty and the run ends.
TEST_F(DestinationTest, FifoInAComparedFolderIsLeftOutNotWaitedFor) {
  fs::create_directories(dir_.File("theirs"));
  WriteFile(dir_.File("kodim03.png"), Encode(".png", TestImage(16, 12, 3)));
  ASSERT_EQ(mkfifo(dir_.File("theirs/kodim03.png").c_str(), 0600), 0);
  const ProgramResult result =
      Bench({"--compare", "theirs=" + dir_.File("theirs"), dir_.File("kodim03.png")});
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_NE(result.err.find("not measured for theirs: no file named kodim03.*"), std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace demosaic::testing
