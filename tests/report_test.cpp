// Tests of demosaic-bench's HTML report without a browser: the region it
// magnifies, the names and contents of its image files, the page's text
// (escaping, the files it refers to, no network), and --report through the
// built tool (where it may write, what it refuses).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "report/error_map.h"
#include "report/html_report.h"
#include "report/report_chart.h"
#include "report/report_columns.h"
#include "report/report_images.h"
#include "report/report_page.h"
#include "support/run_program.h"
#include "support/test_images.h"

namespace demosaic::bench {
namespace {

using demosaic::testing::Noise;
using demosaic::testing::ProgramResult;
using demosaic::testing::ReadFileBytes;
using demosaic::testing::RunProgram;
using demosaic::testing::Scene;
using demosaic::testing::ScratchDir;

constexpr const char* kBench = DEMOSAIC_BENCH_BINARY;

// The window search done the slow, obvious way: every position, every pixel.
Region BruteForceWindow(const cv::Mat& a, const cv::Mat& b, int border, int side) {
  const int w = std::min(side, a.cols - 2 * border);
  const int h = std::min(side, a.rows - 2 * border);
  Region best{border, border, w, h};
  std::int64_t best_sum = -1;
  for (int y = border; y + h <= a.rows - border; ++y) {
    for (int x = border; x + w <= a.cols - border; ++x) {
      std::int64_t sum = 0;
      for (int r = y; r < y + h; ++r) {
        for (int c = x; c < x + w; ++c) {
          for (int k = 0; k < 3; ++k) {
            const int d = a.at<cv::Vec3b>(r, c)[k] - b.at<cv::Vec3b>(r, c)[k];
            sum += d * d;
          }
        }
      }
      if (sum > best_sum) {
        best_sum = sum;
        best.x = x;
        best.y = y;
      }
    }
  }
  return best;
}

bool Same(const Region& a, const Region& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

std::string Describe(const Region& r) {
  return std::to_string(r.width) + "x" + std::to_string(r.height) + " at " + std::to_string(r.x) +
         "," + std::to_string(r.y);
}

bool Identical(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

MethodOutcome Outcome(double cpsnr) {
  MethodOutcome outcome;
  outcome.figures = {cpsnr + 1, cpsnr + 2, cpsnr - 1, cpsnr};
  return outcome;
}

// The src and href attribute values of an HTML text.
std::vector<std::string> References(const std::string& html) {
  std::vector<std::string> found;
  const std::regex attribute(R"re((?:src|href)="([^"]*)")re");
  for (std::sregex_iterator it(html.begin(), html.end(), attribute), end; it != end; ++it) {
    found.push_back((*it)[1]);
  }
  return found;
}

// --------------------------------------------------- the magnified region

TEST(LargestErrorWindow, FirstWindowInRowOrderHoldingTheOnlyError) {
  const cv::Mat reference(16, 20, CV_8UC3, cv::Scalar(50, 60, 70));
  cv::Mat output = reference.clone();
  output.at<cv::Vec3b>(8, 10) = cv::Vec3b(90, 60, 70);
  // Every 4 x 4 window holding (10, 8) has the same sum: the topmost, then
  // leftmost, starts at (7, 5).
  EXPECT_TRUE(Same(LargestErrorWindow(reference, output, 3, 4), Region{7, 5, 4, 4}));
}

TEST(LargestErrorWindow, LargerSumWinsWhereverItIs) {
  const cv::Mat reference(40, 40, CV_8UC3, cv::Scalar::all(100));
  cv::Mat output = reference.clone();
  output(cv::Rect(5, 5, 3, 3)).setTo(cv::Scalar::all(110));    // 9 pixels off by 10
  output(cv::Rect(30, 28, 2, 2)).setTo(cv::Scalar::all(140));  // 4 pixels off by 40
  const Region region = LargestErrorWindow(reference, output, 3, 4);
  EXPECT_LE(region.x, 30);
  EXPECT_GE(region.x + region.width, 32);
  EXPECT_LE(region.y, 28);
  EXPECT_GE(region.y + region.height, 30);
}

TEST(LargestErrorWindow, ErrorsInTheUnmeasuredFrameAreIgnored) {
  const cv::Mat reference(16, 20, CV_8UC3, cv::Scalar::all(0));
  cv::Mat output = reference.clone();
  output.row(0).setTo(cv::Scalar::all(255));
  output.col(19).setTo(cv::Scalar::all(255));
  // The interior agrees everywhere: the centred window.
  EXPECT_TRUE(Same(LargestErrorWindow(reference, output, 3, 4), Region{8, 6, 4, 4}));
}

TEST(LargestErrorWindow, WindowShrinksToAnInteriorSmallerThanIt) {
  const cv::Mat reference = Noise(30, 9, 1);
  const cv::Mat output = Noise(30, 9, 2);
  EXPECT_TRUE(Same(LargestErrorWindow(reference, output, 3, 64), Region{3, 3, 24, 3}));
  const cv::Mat tiny = Noise(7, 7, 3);
  EXPECT_TRUE(Same(LargestErrorWindow(tiny, Noise(7, 7, 4), 3, 64), Region{3, 3, 1, 1}));
}

TEST(LargestErrorWindow, AgreesWithTheBruteForceSearch) {
  struct Case {
    int width, height, border, side;
  };
  for (const Case& c : {Case{37, 23, 3, 8}, Case{41, 41, 5, 16}, Case{64, 20, 3, 64},
                        Case{25, 60, 10, 4}, Case{12, 12, 3, 1}}) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      const cv::Mat a = Noise(c.width, c.height, seed);
      // Sparse errors, so that sums differ from place to place.
      cv::Mat b = a.clone();
      cv::RNG rng(seed * 77);
      for (int k = 0; k < c.width * c.height / 8; ++k) {
        b.at<cv::Vec3b>(rng.uniform(0, c.height), rng.uniform(0, c.width)) =
            cv::Vec3b(static_cast<std::uint8_t>(rng.uniform(0, 256)), 0, 0);
      }
      const Region fast = LargestErrorWindow(a, b, c.border, c.side);
      const Region slow = BruteForceWindow(a, b, c.border, c.side);
      EXPECT_TRUE(Same(fast, slow))
          << c.width << "x" << c.height << " border " << c.border << " side " << c.side << ": "
          << Describe(fast) << " vs " << Describe(slow);
    }
  }
}

TEST(Magnification, BringsTheRegionToAboutTheCropSide) {
  EXPECT_EQ(Magnification({0, 0, 64, 64}), 4);
  EXPECT_EQ(Magnification({0, 0, 64, 20}), 4);
  EXPECT_EQ(Magnification({0, 0, 100, 3}), 2);
  EXPECT_EQ(Magnification({0, 0, 1, 1}), 256);
  EXPECT_EQ(Magnification({0, 0, 300, 300}), 1);
}

TEST(WorstMethod, IsTheLowestCpsnrFirstAmongEquals) {
  EXPECT_EQ(WorstMethod({Outcome(30), Outcome(25), Outcome(28)}), 1u);
  EXPECT_EQ(WorstMethod({Outcome(25), Outcome(25)}), 0u);
  EXPECT_EQ(WorstMethod({Outcome(INFINITY), Outcome(40)}), 1u);
}

// ------------------------------------------------------------ file names

TEST(ImageFolderName, NumberedInInputOrderAndSafeInAUrl) {
  EXPECT_EQ(ImageFolderName(0, 3, "kodim01"), "001-kodim01");
  EXPECT_EQ(ImageFolderName(41, 1200, "x"), "0042-x");
  EXPECT_EQ(ImageFolderName(2, 3, "a b<c>/\"d\"&e?#%"), "003-a_b_c___d__e___");
  // Two bytes of UTF-8, two replacements; never longer than 40 after the number.
  EXPECT_EQ(ImageFolderName(0, 1, "caf\xc3\xa9"), "001-caf__");
  EXPECT_EQ(ImageFolderName(0, 1, std::string(100, 'k')), "001-" + std::string(40, 'k'));
}

// ----------------------------------------------------------- the columns

TEST(FigureColumns, FollowTheTablesFiguresWithTheirUnitsAndDirections) {
  MetricSet metrics;
  EXPECT_EQ(FigureColumns(TableFigures(metrics, false)).size(), 1u);
  metrics.de2000 = true;
  const std::vector<FigureColumn> detail = FigureColumns(TableFigures(metrics, true));
  ASSERT_EQ(detail.size(), 5u);
  EXPECT_EQ(detail[3].name, "CPSNR");
  EXPECT_EQ(detail[3].unit, "dB");
  EXPECT_EQ(detail[4].name, "DE2000");
  EXPECT_EQ(detail[4].unit, "");
  EXPECT_FALSE(detail[4].higher_is_better);
  EXPECT_EQ(HeadlineColumn(detail), 3u);
  MethodOutcome outcome = Outcome(30);
  outcome.figures.de2000 = 1.5;
  const std::vector<double> values = FigureValues(detail, outcome);
  EXPECT_EQ(values, (std::vector<double>{31, 32, 29, 30, 1.5}));
  outcome.measured = false;
  for (const double value : FigureValues(detail, outcome)) EXPECT_TRUE(std::isnan(value));
}

TEST(MeanValues, MeanOfThePerImageFiguresInfiniteWhenOneIs) {
  std::vector<ReportImage> images(2);
  images[0].values = {{30.0, 10.0}, {20.0, INFINITY}};
  images[1].values = {{34.0, 12.0}, {22.0, 5.0}};
  const std::vector<std::vector<double>> means = MeanValues(images);
  EXPECT_EQ(means, (std::vector<std::vector<double>>{{32.0, 11.0}, {21.0, INFINITY}}));
}

// ----------------------------------------------------------- the images

TEST(WriteImageSection, FullSizeFilesAndCropsMagnifiedWithoutSmoothing) {
  ScratchDir dir;
  const cv::Mat reference = Scene(400, 90);
  cv::Mat good = reference.clone();
  good.at<cv::Vec3b>(50, 50) = cv::Vec3b(0, 0, 0);
  cv::Mat bad = reference.clone();
  bad(cv::Rect(300, 20, 10, 10)).setTo(cv::Scalar(255, 255, 255));
  const std::vector<MethodOutcome> outcomes = {Outcome(40), Outcome(20)};
  const ImageSection section = WriteImageSection(dir.path, "001-scene", reference, {good, bad},
                                                 {"good", "bad one"}, outcomes, 3, InputFolders{});
  EXPECT_TRUE(section.unwritten.empty());
  EXPECT_EQ(section.worst_method, 1u);
  EXPECT_EQ(section.reference, "images/001-scene/reference.png");
  EXPECT_EQ(section.outputs[1], "images/001-scene/2-bad_one.png");
  EXPECT_EQ(section.error_crops[0], "images/001-scene/1-good-error-crop.png");
  // The bad method's white square lies in the region.
  const Region& region = section.region;
  EXPECT_TRUE(region.x <= 300 && region.x + region.width >= 310) << Describe(region);
  EXPECT_TRUE(region.y <= 20 && region.y + region.height >= 30) << Describe(region);
  EXPECT_EQ(section.magnification, 4);

  auto read = [&](const std::string& relative) {
    return cv::imread((std::filesystem::path(dir.path) / relative).string(), cv::IMREAD_COLOR);
  };
  EXPECT_TRUE(Identical(read(section.reference), reference));
  EXPECT_TRUE(Identical(read(section.outputs[0]), good));
  EXPECT_TRUE(Identical(read(section.errors[1]), MakeErrorMap(reference, bad, 3)));
  const cv::Mat thumbnail = read(section.thumbnail);
  EXPECT_EQ(thumbnail.cols, kThumbnailSide);
  EXPECT_EQ(thumbnail.cols, section.thumbnail_width);
  EXPECT_EQ(thumbnail.rows, section.thumbnail_height);

  // Each crop pixel is the full image's pixel under it, repeated: nearest
  // neighbour, no smoothing.
  const std::int32_t f = section.magnification;
  const cv::Mat error_map = MakeErrorMap(reference, bad, 3);
  for (const auto& [crop_name, full] :
       {std::pair{section.reference_crop, reference}, std::pair{section.output_crops[1], bad},
        std::pair{section.error_crops[1], error_map}}) {
    const cv::Mat crop = read(crop_name);
    ASSERT_EQ(crop.cols, region.width * f) << crop_name;
    ASSERT_EQ(crop.rows, region.height * f) << crop_name;
    int wrong = 0;
    for (int r = 0; r < crop.rows; ++r) {
      for (int c = 0; c < crop.cols; ++c) {
        wrong += crop.at<cv::Vec3b>(r, c) != full.at<cv::Vec3b>(region.y + r / f, region.x + c / f);
      }
    }
    EXPECT_EQ(wrong, 0) << crop_name;
  }
}

TEST(WriteImageSection, ASmallImageIsItsOwnThumbnail) {
  ScratchDir dir;
  const cv::Mat reference = Scene(60, 40);
  const ImageSection section = WriteImageSection(dir.path, "001-s", reference, {Noise(60, 40, 1)},
                                                 {"m"}, {Outcome(10)}, 3, InputFolders{});
  EXPECT_EQ(section.thumbnail, section.reference);
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::path(dir.path) / "images/001-s/thumbnail.png"));
}

TEST(WriteImageSection, NeverWritesIntoAFolderHoldingAnInput) {
  ScratchDir dir;
  const std::filesystem::path folder = std::filesystem::path(dir.path) / "images" / "001-x";
  std::filesystem::create_directories(folder);
  const std::string input = (folder / "x.png").string();
  ASSERT_TRUE(cv::imwrite(input, Scene(40, 30)));
  const std::vector<InputFile> inputs = ExpandPaths({input});
  const ImageSection section =
      WriteImageSection(dir.path, "001-x", Scene(40, 30), {Noise(40, 30, 1)}, {"m"}, {Outcome(10)},
                        3, FindInputFolders({input}, inputs));
  ASSERT_EQ(section.unwritten.size(), 1u);
  EXPECT_NE(section.unwritten[0].find("holds an input image"), std::string::npos);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, 1u) << "only the input";
}

// --------------------------------------------------------------- the page

ReportPage TwoImagePage() {
  ReportPage page;
  page.pattern = "GRBG";
  page.border = 3;
  page.methods = {"method", "bi<linear>"};
  page.columns = FigureColumns({Figure::kCpsnr});
  page.throughput = {100.0, 2000.0};
  page.date = "2026-01-02 03:04 +0000";
  page.version = "9.9.9";
  for (std::size_t i = 0; i < 2; ++i) {
    ReportImage image;
    image.number = i + 1;
    image.name = i == 0 ? "plain.png" : "<script>alert(1)</script>&\"'.png";
    image.width = 100;
    image.height = 80;
    image.values = {{i == 0 ? 40.0 : INFINITY}, {30.0}};
    image.section.reference = "images/00" + std::to_string(i + 1) + "-x/reference.png";
    image.section.thumbnail = image.section.reference;
    image.section.reference_crop = "images/00" + std::to_string(i + 1) + "-x/reference-crop.png";
    for (const char* m : {"1-method", "2-bi_linear_"}) {
      const std::string stem = "images/00" + std::to_string(i + 1) + "-x/" + m;
      image.section.outputs.push_back(stem + ".png");
      image.section.errors.push_back(stem + "-error.png");
      image.section.output_crops.push_back(stem + "-crop.png");
      image.section.error_crops.push_back(stem + "-error-crop.png");
    }
    image.section.region = {10, 20, 64, 50};
    image.section.magnification = 4;
    image.section.thumbnail_width = 100;
    image.section.thumbnail_height = 80;
    page.images.push_back(image);
  }
  page.skipped = {{"broken.png", "unreadable <file>"}};
  return page;
}

TEST(ReportPage, EscapesEveryNameAndMessage) {
  const std::string html = RenderReportPage(TwoImagePage());
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;&amp;&quot;&#39;.png"),
            std::string::npos);
  EXPECT_EQ(html.find("bi<linear>"), std::string::npos);
  EXPECT_NE(html.find("bi&lt;linear&gt;"), std::string::npos);
  EXPECT_NE(html.find("unreadable &lt;file&gt;"), std::string::npos);
  // Exactly one script element: the page's own.
  std::size_t scripts = 0;
  for (std::size_t at = html.find("<script"); at != std::string::npos;
       at = html.find("<script", at + 1)) {
    ++scripts;
  }
  EXPECT_EQ(scripts, 1u);
}

