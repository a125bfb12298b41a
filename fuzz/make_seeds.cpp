// Writes the file fuzzer's starting corpus: small colour images in every
// format the image library here encodes, drawn so that each has edges and
// gradients in all three channels; 16-bit and alpha images; and PNG, JPEG
// and WebP files carrying metadata (text chunks, Exif, ICC profiles), so
// that the fuzzer reaches the decoders' metadata paths and the bounds
// checked before them.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

namespace {

std::string Big32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string Little32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const uLong crc =
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return Big32(static_cast<std::uint32_t>(data.size())) + body +
         Big32(static_cast<std::uint32_t>(crc));
}

std::string Deflated(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()));
  packed.resize(size);
  return packed;
}

// A little-endian Exif block: one directory holding Orientation 6 (the
// decoder turns the image) and a short ASCII field stored out of line.
std::string Exif() {
  std::string tiff = std::string("II*\0", 4) + Little32(8);
  tiff += std::string("\x02\x00", 2);
  tiff += std::string("\x12\x01\x03\x00", 4) + Little32(1) + std::string("\x06\x00\x00\x00", 4);
  tiff += std::string("\x31\x01\x02\x00", 4) + Little32(12) + Little32(8 + 2 + 24 + 4);
  tiff += Little32(0) + std::string("fuzz seeds\0\0", 12);
  return tiff;
}

// The start of an ICC profile header: size, type, version and class fields.
std::string IccProfile() {
  std::string profile = Big32(132) + "none" + Big32(0x02100000) + "mntrRGB XYZ ";
  profile.resize(128, '\0');
  return profile + Big32(0);
}

std::string Encoded(const std::string& extension, const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  cv::imencode(extension, image, bytes);
  return std::string(bytes.begin(), bytes.end());
}

