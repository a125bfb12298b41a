// Decoding references: the bytes checked are the bytes decoded, 16-bit
// samples reduced alike in every format, floating-point samples scaled to 8
// bits, grey expanded, alpha dropped, and no copy of the file ever made in
// the temporary directory, whether the reference is a file, a pipe or bytes
// in memory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "evaluation/image_loading.h"
#include "io/image_files.h"
#include "io/image_header.h"
#include "support/run_program.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

// TIFF is written uncompressed: floating-point samples then stay IEEE
// floats (the library's default for them, LogLuv, is lossy); JPEG 2000
// losslessly.
std::vector<unsigned char> Encode(const std::string& extension, const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  std::vector<int> params;
  if (extension == ".tif") params = {cv::IMWRITE_TIFF_COMPRESSION, 1};
  if (extension == ".jp2") params = {cv::IMWRITE_JPEG2000_COMPRESSION_X1000, 1000};  // lossless
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

// Infinities and samples far out of range clamp like any other: +inf is
// 255 beside a NaN, -inf 0, 1e20 255 (the library's own conversion made
// all of them 0).
TEST_F(NoTemporaryCopies, InfinitiesAndHugeSamplesClamp) {
  const float inf = std::numeric_limits<float>::infinity();
  cv::Mat samples(7, 7, CV_32FC3, cv::Scalar(0.2f, 0.4f, 0.6f));
  samples.at<cv::Vec3f>(0, 0) = {inf, std::nanf(""), -inf};
  samples.at<cv::Vec3f>(3, 4) = {1e20f, -1e20f, inf};
  for (const std::string extension : {".pfm", ".exr", ".tif"}) {
    SCOPED_TRACE(extension);
    const Expected<cv::Mat> decoding = DecodeColorImage(Encode(extension, samples));
    ASSERT_TRUE(decoding.ok());
    EXPECT_EQ(decoding.value().at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 0));
    EXPECT_EQ(decoding.value().at<cv::Vec3b>(3, 4), cv::Vec3b(255, 0, 255));
    EXPECT_EQ(decoding.value().at<cv::Vec3b>(6, 6), cv::Vec3b(51, 102, 153));
  }
}

// The same 16-bit samples give the same 8-bit image in every container:
// their high byte (TIFF was rounded to v * 255 / 65535 instead, so that 255
// became 1 and 0x80FF 129).
TEST_F(NoTemporaryCopies, SixteenBitSamplesKeepTheirHighByteInEveryFormat) {
  cv::Mat wide(64, 64, CV_16UC3);
  cv::randu(wide, cv::Scalar::all(0), cv::Scalar::all(65536));
  wide.at<cv::Vec3w>(0, 0) = {255, 0x80FF, 0xFFFF};
  cv::Mat expected(wide.size(), CV_8UC3);
  for (int y = 0; y < wide.rows; ++y) {
    for (int x = 0; x < wide.cols; ++x) {
      const cv::Vec3w v = wide.at<cv::Vec3w>(y, x);
      expected.at<cv::Vec3b>(y, x) = {static_cast<unsigned char>(v[0] >> 8),
                                      static_cast<unsigned char>(v[1] >> 8),
                                      static_cast<unsigned char>(v[2] >> 8)};
    }
  }
  for (const std::string extension : {".png", ".ppm", ".tif", ".jp2"}) {
    SCOPED_TRACE(extension);
    const Expected<cv::Mat> decoding = DecodeColorImage(Encode(extension, wide));
    ASSERT_TRUE(decoding.ok());
    ASSERT_EQ(decoding.value().size(), wide.size());
    EXPECT_EQ(cv::norm(decoding.value(), expected, cv::NORM_INF), 0.0);
  }
}

