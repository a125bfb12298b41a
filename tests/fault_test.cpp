// Hostile input and faults through the built demosaic-eval: broken and cut
// files, images too large for memory, bad output paths, outputs that would hit
// the reference, a full disk, concurrent runs and a run killed while writing.
// Every case checks standard output, standard error, the exit status, the
// output file (absent, or complete and decodable) and that the reference is
// unchanged byte for byte.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/fault_support.h"
#include "support/run_program.h"
#include "support/sanitizer.h"

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

const std::string kBinary = DEMOSAIC_EVAL_BINARY;

// A scratch directory holding a reference file whose bytes are remembered,
// so that every test can check it was left alone, and a temporary directory
// of the tool's own that must still be empty after every case.
class FaultTest : public ::testing::Test {
 protected:
  void PlaceReference(const std::string& name, const std::string& bytes) {
    reference_ = dir_.File(name);
    reference_bytes_ = bytes;
    WriteFile(reference_, bytes);
  }
  void PlaceImageReference(const std::string& name, const cv::Mat& image) {
    PlaceReference(name, Encode(fs::path(name).extension().string(), image));
  }
  void TearDown() override {
    if (!reference_.empty()) {
      EXPECT_EQ(ReadFileBytes(reference_), reference_bytes_) << "reference changed";
    }
    temp_.ExpectEmpty();
  }

  ProgramResult Run(const std::string& output, const RunOptions& options = {}) {
    return RunProgram({kBinary, reference_, output}, temp_.Apply(options));
  }
  ProgramResult Run(const std::vector<std::string>& argv, const RunOptions& options = {}) {
    return RunProgram(argv, temp_.Apply(options));
  }

  ScratchDir dir_;
  WatchedTemp temp_;
  std::string reference_;
  std::string reference_bytes_;
};

// Unreadable references. -----------------------------------------------

TEST_F(FaultTest, EmptyFileIsAReadingError) {
  PlaceReference("empty.png", "");
  const std::string output = dir_.File("out.png");
  ExpectRefused(Run(output), kReadError);
  ExpectNoFile(output);
}

TEST_F(FaultTest, RandomBytesNamedPngAreAReadingError) {
  std::mt19937 random(8);
  for (const std::size_t length : {1u, 7u, 100u, 4096u, 300000u}) {
    for (const bool png_signature : {false, true}) {
      std::string bytes(length, '\0');
      for (char& b : bytes) b = static_cast<char>(random());
      if (png_signature) {
        const std::string signature("\x89PNG\r\n\x1a\n", 8);
        bytes.replace(0, std::min(length, signature.size()), signature, 0, length);
      }
      SCOPED_TRACE(std::to_string(length) +
                   (png_signature ? " bytes after a PNG signature" : " bytes"));
      PlaceReference("random.png", bytes);
      const std::string output = dir_.File("out.png");
      ExpectRefused(Run(output), kReadError);
      ExpectNoFile(output);
      EXPECT_EQ(ReadFileBytes(reference_), reference_bytes_);
    }
  }
}

TEST_F(FaultTest, DirectoryAsReferenceIsAReadingError) {
  reference_ = dir_.File("folder.png");
  fs::create_directory(reference_);
  const std::string output = dir_.File("out.png");
  ExpectRefused(Run(output), kReadError);
  ExpectNoFile(output);
  EXPECT_TRUE(fs::is_directory(reference_));
  reference_.clear();  // nothing to compare byte for byte
}

TEST_F(FaultTest, EndlessDeviceAsReferenceIsAReadingError) {
  // Reading /dev/zero to its end would never finish.
  const std::string output = dir_.File("out.png");
  ExpectRefused(Run({kBinary, "/dev/zero", output}), kReadError);
  ExpectNoFile(output);
}

