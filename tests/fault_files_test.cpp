// Files left behind and outputs that are not plain files: references in the
// formats the image library reads only from named files leave no copy in
// the temporary directory, not when killed, refused, or when that directory
// is unusable; temporaries of killed runs are removed by the next write; outputs that are devices,
// FIFOs or standard output are written in place and never replaced; replaced files keep their
// permissions; another user's read-only file is left alone; the longest
// file names work.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/fault_support.h"

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

// A reference of each format whose decoder only reads named files, 64 x 48.
std::vector<std::string> FileOnlyReferences(const ScratchDir& dir) {
  const cv::Mat image = TestImage(64, 48, 7);
  cv::Mat floats;
  image.convertTo(floats, CV_32FC3, 1.0 / 255.0);
  std::vector<std::string> paths;
  for (const std::string extension : {".hdr", ".exr", ".pfm", ".ras"}) {
    const bool floating = extension != ".ras";
    paths.push_back(dir.File("ref" + extension));
    WriteFile(paths.back(), Encode(extension, floating ? floats : image));
  }
  return paths;
}

using TemporaryFileTest = ToolFaultTest;

TEST_F(TemporaryFileTest, FileOnlyFormatsAreReadWithoutACopy) {
  const std::vector<std::string> references = FileOnlyReferences(dir_);
  for (const std::string& reference : references) {
    SCOPED_TRACE(reference);
    ExpectReport(Eval(reference, dir_.File("out.png")), reference, false);
    ExpectCompleteImage(dir_.File("out.png"), cv::Size(64, 48));
    temp_.ExpectEmpty();
  }
  const ProgramResult bench = Bench(references);
  EXPECT_EQ(bench.exit_status, 0) << bench.err;
}

// Where no temporary file can be made at all (the directory is missing or
// full), these references are still read: there is no copy to make.
TEST_F(TemporaryFileTest, UnusableTemporaryDirectoryDoesNotMatter) {
  RunOptions options;
  options.environment = {"TMPDIR=" + dir_.File("missing"),
                         "OPENCV_TEMP_PATH=" + dir_.File("missing")};
  for (const std::string& reference : FileOnlyReferences(dir_)) {
    SCOPED_TRACE(reference);
    const ProgramResult result =
        RunProgram({DEMOSAIC_EVAL_BINARY, reference, dir_.File("out.png")}, options);
    ExpectReport(result, reference, false);
  }
  // A pipe is held in memory, not in the temporary directory either.
  const std::string hdr = dir_.File("ref.hdr");
  const ProgramResult piped = RunProgram({"/bin/sh", "-c", "exec \"$0\" /dev/stdin \"$1\" < \"$2\"",
                                          DEMOSAIC_EVAL_BINARY, dir_.File("piped.png"), hdr},
                                         options);
  EXPECT_EQ(piped.exit_status, 0) << piped.out;
  EXPECT_EQ(piped.out.rfind("/dev/stdin\t", 0), 0u) << piped.out;
}

// Killed at any moment while decoding, refused by the library after
// reading its header: nothing is left anywhere.
TEST_F(TemporaryFileTest, KilledOrRefusedRunsLeaveNothing) {
  cv::Mat large(1500, 2000, CV_32FC3);
  cv::randu(large, cv::Scalar::all(0), cv::Scalar::all(1));
  const std::string reference = dir_.File("large.hdr");
  WriteFile(reference, Encode(".hdr", large));
  const std::string output = dir_.File("out.png");
  for (const int milliseconds : {20, 60, 120, 250}) {
    BackgroundProgram run({DEMOSAIC_EVAL_BINARY, reference, output}, temp_.Apply());
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    run.Kill(SIGKILL);
    run.Wait();
    temp_.ExpectEmpty();
    // A run that finished first leaves its complete output, nothing else.
    std::set<std::string> names = Listing(dir_.path);
    names.erase("out.png");
    EXPECT_EQ(names, std::set<std::string>{"large.hdr"});
    fs::remove(output);
  }
  // Wider than the library allows (2^20 columns): it refuses after reading
  // the header, which once left the copy behind.
  const std::string wide = dir_.File("wide.hdr");
  WriteFile(wide, "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 1100000\n" +
                      std::string(2 * 1100000 * 4, '\x40'));
  ExpectRefused(Eval(wide, output), kReadError);
}

