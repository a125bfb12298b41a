// LibRaw in a child process. LibRaw has crashed on crafted files (a forged
// TIFF directory sends it past its buffers); a crash there must not take the
// bench, a Dask worker or an interpreter with it. The child unpacks the file
// and writes what it found down a pipe, the fields and then the samples; the
// parent reads them back, and a child that dies before the end is a file
// LibRaw failed on.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "io/descriptors.h"
#include "io/raw_file.h"

namespace demosaic {
namespace {

// The result as bytes: a flag, then the error's kind and detail, or every
// field of the mosaic in order.
struct Writer {
  std::vector<unsigned char> bytes;
  template <class T>
  void Put(const T& value) {
    const auto* from = reinterpret_cast<const unsigned char*>(&value);
    bytes.insert(bytes.end(), from, from + sizeof(T));
  }
  template <class T>
  void PutAll(const std::vector<T>& values) {
    Put(static_cast<std::uint64_t>(values.size()));
    const auto* from = reinterpret_cast<const unsigned char*>(values.data());
    bytes.insert(bytes.end(), from, from + values.size() * sizeof(T));
  }
};

struct Reader {
  std::span<const unsigned char> bytes;
  std::size_t at = 0;
  bool complete = true;
  template <class T>
  T Get() {
    T value{};
    if (bytes.size() - at < sizeof(T)) {
      complete = false;
      return value;
    }
    std::memcpy(&value, bytes.data() + at, sizeof(T));
    at += sizeof(T);
    return value;
  }
  template <class T>
  std::vector<T> GetAll() {
    const auto count = Get<std::uint64_t>();
    if (!complete || count > (bytes.size() - at) / sizeof(T)) {
      complete = false;
      return {};
    }
    std::vector<T> values(static_cast<std::size_t>(count));
    if (values.empty()) return values;  // no bytes to copy, and no buffer to copy them to
    std::memcpy(values.data(), bytes.data() + at, values.size() * sizeof(T));
    at += values.size() * sizeof(T);
    return values;
  }
};

// Everything but the samples, which follow on their own (see RunChild).
std::vector<unsigned char> Header(const Expected<RawMosaic>& result) {
  Writer out;
  out.Put(static_cast<std::uint8_t>(result.ok()));
  if (!result.ok()) {
    out.Put(static_cast<std::int32_t>(result.error().kind));
    out.PutAll(std::vector<char>(result.error().detail.begin(), result.error().detail.end()));
    return out.bytes;
  }
  const RawMosaic& raw = result.value();
  out.Put(raw.width);
  out.Put(raw.height);
  out.Put(static_cast<std::int32_t>(raw.pattern));
  out.Put(raw.black_rows);
  out.Put(raw.black_columns);
  out.PutAll(raw.black_levels);
  out.Put(raw.white_level);
  out.Put(raw.as_shot_multipliers);
  out.Put(raw.camera_to_srgb);
  return out.bytes;
}

// The result the header describes (samples still to come), or why it
// cannot be one.
Expected<RawMosaic> FromHeader(std::span<const unsigned char> bytes) {
  const Error failed{ErrorKind::kUnreadable, "is corrupt: LibRaw failed on it"};
  Reader in{bytes};
  const bool ok = in.Get<std::uint8_t>() != 0;
  if (!ok) {
    const auto kind = static_cast<ErrorKind>(in.Get<std::int32_t>());
    const std::vector<char> detail = in.GetAll<char>();
    if (!in.complete || in.at != bytes.size()) return failed;
    return Error{kind, std::string(detail.begin(), detail.end())};
  }
  RawMosaic raw;
  raw.width = in.Get<std::int32_t>();
  raw.height = in.Get<std::int32_t>();
  raw.pattern = static_cast<BayerPattern>(in.Get<std::int32_t>() & 3);
  raw.black_rows = in.Get<std::int32_t>();
  raw.black_columns = in.Get<std::int32_t>();
  raw.black_levels = in.GetAll<std::int32_t>();
  raw.white_level = in.Get<std::int32_t>();
  raw.as_shot_multipliers = in.Get<std::array<double, 3>>();
  raw.camera_to_srgb = in.Get<std::array<std::array<double, 3>, 3>>();
  // What arrives is what the child's own checks passed; only its
  // completeness can be at fault.
  if (!in.complete || in.at != bytes.size() || raw.width < 1 || raw.height < 1 ||
      raw.black_rows < 1 || raw.black_columns < 1 ||
      raw.black_levels.size() != static_cast<std::size_t>(raw.black_rows) * raw.black_columns) {
    return failed;
  }
  return raw;
}

// Reads exactly `bytes.size()` bytes; false at an early end or an error.
bool ReadExactly(int fd, std::span<unsigned char> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

template <class T>
bool ReadValue(int fd, T& value) {
  return ReadExactly(fd,
                     std::span<unsigned char>(reinterpret_cast<unsigned char*>(&value), sizeof(T)));
}

// The child's result, read from `fd`: the header's length and bytes, then,
// for a mosaic, the sample count and the samples straight into their
// vector (no second copy of the visible area is held here).
Expected<RawMosaic> ReadResult(int fd) {
  const Error failed{ErrorKind::kUnreadable, "is corrupt: LibRaw failed on it"};
  constexpr std::uint64_t kLongestHeader = std::uint64_t{1} << 20;
  std::uint64_t length = 0;
  if (!ReadValue(fd, length) || length > kLongestHeader) return failed;
  std::vector<unsigned char> header(static_cast<std::size_t>(length));
  if (!ReadExactly(fd, header)) return failed;
  Expected<RawMosaic> result = FromHeader(header);
  if (!result.ok()) return result;
  RawMosaic& raw = result.value();
  std::uint64_t count = 0;
  if (!ReadValue(fd, count) ||
      count != static_cast<std::uint64_t>(raw.width) * static_cast<std::uint64_t>(raw.height)) {
    return failed;
  }
  try {
    raw.samples.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return Error{ErrorKind::kOutOfMemory, ""};
  }
  const std::span<unsigned char> samples(reinterpret_cast<unsigned char*>(raw.samples.data()),
                                         raw.samples.size() * sizeof(std::uint16_t));
  if (!ReadExactly(fd, samples)) return failed;
  unsigned char extra = 0;
  if (ReadExactly(fd, std::span<unsigned char>(&extra, 1))) return failed;  // more than was said
  return result;
}

// The child: LibRaw's crash is to end it by its signal, not to run the
// parent's handlers (an interpreter's, a sanitizer's, a fuzzer's).
[[noreturn]] void RunChild(std::span<const unsigned char> bytes, const RunMemory& memory, int out) {
  for (const int fatal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP}) {
    signal(fatal, SIG_DFL);
  }
  const Expected<RawMosaic> result = UnpackRawFileHere(bytes, memory);
  const std::vector<unsigned char> header = Header(result);
  const std::uint64_t length = header.size();
  bool written =
      WriteAll(out, std::span(reinterpret_cast<const unsigned char*>(&length), sizeof length)) &&
      WriteAll(out, header);
  if (result.ok()) {
    const std::vector<std::uint16_t>& samples = result.value().samples;
    const std::uint64_t count = samples.size();
    written =
        written &&
        WriteAll(out, std::span(reinterpret_cast<const unsigned char*>(&count), sizeof count)) &&
        WriteAll(out, std::span(reinterpret_cast<const unsigned char*>(samples.data()),
                                samples.size() * sizeof(std::uint16_t)));
  }
  _exit(written ? 0 : 1);
}

}  // namespace

Expected<RawMosaic> UnpackRawFileApart(std::span<const unsigned char> bytes,
                                       const RunMemory& memory) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    if (OutOfDescriptors(errno)) return Error{ErrorKind::kTooManyFiles, ""};
    return Error{ErrorKind::kOther, std::string("cannot make a pipe: ") + std::strerror(errno)};
  }
  const pid_t child = fork();
  if (child < 0) {
    close(ends[0]);
    close(ends[1]);
    return Error{ErrorKind::kOutOfMemory, ""};  // fork fails for want of memory or processes
  }
  if (child == 0) {
    close(ends[0]);
    RunChild(bytes, memory, ends[1]);
  }
  close(ends[1]);
  Expected<RawMosaic> result = ReadResult(ends[0]);
  close(ends[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // A caller that ignores SIGCHLD has its children reaped for it (ECHILD):
  // the result then stands on its completeness alone.
  return result;
}

}  // namespace demosaic
