// The pipeline's guards for the bench: outputs kept away from the inputs
// and from one another however paths are spelled, and OpenCV's Bayer
// conversions run in bands on images too large for one call, with the same
// pixels as one call.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "evaluation/methods.h"
#include "evaluation/output_destinations.h"
#include "support/run_program.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

// A set of images given as files (as a shell glob gives them), the CSV
// beside them and the saved images elsewhere.
class OutputClaimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.File("set"));
    fs::create_directories(dir_.File("results"));
    for (const char* name : {"a.png", "b.png"}) std::ofstream(dir_.File("set/") + name) << "x";
    inputs_.files = {dir_.File("set/a.png"), dir_.File("set/b.png")};
  }
  OutputClaim Save(const std::string& directory) const {
    return {"--save", directory, true, {"a.method.png", "a.method.err.png"}, false};
  }
  OutputClaim Csv(const std::string& path) const {
    return {"--csv", path, false, {}, fs::path(path).extension() == ".png"};
  }
  // The problem found, "" when none.
  static std::string Problem(const std::vector<OutputClaim>& claims, const RunInputs& inputs) {
    const Status status = CheckOutputClaims(claims, inputs);
    return status.ok() ? "" : status.error().detail;
  }
  ScratchDir dir_;
  RunInputs inputs_;
};

TEST_F(OutputClaimTest, OutputsAwayFromInputsPass) {
  EXPECT_EQ(Problem({Save(dir_.File("results")), Csv(dir_.File("figures.csv"))}, inputs_), "");
  // A CSV is not an image: beside the images it is harmless, as is a CSV
  // among the saved images under a name of its own.
  EXPECT_EQ(Problem({Csv(dir_.File("set/figures.csv"))}, inputs_), "");
  EXPECT_EQ(Problem({Save(dir_.File("results")), Csv(dir_.File("results/f.csv"))}, inputs_), "");
  // A directory still to be made cannot hold anything.
  EXPECT_EQ(Problem({Save(dir_.File("set/new"))}, inputs_), "");
}

// Images given one by one still make their directory an input directory,
// however it is named.
TEST_F(OutputClaimTest, DirectoryHoldingInputFilesIsRefusedUnderAnyName) {
  fs::create_directory_symlink("set", dir_.File("alias"));
  for (const std::string& name :
       {dir_.File("set"), dir_.File("set/"), dir_.File("results/../set"), dir_.File("alias")}) {
    SCOPED_TRACE(name);
    const std::string problem = Problem({Save(name)}, inputs_);
    EXPECT_NE(problem.find("--save: "), std::string::npos) << problem;
    EXPECT_NE(problem.find("holds the input image"), std::string::npos) << problem;
  }
  RunInputs as_directory;
  as_directory.directories = {dir_.File("set")};
  EXPECT_NE(
      Problem({Save(dir_.File("alias"))}, as_directory).find("is one of the image directories"),
      std::string::npos);
}

// A CSV named like an image would be measured as one by the next run over
// the directory; an input is never written over.
TEST_F(OutputClaimTest, ImageLikeCsvAmongTheImagesOrAnInputIsRefused) {
  EXPECT_NE(Problem({Csv(dir_.File("set/out.png"))}, inputs_).find("--csv: "), std::string::npos);
  fs::create_symlink("set/a.png", dir_.File("link.csv"));
  EXPECT_NE(Problem({Csv(dir_.File("link.csv"))}, inputs_).find("is one of the images"),
            std::string::npos);
}

TEST_F(OutputClaimTest, OutputsOnOneAnothersFilesAreRefused) {
  const std::string clash =
      Problem({Save(dir_.File("results")), Csv(dir_.File("results/a.method.png"))}, inputs_);
  EXPECT_NE(clash.find("--csv: "), std::string::npos) << clash;
  EXPECT_NE(clash.find("--save"), std::string::npos) << clash;
  // A directory claimed whole (names unknown) clashes with any file in it.
  OutputClaim whole{"--report", dir_.File("report"), true, {}, false};
  EXPECT_NE(Problem({whole, Csv(dir_.File("report/../report/x.csv"))}, inputs_), "");
  EXPECT_NE(Problem({whole, Save(dir_.File("report"))}, inputs_), "");
  EXPECT_EQ(Problem({whole, Save(dir_.File("results"))}, inputs_), "");
  // Two file outputs on one file.
  OutputClaim other{"--report", dir_.File("f.csv"), false, {}, false};
  EXPECT_NE(Problem({Csv(dir_.File("./f.csv")), other}, inputs_), "");
}

TEST_F(OutputClaimTest, SpecialFilesTakeNoPart) {
  EXPECT_EQ(Problem({Csv("/dev/null"), Save(dir_.File("results"))}, inputs_), "");
}

// ---------------------------------------------------------------- bands

// Bands of a few rows must give every pixel of one whole call, at every
// band height, for odd sizes, for both conversions and every tile.
TEST(BayerBands, SamePixelsAsOneCall) {
  cv::Mat mosaic(37, 29, CV_8UC1);
  cv::randu(mosaic, cv::Scalar::all(0), cv::Scalar::all(256));
  for (const Method method : {Method::kBilinear, Method::kEdgeAware}) {
    for (const BayerPattern pattern :
         {BayerPattern::kGRBG, BayerPattern::kRGGB, BayerPattern::kBGGR, BayerPattern::kGBRG}) {
      const int code = OpenCvBayerCode(method, pattern);
      cv::Mat whole;
      cv::cvtColor(mosaic, whole, code);
      for (const int rows : {1, 2, 3, 5, 8, 13, 36}) {
        SCOPED_TRACE(std::string(MethodName(method)) + ", " + std::to_string(rows) + " rows");
        const std::size_t limit = static_cast<std::size_t>(rows + 2 * kBandMargin) * 29 * 3;
        cv::Mat banded;
        ConvertBayerInBands(mosaic, banded, code, limit);
        ASSERT_EQ(banded.size(), whole.size());
        EXPECT_EQ(cv::norm(banded, whole, cv::NORM_INF), 0.0);
      }
    }
  }
}

}  // namespace
}  // namespace demosaic
