// TIFF and BigTIFF: the first image directory's size, sample layout and the
// tile or strip that the decoder reads at once, and whether its samples are
// floating point. libtiff takes a size from
// any integer field type, signed ones included, so every such type is read;
// a field given twice counts with its largest value.
#include <algorithm>

#include "io/header_formats.h"

namespace demosaic::header {
namespace {

enum Tag : std::uint64_t {
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kPhotometric = 262,  // 32844 LogL, 32845 LogLuv: floating point
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kTileWidth = 322,
  kTileLength = 323,
  kSampleFormat = 339,  // 3: IEEE floating point
};

// The first directory's fields from kImageWidth to kSampleFormat, each the
// largest of its values over every entry giving it.
struct Fields {
  std::optional<std::uint64_t> values[kSampleFormat + 1 - kImageWidth];
  std::optional<std::uint64_t>& operator[](Tag tag) { return values[tag - kImageWidth]; }
};

// Bytes of one value of a field type, and whether it is an integer the
// decoder accepts for a size (BYTE, SHORT, LONG, SBYTE, SSHORT, SLONG, IFD,
// LONG8, SLONG8, IFD8).
struct FieldType {
  std::uint64_t size = 0;
  bool integer = false;
  bool is_signed = false;
};

FieldType TypeOf(std::uint64_t type) {
  switch (type) {
    case 1:
      return {1, true, false};
    case 6:
      return {1, true, true};
    case 3:
      return {2, true, false};
    case 8:
      return {2, true, true};
    case 4:
    case 13:
      return {4, true, false};
    case 9:
      return {4, true, true};
    case 16:
    case 18:
      return {8, true, false};
    case 17:
      return {8, true, true};
    case 2:
    case 7:
      return {1, false, false};
    case 11:
      return {4, false, false};
    case 5:
    case 10:
    case 12:
      return {8, false, false};
    default:
      return {};
  }
}

struct Layout {
  bool little = true;
  bool big_tiff = false;
  Bytes b;

  std::uint64_t Unsigned(std::uint64_t at, std::uint64_t size) const {
    switch (size) {
      case 1:
        return b[at];
      case 2:
        return little ? Little16(b, at) : Big16(b, at);
      case 4:
        return little ? Little32(b, at) : Big32(b, at);
      default:
        return little ? Little64(b, at) : Big64(b, at);
    }
  }
};

// The largest of a field's values, a negative one counting as 0. Fields
// whose values do not fit in the entry are read where it points; at most
// the first 16 values are looked at (BitsPerSample has one per sample).
std::optional<std::uint64_t> LargestValue(const Layout& layout, std::uint64_t entry) {
  const std::uint64_t type_at = entry + 2;
  const FieldType type = TypeOf(layout.Unsigned(type_at, 2));
  if (!type.integer) return std::nullopt;
  const std::uint64_t count = layout.Unsigned(entry + 4, layout.big_tiff ? 8 : 4);
  const std::uint64_t value_at = entry + (layout.big_tiff ? 12 : 8);
  const std::uint64_t inline_bytes = layout.big_tiff ? 8 : 4;
  const std::uint64_t bytes = Mul(count, type.size);
  const std::uint64_t at =
      bytes <= inline_bytes ? value_at : layout.Unsigned(value_at, inline_bytes);
  std::optional<std::uint64_t> largest;
  for (std::uint64_t i = 0; i < std::min<std::uint64_t>(count, 16); ++i) {
    const std::uint64_t value_offset = Add(at, i * type.size);
    if (!Has(layout.b, value_offset, type.size)) break;
    std::uint64_t value = layout.Unsigned(value_offset, type.size);
    const std::uint64_t sign_bit = std::uint64_t{1} << (8 * type.size - 1);
    if (type.is_signed && (value & sign_bit) != 0) value = 0;
    largest = std::max(largest.value_or(0), value);
  }
  return largest;
}

std::optional<Fields> ReadFields(Bytes b) {
  if (b.size() < 8) return std::nullopt;
  Layout layout{b[0] == 'I', b[2] == '+' || b[3] == '+', b};
  const std::uint64_t directory =
      layout.big_tiff ? (Has(b, 8, 8) ? layout.Unsigned(8, 8) : UINT64_MAX) : layout.Unsigned(4, 4);
  const std::uint64_t count_size = layout.big_tiff ? 8 : 2;
  const std::uint64_t entry_size = layout.big_tiff ? 20 : 12;
  if (!Has(b, directory, count_size)) return std::nullopt;
  const std::uint64_t entries = layout.Unsigned(directory, count_size);
  Fields fields;
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint64_t entry = directory + count_size + entry_size * i;
    if (!Has(b, entry, entry_size)) break;
    const std::uint64_t tag = layout.Unsigned(entry, 2);
    if (tag < kImageWidth || tag > kSampleFormat) continue;
    if (const std::optional<std::uint64_t> value = LargestValue(layout, entry)) {
      std::optional<std::uint64_t>& slot = fields.values[tag - kImageWidth];
      slot = std::max(slot.value_or(0), *value);
    }
  }
  return fields;
}

// IEEE floating-point samples, or the LogLuv encoding that the image library
// itself writes floating-point images in.
bool IsFloatingPoint(Fields& fields) {
  const std::uint64_t photometric = fields[kPhotometric].value_or(0);
  return fields[kSampleFormat] == 3 || photometric == 32844 || photometric == 32845;
}

}  // namespace

bool TiffHasFloatingPointSamples(Bytes b) {
  std::optional<Fields> fields = ReadFields(b);
  return fields && IsFloatingPoint(*fields);
}

std::optional<DeclaredSize> TiffSize(Bytes b) {
  std::optional<Fields> read = ReadFields(b);
  if (!read) return std::nullopt;
  Fields& fields = *read;
  const auto field = [&](Tag tag) -> std::optional<std::uint64_t>& { return fields[tag]; };
  const std::optional<std::uint64_t> width = field(kImageWidth);
  const std::optional<std::uint64_t> height = field(kImageLength);
  if (!width || !height) return std::nullopt;

  // The decoder reads one tile, or one strip of RowsPerStrip rows (the whole
  // image when absent, 0 or all ones), into a buffer of up to 4 samples of up
  // to 8 bytes a pixel (4 bytes for the RGBA path), and refuses a buffer of a
  // gigabyte or more.
  const bool tiled = field(kTileWidth).has_value() || field(kTileLength).has_value();
  std::uint64_t tile_width = tiled ? field(kTileWidth).value_or(0) : *width;
  std::uint64_t tile_height =
      tiled ? field(kTileLength).value_or(0) : field(kRowsPerStrip).value_or(0);
  if (tile_width == 0) tile_width = *width;
  if (tile_height == 0 || (!tiled && tile_height == 0xFFFFFFFF)) tile_height = *height;
  // Floating-point samples are decoded as such (3 of 4 bytes or more a
  // pixel), then converted to the 8-bit image.
  const bool floating = IsFloatingPoint(fields);
  const std::uint64_t samples = std::max<std::uint64_t>(4, field(kSamplesPerPixel).value_or(1));
  const std::uint64_t sample_bytes =
      std::max<std::uint64_t>(floating ? 4 : 1, field(kBitsPerSample).value_or(8) / 8);
  const std::uint64_t tile_bytes = std::min(
      Mul(Mul(tile_width, tile_height), Mul(samples, sample_bytes)), std::uint64_t{1} << 30);
  return Declared(*width, *height, floating ? 3 * sample_bytes + 3 : 3, tile_bytes);
}

}  // namespace demosaic::header
