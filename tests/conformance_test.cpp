// Bit-exact conformance: the built demosaic-eval run on every image of the
// reference corpus must write the expected reconstruction pixel for pixel and
// print the expected figures. The corpus location comes from the environment
// variable DEMOSAIC_CONFORMANCE_DIR, else from the build's configuration; a
// missing corpus is reported as a skip, never as a pass.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/shared_data.h"

namespace demosaic::testing {
namespace {

struct ConformanceCase {
  std::string image;
  std::vector<std::string> figures;  // PSNR_R, PSNR_G, PSNR_B, CPSNR as printed
};

// Names the case in test listings instead of its bytes.
void PrintTo(const ConformanceCase& c, std::ostream* os) {
  *os << c.image;
}

std::string CorpusDir() {
  return SharedDataDir("DEMOSAIC_CONFORMANCE_DIR", DEMOSAIC_CONFORMANCE_DIR);
}

bool CorpusPresent() {
  const std::string dir = CorpusDir();
  return !dir.empty() && std::filesystem::exists(std::filesystem::path(dir) / "expected.tsv");
}

std::vector<ConformanceCase> LoadCases() {
  std::vector<ConformanceCase> cases;
  if (!CorpusPresent()) return cases;
  std::ifstream table(std::filesystem::path(CorpusDir()) / "expected.tsv");
  std::string line;
  std::getline(table, line);  // column names
  while (std::getline(table, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::istringstream fields(line);
    ConformanceCase c;
    std::getline(fields, c.image, '\t');
    for (std::string figure; std::getline(fields, figure, '\t');) c.figures.push_back(figure);
    cases.push_back(c);
  }
  return cases;
}

// The four figures of a report line, as printed: the text after "NAME = "
// up to the next tab or the line end.
std::vector<std::string> ReportedFigures(const std::string& line) {
  std::vector<std::string> figures;
  for (const char* name : {"PSNR_R = ", "PSNR_G = ", "PSNR_B = ", "CPSNR = "}) {
    const std::size_t at = line.find(std::string("\t") + name);
    if (at == std::string::npos) return {};
    const std::size_t start = at + 1 + std::string(name).size();
    figures.push_back(line.substr(start, line.find_first_of("\t\r\n", start) - start));
  }
  return figures;
}

std::string TestName(const ::testing::TestParamInfo<ConformanceCase>& info) {
  return CaseTestName(info.param.image);
}

class Conformance : public ::testing::TestWithParam<ConformanceCase> {};

TEST_P(Conformance, ReconstructionAndFiguresMatchExactly) {
  const ConformanceCase& c = GetParam();
  const std::filesystem::path corpus = CorpusDir();
  const std::string input = (corpus / "input" / c.image).string();
  const std::string stem = std::filesystem::path(c.image).stem().string();
  ScratchDir scratch;
  const std::string output = scratch.File(stem + ".png");

  const ProgramResult run = RunProgram({DEMOSAIC_EVAL_BINARY, input, output});
  ASSERT_EQ(run.exit_status, 0) << c.image << ": stdout '" << run.out << "' stderr '" << run.err
                                << "'";
  EXPECT_EQ(run.out.rfind(input + "\t", 0), 0u) << "report line must start with the name";
  EXPECT_TRUE(run.out.ends_with("\r\n"));
  EXPECT_EQ(ReportedFigures(run.out), c.figures) << c.image << ": report line " << run.out;

  const cv::Mat expected =
      cv::imread((corpus / "expected" / (stem + ".png")).string(), cv::IMREAD_UNCHANGED);
  const cv::Mat actual = cv::imread(output, cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(expected.empty()) << c.image << ": expected reconstruction missing";
  ASSERT_FALSE(actual.empty()) << c.image << ": no reconstruction written";
  ASSERT_EQ(actual.type(), expected.type()) << c.image;
  ASSERT_EQ(actual.size(), expected.size()) << c.image;
  for (int r = 0; r < expected.rows; ++r) {
    for (int col = 0; col < expected.cols; ++col) {
      const cv::Vec3b want = expected.at<cv::Vec3b>(r, col);
      const cv::Vec3b got = actual.at<cv::Vec3b>(r, col);
      for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(int{got[k]}, int{want[k]})
            << c.image << ": first differing pixel at row " << r << ", column " << col
            << ", channel "
            << "BGR"[k] << ": got " << int{got[k]} << ", expected " << int{want[k]};
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, Conformance, ::testing::ValuesIn(LoadCases()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Conformance);

TEST(ConformanceCorpus, IsPresent) {
  if (!CorpusPresent()) {
    GTEST_SKIP() << "conformance corpus not found (DEMOSAIC_CONFORMANCE_DIR='" << CorpusDir()
                 << "'): the bit-exact conformance cases were NOT run";
  }
  EXPECT_FALSE(LoadCases().empty()) << "expected.tsv lists no image";
}

// The mean CPSNR over the Kodak photographs, as the tool prints it, equals the
// mean of the table's column for them.
TEST(ConformanceCorpus, KodakMeanCpsnrMatchesTable) {
  if (!CorpusPresent()) GTEST_SKIP() << "conformance corpus not found";
  double printed_sum = 0.0;
  double table_sum = 0.0;
  int count = 0;
  ScratchDir scratch;
  for (const ConformanceCase& c : LoadCases()) {
    if (!c.image.starts_with("kodim")) continue;
    const std::string input = (std::filesystem::path(CorpusDir()) / "input" / c.image).string();
    const ProgramResult run = RunProgram({DEMOSAIC_EVAL_BINARY, input, scratch.File("k.png")});
    const std::vector<std::string> figures = ReportedFigures(run.out);
    ASSERT_EQ(figures.size(), 4u) << c.image;
    printed_sum += std::stod(figures[3]);
    table_sum += std::stod(c.figures[3]);
    ++count;
  }
  ASSERT_EQ(count, 24);
  EXPECT_NEAR(printed_sum / count, table_sum / count, 1e-9);
}

}  // namespace
}  // namespace demosaic::testing
