// Reading the reference and writing the reconstruction without ever leaving a
// half-written file or touching the reference.
#include "io/image_files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <new>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <vector>

#include "io/image_header.h"

namespace demosaic {
namespace {

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

// Gives the unnamed file open at `fd` a fresh name starting with `prefix`,
// stored in `name`. Names taken by concurrent runs are skipped.
bool LinkUnnamedFile(int fd, const std::string& prefix, std::string& name) {
  const std::string fd_path = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = prefix + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST) break;
  }
  name.clear();
  return false;
}

// Makes the rename itself durable; the file's bytes already are.
void SyncDirectory(const std::filesystem::path& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// The permissions a newly created file would get: 0666 less the umask. The
// umask is read from /proc rather than set and restored, which another
// thread could observe.
mode_t NewFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    unsigned mask = 0;
    if (std::sscanf(line.c_str(), "Umask: %o", &mask) == 1)
      return 0666 & ~static_cast<mode_t>(mask);
  }
  return 0644;  // the usual default where the kernel does not say
}

}  // namespace

LoadStatus ReadFileContents(const std::string& path, std::size_t limit,
                            std::vector<unsigned char>& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LoadStatus::kUnreadable;
  struct stat info {};
  // Regular files and pipes only: a directory has no bytes, and a device
  // such as /dev/zero never ends.
  if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))) {
    close(fd);
    return LoadStatus::kUnreadable;
  }
  const std::size_t available = limit;
  LoadStatus status = LoadStatus::kLoaded;
  bytes.clear();
  try {
    constexpr std::size_t kChunk = 1 << 16;
    if (S_ISREG(info.st_mode)) {
      if (static_cast<std::uint64_t>(info.st_size) > available) {
        close(fd);
        return LoadStatus::kOutOfMemory;
      }
      bytes.reserve(static_cast<std::size_t>(info.st_size) + kChunk);
    }
    while (true) {
      if (bytes.size() > available - std::min(available, kChunk)) {
        status = LoadStatus::kOutOfMemory;
        break;
      }
      const std::size_t done = bytes.size();
      bytes.resize(done + kChunk);
      const ssize_t n = read(fd, bytes.data() + done, kChunk);
      if (n < 0 && errno == EINTR) {
        bytes.resize(done);
        continue;
      }
      bytes.resize(done + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0) status = LoadStatus::kUnreadable;
      if (n <= 0) break;
    }
  } catch (const std::bad_alloc&) {
    status = LoadStatus::kOutOfMemory;
  }
  close(fd);
  return status;
}

LoadStatus DecodeColorImage(std::span<const unsigned char> file, cv::Mat& image) {
  if (file.empty() || IsTruncatedJpeg(file)) return LoadStatus::kUnreadable;
  try {
    // The library only reads through this header; it needs a non-const one.
    const cv::Mat encoded(1, static_cast<int>(std::min<std::size_t>(file.size(), INT32_MAX)),
                          CV_8UC1, const_cast<unsigned char*>(file.data()));
    image = cv::imdecode(encoded, cv::IMREAD_COLOR);
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

bool EncodeImage(const std::string& path, const cv::Mat& image, std::vector<unsigned char>& bytes) {
  try {
    const std::string extension = std::filesystem::path(path).extension().string();
    return !extension.empty() && cv::imencode(extension, image, bytes);
  } catch (const std::exception&) {
    return false;  // no encoder for the extension, or no memory for the bytes
  }
}

bool SaveImageAtomically(const std::string& path, const cv::Mat& image) {
  std::vector<unsigned char> encoded;
  return EncodeImage(path, image, encoded) && WriteFileAtomically(path, encoded);
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

  // An unnamed file in the target's directory: if the process dies while
  // writing (killed, out of room), nothing is left behind. It only gets a
  // name once its bytes are on disk, just before the rename.
  int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  const bool unnamed = fd >= 0;
  // A hidden name in the same directory, so that the rename stays on one
  // file system and a directory listing does not show work in progress.
  std::string hidden_name = ".";
  hidden_name += target.filename().string();
  const std::string hidden_prefix = (directory / hidden_name).string();
  std::string temp_name;
  if (!unnamed) {
    // File systems without unnamed files get a named one from the start.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    temp_name = hidden_prefix + ".tmp-XXXXXX";
    fd = mkostemp(temp_name.data(), O_CLOEXEC);
    if (fd < 0) return false;
  }

  bool ok = WriteAll(fd, bytes) && (unnamed || fchmod(fd, NewFileMode()) == 0) && fsync(fd) == 0;
  if (ok && unnamed) ok = LinkUnnamedFile(fd, hidden_prefix, temp_name);
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp_name.c_str(), target.c_str()) == 0;
  if (!ok && !temp_name.empty()) unlink(temp_name.c_str());
  if (ok) SyncDirectory(directory);
  return ok;
}

}  // namespace demosaic
