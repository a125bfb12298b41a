// Failures reported, values taken rightly, numbers read as written: a
// report or table that cannot be printed fails the run (a closed pipe ends
// it quietly); a file-size limit is a write error, not a silent death; the
// bench's outputs never land among its inputs or on one another;
// floating-point, 16-bit and RGBA references are measured by their colours
// whatever the container; --border and --jobs are decimal; links that lead
// nowhere are reported; names with tabs and line breaks keep the report's
// line and the CSV's rows; few descriptors and a small stack limit are
// limits the tools live with or name.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "support/fault_support.h"
#include "support/sanitizer.h"

namespace demosaic::testing {
namespace {

namespace fs = std::filesystem;

class ReportingTest : public ToolFaultTest {
 protected:
  void SetUp() override {
    reference_ = dir_.File("ref.png");
    WriteFile(reference_, Encode(".png", TestImage(64, 48, 12)));
  }
  std::string reference_;
};

// ------------------------------------------------ standard output failures

TEST_F(ReportingTest, FullStandardOutputFailsTheRun) {
  RunOptions full;
  full.stdout_path = "/dev/full";
  const ProgramResult eval = Eval(reference_, dir_.File("out.png"), full);
  EXPECT_EQ(eval.exit_status, 255);
  EXPECT_EQ(eval.err, "demosaic-eval: cannot write to standard output: No space left on device\n");
  ExpectCompleteImage(dir_.File("out.png"), cv::Size(64, 48));

  const ProgramResult bench = Bench({"--csv", dir_.File("f.csv"), reference_}, full);
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("cannot write to standard output: No space left on device"),
            std::string::npos)
      << bench.err;
  EXPECT_NE(ReadFileBytes(dir_.File("f.csv")).find("ref.png,64,48,method"), std::string::npos)
      << "the CSV is still written";
}

TEST_F(ReportingTest, ClosedStandardOutputFailsTheRun) {
  RunOptions closed;
  closed.stdout_path = kClosedStdout;
  const ProgramResult eval = Eval(reference_, dir_.File("out.png"), closed);
  EXPECT_EQ(eval.exit_status, 255);
  EXPECT_NE(eval.err.find("cannot write to standard output"), std::string::npos) << eval.err;
  ExpectCompleteImage(dir_.File("out.png"), cv::Size(64, 48));
  const ProgramResult bench = Bench({reference_}, closed);
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("cannot write to standard output"), std::string::npos) << bench.err;
  // Failures still fail, however their message fares.
  const ProgramResult refused = Eval(dir_.File("missing.png"), dir_.File("x.png"), closed);
  EXPECT_EQ(refused.exit_status, 255);
}

// A reader that went away ends the tools as it ends other tools: quietly,
// by SIGPIPE.
TEST_F(ReportingTest, ClosedPipeEndsQuietly) {
  RunOptions pipe;
  pipe.stdout_path = kClosedPipe;
  const ProgramResult eval = Eval(reference_, dir_.File("out.png"), pipe);
  EXPECT_EQ(eval.signal, SIGPIPE);
  EXPECT_EQ(eval.err, "");
  const ProgramResult bench = Bench({reference_}, pipe);
  EXPECT_EQ(bench.signal, SIGPIPE);
  EXPECT_EQ(bench.err, "");
}

