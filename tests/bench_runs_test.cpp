// demosaic-bench run as a user runs it, for the choices that decide its
// figures: the Bayer tile, compared methods read from directories, the
// metrics beyond PSNR, parallel jobs and decimal numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "demosaic/demosaic.h"
#include "evaluation/mat_views.h"
#include "evaluation/methods.h"
#include "report/table.h"
#include "support/plain_method.h"
#include "support/run_program.h"
#include "support/shared_data.h"
#include "support/table_text.h"
#include "support/test_images.h"

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

const std::string kBench = DEMOSAIC_BENCH_BINARY;

std::string CorpusDir() {
  return SharedDataDir("DEMOSAIC_CONFORMANCE_DIR", DEMOSAIC_CONFORMANCE_DIR);
}

bool CorpusPresent() {
  return !CorpusDir().empty() && fs::exists(fs::path(CorpusDir()) / "expected.tsv");
}

std::string Write(const ScratchDir& dir, const std::string& name, const cv::Mat& image) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(cv::imwrite(path, image)) << path;
  return path;
}

// CSV rows keyed by "image/method", fields by column name.
using CsvTable = std::map<std::string, std::map<std::string, std::string>>;

CsvTable CsvByImageAndMethod(const std::string& path) {
  const std::vector<std::vector<std::string>> rows = ReadCsv(path);
  CsvTable table;
  if (rows.empty()) return table;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    std::map<std::string, std::string>& fields = table[rows[i][0] + "/" + rows[i][3]];
    for (std::size_t k = 0; k < rows[0].size() && k < rows[i].size(); ++k) {
      fields[rows[0][k]] = rows[i][k];
    }
  }
  return table;
}

double Number(const std::string& text) {
  return std::strtod(text.c_str(), nullptr);
}

constexpr BayerPattern kAllPatterns[] = {BayerPattern::kGRBG, BayerPattern::kRGGB,
                                         BayerPattern::kBGGR, BayerPattern::kGBRG};

// For every tile, over the whole corpus: the method's figures are those of
// the plain statement of the rules for that tile, to the last bit, and every
// CSV line names the tile and the border.
TEST(BenchTiles, EveryTilesMethodFiguresEqualThePlainRules) {
  if (!CorpusPresent()) {
    GTEST_SKIP() << "conformance corpus not found (DEMOSAIC_CONFORMANCE_DIR='" << CorpusDir()
                 << "'): the tiles were NOT checked over it";
  }
  const fs::path input = fs::path(CorpusDir()) / "input";
  ScratchDir dir;
  for (const BayerPattern pattern : kAllPatterns) {
    const std::string name(PatternName(pattern));
    // The tile in lower case: the option ignores letter case.
    std::string lower = name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    const std::string csv = dir.File(name + ".csv");
    const ProgramResult bench = RunProgram(
        {kBench, "--pattern", lower, "--methods", "method", "--csv", csv, input.string()});
    ASSERT_EQ(bench.exit_status, 0) << bench.err;
    EXPECT_EQ(bench.out.rfind(name + " Bayer mosaic", 0), 0u) << bench.out.substr(0, 80);
    const CsvTable table = CsvByImageAndMethod(csv);
    std::size_t checked = 0;
    for (const auto& entry : fs::directory_iterator(input)) {
      const cv::Mat image = cv::imread(entry.path().string(), cv::IMREAD_COLOR);
      if (image.empty() || image.cols < 7 || image.rows < 7) continue;
      const std::vector<std::uint8_t> bgr(image.datastart, image.dataend);
      const PlainMosaic mosaic = PlainSample(bgr, image.cols, image.rows, pattern);
      const std::vector<std::uint8_t> plain =
          PlainReconstruct(mosaic, image.cols, image.rows, pattern);
      const QualityFigures expected = ComputeQuality(
          ImageViewOf(image),
          MakeImageView(std::span<const std::uint8_t>(plain), image.cols, image.rows));
      const auto row = table.find(entry.path().filename().string() + "/method");
      ASSERT_NE(row, table.end()) << entry.path() << " missing from the " << name << " CSV";
      const auto& fields = row->second;
      EXPECT_EQ(Number(fields.at("PSNR_R")), expected.psnr_r) << entry.path() << " " << name;
      EXPECT_EQ(Number(fields.at("PSNR_G")), expected.psnr_g) << entry.path() << " " << name;
      EXPECT_EQ(Number(fields.at("PSNR_B")), expected.psnr_b) << entry.path() << " " << name;
      EXPECT_EQ(Number(fields.at("CPSNR")), expected.cpsnr) << entry.path() << " " << name;
      EXPECT_EQ(fields.at("pattern"), name);
      EXPECT_EQ(fields.at("border"), "3");
      ++checked;
    }
    EXPECT_EQ(checked, 43u) << name;
  }
}

