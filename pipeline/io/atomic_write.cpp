// Writing an output file the way cp would, but in one step: a regular file
// is replaced whole or not at all, keeping its permissions; anything else is
// written in place and never replaced.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "io/descriptors.h"
#include "io/image_files.h"

namespace demosaic {
namespace {

namespace fs = std::filesystem;

// The longest file name the directory takes; 255 where it does not say.
std::size_t NameMax(const fs::path& directory) {
  const long name_max = pathconf(directory.c_str(), _PC_NAME_MAX);
  return name_max > 0 ? static_cast<std::size_t>(name_max) : 255;
}

// ".NAME" then `suffix`, with NAME cut short where the whole would exceed
// the directory's file-name limit: a hidden temporary name always fits,
// however long the output's own name.
std::string HiddenName(const fs::path& directory, const std::string& name,
                       const std::string& suffix) {
  const std::size_t room = NameMax(directory) - std::min(NameMax(directory), 1 + suffix.size());
  std::string hidden = ".";
  hidden.append(name, 0, room);
  return hidden + suffix;
}

bool IsAlphanumeric(std::string_view text) {
  for (const char ch : text) {
    if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'))) {
      return false;
    }
  }
  return true;
}

bool IsDecimal(std::string_view text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

// True for what follows a temporary's tag when it names a process that no
// longer runs: "PID-N" (N the attempt) or "PID-XXXXXX" (mkostemp's six
// characters), then `extension` for an encoder's file. A process of another
// user that still runs makes kill fail with EPERM, not ESRCH.
bool NamesEndedProcess(std::string_view rest, std::string_view extension) {
  if (rest.size() < extension.size() || !rest.ends_with(extension)) return false;
  rest.remove_suffix(extension.size());
  const std::size_t dash = rest.find('-');
  if (dash == std::string_view::npos || !IsDecimal(rest.substr(0, dash))) return false;
  const std::string_view unique = rest.substr(dash + 1);
  const bool attempt = extension.empty() && IsDecimal(unique) && unique.size() <= 2;
  if (!attempt && !(unique.size() == 6 && IsAlphanumeric(unique))) return false;
  pid_t pid = 0;
  for (const char digit : rest.substr(0, dash)) pid = pid * 10 + (digit - '0');
  return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

// True when `entry` is ".NAME" + tag + REST, one of the hidden names this
// writer or the encoders give `name`'s temporaries, NAME cut short only
// where the whole fills the directory's longest name; REST is stored.
bool IsTemporaryOf(std::string_view entry, std::string_view name, std::string_view tag,
                   std::size_t name_max, std::string_view& rest) {
  const std::size_t at = entry.rfind(tag);
  if (entry.empty() || entry[0] != '.' || at == std::string_view::npos || at == 0) return false;
  const std::string_view stem = entry.substr(1, at - 1);
  const bool whole = stem == name;
  const bool cut = entry.size() == name_max && stem.size() < name.size() && name.starts_with(stem);
  rest = entry.substr(at + tag.size());
  return whole || cut;
}

}  // namespace

void RemoveStaleTemporaries(const fs::path& path) {
  fs::path directory = path.parent_path();
  if (directory.empty()) directory = ".";
  const std::string name = path.filename().string();
  const std::string stem = path.stem().string();
  const std::string extension = path.extension().string();
  const std::size_t name_max = NameMax(directory);
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) return;
  const int directory_fd = dirfd(listing);
  while (const dirent* entry = readdir(listing)) {
    const std::string_view entry_name = entry->d_name;
    std::string_view rest;
    const bool stale =
        (IsTemporaryOf(entry_name, name, ".tmp-", name_max, rest) && NamesEndedProcess(rest, "")) ||
        (!extension.empty() && IsTemporaryOf(entry_name, stem, ".enc-", name_max, rest) &&
         NamesEndedProcess(rest, extension));
    if (!stale) continue;
    struct stat info {};
    if (fstatat(directory_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
      unlinkat(directory_fd, entry->d_name, 0);
    }
  }
  closedir(listing);
}

namespace {

// Gives the unnamed file open at `fd` a fresh hidden name in `directory`,
// stored in `temp_path`. Names taken by concurrent runs are skipped.
bool LinkUnnamedFile(int fd, const fs::path& directory, const std::string& name,
                     std::string& temp_path) {
  const std::string fd_path = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    temp_path = (directory / HiddenName(directory, name, suffix)).string();
    if (linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, temp_path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST) break;
  }
  temp_path.clear();
  return false;
}

// Makes the rename itself durable; the file's bytes already are.
void SyncDirectory(const fs::path& directory) {
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
    if (std::sscanf(line.c_str(), "Umask: %o", &mask) == 1) {
      return 0666 & ~static_cast<mode_t>(mask);
    }
  }
  return 0644;  // the usual default where the kernel does not say
}

// Standard output's own file: a path naming it (/dev/stdout, /dev/fd/1, or
// the file it was redirected to) is written through it, after what the
// program already printed there, rather than reopened from its start.
bool IsStandardOutput(const struct stat& info) {
  struct stat out {};
  return fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == info.st_dev && out.st_ino == info.st_ino;
}

bool WriteToStandardOutput(std::span<const unsigned char> bytes) {
  std::fflush(stdout);
  return WriteAll(STDOUT_FILENO, bytes);
}

// A device, FIFO or other special file is written like cp writes it: opened
// as it is, never created, truncated or replaced.
bool WriteInPlace(const fs::path& path, std::span<const unsigned char> bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, bytes);
  return (close(fd) == 0) && written;
}