// ulimit -f: SIGXFSZ would kill the tools without a word (and the bench
// before its CSV); it is an ordinary write error instead.
TEST_F(ReportingTest, FileSizeLimitIsAWriteErrorNotADeath) {
  // The report line fits; the image does not. SIGXFSZ is left at its
  // default.
  RunOptions limited;
  limited.limits.push_back({RLIMIT_FSIZE, 2048});
  ASSERT_GT(Encode(".png", TestImage(64, 48, 12)).size(), 2048u);
  ExpectReport(Eval(reference_, dir_.File("out.png"), limited), reference_, true);
  ExpectNoFile(dir_.File("out.png"));
  // The table goes to a device, which the limit does not cover; the CSV
  // file is larger than the limit.
  limited.limits = {{RLIMIT_FSIZE, 256}};
  limited.stdout_path = "/dev/null";
  const ProgramResult bench = Bench({"--csv", dir_.File("f.csv"), reference_}, limited);
  EXPECT_EQ(bench.signal, 0) << "killed by signal " << bench.signal;
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("f.csv (cannot be written)"), std::string::npos) << bench.err;
  ExpectNoFile(dir_.File("f.csv"));
  EXPECT_EQ(Listing(dir_.path), (std::set<std::string>{"ref.png"}));
}

// ulimit -n: demosaic-eval says what stopped it; the bench evaluates fewer
// images at once instead of failing them.
TEST_F(ReportingTest, FewDescriptorsAreReportedAndTheBenchRunsFewerImagesAtOnce) {
  RunOptions limited;
  // Standard input, output and error, and the copy of standard error the
  // tools keep: the reference cannot be opened.
  limited.limits.push_back({RLIMIT_NOFILE, 4});
  // The sanitizer's runtime opens files of its own before the tool starts.
  if (!kAddressSanitizer) {
    const ProgramResult eval = Eval(reference_, dir_.File("out.png"), limited);
    EXPECT_EQ(eval.out, "Too many open files.");
    EXPECT_EQ(eval.exit_status, 255);
    ExpectNoFile(dir_.File("out.png"));
  }

  std::vector<std::string> arguments = {"--jobs",           "8",        "--save",
                                        dir_.File("saved"), "--report", dir_.File("report")};
  for (int k = 0; k < 3; ++k) {
    const std::string name = dir_.File("ref" + std::to_string(k) + ".png");
    WriteFile(name, Encode(".png", TestImage(64, 48, 20 + k)));
    arguments.push_back(name);
  }
  limited.limits = {{RLIMIT_NOFILE, 12}};
  const ProgramResult bench = Bench(arguments, limited);
  EXPECT_EQ(bench.exit_status, 0) << bench.err;
  EXPECT_NE(bench.err.find("few file descriptors left (ulimit -n)"), std::string::npos)
      << bench.err;
  EXPECT_NE(bench.err.find("3 images measured, 0 skipped"), std::string::npos) << bench.err;
  EXPECT_TRUE(fs::exists(dir_.File("saved/ref2.method.png")));
  EXPECT_TRUE(fs::exists(dir_.File("report/index.html")));
}

// ulimit -s: the bench's run and its jobs get stacks of the size they need,
// whatever the limit the process was started under. At 16 KiB the dynamic
// loader itself sometimes cannot start a program (about one start in three
// here, before main and before any output): such a start is tried again.
// Before the run had a stack of its own, every start died in main.
TEST_F(ReportingTest, ASmallStackLimitDoesNotKillTheBench) {
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's runtime needs the default stack";
  RunOptions limited;
  limited.limits.push_back({RLIMIT_STACK, 16 * 1024});
  int completed = 0;
  for (int attempt = 0; attempt < 10 && completed == 0; ++attempt) {
    const ProgramResult bench = Bench(
        {"--jobs", "2", "--metrics", "psnr,ssim,de2000,zipper", reference_, reference_}, limited);
    if (bench.signal != 0 && bench.out.empty() && bench.err.empty()) continue;
    EXPECT_EQ(bench.signal, 0) << "killed by signal " << bench.signal << " after starting";
    EXPECT_EQ(bench.exit_status, 0) << bench.err;
    ++completed;
  }
  EXPECT_EQ(completed, 1) << "no start of the bench got past its first steps";
}

// ------------------------------------------------------- bench outputs