// The method's own reconstructions, read back as a compared method, give the
// method's figures exactly: the same function over the same pixels.
TEST(BenchCompare, TheMethodsOwnOutputsReproduceTheMethodColumn) {
  if (!CorpusPresent()) {
    GTEST_SKIP() << "conformance corpus not found (DEMOSAIC_CONFORMANCE_DIR='" << CorpusDir()
                 << "'): --compare was NOT checked against it";
  }
  const fs::path corpus = CorpusDir();
  ScratchDir dir;
  const std::string csv = dir.File("figures.csv");
  const ProgramResult bench = RunProgram({kBench, "--methods", "method", "--metrics", "psnr,de2000",
                                          "--compare", "own=" + (corpus / "expected").string(),
                                          "--csv", csv, (corpus / "input").string()});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const CsvTable table = CsvByImageAndMethod(csv);
  std::size_t checked = 0;
  for (const auto& [key, fields] : table) {
    if (!key.ends_with("/method")) continue;
    const std::string image = key.substr(0, key.size() - 7);
    const auto own = table.find(image + "/own");
    ASSERT_NE(own, table.end()) << image;
    for (const char* column : {"PSNR_R", "PSNR_G", "PSNR_B", "CPSNR", "DE2000"}) {
      EXPECT_EQ(own->second.at(column), fields.at(column)) << image << " " << column;
    }
    EXPECT_EQ(own->second.at("milliseconds"), "") << "a compared method is not timed";
    ++checked;
  }
  EXPECT_EQ(checked, 43u);
}

// A compared file that is missing, unreadable or of another size leaves its
// cells empty, is named on standard error and makes the status 1; the other
// methods are still measured.
TEST(BenchCompare, MissingUnreadableOrMisSizedFilesLeaveCellsEmpty) {
  ScratchDir dir;
  fs::create_directories(dir.File("refs"));
  fs::create_directories(dir.File("theirs"));
  const cv::Mat a = Noise(20, 16, 1);
  const cv::Mat b = Noise(20, 16, 2);
  const cv::Mat c = Noise(20, 16, 3);
  const cv::Mat d = Noise(20, 16, 4);
  Write(dir, "refs/a.png", a);
  Write(dir, "refs/b.png", b);
  Write(dir, "refs/c.png", c);
  Write(dir, "refs/d.png", d);
  Write(dir, "theirs/a.tif", a);                 // exact: another extension is fine
  Write(dir, "theirs/c.png", Noise(21, 16, 3));  // another size
  { std::ofstream(dir.File("theirs/d.png")) << "not an image"; }
  const std::string csv = dir.File("f.csv");
  const ProgramResult bench =
      RunProgram({kBench, "--methods", "bilinear", "--compare", "theirs=" + dir.File("theirs"),
                  "--csv", csv, dir.File("refs")});
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("b.png: not measured for theirs"), std::string::npos) << bench.err;
  EXPECT_NE(bench.err.find("21 x 16"), std::string::npos) << bench.err;
  EXPECT_NE(bench.err.find("d.png cannot be read as an image"), std::string::npos) << bench.err;
  const CsvTable table = CsvByImageAndMethod(csv);
  EXPECT_EQ(table.at("a.png/theirs").at("CPSNR"), "inf");
  for (const char* image : {"b.png", "c.png", "d.png"}) {
    EXPECT_EQ(table.at(std::string(image) + "/theirs").at("CPSNR"), "") << image;
    EXPECT_NE(table.at(std::string(image) + "/bilinear").at("CPSNR"), "") << image;
  }
  // The table: a dash in the compared column, and no mean for it.
  bool dash_mean = false;
  for (const std::string& line : Split(bench.out, '\n')) {
    const std::vector<std::string> words = Words(line);
    if (!words.empty() && words[0] == "mean") dash_mean = words.back() == "-";
  }
  EXPECT_TRUE(dash_mean) << bench.out;
}

