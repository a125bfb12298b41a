// Reading a reference and decoding it through a descriptor: the file itself
// or an unnamed in-memory copy, never a named copy in a shared directory.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "io/descriptors.h"
#include "io/image_files.h"
#include "io/image_header.h"

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

// A new unnamed file holding `file`, in `source.fd`. Memory files fail with
// ENOSPC or ENOMEM when memory runs out.
Status CopyToUnnamedFile(std::span<const unsigned char> file, ImageSource& source) {
  source.fd = OpenUnnamedFile();
  if (source.fd < 0) return Error{ErrorKind::kUnreadable, "no unnamed file to decode from"};
  if (!WriteAll(source.fd, file)) return Error{ErrorKind::kOutOfMemory, ""};
  return {};
}

// The name the decoder opens: the descriptor's entry in /proc, which reaches
// the very file read (even if its name has been replaced since), or the
// regular file's own name where /proc is missing.
std::string DecoderPath(const ImageSource& source) {
  const std::string fd_path = "/proc/self/fd/" + std::to_string(source.fd);
  if (access(fd_path.c_str(), R_OK) == 0) return fd_path;
  return source.path;
}

// The decoded image as 8-bit B, G, R. Floating-point samples have the
// nominal range 0 to 1: scaled by 255, rounded and clamped as the library
// converts (a NaN becomes 0).
Expected<cv::Mat> ToEightBitColour(cv::Mat decoded) {
  const int depth = decoded.depth();
  if (depth == CV_32F || depth == CV_64F || depth == CV_16F) {
    cv::Mat scaled;
    decoded.convertTo(scaled, CV_8U, 255.0);
    decoded = scaled;
  } else if (depth != CV_8U) {
    return Error{ErrorKind::kUnreadable, ""};
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

}  // namespace

ImageSource::ImageSource(ImageSource&& other) noexcept
    : bytes(std::move(other.bytes)), fd(other.fd), path(std::move(other.path)) {
  other.fd = -1;
}

ImageSource& ImageSource::operator=(ImageSource&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) close(fd);
    bytes = std::move(other.bytes);
    fd = other.fd;
    path = std::move(other.path);
    other.fd = -1;
  }
  return *this;
}

ImageSource::~ImageSource() {
  if (fd >= 0) close(fd);
}

Expected<ImageSource> OpenImageSource(const std::string& path, std::size_t limit) {
  const Error unreadable{ErrorKind::kUnreadable, ""};
  const Error out_of_memory{ErrorKind::kOutOfMemory, ""};
  ImageSource source;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return unreadable;
  source.fd = fd;
  struct stat info {};
  // Regular files and pipes only: a directory has no bytes, and a device
  // such as /dev/zero never ends.
  if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))) {
    return unreadable;
  }
  const bool regular = S_ISREG(info.st_mode);
  std::vector<unsigned char>& bytes = source.bytes;
  try {
    constexpr std::size_t kChunk = 1 << 16;
    if (regular) {
      if (static_cast<std::uint64_t>(info.st_size) > limit) return out_of_memory;
      bytes.reserve(static_cast<std::size_t>(info.st_size) + kChunk);
    }
    while (true) {
      if (bytes.size() > limit - std::min(limit, kChunk)) return out_of_memory;
      const std::size_t done = bytes.size();
      bytes.resize(done + kChunk);
      const ssize_t n = read(fd, bytes.data() + done, kChunk);
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
  if (regular) {
    source.path = path;
    return source;
  }
  // A pipe cannot be read twice: the decoder reads an unnamed copy.
  close(source.fd);
  source.fd = -1;
  if (const Status copied = CopyToUnnamedFile(bytes, source); !copied.ok()) return copied.error();
  return source;
}

Expected<ImageSource> ImageSourceOfBytes(std::span<const unsigned char> file) {
  ImageSource source;
  if (const Status copied = CopyToUnnamedFile(file, source); !copied.ok()) return copied.error();
  try {
    source.bytes.assign(file.begin(), file.end());
  } catch (const std::bad_alloc&) {
    return Error{ErrorKind::kOutOfMemory, ""};
  }
  return source;
}

Expected<cv::Mat> DecodeColorImage(ImageSource& source) {
  const Error unreadable{ErrorKind::kUnreadable, ""};
  const std::span<const unsigned char> file = source.bytes;
  if (file.empty() || source.fd < 0) return unreadable;
  if (IsTruncatedJpeg(file) || CountJpegScans(file) > kMaxJpegScans) return unreadable;
  const int flags =
      HasFloatingPointSamples(file) ? cv::IMREAD_COLOR | cv::IMREAD_ANYDEPTH : cv::IMREAD_COLOR;
  // The decoder reads the file again; the bytes are no longer needed.
  std::vector<unsigned char>().swap(source.bytes);
  const std::string path = DecoderPath(source);
  if (path.empty()) return unreadable;
  try {
    cv::Mat decoded = cv::imread(path, flags);
    if (decoded.empty()) return unreadable;
    return ToEightBitColour(std::move(decoded));
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

Expected<cv::Mat> DecodeColorImage(std::span<const unsigned char> file) {
  Expected<ImageSource> source = ImageSourceOfBytes(file);
  if (!source.ok()) return source.error();
  return DecodeColorImage(source.value());
}

}  // namespace demosaic