// Outputs in formats whose encoder only writes named files: encoded beside
// the output and removed, never in the temporary directory.
TEST_F(TemporaryFileTest, OutputsInFileOnlyFormatsLeaveNothing) {
  const std::string reference = dir_.File("ref.png");
  WriteFile(reference, Encode(".png", TestImage(64, 48, 8)));
  for (const std::string extension : {".hdr", ".pfm", ".ras", ".jp2"}) {
    SCOPED_TRACE(extension);
    const std::string output = dir_.File("out" + extension);
    ExpectReport(Eval(reference, output), reference, false);
    EXPECT_EQ(cv::imread(output).size(), cv::Size(64, 48));
    EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png", "out" + extension}));
    fs::remove(output);
  }
}

// A run killed between naming its temporary and renaming it over an
// existing output left ".NAME.tmp-PID-N" beside it for good (an encoder's
// ".STEM.enc-PID-XXXXXX.EXT" likewise). The next write of that output
// removes those of processes that no longer run, and leaves alone a running
// process's, another output's and any other name.
TEST_F(TemporaryFileTest, StaleTemporariesOfKilledRunsAreRemoved) {
  const std::string reference = dir_.File("ref.png");
  WriteFile(reference, Encode(".png", TestImage(64, 48, 8)));
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string dead = std::to_string(child);
  const std::string live = std::to_string(getpid());
  const std::set<std::string> stale = {
      ".out.png.tmp-" + dead + "-0", ".out.png.tmp-" + dead + "-12",
      ".out.png.tmp-" + dead + "-Ab12Cd", ".out.enc-" + dead + "-a1B2c3.ras"};
  const std::set<std::string> kept = {
      ".out.png.tmp-" + live + "-0",   ".other.png.tmp-" + dead + "-0",
      ".out.png.tmp-x" + dead + "-0",  "out.png.tmp-" + dead + "-0",
      ".out.png.tmp-" + dead + "-bak", ".out.enc-" + live + "-a1B2c3.ras"};
  fs::create_directory(dir_.File("out"));
  for (const std::string& name : stale) WriteFile(dir_.File("out/" + name), "partial");
  for (const std::string& name : kept) WriteFile(dir_.File("out/" + name), "partial");
  // The PNG replaces an existing output, through a temporary name; the Sun
  // raster output is a new file, through the encoder's own.
  const std::string output = dir_.File("out/out.png");
  WriteFile(output, "old");
  ExpectReport(Eval(reference, output), reference, false);
  ExpectCompleteImage(output, cv::Size(64, 48));
  ExpectReport(Eval(reference, dir_.File("out/out.ras")), reference, false);
  std::set<std::string> expected = kept;
  expected.insert({"out.png", "out.ras"});
  EXPECT_EQ(Listing(dir_.File("out")), expected);
}

// ------------------------------------------------------- special outputs

class SpecialOutputTest : public ToolFaultTest {
 protected:
  void SetUp() override {
    reference_ = dir_.File("ref.png");
    WriteFile(reference_, Encode(".png", TestImage(64, 48, 9)));
  }
  // A private node of the null device, standing in for /dev/null (as root,
  // replacing the real one would break the machine); "" where none can be
  // made or opened.
  std::string NullDevice(const std::string& name) const {
    const std::string path = dir_.File(name);
    if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) return "";
    if (access(path.c_str(), W_OK) != 0) return "";
    return path;
  }
  std::string reference_;
};

TEST_F(SpecialOutputTest, DeviceOutputIsWrittenNotReplaced) {
  const std::string device = NullDevice("sink.png");
  if (device.empty()) GTEST_SKIP() << "no device node can be made here (needs root): not checked";
  fs::create_symlink("sink.png", dir_.File("link.png"));
  for (const std::string& output : {device, dir_.File("link.png")}) {
    SCOPED_TRACE(output);
    ExpectReport(Eval(reference_, output), reference_, false);
  }
  const std::string csv_device = NullDevice("sink.csv");
  const ProgramResult bench = Bench({"--csv", csv_device, reference_});
  EXPECT_EQ(bench.exit_status, 0) << bench.err;
  EXPECT_TRUE(fs::is_character_file(device));
  EXPECT_TRUE(fs::is_character_file(csv_device));
  EXPECT_TRUE(fs::is_symlink(dir_.File("link.png")));
  EXPECT_EQ(Listing(dir_.path),
            (std::set<std::string>{"ref.png", "sink.png", "link.png", "sink.csv"}));
}