TEST(BenchCompare, RefusesTakenNamesAndSavingIntoTheComparedDirectory) {
  ScratchDir dir;
  fs::create_directories(dir.File("theirs"));
  const std::string image = Write(dir, "a.png", Noise(20, 16, 1));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--compare", "bilinear=" + dir.File("theirs")},
        std::vector<std::string>{"--compare", "x=" + dir.File("theirs"), "--compare",
                                 "x=" + dir.File("theirs")},
        std::vector<std::string>{"--compare", "a/b=" + dir.File("theirs")},
        std::vector<std::string>{"--compare", "x=" + dir.File("nowhere")},
        std::vector<std::string>{"--compare", "noequals"},
        std::vector<std::string>{"--compare", "x=" + dir.File("theirs"), "--save",
                                 dir.File("theirs")}}) {
    std::vector<std::string> argv = {kBench};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(image);
    const ProgramResult bench = RunProgram(argv);
    EXPECT_EQ(bench.exit_status, 2) << args[1] << "\n" << bench.err;
  }
  EXPECT_TRUE(fs::is_empty(dir.File("theirs")))
      << "nothing may be written into a compared directory";
}

// Each metric asked for adds a table column and a CSV column holding exactly
// the library's figure; a metric not asked for has no column.
TEST(BenchMetrics, ColumnsHoldTheLibrarysFigures) {
  ScratchDir dir;
  const cv::Mat image = Noise(40, 30, 5);
  const std::string path = Write(dir, "n.png", image);
  const std::string csv = dir.File("f.csv");
  const ProgramResult bench =
      RunProgram({kBench, "--methods", "bilinear", "--metrics", "ssim,de2000", "--csv", csv, path});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const std::vector<std::vector<std::string>> rows = ReadCsv(csv);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"image", "width", "height", "method", "PSNR_R", "PSNR_G",
                                      "PSNR_B", "CPSNR", "SSIM", "DE2000", "milliseconds",
                                      "pattern", "border", "noise", "white_level"}));
  cv::Mat output;
  cv::cvtColor(SampleMosaicOf(image, BayerPattern::kGRBG), output, cv::COLOR_BayerGRBG2BGR);
  EXPECT_EQ(Number(rows[1][8]), ComputeSsim(ImageViewOf(image), ImageViewOf(output), 3));
  EXPECT_EQ(Number(rows[1][9]), ComputeDe2000(ImageViewOf(image), ImageViewOf(output), 3));
  // The table shows SSIM and DE2000 for the method, and no PSNR column.
  const std::vector<std::string> lines = Split(bench.out, '\n');
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Words(lines[2]), (std::vector<std::string>{"image", "size", "SSIM", "DE2000"}));

  const ProgramResult bad = RunProgram({kBench, "--metrics", "ssim,psnr,ssim", path});
  EXPECT_EQ(bad.exit_status, 2);
  const ProgramResult unknown = RunProgram({kBench, "--metrics", "mse", path});
  EXPECT_EQ(unknown.exit_status, 2);
}

