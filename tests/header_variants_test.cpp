// Headers written the ways other programs (and hostile users) write them:
// TIFF sizes of every integer type, BigTIFF, repeated fields and huge tiles;
// zero-padded PNM and PFM numbers; PAM keywords followed by tabs; Radiance
// headers with odd spacing or over 64 KiB; OpenEXR and JPEG 2000; JPEGs of
// many scans. Where the image library decodes a small such file, the size
// read must be the size it decodes: the reader must never see less than the
// decoder will allocate.
#include <gtest/gtest.h>

#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "io/image_header.h"

namespace demosaic {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

void Append(Bytes& bytes, std::uint64_t value, int size, bool little = true) {
  for (int i = 0; i < size; ++i) {
    const int shift = 8 * (little ? i : size - 1 - i);
    bytes.push_back(static_cast<unsigned char>(value >> shift));
  }
}

// What the library decodes the bytes to, as colour of any depth.
cv::Size Decoded(const Bytes& bytes) {
  const cv::Mat image = cv::imdecode(bytes, cv::IMREAD_COLOR | cv::IMREAD_ANYDEPTH);
  return image.size();
}

void ExpectSize(const Bytes& bytes, std::uint64_t width, std::uint64_t height) {
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(bytes);
  ASSERT_TRUE(declared.has_value());
  EXPECT_EQ(declared->width, width);
  EXPECT_EQ(declared->height, height);
  EXPECT_GE(declared->decoding_bytes, 3 * width * height);
}

// ---------------------------------------------------------------- TIFF

struct TiffField {
  std::uint16_t tag;
  std::uint16_t type;  // 3 SHORT, 4 LONG, 8 SSHORT, 9 SLONG, 16 LONG8
  std::vector<std::uint64_t> values;
};

int TypeSize(std::uint16_t type) {
  switch (type) {
    case 3:
    case 8:
      return 2;
    case 16:
    case 17:
      return 8;
    default:
      return 4;
  }
}

// A TIFF (or BigTIFF) file with one directory of `fields` (in the order
// given) and `pixels` after it; the StripOffsets field (273), if any, is set
// to where the pixels start.
Bytes Tiff(std::vector<TiffField> fields, const Bytes& pixels, bool big = false) {
  const std::uint64_t header = big ? 16 : 8;
  const std::uint64_t entry = big ? 20 : 12;
  const std::uint64_t inline_bytes = big ? 8 : 4;
  const std::uint64_t directory_end =
      header + (big ? 8 : 2) + entry * fields.size() + (big ? 8 : 4);
  std::uint64_t extra_at = directory_end;
  Bytes extra;
  Bytes file;
  // Out-of-line values come after the directory, the pixels after them.
  std::uint64_t extra_size = 0;
  for (const TiffField& field : fields) {
    const std::uint64_t size = field.values.size() * TypeSize(field.type);
    if (size > inline_bytes) extra_size += size;
  }
  const std::uint64_t pixels_at = directory_end + extra_size;
  if (big) {
    file = Text("II+");
    file.push_back(0);
    Append(file, 8, 2);
    Append(file, 0, 2);
    Append(file, 16, 8);
    Append(file, fields.size(), 8);
  } else {
    file = Text("II*");
    file.push_back(0);
    Append(file, 8, 4);
    Append(file, fields.size(), 2);
  }
  for (TiffField& field : fields) {
    if (field.tag == 273) field.values = {pixels_at};
    Append(file, field.tag, 2);
    Append(file, field.type, 2);
    Append(file, field.values.size(), big ? 8 : 4);
    Bytes value;
    for (const std::uint64_t v : field.values) Append(value, v, TypeSize(field.type));
    if (value.size() > inline_bytes) {
      Append(file, extra_at, static_cast<int>(inline_bytes));
      extra.insert(extra.end(), value.begin(), value.end());
      extra_at += value.size();
    } else {
      value.resize(inline_bytes, 0);
      file.insert(file.end(), value.begin(), value.end());
    }
  }
  Append(file, 0, big ? 8 : 4);
  file.insert(file.end(), extra.begin(), extra.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// An uncompressed 8-bit RGB TIFF of `width` x `height` whose size fields
// have `size_type`.
Bytes RgbTiff(std::uint64_t width, std::uint64_t height, std::uint16_t size_type,
              bool big = false) {
  const Bytes pixels(width * height * 3, 90);
  return Tiff({{256, size_type, {width}},
               {257, size_type, {height}},
               {258, 3, {8, 8, 8}},
               {259, 3, {1}},
               {262, 3, {2}},
               {273, 4, {0}},
               {277, 3, {3}},
               {278, 4, {height}},
               {279, 4, {width * height * 3}}},
              pixels, big);
}

TEST(TiffVariants, EveryIntegerTypeOfSizeIsReadAsTheDecoderReadsIt) {
  for (const std::uint16_t type : {3, 4, 8, 9}) {
    SCOPED_TRACE("field type " + std::to_string(type));
    const Bytes file = RgbTiff(13, 9, type);
    EXPECT_EQ(Decoded(file), cv::Size(13, 9));
    ExpectSize(file, 13, 9);
  }
}

// A field whose count times its type's size runs past the end of the file
// (a gigabyte of LONG values here) makes the file unreadable before decoding;
// the same field with its real count passes.
TEST(TiffVariants, FieldLongerThanTheFileIsFound) {
  const Bytes pixels(16 * 16 * 3, 90);
  const Bytes file = Tiff({{256, 3, {16}},
                           {257, 3, {16}},
                           {258, 3, {8, 8, 8}},
                           {259, 3, {1}},
                           {262, 3, {2}},
                           {273, 4, {0}},
                           {277, 3, {3}},
                           {278, 4, {16}},
                           {279, 4, {16 * 16 * 3}},
                           {305, 4, {1, 2, 3}}},
                          pixels);
  EXPECT_EQ(Decoded(file), cv::Size(16, 16));
  EXPECT_FALSE(DeclaresDataBeyondEnd(file));
  Bytes forged = file;
  const std::size_t software_count = 8 + 2 + 12 * 9 + 4;
  for (int i = 0; i < 4; ++i) forged[software_count + i] = i == 3 ? 0x10 : 0;
  EXPECT_TRUE(DeclaresDataBeyondEnd(forged));
  // A directory of more entries than the file holds.
  Bytes entries = file;
  entries[8] = 0xFF;
  entries[9] = 0x7F;
  EXPECT_TRUE(DeclaresDataBeyondEnd(entries));
}

TEST(TiffVariants, BigTiffIsRead) {
  for (const std::uint16_t type : {3, 4, 16}) {
    SCOPED_TRACE("field type " + std::to_string(type));
    const Bytes file = RgbTiff(11, 7, type, true);
    EXPECT_EQ(Decoded(file), cv::Size(11, 7));
    ExpectSize(file, 11, 7);
  }
  // A BigTIFF of 30000 x 30000 declared in a few dozen bytes.
  ExpectSize(Tiff({{256, 16, {30000}}, {257, 16, {30000}}}, {}, true), 30000, 30000);
}

TEST(TiffVariants, SizeGivenTwiceCountsWithTheLarger) {
  for (const bool large_first : {false, true}) {
    const std::uint64_t first = large_first ? 30000 : 8;
    const std::uint64_t second = large_first ? 8 : 30000;
    const Bytes file =
        Tiff({{256, 4, {first}}, {256, 4, {second}}, {257, 4, {first}}, {257, 4, {second}}}, {});
    ExpectSize(file, 30000, 30000);
  }
}

TEST(TiffVariants, NegativeSignedSizeCountsAsNothing) {
  const Bytes file = Tiff({{256, 9, {0xFFFFFFF0}}, {257, 9, {16}}}, {});
  ExpectSize(file, 0, 16);
}

// The decoder reads a whole tile (or strip) into a buffer of its own: a 16 x
// 16 image with one tile of 16384 x 16384 needs a gigabyte, which the
// decoder refuses beyond, whatever the image's own size.
TEST(TiffVariants, TileFarLargerThanTheImageCountsItsBuffer) {
  const Bytes tiled = Tiff({{256, 3, {16}},
                            {257, 3, {16}},
                            {258, 3, {8, 8, 8}},
                            {277, 3, {3}},
                            {322, 4, {16384}},
                            {323, 4, {8192}}},
                           {});
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(tiled);
  ASSERT_TRUE(declared.has_value());
  EXPECT_EQ(declared->width, 16u);
  EXPECT_GE(declared->decoding_bytes, std::uint64_t{16384} * 8192 * 4);
  // Strips of more rows than the image count the same way; a buffer of a
  // gigabyte or more is refused by the decoder itself, so counts as one. The
  // 16-bit samples are decoded at their depth (6 bytes a pixel) before being
  // reduced to the 8-bit image (3 more).
  const Bytes stripped = Tiff({{256, 4, {20000}},
                               {257, 4, {16}},
                               {258, 3, {16, 16, 16}},
                               {277, 3, {3}},
                               {278, 4, {1 << 20}}},
                              {});
  const std::optional<DeclaredSize> strip = ReadDeclaredSize(stripped);
  ASSERT_TRUE(strip.has_value());
  EXPECT_EQ(strip->decoding_bytes, 9u * 20000 * 16 + (std::uint64_t{1} << 30));
}

// Floating-point samples are decoded as such, then converted: 12 bytes a
// pixel and the 8-bit image; the decoding routine is chosen by this too.
// The library writes them as LogLuv by default, as IEEE floats uncompressed.
TEST(TiffVariants, FloatingPointSamplesAreKnownAndCounted) {
  const cv::Mat floats(9, 13, CV_32FC3, cv::Scalar(0.25, 0.5, 0.75));
  for (const std::vector<int>& params :
       std::vector<std::vector<int>>{{}, {cv::IMWRITE_TIFF_COMPRESSION, 1}}) {
    std::vector<unsigned char> file;
    ASSERT_TRUE(cv::imencode(".tif", floats, file, params));
    EXPECT_TRUE(HasFloatingPointSamples(file));
    ExpectSize(file, 13, 9);
    EXPECT_GE(ReadDeclaredSize(file)->decoding_bytes, 13u * 9 * 15);
  }
  std::vector<unsigned char> integers;
  ASSERT_TRUE(cv::imencode(".tif", cv::Mat(9, 13, CV_16UC3, cv::Scalar(1, 2, 3)), integers));
  EXPECT_FALSE(HasFloatingPointSamples(integers));
  EXPECT_FALSE(HasFloatingPointSamples(Bytes{'I', 'I', '*', 0}));
}

// ------------------------------------------------------- text headers

TEST(TextHeaders, ZeroPaddedPnmNumbers) {
  Bytes small = Text("P6\n000000000013 00000000000009\n255\n");
  small.resize(small.size() + 13 * 9 * 3, 77);
  EXPECT_EQ(Decoded(small), cv::Size(13, 9));
  ExpectSize(small, 13, 9);
  ExpectSize(Text("P6\n000000030000 0000000000000030000\n255\n"), 30000, 30000);
  // Comments of any length, between any two numbers.
  ExpectSize(Text("P5\n#" + std::string(100000, 'c') + "\n40000\n# more\n40000 255\n"), 40000,
             40000);
}

TEST(TextHeaders, PfmNumbersAsItsDecoderReadsThem) {
  Bytes small = Text("PF\n0013 09\n-1.0\n");
  small.resize(small.size() + 13 * 9 * 12, 0);
  EXPECT_EQ(Decoded(small), cv::Size(13, 9));
  ExpectSize(small, 13, 9);
  const std::optional<DeclaredSize> grey = ReadDeclaredSize(Text("Pf\n00030000 30000\n1\n"));
  ASSERT_TRUE(grey.has_value());
  EXPECT_EQ(grey->width, 30000u);
  EXPECT_GE(grey->decoding_bytes, std::uint64_t{30000} * 30000 * 8);
  // Colour floats are held twice while decoding: 24 bytes a pixel.
  const std::optional<DeclaredSize> colour = ReadDeclaredSize(Text("PF\n100 100\n-1\n"));
  ASSERT_TRUE(colour.has_value());
  EXPECT_GE(colour->decoding_bytes, 100u * 100 * 24);
}

Bytes Pam(const std::string& header, int width, int height) {
  Bytes file = Text(header);
  file.resize(file.size() + static_cast<std::size_t>(width * height * 3), 50);
  return file;
}

TEST(TextHeaders, PamKeywordsFollowedByAnyWhiteSpace) {
  const Bytes tabs =
      Pam("P7\nWIDTH\t13\nHEIGHT \t 9\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n", 13, 9);
  EXPECT_EQ(Decoded(tabs), cv::Size(13, 9));
  ExpectSize(tabs, 13, 9);
  const Bytes padded = Pam("P7\n# " + std::string(20000, 'x') +
                               "\n\n  WIDTH 000000000013  \nHEIGHT 000000009\nDEPTH 3\n"
                               "MAXVAL 255\nENDHDR\n",
                           13, 9);
  EXPECT_EQ(Decoded(padded), cv::Size(13, 9));
  ExpectSize(padded, 13, 9);
  ExpectSize(Text("P7\nWIDTH\t30000\nHEIGHT\t30000\nDEPTH 3\nMAXVAL 255\nENDHDR\n"), 30000, 30000);
}

// 16-bit samples (a largest value above 255) are decoded at that depth
// before being reduced: 6 bytes a pixel and the 8-bit image, in PPM, PAM
// and PNG alike; 8-bit ones take the 8-bit image alone.
TEST(TextHeaders, SixteenBitSamplesCountTheirDepth) {
  cv::Mat wide(5, 7, CV_16UC3, cv::Scalar(1000, 2000, 3000));
  cv::Mat narrow(5, 7, CV_8UC3, cv::Scalar(10, 20, 30));
  for (const char* extension : {".ppm", ".pam", ".png"}) {
    SCOPED_TRACE(extension);
    Bytes bytes;
    ASSERT_TRUE(cv::imencode(extension, wide, bytes));
    std::optional<DeclaredSize> declared = ReadDeclaredSize(bytes);
    ASSERT_TRUE(declared.has_value());
    EXPECT_EQ(declared->decoding_bytes, 9u * 5 * 7);
    ASSERT_TRUE(cv::imencode(extension, narrow, bytes));
    declared = ReadDeclaredSize(bytes);
    ASSERT_TRUE(declared.has_value());
    EXPECT_EQ(declared->decoding_bytes, 3u * 5 * 7);
  }
}

TEST(TextHeaders, PamRepeatedSizeIsRefusedLikeTheDecoderRefusesIt) {
  const Bytes twice = Pam("P7\nWIDTH 4\nWIDTH 13\nHEIGHT 9\nDEPTH 3\nMAXVAL 255\nENDHDR\n", 13, 9);
  EXPECT_TRUE(cv::imdecode(twice, cv::IMREAD_COLOR).empty());
  EXPECT_FALSE(ReadDeclaredSize(twice).has_value());
}

Bytes Radiance(const std::string& header, int width, int height) {
  Bytes file = Text(header);
  // Flat RGBE pixels (no run-length encoding below 8 columns).
  for (int i = 0; i < width * height; ++i) file.insert(file.end(), {128, 64, 32, 129});
  return file;
}

TEST(TextHeaders, RadianceResolutionAsTheDecoderScansIt) {
  const Bytes spaced = Radiance("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y   5  +X\t7\n", 7, 5);
  EXPECT_EQ(Decoded(spaced), cv::Size(7, 5));
  ExpectSize(spaced, 7, 5);
  const Bytes signed_numbers = Radiance("#?RGBE\nFORMAT=32-bit_rle_rgbe\n\n-Y +5 +X +7\n", 7, 5);
  EXPECT_EQ(Decoded(signed_numbers), cv::Size(7, 5));
  ExpectSize(signed_numbers, 7, 5);
}

TEST(TextHeaders, RadianceHeaderOfAnyLength) {
  std::string comments;
  while (comments.size() < 200000) comments += "# a comment line of the kind tools write\n";
  const Bytes long_header =
      Radiance("#?RADIANCE\n" + comments + "FORMAT=32-bit_rle_rgbe\n\n-Y 5 +X 7\n", 7, 5);
  EXPECT_EQ(Decoded(long_header), cv::Size(7, 5));
  ExpectSize(long_header, 7, 5);
  ExpectSize(Text("#?RADIANCE\n" + comments + "FORMAT=32-bit_rle_rgbe\n\n-Y 30000 +X 30000\n"),
             30000, 30000);
}

// The decoder reads lines in pieces of 127 characters: a comment line of
// exactly 127 characters leaves its line break as a piece of its own, which
// ends the header there, and the next line is the resolution.
TEST(TextHeaders, RadianceLongLineEndsTheHeaderWhereTheDecoderDoes) {
  const std::string line127 = "#" + std::string(126, 'x');
  const Bytes file =
      Radiance("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n" + line127 + "\n-Y 5 +X 7\n", 7, 5);
  EXPECT_EQ(Decoded(file), cv::Size(7, 5));
  ExpectSize(file, 7, 5);
}

// ----------------------------------------------- OpenEXR and JPEG 2000

TEST(OtherHeaders, OpenExrDataWindow) {
  cv::Mat image(9, 13, CV_32FC3, cv::Scalar(0.25, 0.5, 0.75));
  std::vector<unsigned char> file;
  ASSERT_TRUE(cv::imencode(".exr", image, file));
  ExpectSize(file, 13, 9);
  const std::optional<DeclaredSize> declared = ReadDeclaredSize(file);
  // The floating-point image and the 8-bit one made from it.
  EXPECT_GE(declared->decoding_bytes, 13u * 9 * 15);
}

TEST(OtherHeaders, Jpeg2000ImageHeaderAndCodestream) {
  // The encoder needs 32 pixels a side for its resolution levels.
  cv::Mat image(33, 40, CV_8UC3, cv::Scalar(10, 20, 30));
  std::vector<unsigned char> file;
  ASSERT_TRUE(cv::imencode(".jp2", image, file));
  EXPECT_EQ(Decoded(file), cv::Size(40, 33));
  ExpectSize(file, 40, 33);
  // A 32-bit plane for each of 3 components, then 8-bit colour; 16-bit
  // colour beside the planes where the samples have more than 8 bits.
  EXPECT_EQ(ReadDeclaredSize(file)->decoding_bytes, 40u * 33 * (3 * 4 + 3));
  cv::Mat wide(33, 40, CV_16UC3, cv::Scalar(1000, 2000, 3000));
  ASSERT_TRUE(cv::imencode(".jp2", wide, file));
  EXPECT_EQ(ReadDeclaredSize(file)->decoding_bytes, 40u * 33 * (3 * 4 + 6));
  // A bare codestream: SOC, then SIZ with an image offset.
  Bytes codestream = {0xFF, 0x4F, 0xFF, 0x51};
  Append(codestream, 47, 2, false);     // Lsiz
  Append(codestream, 0, 2, false);      // Rsiz
  Append(codestream, 40100, 4, false);  // Xsiz
  Append(codestream, 30050, 4, false);  // Ysiz
  Append(codestream, 100, 4, false);    // XOsiz
  Append(codestream, 50, 4, false);     // YOsiz
  for (int i = 0; i < 4; ++i) Append(codestream, 512, 4, false);
  Append(codestream, 3, 2, false);  // Csiz
  ExpectSize(codestream, 40000, 30000);
}

// -------------------------------------------------------------- JPEG

TEST(JpegScans, EncodersWriteFewScans) {
  const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(1, 2, 3));
  std::vector<unsigned char> baseline;
  std::vector<unsigned char> progressive;
  ASSERT_TRUE(cv::imencode(".jpg", image, baseline));
  ASSERT_TRUE(cv::imencode(".jpg", image, progressive, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}));
  EXPECT_EQ(CountJpegScans(baseline), 1u);
  EXPECT_GT(CountJpegScans(progressive), 1u);
  EXPECT_LT(CountJpegScans(progressive), kMaxJpegScans / 10);
  EXPECT_EQ(CountJpegScans(Text("P6\n1 1\n255\n...")), 0u);
}

// A decoder that makes several passes keeps every DCT coefficient: at
// 4:2:0, 8 x 6 luma blocks and 4 x 3 of each chroma component, 128 bytes
// each, beyond the colour image and its upright copy.
TEST(JpegScans, ProgressiveDecodingCountsItsCoefficients) {
  const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(1, 2, 3));
  std::vector<unsigned char> baseline;
  std::vector<unsigned char> progressive;
  // The encoder's default sampling is 4:2:0.
  ASSERT_TRUE(cv::imencode(".jpg", image, baseline));
  ASSERT_TRUE(cv::imencode(".jpg", image, progressive, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}));
  EXPECT_EQ(ReadDeclaredSize(baseline)->decoding_bytes, 6u * 64 * 48);
  EXPECT_EQ(ReadDeclaredSize(progressive)->decoding_bytes, 6u * 64 * 48 + (48 + 12 + 12) * 128);
}

