// What the first bytes of an image file tell before any decoding: the pixel
// size it declares, and whether a JPEG stream runs to its end marker.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace demosaic {

struct DeclaredSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

// The width and height a PNG, JPEG, BMP, PBM/PGM/PPM, PAM, PFM, TIFF, WebP,
// Sun raster or Radiance HDR header declares; nothing for other formats or a header too short or
// malformed to tell. The file may still fail to decode.
std::optional<DeclaredSize> ReadDeclaredSize(std::span<const unsigned char> file);

// True for a file that starts like a JPEG but whose marker structure stops
// before the end-of-image marker. The JPEG decoder accepts such a file and
// fills what is missing with grey, which would be measured as if it were the
// reference.
bool IsTruncatedJpeg(std::span<const unsigned char> file);

}  // namespace demosaic
