// OpenEXR and JPEG 2000: formats whose decoders build large structures of
// their own before the image library sees a pixel (OpenEXR's chunk offset
// table and chunk buffers, OpenJPEG's 32-bit component planes), so the
// memory of decoding is read from their headers too.
#include <algorithm>
#include <string_view>

#include "io/header_formats.h"

namespace demosaic::header {
namespace {

// A zero-terminated string of at most 255 characters at `at`; moves `at`
// past its terminator.
std::optional<std::string_view> CString(Bytes b, std::uint64_t& at) {
  const std::uint64_t start = at;
  while (at < b.size() && b[at] != 0 && at - start < 256) ++at;
  if (at >= b.size() || b[at] != 0) return std::nullopt;
  ++at;
  return std::string_view(reinterpret_cast<const char*>(b.data() + start), at - 1 - start);
}

std::int64_t SignedLittle32(Bytes b, std::uint64_t at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(Little32(b, at)));
}

// Scan lines an OpenEXR chunk holds for each compression method.
std::uint64_t LinesPerChunk(unsigned compression) {
  switch (compression) {
    case 0:  // none
    case 1:  // RLE
    case 2:  // ZIPS
      return 1;
    case 3:  // ZIP
    case 5:  // PXR24
      return 16;
    case 4:  // PIZ
    case 6:  // B44
    case 7:  // B44A
    case 8:  // DWAA
      return 32;
    default:  // DWAB and any unknown method: the most
      return 256;
  }
}

std::uint64_t Dimension(std::int64_t low, std::int64_t high) {
  return high >= low ? static_cast<std::uint64_t>(high - low) + 1 : 0;
}

// A codestream's SIZ segment, just after its SOC marker: the image area,
// the component count and whether a component has more than 8 bits.
struct CodestreamSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t components = 0;
  std::uint64_t tile_pixels = 0;  // 0 where unknown
  bool wide = false;
};

std::optional<CodestreamSize> SizSegment(Bytes b, std::uint64_t at) {
  if (!Has(b, at, 42) || Big16(b, at) != 0xFF4F || Big16(b, at + 2) != 0xFF51) return std::nullopt;
  const std::uint64_t x = Big32(b, at + 8);
  const std::uint64_t y = Big32(b, at + 12);
  const std::uint64_t x0 = Big32(b, at + 16);
  const std::uint64_t y0 = Big32(b, at + 20);
  CodestreamSize size{x > x0 ? x - x0 : 0, y > y0 ? y - y0 : 0, Big16(b, at + 40),
                      Mul(Big32(b, at + 24), Big32(b, at + 28))};
  // Each component's precision: the low 7 bits of its first byte, less 1.
  for (std::uint64_t c = 0; c < size.components && Has(b, at + 42 + 3 * c, 1); ++c) {
    size.wide = size.wide || (b[at + 42 + 3 * c] & 0x7F) + 1 > 8;
  }
  return size;
}

}  // namespace

// OpenEXR's headers: one, or for a multi-part file (version flag 0x1000)
// several, each a run of attributes (name, type, size, value) up to an empty
// name, the last header followed by another empty name. The decoder
// allocates an attribute's declared size before reading its value, whatever
// its type. True when a size is negative or runs past the end, or the
// headers stop before their end.
bool ExrAttributeBeyondEnd(Bytes b) {
  if (b.size() < 8) return true;
  const bool multipart = (Little32(b, 4) & 0x1000) != 0;
  std::uint64_t at = 8;
  while (true) {
    std::uint64_t attributes = 0;
    while (true) {
      const std::optional<std::string_view> name = CString(b, at);
      if (!name) return true;
      if (name->empty()) break;
      if (!CString(b, at) || !Has(b, at, 4)) return true;
      const std::int64_t size = SignedLittle32(b, at);
      at += 4;
      if (size < 0 || !Has(b, at, static_cast<std::uint64_t>(size))) return true;
      at += static_cast<std::uint64_t>(size);
      ++attributes;
    }
    // A single-part file has one header; an empty header ends the others.
    if (!multipart || attributes == 0) return false;
  }
}

