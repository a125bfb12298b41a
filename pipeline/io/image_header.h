// What the first bytes of an image file tell before any decoding: the pixel
// size it declares and the memory its decoding takes, whether its metadata
// fits in the file, whether a JPEG stream runs to its end marker and how many
// scans it makes the decoder run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace demosaic {

struct DeclaredSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  // The most bytes decoding holds at once, from the decoder's own buffers
  // (a TIFF tile or strip, a progressive JPEG's coefficients, a floating-point
  // image before its conversion) to the 8-bit colour image it ends with: at
  // least 3 bytes a pixel. Saturates at UINT64_MAX.
  std::uint64_t decoding_bytes = 0;
};

// The size a PNG, JPEG, BMP, PBM/PGM/PPM, PAM, PFM, TIFF or BigTIFF, WebP,
// Sun raster, Radiance HDR, OpenEXR or JPEG 2000 header declares, read as
// the image library's own decoder reads it (the largest value where a field
// is given twice); nothing for other formats or a header too short or
// malformed to tell. The file may still fail to decode. Only reads `file`.
std::optional<DeclaredSize> ReadDeclaredSize(std::span<const unsigned char> file);

// True for a PNG chunk, JPEG segment, TIFF field (count times the size of
// its type), WebP chunk (the RIFF container included) or OpenEXR header
// attribute that declares more bytes than the file holds after it, whatever
// its type: a file cut short,
// or one made to have the decoder allocate gigabytes for metadata it then
// fails to read. Such a file is unreadable; checked before decoding.
bool DeclaresDataBeyondEnd(std::span<const unsigned char> file);

// True for the formats whose decoder in the image library reads bytes in
// memory (PNG, JPEG, BMP, PBM/PGM/PPM, PAM, TIFF, WebP, JPEG 2000). The others
// (Radiance HDR, OpenEXR, PFM, Sun raster, DICOM, anything unknown) only read
// named files: given bytes, the library would copy them into the shared
// temporary directory first.
bool DecodesFromMemory(std::span<const unsigned char> file);

// True for a file that starts like a JPEG but whose marker structure stops
// before the end-of-image marker. The JPEG decoder accepts such a file and
// fills what is missing with grey, which would be measured as if it were the
// reference.
bool IsTruncatedJpeg(std::span<const unsigned char> file);

// The scans of a JPEG stream before its end marker; 0 for other files. The
// decoder goes over the whole image once per scan, so that a small file of
// thousands of empty scans keeps it busy for hours. No encoder writes more
// than a few dozen.
std::size_t CountJpegScans(std::span<const unsigned char> file);
inline constexpr std::size_t kMaxJpegScans = 256;

// True for OpenEXR, PFM and floating-point TIFF files: the image library
// hands their samples over as floating point, nominally 0 to 1, when asked
// for any depth, and converts them to 8 bits without scaling otherwise.
bool HasFloatingPointSamples(std::span<const unsigned char> file);

}  // namespace demosaic