// Images run side by side give the very table and CSV of one at a time.
TEST(BenchJobs, ParallelJobsChangeNoFigureAndNoOrder) {
  ScratchDir dir;
  fs::create_directories(dir.File("set"));
  for (int k = 0; k < 7; ++k) {
    Write(dir, "set/img" + std::to_string(k) + ".png", Noise(30 + 7 * k, 20 + 3 * k, k + 10));
  }
  { std::ofstream(dir.File("set/broken.png")) << "no image"; }
  auto run = [&](const std::string& jobs) {
    const std::string csv = dir.File("jobs" + jobs + ".csv");
    const ProgramResult bench =
        RunProgram({kBench, "--jobs", jobs, "--detail", "--csv", csv, dir.File("set")});
    EXPECT_EQ(bench.exit_status, 1) << "the broken image is skipped";
    // Everything but the throughput row and the milliseconds column.
    std::string table;
    for (const std::string& line : Split(bench.out, '\n')) {
      if (!line.starts_with("MP/s")) table += line + "\n";
    }
    std::string figures;
    for (std::vector<std::string> row : ReadCsv(csv)) {
      row[8] = "";
      for (const std::string& field : row) figures += field + ",";
      figures += "\n";
    }
    return table + figures + bench.err;
  };
  EXPECT_EQ(run("1"), run("3"));
}

// Numbers on the command line are decimal: a leading zero does not make an
// octal number, and a hexadecimal prefix is refused.
TEST(BenchNumbers, AreDecimal) {
  ScratchDir dir;
  const std::string path = Write(dir, "n.png", Noise(40, 30, 6));
  const ProgramResult padded = RunProgram({kBench, "--border", "010", path});
  EXPECT_EQ(padded.exit_status, 0) << padded.err;
  EXPECT_NE(padded.out.find("at least 10 from every edge"), std::string::npos) << padded.out;
  for (const char* bad : {"0x10", "-4", "4.5", "", "1e1"}) {
    EXPECT_EQ(RunProgram({kBench, "--border", bad, path}).exit_status, 2) << bad;
  }
  EXPECT_EQ(RunProgram({kBench, "--jobs", "0", path}).exit_status, 2);
}

// ---------------------------------------------------------------- noise

// Three small scenes in a directory, for the noise runs.
std::string NoiseInputs(const ScratchDir& dir) {
  fs::create_directory(dir.File("in"));
  Write(dir, "in/a.png", Scene(40, 32));
  Write(dir, "in/b.png", Noise(36, 30, 5));
  Write(dir, "in/c.png", Scene(48, 28));
  return dir.File("in");
}

// Every saved file of a directory, by name.
std::map<std::string, std::string> SavedFiles(const std::string& directory) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
  }
  return files;
}

// The CSV without its milliseconds column, which is the only thing that
// changes from run to run.
std::string CsvWithoutTimes(const std::string& path) {
  std::string text;
  const std::vector<std::vector<std::string>> rows = ReadCsv(path);
  if (rows.empty()) return text;
  const auto timing = std::find(rows[0].begin(), rows[0].end(), "milliseconds") - rows[0].begin();
  for (std::vector<std::string> row : rows) {
    if (row.size() > static_cast<std::size_t>(timing)) row.erase(row.begin() + timing);
    for (const std::string& field : row) text += field + "|";
    text += "\n";
  }
  return text;
}

