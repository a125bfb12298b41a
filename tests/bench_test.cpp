// Tests of demosaic-bench: the OpenCV baselines' Bayer layout, the summary
// arithmetic and CSV formatting, and the built tool driven end to end (its
// figures against demosaic-eval's, inputs, skips, options, the reference
// corpus).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "demosaic/demosaic.h"
#include "evaluation/image_list.h"
#include "evaluation/mat_views.h"
#include "evaluation/methods.h"
#include "report/error_map.h"
#include "report/table.h"
#include "support/run_program.h"
#include "support/sanitizer.h"
#include "support/shared_data.h"
#include "support/table_text.h"
#include "support/test_images.h"

namespace demosaic::bench {
namespace {

using demosaic::testing::Noise;
using demosaic::testing::ProgramResult;
using demosaic::testing::ReadCsv;
using demosaic::testing::ReadFileBytes;
using demosaic::testing::RunProgram;
using demosaic::testing::Scene;
using demosaic::testing::ScratchDir;
using demosaic::testing::Split;
using demosaic::testing::Words;

// ---------------------------------------------------------------- helpers

cv::Mat Flat(int width, int height, cv::Vec3b bgr) {
  return cv::Mat(height, width, CV_8UC3, cv::Scalar(bgr[0], bgr[1], bgr[2]));
}

cv::Mat MosaicOf(const cv::Mat& image, BayerPattern pattern = BayerPattern::kGRBG) {
  return SampleMosaicOf(image, pattern);
}

QualityFigures Measure(const cv::Mat& reference, const cv::Mat& reconstruction, int border) {
  return ComputeQuality(ImageViewOf(reference), ImageViewOf(reconstruction), border);
}

constexpr BayerPattern kAllPatterns[] = {BayerPattern::kGRBG, BayerPattern::kRGGB,
                                         BayerPattern::kBGGR, BayerPattern::kGBRG};

// Pixels at least `margin` from every edge that differ from `colour`.
int WrongInteriorPixels(const cv::Mat& image, cv::Vec3b colour, int margin) {
  int wrong = 0;
  for (int r = margin; r < image.rows - margin; ++r) {
    for (int c = margin; c < image.cols - margin; ++c) {
      if (image.at<cv::Vec3b>(r, c) != colour) ++wrong;
    }
  }
  return wrong;
}

std::string Write(const ScratchDir& dir, const std::string& name, const cv::Mat& image) {
  const std::string path = dir.File(name);
  if (!cv::imwrite(path, image)) throw std::runtime_error("cannot write " + path);
  return path;
}

// A table row: the first word is the image name (or "mean", "MP/s"), the
// last `figures` words are its figures.
struct Row {
  std::string name;
  std::vector<std::string> figures;
};

// The rows of demosaic-bench's standard output after the header lines.
std::vector<Row> TableRows(const std::string& out, std::size_t figures, int header_lines) {
  std::vector<Row> rows;
  const std::vector<std::string> lines = Split(out, '\n');
  for (std::size_t i = static_cast<std::size_t>(header_lines); i < lines.size(); ++i) {
    // The table ends at its first empty line; the paired comparisons follow.
    if (lines[i].empty()) break;
    const std::vector<std::string> words = Words(lines[i]);
    if (words.size() < figures + 1) continue;
    rows.push_back({words[0], std::vector<std::string>(words.end() - static_cast<long>(figures),
                                                       words.end())});
  }
  return rows;
}

const Row* FindRow(const std::vector<Row>& rows, const std::string& name) {
  for (const Row& row : rows) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

std::string TwoDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The four figures of a demosaic-eval report line, as printed.
std::vector<std::string> EvalFigures(const std::string& line) {
  std::vector<std::string> figures;
  for (const std::string& field : Split(line.substr(0, line.find('\r')), '\t')) {
    const std::size_t at = field.find(" = ");
    if (at != std::string::npos) figures.push_back(field.substr(at + 3));
  }
  return figures;
}

// -------------------------------------------------- the baselines' layout

// A flat colour has no detail to get wrong: a bilinear or edge-aware
// demosaicer reading the mosaic with the right layout gives it back exactly,
// and with any other layout mixes up the channels. Checked for every tile.
TEST(BaselineLayout, FlatColoursReproducedExactlyInsideForEveryTile) {
  const std::vector<cv::Vec3b> colours = {{30, 120, 200}, {255, 0, 0},  {0, 255, 0},
                                          {0, 0, 255},    {17, 250, 3}, {200, 10, 90}};
  for (const BayerPattern pattern : kAllPatterns) {
    for (const Method method : {Method::kBilinear, Method::kEdgeAware}) {
      for (const cv::Vec3b& colour : colours) {
        const cv::Mat reference = Flat(20, 14, colour);
        cv::Mat output;
        Reconstruct(method, pattern, MosaicOf(reference, pattern), output);
        ASSERT_EQ(output.type(), CV_8UC3);
        ASSERT_EQ(output.size(), reference.size());
        EXPECT_EQ(WrongInteriorPixels(output, colour, 2), 0)
            << MethodName(method) << " " << PatternName(pattern) << " on B,G,R " << colour;
      }
    }
  }
}

// The same check rejects the codes of every other tile, so it does prove the
// mapping (OpenCV's two-letter names, such as the name-alike BayerGR for a
// GRBG mosaic, name the tile by its second row and column).
TEST(BaselineLayout, OtherTilesCodesFailTheFlatColourCheck) {
  const cv::Vec3b colour(30, 120, 200);
  for (const BayerPattern pattern : kAllPatterns) {
    const cv::Mat mosaic = MosaicOf(Flat(20, 14, colour), pattern);
    for (const BayerPattern other : kAllPatterns) {
      if (other == pattern) continue;
      for (const Method method : {Method::kBilinear, Method::kEdgeAware}) {
        cv::Mat output;
        cv::cvtColor(mosaic, output, OpenCvBayerCode(method, other));
        EXPECT_GT(WrongInteriorPixels(output, colour, 2), 0)
            << PatternName(pattern) << " mosaic read as " << PatternName(other);
      }
    }
  }
  EXPECT_EQ(OpenCvBayerCode(Method::kBilinear, BayerPattern::kGRBG), cv::COLOR_BayerGB2BGR);
}

// On arbitrary content, bilinear keeps each site's own sample in the channel
// our filter passes there.
TEST(BaselineLayout, BilinearKeepsEverySiteSampleInItsChannel) {
  const cv::Mat reference = Noise(24, 18, 7);
  const cv::Mat mosaic = MosaicOf(reference);
  cv::Mat output;
  Reconstruct(Method::kBilinear, BayerPattern::kGRBG, mosaic, output);
  for (int r = 1; r < reference.rows - 1; ++r) {
    for (int c = 1; c < reference.cols - 1; ++c) {
      const CfaClass cls = CfaClassOf(BayerPattern::kGRBG, r, c);
      const int channel = cls == kR ? 2 : (cls == kB ? 0 : 1);
      ASSERT_EQ(int{output.at<cv::Vec3b>(r, c)[channel]}, int{mosaic.at<std::uint8_t>(r, c)})
          << "row " << r << ", column " << c;
    }
  }
}

// ------------------------------------------------ summaries and formatting

ImageResult Result(const std::string& name, int width, int height,
                   std::vector<QualityFigures> figures, std::vector<double> milliseconds) {
  ImageResult result{name, width, height, {}};
  for (std::size_t m = 0; m < figures.size(); ++m) {
    MethodOutcome outcome;
    outcome.figures.psnr = figures[m];
    outcome.milliseconds = milliseconds[m];
    result.methods.push_back(outcome);
  }
  return result;
}

TableLayout Layout(std::vector<MethodColumn> methods, bool detail,
                   const std::vector<std::string>& names, MetricSet metrics = {},
                   BayerPattern pattern = BayerPattern::kGRBG, int border = 3) {
  return MakeTableLayout(methods, metrics, detail, pattern, border, names);
}

// Papers average the per-image dB figures; the PSNR of the pooled error of
// 20 dB and 40 dB images would be about 23 dB, not 30.
TEST(MeanRow, IsTheMeanOfThePerImageDecibels) {
  const std::vector<ImageResult> images = {
      Result("a", 8, 8, {{20, 22, 24, 21}, {30, 30, 30, 30}}, {1, 1}),
      Result("b", 8, 8, {{40, 44, 48, 41}, {31, 32, 33, 34}}, {1, 1}),
      Result("c", 8, 8, {{30, 33, 36, 31}, {32, 34, 36, 38}}, {1, 1})};
  const std::vector<std::optional<MethodFigures>> means = MeanFigures(images);
  ASSERT_EQ(means.size(), 2u);
  ASSERT_TRUE(means[0] && means[1]);
  EXPECT_DOUBLE_EQ(means[0]->psnr.psnr_r, 30.0);
  EXPECT_DOUBLE_EQ(means[0]->psnr.psnr_g, 33.0);
  EXPECT_DOUBLE_EQ(means[0]->psnr.psnr_b, 36.0);
  EXPECT_DOUBLE_EQ(means[0]->psnr.cpsnr, 31.0);
  EXPECT_DOUBLE_EQ(means[1]->psnr.psnr_r, 31.0);
  EXPECT_DOUBLE_EQ(means[1]->psnr.cpsnr, 34.0);
}

TEST(MeanRow, AnExactImageMakesTheMeanInfinite) {
  const double inf = INFINITY;
  const std::vector<ImageResult> images = {Result("a", 8, 8, {{inf, inf, inf, inf}}, {1}),
                                           Result("b", 8, 8, {{20, 30, 40, 25}}, {1})};
  const QualityFigures mean = MeanFigures(images)[0]->psnr;
  EXPECT_TRUE(std::isinf(mean.cpsnr) && mean.cpsnr > 0);
  const TableLayout layout = Layout({{"method"}}, false, {"a", "b"});
  EXPECT_EQ(Words(FormatMeanRow(layout, images)).back(), "inf");
}

// Throughput is all pixels over all time, not the mean of per-image rates
// (which would be 66.7 here).
TEST(ThroughputRow, IsTotalPixelsOverTotalTime) {
  const std::vector<ImageResult> images = {Result("a", 1000, 1000, {{}}, {10.0}),
                                           Result("b", 1000, 1000, {{}}, {30.0})};
  const TableLayout layout = Layout({{"method"}}, true, {"a", "b"});
  ASSERT_TRUE(Throughput(layout, images)[0].has_value());
  EXPECT_DOUBLE_EQ(*Throughput(layout, images)[0], 50.0);
  const std::string row = FormatThroughputRow(layout, images);
  EXPECT_EQ(Words(row), (std::vector<std::string>{"MP/s", "50.0"}));
}

// A method measured on only some images (a compared method with a file
// missing) shows "-" there, has no mean and no throughput, and leaves its
// CSV fields empty; the other methods are unaffected.
TEST(MissingCells, ShowDashesHaveNoMeanAndEmptyCsvFields) {
  std::vector<ImageResult> images = {
      Result("a", 8, 8, {{20, 22, 24, 21}, {30, 30, 30, 30}}, {1, 0}),
      Result("b", 8, 8, {{40, 44, 48, 41}, {31, 32, 33, 34}}, {1, 0})};
  images[1].methods[1].measured = false;
  const TableLayout layout = Layout({{"method"}, {"mine", false}}, false, {"a", "b"});
  EXPECT_EQ(Words(FormatImageRow(layout, images[1])),
            (std::vector<std::string>{"b", "8", "x", "8", "41.00", "-"}));
  EXPECT_EQ(Words(FormatMeanRow(layout, images)),
            (std::vector<std::string>{"mean", "2", "images", "31.00", "-"}));
  EXPECT_EQ(Words(FormatThroughputRow(layout, images)),
            (std::vector<std::string>{"MP/s", "0.1", "-"}));  // 128 pixels in 2 ms
  EXPECT_EQ(CsvLines(layout, images[1]),
            "b,8,8,method,40,44,48,41,1,GRBG,3,none,255\nb,8,8,mine,,,,,,GRBG,3,none,255\n");
}

// Metrics beyond PSNR get a column each, in the table with their own
// decimals and in the CSV after the PSNR columns.
TEST(MetricColumns, FollowTheMetricsAskedFor) {
  ImageResult image = Result("a", 8, 8, {{20, 22, 24, 21}}, {1});
  image.methods[0].figures.ssim = 0.91234;
  image.methods[0].figures.zipper = 0.125;
  MetricSet metrics;
  metrics.ssim = true;
  metrics.zipper = true;
  const TableLayout layout = Layout({{"method"}}, false, {"a"}, metrics);
  EXPECT_EQ(Words(FormatTableHeader(layout)).back(), "zipper");
  EXPECT_EQ(Words(FormatImageRow(layout, image)),
            (std::vector<std::string>{"a", "8", "x", "8", "21.00", "0.9123", "0.1250"}));
  EXPECT_EQ(CsvHeader(layout),
            "image,width,height,method,PSNR_R,PSNR_G,PSNR_B,CPSNR,SSIM,zipper,milliseconds,"
            "pattern,border,noise,white_level\n");
  EXPECT_EQ(CsvLines(layout, image), "a,8,8,method,20,22,24,21,0.91234,0.125,1,GRBG,3,none,255\n");
}

// A 16-bit pair holding 257 times an 8-bit pair's values at white level
// 65535 draws the 8-bit pair's error map: errors are scaled by the white
// level. Its 8-bit rendering rounds v * 255 / W to nearest.
TEST(DeepImages, ErrorMapAndRenderingScaleByTheWhiteLevel) {
  cv::Mat reference(12, 12, CV_8UC3, cv::Scalar(100, 100, 100));
  cv::Mat reconstruction = reference.clone();
  reconstruction.at<cv::Vec3b>(4, 4) = {120, 90, 100};
  reconstruction.at<cv::Vec3b>(6, 7) = {255, 0, 100};
  cv::Mat wide_reference;
  cv::Mat wide_reconstruction;
  reference.convertTo(wide_reference, CV_16UC3, 257.0);
  reconstruction.convertTo(wide_reconstruction, CV_16UC3, 257.0);
  const cv::Mat narrow_map = MakeErrorMap(reference, reconstruction, 3);
  const cv::Mat wide_map = MakeErrorMap(wide_reference, wide_reconstruction, 3, 65535);
  EXPECT_EQ(cv::norm(narrow_map, wide_map, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::norm(EightBitRendering(wide_reconstruction, 65535), reconstruction, cv::NORM_INF),
            0.0);
  // At W = 4095: 0 -> 0, 4095 -> 255, 8 -> 0.498 -> 0, 9 -> 0.56 -> 1, 2047 -> 127.47 -> 127.
  cv::Mat twelve(1, 2, CV_16UC3);
  twelve.at<cv::Vec3w>(0, 0) = {0, 4095, 8};
  twelve.at<cv::Vec3w>(0, 1) = {9, 2047, 2048};
  const cv::Mat shown = EightBitRendering(twelve, 4095);
  EXPECT_EQ(shown.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(shown.at<cv::Vec3b>(0, 1), cv::Vec3b(1, 127, 128));
}

TEST(CsvFormat, NumbersReadBackExactly) {
  for (const double value : {1.0 / 3.0, 36.088226974998086, 1e-7, 123456789.125, 0.0}) {
    EXPECT_EQ(std::strtod(FullPrecision(value).c_str(), nullptr), value) << FullPrecision(value);
  }
  EXPECT_EQ(FullPrecision(INFINITY), "inf");
}

TEST(CsvFormat, NamesWithCommasOrQuotesAreQuoted) {
  const ImageResult image = Result("a,\"b\".png", 9, 8, {{1, 2, 3, 4}}, {5});
  const TableLayout layout =
      Layout({{"bilinear"}}, false, {image.name}, {}, BayerPattern::kRGGB, 10);
  EXPECT_EQ(CsvLines(layout, image),
            "\"a,\"\"b\"\".png\",9,8,bilinear,1,2,3,4,5,RGGB,10,none,255\n");
}

// A tab or a line break in a file name must not split the name into
// fields or lines for a CSV reader; edge spaces must survive readers that
// trim.
TEST(CsvFormat, NamesWithTabsLineBreaksOrEdgeSpacesAreQuoted) {
  const TableLayout layout = Layout({{"bilinear"}}, false, {"x"});
  const auto first_field = [&](const std::string& name) {
    const std::string line = CsvLines(layout, Result(name, 9, 8, {{1, 2, 3, 4}}, {5}));
    return line.substr(
        0, line.size() - std::string(",9,8,bilinear,1,2,3,4,5,GRBG,3,none,255\n").size());
  };
  EXPECT_EQ(first_field("a\tb.png"), "\"a\tb.png\"");
  EXPECT_EQ(first_field("a\nb.png"), "\"a\nb.png\"");
  EXPECT_EQ(first_field("a\rb.png"), "\"a\rb.png\"");
  EXPECT_EQ(first_field(" a.png"), "\" a.png\"");
  EXPECT_EQ(first_field("a.png "), "\"a.png \"");
  EXPECT_EQ(first_field("a b.png"), "a b.png");
}

// ------------------------------------------------------------- error map

TEST(ErrorMap, ScalesThirtyTwoLevelsToTheTopAndBlacksOutTheFrame) {
  cv::Mat reference = Flat(12, 10, {100, 100, 100});
  cv::Mat reconstruction = reference.clone();
  reconstruction.at<cv::Vec3b>(4, 4) = {132, 132, 132};  // 32 levels in every channel
  reconstruction.at<cv::Vec3b>(4, 5) = {200, 200, 200};  // beyond full scale
  reconstruction.at<cv::Vec3b>(5, 4) = {116, 100, 84};   // RMS over channels: 16/sqrt(1.5)
  reconstruction.at<cv::Vec3b>(0, 0) = {0, 0, 0};        // in the frame

  cv::Mat scale(1, 256, CV_8UC1);
  for (int i = 0; i < 256; ++i) scale.at<std::uint8_t>(0, i) = static_cast<std::uint8_t>(i);
  cv::Mat colours;
  cv::applyColorMap(scale, colours, cv::COLORMAP_VIRIDIS);
  const auto level = [&](int i) { return colours.at<cv::Vec3b>(0, i); };

  const cv::Mat map = MakeErrorMap(reference, reconstruction, 3);
  ASSERT_EQ(map.size(), reference.size());
  ASSERT_EQ(map.type(), CV_8UC3);
  EXPECT_EQ(map.at<cv::Vec3b>(3, 3), level(0));
  EXPECT_EQ(map.at<cv::Vec3b>(4, 4), level(255));
  EXPECT_EQ(map.at<cv::Vec3b>(4, 5), level(255));
  const int expected = static_cast<int>(std::lround(std::sqrt(512.0 / 3.0) * 255.0 / 32.0));
  EXPECT_EQ(map.at<cv::Vec3b>(5, 4), level(expected));
  for (int r = 0; r < map.rows; ++r) {
    for (int c = 0; c < map.cols; ++c) {
      const bool frame = r < 3 || c < 3 || r >= map.rows - 3 || c >= map.cols - 3;
      if (frame) {
        EXPECT_EQ(map.at<cv::Vec3b>(r, c), cv::Vec3b(0, 0, 0)) << r << "," << c;
      }
    }
  }
  EXPECT_NE(level(0), cv::Vec3b(0, 0, 0)) << "the frame must stand out from zero error";
}

// ------------------------------------------------------------ input lists

// A link named like an image that leads nowhere is listed, in name order,
// with its error, so that the run reports and skips it instead of quietly
// measuring fewer images.
TEST(ImageList, BrokenAndLoopingLinksAreListedWithTheirError) {
  ScratchDir dir;
  std::ofstream(dir.File("b.png")) << "x";
  std::filesystem::create_symlink("gone.png", dir.File("a.png"));
  std::filesystem::create_symlink("loop2.png", dir.File("loop1.png"));
  std::filesystem::create_symlink("loop1.png", dir.File("loop2.png"));
  std::filesystem::create_symlink("gone.txt", dir.File("notes.txt"));
  std::filesystem::create_symlink("gone.png", dir.File(".hidden.png"));
  const std::vector<InputFile> files = ExpandPaths({dir.path});
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].name, "a.png");
  EXPECT_EQ(files[0].error, "symbolic link to a missing file");
  EXPECT_EQ(files[1].name, "b.png");
  EXPECT_EQ(files[1].error, "");
  EXPECT_EQ(files[2].name, "loop1.png");
  EXPECT_EQ(files[2].error, "symbolic link loop");
  EXPECT_EQ(files[3].name, "loop2.png");
}

TEST(SaveNames, NoTwoImagesShareOutputNames) {
  const std::vector<InputFile> files = {{"x/a.png", "a.png", ""},
                                        {"x/a.tif", "a.tif", ""},
                                        {"y/a.png", "a.png", ""},
                                        {"z/a.png", "a.png", ""},
                                        {"x/b.png", "b.png", ""}};
  EXPECT_EQ(SaveNames(files), (std::vector<std::string>{"a", "a.tif", "a.png", "a.png-2", "b"}));
}

// ------------------------------------------------------ the tool, end to end

const std::string kBench = DEMOSAIC_BENCH_BINARY;
const std::string kEval = DEMOSAIC_EVAL_BINARY;

// demosaic-bench's figures for the method are the very ones demosaic-eval
// reports for the same file, in the table, the detail columns and the CSV.
TEST(BenchTool, MethodFiguresEqualDemosaicEvalReport) {
  ScratchDir dir;
  const std::vector<std::string> images = {Write(dir, "scene.png", Scene(64, 48)),
                                           Write(dir, "noise.png", Noise(31, 27, 3)),
                                           Write(dir, "flat.png", Flat(9, 8, {5, 6, 7}))};
  const std::string csv = dir.File("out.csv");
  std::vector<std::string> argv = {kBench, "--detail", "--csv", csv};
  argv.insert(argv.end(), images.begin(), images.end());
  const ProgramResult bench = RunProgram(argv);
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const std::vector<Row> rows = TableRows(bench.out, 12, 3);
  const std::vector<std::vector<std::string>> lines = ReadCsv(csv);

  for (const std::string& image : images) {
    const ProgramResult eval = RunProgram({kEval, image, dir.File("eval-out.png")});
    ASSERT_EQ(eval.exit_status, 0) << eval.out;
    const std::vector<std::string> expected = EvalFigures(eval.out);
    ASSERT_EQ(expected.size(), 4u) << eval.out;

    const std::string name = std::filesystem::path(image).filename().string();
    const Row* row = FindRow(rows, name);
    ASSERT_NE(row, nullptr) << name << " missing from\n" << bench.out;
    EXPECT_EQ(std::vector<std::string>(row->figures.begin(), row->figures.begin() + 4), expected)
        << name;
    bool found = false;
    for (const std::vector<std::string>& line : lines) {
      if (line.size() != 13 || line[0] != name || line[3] != "method") continue;
      found = true;
      for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(TwoDecimals(std::strtod(line[4 + k].c_str(), nullptr)), expected[k]) << name;
      }
    }
    EXPECT_TRUE(found) << name << " has no CSV line for the method";
  }
}

TEST(BenchTool, SavedReconstructionIsDemosaicEvalsAndErrorMapIsWritten) {
  ScratchDir dir;
  const std::string image = Write(dir, "scene.png", Scene(40, 30));
  const std::string out_dir = dir.File("out/sub");  // created by the tool
  const ProgramResult bench = RunProgram({kBench, "--save", out_dir, image});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const ProgramResult eval = RunProgram({kEval, image, dir.File("eval.png")});
  ASSERT_EQ(eval.exit_status, 0);
  EXPECT_EQ(ReadFileBytes(out_dir + "/scene.method.png"), ReadFileBytes(dir.File("eval.png")));
  for (const char* method : {"method", "bilinear", "edge-aware"}) {
    const cv::Mat saved = cv::imread(out_dir + "/scene." + method + ".png", cv::IMREAD_UNCHANGED);
    const cv::Mat error = cv::imread(out_dir + "/scene." + method + ".err.png");
    EXPECT_EQ(saved.size(), cv::Size(40, 30)) << method;
    ASSERT_EQ(error.size(), cv::Size(40, 30)) << method;
    EXPECT_EQ(error.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0)) << method;
  }
  // The saved bilinear image is what the measured figures describe.
  const cv::Mat reference = cv::imread(image);
  const cv::Mat bilinear = cv::imread(out_dir + "/scene.bilinear.png");
  const std::vector<Row> rows = TableRows(bench.out, 3, 2);
  ASSERT_NE(FindRow(rows, "scene.png"), nullptr);
  EXPECT_EQ(FindRow(rows, "scene.png")->figures[1],
            TwoDecimals(Measure(reference, bilinear, 3).cpsnr));
}

TEST(BenchTool, CsvHasTheNamedColumnsOneLinePerImageAndMethodAndFullPrecision) {
  ScratchDir dir;
  const cv::Mat noise = Noise(33, 21, 11);
  const std::string noise_path = Write(dir, "noise.png", noise);
  const std::string flat_path = Write(dir, "flat.png", Flat(16, 12, {40, 90, 160}));
  const std::string csv = dir.File("figures.csv");
  // The LIST is one argument: the paths after it are not taken for methods.
  const ProgramResult bench = RunProgram({kBench, "--border", "4", "--csv", csv, "--methods",
                                          "bilinear,method", noise_path, flat_path});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const std::string text = ReadFileBytes(csv);
  ASSERT_TRUE(text.starts_with(
      "image,width,height,method,PSNR_R,PSNR_G,PSNR_B,CPSNR,milliseconds,pattern,border,noise,"
      "white_level\n"))
      << text;
  const std::vector<std::vector<std::string>> lines = ReadCsv(csv);
  ASSERT_EQ(lines.size(), 5u) << text;
  const std::vector<std::pair<std::string, std::string>> order = {{"noise.png", "bilinear"},
                                                                  {"noise.png", "method"},
                                                                  {"flat.png", "bilinear"},
                                                                  {"flat.png", "method"}};
  for (std::size_t i = 0; i < order.size(); ++i) {
    ASSERT_EQ(lines[i + 1].size(), 13u) << text;
    EXPECT_EQ(lines[i + 1][0], order[i].first);
    EXPECT_EQ(lines[i + 1][3], order[i].second);
    EXPECT_GE(std::strtod(lines[i + 1][8].c_str(), nullptr), 0.0);
    EXPECT_EQ(lines[i + 1][9], "GRBG");
    EXPECT_EQ(lines[i + 1][10], "4");
    EXPECT_EQ(lines[i + 1][11], "none");
  }
  EXPECT_EQ(lines[1][1], "33");
  EXPECT_EQ(lines[1][2], "21");

  // Every digit: the figures are exactly those of the measurement itself.
  cv::Mat bilinear;
  cv::cvtColor(MosaicOf(noise), bilinear, cv::COLOR_BayerGRBG2BGR);
  const QualityFigures expected = Measure(noise, bilinear, 4);
  EXPECT_EQ(std::strtod(lines[1][4].c_str(), nullptr), expected.psnr_r);
  EXPECT_EQ(std::strtod(lines[1][5].c_str(), nullptr), expected.psnr_g);
  EXPECT_EQ(std::strtod(lines[1][6].c_str(), nullptr), expected.psnr_b);
  EXPECT_EQ(std::strtod(lines[1][7].c_str(), nullptr), expected.cpsnr);

  // A flat colour comes back exactly: every figure is infinite.
  for (std::size_t k = 4; k < 8; ++k) {
    EXPECT_EQ(lines[3][k], "inf");
    EXPECT_EQ(lines[4][k], "inf");
  }
}

// The mean row shows the mean of the full-precision per-image figures.
TEST(BenchTool, MeanRowIsTheMeanOfTheImageFigures) {
  ScratchDir dir;
  std::vector<std::string> argv = {kBench, "--detail", "--csv", dir.File("f.csv")};
  for (int i = 0; i < 4; ++i) {
    argv.push_back(Write(dir, "scene" + std::to_string(i) + ".png", Scene(30 + 7 * i, 26 + i)));
  }
  argv.push_back(Write(dir, "noise.png", Noise(25, 19, 5)));
  const ProgramResult bench = RunProgram(argv);
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  std::map<std::string, std::vector<double>> sums;
  for (const std::vector<std::string>& line : ReadCsv(dir.File("f.csv"))) {
    if (line[0] == "image") continue;
    std::vector<double>& sum = sums[line[3]];
    sum.resize(4, 0.0);
    for (std::size_t k = 0; k < 4; ++k) sum[k] += std::strtod(line[4 + k].c_str(), nullptr);
  }
  const std::vector<Row> rows = TableRows(bench.out, 12, 3);
  const Row* mean = FindRow(rows, "mean");
  ASSERT_NE(mean, nullptr) << bench.out;
  const std::vector<std::string> methods = {"method", "bilinear", "edge-aware"};
  for (std::size_t m = 0; m < methods.size(); ++m) {
    for (std::size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(mean->figures[4 * m + k], TwoDecimals(sums[methods[m]][k] / 5.0))
          << methods[m] << " figure " << k;
    }
  }
  EXPECT_NE(bench.out.find(" 5 images "), std::string::npos) << "mean row counts its images";
}

// A directory gives its images in name order, leaving out other files,
// hidden files and subdirectories; an unreadable image is named, skipped
// and makes the exit status non-zero, the others are still measured.
TEST(BenchTool, DirectoryExpandedInNameOrderAndUnreadableImageSkipped) {
  ScratchDir dir;
  const std::string set = dir.File("set");
  std::filesystem::create_directories(set + "/nested");
  cv::imwrite(set + "/b.png", Scene(20, 16));
  cv::imwrite(set + "/a.png", Scene(18, 16));
  cv::imwrite(set + "/c.TIF", Scene(16, 20));
  cv::imwrite(set + "/.hidden.png", Scene(16, 16));
  cv::imwrite(set + "/nested/d.png", Scene(16, 16));
  std::ofstream(set + "/notes.txt") << "not an image";
  std::ofstream(set + "/broken.png") << "not a PNG at all";

  const ProgramResult bench = RunProgram({kBench, "--csv", dir.File("f.csv"), set});
  EXPECT_EQ(bench.exit_status, 1);
  std::vector<std::string> names;
  for (const Row& row : TableRows(bench.out, 3, 2)) names.push_back(row.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.png", "b.png", "c.TIF", "mean", "MP/s"}))
      << bench.out;
  EXPECT_NE(bench.err.find("broken.png"), std::string::npos) << bench.err;
  EXPECT_NE(bench.err.find("3 images measured, 1 skipped"), std::string::npos) << bench.err;
  EXPECT_EQ(bench.err.find("notes.txt"), std::string::npos) << bench.err;
  EXPECT_EQ(ReadCsv(dir.File("f.csv")).size(), 1u + 3u * 3u) << "the measured images are kept";
}

TEST(BenchTool, AllMeasuredExitsZeroWithoutProgressOffTerminal) {
  ScratchDir dir;
  const ProgramResult bench = RunProgram({kBench, Write(dir, "a.png", Scene(16, 16))});
  EXPECT_EQ(bench.exit_status, 0);
  // Standard error is a file here: only the summary line, no progress.
  EXPECT_EQ(bench.err, "demosaic-bench: 1 image measured, 0 skipped\n");
  EXPECT_NE(bench.out.find("GRBG"), std::string::npos);
  EXPECT_NE(bench.out.find("at least 3 from every edge"), std::string::npos);
}

TEST(BenchTool, MissingFileIsSkippedAndNamed) {
  ScratchDir dir;
  const ProgramResult bench =
      RunProgram({kBench, dir.File("absent.png"), Write(dir, "a.png", Scene(16, 16))});
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("1 image measured, 1 skipped: " + dir.File("absent.png")),
            std::string::npos)
      << bench.err;
}

TEST(BenchTool, ImagesTooSmallForTheMethodOrTheBorderAreSkippedWithTheReason) {
  ScratchDir dir;
  const std::string narrow = Write(dir, "narrow.png", Scene(6, 9));
  const std::string smallest = Write(dir, "smallest.png", Noise(7, 7, 1));
  const ProgramResult at3 = RunProgram({kBench, narrow, smallest});
  EXPECT_EQ(at3.exit_status, 1);
  EXPECT_NE(at3.err.find("narrow.png: skipped, too small: at least 7 x 7"), std::string::npos)
      << at3.err;
  EXPECT_NE(FindRow(TableRows(at3.out, 3, 2), "smallest.png"), nullptr) << at3.out;

  const std::string medium = Write(dir, "medium.png", Scene(21, 20));
  const ProgramResult at10 = RunProgram({kBench, "--border", "10", medium});
  EXPECT_EQ(at10.exit_status, 1);
  EXPECT_NE(at10.err.find("medium.png: skipped, too small for --border 10: at least 21 x 21"),
            std::string::npos)
      << at10.err;
}

// An image the memory left cannot take is skipped with the reason, as
// demosaic-eval refuses it, and the run goes on with the next one.
TEST(BenchTool, ImageTooLargeForTheMemoryLeftIsSkipped) {
  if (demosaic::testing::kAddressSanitizer)
    GTEST_SKIP() << "address-space limit impossible under the address sanitizer";
  ScratchDir dir;
  const std::string big = Write(dir, "big.png", Flat(6000, 6000, {10, 20, 30}));
  const std::string small = Write(dir, "small.png", Scene(40, 30));
  // 400 MB of address space, of which the program and its libraries take
  // about 200 MB and each job thread more: 36 megapixels need 250 MB. (At 16
  // megapixels whether the image fitted depended on when the second job
  // thread took its memory.)
  const ProgramResult bench =
      RunProgram({"/bin/sh", "-c", "ulimit -v 400000 && exec \"$0\" \"$@\"", kBench, big, small});
  EXPECT_EQ(bench.exit_status, 1) << bench.err;
  EXPECT_NE(bench.err.find("big.png: skipped, not enough memory"), std::string::npos) << bench.err;
  const std::vector<Row> rows = TableRows(bench.out, 3, 2);
  EXPECT_NE(FindRow(rows, "small.png"), nullptr) << bench.out;
  EXPECT_EQ(FindRow(rows, "big.png"), nullptr) << bench.out;
}

// Exit status 2 and a message naming the problem, before any image is read.
TEST(BenchTool, BadCommandLinesExitWithStatusTwo) {
  ScratchDir dir;
  const std::string image = Write(dir, "a.png", Scene(16, 16));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{kBench, "--frobnicate", image}, "--frobnicate"},
      {{kBench}, "PATH"},
      {{kBench, "--border", "2", image}, "at least 3"},
      {{kBench, "--border", "wide", image}, "wide"},
      {{kBench, "--methods", "vng", image}, "unknown method 'vng'"},
      {{kBench, "--methods", "method,bilinear,method", image}, "listed twice"},
      {{kBench, image, "--csv"}, "--csv"},
      {{kBench, "--csv", dir.File("no/such/dir/f.csv"), image}, "does not exist"},
      {{kBench, "--csv", image, image}, "is one of the images"},
  };
  const std::string before = ReadFileBytes(image);
  for (const auto& [argv, message] : cases) {
    const ProgramResult run = RunProgram(argv);
    EXPECT_EQ(run.exit_status, 2) << argv.back() << ": " << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << "nothing measured for a bad command line";
  }
  EXPECT_EQ(ReadFileBytes(image), before) << "--csv must not overwrite an image";
}

