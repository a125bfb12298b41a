// demosaic-bench on 16-bit references, run as a user runs it: --depth native
// measures 16-bit samples against their white level, --white-level declares
// narrower data in a 16-bit file, --space srgb measures after the sRGB
// curve; and the default reading stays the 8-bit one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "demosaic/demosaic.h"
#include "demosaic/transfer.h"
#include "evaluation/mat_views.h"
#include "support/plain_method.h"
#include "support/run_program.h"
#include "support/table_text.h"

namespace demosaic::testing {
namespace {

const std::string kBench = DEMOSAIC_BENCH_BINARY;
constexpr std::int32_t kBorder = 3;

// A 16-bit scene within `white`: smooth ramps, an edge, and both bounds.
cv::Mat DeepScene(int width, int height, std::int32_t white) {
  cv::Mat image(height, width, CV_16UC3);
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      const bool edge = c > r + width / 4;
      const auto at = [&](std::int64_t v) {
        return static_cast<std::uint16_t>((v % (white + 1) + white + 1) % (white + 1));
      };
      image.at<cv::Vec3w>(r, c) = cv::Vec3w(at(97 * r + 13 * c), at(edge ? white : 31 * c * c + r),
                                            at(edge ? 0 : std::int64_t{white} - 57 * (r + c)));
    }
  }
  return image;
}

std::string WritePng(const ScratchDir& dir, const std::string& name, const cv::Mat& image) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(cv::imwrite(path, image)) << path;
  return path;
}

double Number(const std::string& text) {
  return std::strtod(text.c_str(), nullptr);
}

// The PSNR figures from their definition at peak `white`: per channel
// 10 log10(W^2 / MSE) over the interior, CPSNR of the mean of the three
// channels' sums of squares.
QualityFigures PsnrByDefinition(const cv::Mat& reference, const cv::Mat& output,
                                std::int32_t white) {
  double sums[3] = {0.0, 0.0, 0.0};
  for (int r = kBorder; r < reference.rows - kBorder; ++r) {
    for (int c = kBorder; c < reference.cols - kBorder; ++c) {
      for (int k = 0; k < 3; ++k) {
        const double diff = static_cast<double>(reference.at<cv::Vec3w>(r, c)[k]) -
                            static_cast<double>(output.at<cv::Vec3w>(r, c)[k]);
        sums[k] += diff * diff;
      }
    }
  }
  const double columns = reference.cols - 2 * kBorder;
  const double rows = reference.rows - 2 * kBorder;
  const double peak = static_cast<double>(white) * static_cast<double>(white);
  const auto psnr = [&](double sum) { return 10.0 * std::log10(peak / (sum / columns / rows)); };
  return {psnr(sums[2]), psnr(sums[1]), psnr(sums[0]), psnr((sums[0] + sums[1] + sums[2]) / 3.0)};
}

// The packed samples of a continuous 16-bit matrix, and back.
std::vector<std::uint16_t> Packed(const cv::Mat& image) {
  return std::vector<std::uint16_t>(image.ptr<std::uint16_t>(),
                                    image.ptr<std::uint16_t>() + image.total() * image.channels());
}

// The GRBG mosaic of `reference` by the plain rules, as a 16-bit matrix.
cv::Mat PlainMosaicOf(const cv::Mat& reference) {
  PlainMosaic16 mosaic =
      PlainSample(Packed(reference), reference.cols, reference.rows, BayerPattern::kGRBG);
  return cv::Mat(reference.rows, reference.cols, CV_16UC1, mosaic.data()).clone();
}

// The method's reconstruction of that mosaic by the plain rules at `white`.
cv::Mat MethodAtDepth(const cv::Mat& reference, std::int32_t white) {
  std::vector<std::uint16_t> output = PlainReconstruct(
      PlainSample(Packed(reference), reference.cols, reference.rows, BayerPattern::kGRBG),
      reference.cols, reference.rows, BayerPattern::kGRBG, white);
  return cv::Mat(reference.rows, reference.cols, CV_16UC3, output.data()).clone();
}

