// The HTML report of demosaic-bench opened in headless Chromium: every image
// loads, the table has a row per image, the mean row and a column group per
// method, a click on a column heading sorts the rows, and the page is not
// blank. Every fact is read from the rendered page by tests/browser/
// report_probe.py (WebDriver, JavaScript in the page); these tests judge
// them. Skipped, with the reason, where Chromium, its driver or Selenium is
// missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "chart.h"
#include "support/run_program.h"

namespace demosaic {
namespace {

using testing::ProgramResult;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::ScratchDir;

constexpr const char* kBench = DEMOSAIC_BENCH_BINARY;
constexpr const char* kProbe = DEMOSAIC_REPORT_PROBE;
constexpr const char* kScreenshotDir = DEMOSAIC_SCREENSHOT_DIR;
constexpr int kProbeSkipped = 77;

// The Python that has Debian's python3-selenium: the compiled-in one, or the
// one DEMOSAIC_BROWSER_PYTHON names at test time.
std::string BrowserPython() {
  if (const char* python = std::getenv("DEMOSAIC_BROWSER_PYTHON"); python != nullptr && *python) {
    return python;
  }
  return DEMOSAIC_BROWSER_PYTHON;
}

// What the probe read from the page: "key<TAB>value" lines, a key possibly
// more than once.
struct Probe {
  int exit_status = -1;
  std::string err;
  std::multimap<std::string, std::string> facts;

