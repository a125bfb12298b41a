// Decoding references: floating-point samples scaled to 8 bits, grey
// expanded, and no copy of the file ever made in the temporary directory,
// whether the reference is a file, a pipe or bytes in memory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "io/image_files.h"
#include "support/run_program.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

// TIFF is written uncompressed: floating-point samples then stay IEEE
// floats (the library's default for them, LogLuv, is lossy).
std::vector<unsigned char> Encode(const std::string& extension, const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  std::vector<int> params;
  if (extension == ".tif") params = {cv::IMWRITE_TIFF_COMPRESSION, 1};
  EXPECT_TRUE(cv::imencode(extension, image, bytes, params)) << extension;
  return bytes;
}

void Write(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The image library copies some formats given as bytes into the directory
// named by OPENCV_TEMP_PATH: pointing it (and TMPDIR) at an empty directory
// shows any such copy.
class NoTemporaryCopies : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("OPENCV_TEMP_PATH", temp_.path.c_str(), 1);
    setenv("TMPDIR", temp_.path.c_str(), 1);
  }
  void TearDown() override {
    EXPECT_TRUE(fs::is_empty(temp_.path)) << "a file was left in the temporary directory";
    unsetenv("OPENCV_TEMP_PATH");
    unsetenv("TMPDIR");
  }
  ScratchDir temp_;
  ScratchDir dir_;
};

// Samples of 0..1 as the 8-bit levels they stand for, and what lies outside
// clamped: 0.5 is 127.5 and rounds to even, 128.
TEST_F(NoTemporaryCopies, FloatingPointSamplesAreScaledRoundedAndClamped) {
  cv::Mat samples(7, 7, CV_32FC3, cv::Scalar(0.5f, 1.0f, 0.0f));
  samples.at<cv::Vec3f>(1, 1) = {1.5f, -0.25f, 0.2f};
  samples.at<cv::Vec3f>(2, 2) = {std::nanf(""), 0.999f, 0.001f};
  for (const std::string extension : {".pfm", ".exr", ".tif"}) {
    SCOPED_TRACE(extension);
    const Expected<cv::Mat> decoding = DecodeColorImage(Encode(extension, samples));
    ASSERT_TRUE(decoding.ok());
    const cv::Mat& decoded = decoding.value();
    ASSERT_EQ(decoded.type(), CV_8UC3);
    ASSERT_EQ(decoded.size(), cv::Size(7, 7));
    EXPECT_EQ(decoded.at<cv::Vec3b>(0, 0), cv::Vec3b(128, 255, 0));
    EXPECT_EQ(decoded.at<cv::Vec3b>(1, 1), cv::Vec3b(255, 0, 51));
    EXPECT_EQ(decoded.at<cv::Vec3b>(2, 2), cv::Vec3b(0, 255, 0));
  }
}

// A grey PFM decodes to one floating-point channel, expanded like any grey
// image; a Radiance file is scaled by the library itself, the same way.
TEST_F(NoTemporaryCopies, GreyPfmIsExpandedAndRadianceScaledAlike) {
  cv::Mat grey(8, 9, CV_32FC1);
  for (int i = 0; i < 72; ++i) grey.at<float>(i / 9, i % 9) = static_cast<float>(i) / 71.0f;
  const Expected<cv::Mat> decoding = DecodeColorImage(Encode(".pfm", grey));
  ASSERT_TRUE(decoding.ok());
  const cv::Mat& decoded = decoding.value();
  ASSERT_EQ(decoded.type(), CV_8UC3);
  for (int i = 0; i < 72; ++i) {
    const auto level = static_cast<unsigned char>(cvRound(grey.at<float>(i / 9, i % 9) * 255.0f));
    ASSERT_EQ(decoded.at<cv::Vec3b>(i / 9, i % 9), cv::Vec3b(level, level, level)) << i;
  }
  cv::Mat colour;
  cv::merge(std::vector<cv::Mat>{grey, grey, grey}, colour);
  const Expected<cv::Mat> radiance = DecodeColorImage(Encode(".hdr", colour));
  ASSERT_TRUE(radiance.ok());
  // RGBE keeps 8 bits of mantissa: within a level of the exact scaling.
  EXPECT_LE(cv::norm(radiance.value(), decoded, cv::NORM_INF), 1.0);
}

