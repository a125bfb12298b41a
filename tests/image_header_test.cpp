// The header reading behind the memory check made before decoding, and the
// JPEG completeness check: a wrong size would refuse a good image or let a
// huge one through, a wrong JPEG walk would refuse good files or evaluate
// cut ones.
#include "io/image_header.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

namespace demosaic {
namespace {

using Bytes = std::vector<unsigned char>;

cv::Mat Pattern(int width, int height) {
  cv::Mat image(height, width, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(256));
  return image;
}

Bytes Encode(const std::string& extension, const cv::Mat& image,
             const std::vector<int>& params = {}) {
  Bytes bytes;
  EXPECT_TRUE(cv::imencode(extension, image, bytes, params)) << extension;
  return bytes;
}

class DeclaredSizeTest : public ::testing::TestWithParam<const char*> {};

// Sizes above 255, 32767 and 65535 catch byte-order, sign and field-width
// mistakes (TIFF switches from SHORT to LONG fields); the library's own
// encoders write the headers.
TEST_P(DeclaredSizeTest, MatchesWhatTheLibraryWrote) {
  const std::string extension = GetParam();
  for (const cv::Size size :
       {cv::Size(13, 7), cv::Size(300, 9), cv::Size(9, 65000), cv::Size(70000, 2)}) {
    if (extension == ".jpg" && size.width > 65500) continue;    // past JPEG's limit
    if (extension == ".webp" && size.height > 16383) continue;  // past WebP's limit
    if (extension == ".webp" && size.width > 16383) continue;
    const Bytes file = Encode(GetParam(), Pattern(size.width, size.height));
    const std::optional<DeclaredSize> declared = ReadDeclaredSize(file);
    ASSERT_TRUE(declared.has_value()) << size;
    EXPECT_EQ(declared->width, static_cast<std::uint64_t>(size.width));
    EXPECT_EQ(declared->height, static_cast<std::uint64_t>(size.height));
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, DeclaredSizeTest,
                         ::testing::Values(".png", ".jpg", ".bmp", ".ppm", ".tif", ".webp", ".pam",
                                           ".pfm", ".ras", ".hdr"),
                         [](const auto& info) { return std::string(info.param + 1); });

TEST(DeclaredSize, TopDownBitmapHasAPositiveHeight) {
  Bytes file = Encode(".bmp", Pattern(20, 10));
  // Height -10: rows stored from the top.
  const std::int32_t top_down = -10;
  for (int i = 0; i < 4; ++i) file[22 + i] = static_cast<unsigned char>(top_down >> (8 * i));
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(file);
  ASSERT_TRUE(declared.has_value());
  EXPECT_EQ(declared->width, 20u);
  EXPECT_EQ(declared->height, 10u);
}

TEST(DeclaredSize, PnmCommentsAndLineBreaksAreSkipped) {
  const std::string text = "P6\n# made by hand\n  640 # width\n\t480\n255\n";
  const Bytes file(text.begin(), text.end());
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(file);
  ASSERT_TRUE(declared.has_value());
  EXPECT_EQ(declared->width, 640u);
  EXPECT_EQ(declared->height, 480u);
}

TEST(DeclaredSize, UnknownFormatsAndShortHeadersTellNothing) {
  const Bytes png = Encode(".png", Pattern(8, 8));
  EXPECT_FALSE(ReadDeclaredSize(Bytes(png.begin(), png.begin() + 20)).has_value());
  EXPECT_FALSE(ReadDeclaredSize(Bytes{}).has_value());
  EXPECT_FALSE(ReadDeclaredSize(Bytes{'P', '6', ' ', '1', '2'}).has_value());
  // The JPEG 2000 signature box and the OpenEXR magic: formats left to the
  // decoder.
  EXPECT_FALSE(ReadDeclaredSize(Bytes{0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A,
                                      0, 0, 0, 0x14, 'f', 't', 'y', 'p', 'j',  'p',  '2',  ' '})
                   .has_value());
  EXPECT_FALSE(
      ReadDeclaredSize(Bytes{0x76, 0x2F, 0x31, 0x01, 2, 0, 0, 0, 'c', 'h', 0}).has_value());
}

// Lossless WebP packs the size into 14-bit fields of its own.
TEST(DeclaredSize, LosslessWebpSize) {
  const Bytes file = Encode(".webp", Pattern(301, 17), {cv::IMWRITE_WEBP_QUALITY, 101});
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(file);
  ASSERT_TRUE(declared.has_value());
  EXPECT_EQ(declared->width, 301u);
  EXPECT_EQ(declared->height, 17u);
}

// The JPEG walk. -----------------------------------------------------------

TEST(TruncatedJpeg, CompleteFilesOfEveryKindPass) {
  const cv::Mat image = Pattern(64, 48);
  EXPECT_FALSE(IsTruncatedJpeg(Encode(".jpg", image)));
  EXPECT_FALSE(IsTruncatedJpeg(Encode(".jpg", image, {cv::IMWRITE_JPEG_PROGRESSIVE, 1})));
  EXPECT_FALSE(IsTruncatedJpeg(Encode(".jpg", image, {cv::IMWRITE_JPEG_RST_INTERVAL, 2})));
  // Bytes after the end marker (some cameras append data) do not matter.
  Bytes trailing = Encode(".jpg", image);
  trailing.insert(trailing.end(), {0x00, 0x12, 0xFF, 0x34});
  EXPECT_FALSE(IsTruncatedJpeg(trailing));
}

TEST(TruncatedJpeg, EveryCutIsFoundProgressiveAndRestartIntervalsIncluded) {
  const cv::Mat image = Pattern(64, 48);
  for (const std::vector<int>& params : std::vector<std::vector<int>>{
           {}, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}, {cv::IMWRITE_JPEG_RST_INTERVAL, 2}}) {
    const Bytes whole = Encode(".jpg", image, params);
    for (std::size_t length = 3; length < whole.size(); length += 97) {
      EXPECT_TRUE(IsTruncatedJpeg(Bytes(whole.begin(), whole.begin() + length)))
          << "cut at " << length << " of " << whole.size();
    }
    EXPECT_TRUE(IsTruncatedJpeg(Bytes(whole.begin(), whole.end() - 1)));
  }
}

TEST(TruncatedJpeg, EmbeddedThumbnailEndMarkerDoesNotCount) {
  // An APP1 segment carrying a whole small JPEG, end marker included, as
  // Exif thumbnails do: cutting the main image after it is still a cut.
  const Bytes thumbnail = Encode(".jpg", Pattern(8, 8));
  const Bytes main = Encode(".jpg", Pattern(64, 48));
  Bytes file = {0xFF, 0xD8, 0xFF, 0xE1};
  const std::size_t length = thumbnail.size() + 2;
  file.push_back(static_cast<unsigned char>(length >> 8));
  file.push_back(static_cast<unsigned char>(length & 0xFF));
  file.insert(file.end(), thumbnail.begin(), thumbnail.end());
  file.insert(file.end(), main.begin() + 2, main.end());

  EXPECT_FALSE(IsTruncatedJpeg(file));
  const cv::Mat decoded = cv::imdecode(file, cv::IMREAD_COLOR);
  EXPECT_EQ(decoded.size(), cv::Size(64, 48));
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(file);
  ASSERT_TRUE(declared.has_value());
  EXPECT_EQ(declared->width, 64u);
  EXPECT_EQ(declared->height, 48u);
  EXPECT_TRUE(IsTruncatedJpeg(Bytes(file.begin(), file.end() - main.size() / 2)));
}

TEST(TruncatedJpeg, OtherFormatsAreNotJudged) {
  const Bytes png = Encode(".png", Pattern(16, 16));
  EXPECT_FALSE(IsTruncatedJpeg(Bytes(png.begin(), png.begin() + png.size() / 2)));
}

// Metadata bounds. ------------------------------------------------------------

// A PNG chunk of `type` and `data` declaring `length` bytes, CRC left zero
// (the length is checked before any CRC could be).
Bytes PngChunk(const std::string& type, const std::string& data, std::uint32_t length) {
  std::string chunk;
  for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>(length >> shift);
  chunk += type + data + std::string(4, '\0');
  return Bytes(chunk.begin(), chunk.end());
}

TEST(MetadataBounds, WholeFilesOfEveryKindPass) {
  const cv::Mat image = Pattern(64, 48);
  for (const char* extension : {".png", ".jpg", ".tif", ".webp", ".bmp", ".ppm"}) {
    EXPECT_FALSE(DeclaresDataBeyondEnd(Encode(extension, image))) << extension;
  }
  EXPECT_FALSE(DeclaresDataBeyondEnd(Encode(".webp", image, {cv::IMWRITE_WEBP_QUALITY, 101})));
  // Bytes after a WebP's container are not its chunks.
  Bytes trailing = Encode(".webp", image);
  trailing.insert(trailing.end(), {'E', 'X', 'I', 'F', 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_FALSE(DeclaresDataBeyondEnd(trailing));
}

// The last chunk of a PNG declaring 2 GiB: libpng allocates it whole before
// reading, whatever the type (text, compressed or international text, Exif,
// a private chunk, image data). Its exact length passes.
TEST(MetadataBounds, PngChunkLongerThanTheRestOfTheFile) {
  const Bytes png = Encode(".png", Pattern(16, 16));
  const Bytes before_end(png.begin(), png.end() - 12);
  const std::string data = std::string("Comment\0", 8) + std::string(200, 'x');
  for (const char* type : {"tEXt", "zTXt", "iTXt", "eXIf", "prVt", "IDAT"}) {
    SCOPED_TRACE(type);
    for (const std::uint32_t length :
         {0x7FFFFFFFu, 0xFFFFFFFFu, static_cast<std::uint32_t>(data.size()) + 1}) {
      Bytes file = before_end;
      const Bytes chunk = PngChunk(type, data, length);
      file.insert(file.end(), chunk.begin(), chunk.end());
      EXPECT_TRUE(DeclaresDataBeyondEnd(file)) << length;
    }
    Bytes exact = before_end;
    const Bytes chunk = PngChunk(type, data, static_cast<std::uint32_t>(data.size()));
    exact.insert(exact.end(), chunk.begin(), chunk.end());
    exact.insert(exact.end(), png.end() - 12, png.end());
    EXPECT_FALSE(DeclaresDataBeyondEnd(exact));
  }
}

// An Exif (APP1) or ICC (APP2) segment running past the end of a JPEG.
TEST(MetadataBounds, JpegSegmentLongerThanTheRestOfTheFile) {
  const Bytes jpeg = Encode(".jpg", Pattern(16, 16));
  for (const unsigned char marker : {0xE1, 0xE2}) {
    Bytes file = {0xFF, 0xD8, 0xFF, marker, 0xFF, 0xF0};
    const std::string exif = marker == 0xE1 ? std::string("Exif\0\0", 6) : "ICC_PROFILE";
    file.insert(file.end(), exif.begin(), exif.end());
    file.insert(file.end(), jpeg.begin() + 2, jpeg.end());  // the image, inside the segment
    EXPECT_TRUE(DeclaresDataBeyondEnd(file)) << int{marker};
  }
}

// WebP: a chunk (Exif here) declaring more than the container holds, or a
// container declaring more than the file.
TEST(MetadataBounds, WebpChunkLongerThanTheContainer) {
  Bytes file = Encode(".webp", Pattern(16, 16));
  const Bytes exif = {'E', 'X', 'I', 'F', 0xF0, 0xFF, 0xFF, 0x7F, 'I', 'I', '*', 0};
  file.insert(file.end(), exif.begin(), exif.end());
  const std::uint32_t riff = static_cast<std::uint32_t>(file.size() - 8);
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  EXPECT_TRUE(DeclaresDataBeyondEnd(file));
  Bytes container = Encode(".webp", Pattern(16, 16));
  container[7] = 0x7F;
  EXPECT_TRUE(DeclaresDataBeyondEnd(container));
}

// OpenEXR: a header attribute of any type declaring more than the file
// holds; one of its real size passes.
TEST(MetadataBounds, ExrAttributeLongerThanTheRestOfTheFile) {
  cv::Mat floats(8, 8, CV_32FC3, cv::Scalar(0.25f, 0.5f, 0.75f));
  const Bytes exr = Encode(".exr", floats);
  EXPECT_FALSE(DeclaresDataBeyondEnd(exr));
  const auto with_attribute = [&](std::uint32_t size) {
    std::string attribute = std::string("comments\0string\0", 16);
    for (int i = 0; i < 4; ++i) attribute += static_cast<char>(size >> (8 * i));
    attribute += "hello";
    const std::string file = std::string(exr.begin(), exr.begin() + 8) + attribute +
                             std::string(exr.begin() + 8, exr.end());
    return Bytes(file.begin(), file.end());
  };
  EXPECT_FALSE(DeclaresDataBeyondEnd(with_attribute(5)));
  EXPECT_TRUE(DeclaresDataBeyondEnd(with_attribute(0x7FFFFFFF)));
  EXPECT_TRUE(DeclaresDataBeyondEnd(with_attribute(0x80000000)));  // negative
  EXPECT_TRUE(DeclaresDataBeyondEnd(Bytes(exr.begin(), exr.begin() + 40)));
}

}  // namespace
}  // namespace demosaic