  std::string Fact(const std::string& key) const {
    const auto it = facts.find(key);
    return it == facts.end() ? "(absent)" : it->second;
  }
  int Count(const std::string& key) const {
    const auto it = facts.find(key);
    return it == facts.end() ? -1 : std::stoi(it->second);
  }
  std::vector<std::string> All(const std::string& key) const {
    std::vector<std::string> values;
    for (auto [it, end] = facts.equal_range(key); it != end; ++it) values.push_back(it->second);
    return values;
  }
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

// Runs the probe on `page`; a missing browser or Python makes the probe's
// skip status, with the reason in `err`.
Probe RunProbe(const std::string& page, const std::string& screenshots) {
  Probe probe;
  const std::string python = BrowserPython();
  if (python.empty() || !std::filesystem::exists(python)) {
    probe.exit_status = kProbeSkipped;
    probe.err = "no Python with python3-selenium (DEMOSAIC_BROWSER_PYTHON='" + python + "')";
    return probe;
  }
  const ProgramResult run = RunProgram({python, kProbe, page, screenshots});
  probe.exit_status = run.exit_status;
  probe.err = run.err;
  for (const std::string& line : Split(run.out, '\n')) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) probe.facts.emplace(line.substr(0, tab), line.substr(tab + 1));
  }
  return probe;
}

double ParseValue(const std::string& text) {
  if (text == "inf") return INFINITY;
  return std::stod(text);
}

std::vector<double> Values(const std::string& joined) {
  std::vector<double> values;
  for (const std::string& text : Split(joined, '|')) values.push_back(ParseValue(text));
  return values;
}

// The share of the most common colour among a screenshot's pixels: 1 for a
// blank page.
double CommonestColourShare(const cv::Mat& image) {
  std::map<std::uint32_t, std::size_t> counts;
  for (int r = 0; r < image.rows; ++r) {
    const cv::Vec3b* row = image.ptr<cv::Vec3b>(r);
    for (int c = 0; c < image.cols; ++c) {
      ++counts[std::uint32_t{row[c][0]} << 16 | std::uint32_t{row[c][1]} << 8 | row[c][2]];
    }
  }
  std::size_t most = 0;
  for (const auto& [colour, count] : counts) most = std::max(most, count);
  return static_cast<double>(most) / static_cast<double>(image.total());
}

// The image names of the run, in input order; one needs escaping in HTML.
const std::vector<std::string> kImageNames = {"camera.png", "stress.png", "a&b <c>.png"};
constexpr int kMethods = 3;
constexpr int kColumnsPerMethod = 4;  // --detail: PSNR_R, PSNR_G, PSNR_B, CPSNR
// Per image: the reference's crop and thumbnail, each method's crop and error crop.
constexpr int kImagesPerSection = 2 + 2 * kMethods;

// One report, made and probed once for all the tests of this program (CTest
// runs the program as one test: a browser start is slow).
struct ReportRun {
  std::unique_ptr<ScratchDir> dir = std::make_unique<ScratchDir>();
  ProgramResult bench;
  Probe probe;
  std::string Report() const { return dir->File("report"); }
};

ReportRun MakeReportRun() {
  ReportRun run;
  const std::string inputs = run.dir->File("inputs");
  std::filesystem::create_directory(inputs);
  const cv::Mat chart = DrawCameraChart();
  cv::Mat camera;
  cv::resize(chart, camera, cv::Size(240, 160), 0, 0, cv::INTER_AREA);
  const std::vector<cv::Mat> images = {camera, DrawStressChart()(cv::Rect(0, 0, 200, 150)),
                                       chart(cv::Rect(256, 384, 160, 96))};
  std::vector<std::string> argv = {kBench, "--detail", "--report", run.Report()};
  for (std::size_t i = 0; i < images.size(); ++i) {
    argv.push_back(inputs + "/" + kImageNames[i]);
    if (!cv::imwrite(argv.back(), images[i]))
      throw std::runtime_error("cannot write " + argv.back());
  }
  run.bench = RunProgram(argv);
  if (run.bench.exit_status == 0)
    run.probe = RunProbe(run.Report() + "/index.html", kScreenshotDir);
  return run;
}

const ReportRun& TheReport() {
  static const ReportRun run = MakeReportRun();
  return run;
}

// A copy of the report with two faults, probed once: an image file deleted
// and the first image's table row left out.
Probe ProbeBrokenCopy() {
  const std::filesystem::path copy = TheReport().dir->File("broken");
  std::filesystem::copy(TheReport().Report(), copy, std::filesystem::copy_options::recursive);
  std::filesystem::remove(copy / "images/002-stress/2-bilinear-error-crop.png");
  const std::string page = (copy / "index.html").string();
  std::string html = ReadFileBytes(page);
  const std::size_t row = html.find("<tr>", html.find("<tbody>"));
  const std::size_t end = html.find("</tr>", row);
  if (end == std::string::npos) throw std::runtime_error("no table row in " + page);
  html.erase(row, end + 5 - row);
  std::ofstream(page, std::ios::binary | std::ios::trunc) << html;
  return RunProbe(page, (copy / "screenshots").string());
}

const Probe& TheBrokenCopy() {
  static const Probe probe = ProbeBrokenCopy();
  return probe;
}

// Every test starts here: the run must have worked, and the probe must have
// found a browser (the test is skipped, with the reason, where it did not).
#define REQUIRE_PROBED_REPORT()                                               \
  const Probe& probe = TheReport().probe;                                     \
  ASSERT_EQ(TheReport().bench.exit_status, 0) << TheReport().bench.err;       \
  if (probe.exit_status == kProbeSkipped) {                                   \
    GTEST_SKIP() << "the report was NOT checked in a browser: " << probe.err; \
  }                                                                           \
  ASSERT_EQ(probe.exit_status, 0) << probe.err

TEST(ReportInBrowser, EveryImageLoads) {
  REQUIRE_PROBED_REPORT();
  EXPECT_EQ(probe.Count("images_total"), kImagesPerSection * static_cast<int>(kImageNames.size()));
  EXPECT_EQ(probe.Count("images_broken"), 0) << "not loaded: " << probe.Fact("broken_sources");
  EXPECT_EQ(probe.Count("sections"), static_cast<int>(kImageNames.size()));
}

// The paired comparisons with the first method: an interval plot per figure
// column, drawn at a readable width, a dot per other method in each.
TEST(ReportInBrowser, ComparisonsDrawAnIntervalPlotPerFigure) {
  REQUIRE_PROBED_REPORT();
  EXPECT_EQ(probe.Count("interval_plots"), kColumnsPerMethod);
  EXPECT_EQ(probe.Count("interval_dots"), kColumnsPerMethod * (kMethods - 1));
  EXPECT_GT(probe.Count("interval_plot_width"), 250);
}

TEST(ReportInBrowser, TableHasARowPerImageTheMeanRowAndAColumnGroupPerMethod) {
  REQUIRE_PROBED_REPORT();
  EXPECT_EQ(probe.Count("body_rows"), static_cast<int>(kImageNames.size()));
  EXPECT_EQ(probe.Count("foot_rows"), 1);
  EXPECT_EQ(probe.Fact("foot_label"), "mean");
  EXPECT_EQ(probe.Fact("method_groups"), "method|bilinear|edge-aware");
  EXPECT_EQ(probe.Fact("group_spans"), "4|4|4");
  EXPECT_EQ(probe.Count("cells_per_row"), 3 + kMethods * kColumnsPerMethod);
  // The names as the page shows them: the one with &, < and > survived
  // escaping as text.
  EXPECT_EQ(probe.Fact("row_names"), "camera.png|stress.png|a&b <c>.png");
}

TEST(ReportInBrowser, ClickingAColumnHeadingSortsTheRowsAndAgainReverses) {
  REQUIRE_PROBED_REPORT();
  ASSERT_NE(probe.Fact("sort_column"), "(absent)") << "no CPSNR heading to click";
  const std::vector<double> first = Values(probe.Fact("values_after_first"));
  const std::vector<double> second = Values(probe.Fact("values_after_second"));
  ASSERT_EQ(first.size(), kImageNames.size());
  EXPECT_TRUE(std::is_sorted(first.rbegin(), first.rend())) << probe.Fact("values_after_first");
  EXPECT_TRUE(std::is_sorted(second.begin(), second.end())) << probe.Fact("values_after_second");
  EXPECT_EQ(probe.Fact("aria_after_first"), "descending");
  EXPECT_EQ(probe.Fact("aria_after_second"), "ascending");
  // The stress chart has the lowest CPSNR: it moves from second place.
  EXPECT_NE(probe.Fact("order_after_first"), probe.Fact("order_before"));
  EXPECT_NE(probe.Fact("order_after_second"), probe.Fact("order_before"));
}

TEST(ReportInBrowser, ScreenshotsOnALaptopAndAPhoneAreNotBlank) {
  REQUIRE_PROBED_REPORT();
  const std::vector<std::string> shots = probe.All("screenshot");
  ASSERT_EQ(shots.size(), 2u);
  for (const std::string& path : shots) {
    const cv::Mat shot = cv::imread(path, cv::IMREAD_COLOR);
    ASSERT_FALSE(shot.empty()) << path;
    EXPECT_GT(shot.rows, 800) << path << ": the whole page, taller than one screen";
    EXPECT_LT(CommonestColourShare(shot), 0.9) << path << " is nearly one colour";
  }
}

// The checks above see a fault when there is one: a deleted image file
// shows as a broken image, a missing row as a short table.
TEST(ReportInBrowser, AMissingImageFileIsSeenAsBroken) {
  REQUIRE_PROBED_REPORT();
  const Probe& broken = TheBrokenCopy();
  ASSERT_EQ(broken.exit_status, 0) << broken.err;
  EXPECT_EQ(broken.Count("images_broken"), 1);
  EXPECT_NE(broken.Fact("broken_sources").find("2-bilinear-error-crop.png"), std::string::npos)
      << broken.Fact("broken_sources");
}

TEST(ReportInBrowser, ARowLeftOutIsSeenAsAShortTable) {
  REQUIRE_PROBED_REPORT();
  const Probe& broken = TheBrokenCopy();
  ASSERT_EQ(broken.exit_status, 0) << broken.err;
  EXPECT_EQ(broken.Count("body_rows"), static_cast<int>(kImageNames.size()) - 1);
  EXPECT_EQ(broken.Fact("row_names"), "stress.png|a&b <c>.png");
}

}  // namespace
}  // namespace demosaic
