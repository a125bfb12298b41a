// demosaic-eval driven through its command line: messages, exit statuses,
// the files it writes or leaves alone, and loading of unusual image files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "demosaic/demosaic.h"
#include "evaluation/image_evaluation.h"
#include "evaluation/mat_views.h"
#include "report/report_line.h"
#include "support/run_program.h"
#include "support/sanitizer.h"
#include "support/test_images.h"

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

const std::string kTool = DEMOSAIC_EVAL_BINARY;

std::string WriteImage(const ScratchDir& dir, const std::string& name, const cv::Mat& image) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(cv::imwrite(path, image)) << path;
  return path;
}

// What the library computes for `image`: the reconstruction and its line.
struct InProcess {
  cv::Mat reconstruction;
  std::string report;
};

InProcess EvaluateInProcess(const cv::Mat& image, const std::string& name) {
  InProcess result{cv::Mat(image.rows, image.cols, CV_8UC3), ""};
  cv::Mat mosaic(image.rows, image.cols, CV_8UC1);
  SampleMosaic(ImageViewOf(image), MutableMosaicViewOf(mosaic, BayerPattern::kGRBG));
  ReconstructFromMosaic(MosaicViewOf(mosaic, BayerPattern::kGRBG),
                        MutableImageViewOf(result.reconstruction));
  result.report = FormatReportLine(
      name, ComputeQuality(ImageViewOf(image), ImageViewOf(result.reconstruction)));
  return result;
}

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

TEST(Arguments, WrongCountPrintsTheMessageAndWritesNothing) {
  ScratchDir dir;
  const std::string reference = WriteImage(dir, "ref.png", Noise(10, 10, 1));
  const std::vector<std::vector<std::string>> calls = {
      {kTool}, {kTool, reference}, {kTool, reference, dir.File("out.png"), dir.File("x.png")}};
  for (const auto& call : calls) {
    const ProgramResult run = RunProgram(call);
    EXPECT_EQ(run.out, "wrong argument number.");
    EXPECT_EQ(run.exit_status, 255);
    EXPECT_FALSE(fs::exists(dir.File("out.png")));
    EXPECT_FALSE(fs::exists(dir.File("x.png")));
  }
}

TEST(Reading, MissingOrUndecodableReferenceIsAReadingError) {
  ScratchDir dir;
  const std::string garbage = dir.File("garbage.png");
  { std::ofstream(garbage) << "this is not an image"; }
  for (const std::string& reference : {dir.File("missing.png"), garbage, dir.path}) {
    const ProgramResult run = RunProgram({kTool, reference, dir.File("out.png")});
    EXPECT_EQ(run.out, "Error in image reading.") << reference;
    EXPECT_EQ(run.err, "") << "the image library's own messages must stay quiet";
    EXPECT_EQ(run.exit_status, 255);
    EXPECT_FALSE(fs::exists(dir.File("out.png")));
  }
}

TEST(Reading, ImagesUnderSevenBySevenAreRefused) {
  ScratchDir dir;
  for (auto [w, h] : {std::pair{6, 9}, std::pair{9, 6}, std::pair{1, 1}}) {
    const std::string reference = WriteImage(dir, "small.png", Noise(w, h, 2));
    const ProgramResult run = RunProgram({kTool, reference, dir.File("out.png")});
    EXPECT_EQ(run.out, "Image too small: at least 7 x 7 pixels are needed.") << w << "x" << h;
    EXPECT_EQ(run.exit_status, 255);
    EXPECT_FALSE(fs::exists(dir.File("out.png")));
  }
}

// Widths that are not a multiple of 4 have padded rows in many image
// libraries; the file written and the figures printed must be exactly those
// of the library functions on the unpadded pixels.
TEST(Run, OutputAndReportEqualTheLibraryResultForOddSizes) {
  ScratchDir dir;
  for (auto [w, h] : {std::pair{13, 9}, std::pair{7, 7}, std::pair{30, 11}}) {
    const cv::Mat image = Noise(w, h, static_cast<unsigned>(w * h));
    const std::string reference = WriteImage(dir, "ref.png", image);
    const std::string output = dir.File("out.png");
    const ProgramResult run = RunProgram({kTool, reference, output});
    const InProcess expected = EvaluateInProcess(image, reference);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expected.report);
    EXPECT_TRUE(SameImage(cv::imread(output, cv::IMREAD_UNCHANGED), expected.reconstruction))
        << w << " x " << h;
  }
}

TEST(Run, OutputFormatFollowsTheExtension) {
  ScratchDir dir;
  const cv::Mat image = Noise(20, 16, 3);
  const std::string reference = WriteImage(dir, "ref.png", image);
  const ProgramResult run = RunProgram({kTool, reference, dir.File("out.bmp")});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("out.bmp")).substr(0, 2), "BM");
  EXPECT_TRUE(SameImage(cv::imread(dir.File("out.bmp")),
                        EvaluateInProcess(image, reference).reconstruction));
}

