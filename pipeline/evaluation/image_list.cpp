// Expansion of the command-line paths and naming of the saved outputs.
#include "evaluation/image_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>
#include <system_error>

#include "io/raw_file.h"

namespace demosaic {

bool HasImageExtension(const std::filesystem::path& path) {
  // The formats OpenCV 4.6 reads on Debian (imgcodecs' decoders).
  static constexpr std::array<std::string_view, 20> kExtensions = {
      ".png", ".jpg", ".jpeg", ".jpe", ".tif",  ".tiff", ".bmp", ".dib", ".ppm", ".pgm",
      ".pbm", ".pnm", ".pxm",  ".pfm", ".webp", ".jp2",  ".exr", ".hdr", ".pic", ".ras"};
  std::string extension = path.extension().string();
  for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

std::vector<InputFile> ExpandPaths(const std::vector<std::string>& paths, bool raw_files) {
  std::vector<InputFile> files;
  for (const std::string& argument : paths) {
    const std::filesystem::path path(argument);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
      const std::string name = path.filename().string();
      files.push_back({path, name.empty() ? argument : name, ""});
      continue;
    }
    std::vector<InputFile> entries;
    std::filesystem::directory_iterator it(path, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
      const std::filesystem::path& entry = it->path();
      std::error_code type_error;
      const bool taken = HasImageExtension(entry) || (raw_files && HasRawExtension(entry.string()));
      if (entry.filename().string().starts_with('.') || !taken) continue;
      if (std::filesystem::is_regular_file(entry, type_error)) {
        entries.push_back({entry, entry.filename().string(), ""});
      } else if (std::filesystem::is_symlink(entry, type_error)) {
        // An image name whose link leads nowhere is reported, not silently
        // left out of the set.
        if (!std::filesystem::exists(std::filesystem::status(entry, type_error))) {
          entries.push_back({entry, entry.filename().string(),
                             type_error == std::errc::too_many_symbolic_link_levels
                                 ? "symbolic link loop"
                                 : "symbolic link to a missing file"});
        }
      }
    }
    if (error) {
      files.push_back({path, argument, "cannot list directory: " + error.message()});
      continue;
    }
    std::sort(entries.begin(), entries.end(),
              [](const InputFile& a, const InputFile& b) { return a.name < b.name; });
    files.insert(files.end(), entries.begin(), entries.end());
  }
  return files;
}

namespace {

// 64-bit FNV-1a: a fixed, portable hash, so that a shortened name is the
// same on every machine.
std::uint64_t NameHash(const std::string& name) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const unsigned char ch : name) {
    hash ^= ch;
    hash *= 0x100000001b3u;
  }
  return hash;
}

// `name` cut so that it and `longest_suffix` bytes fit in kNameMax, with
// the hash of the whole name after the cut.
std::string FittedName(const std::string& name, std::size_t longest_suffix) {
  if (name.size() + longest_suffix <= kNameMax) return name;
  char hash[24];
  std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(NameHash(name)));
  const std::size_t tail = std::strlen(hash);
  const std::size_t room = kNameMax - std::min(kNameMax, longest_suffix + tail);
  return name.substr(0, room) + hash;
}

}  // namespace

std::vector<std::string> SaveNames(const std::vector<InputFile>& files,
                                   std::size_t longest_suffix) {
  std::set<std::string> taken;
  std::vector<std::string> names;
  for (const InputFile& file : files) {
    std::string name = file.path.stem().string();
    if (taken.contains(name)) name = file.name;
    const std::string base = name;
    for (int suffix = 2; taken.contains(FittedName(name, longest_suffix)); ++suffix) {
      name = base + "-" + std::to_string(suffix);
    }
    name = FittedName(name, longest_suffix);
    taken.insert(name);
    names.push_back(name);
  }
  return names;
}

}  // namespace demosaic