// Every format the library can only read from a named file decodes from a
// file, a pipe and bytes alike, with no copy left anywhere.
TEST_F(NoTemporaryCopies, FileOnlyFormatsDecodeFromFilesPipesAndBytes) {
  cv::Mat image(33, 40, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(256));
  cv::Mat floats;
  image.convertTo(floats, CV_32FC3, 1.0 / 255.0);
  for (const std::string extension : {".hdr", ".pfm", ".exr", ".ras", ".png"}) {
    SCOPED_TRACE(extension);
    const bool floating = extension == ".hdr" || extension == ".pfm" || extension == ".exr";
    const std::vector<unsigned char> bytes = Encode(extension, floating ? floats : image);
    const Expected<cv::Mat> decoding = DecodeColorImage(bytes);
    ASSERT_TRUE(decoding.ok());
    const cv::Mat& from_bytes = decoding.value();
    EXPECT_EQ(from_bytes.size(), image.size());

    const std::string path = dir_.File("image" + extension);
    Write(path, bytes);
    Expected<ImageSource> source = OpenImageSource(path, SIZE_MAX);
    ASSERT_TRUE(source.ok());
    EXPECT_EQ(source.value().path, path);
    const Expected<cv::Mat> from_file = DecodeColorImage(source.value());
    ASSERT_TRUE(from_file.ok());
    EXPECT_TRUE(source.value().bytes.empty()) << "the bytes are released before decoding";
    EXPECT_EQ(cv::norm(from_file.value(), from_bytes, cv::NORM_INF), 0.0);

    const std::string fifo = dir_.File("pipe" + extension);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { Write(fifo, bytes); });
    Expected<ImageSource> piped = OpenImageSource(fifo, SIZE_MAX);
    writer.join();
    ASSERT_TRUE(piped.ok());
    EXPECT_EQ(piped.value().path, "") << "a pipe is decoded from a copy in memory";
    const Expected<cv::Mat> from_pipe = DecodeColorImage(piped.value());
    ASSERT_TRUE(from_pipe.ok());
    EXPECT_EQ(cv::norm(from_pipe.value(), from_bytes, cv::NORM_INF), 0.0);
  }
}

// The decoder reads the very file that was checked, through its
// descriptor, even after the name has been given to another file.
TEST_F(NoTemporaryCopies, DecodesTheFileOpenedNotWhatTheNameNowHolds) {
  const cv::Mat first(9, 10, CV_8UC3, cv::Scalar(1, 2, 3));
  const std::string path = dir_.File("ref.png");
  Write(path, Encode(".png", first));
  Expected<ImageSource> source = OpenImageSource(path, SIZE_MAX);
  ASSERT_TRUE(source.ok());
  fs::remove(path);
  Write(path, Encode(".png", cv::Mat(20, 20, CV_8UC3, cv::Scalar(9, 9, 9))));
  const Expected<cv::Mat> decoded = DecodeColorImage(source.value());
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded.value().size(), first.size());
  EXPECT_EQ(decoded.value().at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
}

TEST_F(NoTemporaryCopies, LimitAndKindOfFileAreChecked) {
  const std::string path = dir_.File("ref.png");
  Write(path, Encode(".png", cv::Mat(9, 10, CV_8UC3, cv::Scalar(1, 2, 3))));
  auto kind = [](const auto& expected) {
    return expected.ok() ? std::optional<ErrorKind>() : expected.error().kind;
  };
  EXPECT_EQ(kind(OpenImageSource(path, 10)), ErrorKind::kOutOfMemory);
  EXPECT_EQ(kind(OpenImageSource(dir_.path, SIZE_MAX)), ErrorKind::kUnreadable);
  EXPECT_EQ(kind(OpenImageSource("/dev/zero", SIZE_MAX)), ErrorKind::kUnreadable);
  EXPECT_EQ(kind(OpenImageSource(dir_.File("missing.png"), SIZE_MAX)), ErrorKind::kUnreadable);
  EXPECT_EQ(kind(DecodeColorImage(std::vector<unsigned char>{})), ErrorKind::kUnreadable);
}

// Outputs in formats whose encoder only writes named files are encoded
// without the temporary directory, and a PFM output holds 0..1, so that it
// reads back as what was written.
TEST_F(NoTemporaryCopies, OutputsReadBackAsWritten) {
  cv::Mat image(36, 44, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(256));
  for (const std::string extension : {".pfm", ".ras", ".jp2"}) {
    SCOPED_TRACE(extension);
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(EncodeImage(dir_.File("out" + extension), image, bytes).ok());
    EXPECT_EQ(fs::directory_iterator(dir_.path), fs::directory_iterator())
        << "the encoder's own file is removed";
    const Expected<cv::Mat> decoding = DecodeColorImage(bytes);
    ASSERT_TRUE(decoding.ok());
    const cv::Mat& decoded = decoding.value();
    ASSERT_EQ(decoded.size(), image.size());
    // JPEG 2000 is lossy by default; the others are exact.
    if (extension != ".jp2") {
      EXPECT_EQ(cv::norm(decoded, image, cv::NORM_INF), 0.0);
    }
  }
}

}  // namespace
}  // namespace demosaic