TEST(Reading, GreyscaleAnd16BitFilesAreLoadedAsEightBitColour) {
  ScratchDir dir;
  cv::Mat grey(12, 14, CV_8UC1);
  cv::RNG(4).fill(grey, cv::RNG::UNIFORM, 0, 256);
  cv::Mat grey_as_colour;
  cv::cvtColor(grey, grey_as_colour, cv::COLOR_GRAY2BGR);
  const std::string grey_file = WriteImage(dir, "grey.png", grey);
  const ProgramResult grey_run = RunProgram({kTool, grey_file, dir.File("grey-out.png")});
  EXPECT_EQ(grey_run.out, EvaluateInProcess(grey_as_colour, grey_file).report);

  // 16-bit samples v * 257 load as v.
  const cv::Mat colour = Noise(12, 14, 5);
  cv::Mat deep;
  colour.convertTo(deep, CV_16UC3, 257.0);
  const std::string deep_file = WriteImage(dir, "deep.png", deep);
  const ProgramResult deep_run = RunProgram({kTool, deep_file, dir.File("deep-out.png")});
  EXPECT_EQ(deep_run.out, EvaluateInProcess(colour, deep_file).report);
  EXPECT_TRUE(SameImage(cv::imread(dir.File("deep-out.png"), cv::IMREAD_UNCHANGED),
                        EvaluateInProcess(colour, deep_file).reconstruction));
}

TEST(Writing, FailedSaveStillReportsThenFailsAndLeavesNothing) {
  ScratchDir dir;
  const cv::Mat image = Noise(16, 16, 6);
  const std::string reference = WriteImage(dir, "ref.png", image);
  const std::string expected_report = EvaluateInProcess(image, reference).report;
  for (const std::string& output : {std::string("/nonexistent/dir/out.png"),
                                    dir.File("out.unknownext"), dir.File("noext"), dir.path}) {
    const ProgramResult run = RunProgram({kTool, reference, output});
    EXPECT_EQ(run.out, expected_report) << output;
    EXPECT_EQ(run.err, "Error in image writing.\n") << output;
    EXPECT_EQ(run.exit_status, 255) << output;
  }
  EXPECT_FALSE(fs::exists("/nonexistent/dir/out.png"));
  // Only the reference is left: no output and no temporary file.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST(Writing, FailedSaveLeavesAnExistingOutputAsItWas) {
  ScratchDir dir;
  const std::string reference = WriteImage(dir, "ref.png", Noise(16, 16, 7));
  const std::string output = dir.File("keep.unknownext");
  { std::ofstream(output) << "precious"; }
  const ProgramResult run = RunProgram({kTool, reference, output});
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(ReadFileBytes(output), "precious");
}

TEST(Writing, ExistingOutputIsReplacedWhole) {
  ScratchDir dir;
  const cv::Mat image = Noise(16, 16, 8);
  const std::string reference = WriteImage(dir, "ref.png", image);
  const std::string output = dir.File("out.png");
  {
    std::ofstream(output) << std::string(100000, 'x');  // longer than the new file
  }
  const ProgramResult run = RunProgram({kTool, reference, output});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(SameImage(cv::imread(output, cv::IMREAD_UNCHANGED),
                        EvaluateInProcess(image, reference).reconstruction));
  EXPECT_EQ(fs::status(output).permissions() & fs::perms::owner_read, fs::perms::owner_read);
}

TEST(Writing, OutputNamingTheReferenceIsRefused) {
  ScratchDir dir;
  const std::string reference = WriteImage(dir, "ref.png", Noise(16, 16, 9));
  const std::string before = ReadFileBytes(reference);
  fs::create_symlink(reference, dir.File("link.png"));
  fs::create_hard_link(reference, dir.File("hard.png"));
  for (const std::string& output :
       {reference, dir.path + "/./ref.png", dir.File("link.png"), dir.File("hard.png")}) {
    const ProgramResult run = RunProgram({kTool, reference, output});
    EXPECT_EQ(run.out, "Output would overwrite the reference.") << output;
    EXPECT_EQ(run.exit_status, 255);
  }
  EXPECT_EQ(ReadFileBytes(reference), before);
}

// The memory a run is refused for is the memory it takes: what a run on a
// large reference holds beyond a run on a tiny one stays within the figure
// the check before decoding counts on (RunBytes of the run's plan), for an
// image that compresses well and for one that does not compress at all, and
// that figure is not so far above it that runs which would fit get refused.
TEST(Memory, TheCheckedFigureCoversWhatARunHolds) {
  if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer's own memory hides the run's";
  ScratchDir dir;
  const ProgramResult tiny =
      RunProgram({kTool, WriteImage(dir, "tiny.png", Noise(16, 12, 3)), dir.File("tiny-out.png")});
  ASSERT_EQ(tiny.exit_status, 0) << tiny.out;
  const int width = 3000;
  const int height = 2000;
  cv::Mat smooth(height, width, CV_8UC3);
  cv::resize(Noise(30, 20, 4), smooth, smooth.size(), 0, 0, cv::INTER_CUBIC);
  EvaluationRequest tool;
  tool.methods = {Method::kDirectional};
  tool.timed = false;
  EvaluationOutputs saved;
  saved.reconstruction_files = {dir.File("out.png")};
  const std::size_t counted = RunBytes(PlannedMemory(tool, saved), width, height);
  for (const auto& [name, image] :
       {std::pair{"smooth.png", smooth}, std::pair{"noise.png", Noise(width, height, 5)}}) {
    const ProgramResult run =
        RunProgram({kTool, WriteImage(dir, name, image), dir.File("out.png")});
    ASSERT_EQ(run.exit_status, 0) << name << ": " << run.out;
    const double held = (run.peak_rss_kib - tiny.peak_rss_kib) * 1024.0;
    EXPECT_LE(held, static_cast<double>(counted)) << name;
    EXPECT_GE(held, 0.3 * static_cast<double>(counted)) << name << ": the check counts on far more";
    std::printf("%s: held %.1f bytes a pixel, counted %.1f\n", name, held / (width * height),
                static_cast<double>(counted) / (width * height));
  }
}

}  // namespace
}  // namespace demosaic::testing
