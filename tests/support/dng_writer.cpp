// Writes DNG bytes directly: a TIFF header, one IFD whose entries are sorted
// by tag, the values that do not fit in an entry after it, then the strip.
#include "support/dng_writer.h"

#include <cmath>
#include <cstring>
#include <string>

namespace demosaic::testing {
namespace {

enum TiffType : std::uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kSRational = 10,
};

// One IFD entry with its value's bytes (little-endian), placed inline when
// they fit in four bytes.
struct Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::vector<unsigned char> value;
};

void Put16(std::vector<unsigned char>& out, std::uint32_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}

void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

Entry Shorts(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
  Entry entry{tag, kShort, static_cast<std::uint32_t>(values.size()), {}};
  for (const std::uint32_t v : values) Put16(entry.value, v);
  return entry;
}

Entry Longs(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
  Entry entry{tag, kLong, static_cast<std::uint32_t>(values.size()), {}};
  for (const std::uint32_t v : values) Put32(entry.value, v);
  return entry;
}

Entry Bytes(std::uint16_t tag, const std::vector<unsigned char>& values) {
  return {tag, kByte, static_cast<std::uint32_t>(values.size()), values};
}

Entry Ascii(std::uint16_t tag, const std::string& text) {
  Entry entry{tag, kAscii, static_cast<std::uint32_t>(text.size() + 1), {}};
  entry.value.assign(text.begin(), text.end());
  entry.value.push_back(0);
  return entry;
}

// Rationals over a fixed denominator fine enough for the tests' values.
Entry Rationals(std::uint16_t tag, const double* values, std::size_t count, bool is_signed) {
  constexpr double kDenominator = 1000000;
  Entry entry{tag, is_signed ? kSRational : kRational, static_cast<std::uint32_t>(count), {}};
  for (std::size_t i = 0; i < count; ++i) {
    const auto numerator = static_cast<std::int32_t>(std::lround(values[i] * kDenominator));
    Put32(entry.value, static_cast<std::uint32_t>(numerator));
    Put32(entry.value, static_cast<std::uint32_t>(kDenominator));
  }
  return entry;
}

// CFAPattern's colour codes (0 red, 1 green, 2 blue) of the tile, row by row.
std::vector<unsigned char> TileColours(BayerPattern pattern) {
  std::vector<unsigned char> colours;
  for (int site = 0; site < 4; ++site) {
    const CfaClass cls = CfaClassOf(pattern, site >> 1, site & 1);
    colours.push_back(cls == kR ? 0 : cls == kB ? 2 : 1);
  }
  return colours;
}

}  // namespace