TEST(ReportPage, RefersToEveryImageFileAndNothingOnTheNetwork) {
  const ReportPage page = TwoImagePage();
  const std::string html = RenderReportPage(page);
  const std::vector<std::string> references = References(html);
  const std::set<std::string> referenced(references.begin(), references.end());
  for (const ReportImage& image : page.images) {
    const ImageSection& s = image.section;
    std::vector<std::string> files = {s.reference, s.thumbnail, s.reference_crop};
    for (const auto* list : {&s.outputs, &s.errors, &s.output_crops, &s.error_crops}) {
      files.insert(files.end(), list->begin(), list->end());
    }
    for (const std::string& file : files) EXPECT_TRUE(referenced.contains(file)) << file;
  }
  for (const std::string& reference : references) {
    EXPECT_TRUE(reference.starts_with("images/") || reference.starts_with("#img-")) << reference;
  }
  EXPECT_EQ(html.find("http:"), std::string::npos);
  EXPECT_EQ(html.find("https:"), std::string::npos);
  EXPECT_EQ(html.find("@import"), std::string::npos);
}

TEST(ReportPage, TableHasTheMeanRowAndMarksTheBestFigure) {
  const std::string html = RenderReportPage(TwoImagePage());
  // Mean of 40 and +inf is +inf; of 30 and 30 is 30.
  const std::size_t foot = html.find("<tfoot>");
  ASSERT_NE(foot, std::string::npos);
  const std::string mean_row = html.substr(foot, html.find("</tfoot>") - foot);
  EXPECT_NE(mean_row.find("data-value=\"inf\">inf</td>"), std::string::npos) << mean_row;
  EXPECT_NE(mean_row.find("data-value=\"30\">30.00</td>"), std::string::npos) << mean_row;
  EXPECT_NE(html.find("<td class=\"figure best\" data-value=\"40\">40.00</td>"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"figure\" data-value=\"30\">30.00</td>"), std::string::npos);
  EXPECT_NE(html.find("name=\"viewport\""), std::string::npos);
  EXPECT_NE(html.find("demosaic-bench 9.9.9"), std::string::npos);
}