TEST_F(ReportingTest, CsvOntoASavedImageIsRefused) {
  const std::string save = dir_.File("saved");
  for (const std::string& csv : {save + "/ref.method.png", save + "/ref.bilinear.err.png",
                                 save + "/../saved/ref.method.png"}) {
    SCOPED_TRACE(csv);
    const ProgramResult bench = Bench({"--save", save, "--csv", csv, reference_});
    EXPECT_EQ(bench.exit_status, 2);
    EXPECT_NE(bench.err.find("is one of the files --save writes"), std::string::npos) << bench.err;
    EXPECT_EQ(bench.out, "");
    ExpectNoFile(save);
  }
  // Beside the saved images under a name of its own it is fine, and the
  // directory made for them takes it.
  EXPECT_EQ(Bench({"--save", save, "--csv", save + "/figures.csv", reference_}).exit_status, 0);
  EXPECT_EQ(Listing(save).count("figures.csv"), 1u);
}

// Images named one by one (a shell glob) make their directory an input
// directory too, however --save names it.
TEST_F(ReportingTest, SaveAmongImagesGivenAsFilesIsRefused) {
  fs::create_directory(dir_.File("set"));
  const std::string a = dir_.File("set/a.png");
  const std::string b = dir_.File("set/b.png");
  WriteFile(a, Encode(".png", TestImage(32, 24, 1)));
  WriteFile(b, Encode(".png", TestImage(32, 24, 2)));
  fs::create_directory_symlink("set", dir_.File("alias"));
  for (const std::string& save :
       {dir_.File("set"), dir_.File("set/."), dir_.File("alias"), dir_.File("set/../set")}) {
    SCOPED_TRACE(save);
    const ProgramResult bench = Bench({"--save", save, a, b});
    EXPECT_EQ(bench.exit_status, 2);
    EXPECT_NE(bench.err.find("holds the input image"), std::string::npos) << bench.err;
    EXPECT_EQ(Listing(dir_.File("set")), (std::set<std::string>{"a.png", "b.png"}));
  }
  EXPECT_EQ(Bench({"--save", dir_.File("elsewhere"), a, b}).exit_status, 0);
}

// --------------------------------------------------- values taken rightly

// A floating-point reference (OpenEXR, PFM, TIFF) holds 0..1: it is
// measured as the 8-bit image of its values times 255, rounded, exactly as
// that image in a PNG is.
TEST_F(ReportingTest, FloatingPointReferencesAreScaledLikeTheirEightBitImage) {
  const cv::Mat eight_bit = TestImage(64, 48, 13);
  cv::Mat colour;
  eight_bit.convertTo(colour, CV_32FC3, 1.0 / 255.0);
  cv::Mat grey_eight;
  cv::extractChannel(eight_bit, grey_eight, 2);
  cv::Mat grey;
  grey_eight.convertTo(grey, CV_32FC1, 1.0 / 255.0);
  const std::vector<std::tuple<std::string, cv::Mat, cv::Mat>> cases = {{".pfm", colour, eight_bit},
                                                                        {".exr", colour, eight_bit},
                                                                        {".tif", colour, eight_bit},
                                                                        {".pfm", grey, grey_eight}};
  for (const auto& [extension, floats, expected] : cases) {
    SCOPED_TRACE(extension + (floats.channels() == 1 ? " grey" : " colour"));
    const std::string reference = dir_.File("float" + extension);
    const std::string png = dir_.File("float.png");
    // TIFF uncompressed, as IEEE floats (LogLuv, the library's default for
    // floating point, is lossy).
    WriteFile(reference,
              Encode(extension, floats,
                     extension == ".tif" ? std::vector<int>{cv::IMWRITE_TIFF_COMPRESSION, 1}
                                         : std::vector<int>{}));
    WriteFile(png, Encode(".png", expected));
    const ProgramResult from_float = Eval(reference, dir_.File("a.png"));
    const ProgramResult from_png = Eval(png, dir_.File("b.png"));
    ExpectReport(from_float, reference, false);
    EXPECT_EQ(from_float.out.substr(reference.size()), from_png.out.substr(png.size()));
    EXPECT_EQ(ReadFileBytes(dir_.File("a.png")), ReadFileBytes(dir_.File("b.png")));
  }
}