// Each format cut at 20 offsets spread through the file, from the empty file
// up to one byte short of the whole: none may be evaluated as if complete
// (the JPEG decoder on its own fills a cut image with grey).
class CutFileTest : public FaultTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CutFileTest, EveryCutIsAReadingErrorAndTheWholeFileIsEvaluated) {
  const std::string extension = GetParam();
  const cv::Mat image = TestImage(201, 149, 5);
  const std::string whole = Encode(extension, image);
  const std::string output = dir_.File("out.png");

  PlaceReference("whole" + extension, whole);
  ExpectReport(Run(output), reference_, false);
  ExpectCompleteImage(output, image.size());
  fs::remove(output);

  for (int i = 0; i < 20; ++i) {
    // The empty file has its own test: the first cut is one byte short.
    const std::size_t length =
        i == 0 ? whole.size() - 1 : whole.size() * static_cast<std::size_t>(i) / 20;
    SCOPED_TRACE("cut at byte " + std::to_string(length) + " of " + std::to_string(whole.size()));
    PlaceReference("cut" + extension, whole.substr(0, length));
    ExpectRefused(Run(output), kReadError);
    ExpectNoFile(output);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, CutFileTest, ::testing::Values(".png", ".jpg", ".bmp", ".ppm"),
                         [](const auto& info) { return std::string(info.param + 1); });

// Images too large for memory. ------------------------------------------

TEST_F(FaultTest, HeaderDeclaringTenGigapixelsIsRefusedBeforeAllocating) {
  PlaceReference("huge.png", PngHeader(100000, 100000, 8, 2) + PngChunk("IEND", ""));
  const std::string output = dir_.File("out.png");
  const ProgramResult result = Run(output);
  ExpectRefused(result, kNoMemory);
  EXPECT_LT(result.peak_rss_kib, kSmallRunKiB);
  ExpectNoFile(output);
  if (!kAddressSanitizer) {
    ExpectRefused(Run(output, AddressSpaceLimit(kGiB)), kNoMemory);
    ExpectNoFile(output);
  }
}

TEST_F(FaultTest, SmallPngOfThirtyThousandSquaredIsRefusedBeforeDecoding) {
  PlaceReference("vast.png", BlackBilevelPng(30000, 30000));
  ASSERT_LT(reference_bytes_.size(), std::size_t{1} << 20);
  const std::string output = dir_.File("out.png");
  // Decoding alone would take 2.7 GB: a refusal made from the header leaves
  // the run as small as any other. 2 GiB of address space also makes it
  // independent of the machine's memory.
  if (kAddressSanitizer) {
    GTEST_SKIP() << "address-space limit impossible under the address sanitizer";
  }
  const ProgramResult limited = Run(output, AddressSpaceLimit(2 * kGiB));
  ExpectRefused(limited, kNoMemory);
  EXPECT_LT(limited.peak_rss_kib, kSmallRunKiB);
  ExpectNoFile(output);
}

TEST_F(FaultTest, SmallPngOfEightyThousandSquaredIsRefusedOnThisMachine) {
  // About 45 GB for the whole run (7 bytes a pixel): more than a 24 GiB
  // machine has. On a larger machine the run would be legitimate, and too
  // slow for a test.
  const double need = 80000.0 * 80000.0 * 7.0;
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  double available_kib = 0;
  while (meminfo >> key && key != "MemAvailable:") meminfo.ignore(256, '\n');
  meminfo >> available_kib;
  if (available_kib * 1024 >= need) GTEST_SKIP() << "this machine could run a 80000 x 80000 image";
  PlaceReference("vast.png", BlackBilevelPng(80000, 80000));
  const std::string output = dir_.File("out.png");
  const ProgramResult result = Run(output);
  ExpectRefused(result, kNoMemory);
  EXPECT_LT(result.peak_rss_kib, kSmallRunKiB);
  ExpectNoFile(output);
}

TEST_F(FaultTest, RunThatDoesNotFitTheAddressSpaceIsRefusedNotKilled) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "address-space limit impossible under the address sanitizer";
  }
  // 16000 x 16000 pixels would decode to 768 MB and the run needs as much
  // again: within 1 GiB of address space it is refused, not killed.
  const cv::Mat flat(16000, 16000, CV_8UC3, cv::Scalar(40, 90, 160));
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(cv::imencode(".jpg", flat, bytes));
  PlaceReference("flat.jpg", std::string(bytes.begin(), bytes.end()));
  const std::string output = dir_.File("out.png");
  ExpectRefused(Run(output, AddressSpaceLimit(kGiB)), kNoMemory);
  ExpectNoFile(output);
}