// A 16-bit image is saved at 16 bits where the format holds them, and reads
// back whole when 16-bit samples are kept; it is refused, never reduced,
// where the format does not hold them.
TEST(SixteenBitFiles, SavedOnlyInFormatsThatHoldThem) {
  cv::Mat wide(8, 8, CV_16UC3, cv::Scalar(1, 4095, 65535));
  for (const std::string extension : {".png", ".tif", ".ppm"}) {
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(EncodeImage("out" + extension, wide, bytes).ok()) << extension;
    ImageSource source{bytes};
    const Expected<cv::Mat> back = DecodeColorImage(source, true);
    ASSERT_TRUE(back.ok()) << extension;
    EXPECT_EQ(cv::norm(back.value(), wide, cv::NORM_INF), 0.0) << extension;
  }
  for (const std::string extension : {".jpg", ".bmp", ".webp"}) {
    std::vector<unsigned char> bytes;
    EXPECT_FALSE(EncodeImage("out" + extension, wide, bytes).ok()) << extension;
    EXPECT_FALSE(CanHold16Bit("out" + extension)) << extension;
  }
  EXPECT_TRUE(CanHold16Bit("OUT.TIFF"));
  // Kept at 16 bits, grey is expanded and alpha dropped as at 8 bits.
  const std::vector<std::pair<cv::Mat, cv::Vec3w>> cases = {
      {cv::Mat(8, 8, CV_16UC1, cv::Scalar(1000)), {1000, 1000, 1000}},
      {cv::Mat(8, 8, CV_16UC4, cv::Scalar(1000, 2000, 3000, 7)), {1000, 2000, 3000}}};
  for (const auto& [image, pixel] : cases) {
    ImageSource source{std::vector<unsigned char>()};
    ASSERT_TRUE(cv::imencode(".png", image, source.bytes));
    const Expected<cv::Mat> decoded = DecodeColorImage(source, true);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value().type(), CV_16UC3);
    EXPECT_EQ(decoded.value().at<cv::Vec3w>(5, 5), pixel);
  }
}

// A classic little-endian TIFF of 8 x 8 uncompressed pixels all `pixel`
// (its bytes: `samples` samples of `bits` each, RGB then any extra one), with
// `fields` (tag and SHORT value, tags above 279) after the usual ones.
std::vector<unsigned char> SmallTiff(int bits, int samples,
                                     const std::vector<std::array<std::uint32_t, 2>>& fields,
                                     const std::vector<unsigned char>& pixel) {
  std::vector<unsigned char> file = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) file.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  const auto entries = static_cast<std::uint32_t>(9 + fields.size());
  const std::uint32_t bits_at = 8 + 2 + 12 * entries + 4;  // after the directory
  const std::uint32_t pixels_at = bits_at + 2 * static_cast<std::uint32_t>(samples);
  const auto n = static_cast<std::uint32_t>(samples);
  std::vector<std::array<std::uint32_t, 4>> all = {
      {256, 3, 1, 8}, {257, 3, 1, 8}, {258, 3, n, bits_at},
      {259, 3, 1, 1}, {262, 3, 1, 2}, {273, 4, 1, pixels_at},
      {277, 3, 1, n}, {278, 3, 1, 8}, {279, 4, 1, 64 * static_cast<std::uint32_t>(pixel.size())}};
  for (const auto& [tag, value] : fields) all.push_back({tag, 3, 1, value});
  put(entries, 2);
  for (const auto& entry : all) {
    put(entry[0], 2);
    put(entry[1], 2);
    put(entry[2], 4);
    put(entry[3], 4);
  }
  put(0, 4);
  for (int i = 0; i < samples; ++i) put(static_cast<std::uint32_t>(bits), 2);
  for (int i = 0; i < 64; ++i) file.insert(file.end(), pixel.begin(), pixel.end());
  return file;
}

// 8-bit RGBA with ExtraSamples saying `extra_sample` (1 associated, 2
// unassociated alpha).
std::vector<unsigned char> RgbaTiff(cv::Vec4b rgba, int extra_sample) {
  return SmallTiff(8, 4, {{338, static_cast<std::uint32_t>(extra_sample)}},
                   {rgba[0], rgba[1], rgba[2], rgba[3]});
}

// Signed integer samples (SampleFormat 2) are taken by their bits, as the
// library hands 8-bit ones over: 8-bit as they are, 16-bit by the high byte
// like unsigned ones (0x8040, negative, is 128).
TEST_F(NoTemporaryCopies, SignedSamplesAreTakenByTheirBits) {
  const Expected<cv::Mat> bytes = DecodeColorImage(SmallTiff(8, 3, {{339, 2}}, {0x10, 0x80, 0xF0}));
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes.value().at<cv::Vec3b>(3, 3), cv::Vec3b(0xF0, 0x80, 0x10));
  const Expected<cv::Mat> words =
      DecodeColorImage(SmallTiff(16, 3, {{339, 2}}, {0xFF, 0x12, 0x40, 0x80, 0x00, 0x7F}));
  ASSERT_TRUE(words.ok());
  EXPECT_EQ(words.value().at<cv::Vec3b>(3, 3), cv::Vec3b(0x7F, 0x80, 0x12));
}