bool WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// PNG, JPEG and WebP seeds of `image` carrying metadata; returns how many
// were written.
int WriteMetadataSeeds(const std::filesystem::path& directory, const cv::Mat& image) {
  int written = 0;
  const std::string png = Encoded(".png", image);
  const std::size_t after_header = 8 + 25;
  const std::string chunks =
      PngChunk("tEXt", std::string("Comment\0fuzz", 12)) +
      PngChunk("zTXt", std::string("Comment\0\0", 9) + Deflated("compressed comment")) +
      PngChunk("iTXt", std::string("Comment\0\0\0en\0Kommentar\0", 24) + "text") +
      PngChunk("eXIf", Exif()) +
      PngChunk("iCCP", std::string("icc\0\0", 5) + Deflated(IccProfile()));
  written += WriteBytes(directory / "seed-metadata.png",
                        png.substr(0, after_header) + chunks + png.substr(after_header));

  const std::string jpeg = Encoded(".jpg", image);
  const auto segment = [](unsigned char marker, const std::string& data) {
    const std::size_t length = data.size() + 2;
    return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                       static_cast<char>(length)} +
           data;
  };
  const std::string segments =
      segment(0xE1, std::string("Exif\0\0", 6) + Exif()) +
      segment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + IccProfile());
  written +=
      WriteBytes(directory / "seed-metadata.jpg", jpeg.substr(0, 2) + segments + jpeg.substr(2));

  // Extended WebP: VP8X (ICC and Exif flags, canvas size), then the
  // profile, the frame and the Exif chunk.
  const std::string webp = Encoded(".webp", image);
  if (webp.size() > 12) {
    const std::string frame = webp.substr(12);
    const auto riff_chunk = [](const std::string& type, const std::string& data) {
      return type + Little32(static_cast<std::uint32_t>(data.size())) + data +
             (data.size() % 2 == 1 ? std::string(1, '\0') : std::string());
    };
    const std::uint32_t w = static_cast<std::uint32_t>(image.cols - 1);
    const std::uint32_t h = static_cast<std::uint32_t>(image.rows - 1);
    const std::string canvas = {'\x28',
                                0,
                                0,
                                0,
                                static_cast<char>(w),
                                static_cast<char>(w >> 8),
                                static_cast<char>(w >> 16),
                                static_cast<char>(h),
                                static_cast<char>(h >> 8),
                                static_cast<char>(h >> 16)};
    const std::string body = "WEBP" + riff_chunk("VP8X", canvas) +
                             riff_chunk("ICCP", IccProfile()) + frame + riff_chunk("EXIF", Exif());
    written += WriteBytes(directory / "seed-metadata.webp",
                          "RIFF" + Little32(static_cast<std::uint32_t>(body.size())) + body);
  }
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make-fuzz-seeds DIRECTORY\n", stderr);
    return 2;
  }
  const std::filesystem::path directory = argv[1];
  std::filesystem::create_directories(directory);
  const char* extensions[] = {".png",  ".jpg", ".bmp", ".ppm", ".pgm", ".pam", ".tif",
                              ".webp", ".ras", ".hdr", ".pfm", ".exr", ".jp2"};
  // JPEG 2000 needs 32 pixels a side for its resolution levels.
  const cv::Size sizes[] = {{7, 7}, {9, 8}, {16, 13}, {33, 32}};
  int written = 0;
  for (const cv::Size size : sizes) {
    cv::Mat image(size, CV_8UC3);
    for (int r = 0; r < size.height; ++r) {
      for (int c = 0; c < size.width; ++c) {
        image.at<cv::Vec3b>(r, c) =
            cv::Vec3b(static_cast<uchar>(r * 37), static_cast<uchar>(c * 29),
                      static_cast<uchar>((r + c) % 3 == 0 ? 255 : 10));
      }
    }
    for (const char* extension : extensions) {
      const std::string name =
          "seed-" + std::to_string(size.width) + "x" + std::to_string(size.height) + extension;
      try {
        cv::Mat out = image;
        const std::string ext = extension;
        if (ext == ".hdr" || ext == ".pfm" || ext == ".exr") {
          image.convertTo(out, CV_32FC3, 1.0 / 255);
        }
        if (ext == ".pgm") cv::extractChannel(image, out, 1);
        if (cv::imwrite((directory / name).string(), out)) ++written;
      } catch (const cv::Exception&) {
        // A codec this build of the library lacks: its seeds are skipped.
      }
    }
  }
  // A grey floating-point image, and a progressive JPEG: decoders the
  // colour seeds do not reach.
  cv::Mat grey(9, 8, CV_32FC1);
  cv::randu(grey, cv::Scalar::all(0), cv::Scalar::all(1));
  if (cv::imwrite((directory / "seed-grey-9x8.pfm").string(), grey)) ++written;
  cv::Mat colour(13, 16, CV_8UC3);
  cv::randu(colour, cv::Scalar::all(0), cv::Scalar::all(256));
  if (cv::imwrite((directory / "seed-progressive-16x13.jpg").string(), colour,
                  {cv::IMWRITE_JPEG_PROGRESSIVE, 1})) {
    ++written;
  }
  // 16-bit samples (reduced to their high byte) and alpha (dropped).
  cv::Mat wide;
  colour.convertTo(wide, CV_16UC3, 257.0);
  for (const char* extension : {".png", ".tif", ".ppm"}) {
    if (cv::imwrite((directory / (std::string("seed-16bit-16x13") + extension)).string(), wide)) {
      ++written;
    }
  }
  cv::Mat alpha;
  cv::cvtColor(colour, alpha, cv::COLOR_BGR2BGRA);
  for (const char* extension : {".png", ".tif", ".webp"}) {
    if (cv::imwrite((directory / (std::string("seed-alpha-16x13") + extension)).string(), alpha)) {
      ++written;
    }
  }
  written += WriteMetadataSeeds(directory, colour);
  std::printf("%d seed files in %s\n", written, directory.c_str());
  return written > 0 ? 0 : 1;
}