TEST_F(FaultTest, OrdinaryImageRunsUnderTheSameAddressSpaceLimit) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "address-space limit impossible under the address sanitizer";
  }
  // The refusals above come from the sizes, not from the limit itself.
  const cv::Mat image = TestImage(640, 480, 3);
  PlaceImageReference("ordinary.png", image);
  const std::string output = dir_.File("out.png");
  ExpectReport(Run(output, AddressSpaceLimit(kGiB)), reference_, false);
  ExpectCompleteImage(output, image.size());
}

// Bad outputs. -----------------------------------------------------------

class OutputFaultTest : public FaultTest {
 protected:
  void SetUp() override { PlaceImageReference("ref.png", image_); }
  const cv::Mat image_ = TestImage(64, 48, 11);
};

TEST_F(OutputFaultTest, MissingDirectoryFailsTheWriteAndCreatesNothing) {
  const std::string output = dir_.File("missing/out.png");
  ExpectReport(Run(output), reference_, true);
  ExpectNoFile(dir_.File("missing"));
  EXPECT_EQ(Listing(dir_.path), std::set<std::string>{"ref.png"});
}

TEST_F(OutputFaultTest, ExtensionWithoutEncoderFailsAndKeepsAnExistingFile) {
  for (const std::string name : {"out.xyz", "out", "out."}) {
    SCOPED_TRACE(name);
    const std::string output = dir_.File(name);
    ExpectReport(Run(output), reference_, true);
    ExpectNoFile(output);
    // The library deletes a file it fails to encode over: never here.
    WriteFile(output, "keep me");
    ExpectReport(Run(output), reference_, true);
    EXPECT_EQ(ReadFileBytes(output), "keep me");
    fs::remove(output);
    EXPECT_EQ(Listing(dir_.path), std::set<std::string>{"ref.png"});
  }
}

TEST_F(OutputFaultTest, DirectoryAsOutputFailsAndIsKept) {
  const std::string output = dir_.File("out.png");
  fs::create_directory(output);
  WriteFile(dir_.File("out.png/inside"), "content");
  ExpectReport(Run(output), reference_, true);
  EXPECT_TRUE(fs::is_directory(output));
  EXPECT_EQ(ReadFileBytes(dir_.File("out.png/inside")), "content");
  EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png", "out.png"}));
}

TEST_F(OutputFaultTest, OutputNamingTheReferenceIsRefused) {
  fs::create_directory(dir_.File("sub"));
  fs::create_symlink("ref.png", dir_.File("symlink.png"));
  fs::create_hard_link(reference_, dir_.File("hardlink.png"));
  const std::string relative = fs::relative(reference_, fs::current_path()).string();
  for (const std::string& output :
       {reference_, dir_.File("./ref.png"), dir_.File("sub/../ref.png"), relative,
        dir_.File("symlink.png"), dir_.File("hardlink.png")}) {
    SCOPED_TRACE(output);
    ExpectRefused(Run(output), kOverwrite);
    EXPECT_TRUE(fs::is_symlink(dir_.File("symlink.png")));
    EXPECT_EQ(ReadFileBytes(dir_.File("hardlink.png")), reference_bytes_);
  }
  EXPECT_EQ(Listing(dir_.path),
            (std::set<std::string>{"ref.png", "sub", "symlink.png", "hardlink.png"}));
}

