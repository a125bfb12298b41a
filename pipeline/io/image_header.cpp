// Which header reader a file's signature calls for, the readers of the
// binary formats with fixed headers (PNG, BMP, WebP, Sun raster), the JPEG
// checks, the bounds of metadata chunks, and which decoders read memory.
#include "io/image_header.h"

#include "io/header_formats.h"

namespace demosaic {
namespace {

using header::Add;
using header::Big16;
using header::Big32;
using header::Bytes;
using header::Declared;
using header::Has;
using header::Little16;
using header::Little32;
using header::StartsWith;

std::optional<DeclaredSize> PngSize(Bytes b) {
  // Signature, then the IHDR chunk: length, type, width, height, bit depth.
  // 16-bit samples are decoded at that depth (6 bytes a pixel), then reduced.
  if (b.size() < 25 || std::memcmp(b.data() + 12, "IHDR", 4) != 0) return std::nullopt;
  return Declared(Big32(b, 16), Big32(b, 20), b[24] == 16 ? 6 + 3 : 3);
}

// PNG chunks: length, type, data, CRC, up to IEND. libpng allocates a
// chunk's declared length before reading its data, whatever its type.
bool PngChunkBeyondEnd(Bytes b) {
  std::size_t at = 8;
  while (b.size() - at >= 8) {
    const std::uint64_t length = Big32(b, at);
    if (!Has(b, at, Add(length, 12))) return true;
    if (std::memcmp(b.data() + at + 4, "IEND", 4) == 0) break;
    at += static_cast<std::size_t>(length) + 12;
  }
  return false;
}

// WebP: the RIFF size, then chunks of a type, a little-endian size and the
// data padded to an even length (frames, ICC profile, Exif, XMP, animation).
// Bytes after the container are not its chunks; the decoder ignores them.
bool WebpChunkBeyondEnd(Bytes b) {
  const std::uint64_t riff_end = Add(Little32(b, 4), 8);
  if (!Has(b, 0, riff_end)) return true;
  const Bytes riff = b.first(static_cast<std::size_t>(riff_end));
  std::size_t at = 12;
  while (at <= riff.size() && riff.size() - at >= 8) {
    const std::uint64_t size = Little32(riff, at + 4);
    if (!Has(riff, at + 8, size)) return true;
    at += 8 + static_cast<std::size_t>(size) + static_cast<std::size_t>(size % 2);
  }
  return false;
}

std::optional<DeclaredSize> BmpSize(Bytes b) {
  if (b.size() < 26) return std::nullopt;
  const std::uint64_t info_size = Little32(b, 14);
  if (info_size == 12) return Declared(Little16(b, 18), Little16(b, 20), 3);  // OS/2 core
  // Later headers store signed 32-bit sizes; a negative height means the
  // rows are stored top-down.
  const auto width = static_cast<std::int32_t>(static_cast<std::uint32_t>(Little32(b, 18)));
  const auto height = static_cast<std::int32_t>(static_cast<std::uint32_t>(Little32(b, 22)));
  const auto magnitude = [](std::int32_t v) {
    return v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(static_cast<std::int64_t>(v))
                 : static_cast<std::uint64_t>(v);
  };
  return Declared(magnitude(width), magnitude(height), 3);
}

// Sun raster: magic, then width and height as big-endian 32-bit values.
std::optional<DeclaredSize> SunRasterSize(Bytes b) {
  if (b.size() < 12) return std::nullopt;
  return Declared(Big32(b, 4), Big32(b, 8), 3);
}

// WebP: a RIFF container whose first chunk is a lossy frame ("VP8 "), a
// lossless one ("VP8L") or the extended header ("VP8X") with the canvas size.
// The decoder holds the whole file; a lossless image is decoded whole into
// 4-byte pixels first, and an alpha plane takes another byte a pixel.
std::optional<DeclaredSize> WebpSize(Bytes b) {
  if (b.size() < 30) return std::nullopt;
  if (std::memcmp(b.data() + 12, "VP8 ", 4) == 0) {
    return Declared(Little16(b, 26) & 0x3FFF, Little16(b, 28) & 0x3FFF, 3, b.size());
  }
  if (std::memcmp(b.data() + 12, "VP8L", 4) == 0) {
    const std::uint64_t bits = Little32(b, 21);  // 14 bits each of width - 1, height - 1
    return Declared((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1, 3 + 4, b.size());
  }
  if (std::memcmp(b.data() + 12, "VP8X", 4) == 0) {
    const auto u24 = [&](std::size_t at) {
      return Little16(b, at) | (std::uint64_t{b[at + 2]} << 16);
    };
    return Declared(u24(24) + 1, u24(27) + 1, 3 + 4 + 1, b.size());
  }
  return std::nullopt;
}

bool IsWebp(Bytes b) {
  return StartsWith(b, "RIFF", 4) && b.size() >= 12 && std::memcmp(b.data() + 8, "WEBP", 4) == 0;
}

bool IsExr(Bytes b) {
  return StartsWith(b, "\x76\x2F\x31\x01", 4);
}

bool IsTiff(Bytes b) {
  return StartsWith(b, "II*\0", 4) || StartsWith(b, "MM\0*", 4) || StartsWith(b, "II+\0", 4) ||
         StartsWith(b, "MM\0+", 4);
}

bool IsPfm(Bytes b) {
  return StartsWith(b, "PF", 2) || StartsWith(b, "Pf", 2);
}

bool IsJpeg2000(Bytes b) {
  return StartsWith(b, "\x00\x00\x00\x0C\x6A\x50\x20\x20\x0D\x0A\x87\x0A", 12) ||
         StartsWith(b, "\xFF\x4F\xFF\x51", 4);
}

}  // namespace

std::optional<DeclaredSize> ReadDeclaredSize(std::span<const unsigned char> file) {
  if (StartsWith(file, "\x89PNG\r\n\x1a\n", 8)) return PngSize(file);
  if (header::IsJpeg(file)) return header::WalkJpeg(file).size;
  if (StartsWith(file, "BM", 2)) return BmpSize(file);
  if (file.size() >= 2 && file[0] == 'P' && file[1] >= '1' && file[1] <= '6') {
    return header::PnmSize(file);
  }
  if (IsTiff(file)) return header::TiffSize(file);
  if (IsPfm(file)) return header::PnmSize(file);
  if (StartsWith(file, "P7", 2)) return header::PamSize(file);
  if (StartsWith(file, "\x59\xA6\x6A\x95", 4)) return SunRasterSize(file);
  if (IsWebp(file)) return WebpSize(file);
  if (StartsWith(file, "#?", 2)) return header::RadianceSize(file);
  if (IsExr(file)) return header::ExrSize(file);
  if (IsJpeg2000(file)) return header::Jpeg2000Size(file);
  return std::nullopt;
}

bool DeclaresDataBeyondEnd(std::span<const unsigned char> file) {
  if (StartsWith(file, "\x89PNG\r\n\x1a\n", 8)) return PngChunkBeyondEnd(file);
  // A JPEG segment's length has 16 bits; one that runs past the end leaves
  // the stream without its end marker.
  if (header::IsJpeg(file)) return !header::WalkJpeg(file).complete;
  if (IsTiff(file)) return header::TiffFieldsBeyondEnd(file);
  if (IsWebp(file)) return WebpChunkBeyondEnd(file);
  if (IsExr(file)) return header::ExrAttributeBeyondEnd(file);
  return false;
}

bool DecodesFromMemory(std::span<const unsigned char> file) {
  // The one decoder among those that follow PNG's in the library's own
  // order (DICOM) that reads only named files looks for this mark.
  if (file.size() >= 132 && std::memcmp(file.data() + 128, "DICM", 4) == 0) return false;
  return StartsWith(file, "\x89PNG\r\n\x1a\n", 8) || header::IsJpeg(file) ||
         StartsWith(file, "BM", 2) ||
         (file.size() >= 2 && file[0] == 'P' && file[1] >= '1' && file[1] <= '7') || IsTiff(file) ||
         IsWebp(file) || IsJpeg2000(file);
}

bool IsTruncatedJpeg(std::span<const unsigned char> file) {
  return header::IsJpeg(file) && !header::WalkJpeg(file).complete;
}

std::size_t CountJpegScans(std::span<const unsigned char> file) {
  return header::IsJpeg(file) ? header::WalkJpeg(file).scans : 0;
}

bool HasFloatingPointSamples(std::span<const unsigned char> file) {
  return IsExr(file) || IsPfm(file) || (IsTiff(file) && header::TiffHasFloatingPointSamples(file));
}

}  // namespace demosaic
