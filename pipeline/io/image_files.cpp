// Telling whether an output is the reference itself, and encoding an image
// into the bytes of its file.
#include "io/image_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <string_view>

#include "io/memory.h"
#include "io/png_codec.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;

std::string LowerCase(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

// The image library's encoders of these formats only write named files:
// given a buffer, they go through a file of their own in the shared
// temporary directory.
bool EncoderNeedsAFile(const std::string& extension) {
  static constexpr std::array<std::string_view, 7> kFileOnly = {".sr",  ".ras", ".jp2", ".hdr",
                                                                ".pic", ".pfm", ".exr"};
  return std::find(kFileOnly.begin(), kFileOnly.end(), LowerCase(extension)) != kFileOnly.end();
}

// Encodes through a hidden file beside `path`, named with the extension so
// that the library picks the encoder, read back and removed before
// returning. Only a kill between writing and removing it leaves it behind,
// where the output goes rather than in a directory shared by everyone.
bool EncodeThroughFile(const fs::path& path, const cv::Mat& image,
                       std::vector<unsigned char>& bytes) {
  RemoveStaleTemporaries(path);
  fs::path directory = path.parent_path();
  if (directory.empty()) directory = ".";
  const std::string extension = path.extension().string();
  const long name_max = pathconf(directory.c_str(), _PC_NAME_MAX);
  const std::string suffix = ".enc-" + std::to_string(getpid()) + "-XXXXXX" + extension;
  // The output's stem is cut short so that the name fits the directory.
  const std::size_t limit = static_cast<std::size_t>(name_max > 0 ? name_max : 255);
  const std::size_t room = limit > 1 + suffix.size() ? limit - 1 - suffix.size() : 0;
  std::string hidden = ".";
  hidden.append(path.stem().string(), 0, room);
  std::string temp = (directory / (hidden + suffix)).string();
  const int fd = mkostemps(temp.data(), static_cast<int>(extension.size()), O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  bool ok = false;
  try {
    ok = cv::imwrite(temp, image);
    if (ok) {
      std::ifstream in(temp, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      ok = !in.bad();
    }
  } catch (const std::exception&) {
    ok = false;
  }
  unlink(temp.c_str());
  return ok;
}

}  // namespace

bool IsSameFile(const fs::path& reference, const fs::path& output) {
  std::error_code error;
  if (!fs::exists(output, error)) return false;
  return fs::equivalent(reference, output, error) && !error;
}

bool CanHold16Bit(const std::string& path) {
  static constexpr std::array<std::string_view, 4> kDeep = {".png", ".tif", ".tiff", ".ppm"};
  const std::string extension = LowerCase(fs::path(path).extension().string());
  return std::find(kDeep.begin(), kDeep.end(), extension) != kDeep.end();
}

Status EncodeImage(const std::string& path, const cv::Mat& image,
                   std::vector<unsigned char>& bytes) {
  const Error unwritable{ErrorKind::kUnwritable, path};
  try {
    const std::string extension = fs::path(path).extension().string();
    if (extension.empty()) return unwritable;
    // Other encoders would reduce 16-bit samples, or refuse them.
    if (image.depth() != CV_8U && !CanHold16Bit(path)) return unwritable;
    // PFM stores what it is given as floating point; decoding takes 0..1
    // to 0..255, so encoding takes 0..255 to 0..1. (Radiance HDR's encoder
    // scales 8-bit images itself.)
    cv::Mat encoded = image;
    if (LowerCase(extension) == ".pfm") image.convertTo(encoded, CV_32F, 1.0 / 255.0);
    const bool encoded_ok = EncoderNeedsAFile(extension) ? EncodeThroughFile(path, encoded, bytes)
                                                         : cv::imencode(extension, encoded, bytes);
    if (encoded_ok) return {};
  } catch (const std::exception&) {
    // No encoder for the extension, or no memory for the bytes.
  }
  return unwritable;
}

namespace {

bool IsEightBitPng(const std::string& path, const cv::Mat& image) {
  return image.type() == CV_8UC3 && LowerCase(fs::path(path).extension().string()) == ".png";
}

// An 8-bit PNG through the pipeline's encoder: where the image is when it
// may be spent and has the room, else from a copy.
Status SavePng(const std::string& path, cv::Mat& image, bool may_spend) {
  try {
    EncodedFile png;
    if (may_spend) png = EncodePngInItsPlace(image);
    if (png.size == 0) png = EncodePng(image);
    return WriteFileAtomically(path, {png.bytes.get(), png.size});
  } catch (const std::bad_alloc&) {
    return Error{ErrorKind::kUnwritable, path};
  }
}

}  // namespace

Status SaveImageAtomically(const std::string& path, const cv::Mat& image) {
  if (IsEightBitPng(path, image)) {
    cv::Mat kept = image;  // a header only: a kept image is never written to
    return SavePng(path, kept, false);
  }
  // Room for about the raw size up front: an encoder appends to the buffer
  // as it goes, and a growing buffer would briefly hold both its old and its
  // new copy, up to three times the file's size.
  std::vector<unsigned char> encoded;
  try {
    const std::size_t raw = image.total() * image.elemSize();
    encoded.reserve(raw + raw / 64 + (std::size_t{1} << 16));
    AdviseHugePages(encoded.data(), encoded.capacity());
  } catch (const std::exception&) {
    return Error{ErrorKind::kUnwritable, path};
  }
  if (const Status status = EncodeImage(path, image, encoded); !status.ok()) return status;
  return WriteFileAtomically(path, encoded);
}

Status SaveImageSpendingIt(const std::string& path, cv::Mat& image) {
  if (IsEightBitPng(path, image)) return SavePng(path, image, true);
  return SaveImageAtomically(path, image);
}

}  // namespace demosaic