// The same colours give the same figures whatever the container: 16-bit
// samples by their high byte in PNG, PPM and TIFF alike (TIFF was rounded),
// and an RGBA TIFF with unassociated alpha by its colour, alpha dropped (it
// was premultiplied: CPSNR 21.73 instead of 48.06).
TEST_F(ReportingTest, SixteenBitAndAlphaReferencesAreMeasuredByTheirColours) {
  const cv::Mat eight_bit = TestImage(64, 48, 14);
  cv::Mat wide;
  eight_bit.convertTo(wide, CV_16UC3, 256.0);
  cv::Mat low(wide.size(), CV_16UC3);
  cv::randu(low, cv::Scalar::all(0), cv::Scalar::all(256));
  wide += low;  // the low byte, which the measure ignores
  const std::string png = dir_.File("eight.png");
  WriteFile(png, Encode(".png", eight_bit));
  const ProgramResult expected = Eval(png, dir_.File("e.png"));
  ExpectReport(expected, png, false);
  for (const std::string extension : {".png", ".ppm", ".tif"}) {
    SCOPED_TRACE(extension);
    const std::string reference = dir_.File("wide" + extension);
    WriteFile(reference, Encode(extension, wide));
    const ProgramResult result = Eval(reference, dir_.File("w.png"));
    ExpectReport(result, reference, false);
    EXPECT_EQ(result.out.substr(reference.size()), expected.out.substr(png.size()));
    EXPECT_EQ(ReadFileBytes(dir_.File("w.png")), ReadFileBytes(dir_.File("e.png")));
  }
  // An uncompressed RGBA TIFF written by hand: OpenCV's encoder does not
  // mark its alpha.
  std::string tiff = std::string("II*\0", 4);
  const auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) tiff += static_cast<char>(value >> (8 * i));
  };
  const std::uint32_t bits_at = 8 + 2 + 12 * 10 + 4;
  const std::uint32_t pixels_at = bits_at + 8;
  const std::uint32_t entries[10][3] = {
      {256, 3, 64},        {257, 3, 48}, {258, 3, bits_at}, {259, 3, 1},           {262, 3, 2},
      {273, 4, pixels_at}, {277, 3, 4},  {278, 3, 48},      {279, 4, 64 * 48 * 4}, {338, 3, 2}};
  put(8, 4);
  put(10, 2);
  for (const auto& [tag, type, value] : entries) {
    put(tag, 2);
    put(type, 2);
    put(tag == 258 ? 4 : 1, 4);
    put(value, 4);
  }
  put(0, 4);
  for (int i = 0; i < 4; ++i) put(8, 2);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const cv::Vec3b bgr = eight_bit.at<cv::Vec3b>(y, x);
      tiff += {static_cast<char>(bgr[2]), static_cast<char>(bgr[1]), static_cast<char>(bgr[0]),
               static_cast<char>(40 + (x + y) % 200)};
    }
  }
  const std::string rgba = dir_.File("rgba.tif");
  WriteFile(rgba, tiff);
  const ProgramResult result = Eval(rgba, dir_.File("a.png"));
  ExpectReport(result, rgba, false);
  EXPECT_EQ(result.out.substr(rgba.size()), expected.out.substr(png.size()));
}

// ------------------------------------------------------------ small ones

// Control characters in the reference's name are written escaped, so that
// the report stays one line of five tab-separated fields (a tab made six, a
// line break two lines).
TEST_F(ReportingTest, ControlCharactersInTheNameKeepTheLineOneLine) {
  const std::string name = "a\tb\rc\nd\\e.png";
  const std::string reference = dir_.File(name);
  fs::copy_file(reference_, reference);
  const ProgramResult result = Eval(reference, dir_.File("out.png"));
  EXPECT_EQ(result.exit_status, 0) << result.err;
  const std::string escaped = dir_.path + "/a\\tb\\rc\\nd\\\\e.png";
  ASSERT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
  ASSERT_EQ(result.out.find('\r'), result.out.size() - 2) << result.out;
  EXPECT_EQ(result.out.substr(0, escaped.size() + 1), escaped + "\t");
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\t'), 4);
  // An ordinary name is unchanged.
  ExpectReport(Eval(reference_, dir_.File("out.png")), reference_, false);
}