TEST(FigureChart, ADotPerMethodAndRowInfiniteFiguresAtTheEnd) {
  const FigureColumn column{Figure::kCpsnr, "CPSNR", "dB", true, 2};
  const std::string svg =
      RenderFigureChart(column, {"a", "<b>"}, {"m1", "m2", "m3"},
                        {{30, 31, 32}, {INFINITY, 20, 25}}, {INFINITY, 25.5, 28.5});
  std::size_t circles = 0;
  for (std::size_t at = svg.find("<circle"); at != std::string::npos;
       at = svg.find("<circle", at + 1)) {
    ++circles;
  }
  EXPECT_EQ(circles, 9u) << "three rows (two images and the mean) of three methods";
  EXPECT_NE(svg.find(">inf</text>"), std::string::npos);
  EXPECT_NE(svg.find("fill=\"#fff\" stroke="), std::string::npos) << "an open dot for inf";
  EXPECT_EQ(svg.find("<b>"), std::string::npos);
  EXPECT_NE(svg.find("&lt;b&gt;"), std::string::npos);
}

// A method not measured on an image (a compared method's missing file) has
// no dot there, and no dot in the mean row, rather than one at a made-up
// place.
TEST(FigureChart, NoDotForAFigureNotMeasured) {
  const FigureColumn column{Figure::kCpsnr, "CPSNR", "dB", true, 2};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string svg =
      RenderFigureChart(column, {"a", "b"}, {"m1", "own"}, {{30, 31}, {28, nan}}, {29, nan});
  std::size_t circles = 0;
  for (std::size_t at = svg.find("<circle"); at != std::string::npos;
       at = svg.find("<circle", at + 1)) {
    ++circles;
  }
  EXPECT_EQ(circles, 4u);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
}