cv::Mat BilinearAtDepth(const cv::Mat& reference) {
  cv::Mat output;
  cv::cvtColor(PlainMosaicOf(reference), output, cv::COLOR_BayerGRBG2BGR);
  return output;
}

void ExpectFigures(const std::map<std::string, std::string>& row, const QualityFigures& want) {
  EXPECT_EQ(Number(row.at("PSNR_R")), want.psnr_r);
  EXPECT_EQ(Number(row.at("PSNR_G")), want.psnr_g);
  EXPECT_EQ(Number(row.at("PSNR_B")), want.psnr_b);
  EXPECT_EQ(Number(row.at("CPSNR")), want.cpsnr);
}

// Full white level and a declared 12-bit one: the method's figures are those
// of the plain rules' reconstruction, and the bilinear baseline's those of
// OpenCV's on the plain mosaic, by the definitions at that peak, to the last
// bit, and every row names the white level, in the last column.
TEST(BenchDepth, NativeFiguresFollowTheDefinitionsAtTheWhiteLevel) {
  for (const std::int32_t white : {65535, 4095}) {
    ScratchDir dir;
    const cv::Mat reference = DeepScene(48, 40, white);
    const std::string path = WritePng(dir, "deep.png", reference);
    const std::string csv = dir.File("deep.csv");
    std::vector<std::string> argv = {kBench,  "--depth", "native", "--methods", "method,bilinear",
                                     "--csv", csv,       path};
    if (white != 65535) argv.insert(argv.begin() + 3, {"--white-level", std::to_string(white)});
    const ProgramResult bench = RunProgram(argv);
    ASSERT_EQ(bench.exit_status, 0) << bench.err;
    const auto rows = CsvRowsByMethod(csv);
    ASSERT_EQ(rows.size(), 2u);
    ExpectFigures(rows.at("method"),
                  PsnrByDefinition(reference, MethodAtDepth(reference, white), white));
    ExpectFigures(rows.at("bilinear"),
                  PsnrByDefinition(reference, BilinearAtDepth(reference), white));
    EXPECT_EQ(ReadCsv(csv)[0].back(), "white_level");
    for (const auto& [method, row] : rows) EXPECT_EQ(row.at("white_level"), std::to_string(white));
  }
}

// Without --depth the same file is read by its high byte, as before: the
// figures are the 8-bit ones of that image, at white level 255.
TEST(BenchDepth, DefaultDepthKeepsTheEightBitReading) {
  ScratchDir dir;
  const cv::Mat reference = DeepScene(48, 40, 65535);
  const std::string csv = dir.File("eight.csv");
  const ProgramResult bench = RunProgram(
      {kBench, "--methods", "method", "--csv", csv, WritePng(dir, "deep.png", reference)});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  // The high bytes as 16-bit samples of white level 255: the plain rules
  // at W = 255 are the 8-bit rules.
  cv::Mat high_bytes(reference.size(), CV_16UC3);
  for (int r = 0; r < reference.rows; ++r) {
    for (int c = 0; c < reference.cols; ++c) {
      for (int k = 0; k < 3; ++k) {
        high_bytes.at<cv::Vec3w>(r, c)[k] =
            static_cast<std::uint16_t>(reference.at<cv::Vec3w>(r, c)[k] >> 8);
      }
    }
  }
  const auto row = CsvRowsByMethod(csv).at("method");
  ExpectFigures(row, PsnrByDefinition(high_bytes, MethodAtDepth(high_bytes, 255), 255));
  EXPECT_EQ(row.at("white_level"), "255");
}

// What a user can get wrong is refused with the option and the reason, and
// exit status 2, before any image is read.
TEST(BenchDepth, BadDepthOptionsAreRefused) {
  ScratchDir dir;
  const std::string path = WritePng(dir, "deep.png", DeepScene(16, 16, 65535));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--depth", "16"}, "--depth: unknown depth '16'"},
      {{"--depth", "native", "--white-level", "0"}, "--white-level: '0' is not"},
      {{"--depth", "native", "--white-level", "65536"}, "--white-level: '65536' is not"},
      {{"--depth", "native", "--white-level", "+4095"}, "--white-level: '+4095' is not"},
      {{"--depth", "native", "--white-level", "0x0fff"}, "--white-level: '0x0fff' is not"},
      {{"--white-level", "4095"}, "--white-level needs --depth native"},
      {{"--space", "linear"}, "--space: unknown space 'linear'"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> argv = {kBench};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(path);
    const ProgramResult bench = RunProgram(argv);
    EXPECT_EQ(bench.exit_status, 2) << options[1];
    EXPECT_NE(bench.err.find(message), std::string::npos) << bench.err;
    EXPECT_EQ(bench.out, "") << options[1];
  }
}

