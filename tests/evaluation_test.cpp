// The one evaluation path: reconstructing in place is a memory strategy, not
// another result; a run's report prints its rows in input order whatever
// order the images finish in. (That every image skipped fails the run, for
// the bench and the Dask front end alike, is checked in test_evaluate.py.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "evaluation/image_evaluation.h"
#include "evaluation/mat_views.h"
#include "evaluation/methods.h"
#include "evaluation/noise.h"
#include "evaluation/run_report.h"
#include "support/child_process.h"
#include "support/run_program.h"
#include "support/test_images.h"

namespace demosaic {
namespace {

using testing::InChild;
using testing::ReadFileBytes;
using testing::ScratchDir;

std::vector<unsigned char> Png(const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(".png", image, bytes));
  return bytes;
}

void WritePng(const std::string& path, const cv::Mat& image) {
  ASSERT_TRUE(cv::imwrite(path, image));
}

// A 16-bit reference counts two bytes a sample: under a memory ceiling
// that its 8-bit reading fits, read whole it does not, and it is skipped
// for memory rather than run over its share.
TEST(OneEvaluation, DeepReferencesCountTwoBytesASample) {
  cv::Mat wide;
  testing::Scene(64, 48).convertTo(wide, CV_16UC3, 257.0);
  const std::vector<unsigned char> png = Png(wide);
  EvaluationRequest request;
  const RunMemory eight = PlannedMemory(request, {});
  const std::size_t fits_eight_bits = RunBytes(eight, 64, 48) + png.size() * 2;
  const ImageOutcome narrow =
      EvaluateReference({"wide.png", png, "wide.png"}, request, {}, fits_eight_bits);
  ASSERT_TRUE(narrow.status.ok());
  EXPECT_EQ(narrow.white_level, 255);
  request.depth = SampleDepth::kNative;
  const ImageOutcome deep =
      EvaluateReference({"wide.png", png, "wide.png"}, request, {}, fits_eight_bits);
  ASSERT_FALSE(deep.status.ok());
  EXPECT_EQ(deep.status.error().kind, ErrorKind::kOutOfMemory);
  const ImageOutcome roomy =
      EvaluateReference({"wide.png", png, "wide.png"}, request, {}, 2 * fits_eight_bits);
  ASSERT_TRUE(roomy.status.ok());
  EXPECT_EQ(roomy.white_level, 65535);
}

// demosaic-eval's request (untimed, the method alone: in place) and the
// bench's (timed: a mosaic and a separate output) give the same figures and
// save the same bytes.
TEST(OneEvaluation, InPlaceAndSeparateOutputsAgreeBitForBit) {
  ScratchDir dir;
  const std::vector<unsigned char> png = Png(testing::Scene(45, 38));
  for (const BayerPattern pattern : {BayerPattern::kGRBG, BayerPattern::kBGGR}) {
    EvaluationRequest request;
    request.pattern = pattern;
    request.methods = {Method::kDirectional};
    request.timed = false;
    EvaluationOutputs in_place;
    in_place.reconstruction_files = {dir.File("in-place.png")};
    const ImageOutcome first =
        EvaluateReference({"scene.png", png, "scene.png"}, request, in_place);
    request.timed = true;
    EvaluationOutputs separate;
    separate.reconstruction_files = {dir.File("separate.png")};
    const ImageOutcome second =
        EvaluateReference({"scene.png", png, "scene.png"}, request, separate);
    ASSERT_TRUE(first.status.ok() && second.status.ok());
    const QualityFigures& a = first.methods.at(0).figures.psnr;
    const QualityFigures& b = second.methods.at(0).figures.psnr;
    EXPECT_EQ(a.psnr_r, b.psnr_r);
    EXPECT_EQ(a.psnr_g, b.psnr_g);
    EXPECT_EQ(a.psnr_b, b.psnr_b);
    EXPECT_EQ(a.cpsnr, b.cpsnr);
    EXPECT_EQ(ReadFileBytes(dir.File("in-place.png")), ReadFileBytes(dir.File("separate.png")));
  }
}

// With noise, an untimed request for the method alone does not reconstruct
// in place (the noisy mosaic must exist): its figures are those of the
// reference's mosaic with the level's noise, keyed by the reference's name,
// reconstructed and measured against the clean reference; later levels are
// their own blocks, and a clean level equals no noise at all.
TEST(OneEvaluation, NoisyMosaicIsReconstructedAndMeasuredAgainstTheCleanReference) {
  const cv::Mat scene = testing::Scene(45, 38);
  const std::vector<unsigned char> png = Png(scene);
  const NoiseLevel level{NoiseKind::kGaussian, 6.0, 0.0};
  EvaluationRequest request;
  request.methods = {Method::kDirectional};
  request.timed = false;
  request.noise = {level, NoiseLevel{}};
  request.seed = 11;
  const ImageOutcome outcome = EvaluateReference({"scene.png", png, "scene.png"}, request, {});
  ASSERT_TRUE(outcome.status.ok());
  ASSERT_EQ(outcome.later_levels.size(), 1u);

  cv::Mat mosaic = SampleMosaicOf(scene, request.pattern);
  AddNoise(std::span<std::uint8_t>(mosaic.data, mosaic.total()), mosaic.cols, mosaic.rows,
           mosaic.step[0], level, NoiseKey(11, "scene.png", level));
  cv::Mat output(scene.rows, scene.cols, CV_8UC3, cv::Scalar::all(0));
  Reconstruct(Method::kDirectional, request.pattern, mosaic, output);
  const MethodFigures expected =
      MeasureFigures(ImageViewOf(scene), ImageViewOf(output), request.border, request.metrics);
  EXPECT_EQ(outcome.methods.at(0).figures.psnr.cpsnr, expected.psnr.cpsnr);
  EXPECT_EQ(outcome.methods.at(0).figures.psnr.psnr_g, expected.psnr.psnr_g);

  EvaluationRequest clean = request;
  clean.noise = {NoiseLevel{}};
  const ImageOutcome reference = EvaluateReference({"scene.png", png, "scene.png"}, clean, {});
  ASSERT_TRUE(reference.status.ok());
  EXPECT_EQ(outcome.later_levels[0].at(0).figures.psnr.cpsnr,
            reference.methods.at(0).figures.psnr.cpsnr);
  EXPECT_LT(expected.psnr.cpsnr, reference.methods.at(0).figures.psnr.cpsnr);
}

// An output that names the reference is refused before anything is read or
// written, whatever the request.
TEST(OneEvaluation, OutputNamingTheReferenceIsRefusedFirst) {
  ScratchDir dir;
  const std::string reference = dir.File("ref.png");
  WritePng(reference, testing::Scene(20, 20));
  EvaluationOutputs outputs;
  outputs.error_map_files = {"", dir.File("./ref.png")};
  std::error_code ignored;
  const auto before = std::filesystem::last_write_time(reference, ignored);
  const ImageOutcome outcome =
      EvaluateReference({reference, {}, "reference"}, EvaluationRequest{}, outputs);
  ASSERT_FALSE(outcome.status.ok());
  EXPECT_EQ(outcome.status.error().kind, ErrorKind::kOverwritesReference);
  EXPECT_EQ(std::filesystem::last_write_time(reference, ignored), before);
}

// A run of three images whose outcomes arrive last first: rows in input
// order on standard output, the skip named on the message stream.
TEST(RunReportOrder, RowsInInputOrderWhateverOrderImagesFinish) {
  ScratchDir dir;
  for (const char* name : {"a.png", "b.png", "c.png"})
    WritePng(dir.File(name), testing::Scene(16, 12));
  const std::string table = dir.File("table.txt");
  const std::string messages = dir.File("messages.txt");
  const int status = InChild([&] {
    std::freopen(table.c_str(), "w", stdout);
    std::FILE* stream = std::fopen(messages.c_str(), "w");
    RunOptions options;
    options.program = "tester";
    options.paths = {dir.path};
    Expected<RunPlan> plan = PlanRun(options);
    if (!plan.ok()) return 10;
    RunReport report = StartRunReport(std::move(plan).value(), stream);
    ImageOutcome skipped;
    skipped.status = Error{ErrorKind::kOther, "error: worker lost"};
    AcceptOutcome(report, 2, skipped);
    for (const std::size_t i : {1, 0}) {
      AcceptOutcome(report, i,
                    EvaluateInput(report.plan.inputs[i], report.plan.request, {}, SIZE_MAX));
    }
    return FinishRunReport(report);
  });
  EXPECT_EQ(status, kExitSomeFailed);
  const std::string printed = ReadFileBytes(table);
  const std::size_t a = printed.find("\na.png");
  const std::size_t b = printed.find("\nb.png");
  ASSERT_NE(a, std::string::npos) << printed;
  ASSERT_NE(b, std::string::npos) << printed;
  EXPECT_LT(a, b);
  EXPECT_EQ(printed.find("\nc.png"), std::string::npos);
  const std::string said = ReadFileBytes(messages);
  EXPECT_NE(said.find("tester: " + dir.File("c.png") + ": skipped, error: worker lost\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("tester: 2 images measured, 1 skipped: "), std::string::npos) << said;
}

}  // namespace
}  // namespace demosaic
