// Other methods' reconstructions, made by any program: one image per
// reference in a directory of their own, found by the reference's name
// without its extension.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "io/status.h"

namespace demosaic {

// A compared method: its name in the table and where its images are.
struct ComparedMethod {
  std::string name;
  std::filesystem::path directory;
};

// The image files of a compared method's directory, by name without the
// extension: regular files only (links followed), hidden files left out.
using ComparedFiles = std::map<std::string, std::vector<std::filesystem::path>>;

ComparedFiles ListComparedFiles(const std::filesystem::path& directory);

// The one file for the reference of stem `stem`; kUnreadable with the detail
// "no file named STEM.*" or "more than one file for the image: A, B".
Expected<std::filesystem::path> FindComparedFile(const ComparedFiles& files,
                                                 const std::string& stem);

}  // namespace demosaic