TEST(BenchTool, HelpDescribesEveryOption) {
  const ProgramResult help = RunProgram({kBench, "--help"});
  EXPECT_EQ(help.exit_status, 0);
  for (const char* option : {"PATH", "--methods", "--border", "--detail", "--csv", "--save"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

// ------------------------------------------------- the reference corpus

std::string CorpusDir() {
  return testing::SharedDataDir("DEMOSAIC_CONFORMANCE_DIR", DEMOSAIC_CONFORMANCE_DIR);
}

// Over the corpus the method's column is the CPSNR of the reference table.
TEST(BenchConformance, MethodColumnEqualsExpectedCpsnr) {
  const std::filesystem::path corpus = CorpusDir();
  if (corpus.empty() || !std::filesystem::exists(corpus / "expected.tsv")) {
    GTEST_SKIP() << "conformance corpus not found (DEMOSAIC_CONFORMANCE_DIR='" << CorpusDir()
                 << "'): demosaic-bench was NOT checked against it";
  }
  const ProgramResult bench = RunProgram({kBench, (corpus / "input").string()});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const std::vector<Row> rows = TableRows(bench.out, 3, 2);
  std::size_t checked = 0;
  const std::vector<std::string> table =
      Split(ReadFileBytes((corpus / "expected.tsv").string()), '\n');
  for (std::size_t i = 1; i < table.size(); ++i) {
    std::string line = table[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> fields = Split(line, '\t');
    ASSERT_EQ(fields.size(), 5u) << line;
    const Row* row = FindRow(rows, fields[0]);
    ASSERT_NE(row, nullptr) << fields[0] << " not listed";
    EXPECT_EQ(row->figures[0], fields[4]) << fields[0];
    ++checked;
  }
  EXPECT_EQ(checked, 43u);
  EXPECT_EQ(rows.size(), 43u + 2u) << "43 images, the mean row and the throughput row";
}

}  // namespace
}  // namespace demosaic::bench
