// Expansion of the command-line paths and naming of the saved outputs.
#include "pipeline/image_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <string_view>
#include <system_error>

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

std::vector<InputFile> ExpandPaths(const std::vector<std::string>& paths) {
  std::vector<InputFile> files;
  for (const std::string& argument : paths) {
    const std::filesystem::path path(argument);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
      const std::string name = path.filename().string();
      files.push_back({path, name.empty() ? argument : name, ""});
      continue;
    }
    std::vector<std::filesystem::path> entries;
    std::filesystem::directory_iterator it(path, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
      const std::filesystem::path& entry = it->path();
      std::error_code type_error;
      if (entry.filename().string().starts_with('.')) continue;
      if (!std::filesystem::is_regular_file(entry, type_error)) continue;
      if (HasImageExtension(entry)) entries.push_back(entry);
    }
    if (error) {
      files.push_back({path, argument, "cannot list directory: " + error.message()});
      continue;
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::filesystem::path& a, const std::filesystem::path& b) {
                return a.filename().string() < b.filename().string();
              });
    for (const std::filesystem::path& entry : entries) {
      files.push_back({entry, entry.filename().string(), ""});
    }
  }
  return files;
}

std::vector<std::string> SaveNames(const std::vector<InputFile>& files) {
  std::set<std::string> taken;
  std::vector<std::string> names;
  for (const InputFile& file : files) {
    std::string name = file.path.stem().string();
    if (taken.contains(name)) name = file.name;
    const std::string base = name;
    for (int suffix = 2; taken.contains(name); ++suffix) name = base + "-" + std::to_string(suffix);
    taken.insert(name);
    names.push_back(name);
  }
  return names;
}

}  // namespace demosaic
