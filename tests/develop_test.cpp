// demosaic-develop through its command line, on DNGs the tests write: the
// linear output is the plain method's reconstruction of the black-subtracted
// mosaic, byte for byte, for every tile; development keeps a grey lit as the
// file was shot grey; bad files, outputs and options are refused as
// demosaic-eval refuses them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "support/dng_writer.h"
#include "support/plain_method.h"
#include "support/run_program.h"

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

const std::string kTool = DEMOSAIC_DEVELOP_BINARY;

std::string WriteBytes(const ScratchDir& dir, const std::string& name,
                       const std::vector<unsigned char>& bytes) {
  const std::string path = dir.File(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

// A 12-bit sensor with a non-zero 2 x 2 black pattern and no margins.
DngContents SensorDng(BayerPattern pattern) {
  DngContents dng;
  dng.width = 40;
  dng.height = 30;
  dng.samples = TestSensorSamples(dng.width, dng.height, 11);
  dng.pattern = pattern;
  dng.black_rows = dng.black_columns = 2;
  dng.black_levels = {128, 132, 136, 140};
  return dng;
}

class DevelopTileTest : public ::testing::TestWithParam<BayerPattern> {};

TEST_P(DevelopTileTest, LinearOutputIsThePlainReconstruction) {
  const DngContents dng = SensorDng(GetParam());
  ScratchDir dir;
  const std::string raw = WriteBytes(dir, "shot.dng", WriteDng(dng));
  const int white = 4095 - 128;
  PlainMosaic16 mosaic(dng.samples.size());
  for (int r = 0; r < dng.height; ++r) {
    for (int c = 0; c < dng.width; ++c) {
      const int at = r * dng.width + c;
      const int black = dng.black_levels[static_cast<std::size_t>((r % 2) * 2 + c % 2)];
      mosaic[static_cast<std::size_t>(at)] = static_cast<std::uint16_t>(
          std::clamp(dng.samples[static_cast<std::size_t>(at)] - black, 0, white));
    }
  }
  const std::vector<std::uint16_t> expected =
      PlainReconstruct(mosaic, dng.width, dng.height, GetParam(), white);
  for (const std::string name : {"linear.png", "linear.tif"}) {
    const ProgramResult run = RunProgram({kTool, "--linear", raw, dir.File(name)});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "");
    const cv::Mat written = cv::imread(dir.File(name), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(written.type(), CV_16UC3) << name;
    ASSERT_EQ(written.size(), cv::Size(dng.width, dng.height));
    const cv::Mat plain(dng.height, dng.width, CV_16UC3,
                        const_cast<std::uint16_t*>(expected.data()));
    EXPECT_EQ(cv::norm(written, plain, cv::NORM_INF), 0.0) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(AllTiles, DevelopTileTest,
                         ::testing::Values(BayerPattern::kRGGB, BayerPattern::kBGGR,
                                           BayerPattern::kGRBG, BayerPattern::kGBRG),
                         [](const auto& info) { return std::string(PatternName(info.param)); });

// A flat grey shot under the light of the file's as-shot neutral: camera
// values in the neutral's proportions.
DngContents GreyDng(double level) {
  DngContents dng = SensorDng(BayerPattern::kGRBG);
  dng.black_rows = dng.black_columns = 1;
  dng.black_levels = {100};
  const double white = 4095 - 100;
  for (int r = 0; r < dng.height; ++r) {
    for (int c = 0; c < dng.width; ++c) {
      const CfaClass cls = CfaClassOf(dng.pattern, r, c);
      const double neutral = dng.as_shot_neutral[cls == kR ? 0 : cls == kB ? 2 : 1];
      dng.samples[static_cast<std::size_t>(r * dng.width + c)] =
          static_cast<std::uint16_t>(std::lround(100 + level * neutral * white));
    }
  }
  return dng;
}

TEST(Develop, GreyUnderTheAsShotLightStaysGrey) {
  ScratchDir dir;
  const double level = 0.2;
  const std::string raw = WriteBytes(dir, "grey.dng", WriteDng(GreyDng(level)));
  // sRGB's curve at 0.2: 1.055 * 0.2^(1/2.4) - 0.055.
  const double encoded = 1.055 * std::pow(level, 1 / 2.4) - 0.055;
  for (const auto& [name, top, type] :
       {std::tuple{"grey.png", 255.0, CV_8UC3}, std::tuple{"grey.tif", 65535.0, CV_16UC3}}) {
    const ProgramResult run = RunProgram({kTool, raw, dir.File(name)});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    const cv::Mat written = cv::imread(dir.File(name), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(written.type(), type) << name;
    cv::Mat interior;
    written(cv::Rect(3, 3, written.cols - 6, written.rows - 6)).convertTo(interior, CV_64FC3);
    const cv::Scalar mean = cv::mean(interior);
    // The camera matrix is sRGB's inverse rounded to six places: grey to
    // within a few parts in ten thousand.
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(mean[c], encoded * top, 0.002 * top) << name << c;
  }
  // Without the as-shot balance the grey takes the light's colour: blue
  // (0.8 of green) and red (0.5) fall below green.
  ASSERT_EQ(RunProgram({kTool, "--white-balance", "none", raw, dir.File("cast.png")}).exit_status,
            0);
  const cv::Scalar cast = cv::mean(cv::imread(dir.File("cast.png"), cv::IMREAD_UNCHANGED));
  EXPECT_LT(cast[2] + 20, cast[1]);
  EXPECT_LT(cast[0] + 5, cast[1]);
}

TEST(Develop, NoAsShotBalanceIsRefusedUnlessNoneIsAsked) {
  ScratchDir dir;
  DngContents dng = GreyDng(0.3);
  dng.has_as_shot_neutral = false;
  const std::string raw = WriteBytes(dir, "unbalanced.dng", WriteDng(dng));
  const ProgramResult refused = RunProgram({kTool, raw, dir.File("a.png")});
  EXPECT_EQ(refused.out, "Error in image reading.");
  EXPECT_EQ(refused.exit_status, 255);
  EXPECT_NE(refused.err.find("has no as-shot white balance"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(dir.File("a.png")));
  EXPECT_EQ(RunProgram({kTool, "--white-balance", "none", raw, dir.File("b.png")}).exit_status, 0);
}

TEST(Develop, BitsFollowTheExtensionAndTheOption) {
  ScratchDir dir;
  const std::string raw = WriteBytes(dir, "grey.dng", WriteDng(GreyDng(0.3)));
  ASSERT_EQ(RunProgram({kTool, "--bits", "16", raw, dir.File("deep.png")}).exit_status, 0);
  EXPECT_EQ(cv::imread(dir.File("deep.png"), cv::IMREAD_UNCHANGED).type(), CV_16UC3);
  ASSERT_EQ(RunProgram({kTool, "--method", "bilinear", raw, dir.File("b.jpg")}).exit_status, 0);
  EXPECT_EQ(cv::imread(dir.File("b.jpg"), cv::IMREAD_UNCHANGED).type(), CV_8UC3);
}

void ExpectRefused(const std::vector<std::string>& argv, const std::string& message,
                   const std::string& output) {
  const ProgramResult run = RunProgram(argv);
  EXPECT_EQ(run.out, message) << run.err;
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_FALSE(run.err.empty());
  EXPECT_FALSE(fs::exists(output)) << output;
}

// What the raw reader refuses (its own tests go through every reason) is a
// reading error of the tool's, with nothing written: a cut file, a file that
// is not raw, a missing one.
TEST(Develop, BadFilesAreReadingErrors) {
  ScratchDir dir;
  const std::vector<unsigned char> whole = WriteDng(SensorDng(BayerPattern::kRGGB));
  const std::string out = dir.File("out.png");
  const std::string cut =
      WriteBytes(dir, "cut.dng",
                 std::vector<unsigned char>(
                     whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));
  ExpectRefused({kTool, cut, out}, "Error in image reading.", out);
  const std::string text = WriteBytes(dir, "text.nef", {'n', 'o', 't', ' ', 'r', 'a', 'w'});
  ExpectRefused({kTool, text, out}, "Error in image reading.", out);
  const ProgramResult missing = RunProgram({kTool, dir.File("missing.dng"), out});
  EXPECT_EQ(missing.out, "Error in image reading.");
  EXPECT_EQ(missing.exit_status, 255);
}

TEST(Develop, OutputsAndOptionsAreCheckedBeforeReading) {
  ScratchDir dir;
  const std::string raw = WriteBytes(dir, "shot.dng", WriteDng(SensorDng(BayerPattern::kRGGB)));
  ExpectRefused({kTool, "--linear", raw, dir.File("eight.jpg")}, "Error in image writing.",
                dir.File("eight.jpg"));
  ExpectRefused({kTool, "--bits", "16", raw, dir.File("deep.jpg")}, "Error in image writing.",
                dir.File("deep.jpg"));
  const ProgramResult same = RunProgram({kTool, raw, raw});
  EXPECT_EQ(same.out, "Output would overwrite the reference.");
  EXPECT_EQ(same.exit_status, 255);
  ExpectRefused({kTool, "--method", "vng", raw, dir.File("x.png")}, "wrong arguments.",
                dir.File("x.png"));
  ExpectRefused({kTool, raw}, "wrong arguments.", dir.File("x.png"));
}

}  // namespace
}  // namespace demosaic::testing
