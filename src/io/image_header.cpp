// Header reading for the memory check made before decoding, and the JPEG
// completeness check. Every read is bounds-checked against the file's bytes:
// the input is whatever the user named.
#include "io/image_header.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace demosaic {
namespace {

using Bytes = std::span<const unsigned char>;

std::uint64_t Big16(Bytes b, std::size_t at) {
  return (std::uint64_t{b[at]} << 8) | b[at + 1];
}
std::uint64_t Big32(Bytes b, std::size_t at) {
  return (Big16(b, at) << 16) | Big16(b, at + 2);
}
std::uint64_t Little16(Bytes b, std::size_t at) {
  return (std::uint64_t{b[at + 1]} << 8) | b[at];
}
std::uint64_t Little32(Bytes b, std::size_t at) {
  return (Little16(b, at + 2) << 16) | Little16(b, at);
}

bool StartsWith(Bytes b, const char* magic, std::size_t length) {
  return b.size() >= length && std::memcmp(b.data(), magic, length) == 0;
}

std::optional<DeclaredSize> PngSize(Bytes b) {
  // Signature, then the IHDR chunk: length, type, width, height.
  if (b.size() < 24 || std::memcmp(b.data() + 12, "IHDR", 4) != 0) return std::nullopt;
  return DeclaredSize{Big32(b, 16), Big32(b, 20)};
}

std::optional<DeclaredSize> BmpSize(Bytes b) {
  if (b.size() < 26) return std::nullopt;
  const std::uint64_t info_size = Little32(b, 14);
  if (info_size == 12) return DeclaredSize{Little16(b, 18), Little16(b, 20)};  // OS/2 core
  // Later headers store signed 32-bit sizes; a negative height means the
  // rows are stored top-down.
  const auto width = static_cast<std::int32_t>(static_cast<std::uint32_t>(Little32(b, 18)));
  const auto height = static_cast<std::int32_t>(static_cast<std::uint32_t>(Little32(b, 22)));
  const auto magnitude = [](std::int32_t v) {
    return v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(static_cast<std::int64_t>(v))
                 : static_cast<std::uint64_t>(v);
  };
  return DeclaredSize{magnitude(width), magnitude(height)};
}

// P1 to P6: "P<n>", then width and height as decimal text separated by
// white space, with '#' comments running to the line end.
std::optional<DeclaredSize> PnmSize(Bytes b) {
  std::size_t at = 2;
  std::uint64_t values[2] = {0, 0};
  for (std::uint64_t& value : values) {
    while (at < b.size()) {
      if (b[at] == '#') {
        while (at < b.size() && b[at] != '\n' && b[at] != '\r') ++at;
      } else if (b[at] == ' ' || (b[at] >= '\t' && b[at] <= '\r')) {
        ++at;
      } else {
        break;
      }
    }
    std::size_t digits = 0;
    for (; at < b.size() && b[at] >= '0' && b[at] <= '9'; ++at, ++digits) {
      if (digits == 12) return std::nullopt;  // far past any decodable size
      value = value * 10 + (b[at] - '0');
    }
    if (digits == 0) return std::nullopt;
  }
  return DeclaredSize{values[0], values[1]};
}

// Classic TIFF: the first directory's ImageWidth (256) and ImageLength (257)
// entries, each a SHORT or a LONG.
std::optional<DeclaredSize> TiffSize(Bytes b) {
  const bool little = b[0] == 'I';
  const auto u16 = [&](std::size_t at) { return little ? Little16(b, at) : Big16(b, at); };
  const auto u32 = [&](std::size_t at) { return little ? Little32(b, at) : Big32(b, at); };
  if (b.size() < 8) return std::nullopt;
  const std::uint64_t directory = u32(4);
  if (directory > b.size() || b.size() - directory < 2) return std::nullopt;
  const std::uint64_t entries = u16(directory);
  std::optional<std::uint64_t> width;
  std::optional<std::uint64_t> height;
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint64_t entry = directory + 2 + 12 * i;
    if (entry > b.size() || b.size() - entry < 12) break;
    const std::uint64_t tag = u16(entry);
    const std::uint64_t type = u16(entry + 2);
    std::optional<std::uint64_t> value;
    if (type == 3) value = u16(entry + 8);
    if (type == 4) value = u32(entry + 8);
    if (tag == 256) width = value;
    if (tag == 257) height = value;
  }
  if (!width || !height) return std::nullopt;
  return DeclaredSize{*width, *height};
}

// Sun raster: magic, then width and height as big-endian 32-bit values.
std::optional<DeclaredSize> SunRasterSize(Bytes b) {
  if (b.size() < 12) return std::nullopt;
  return DeclaredSize{Big32(b, 4), Big32(b, 8)};
}