// Alpha is dropped and the colour kept as stored: an unassociated alpha of
// 64 made the colour a quarter of itself (libtiff premultiplies it).
TEST_F(NoTemporaryCopies, AlphaIsDroppedAndTheColourKept) {
  for (const int extra_sample : {1, 2}) {
    SCOPED_TRACE(extra_sample);
    const Expected<cv::Mat> decoding = DecodeColorImage(RgbaTiff({200, 100, 50, 64}, extra_sample));
    ASSERT_TRUE(decoding.ok());
    ASSERT_EQ(decoding.value().size(), cv::Size(8, 8));
    EXPECT_EQ(decoding.value().at<cv::Vec3b>(7, 7), cv::Vec3b(50, 100, 200));
  }
  cv::Mat bgra(9, 9, CV_8UC4, cv::Scalar(50, 100, 200, 64));
  for (const std::string extension : {".png", ".webp", ".tif"}) {
    SCOPED_TRACE(extension);
    std::vector<int> params;
    if (extension == ".webp") params = {cv::IMWRITE_WEBP_QUALITY, 101};
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(cv::imencode(extension, bgra, bytes, params));
    const Expected<cv::Mat> decoding = DecodeColorImage(bytes);
    ASSERT_TRUE(decoding.ok());
    EXPECT_EQ(decoding.value().at<cv::Vec3b>(4, 4), cv::Vec3b(50, 100, 200));
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
    const Expected<cv::Mat> from_file = DecodeColorImage(source.value());
    ASSERT_TRUE(from_file.ok());
    EXPECT_TRUE(source.value().bytes.empty()) << "the bytes are released once decoded";
    EXPECT_EQ(cv::norm(from_file.value(), from_bytes, cv::NORM_INF), 0.0);

    const std::string fifo = dir_.File("pipe" + extension);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { Write(fifo, bytes); });
    Expected<ImageSource> piped = OpenImageSource(fifo, SIZE_MAX);
    writer.join();
    ASSERT_TRUE(piped.ok());
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

// The bytes checked are the bytes decoded: a reference rewritten in place
// after it was read (same file, new contents: a JPEG of 10,000 scans, a JPEG
// cut short) is still decoded from what was read, in every format.
TEST_F(NoTemporaryCopies, FileRewrittenInPlaceAfterReadingIsNotDecodedAgain) {
  const cv::Mat first(9, 10, CV_8UC3, cv::Scalar(1, 2, 3));
  cv::Mat floats;
  first.convertTo(floats, CV_32FC3, 1.0 / 255.0);
  for (const std::string extension : {".png", ".jpg", ".tif", ".ras", ".pfm", ".exr"}) {
    SCOPED_TRACE(extension);
    const bool floating = extension == ".pfm" || extension == ".exr";
    const std::string path = dir_.File("ref" + extension);
    Write(path, Encode(extension, floating ? floats : first));
    Expected<ImageSource> source = OpenImageSource(path, SIZE_MAX);
    ASSERT_TRUE(source.ok());
    const cv::Mat second(20, 20, CV_8UC3, cv::Scalar(200, 200, 200));
    cv::Mat second_floats;
    second.convertTo(second_floats, CV_32FC3, 1.0 / 255.0);
    const std::vector<unsigned char> replacement =
        Encode(extension, floating ? second_floats : second);
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .write(reinterpret_cast<const char*>(replacement.data()),
               static_cast<std::streamsize>(replacement.size()));
    const Expected<cv::Mat> decoded = DecodeColorImage(source.value());
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value().size(), first.size());
  }
}

// The file's bytes are held while they are decoded, and counted: a PNG
// carrying a megabyte of metadata is refused where the memory left covers
// its decoding and run but not its bytes as well.
TEST_F(NoTemporaryCopies, FileBytesHeldWhileDecodingAreCounted) {
  std::vector<unsigned char> png = Encode(".png", cv::Mat(16, 16, CV_8UC3, cv::Scalar(7, 8, 9)));
  std::vector<unsigned char> chunk = {0, 0x10, 0, 0, 't', 'E', 'X', 't', 'C', 0};
  chunk.resize(8 + 0x100000, 'x');
  const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  for (int shift = 24; shift >= 0; shift -= 8)
    chunk.push_back(static_cast<unsigned char>(crc >> shift));
  png.insert(png.end() - 12, chunk.begin(), chunk.end());  // before IEND
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(png);
  ASSERT_TRUE(declared.has_value());
  LoadRequest request;
  const std::size_t without_bytes =
      DecodeAndRunBytes(request.memory, 16, 16, declared->decoding_bytes);
  for (const std::size_t ceiling : {without_bytes + png.size() - 1, without_bytes + png.size()}) {
    request.memory.ceiling = ceiling;
    Expected<ImageSource> source = ImageSourceOfBytes(png);
    ASSERT_TRUE(source.ok());
    const Expected<cv::Mat> loaded = LoadImage(source.value(), request);
    const bool enough = ceiling == without_bytes + png.size();
    EXPECT_EQ(loaded.ok(), enough) << ceiling;
    if (!enough && !loaded.ok()) {
      EXPECT_EQ(loaded.error().kind, ErrorKind::kOutOfMemory);
    }
  }
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
