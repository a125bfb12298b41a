// Memory refused in time: headers written every way the decoders accept,
// declaring images no machine holds, are refused before decoding by both
// tools; real images too large for a memory group (cgroup v1 or v2) are
// refused instead of the process being killed; metadata longer than the
// file is refused before the decoder allocates it; a JPEG of endless scans
// is refused before the decoder spends hours on it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
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

std::string Little(std::uint64_t value, int size) {
  std::string bytes;
  for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string Big(std::uint64_t value, int size) {
  std::string bytes;
  for (int i = size - 1; i >= 0; --i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

// A classic little-endian TIFF whose directory holds `entries` (tag, type,
// value), each a single value; `data` follows the directory.
std::string Tiff(const std::vector<std::array<std::uint32_t, 3>>& entries,
                 const std::string& data) {
  std::string file = std::string("II*\0", 4) + Little(8, 4) + Little(entries.size(), 2);
  for (const auto& [tag, type, value] : entries) {
    const int size = type == 3 || type == 8 ? 2 : 4;
    file += Little(tag, 2) + Little(type, 2) + Little(1, 4) + Little(value, size) +
            std::string(static_cast<std::size_t>(4 - size), '\0');
  }
  return file + Little(0, 4) + data;
}

// A BigTIFF whose size fields are 64-bit (LONG8).
std::string BigTiff(std::uint64_t width, std::uint64_t height) {
  std::string file = std::string("II+\0", 4) + Little(8, 2) + Little(0, 2) + Little(16, 8);
  file += Little(2, 8);
  file += Little(256, 2) + Little(16, 2) + Little(1, 8) + Little(width, 8);
  file += Little(257, 2) + Little(16, 2) + Little(1, 8) + Little(height, 8);
  return file + Little(0, 8) + std::string(64, '\0');
}

// A complete, valid 8-bit grey TIFF of `side` x `side` black pixels in a few
// kilobytes: every strip of 100 rows points at the same deflated data.
std::string BlackTiff(std::uint32_t side) {
  const std::string zeros(static_cast<std::size_t>(side) * 100, '\0');
  uLongf packed_size = compressBound(static_cast<uLong>(zeros.size()));
  std::string packed(packed_size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
            reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uLong>(zeros.size()), 9);
  packed.resize(packed_size);
  const std::uint32_t strips = (side + 99) / 100;
  const std::uint32_t entries = 10;
  const std::uint32_t arrays_at = 8 + 2 + 12 * entries + 4;
  const std::uint32_t counts_at = arrays_at + 4 * strips;
  const std::uint32_t data_at = counts_at + 4 * strips;
  std::string file = Tiff({{256, 9, side},  // sizes typed SLONG
                           {257, 9, side},
                           {258, 3, 8},
                           {259, 3, 8},  // deflate
                           {262, 3, 1},
                           {273, 4, arrays_at},
                           {277, 3, 1},
                           {278, 4, 100},
                           {279, 4, counts_at},
                           {284, 3, 1}},
                          "");
  // Tags 273 and 279 hold `strips` values each: their counts say so.
  for (const std::uint32_t tag : {273u, 279u}) {
    const std::size_t entry = file.find(Little(tag, 2) + Little(4, 2));
    file.replace(entry + 4, 4, Little(strips, 4));
  }
  for (std::uint32_t i = 0; i < strips; ++i) file += Little(data_at, 4);
  for (std::uint32_t i = 0; i < strips; ++i) {
    file += Little(std::min<std::uint64_t>(packed.size(), 100u * side), 4);
  }
  return file + packed;
}

// OpenEXR: the attributes a reader needs, a data window of `side` x `side`,
// `extra` attributes, and no pixels.
std::string Exr(std::uint32_t side, const std::string& extra = "") {
  const auto attribute = [](const std::string& name, const std::string& type,
                            const std::string& value) {
    return name + '\0' + type + '\0' + Little(value.size(), 4) + value;
  };
  std::string channels;
  for (const char* name : {"B", "G", "R"}) {
    channels += std::string(name) + '\0' + Little(2, 4) + std::string(4, '\0') + Little(1, 4) +
                Little(1, 4);
  }
  channels += '\0';
  const std::string window =
      Little(0, 4) + Little(0, 4) + Little(side - 1, 4) + Little(side - 1, 4);
  return std::string("\x76\x2F\x31\x01", 4) + Little(2, 4) +
         attribute("channels", "chlist", channels) +
         attribute("compression", "compression", std::string(1, '\0')) +
         attribute("dataWindow", "box2i", window) + attribute("displayWindow", "box2i", window) +
         attribute("lineOrder", "lineOrder", std::string(1, '\0')) + extra + '\0' +
         std::string(64, '\0');
}

// A bare JPEG 2000 codestream: SOC and SIZ for `side` x `side`, 3 components.
std::string Jpeg2000(std::uint32_t side) {
  std::string file = std::string("\xFF\x4F\xFF\x51", 4) + Big(47, 2) + Big(0, 2) + Big(side, 4) +
                     Big(side, 4) + Big(0, 4) + Big(0, 4) + Big(side, 4) + Big(side, 4) +
                     Big(0, 4) + Big(0, 4) + Big(3, 2);
  for (int c = 0; c < 3; ++c) file += std::string("\x07\x01\x01", 3);
  return file + std::string(64, '\0');
}

struct ForgedHeader {
  std::string name;
  std::string bytes;
};

// Each declares 100000 x 100000 pixels, written as some program would.
std::vector<ForgedHeader> ForgedHeaders() {
  const std::uint32_t n = 100000;
  std::string comments;
  while (comments.size() < 70000) comments += "# written by a tool that says a lot\n";
  return {
      {"slong.tif", Tiff({{256, 9, n}, {257, 9, n}}, std::string(64, '\0'))},
      {"sshort-then-long.tif", Tiff({{256, 3, 8}, {256, 4, n}, {257, 4, n}}, "")},
      {"big.tif", BigTiff(n, n)},
      {"padded.ppm", "P6\n000000100000 000000100000\n255\n" + std::string(64, 'x')},
      {"tabs.pam", "P7\nWIDTH\t100000\nHEIGHT\t100000\nDEPTH 3\nMAXVAL 255\nENDHDR\n"},
      {"comment.pam", "P7\n#" + comments +
                          "WIDTH 100000\nHEIGHT 100000\nDEPTH 3\nMAXVAL 255\n"
                          "ENDHDR\n"},
      {"spaced.hdr", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y  +100000\t+X 100000\n"},
      {"long.hdr", "#?RADIANCE\n" + comments + "FORMAT=32-bit_rle_rgbe\n\n-Y 100000 +X 100000\n"},
      {"zero.pfm", "PF\n00100000 100000\n-1\n" + std::string(64, '\0')},
      {"window.exr", Exr(n)},
      {"codestream.j2k", Jpeg2000(n)},
  };
}

using MemoryFaultTest = ToolFaultTest;

// Before, every one of these was decoded first (the image library then
// refused more than 2^30 pixels as unreadable); now each is refused from
// its header, by demosaic-eval and demosaic-bench alike.
TEST_F(MemoryFaultTest, HeadersWrittenAnyWayAreRefusedBeforeDecoding) {
  std::vector<std::string> bench_arguments;
  for (const ForgedHeader& forged : ForgedHeaders()) {
    SCOPED_TRACE(forged.name);
    const std::string reference = dir_.File(forged.name);
    WriteFile(reference, forged.bytes);
    const ProgramResult result = Eval(reference, dir_.File("out.png"));
    ExpectRefused(result, kNoMemory);
    EXPECT_LT(result.peak_rss_kib, kSmallRunKiB);
    ExpectNoFile(dir_.File("out.png"));
    temp_.ExpectEmpty();
    bench_arguments.push_back(reference);
  }
  const ProgramResult bench = Bench(bench_arguments);
  EXPECT_EQ(bench.exit_status, 1) << bench.err;
  EXPECT_LT(bench.peak_rss_kib, kSmallRunKiB);
  for (const ForgedHeader& forged : ForgedHeaders()) {
    EXPECT_NE(bench.err.find(forged.name + ": skipped, not enough memory"), std::string::npos)
        << forged.name << "\n"
        << bench.err;
  }
}

// An image too large for the memory group the tools run in: the group's
// limit is read, and the run refused before decoding, instead of the
// kernel killing the process (exit 137, no message) at the limit.
class MemoryGroupTest : public ToolFaultTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MemoryGroupTest, ImageTooLargeForTheGroupIsRefusedNotKilled) {
  const MemoryGroup group(512u << 20, GetParam());
  if (!group.available()) {
    GTEST_SKIP() << "memory group " << GetParam() << " not checked: " << group.reason;
  }
  // 10000 x 10000: a run of demosaic-eval needs about 1 GB, of
  // demosaic-bench about 700 MB, decoding alone 300 MB.
  const std::string png = dir_.File("large.png");
  WriteFile(png, BlackBilevelPng(10000, 10000));
  const std::string tiff = dir_.File("large.tif");
  WriteFile(tiff, BlackTiff(10000));
  ASSERT_EQ(cv::imread(tiff, cv::IMREAD_GRAYSCALE).size(), cv::Size(10000, 10000))
      << "the forged TIFF must be a real image";
  for (const std::string& reference : {png, tiff}) {
    SCOPED_TRACE(reference);
    const ProgramResult result = Eval(reference, dir_.File("out.png"), group.Apply());
    ExpectRefused(result, kNoMemory);
    ExpectNoFile(dir_.File("out.png"));
  }
  const ProgramResult bench = Bench({png, tiff}, group.Apply());
  EXPECT_EQ(bench.signal, 0) << "killed by signal " << bench.signal;
  EXPECT_EQ(bench.exit_status, 1);
  EXPECT_NE(bench.err.find("0 images measured, 2 skipped"), std::string::npos) << bench.err;
  // The refusals come from the sizes: an ordinary image runs in the group.
  const std::string ordinary = dir_.File("ordinary.png");
  WriteFile(ordinary, Encode(".png", TestImage(640, 480, 3)));
  ExpectReport(Eval(ordinary, dir_.File("out.png"), group.Apply()), ordinary, false);
  EXPECT_EQ(Bench({ordinary}, group.Apply()).exit_status, 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, MemoryGroupTest, ::testing::Values("v2", "v1"),
                         [](const auto& info) { return std::string(info.param); });

// A real 30000 x 30000 TIFF of a few kilobytes, sizes typed SLONG: refused
// from its header (decoding it took 5.3 GB and 35 s before the message), here
// under an address-space limit that holds on any machine.
TEST_F(MemoryFaultTest, SmallTiffOfThirtyThousandSquaredIsRefusedBeforeDecoding) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "address-space limit impossible under the address sanitizer";
  }
  const std::string tiff = dir_.File("vast.tif");
  WriteFile(tiff, BlackTiff(30000));
  ASSERT_LT(fs::file_size(tiff), std::uintmax_t{1} << 20);
  const auto start = std::chrono::steady_clock::now();
  const ProgramResult result = Eval(tiff, dir_.File("out.png"), AddressSpaceLimit(2 * kGiB));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ExpectRefused(result, kNoMemory);
  EXPECT_LT(result.peak_rss_kib, kSmallRunKiB);
  EXPECT_LT(elapsed, std::chrono::seconds(10)) << "decoding was started";
}

// Metadata declaring more than the file holds: a 600-byte PNG whose last
// text chunk declares 2 GiB made libpng take 2.1 GB and 6 s before failing
// (inside a small memory group, the process was killed). Refused as
// unreadable from the chunk lengths, whatever the chunk's type, before
// decoding; likewise a TIFF whose field declares a gigabyte of values
// (libtiff ignored the field and decoded the image) and an OpenEXR header
// attribute declaring 2 GiB.
TEST_F(MemoryFaultTest, MetadataLongerThanTheFileIsRefusedBeforeDecoding) {
  const std::string png = Encode(".png", TestImage(16, 16, 6));
  const std::string before_end = png.substr(0, png.size() - 12);
  std::vector<ForgedHeader> files;
  for (const std::string type : {"tEXt", "zTXt", "iTXt"}) {
    files.push_back({type + ".png", before_end + Big(0x7FFFFFFF, 4) + type +
                                        std::string("Comment\0", 8) + std::string(200, 'x')});
  }
  const std::string pixels(16 * 16, '\x80');
  std::string tiff = Tiff({{256, 3, 16},
                           {257, 3, 16},
                           {258, 3, 8},
                           {259, 3, 1},
                           {262, 3, 1},
                           {273, 4, 8 + 2 + 12 * 10 + 4},
                           {277, 3, 1},
                           {278, 3, 16},
                           {279, 4, 16 * 16},
                           {305, 2, 0}},  // Software: ASCII
                          pixels);
  ASSERT_EQ(
      cv::imdecode(std::vector<unsigned char>(tiff.begin(), tiff.end()), cv::IMREAD_COLOR).size(),
      cv::Size(16, 16));
  // The Software field's count: a gigabyte of text at an offset past the end.
  tiff.replace(8 + 2 + 12 * 9 + 4, 8, Little(1u << 30, 4) + Little(1000, 4));
  files.push_back({"field.tif", tiff});
  // An OpenEXR string attribute declaring 2 GiB (OpenEXR allocated it:
  // 2.1 GB, 1.6 s).
  files.push_back({"attribute.exr", Exr(16, std::string("comments\0string\0", 16) +
                                                Little(0x7FFFFFFF, 4) + std::string(200, 'x'))});
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = dir_.File(name);
    WriteFile(path, bytes);
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult result = Eval(path, dir_.File("out.png"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ExpectRefused(result, kReadError);
    ExpectNoFile(dir_.File("out.png"));
    EXPECT_LT(result.peak_rss_kib, kSmallRunKiB);
    EXPECT_LT(elapsed, std::chrono::seconds(2)) << "the decoder read the chunk";
    const ProgramResult bench = Bench({path});
    EXPECT_NE(bench.err.find(name + ": skipped, cannot be read as an image"), std::string::npos)
        << bench.err;
  }
}

// Thousands of scans in a small JPEG: the decoder would go over the whole
// image once per scan. Refused as unreadable; a JPEG of ordinary scans is
// still evaluated.
TEST_F(MemoryFaultTest, JpegOfEndlessScansIsRefused) {
  const cv::Mat image = TestImage(96, 64, 4);
  const std::string progressive = Encode(".jpg", image, {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
  const std::size_t last_scan = progressive.rfind("\xFF\xDA");
  const std::string scan = progressive.substr(last_scan, progressive.size() - 2 - last_scan);
  std::string bomb = progressive.substr(0, progressive.size() - 2);
  for (int i = 0; i < 3000; ++i) bomb += scan;
  bomb += "\xFF\xD9";
  ASSERT_EQ(
      cv::imdecode(std::vector<unsigned char>(bomb.begin(), bomb.end()), cv::IMREAD_COLOR).size(),
      image.size())
      << "the decoder itself takes the file";
  const std::string bomb_path = dir_.File("scans.jpg");
  WriteFile(bomb_path, bomb);
  ExpectRefused(Eval(bomb_path, dir_.File("out.png")), kReadError);
  ExpectNoFile(dir_.File("out.png"));
  const ProgramResult bench = Bench({bomb_path});
  EXPECT_NE(bench.err.find("scans.jpg: skipped, cannot be read as an image"), std::string::npos)
      << bench.err;

  const std::string ordinary = dir_.File("progressive.jpg");
  WriteFile(ordinary, progressive);
  ExpectReport(Eval(ordinary, dir_.File("out.png")), ordinary, false);
}

}  // namespace
}  // namespace demosaic::testing