TEST(EscapeHtml, ReplacesTheFiveSpecialCharacters) {
  EXPECT_EQ(EscapeHtml("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  EXPECT_EQ(EscapeHtml("plain \xc3\xa9"), "plain \xc3\xa9");
}

// ------------------------------------------------- --report through the tool

std::string Write(const ScratchDir& dir, const std::string& name, const cv::Mat& image) {
  const std::string path = dir.File(name);
  if (!cv::imwrite(path, image)) throw std::runtime_error("cannot write " + path);
  return path;
}

TEST(ReportTool, WritesThePageAndEveryFileItRefersTo) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.File("a"));
  std::filesystem::create_directories(dir.File("b"));
  // Two inputs with one stem: their folders must not collide (the second is
  // named by its whole file name, as --save names its files).
  const std::string first = Write(dir, "a/x.png", Scene(90, 70));
  const std::string second = Write(dir, "b/x.png", Noise(80, 60, 5));
  const std::string report = dir.File("out/report");
  const ProgramResult run = RunProgram({kBench, "--report", report, first, second});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.err.find("report: " + report + "/index.html"), std::string::npos) << run.err;
  const std::string html = ReadFileBytes(report + "/index.html");
  std::set<std::string> folders;
  for (const std::string& reference : References(html)) {
    if (reference.starts_with("#")) continue;
    EXPECT_TRUE(std::filesystem::is_regular_file(report + "/" + reference)) << reference;
    folders.insert(reference.substr(0, reference.find('/', 7)));
  }
  EXPECT_EQ(folders, (std::set<std::string>{"images/001-x", "images/002-x.png"}));
  // Written again over the last one, the report is complete again.
  const ProgramResult again = RunProgram({kBench, "--report", report, first, second});
  EXPECT_EQ(again.exit_status, 0) << again.err;
}