// The same seed gives the same noisy mosaics, hence the same saved
// reconstructions and figures, for every number of jobs; another seed
// differs.
TEST(BenchNoise, SameSeedSameBytesForEveryJobCountAndAnotherSeedDiffers) {
  ScratchDir dir;
  const std::string input = NoiseInputs(dir);
  std::vector<std::map<std::string, std::string>> saved;
  std::vector<std::string> csvs;
  for (const std::string jobs : {"1", "2", "3"}) {
    const std::string save = dir.File("save" + jobs);
    const std::string csv = dir.File("f" + jobs + ".csv");
    const ProgramResult bench = RunProgram({kBench, "--noise", "gaussian:5,20", "--seed", "42",
                                            "--jobs", jobs, "--save", save, "--csv", csv, input});
    ASSERT_EQ(bench.exit_status, 0) << bench.err;
    saved.push_back(SavedFiles(save));
    csvs.push_back(CsvWithoutTimes(csv));
  }
  ASSERT_EQ(saved[0].size(), 3u * 3u * 2u * 2u);  // images, methods, levels, file kinds
  EXPECT_TRUE(saved[0].contains("a.method.gaussian-5.png"));
  EXPECT_TRUE(saved[0].contains("a.bilinear.gaussian-20.err.png"));
  EXPECT_EQ(saved[1], saved[0]);
  EXPECT_EQ(saved[2], saved[0]);
  EXPECT_EQ(csvs[1], csvs[0]);
  EXPECT_EQ(csvs[2], csvs[0]);

  const ProgramResult other = RunProgram(
      {kBench, "--noise", "gaussian:5,20", "--seed", "43", "--save", dir.File("other"), input});
  ASSERT_EQ(other.exit_status, 0) << other.err;
  const std::map<std::string, std::string> different = SavedFiles(dir.File("other"));
  for (const auto& [name, bytes] : different) {
    EXPECT_NE(bytes, saved[0].at(name)) << name;
  }
}

// gaussian:0 is the clean mosaic: the same reconstructions and figures as a
// run without noise; each level is a block of the table and of the CSV.
TEST(BenchNoise, ZeroNoiseEqualsNoNoiseAndLevelsAreBlocks) {
  ScratchDir dir;
  const std::string input = NoiseInputs(dir);
  const ProgramResult clean =
      RunProgram({kBench, "--save", dir.File("clean"), "--csv", dir.File("clean.csv"), input});
  ASSERT_EQ(clean.exit_status, 0) << clean.err;
  const ProgramResult zero = RunProgram({kBench, "--noise", "gaussian:0,8", "--save",
                                         dir.File("zero"), "--csv", dir.File("zero.csv"), input});
  ASSERT_EQ(zero.exit_status, 0) << zero.err;
  for (const std::string name : {"a", "b", "c"}) {
    for (const std::string method : {"method", "bilinear", "edge-aware"}) {
      EXPECT_EQ(ReadFileBytes(dir.File("zero/" + name + "." + method + ".gaussian-0.png")),
                ReadFileBytes(dir.File("clean/" + name + "." + method + ".png")))
          << name << " " << method;
    }
  }
  const std::vector<std::vector<std::string>> clean_rows = ReadCsv(dir.File("clean.csv"));
  const std::vector<std::vector<std::string>> zero_rows = ReadCsv(dir.File("zero.csv"));
  ASSERT_EQ(zero_rows.size(), 1 + 2 * (clean_rows.size() - 1));
  // The noise level is the column before the white level.
  const auto noise = [](const std::vector<std::string>& row) { return row[row.size() - 2]; };
  EXPECT_EQ(noise(zero_rows[0]), "noise");
  for (std::size_t i = 1; i < clean_rows.size(); ++i) {
    EXPECT_EQ(noise(clean_rows[i]), "none");
    EXPECT_EQ(noise(zero_rows[i]), "gaussian:0");
    EXPECT_EQ(noise(zero_rows[i + clean_rows.size() - 1]), "gaussian:8");
    for (std::size_t k = 4; k < 8; ++k) EXPECT_EQ(zero_rows[i][k], clean_rows[i][k]);
  }
  // A line naming the level before each block, a mean row in each.
  const std::size_t first = zero.out.find("noise: gaussian:0\n");
  const std::size_t second = zero.out.find("noise: gaussian:8\n");
  ASSERT_NE(first, std::string::npos) << zero.out;
  ASSERT_NE(second, std::string::npos) << zero.out;
  EXPECT_NE(zero.out.substr(first, second - first).find("\nmean "), std::string::npos);
  EXPECT_NE(zero.out.substr(second).find("\nmean "), std::string::npos);
  EXPECT_EQ(clean.out.find("noise:"), std::string::npos);
}

