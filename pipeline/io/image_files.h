// Image files: reading a reference's bytes, decoding those very bytes as
// 8-bit colour without ever copying them into a shared directory, and
// writing a file so that it is never left half-written and nothing that is
// not a plain file is ever replaced.
#pragma once

#include <cstddef>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>
#include <vector>

#include "io/status.h"

namespace demosaic {

// A reference as read for decoding: its bytes, which are both checked and
// decoded, so that what is decoded is what was checked even if the file is
// changed in place meanwhile. The decoder never opens the file again.
struct ImageSource {
  std::vector<unsigned char> bytes;
};

// Reads the file at `path` (a regular file or a pipe; not a directory or a
// device: kUnreadable) whole, and closes it. More than `limit` bytes is
// kOutOfMemory.
Expected<ImageSource> OpenImageSource(const std::string& path, std::size_t limit);

// A source holding a copy of bytes already in memory. kOutOfMemory when the
// copy cannot be made.
Expected<ImageSource> ImageSourceOfBytes(std::span<const unsigned char> file);

// Decodes `source` as 8-bit B, G, R with contiguous rows, from its bytes:
// - 16-bit samples, of any format, keep their high byte (signed integer
//   samples are taken by their bits, 8-bit ones as they are; 32-bit integer
//   samples are kUnreadable); with `keep_16_bit` they are kept whole instead
//   (16-bit B, G, R, signed samples by their bits), and only they: 8-bit and
//   floating-point samples still come out at 8 bits as below;
// - floating-point samples (OpenEXR, PFM, floating-point TIFF, Radiance HDR)
//   nominally 0..1 are scaled by 255, rounded half to even and clamped to
//   0..255: +inf and anything above 1 is 255, NaN and -inf are 0;
// - grey is expanded; alpha is dropped and the colour kept as stored (a TIFF
//   with unassociated alpha is not premultiplied);
// - a file whose metadata declares more than the file holds
//   (DeclaresDataBeyondEnd), a JPEG cut short or of more than kMaxJpegScans
//   scans is kUnreadable, before decoding;
// - memory that runs out while decoding is kOutOfMemory.
// The formats whose decoder only reads named files (see DecodesFromMemory)
// are decoded from an unnamed in-memory file holding the same bytes; no file
// is ever made in the temporary directory. Releases `source.bytes` before
// returning. Never prints; the codecs behind the library may write warnings
// to file descriptor 2, which front ends redirect.
Expected<cv::Mat> DecodeColorImage(ImageSource& source, bool keep_16_bit = false);

// The same for bytes in memory (copied first).
Expected<cv::Mat> DecodeColorImage(std::span<const unsigned char> file);

// True when `output` names the existing file `reference` (same path, another
// path, a symbolic link or a hard link to it).
bool IsSameFile(const std::filesystem::path& reference, const std::filesystem::path& output);

// Encodes `image` (8-bit B, G, R) in the format of the path's extension into
// `bytes`. A floating-point format (PFM, Radiance HDR) gets the samples
// scaled to 0..1, the inverse of decoding. A 16-bit image (CV_16UC3) is
// written at 16 bits, as PNG, TIFF or PPM only (CanHold16Bit); never
// reduced. False when there is no encoder for the extension, it cannot hold
// the image's depth, or encoding fails (kUnwritable). Encoders that only write named files
// (Sun raster, JPEG 2000, PFM, Radiance HDR) write a hidden temporary file
// beside `path`, removed before returning, never in the shared temporary
// directory.
Status EncodeImage(const std::string& path, const cv::Mat& image,
                   std::vector<unsigned char>& bytes);

// True for the extensions whose files hold 16-bit samples as written and
// read back: .png, .tif, .tiff, .ppm (any letter case).
bool CanHold16Bit(const std::string& path);

// Writes `bytes` to the file at `path`, as cp would but in one step:
// - a regular file (or none) is replaced: the bytes go to an unnamed file
//   beside it and are flushed to disk; then a new file gets the path's name
//   directly, and an existing one is replaced by a rename from a hidden
//   temporary name (".NAME.tmp-PID-N"); a replaced file keeps its
//   permission bits (and owner, where allowed); one the user may not write
//   is not replaced;
// - anything else (a device such as /dev/null, a FIFO, a terminal), directly
//   or through symbolic links, is written in place and never replaced; a
//   path naming standard output's own file (/dev/stdout redirected to a
//   file) is written through standard output, after what it already holds.
// Through a symbolic link the file it points to is written, not the link.
// On any failure (kUnwritable, with the system's reason) nothing is left
// behind and an existing file is unchanged (but for a device or FIFO written
// in part).
Status WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes);

// Removes, from the directory of `path`, the hidden temporaries that a run
// killed while writing or encoding `path` left behind: ".NAME.tmp-PID-N"
// (or ".NAME.tmp-PID-XXXXXX" where the file system has no unnamed files) and
// the encoders' ".STEM.enc-PID-XXXXXX.EXT", NAME or STEM cut short where the
// whole fills the directory's longest name, and only where no process PID
// runs any more. Regular files only; anything else, and any file it may not
// remove, is left alone. Called by WriteFileAtomically before it names a
// temporary of its own, and by EncodeImage before an encoder's file.
void RemoveStaleTemporaries(const std::filesystem::path& path);

// EncodeImage, then WriteFileAtomically; an 8-bit image named .png through
// EncodePng instead, so that every 8-bit PNG this system writes has the same
// bytes for the same pixels.
Status SaveImageAtomically(const std::string& path, const cv::Mat& image);

// SaveImageAtomically for an image the caller has done with: a PNG of an
// 8-bit image with room after it (see EncodePngInItsPlace) is encoded where
// the image is, so that saving needs memory for the file alone; the image's
// pixels are then unspecified. Any other image is saved, unchanged, as
// SaveImageAtomically saves it.
Status SaveImageSpendingIt(const std::string& path, cv::Mat& image);

}  // namespace demosaic
