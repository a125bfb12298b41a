// File handling of the evaluation tool: reading the reference, writing the
// reconstruction safely, and the checks made before either.
#pragma once

#include <cstddef>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>
#include <vector>

namespace demosaic {

enum class LoadStatus { kLoaded, kUnreadable, kOutOfMemory };

// Reads the whole file at `path` (a regular file or a pipe, not a
// directory) into `bytes`.
LoadStatus ReadFileContents(const std::string& path, std::vector<unsigned char>& bytes);

// Decodes any image the library reads as 8-bit B, G, R with contiguous rows.
// A JPEG cut short is unreadable, not grey-filled. The library's own messages
// are kept off the console.
LoadStatus DecodeColorImage(std::span<const unsigned char> file, cv::Mat& image);

// ReadFileContents, then DecodeColorImage.
LoadStatus LoadColorImage(const std::string& path, cv::Mat& image);

// True when `output` names the existing file `reference` (same path, another
// path, a symbolic link or a hard link to it).
bool IsSameFile(const std::filesystem::path& reference, const std::filesystem::path& output);

// Encodes `image` in the format of the path's extension and replaces the file
// at `path` in one step: the bytes go to a temporary file beside it, are
// flushed to disk and renamed over the target. On any failure nothing is left
// behind and an existing target is unchanged. Returns false on failure.
bool SaveImageAtomically(const std::string& path, const cv::Mat& image);

// Writes `bytes` to `path` through a synced temporary file and a rename.
bool WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes);

// Memory the system can still give this process, in bytes: MemAvailable,
// bounded by what the address-space and data limits leave; SIZE_MAX when
// none of them is known.
std::size_t AvailableMemoryBytes();

// Caps what AvailableMemoryBytes reports from now on, so that a program
// embedding the run (the fuzz target) sees the refusals of a smaller machine.
void SetMemoryCeiling(std::size_t bytes);

}  // namespace demosaic
