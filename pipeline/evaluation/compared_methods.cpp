// Finding each reference's reconstruction in a compared method's directory.
#include "evaluation/compared_methods.h"

#include <algorithm>
#include <system_error>

#include "evaluation/image_list.h"

namespace demosaic {

ComparedFiles ListComparedFiles(const std::filesystem::path& directory) {
  ComparedFiles files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::filesystem::path& path = it->path();
    std::error_code type_error;
    if (path.filename().string().starts_with('.') || !HasImageExtension(path)) continue;
    // Regular files only, as among the inputs: a FIFO with no writer would
    // block the run for good, a device never end.
    if (!std::filesystem::is_regular_file(path, type_error)) continue;
    files[path.stem().string()].push_back(path);
  }
  for (auto& [stem, paths] : files) std::sort(paths.begin(), paths.end());
  return files;
}

Expected<std::filesystem::path> FindComparedFile(const ComparedFiles& files,
                                                 const std::string& stem) {
  const auto found = files.find(stem);
  if (found == files.end()) return Error{ErrorKind::kUnreadable, "no file named " + stem + ".*"};
  if (found->second.size() > 1) {
    std::string names;
    for (const auto& path : found->second) names += (names.empty() ? "" : ", ") + path.string();
    return Error{ErrorKind::kUnreadable, "more than one file for the image: " + names};
  }
  return found->second.front();
}

}  // namespace demosaic