// A sample above the declared white level skips the image (never clamped),
// the message naming the file and the value; the other images are measured.
TEST(BenchDepth, SampleAboveTheWhiteLevelSkipsTheImage) {
  ScratchDir dir;
  cv::Mat over = DeepScene(32, 32, 4095);
  over.at<cv::Vec3w>(9, 5)[2] = 4096;
  const std::string bad = WritePng(dir, "over.png", over);
  const std::string good = WritePng(dir, "good.png", DeepScene(32, 32, 4095));
  const std::string csv = dir.File("out.csv");
  const ProgramResult bench =
      RunProgram({kBench, "--depth", "native", "--white-level", "4095", "--csv", csv, bad, good});
  EXPECT_EQ(bench.exit_status, 1) << bench.err;
  EXPECT_NE(bench.err.find(bad + ": skipped, sample 4096 (red) at row 9, column 5 is above the "
                                 "white level 4095"),
            std::string::npos)
      << bench.err;
  const std::vector<std::vector<std::string>> rows = ReadCsv(csv);
  ASSERT_EQ(rows.size(), 4u);  // good.png's three methods alone
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], "good.png");
}

// A floating-point image is never taken for 16-bit samples: under
// --depth native it is read at 8 bits as under --depth 8, white level 255.
TEST(BenchDepth, FloatingPointReferenceIsReadAtEightBits) {
  ScratchDir dir;
  cv::Mat real;
  DeepScene(32, 32, 65535).convertTo(real, CV_32FC3, 1.0 / 65535.0);
  const std::string path = dir.File("real.pfm");
  ASSERT_TRUE(cv::imwrite(path, real));
  const std::string native_csv = dir.File("native.csv");
  const std::string eight_csv = dir.File("eight.csv");
  ASSERT_EQ(RunProgram({kBench, "--depth", "native", "--csv", native_csv, path}).exit_status, 0);
  ASSERT_EQ(RunProgram({kBench, "--csv", eight_csv, path}).exit_status, 0);
  const auto native = CsvRowsByMethod(native_csv);
  const auto eight = CsvRowsByMethod(eight_csv);
  ASSERT_EQ(native.size(), 3u);
  for (const auto& [method, row] : native) {
    EXPECT_EQ(row.at("white_level"), "255") << method;
    EXPECT_EQ(row.at("CPSNR"), eight.at(method).at("CPSNR")) << method;
  }
}