// OpenEXR: magic and version, then attributes (name, type, size, value) up
// to an empty name. The decoder's image is the data window; it first reads a
// table of one 8-byte offset per chunk, and holds a chunk (a tile, or a few
// scan lines) packed and unpacked while it fills the image.
std::optional<DeclaredSize> ExrSize(Bytes b) {
  if (b.size() < 8) return std::nullopt;
  std::optional<std::uint64_t> width;
  std::optional<std::uint64_t> height;
  std::uint64_t tile_width = 0;
  std::uint64_t tile_height = 0;
  std::uint64_t channels = 0;
  unsigned compression = 255;
  std::uint64_t at = 8;
  while (true) {
    const std::optional<std::string_view> name = CString(b, at);
    if (!name) return std::nullopt;
    if (name->empty()) break;
    const std::optional<std::string_view> type = CString(b, at);
    if (!type || !Has(b, at, 4)) return std::nullopt;
    const std::int64_t size = SignedLittle32(b, at);
    at += 4;
    if (size < 0 || !Has(b, at, static_cast<std::uint64_t>(size))) return std::nullopt;
    const std::uint64_t end = at + static_cast<std::uint64_t>(size);
    if (*name == "dataWindow" && *type == "box2i" && size >= 16) {
      width = Dimension(SignedLittle32(b, at), SignedLittle32(b, at + 8));
      height = Dimension(SignedLittle32(b, at + 4), SignedLittle32(b, at + 12));
    } else if (*name == "tiles" && *type == "tiledesc" && size >= 9) {
      tile_width = Little32(b, at);
      tile_height = Little32(b, at + 4);
    } else if (*name == "compression" && size >= 1) {
      compression = b[at];
    } else if (*name == "channels" && *type == "chlist") {
      // Each channel: its name, then 16 bytes of type and sampling.
      for (std::uint64_t channel = at; channel < end && b[channel] != 0; ++channels) {
        if (!CString(b, channel) || channel + 16 > end) break;
        channel += 16;
      }
    }
    at = end;
  }
  if (!width || !height) return std::nullopt;
  channels = std::clamp<std::uint64_t>(channels, 3, 64);
  const bool tiled = tile_width > 0 && tile_height > 0;
  const std::uint64_t chunk_pixels =
      tiled ? Mul(tile_width, tile_height) : Mul(*width, LinesPerChunk(compression));
  // Mipmapped and ripmapped files have up to four times the chunks.
  const std::uint64_t chunks = tiled ? Mul(4, Mul((*width + tile_width - 1) / tile_width,
                                                  (*height + tile_height - 1) / tile_height))
                                     : *height / LinesPerChunk(compression) + 1;
  const std::uint64_t working = Add(Mul(chunks, 8), Mul(chunk_pixels, Mul(channels, 4 * 2)));
  // The floating-point image, then the 8-bit one made from it.
  return Declared(*width, *height, 12 + 3, working);
}

// JPEG 2000, as a JP2 file (boxes: the header box with the image header,
// the codestream box) or a bare codestream. OpenJPEG decodes every
// component into a plane of 32-bit values, tile by tile; the image library
// then converts them to 8-bit colour.
std::optional<DeclaredSize> Jpeg2000Size(Bytes b) {
  std::optional<CodestreamSize> size = SizSegment(b, 0);
  if (!size) {
    std::uint64_t at = 0;
    while (Has(b, at, 8)) {
      std::uint64_t length = Big32(b, at);
      std::uint64_t header = 8;
      const std::string_view type(reinterpret_cast<const char*>(b.data() + at + 4), 4);
      if (length == 1) {
        if (!Has(b, at, 16)) break;
        length = Big64(b, at + 8);
        header = 16;
      } else if (length == 0) {
        length = b.size() - at;
      }
      if (length < header || !Has(b, at, length)) length = b.size() - at;
      if (type == "jp2h") {
        // The image header box comes first in the header box.
        const std::uint64_t ihdr = at + header;
        if (Has(b, ihdr, 8 + 10) && std::memcmp(b.data() + ihdr + 4, "ihdr", 4) == 0) {
          // Bits per component: 0xFF where they differ, given elsewhere.
          const unsigned bits = Has(b, ihdr, 8 + 11) ? b[ihdr + 18] : 0xFF;
          CodestreamSize declared{Big32(b, ihdr + 12), Big32(b, ihdr + 8), Big16(b, ihdr + 16), 0,
                                  bits != 0xFF && (bits & 0x7F) + 1 > 8};
          size = size ? CodestreamSize{std::max(size->width, declared.width),
                                       std::max(size->height, declared.height),
                                       std::max(size->components, declared.components),
                                       size->tile_pixels, size->wide || declared.wide}
                      : declared;
        }
      } else if (type == "jp2c") {
        if (const std::optional<CodestreamSize> stream = SizSegment(b, at + header)) {
          size = size ? CodestreamSize{std::max(size->width, stream->width),
                                       std::max(size->height, stream->height),
                                       std::max(size->components, stream->components),
                                       stream->tile_pixels, size->wide || stream->wide}
                      : stream;
        }
        break;
      }
      if (length == 0) break;
      at += length;
    }
  }
  if (!size) return std::nullopt;
  const std::uint64_t components = std::clamp<std::uint64_t>(size->components, 1, 16384);
  // A single tile's planes become the image's; with several tiles, one
  // tile's are held beside the image's while it is decoded.
  const std::uint64_t pixels = Mul(size->width, size->height);
  const std::uint64_t tile = size->tile_pixels == 0 ? pixels : std::min(size->tile_pixels, pixels);
  const std::uint64_t tile_bytes = tile < pixels ? Mul(tile, Mul(components, 4)) : 0;
  // The planes are copied into the library's image, 16-bit where a component
  // has more than 8 bits (reduced to 8 bits after the planes are gone).
  return Declared(size->width, size->height, Add(Mul(components, 4), size->wide ? 6 : 3),
                  tile_bytes);
}

}  // namespace demosaic::header