std::vector<unsigned char> WriteDng(const DngContents& contents) {
  const std::uint32_t width = static_cast<std::uint32_t>(contents.width);
  const std::uint32_t height = static_cast<std::uint32_t>(contents.height);
  const std::uint32_t samples_per_pixel = contents.linear ? 3 : 1;
  std::vector<unsigned char> strip;
  for (const std::uint16_t sample : contents.samples) {
    for (std::uint32_t s = 0; s < samples_per_pixel; ++s) Put16(strip, sample);
  }

  std::vector<Entry> entries;
  entries.push_back(Longs(254, {0}));
  entries.push_back(Longs(256, {width}));
  entries.push_back(Longs(257, {height}));
  entries.push_back(Shorts(258, std::vector<std::uint32_t>(samples_per_pixel, 16)));
  entries.push_back(Shorts(259, {1}));
  entries.push_back(Shorts(262, {contents.linear ? 34892u : 32803u}));
  entries.push_back(Ascii(271, "Demosaic"));
  entries.push_back(Ascii(272, "Test Sensor"));
  entries.push_back(Longs(273, {0}));  // set below, once the strip's place is known
  entries.push_back(Shorts(274, {1}));
  entries.push_back(Shorts(277, {samples_per_pixel}));
  entries.push_back(Longs(278, {height}));
  entries.push_back(Longs(279, {static_cast<std::uint32_t>(strip.size())}));
  entries.push_back(Shorts(284, {1}));
  if (!contents.linear) {
    entries.push_back(Shorts(33421, {2, 2}));
    entries.push_back(Bytes(33422, TileColours(contents.pattern)));
  }
  entries.push_back(Bytes(50706, {1, 4, 0, 0}));
  entries.push_back(Bytes(50707, {1, 1, 0, 0}));
  entries.push_back(Ascii(50708, "Demosaic Test Sensor"));
  if (!contents.linear) {
    entries.push_back(Bytes(50710, {0, 1, 2}));
    entries.push_back(Shorts(50711, {1}));
  }
  entries.push_back(Shorts(50713, {static_cast<std::uint32_t>(contents.black_rows),
                                   static_cast<std::uint32_t>(contents.black_columns)}));
  std::vector<std::uint32_t> black;
  for (const std::uint16_t level : contents.black_levels) {
    for (std::uint32_t s = 0; s < samples_per_pixel; ++s) black.push_back(level);
  }
  entries.push_back(Shorts(50714, black));
  entries.push_back(
      Shorts(50717, std::vector<std::uint32_t>(samples_per_pixel,
                                               static_cast<std::uint32_t>(contents.white_level))));
  entries.push_back(Rationals(50721, contents.color_matrix.data(), 9, true));
  if (contents.has_as_shot_neutral) {
    entries.push_back(Rationals(50728, contents.as_shot_neutral.data(), 3, false));
  }
  entries.push_back(Shorts(50778, {21}));  // D65
  const std::uint32_t active_width = contents.active_width > 0
                                         ? static_cast<std::uint32_t>(contents.active_width)
                                         : width - static_cast<std::uint32_t>(contents.active_left);
  const std::uint32_t active_height =
      contents.active_height > 0 ? static_cast<std::uint32_t>(contents.active_height)
                                 : height - static_cast<std::uint32_t>(contents.active_top);
  const auto top = static_cast<std::uint32_t>(contents.active_top);
  const auto left = static_cast<std::uint32_t>(contents.active_left);
  if (top != 0 || left != 0 || active_width != width || active_height != height) {
    entries.push_back(Longs(50829, {top, left, top + active_height, left + active_width}));
  }

  // Layout: header (8), IFD, values that do not fit inline, strip.
  const std::size_t ifd_bytes = 2 + 12 * entries.size() + 4;
  std::size_t next_value = 8 + ifd_bytes;
  std::vector<std::size_t> value_offsets;
  for (const Entry& entry : entries) {
    value_offsets.push_back(next_value);
    if (entry.value.size() > 4) next_value += (entry.value.size() + 1) & ~std::size_t{1};
  }
  const std::size_t strip_offset = next_value;
  for (Entry& entry : entries) {
    if (entry.tag == 273) {
      entry.value.clear();
      Put32(entry.value, static_cast<std::uint32_t>(strip_offset));
    }
  }

  std::vector<unsigned char> out = {'I', 'I', 42, 0};
  Put32(out, 8);
  Put16(out, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    Put16(out, entry.tag);
    Put16(out, entry.type);
    Put32(out, entry.count);
    if (entry.value.size() <= 4) {
      std::vector<unsigned char> inline_value = entry.value;
      inline_value.resize(4, 0);
      out.insert(out.end(), inline_value.begin(), inline_value.end());
    } else {
      Put32(out, static_cast<std::uint32_t>(value_offsets[i]));
    }
  }
  Put32(out, 0);
  for (const Entry& entry : entries) {
    if (entry.value.size() <= 4) continue;
    out.insert(out.end(), entry.value.begin(), entry.value.end());
    if (entry.value.size() % 2 != 0) out.push_back(0);
  }
  out.insert(out.end(), strip.begin(), strip.end());
  return out;
}

std::vector<std::uint16_t> TestSensorSamples(std::int32_t width, std::int32_t height,
                                             std::uint32_t seed) {
  std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) *
                                     static_cast<std::size_t>(height));
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    state = state * 1664525u + 1013904223u;  // a plain LCG: reproducible anywhere
    samples[i] = static_cast<std::uint16_t>((state >> 8) % 4096);
    if (i % 97 == 5) samples[i] = 0;
    if (i % 89 == 7) samples[i] = 4095;
  }
  return samples;
}

}  // namespace demosaic::testing
