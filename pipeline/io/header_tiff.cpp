// TIFF and BigTIFF: the first image directory's size, sample layout and the
// tile or strip that the decoder reads at once, whether its samples are
// floating point, fields that point past the end, and unassociated alpha. libtiff takes a size from
// any integer field type, signed ones included, so every such type is read;
// a field given twice counts with its largest value.
#include <algorithm>
#include <vector>

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
  kExtraSamples = 338,  // 2: unassociated alpha
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

// Where the first image directory lies: its entries follow a count.
struct Directory {
  Layout layout;
  std::uint64_t first_entry = 0;
  std::uint64_t entries = 0;
  std::uint64_t entry_size = 0;
  // Bytes a field's values may take inside its entry; more are stored
  // where the entry points.
  std::uint64_t inline_bytes = 0;
};

std::optional<Directory> FirstDirectory(Bytes b) {
  if (b.size() < 8) return std::nullopt;
  Directory d{{b[0] == 'I', b[2] == '+' || b[3] == '+', b}};
  const Layout& layout = d.layout;
  const std::uint64_t directory =
      layout.big_tiff ? (Has(b, 8, 8) ? layout.Unsigned(8, 8) : UINT64_MAX) : layout.Unsigned(4, 4);
  const std::uint64_t count_size = layout.big_tiff ? 8 : 2;
  d.entry_size = layout.big_tiff ? 20 : 12;
  d.inline_bytes = layout.big_tiff ? 8 : 4;
  if (!Has(b, directory, count_size)) return std::nullopt;
  d.entries = layout.Unsigned(directory, count_size);
  d.first_entry = directory + count_size;
  return d;
}

std::optional<Fields> ReadFields(Bytes b) {
  const std::optional<Directory> directory = FirstDirectory(b);
  if (!directory) return std::nullopt;
  const Layout& layout = directory->layout;
  Fields fields;
  for (std::uint64_t i = 0; i < directory->entries; ++i) {
    const std::uint64_t entry = Add(directory->first_entry, Mul(directory->entry_size, i));
    if (!Has(b, entry, directory->entry_size)) break;
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
  // Samples of more than 8 bits (floating point, or 16-bit integers) are
  // decoded at their own depth (3 of 2, 4 bytes or more a pixel), then
  // reduced to the 8-bit image.
  const bool floating = IsFloatingPoint(fields);
  const std::uint64_t samples = std::max<std::uint64_t>(4, field(kSamplesPerPixel).value_or(1));
  const std::uint64_t sample_bytes =
      std::max<std::uint64_t>(floating ? 4 : 1, field(kBitsPerSample).value_or(8) / 8);
  const std::uint64_t tile_bytes = std::min(
      Mul(Mul(tile_width, tile_height), Mul(samples, sample_bytes)), std::uint64_t{1} << 30);
  return Declared(*width, *height, sample_bytes > 1 ? 3 * sample_bytes + 3 : 3, tile_bytes);
}

bool TiffFieldsBeyondEnd(Bytes b) {
  const std::optional<Directory> directory = FirstDirectory(b);
  if (!directory) return false;
  const Layout& layout = directory->layout;
  const std::uint64_t value_field = directory->layout.big_tiff ? 12 : 8;
  if (!Has(b, directory->first_entry, Mul(directory->entries, directory->entry_size))) return true;
  for (std::uint64_t i = 0; i < directory->entries; ++i) {
    const std::uint64_t entry = directory->first_entry + directory->entry_size * i;
    const std::uint64_t count = layout.Unsigned(entry + 4, directory->inline_bytes);
    const std::uint64_t bytes = Mul(count, TypeOf(layout.Unsigned(entry + 2, 2)).size);
    if (bytes <= directory->inline_bytes) continue;
    if (!Has(b, layout.Unsigned(entry + value_field, directory->inline_bytes), bytes)) return true;
  }
  return false;
}

std::vector<std::size_t> TiffUnassociatedAlphaOffsets(Bytes b) {
  std::vector<std::size_t> offsets;
  const std::optional<Directory> directory = FirstDirectory(b);
  if (!directory) return offsets;
  const Layout& layout = directory->layout;
  const std::uint64_t value_field = directory->layout.big_tiff ? 12 : 8;
  for (std::uint64_t i = 0; i < directory->entries; ++i) {
    const std::uint64_t entry = Add(directory->first_entry, Mul(directory->entry_size, i));
    if (!Has(b, entry, directory->entry_size)) break;
    // ExtraSamples is an array of SHORT, one per extra sample.
    if (layout.Unsigned(entry, 2) != kExtraSamples || layout.Unsigned(entry + 2, 2) != 3) continue;
    const std::uint64_t count = layout.Unsigned(entry + 4, directory->inline_bytes);
    const std::uint64_t bytes = Mul(count, 2);
    const std::uint64_t at = bytes <= directory->inline_bytes
                                 ? entry + value_field
                                 : layout.Unsigned(entry + value_field, directory->inline_bytes);
    if (!Has(b, at, bytes)) continue;
    for (std::uint64_t v = 0; v < count; ++v) {
      if (layout.Unsigned(at + 2 * v, 2) == 2)
        offsets.push_back(static_cast<std::size_t>(at + 2 * v));
    }
  }
  return offsets;
}

}  // namespace demosaic::header