// --save at depth writes 16-bit PNG files holding the reconstruction's own
// samples; error maps stay 8-bit colour.
TEST(BenchDepth, SavedReconstructionsKeepTheirSixteenBits) {
  ScratchDir dir;
  const cv::Mat reference = DeepScene(40, 32, 1023);
  const std::string path = WritePng(dir, "deep.png", reference);
  const ProgramResult bench = RunProgram({kBench, "--depth", "native", "--white-level", "1023",
                                          "--methods", "method", "--save", dir.File("out"), path});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const cv::Mat saved = cv::imread(dir.File("out/deep.method.png"), cv::IMREAD_UNCHANGED);
  ASSERT_EQ(saved.type(), CV_16UC3);
  EXPECT_EQ(cv::norm(saved, MethodAtDepth(reference, 1023), cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::imread(dir.File("out/deep.method.err.png"), cv::IMREAD_UNCHANGED).type(), CV_8UC3);
}

// A compared method's 8-bit file against a 16-bit reference is refused for
// that method with the reason, not rescaled; its 16-bit file is measured.
TEST(BenchDepth, EightBitComparedFileAgainstDeepReferenceIsRefused) {
  ScratchDir dir;
  const cv::Mat reference = DeepScene(32, 32, 65535);
  const std::string path = WritePng(dir, "deep.png", reference);
  std::filesystem::create_directories(dir.File("wide"));
  std::filesystem::create_directories(dir.File("narrow"));
  WritePng(dir, "wide/deep.png", reference);
  cv::Mat narrow;
  reference.convertTo(narrow, CV_8UC3, 1.0 / 257.0);
  WritePng(dir, "narrow/deep.png", narrow);
  const std::string csv = dir.File("out.csv");
  const ProgramResult bench = RunProgram({kBench, "--depth", "native", "--methods", "method",
                                          "--compare", "wide=" + dir.File("wide"), "--compare",
                                          "narrow=" + dir.File("narrow"), "--csv", csv, path});
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("not measured for narrow: " + dir.File("narrow/deep.png") +
                           " has 8-bit samples, the reference 16-bit ones (white level 65535)"),
            std::string::npos)
      << bench.err;
  const auto rows = CsvRowsByMethod(csv);
  EXPECT_EQ(rows.at("wide").at("CPSNR"), "inf");
  EXPECT_EQ(rows.at("narrow").at("CPSNR"), "");
}

// --space srgb measures the curved reference against the curved
// reconstruction: the figures are the library's on those two images.
TEST(BenchDepth, SrgbSpaceMeasuresAfterTheCurve) {
  ScratchDir dir;
  const cv::Mat reference = DeepScene(40, 40, 65535);
  const std::string path = WritePng(dir, "deep.png", reference);
  const std::string csv = dir.File("srgb.csv");
  const std::string summary = dir.File("summary.json");
  const ProgramResult bench =
      RunProgram({kBench, "--depth", "native", "--space", "srgb", "--methods", "method", "--csv",
                  csv, "--summary", summary, path});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  EXPECT_NE(bench.out.find("after the sRGB transfer curve"), std::string::npos) << bench.out;
  EXPECT_NE(ReadFileBytes(summary).find(
                "\"depth\": \"native\", \"white_level\": null, \"space\": \"srgb\""),
            std::string::npos);
  cv::Mat curved_reference = reference.clone();
  cv::Mat curved_output = MethodAtDepth(reference, 65535);
  ApplySrgbCurve(MutableImageView16Of(curved_reference, 65535));
  ApplySrgbCurve(MutableImageView16Of(curved_output, 65535));
  const QualityFigures want = ComputeQuality(ImageView16Of(curved_reference, 65535),
                                             ImageView16Of(curved_output, 65535), kBorder);
  const auto row = CsvRowsByMethod(csv).at("method");
  ExpectFigures(row, want);
  // The curve changes the figures: dark errors weigh more.
  EXPECT_NE(Number(row.at("CPSNR")),
            PsnrByDefinition(reference, MethodAtDepth(reference, 65535), 65535).cpsnr);
}

// The report shows a 16-bit image at 8 bits and says so, and names the
// space of the figures.
TEST(BenchDepth, ReportSaysDeepImagesAreShownAtEightBits) {
  ScratchDir dir;
  const std::string path = WritePng(dir, "deep.png", DeepScene(40, 40, 4095));
  const ProgramResult bench =
      RunProgram({kBench, "--depth", "native", "--white-level", "4095", "--methods", "method",
                  "--space", "srgb", "--report", dir.File("report"), path});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const std::string page = ReadFileBytes(dir.File("report/index.html"));
  EXPECT_NE(page.find("white level 4095: the images are shown at 8 bits"), std::string::npos);
  EXPECT_NE(page.find("figures after the sRGB transfer curve"), std::string::npos);
  std::size_t references = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.File("report"))) {
    if (entry.path().filename() != "reference.png") continue;
    EXPECT_EQ(cv::imread(entry.path().string(), cv::IMREAD_UNCHANGED).type(), CV_8UC3);
    ++references;
  }
  EXPECT_EQ(references, 1u);
}

}  // namespace
}  // namespace demosaic::testing