TEST_F(OutputFaultTest, WriteOutOfRoomKeepsTheOldOutput) {
  const std::string output = dir_.File("out.png");
  // The reconstruction's file is larger than the limit, the old one fits.
  RunOptions options;
  options.limits.push_back({RLIMIT_FSIZE, 2048});
  options.ignore_sigxfsz = true;
  const std::string old_output = Encode(".png", cv::Mat(8, 8, CV_8UC3, cv::Scalar(1, 2, 3)));
  ASSERT_LT(old_output.size(), 2048u);
  ASSERT_GT(Encode(".png", image_).size(), 2048u);

  ExpectReport(Run(output, options), reference_, true);
  ExpectNoFile(output);

  WriteFile(output, old_output);
  ExpectReport(Run(output, options), reference_, true);
  EXPECT_EQ(ReadFileBytes(output), old_output);
  EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png", "out.png"}));
}

// Concurrency and interruption. -----------------------------------------

TEST_F(FaultTest, EightParallelRunsLeaveOneCompleteImage) {
  const cv::Mat image = TestImage(900, 700, 21);
  PlaceImageReference("ref.png", image);
  ScratchDir solo_dir;
  const std::string solo = solo_dir.File("solo.png");
  ExpectReport(Run(solo), reference_, false);
  const std::string expected = ReadFileBytes(solo);

  const std::string output = dir_.File("out.png");
  std::vector<std::unique_ptr<BackgroundProgram>> runs;
  for (int i = 0; i < 8; ++i) {
    runs.push_back(std::make_unique<BackgroundProgram>(
        std::vector<std::string>{kBinary, reference_, output}, temp_.Apply()));
  }
  for (auto& run : runs) ExpectReport(run->Wait(), reference_, false);
  ExpectCompleteImage(output, image.size());
  EXPECT_EQ(ReadFileBytes(output), expected);
  EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png", "out.png"}));
}

TEST_F(FaultTest, RunKilledAtAnyMomentLeavesTheOldOutputOrTheNewOne) {
  const cv::Mat image = TestImage(2000, 1500, 33);
  PlaceImageReference("ref.png", image);
  ScratchDir solo_dir;
  const std::string solo = solo_dir.File("solo.png");
  const auto start = std::chrono::steady_clock::now();
  ExpectReport(Run(solo), reference_, false);
  const auto duration = std::chrono::steady_clock::now() - start;
  const std::string fresh = ReadFileBytes(solo);
  const std::string old_output = Encode(".png", TestImage(50, 40, 2));

  const std::string output = dir_.File("out.png");
  int killed = 0;
  constexpr int kKills = 16;
  for (int i = 0; i < kKills; ++i) {
    SCOPED_TRACE("kill " + std::to_string(i));
    // Half of the runs replace an old output, half write a new one.
    if (i % 2 == 0) {
      WriteFile(output, old_output);
    } else {
      fs::remove(output);
    }
    BackgroundProgram run({kBinary, reference_, output}, temp_.Apply());
    // Spread over the whole run, the last ones past its usual end.
    std::this_thread::sleep_for(duration * (i + 1) / (kKills - 2));
    run.Kill(SIGKILL);
    const ProgramResult result = run.Wait();
    const std::string now = ReadFileBytes(output);
    if (result.signal == SIGKILL) {
      ++killed;
    } else {
      ExpectReport(result, reference_, false);
      EXPECT_EQ(now, fresh);
    }
    if (fs::exists(output) && now != fresh) {
      EXPECT_EQ(i % 2, 0) << "output appeared but is not the complete reconstruction";
      EXPECT_EQ(now, old_output) << "output is neither the old file nor the new one";
    }
    // The reconstruction is written to an unnamed file that only gets a name
    // once complete: a killed run leaves nothing behind.
    std::set<std::string> names = Listing(dir_.path);
    names.erase("out.png");
    EXPECT_EQ(names, std::set<std::string>{"ref.png"});
  }
  EXPECT_GT(killed, 0) << "no run was interrupted";
}

}  // namespace
}  // namespace demosaic::testing
