// The images of a run: command-line paths expanded into files (one rule for
// demosaic-bench and the Python evaluation, so both take the same images in
// the same order), and the names their outputs are saved under.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace demosaic {

struct InputFile {
  std::filesystem::path path;
  std::string name;   // the file name, as shown in the table and the CSV file
  std::string error;  // non-empty when the path could not even be listed
};

// A file argument is taken as it is (whatever its name, so that a bad one is
// reported rather than ignored). A directory contributes its regular files
// with an image extension OpenCV decodes, in byte order of their names, not
// descending into subdirectories and leaving out hidden files; a symbolic
// link with an image name that loops or leads to nothing comes with its
// error, to be reported and skipped. With `raw_files`, a directory's camera
// raw files (HasRawExtension) are taken too.
std::vector<InputFile> ExpandPaths(const std::vector<std::string>& paths, bool raw_files = false);

// True for the extensions ExpandPaths takes from a directory (any case).
bool HasImageExtension(const std::filesystem::path& path);

// The NAME of each file's saved outputs: its stem, or, where an earlier file
// already claimed that stem, its whole file name, then with "-2", "-3", ...
// appended, so that no run overwrites its own outputs. A NAME that would
// leave no room for the longest of the outputs' suffixes
// (`longest_suffix` bytes, such as ".edge-aware.err.png") within a file
// name of kNameMax bytes is cut to fit and ends in "~" and 16 hexadecimal
// digits of a hash of the whole name: the same name every run, and distinct
// for distinct names.
inline constexpr std::size_t kNameMax = 255;
std::vector<std::string> SaveNames(const std::vector<InputFile>& files,
                                   std::size_t longest_suffix = 0);

}  // namespace demosaic
