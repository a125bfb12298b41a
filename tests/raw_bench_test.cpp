// Camera raw files as demosaic-bench references: taken at --depth native as
// their half-size image, measured like any 16-bit reference through
// --pattern, and said to be raw in the table and the CSV.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "demosaic/demosaic.h"
#include "io/raw_file.h"
#include "support/dng_writer.h"
#include "support/run_program.h"
#include "support/table_text.h"

namespace demosaic::testing {
namespace {

const std::string kBench = DEMOSAIC_BENCH_BINARY;

// A 64 x 48 sensor (a 32 x 24 half-size image), 12-bit, black 2 x 2.
DngContents BenchDng() {
  DngContents dng;
  dng.width = 64;
  dng.height = 48;
  dng.samples = TestSensorSamples(dng.width, dng.height, 3);
  dng.pattern = BayerPattern::kBGGR;
  dng.black_rows = dng.black_columns = 2;
  dng.black_levels = {40, 44, 48, 52};
  return dng;
}

std::string WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

// The method's CPSNR on the file's half-size reference through `pattern`,
// computed in process.
double MethodCpsnr(const std::vector<unsigned char>& dng, RawWhiteBalance balance,
                   BayerPattern pattern) {
  ImageSource source{dng};
  const Expected<RawMosaic> raw = UnpackRawFile(source, {});
  EXPECT_TRUE(raw.ok());
  const Expected<DeepImage> reference = HalfSizeReference(raw.value(), balance);
  EXPECT_TRUE(reference.ok());
  const cv::Mat& image = reference.value().image;
  const std::int32_t white = reference.value().white_level;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(image.step[0] / 2);
  const ConstImageView16 view{image.ptr<std::uint16_t>(), image.cols, image.rows, stride,
                              ChannelOrder::kBGR,         white};
  std::vector<std::uint16_t> mosaic(image.total());
  std::vector<std::uint16_t> output(3 * image.total());
  const MosaicView16 mosaic_view{mosaic.data(), image.cols, image.rows, image.cols, pattern, white};
  const ImageView16 output_view{output.data(),  image.cols,         image.rows,
                                3 * image.cols, ChannelOrder::kBGR, white};
  SampleMosaic(view, mosaic_view);
  ReconstructFromMosaic(mosaic_view, output_view);
  return ComputeQuality(view, output_view).cpsnr;
}

TEST(RawReference, MeasuredAsItsHalfSizeImageAtItsOwnWhiteLevel) {
  ScratchDir dir;
  const std::vector<unsigned char> bytes = WriteDng(BenchDng());
  const std::string raw = WriteFile(dir.File("shot.dng"), bytes);
  for (const std::string balance : {"none", "camera"}) {
    const std::string csv = dir.File(balance + ".csv");
    const ProgramResult run = RunProgram({kBench, "--depth", "native", "--white-balance", balance,
                                          "--pattern", "RGGB", "--csv", csv, raw});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("shot.dng (raw)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(raw): a camera raw file's half-size image"), std::string::npos);
    const auto rows = CsvRowsByMethod(csv);
    ASSERT_EQ(rows.count("method"), 1u);
    const auto& method = rows.at("method");
    EXPECT_EQ(method.at("reference"), "raw");
    EXPECT_EQ(method.at("white_level"), "4055");
    EXPECT_EQ(method.at("width"), "32");
    EXPECT_EQ(method.at("height"), "24");
    const RawWhiteBalance chosen =
        balance == "camera" ? RawWhiteBalance::kCamera : RawWhiteBalance::kNone;
    EXPECT_EQ(std::stod(method.at("CPSNR")), MethodCpsnr(bytes, chosen, BayerPattern::kRGGB))
        << balance;
  }
}

// At --depth native a raw file named or found in a folder is measured (a
// linear DNG skipped with the reason); at the default depth a named one is
// refused with the option to use, and folders do not pick raw files up.
TEST(RawReference, NeedsNativeDepthNamedOrInAFolder) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.File("set"));
  const std::string raw = WriteFile(dir.File("set/a.dng"), WriteDng(BenchDng()));
  DngContents linear = BenchDng();
  linear.linear = true;
  WriteFile(dir.File("set/b.dng"), WriteDng(linear));
  const ProgramResult native =
      RunProgram({kBench, "--depth", "native", "--csv", dir.File("n.csv"), dir.File("set")});
  EXPECT_EQ(native.exit_status, 1) << "b.dng is skipped";
  EXPECT_NE(native.out.find("a.dng (raw)"), std::string::npos) << native.out;
  EXPECT_NE(native.err.find("b.dng: skipped, raw file is not a Bayer mosaic"), std::string::npos)
      << native.err;
  const ProgramResult eight = RunProgram({kBench, dir.File("set")});
  EXPECT_EQ(eight.out.find(".dng"), std::string::npos) << eight.out;
  const ProgramResult named = RunProgram({kBench, raw});
  EXPECT_EQ(named.exit_status, 1);
  EXPECT_NE(named.err.find("evaluated at its own depth: use --depth native"), std::string::npos)
      << named.err;
  const ProgramResult balance = RunProgram({kBench, "--white-balance", "camera", raw});
  EXPECT_EQ(balance.exit_status, 2);
  EXPECT_NE(balance.err.find("--white-balance needs --depth native"), std::string::npos);
}

}  // namespace
}  // namespace demosaic::testing