// A progressive JPEG whose last scan is repeated `copies` times: the decoder
// still decodes it, going over the image once more per copy.
Bytes RepeatLastScan(const std::vector<unsigned char>& jpeg, int copies) {
  std::size_t last_scan = 0;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) last_scan = i;
  }
  const std::size_t end = jpeg.size() - 2;  // the end-of-image marker
  Bytes file(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(end));
  for (int k = 0; k < copies; ++k) {
    file.insert(file.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(last_scan),
                jpeg.begin() + static_cast<std::ptrdiff_t>(end));
  }
  file.insert(file.end(), {0xFF, 0xD9});
  return file;
}

TEST(JpegScans, RepeatedScansAreCountedAndStillDecode) {
  cv::Mat image(48, 64, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(256));
  std::vector<unsigned char> progressive;
  ASSERT_TRUE(cv::imencode(".jpg", image, progressive, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}));
  const std::size_t scans = CountJpegScans(progressive);
  const Bytes many = RepeatLastScan(progressive, static_cast<int>(kMaxJpegScans));
  EXPECT_EQ(CountJpegScans(many), scans + kMaxJpegScans);
  EXPECT_FALSE(IsTruncatedJpeg(many));
  EXPECT_EQ(cv::imdecode(many, cv::IMREAD_COLOR).size(), cv::Size(64, 48))
      << "the decoder takes such a file: only the scan bound refuses it";
}

}  // namespace
}  // namespace demosaic
