// Reading a reference whole and decoding the very bytes that were checked:
// from memory where the decoder reads memory, else from an unnamed in-memory
// file holding them; never from the file's name or descriptor again, never
// from a named copy in a shared directory.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "io/descriptors.h"
#include "io/header_formats.h"
#include "io/image_files.h"
#include "io/image_header.h"
#include "io/memory.h"
#include "io/png_codec.h"

namespace demosaic {
namespace {

// An unnamed file: in memory where the kernel offers it, else an unnamed
// file in the temporary directory. Neither has a name that could outlive the
// process. -1 when neither can be made.
int OpenUnnamedFile() {
  const int fd = memfd_create("demosaic-reference", MFD_CLOEXEC);
  if (fd >= 0) return fd;
  const char* directory = std::getenv("TMPDIR");
  if (directory == nullptr || *directory == '\0') directory = "/tmp";
  return open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

// Owns a descriptor for the length of a decoding.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// Decodes through an unnamed file holding `bytes`, for the decoders that
// only open named files: they open it as /proc/self/fd/N. The bytes are
// released once copied, so that the file is all that is held while
// decoding. Memory files fail with ENOSPC or ENOMEM when memory runs out.
Expected<cv::Mat> DecodeThroughUnnamedFile(std::vector<unsigned char>& bytes, int flags) {
  Descriptor file{OpenUnnamedFile()};
  if (file.fd < 0 && OutOfDescriptors(errno)) return Error{ErrorKind::kTooManyFiles, ""};
  if (file.fd < 0) return Error{ErrorKind::kUnreadable, "no unnamed file to decode from"};
  if (!WriteAll(file.fd, bytes)) return Error{ErrorKind::kOutOfMemory, ""};
  std::vector<unsigned char>().swap(bytes);
  const std::string path = "/proc/self/fd/" + std::to_string(file.fd);
  // The decoder opens the file once more and says only that it could not
  // read it; a descriptor taken and given back first tells a limit of the
  // run from a file that does not decode.
  Descriptor probe{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (probe.fd < 0 && OutOfDescriptors(errno)) return Error{ErrorKind::kTooManyFiles, ""};
  if (probe.fd < 0) return Error{ErrorKind::kUnreadable, "no /proc to decode from"};
  close(probe.fd);
  probe.fd = -1;
  return cv::imread(path, flags);
}

// 16-bit samples as their high byte, the one rule for every format (signed
// ones by their bits alike).
cv::Mat HighByte(const cv::Mat& wide) {
  cv::Mat narrow(wide.size(), CV_MAKETYPE(CV_8U, wide.channels()));
  const int samples = wide.cols * wide.channels();
  for (int y = 0; y < wide.rows; ++y) {
    const auto* in = wide.ptr<std::uint16_t>(y);
    auto* out = narrow.ptr<std::uint8_t>(y);
    for (int x = 0; x < samples; ++x) out[x] = static_cast<std::uint8_t>(in[x] >> 8);
  }
  return narrow;
}

// A floating-point sample of nominal range 0..1 as an 8-bit level: scaled
// by 255 in the sample's own precision (as the library's conversion does,
// so that finite samples keep the levels they always had), clamped, then
// rounded half to even. NaN is 0; +inf and everything above 1 is 255.
template <class Real>
std::uint8_t FloatLevel(Real sample) {
  if (std::isnan(sample)) return 0;
  const Real scaled = sample * Real{255};
  if (scaled <= Real{0}) return 0;
  if (scaled >= Real{255}) return 255;
  return static_cast<std::uint8_t>(std::nearbyint(scaled));
}

template <class Real>
cv::Mat FloatLevels(const cv::Mat& real) {
  cv::Mat narrow(real.size(), CV_MAKETYPE(CV_8U, real.channels()));
  const int samples = real.cols * real.channels();
  for (int y = 0; y < real.rows; ++y) {
    const Real* in = real.ptr<Real>(y);
    auto* out = narrow.ptr<std::uint8_t>(y);
    for (int x = 0; x < samples; ++x) out[x] = FloatLevel(in[x]);
  }
  return narrow;
}

// The decoded image as B, G, R: 16-bit integer samples kept at 16 bits when
// `keep_16_bit` (signed ones by their bits), everything else at 8 bits.
Expected<cv::Mat> ToColour(cv::Mat decoded, bool keep_16_bit) {
  const bool keep = keep_16_bit && (decoded.depth() == CV_16U || decoded.depth() == CV_16S);
  if (keep && decoded.depth() == CV_16S) {
    decoded =
        cv::Mat(decoded.size(), CV_MAKETYPE(CV_16U, decoded.channels()), decoded.data, decoded.step)
            .clone();
  }
  switch (keep ? CV_16U : decoded.depth()) {
    case CV_8U:
      break;
    case CV_8S:  // signed samples by their bits, as the library gives 8-bit ones
      decoded = cv::Mat(decoded.size(), CV_MAKETYPE(CV_8U, decoded.channels()), decoded.data,
                        decoded.step)
                    .clone();
      break;
    case CV_16U:
    case CV_16S:
      if (!keep) decoded = HighByte(decoded);
      break;
    case CV_16F: {
      cv::Mat single;  // half to single precision is exact
      decoded.convertTo(single, CV_32F);
      decoded = FloatLevels<float>(single);
      break;
    }
    case CV_32F:
      decoded = FloatLevels<float>(decoded);
      break;
    case CV_64F:
      decoded = FloatLevels<double>(decoded);
      break;
    default:
      return Error{ErrorKind::kUnreadable, ""};  // 32-bit integer samples
  }
  cv::Mat image;
  switch (decoded.channels()) {
    case 1:
      cv::cvtColor(decoded, image, cv::COLOR_GRAY2BGR);
      break;
    case 3:
      image = decoded;
      break;
    case 4:
      cv::cvtColor(decoded, image, cv::COLOR_BGRA2BGR);
      break;
    default:
      return Error{ErrorKind::kUnreadable, ""};
  }
  if (!image.isContinuous()) image = image.clone();
  return image;
}

// Decodes `bytes`, which it may alter and releases before converting.
Expected<cv::Mat> DecodeBytes(std::vector<unsigned char>& bytes, bool keep_16_bit) {
  const Error unreadable{ErrorKind::kUnreadable, ""};
  if (bytes.empty()) return unreadable;
  if (DeclaresDataBeyondEnd(bytes) || CountJpegScans(bytes) > kMaxJpegScans) return unreadable;
  // libtiff premultiplies colour by an alpha marked unassociated when it
  // hands 8-bit samples over; marked as an unspecified extra sample, the
  // alpha is dropped and the colour kept as stored.
  for (const std::size_t at : header::TiffUnassociatedAlphaOffsets(bytes)) {
    bytes[at] = 0;
    bytes[at + 1] = 0;
  }
  // Every format at its own depth, reduced to 8 bits here by one rule.
  const int flags = cv::IMREAD_COLOR | cv::IMREAD_ANYDEPTH;
  try {
    // The common kind of PNG through libdeflate, everything else through
    // OpenCV.
    if (cv::Mat png = DecodeCommonPng(bytes); !png.empty()) {
      std::vector<unsigned char>().swap(bytes);
      return png;
    }
    Expected<cv::Mat> decoded = cv::Mat();
    if (DecodesFromMemory(bytes) && bytes.size() <= static_cast<std::size_t>(INT_MAX)) {
      const cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8U, bytes.data());
      // The decoder makes the image itself: given one to fill, OpenCV
      // returns it untouched, as if decoded, when the decoder refuses the
      // file's header.
      decoded = cv::imdecode(buffer, flags);
    } else {
      decoded = DecodeThroughUnnamedFile(bytes, flags);
    }
    std::vector<unsigned char>().swap(bytes);
    if (!decoded.ok()) return decoded;
    if (decoded.value().empty()) return unreadable;
    return ToColour(std::move(decoded).value(), keep_16_bit);
  } catch (const std::exception&) {
    // Running out of memory is reported as such; any other failure of a
    // decoder means the file does not decode.
    try {
      return OutOfMemoryOrRethrow();
    } catch (const std::exception&) {
      return unreadable;
    }
  }
}

}  // namespace

Expected<ImageSource> OpenImageSource(const std::string& path, std::size_t limit) {
  const Error unreadable{ErrorKind::kUnreadable, ""};
  const Error out_of_memory{ErrorKind::kOutOfMemory, ""};
  ImageSource source;
  Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0 && OutOfDescriptors(errno)) return Error{ErrorKind::kTooManyFiles, path};
  if (file.fd < 0) return unreadable;
  struct stat info {};
  // Regular files and pipes only: a directory has no bytes, and a device
  // such as /dev/zero never ends.
  if (fstat(file.fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))) {
    return unreadable;
  }
  std::vector<unsigned char>& bytes = source.bytes;
  try {
    constexpr std::size_t kChunk = 1 << 16;
    if (S_ISREG(info.st_mode)) {
      if (static_cast<std::uint64_t>(info.st_size) > limit) return out_of_memory;
      bytes.reserve(static_cast<std::size_t>(info.st_size) + kChunk);
    }
    while (true) {
      if (bytes.size() > limit - std::min(limit, kChunk)) return out_of_memory;
      const std::size_t done = bytes.size();
      bytes.resize(done + kChunk);
      const ssize_t n = read(file.fd, bytes.data() + done, kChunk);
      if (n < 0 && errno == EINTR) {
        bytes.resize(done);
        continue;
      }
      bytes.resize(done + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0) return unreadable;
      if (n == 0) break;
    }
  } catch (const std::bad_alloc&) {
    return out_of_memory;
  }
  return source;
}

Expected<ImageSource> ImageSourceOfBytes(std::span<const unsigned char> file) {
  ImageSource source;
  try {
    source.bytes.assign(file.begin(), file.end());
  } catch (const std::bad_alloc&) {
    return Error{ErrorKind::kOutOfMemory, ""};
  }
  return source;
}

Expected<cv::Mat> DecodeColorImage(ImageSource& source, bool keep_16_bit) {
  Expected<cv::Mat> decoded = DecodeBytes(source.bytes, keep_16_bit);
  std::vector<unsigned char>().swap(source.bytes);
  return decoded;
}

Expected<cv::Mat> DecodeColorImage(std::span<const unsigned char> file) {
  Expected<ImageSource> source = ImageSourceOfBytes(file);
  if (!source.ok()) return source.error();
  return DecodeBytes(source.value().bytes, false);
}

}  // namespace demosaic