TEST_F(ReportingTest, NumbersOnTheCommandLineAreDecimal) {
  const ProgramResult padded = Bench({"--border", "010", "--jobs", "01", reference_});
  EXPECT_EQ(padded.exit_status, 0) << padded.err;
  EXPECT_NE(padded.out.find("at least 10 from every edge"), std::string::npos) << padded.out;
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--border", "0x10"},
                                             {"--border", "1e1"},
                                             {"--border", "+5"},
                                             {"--border", "-5"},
                                             {"--border", " 5"},
                                             {"--jobs", "0x2"},
                                             {"--jobs", "2.0"}}) {
    std::vector<std::string> argv = arguments;
    argv.push_back(reference_);
    const ProgramResult bench = Bench(argv);
    EXPECT_EQ(bench.exit_status, 2) << arguments[0] << " " << arguments[1];
    EXPECT_NE(bench.err.find("decimal"), std::string::npos) << bench.err;
    EXPECT_EQ(bench.out, "");
  }
}

TEST_F(ReportingTest, LinksLeadingNowhereAreReportedAndSkipped) {
  fs::create_directory(dir_.File("set"));
  fs::copy_file(reference_, dir_.File("set/good.png"));
  fs::create_symlink("gone.png", dir_.File("set/dangling.png"));
  fs::create_symlink("loop.png", dir_.File("set/loop.png"));
  const ProgramResult bench = Bench({dir_.File("set")});
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("dangling.png: skipped, symbolic link to a missing file"),
            std::string::npos)
      << bench.err;
  EXPECT_NE(bench.err.find("loop.png: skipped, symbolic link loop"), std::string::npos)
      << bench.err;
  EXPECT_NE(bench.err.find("1 image measured, 2 skipped"), std::string::npos) << bench.err;
}

// The fields of CSV text as a CSV reader takes them (RFC 4180: quoted
// fields may hold separators, quotes doubled, line breaks).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (quoted) {
      if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        rows.back().back() += '"';
        ++i;
      } else if (ch == '"') {
        quoted = false;
      } else {
        rows.back().back() += ch;
      }
    } else if (ch == '"') {
      quoted = true;
    } else if (ch == ',') {
      rows.back().emplace_back();
    } else if (ch == '\n') {
      rows.emplace_back(1);
    } else {
      rows.back().back() += ch;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

TEST_F(ReportingTest, NamesWithTabsAndLineBreaksKeepTheCsvRows) {
  fs::create_directory(dir_.File("odd"));
  const std::vector<std::string> names = {"tab\there.png", "line\nbreak.png", "quote\"d.png",
                                          " edge.png"};
  for (const std::string& name : names) fs::copy_file(reference_, dir_.File("odd/" + name));
  const ProgramResult bench =
      Bench({"--methods", "method", "--csv", dir_.File("f.csv"), dir_.File("odd")});
  ASSERT_EQ(bench.exit_status, 0) << bench.err;
  const std::vector<std::vector<std::string>> rows = ParseCsv(ReadFileBytes(dir_.File("f.csv")));
  ASSERT_EQ(rows.size(), 1 + names.size());
  std::set<std::string> read;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 13u) << rows[i][0];
    read.insert(rows[i][0]);
    EXPECT_EQ(rows[i][1], "64");
  }
  EXPECT_EQ(read, std::set<std::string>(names.begin(), names.end()));
}

}  // namespace
}  // namespace demosaic::testing