TEST_F(SpecialOutputTest, FifoOutputIsWrittenNotReplaced) {
  const std::string fifo = dir_.File("stream.png");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFileBytes(fifo); });
  ExpectReport(Eval(reference_, fifo), reference_, false);
  reader.join();
  const cv::Mat image = cv::imdecode(std::vector<unsigned char>(received.begin(), received.end()),
                                     cv::IMREAD_UNCHANGED);
  EXPECT_EQ(image.size(), cv::Size(64, 48));
  EXPECT_TRUE(fs::is_fifo(fifo));

  const std::string csv_fifo = dir_.File("figures.csv");
  ASSERT_EQ(mkfifo(csv_fifo.c_str(), 0600), 0);
  std::thread csv_reader([&] { received = ReadFileBytes(csv_fifo); });
  EXPECT_EQ(Bench({"--csv", csv_fifo, reference_}).exit_status, 0);
  csv_reader.join();
  EXPECT_EQ(received.rfind("image,width,height,method", 0), 0u) << received;
  EXPECT_TRUE(fs::is_fifo(csv_fifo));
}

// --csv /dev/stdout with the table redirected to a file: the CSV follows
// the table in that file instead of replacing it.
TEST_F(SpecialOutputTest, CsvToStandardOutputFollowsTheTable) {
  RunOptions options;
  options.stdout_path = dir_.File("all.txt");
  const ProgramResult bench = Bench({"--csv", "/dev/stdout", reference_}, options);
  EXPECT_EQ(bench.exit_status, 0) << bench.err;
  const std::string all = ReadFileBytes(dir_.File("all.txt"));
  const std::size_t table = all.find("GRBG Bayer mosaic");
  const std::size_t csv = all.find("image,width,height,method");
  EXPECT_EQ(table, 0u) << all;
  EXPECT_NE(csv, std::string::npos) << all;
  EXPECT_GT(csv, all.find("MP/s")) << all;
}

// Replacing a private file must not make it readable by others.
TEST_F(SpecialOutputTest, ReplacedOutputsKeepTheirPermissions) {
  const std::string output = dir_.File("out.png");
  const std::string csv = dir_.File("out.csv");
  for (const std::string& path : {output, csv}) {
    WriteFile(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  }
  ExpectReport(Eval(reference_, output), reference_, false);
  EXPECT_EQ(Bench({"--csv", csv, reference_}).exit_status, 0);
  for (const std::string& path : {output, csv}) {
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << path;
    EXPECT_NE(ReadFileBytes(path), "old") << path;
  }
}

// Another user's read-only file in a directory everyone may write: a user
// who may not write it does not get it replaced. Runs the tools as nobody
// where the test runs as root, else as the user against a read-only file.
TEST_F(SpecialOutputTest, ReadOnlyOutputOfAnotherUserIsLeftAlone) {
  ASSERT_EQ(chmod(dir_.path.c_str(), 0777), 0);
  ASSERT_EQ(chmod(reference_.c_str(), 0644), 0);
  const std::string output = dir_.File("theirs.png");
  const std::string csv = dir_.File("theirs.csv");
  for (const std::string& path : {output, csv}) {
    WriteFile(path, "theirs");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  }
  RunOptions as_other;
  as_other.uid = 65534;
  ExpectReport(Eval(reference_, output, as_other), reference_, true);
  const ProgramResult bench = Bench({"--csv", csv, reference_}, as_other);
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("theirs.csv (cannot be written)"), std::string::npos) << bench.err;
  EXPECT_EQ(ReadFileBytes(output), "theirs");
  EXPECT_EQ(ReadFileBytes(csv), "theirs");
  EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png", "theirs.png", "theirs.csv"}));
}

// The hidden temporary name is cut to fit: outputs named up to the
// system's limit are written.
TEST_F(SpecialOutputTest, LongestOutputNamesAreWritten) {
  for (const std::size_t length : {242u, 248u, 255u}) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - 4, 'o') + ".png";
    ExpectReport(Eval(reference_, dir_.File(name)), reference_, false);
    ExpectCompleteImage(dir_.File(name), cv::Size(64, 48));
    EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png", name}));
    const std::string csv = std::string(length - 4, 'c') + ".csv";
    EXPECT_EQ(Bench({"--csv", dir_.File(csv), reference_}).exit_status, 0);
    EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png", name, csv}));
    fs::remove(dir_.File(name));
    fs::remove(dir_.File(csv));
  }
}

}  // namespace
}  // namespace demosaic::testing
