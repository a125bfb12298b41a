// The per-format header readers behind ReadDeclaredSize, and the byte and
// arithmetic helpers they share. Every read is bounds-checked against the
// file's bytes, and every size computed saturates instead of wrapping: the
// input is whatever the user named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "io/image_header.h"

namespace demosaic::header {

using Bytes = std::span<const unsigned char>;

inline std::uint64_t Big16(Bytes b, std::size_t at) {
  return (std::uint64_t{b[at]} << 8) | b[at + 1];
}
inline std::uint64_t Big32(Bytes b, std::size_t at) {
  return (Big16(b, at) << 16) | Big16(b, at + 2);
}
inline std::uint64_t Big64(Bytes b, std::size_t at) {
  return (Big32(b, at) << 32) | Big32(b, at + 4);
}
inline std::uint64_t Little16(Bytes b, std::size_t at) {
  return (std::uint64_t{b[at + 1]} << 8) | b[at];
}
inline std::uint64_t Little32(Bytes b, std::size_t at) {
  return (Little16(b, at + 2) << 16) | Little16(b, at);
}
inline std::uint64_t Little64(Bytes b, std::size_t at) {
  return (Little32(b, at + 4) << 32) | Little32(b, at);
}

// True when `length` bytes from `at` lie within the file.
inline bool Has(Bytes b, std::uint64_t at, std::uint64_t length) {
  return at <= b.size() && length <= b.size() - at;
}

inline bool StartsWith(Bytes b, const char* magic, std::size_t length) {
  return b.size() >= length && std::memcmp(b.data(), magic, length) == 0;
}

// a + b and a * b, or UINT64_MAX when the result does not fit.
inline std::uint64_t Add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}
inline std::uint64_t Mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

// A size whose decoding holds `bytes_per_pixel` bytes a pixel plus `extra`
// bytes at its peak. The 8-bit colour image decoding ends with takes 3 of
// them, so fewer than 3 count as 3.
inline DeclaredSize Declared(std::uint64_t width, std::uint64_t height,
                             std::uint64_t bytes_per_pixel, std::uint64_t extra = 0) {
  const std::uint64_t per_pixel = bytes_per_pixel < 3 ? 3 : bytes_per_pixel;
  return {width, height, Add(Mul(Mul(width, height), per_pixel), extra)};
}

// A JPEG's marker structure as a decoder walks it.
struct JpegWalk {
  bool complete = false;             // reached the end-of-image marker
  std::size_t scans = 0;             // start-of-scan markers before it
  std::optional<DeclaredSize> size;  // from the first frame header
};
inline bool IsJpeg(Bytes b) {
  return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
}
JpegWalk WalkJpeg(Bytes b);

// The readers, one per format (or family of formats with one header
// layout). Each returns nothing for a header too short or malformed to tell:
// the decoder then fails on it too, or the data limit stops it.
std::optional<DeclaredSize> PnmSize(Bytes b);  // P1 to P6, and PFM ("PF", "Pf")
std::optional<DeclaredSize> PamSize(Bytes b);
std::optional<DeclaredSize> RadianceSize(Bytes b);
std::optional<DeclaredSize> TiffSize(Bytes b);  // classic TIFF and BigTIFF
bool TiffHasFloatingPointSamples(Bytes b);      // SampleFormat 3
// True when the first directory runs past the end of the file, or one of
// its fields declares values (count times the type's size) beyond it.
bool TiffFieldsBeyondEnd(Bytes b);
// Where the first directory's ExtraSamples values say "unassociated alpha".
std::vector<std::size_t> TiffUnassociatedAlphaOffsets(Bytes b);
std::optional<DeclaredSize> ExrSize(Bytes b);
// True when an OpenEXR header attribute declares more bytes than follow it.
bool ExrAttributeBeyondEnd(Bytes b);
std::optional<DeclaredSize> Jpeg2000Size(Bytes b);  // JP2 files and bare codestreams

}  // namespace demosaic::header
