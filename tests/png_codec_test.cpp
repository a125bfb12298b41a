// The PNG codec of the common kind: it decodes to exactly OpenCV's pixels,
// declines everything else with the file's bytes as they were (so that
// OpenCV decides), and what it encodes any decoder reads back exactly.
#include "io/png_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <string>
#include <vector>

#include "io/image_files.h"
#include "support/png_chunks.h"

namespace demosaic {
namespace {

using testing::PngChunk;
using testing::PngHeader;

// Pixels a decoder cannot guess: noise over a gradient, B, G, R.
cv::Mat TestImage(int rows, int cols, unsigned seed) {
  std::mt19937 random(seed);
  cv::Mat image(rows, cols, CV_8UC3);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      for (int c = 0; c < 3; ++c) {
        image.ptr<std::uint8_t>(y)[3 * x + c] =
            static_cast<std::uint8_t>(x * (c + 1) + y * 3 + static_cast<int>(random() % 24));
      }
    }
  }
  return image;
}

std::uint8_t Predict(int filter, int left, int up, int up_left) {
  switch (filter) {
    case 1:
      return static_cast<std::uint8_t>(left);
    case 2:
      return static_cast<std::uint8_t>(up);
    case 3:
      return static_cast<std::uint8_t>((left + up) / 2);
    case 4: {
      const int p = left + up - up_left;
      const int a = std::abs(p - left), b = std::abs(p - up), c = std::abs(p - up_left);
      return static_cast<std::uint8_t>(a <= b && a <= c ? left : b <= c ? up : up_left);
    }
    default:
      return 0;
  }
}

// The zlib stream of `image`'s rows as R, G, B, row y filtered by
// filters[y % filters.size()] (PNG's definitions, written out here).
std::string FilteredStream(const cv::Mat& image, const std::vector<int>& filters) {
  std::string rows;
  for (int y = 0; y < image.rows; ++y) {
    const int filter = filters[static_cast<std::size_t>(y) % filters.size()];
    rows.push_back(static_cast<char>(filter));
    for (int i = 0; i < 3 * image.cols; ++i) {
      auto sample = [&](int row, int at) -> int {
        if (row < 0 || at < 0) return 0;
        return image.ptr<std::uint8_t>(row)[at - at % 3 + 2 - at % 3];  // R, G, B
      };
      const int value = sample(y, i);
      rows.push_back(static_cast<char>(
          value - Predict(filter, sample(y, i - 3), sample(y - 1, i), sample(y - 1, i - 3))));
    }
  }
  uLongf size = compressBound(static_cast<uLong>(rows.size()));
  std::string stream(size, '\0');
  EXPECT_EQ(
      compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
                reinterpret_cast<const Bytef*>(rows.data()), static_cast<uLong>(rows.size()), 6),
      Z_OK);
  stream.resize(size);
  return stream;
}

// IDAT chunks of at most `piece` bytes of the stream.
std::string IdatChunks(const std::string& stream, std::size_t piece) {
  std::string chunks;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    chunks += PngChunk("IDAT", stream.substr(at, piece));
  }
  return chunks;
}

std::string RgbHeader(const cv::Mat& image) {
  return PngHeader(static_cast<std::uint32_t>(image.cols), static_cast<std::uint32_t>(image.rows),
                   8, 2);
}

std::vector<unsigned char> Bytes(const std::string& file) {
  return std::vector<unsigned char>(file.begin(), file.end());
}

void ExpectSamePixels(const cv::Mat& expected, const cv::Mat& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  ASSERT_EQ(expected.type(), actual.type());
  EXPECT_EQ(cv::norm(expected, actual, cv::NORM_INF), 0.0);
}

TEST(PngDecoding, EveryFilterAndChunkLayoutGivesOpenCvsPixels) {
  const cv::Mat image = TestImage(23, 37, 1);
  const std::string stream = FilteredStream(image, {0, 1, 2, 3, 4, 4, 3, 2, 1});
  const std::string text = PngChunk("tEXt", std::string("Comment\0x", 9));
  const std::string gamma = PngChunk("gAMA", std::string("\0\0\xb1\x8f", 4));
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, stream.size()}) {
    const std::string file =
        RgbHeader(image) + gamma + IdatChunks(stream, piece) + text + PngChunk("IEND", "");
    std::vector<unsigned char> bytes = Bytes(file);
    const cv::Mat decoded = DecodeCommonPng(bytes);
    ExpectSamePixels(cv::imdecode(bytes, cv::IMREAD_COLOR), decoded);
    ExpectSamePixels(image, decoded);
    EXPECT_EQ(bytes, Bytes(file)) << "IDAT pieces of " << piece;
  }
  // And a file libpng wrote, with the filters it chose row by row.
  std::vector<unsigned char> written;
  const cv::Mat other = TestImage(64, 101, 2);
  ASSERT_TRUE(cv::imencode(".png", other, written,
                           {cv::IMWRITE_PNG_STRATEGY, cv::IMWRITE_PNG_STRATEGY_DEFAULT}));
  ExpectSamePixels(other, DecodeCommonPng(written));
}

