// Image files: reading a reference's bytes, decoding them as 8-bit colour,
// and writing a file so that it is never left half-written.
#pragma once

#include <cstddef>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>
#include <vector>

namespace demosaic {

enum class LoadStatus { kLoaded, kUnreadable, kOutOfMemory };

// Reads the whole file at `path` (a regular file or a pipe; not a directory
// or a device) into `bytes`. More than `limit` bytes is kOutOfMemory.
LoadStatus ReadFileContents(const std::string& path, std::size_t limit,
                            std::vector<unsigned char>& bytes);

// Decodes any image the library reads as 8-bit B, G, R with contiguous rows:
// 16-bit samples scaled, grey expanded, alpha dropped. A JPEG cut short is
// unreadable, not grey-filled. Never prints; the codecs behind the library
// may write warnings to file descriptor 2, which front ends redirect.
LoadStatus DecodeColorImage(std::span<const unsigned char> file, cv::Mat& image);

// True when `output` names the existing file `reference` (same path, another
// path, a symbolic link or a hard link to it).
bool IsSameFile(const std::filesystem::path& reference, const std::filesystem::path& output);

// Encodes `image` in the format of the path's extension into `bytes`. False
// when there is no encoder for the extension or encoding fails.
bool EncodeImage(const std::string& path, const cv::Mat& image, std::vector<unsigned char>& bytes);

// Replaces the file at `path` with `bytes` in one step: the bytes go to an
// unnamed file beside it, are flushed to disk, and only then get a name and
// are renamed over the target. On any failure nothing is left behind and an
// existing target is unchanged. Returns false on failure.
bool WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes);

// EncodeImage, then WriteFileAtomically.
bool SaveImageAtomically(const std::string& path, const cv::Mat& image);

}  // namespace demosaic