TEST(ReportTool, SkippedImagesAreListedAndTheExitStatusSaysSo) {
  ScratchDir dir;
  const std::string good = Write(dir, "good.png", Scene(40, 30));
  const std::string report = dir.File("report");
  const ProgramResult run = RunProgram({kBench, "--report", report, good, dir.File("gone.png")});
  EXPECT_EQ(run.exit_status, 1);
  const std::string html = ReadFileBytes(report + "/index.html");
  EXPECT_NE(html.find("gone.png: no such file or directory"), std::string::npos);
}

TEST(ReportTool, RefusesDestinationsThatWouldMixWithInputsOrOtherOutputs) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.File("images"));
  std::filesystem::create_directories(dir.File("r/images"));
  const std::string image = Write(dir, "images/a.png", Scene(40, 30));
  Write(dir, "file.png", Scene(20, 20));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{kBench, "--report", dir.File("images"), dir.File("images")}, "image directories"},
      {{kBench, "--report", dir.File("images/"), dir.File("images")}, "image directories"},
      // The inputs' folder is the report's images folder.
      {{kBench, "--report", dir.path, image}, "holds input images"},
      {{kBench, "--report", dir.File("images"), image}, "holds the input image"},
      {{kBench, "--report", dir.File("file.png"), image}, "cannot create directory"},
      {{kBench, "--report", dir.File("r"), "--csv", dir.File("r/index.html"), image},
       "one of the files --report writes"},
      {{kBench, "--report", dir.File("r"), "--csv", dir.File("r/images/t.csv"), image},
       "one of the report's files"},
      {{kBench, image, "--report"}, "--report"},
      {{kBench, "--report", "", image}, "--report needs a directory name"},
  };
  for (const auto& [argv, message] : cases) {
    const ProgramResult run = RunProgram(argv);
    EXPECT_EQ(run.exit_status, 2) << argv[2] << ": " << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.File("images"))) {
    ++entries;
  }
  EXPECT_EQ(entries, 1u) << "nothing written beside the input";
  EXPECT_FALSE(std::filesystem::exists(dir.File("r/index.html")));
}

TEST(ReportTool, HelpDescribesTheOption) {
  const ProgramResult help = RunProgram({kBench, "--help"});
  EXPECT_NE(help.out.find("--report"), std::string::npos);
}

}  // namespace
}  // namespace demosaic::bench