// Every kind of file the codec leaves to OpenCV: declined with the bytes as
// they were, and decoded by the pipeline as OpenCV decodes it (or refused
// alike).
TEST(PngDecoding, DeclinesAllElseWithTheBytesAsTheyWere) {
  const cv::Mat image = TestImage(9, 14, 3);
  const std::string stream = FilteredStream(image, {1, 4});
  const std::string idat = IdatChunks(stream, 10);
  const std::string end = PngChunk("IEND", "");
  std::string bad_filter_rows(1 + 3 * 14, '\0');
  bad_filter_rows[0] = 5;
  std::string bad_filter(256, '\0');
  uLongf bad_size = bad_filter.size();
  compress2(reinterpret_cast<Bytef*>(bad_filter.data()), &bad_size,
            reinterpret_cast<const Bytef*>(bad_filter_rows.data()), bad_filter_rows.size(), 6);
  bad_filter.resize(bad_size);
  std::string bad_crc = idat;
  bad_crc[bad_crc.size() - 1] ^= 1;
  std::string bad_stream = stream;
  bad_stream[stream.size() / 2] ^= 0x55;

  std::vector<unsigned char> rgba, grey, deep, palette_like;
  ASSERT_TRUE(cv::imencode(".png", cv::Mat(5, 6, CV_8UC4, cv::Scalar(1, 2, 3, 4)), rgba));
  ASSERT_TRUE(cv::imencode(".png", cv::Mat(5, 6, CV_8UC1, cv::Scalar(7)), grey));
  ASSERT_TRUE(cv::imencode(".png", cv::Mat(5, 6, CV_16UC3, cv::Scalar(1, 2, 3)), deep));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"RGBA", std::string(rgba.begin(), rgba.end())},
      {"grey", std::string(grey.begin(), grey.end())},
      {"16-bit", std::string(deep.begin(), deep.end())},
      {"interlaced", std::string("\x89PNG\r\n\x1a\n", 8) +
                         PngChunk("IHDR", std::string("\0\0\0\x0e\0\0\0\x09\x08\x02\0\0\x01", 13)) +
                         idat + end},
      {"a CRC that does not match", RgbHeader(image) + bad_crc + end},
      {"an unknown critical chunk", RgbHeader(image) + PngChunk("ABCD", "x") + idat + end},
      {"eXIf", RgbHeader(image) + PngChunk("eXIf", "MM\0*") + idat + end},
      {"IDAT chunks apart", RgbHeader(image) + IdatChunks(stream.substr(0, 20), 20) +
                                PngChunk("tEXt", "a") + IdatChunks(stream.substr(20), 20) + end},
      {"no IEND", RgbHeader(image) + idat},
      {"a corrupt stream", RgbHeader(image) + IdatChunks(bad_stream, 10) + end},
      {"a stream cut short",
       RgbHeader(image) + IdatChunks(stream.substr(0, stream.size() - 9), 10) + end},
      {"data after the stream", RgbHeader(image) + IdatChunks(stream + "zz", 10) + end},
      {"an unknown filter", PngHeader(14, 1, 8, 2) + PngChunk("IDAT", bad_filter) + end},
      {"too few rows", PngHeader(14, 10, 8, 2) + idat + end},
      {"not a PNG", "GIF89a"},
  };
  for (const auto& [what, file] : cases) {
    std::vector<unsigned char> bytes = Bytes(file);
    EXPECT_TRUE(DecodeCommonPng(bytes).empty()) << what;
    EXPECT_EQ(bytes, Bytes(file)) << what;
    const cv::Mat opencv = cv::imdecode(bytes, cv::IMREAD_COLOR);
    const Expected<cv::Mat> pipeline = DecodeColorImage(bytes);
    EXPECT_EQ(pipeline.ok(), !opencv.empty()) << what;
    if (pipeline.ok() && !opencv.empty()) ExpectSamePixels(opencv, pipeline.value());
  }
}

// Encoding needs room for the filtered rows after the image, as decoded
// images have; an image without it, or not 8-bit colour, is left as it was.
TEST(PngEncoding, AnyDecoderReadsBackThePixelsAndOnlyRoomyImagesAreSpent) {
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(37, 23), cv::Size(700, 1500)}) {
    const cv::Mat image = TestImage(size.height, size.width, 4);
    cv::Mat tight = image.clone();
    EXPECT_EQ(EncodePngInItsPlace(tight).size, 0u);
    ExpectSamePixels(image, tight);
    cv::Mat buffer(size.height + 2, size.width, CV_8UC3);
    cv::Mat spent = buffer.rowRange(0, size.height);
    image.copyTo(spent);
    const EncodedFile file = EncodePngInItsPlace(spent);
    ASSERT_GT(file.size, 0u);
    std::vector<unsigned char> bytes(file.bytes.get(), file.bytes.get() + file.size);
    ExpectSamePixels(image, cv::imdecode(bytes, cv::IMREAD_UNCHANGED));
    ExpectSamePixels(image, DecodeCommonPng(bytes));
  }
  cv::Mat grey(30, 20, CV_8UC1, cv::Scalar(3));
  EXPECT_EQ(EncodePng(grey).size, 0u);
}

}  // namespace
}  // namespace demosaic