// WebP: a RIFF container whose first chunk is a lossy frame ("VP8 "), a
// lossless one ("VP8L") or the extended header ("VP8X") with the canvas size.
std::optional<DeclaredSize> WebpSize(Bytes b) {
  if (b.size() < 30) return std::nullopt;
  if (std::memcmp(b.data() + 12, "VP8 ", 4) == 0) {
    return DeclaredSize{Little16(b, 26) & 0x3FFF, Little16(b, 28) & 0x3FFF};
  }
  if (std::memcmp(b.data() + 12, "VP8L", 4) == 0) {
    const std::uint64_t bits = Little32(b, 21);  // 14 bits each of width - 1, height - 1
    return DeclaredSize{(bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1};
  }
  if (std::memcmp(b.data() + 12, "VP8X", 4) == 0) {
    const auto u24 = [&](std::size_t at) {
      return Little16(b, at) | (std::uint64_t{b[at + 2]} << 16);
    };
    return DeclaredSize{u24(24) + 1, u24(27) + 1};
  }
  return std::nullopt;
}

// Reads a decimal number at `at` (after any spaces), or nothing.
std::optional<std::uint64_t> DecimalAt(Bytes b, std::size_t& at) {
  while (at < b.size() && (b[at] == ' ' || b[at] == '\t')) ++at;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; at < b.size() && b[at] >= '0' && b[at] <= '9'; ++at, ++digits) {
    if (digits == 12) return std::nullopt;  // far past any decodable size
    value = value * 10 + (b[at] - '0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

// PAM ("P7"): header lines of "KEYWORD value" up to ENDHDR, among them WIDTH
// and HEIGHT.
std::optional<DeclaredSize> PamSize(Bytes b) {
  std::optional<std::uint64_t> width;
  std::optional<std::uint64_t> height;
  for (std::size_t at = 0; at < b.size() && at < 4096;) {
    const std::size_t end = std::min(b.size(), at + 4096);
    std::size_t line_end = at;
    while (line_end < end && b[line_end] != '\n') ++line_end;
    const Bytes line = b.subspan(at, line_end - at);
    if (StartsWith(line, "ENDHDR", 6)) break;
    std::size_t value_at = 6;
    if (StartsWith(line, "WIDTH ", 6)) width = DecimalAt(line, value_at);
    value_at = 7;
    if (StartsWith(line, "HEIGHT ", 7)) height = DecimalAt(line, value_at);
    at = line_end + 1;
  }
  if (!width || !height) return std::nullopt;
  return DeclaredSize{*width, *height};
}

// Radiance HDR: text header lines up to an empty line, then the resolution
// line, "-Y height +X width" (or with the axes the other way round).
std::optional<DeclaredSize> HdrSize(Bytes b) {
  const std::size_t limit = std::min<std::size_t>(b.size(), 65536);
  std::size_t at = 0;
  while (at + 1 < limit && !(b[at] == '\n' && b[at + 1] == '\n')) ++at;
  if (at + 1 >= limit) return std::nullopt;
  at += 2;
  if (b.size() - at < 3) return std::nullopt;
  const bool rows_first = b[at + 1] == 'Y';
  at += 2;
  const std::optional<std::uint64_t> first = DecimalAt(b, at);
  if (!first || b.size() - at < 3) return std::nullopt;
  at += 3;  // " +X"
  const std::optional<std::uint64_t> second = DecimalAt(b, at);
  if (!second) return std::nullopt;
  return rows_first ? DeclaredSize{*second, *first} : DeclaredSize{*first, *second};
}

// Walks a JPEG's markers the way a decoder does: segments carry their own
// length, entropy-coded data runs up to the next marker that is neither a
// stuffed 0xFF nor a restart marker.
struct JpegWalk {
  bool complete = false;  // reached the end-of-image marker
  std::optional<DeclaredSize> size;
};

JpegWalk WalkJpeg(Bytes b) {
  JpegWalk walk;
  std::size_t at = 2;  // past the start-of-image marker
  while (true) {
    // A decoder skips stray bytes up to the next 0xFF, then fill bytes.
    while (at < b.size() && b[at] != 0xFF) ++at;
    while (at < b.size() && b[at] == 0xFF) ++at;
    if (at >= b.size()) return walk;
    const unsigned marker = b[at++];
    if (marker == 0xD9) {
      walk.complete = true;
      return walk;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8) || marker == 0x00) continue;
    if (b.size() - at < 2) return walk;
    const std::size_t length = static_cast<std::size_t>(Big16(b, at));
    if (length < 2 || b.size() - at < length) return walk;
    const bool frame_header =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame_header && length >= 7 && !walk.size) {
      walk.size = DeclaredSize{Big16(b, at + 5), Big16(b, at + 3)};
    }
    at += length;
    if (marker == 0xDA) {
      // Entropy-coded data of the scan.
      while (at + 1 < b.size()) {
        if (b[at] == 0xFF && b[at + 1] != 0x00 && b[at + 1] != 0xFF &&
            !(b[at + 1] >= 0xD0 && b[at + 1] <= 0xD7)) {
          break;
        }
        ++at;
      }
      if (at + 1 >= b.size()) return walk;
    }
  }
}

bool IsJpeg(Bytes b) {
  return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
}

}  // namespace

std::optional<DeclaredSize> ReadDeclaredSize(std::span<const unsigned char> file) {
  if (StartsWith(file, "\x89PNG\r\n\x1a\n", 8)) return PngSize(file);
  if (IsJpeg(file)) return WalkJpeg(file).size;
  if (StartsWith(file, "BM", 2)) return BmpSize(file);
  if (file.size() >= 2 && file[0] == 'P' && file[1] >= '1' && file[1] <= '6') {
    return PnmSize(file);
  }
  if (StartsWith(file, "II*\0", 4) || StartsWith(file, "MM\0*", 4)) return TiffSize(file);
  // PFM ("PF" colour, "Pf" grey) has the PNM layout of width and height.
  if (StartsWith(file, "PF", 2) || StartsWith(file, "Pf", 2)) return PnmSize(file);
  if (StartsWith(file, "P7", 2)) return PamSize(file);
  if (StartsWith(file, "\x59\xA6\x6A\x95", 4)) return SunRasterSize(file);
  if (StartsWith(file, "RIFF", 4) && file.size() >= 12 &&
      std::memcmp(file.data() + 8, "WEBP", 4) == 0) {
    return WebpSize(file);
  }
  if (StartsWith(file, "#?", 2)) return HdrSize(file);
  return std::nullopt;
}

bool IsTruncatedJpeg(std::span<const unsigned char> file) {
  return IsJpeg(file) && !WalkJpeg(file).complete;
}

}  // namespace demosaic
