// Reading the reference and writing the reconstruction without ever leaving a
// half-written file or touching the reference.
#include "driver/image_files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <new>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace demosaic {
namespace {

// The codecs behind the image library (libpng, libjpeg, libtiff) print their
// warnings straight to file descriptor 2; this points it at /dev/null while a
// guard lives, so that the tool's own messages are the only ones shown.
class QuietStderr {
 public:
  QuietStderr() {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null_fd >= 0) dup2(null_fd, STDERR_FILENO);
    if (null_fd >= 0) close(null_fd);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

bool WriteAll(int fd, std::span<const unsigned char> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The permissions a newly created file would get: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

LoadStatus LoadColorImage(const std::string& path, cv::Mat& image) {
  try {
    QuietStderr quiet;
    image = cv::imread(path, cv::IMREAD_COLOR);
  } catch (const std::bad_alloc&) {
    return LoadStatus::kOutOfMemory;
  } catch (const cv::Exception& e) {
    // The library signals allocation failure with its own exception.
    return e.code == cv::Error::StsNoMem ? LoadStatus::kOutOfMemory : LoadStatus::kUnreadable;
  } catch (const std::exception&) {
    return LoadStatus::kUnreadable;
  }
  if (image.empty() || image.type() != CV_8UC3) return LoadStatus::kUnreadable;
  if (!image.isContinuous()) image = image.clone();
  return LoadStatus::kLoaded;
}

bool IsSameFile(const std::filesystem::path& reference, const std::filesystem::path& output) {
  std::error_code error;
  if (!std::filesystem::exists(output, error)) return false;
  return std::filesystem::equivalent(reference, output, error) && !error;
}

bool SaveImageAtomically(const std::string& path, const cv::Mat& image) {
  std::vector<unsigned char> encoded;
  try {
    QuietStderr quiet;
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension.empty() || !cv::imencode(extension, image, encoded)) return false;
  } catch (const std::exception&) {
    return false;  // no encoder for the extension, or no memory for the bytes
  }
  return WriteFileAtomically(path, encoded);
}

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
  // Through a symbolic link the file it points to is replaced, as a plain
  // write would, not the link itself.
  std::error_code error;
  std::filesystem::path target = path;
  if (std::filesystem::is_symlink(path, error)) {
    target = std::filesystem::weakly_canonical(path, error);
    if (error) return false;
  }
  std::filesystem::path directory = target.parent_path();
  if (directory.empty()) directory = ".";
  // A hidden name in the same directory, so that the rename stays on one
  // file system and a directory listing does not show work in progress.
  std::string hidden_name = ".";
  hidden_name += target.filename().string();
  hidden_name += ".tmp-XXXXXX";
  std::string temp_name = (directory / hidden_name).string();
  const int fd = mkostemp(temp_name.data(), O_CLOEXEC);
  if (fd < 0) return false;

  bool ok = WriteAll(fd, bytes) && fchmod(fd, NewFileMode()) == 0 && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp_name.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temp_name.c_str());
  return ok;
}

std::size_t AvailableMemoryBytes() {
  std::size_t available = SIZE_MAX;
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    unsigned long long kib = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kib) == 1) {
      available = static_cast<std::size_t>(kib) * 1024;
      break;
    }
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < available) {
    available = static_cast<std::size_t>(limit.rlim_cur);
  }
  return available;
}

}  // namespace demosaic