// Replaces (or creates) the regular file `target` with `bytes` through a
// temporary file in its directory. `existing` describes the file replaced.
bool ReplaceRegularFile(const fs::path& target, std::span<const unsigned char> bytes,
                        const std::optional<struct stat>& existing) {
  fs::path directory = target.parent_path();
  if (directory.empty()) directory = ".";
  const std::string name = target.filename().string();

  // An unnamed file in the target's directory: if the process dies while
  // writing (killed, out of room), nothing is left behind. Once its bytes
  // are on disk it gets the target's own name where there is no such file
  // yet; only a file that replaces another needs a temporary name, just
  // before the rename.
  int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  const bool unnamed = fd >= 0;
  std::string temp_path;
  if (!unnamed) {
    // File systems without unnamed files get a named one from the start.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    const std::string suffix = ".tmp-" + std::to_string(getpid()) + "-XXXXXX";
    temp_path = (directory / HiddenName(directory, name, suffix)).string();
    fd = mkostemp(temp_path.data(), O_CLOEXEC);
    if (fd < 0) return false;
  }
  // A run killed between naming its temporary and the rename left one
  // behind; the next write of the same output removes it.
  if (existing || !unnamed) RemoveStaleTemporaries(target);
  // The replacement keeps the replaced file's permission bits (and owner and
  // group, where the user may set them), as writing into it would have;
  // a new file gets what the umask allows.
  bool ok = true;
  if (existing) {
    if (fchown(fd, existing->st_uid, existing->st_gid) != 0) {
      [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), existing->st_gid);
    }
    ok = fchmod(fd, existing->st_mode & 0777) == 0;
  } else if (!unnamed) {
    ok = fchmod(fd, NewFileMode()) == 0;
  }
  ok = ok && WriteAll(fd, bytes) && fsync(fd) == 0;
  bool linked = false;  // named the target itself, nothing to rename
  if (ok && unnamed && !existing) {
    const std::string fd_path = "/proc/self/fd/" + std::to_string(fd);
    linked = linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
    // A file that appeared meanwhile is replaced, as an existing one is.
    ok = linked || errno == EEXIST;
  }
  if (ok && unnamed && !linked) ok = LinkUnnamedFile(fd, directory, name, temp_path);
  ok = (close(fd) == 0) && ok;
  ok = ok && (linked || rename(temp_path.c_str(), target.c_str()) == 0);
  if (!ok && !temp_path.empty()) unlink(temp_path.c_str());
  if (ok) SyncDirectory(directory);
  return ok;
}

// The file a chain of symbolic links ends at, which need not exist yet (a
// shell's redirection creates it too); nothing for a chain that loops.
// Through a link the file it points to is replaced, not the link itself.
std::optional<fs::path> FollowLinks(fs::path path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(path, error)) return path;
    const fs::path link = fs::read_symlink(path, error);
    if (error) return std::nullopt;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return std::nullopt;
}

bool WriteFile(const fs::path& path, std::span<const unsigned char> bytes) {
  // What the path names, through any symbolic links (the kernel follows
  // /proc's links to pipes and terminals too).
  struct stat info {};
  std::optional<struct stat> existing;
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return false;
    if (IsStandardOutput(info)) return WriteToStandardOutput(bytes);
    if (!S_ISREG(info.st_mode)) return WriteInPlace(path, bytes);
    // A file the user could not write into is not replaced either.
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
    existing = info;
  } else if (errno != ENOENT) {
    return false;  // a link loop, a component that is not a directory, no access
  }
  const std::optional<fs::path> target = FollowLinks(path);
  return target && ReplaceRegularFile(*target, bytes, existing);
}

}  // namespace

Status WriteFileAtomically(const fs::path& path, std::span<const unsigned char> bytes) {
  errno = 0;
  if (WriteFile(path, bytes)) return {};
  // Every open is the last call before WriteFile gives up on it.
  if (OutOfDescriptors(errno)) return Error{ErrorKind::kTooManyFiles, path.string()};
  return Error{ErrorKind::kUnwritable, path.string()};
}

}  // namespace demosaic