// ------------------------------------------------------------ baseline

// The CSV with `decibels` added to the method's CPSNR on every line.
std::string ShiftedCpsnr(const std::string& path, double decibels) {
  const std::vector<std::vector<std::string>> rows = ReadCsv(path);
  std::string text;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::vector<std::string> row = rows[i];
    if (i > 0 && row[3] == "method") row[7] = FullPrecision(Number(row[7]) + decibels);
    for (std::size_t k = 0; k < row.size(); ++k) text += (k == 0 ? "" : ",") + row[k];
    text += "\n";
  }
  return text;
}

TEST(BenchBaseline, FailIfWorseGuardsTheMeanCpsnr) {
  ScratchDir dir;
  const std::string input = NoiseInputs(dir);
  const std::string csv = dir.File("old.csv");
  ASSERT_EQ(RunProgram({kBench, "--noise", "gaussian:3", "--csv", csv, input}).exit_status, 0);
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir.File(name), std::ios::binary) << text;
    return dir.File(name);
  };
  const std::string better = write("better.csv", ShiftedCpsnr(csv, 1.0));
  const ProgramResult worse = RunProgram(
      {kBench, "--noise", "gaussian:3", "--baseline", better, "--fail-if-worse", "0.5", input});
  EXPECT_EQ(worse.exit_status, 1) << worse.err;
  EXPECT_NE(worse.err.find("worse than the baseline: method: mean CPSNR"), std::string::npos)
      << worse.err;
  EXPECT_NE(worse.out.find("change against the baseline"), std::string::npos);
  const ProgramResult equal = RunProgram(
      {kBench, "--noise", "gaussian:3", "--baseline", csv, "--fail-if-worse", "0.5", input});
  EXPECT_EQ(equal.exit_status, 0) << equal.err;
  // Another noise level shares nothing with the baseline: a guard that
  // compared nothing fails.
  const ProgramResult unrelated = RunProgram(
      {kBench, "--noise", "gaussian:4", "--baseline", csv, "--fail-if-worse", "0.5", input});
  EXPECT_EQ(unrelated.exit_status, 1) << unrelated.err;
  EXPECT_NE(unrelated.out.find("3 images only in the baseline"), std::string::npos)
      << unrelated.out;
  // 1 dB better is within a limit of 1.5.
  EXPECT_EQ(RunProgram({kBench, "--noise", "gaussian:3", "--baseline", better, "--fail-if-worse",
                        "1.5", input})
                .exit_status,
            0);
}

// A baseline that is not this tool's CSV with this run's columns is refused
// before any image is read: nothing is written.
TEST(BenchBaseline, OtherFilesAreRefusedBeforeAnyImage) {
  ScratchDir dir;
  const std::string input = NoiseInputs(dir);
  const std::string csv = dir.File("old.csv");
  ASSERT_EQ(RunProgram({kBench, "--csv", csv, input}).exit_status, 0);
  std::ofstream(dir.File("other.csv")) << "name,score\na.png,3\n";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--baseline", dir.File("other.csv")},
        std::vector<std::string>{"--baseline", csv, "--metrics", "psnr,ssim"},
        std::vector<std::string>{"--baseline", csv, "--border", "4"},
        std::vector<std::string>{"--baseline", dir.File("missing.csv")},
        std::vector<std::string>{"--fail-if-worse", "0.5"}}) {
    std::vector<std::string> command{kBench, "--csv", dir.File("new.csv")};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back(input);
    const ProgramResult bench = RunProgram(command);
    EXPECT_EQ(bench.exit_status, 2) << arguments[0] << " " << arguments[1];
    EXPECT_NE(bench.err.find("--"), std::string::npos) << bench.err;
    EXPECT_EQ(bench.out, "");
    EXPECT_FALSE(fs::exists(dir.File("new.csv")));
  }
}

}  // namespace
}  // namespace demosaic::testing
