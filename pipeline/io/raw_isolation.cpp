// LibRaw in a child process. LibRaw has crashed on crafted files (a forged
// TIFF directory sends it past its buffers); a crash there must not take the
// bench, a Dask worker or an interpreter with it. The child unpacks the file
// and writes what it found down a pipe, field by field; the parent reads it
// back, and a child that dies before the end is a file LibRaw failed on.
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
    std::memcpy(values.data(), bytes.data() + at, values.size() * sizeof(T));
    at += values.size() * sizeof(T);
    return values;
  }
};

std::vector<unsigned char> Serialise(const Expected<RawMosaic>& result) {
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
  out.PutAll(raw.samples);
  return out.bytes;
}

Expected<RawMosaic> Deserialise(std::span<const unsigned char> bytes) {
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
  raw.samples = in.GetAll<std::uint16_t>();
  // What arrives is what the child's own checks passed; only its
  // completeness can be at fault.
  if (!in.complete || in.at != bytes.size() || raw.width < 1 || raw.height < 1 ||
      raw.samples.size() != static_cast<std::size_t>(raw.width) * raw.height ||
      raw.black_rows < 1 || raw.black_columns < 1 ||
      raw.black_levels.size() != static_cast<std::size_t>(raw.black_rows) * raw.black_columns) {
    return failed;
  }
  return raw;
}

// The child: LibRaw's crash is to end it by its signal, not to run the
// parent's handlers (an interpreter's, a sanitizer's, a fuzzer's).
[[noreturn]] void RunChild(std::span<const unsigned char> bytes, const RunMemory& memory, int out) {
  for (const int fatal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP}) {
    signal(fatal, SIG_DFL);
  }
  const std::vector<unsigned char> result = Serialise(UnpackRawFileHere(bytes, memory));
  _exit(WriteAll(out, result) ? 0 : 1);
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
  std::vector<unsigned char> received;
  unsigned char chunk[1 << 16];
  while (true) {
    const ssize_t n = read(ends[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    received.insert(received.end(), chunk, chunk + n);
  }
  close(ends[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // A caller that ignores SIGCHLD has its children reaped for it (ECHILD):
  // the result then stands on its completeness alone.
  return Deserialise(received);
}

}  // namespace demosaic
