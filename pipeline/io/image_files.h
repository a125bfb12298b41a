// Image files: reading a reference's bytes, decoding them as 8-bit colour
// without ever copying them into a shared directory, and writing a file so
// that it is never left half-written and nothing that is not a plain file is
// ever replaced.
#pragma once

#include <cstddef>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>
#include <vector>

#include "io/status.h"

namespace demosaic {

// A reference as read for decoding: its bytes, for the checks made before
// decoding, and a descriptor through which the decoder reads it again: the
// file itself when it is a regular file, else an unnamed copy in memory.
// Some of the image library's decoders (Radiance HDR, OpenEXR, PFM, Sun
// raster) only read named files and, given bytes, first copy them into the
// shared temporary directory, where the copy outlives a killed run; reading
// through the descriptor makes no copy at all. Owns its descriptor.
struct ImageSource {
  std::vector<unsigned char> bytes;
  int fd = -1;
  std::string path;  // the regular file's own name, "" for a copy

  ImageSource() = default;
  ImageSource(ImageSource&& other) noexcept;
  ImageSource& operator=(ImageSource&& other) noexcept;
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;
  ~ImageSource();
};

// Opens the file at `path` (a regular file or a pipe; not a directory or a
// device: kUnreadable) and reads it whole. More than `limit` bytes is
// kOutOfMemory.
Expected<ImageSource> OpenImageSource(const std::string& path, std::size_t limit);

// A source of bytes already in memory: an unnamed in-memory file holding a
// copy of them. kOutOfMemory when the copy cannot be made.
Expected<ImageSource> ImageSourceOfBytes(std::span<const unsigned char> file);

// Decodes `source` as 8-bit B, G, R with contiguous rows: 16-bit samples
// scaled as the library does (the high byte), floating-point samples (OpenEXR,
// PFM, Radiance HDR) from 0..1 to 0..255 rounded and clamped, grey expanded,
// alpha dropped. A JPEG cut short or of more than kMaxJpegScans scans is
// kUnreadable; memory that runs out while decoding is kOutOfMemory.
// Releases `source.bytes` before decoding. Never prints; the codecs behind
// the library may write warnings to file descriptor 2, which front ends
// redirect.
Expected<cv::Mat> DecodeColorImage(ImageSource& source);

// The same for bytes in memory, through an unnamed in-memory file.
Expected<cv::Mat> DecodeColorImage(std::span<const unsigned char> file);

// True when `output` names the existing file `reference` (same path, another
// path, a symbolic link or a hard link to it).
bool IsSameFile(const std::filesystem::path& reference, const std::filesystem::path& output);

// Encodes `image` (8-bit B, G, R) in the format of the path's extension into
// `bytes`. A floating-point format (PFM, Radiance HDR) gets the samples
// scaled to 0..1, the inverse of decoding. False when there is no encoder for
// the extension or encoding fails (kUnwritable). Encoders that only write named files
// (Sun raster, JPEG 2000, PFM, Radiance HDR) write a hidden temporary file
// beside `path`, removed before returning, never in the shared temporary
// directory.
Status EncodeImage(const std::string& path, const cv::Mat& image,
                   std::vector<unsigned char>& bytes);

// Writes `bytes` to the file at `path`, as cp would but in one step:
// - a regular file (or none) is replaced: the bytes go to an unnamed file
//   beside it, are flushed to disk, and only then get a name and are renamed
//   over it; a replaced file keeps its permission bits (and owner, where
//   allowed); one the user may not write is not replaced;
// - anything else (a device such as /dev/null, a FIFO, a terminal), directly
//   or through symbolic links, is written in place and never replaced; a
//   path naming standard output's own file (/dev/stdout redirected to a
//   file) is written through standard output, after what it already holds.
// Through a symbolic link the file it points to is written, not the link.
// On any failure (kUnwritable, with the system's reason) nothing is left
// behind and an existing file is unchanged (but for a device or FIFO written
// in part).
Status WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes);

// EncodeImage, then WriteFileAtomically.
Status SaveImageAtomically(const std::string& path, const cv::Mat& image);

}  // namespace demosaic
