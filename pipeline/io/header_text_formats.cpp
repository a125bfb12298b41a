// The formats whose headers are text: PBM/PGM/PPM, PFM, PAM and Radiance
// HDR. Each is read the way the image library's decoder reads it (where a
// number ends, what counts as a comment, how long a line may be), so that a
// header it accepts is never one this reader misses: zero-padded numbers,
// tabs, comments and headers of any length included.
#include <algorithm>
#include <climits>
#include <string_view>

#include "io/header_formats.h"

namespace demosaic::header {
namespace {

bool IsSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// The value a C library's conversion to int gives for the digits at `at`
// with an optional sign: the long value, clamped to the range of long as
// strtol clamps it, then cut to 32 bits as the conversion to int does. Moves
// `at` past what it read; nothing without a digit.
std::optional<std::int64_t> CInt(Bytes b, std::size_t& at, std::size_t end) {
  bool negative = false;
  if (at < end && (b[at] == '+' || b[at] == '-')) negative = b[at++] == '-';
  if (at >= end || !IsDigit(b[at])) return std::nullopt;
  std::uint64_t magnitude = 0;
  bool clamped = false;
  for (; at < end && IsDigit(b[at]); ++at) {
    if (magnitude > (std::uint64_t{1} << 63) / 10) clamped = true;
    if (!clamped) magnitude = magnitude * 10 + (b[at] - '0');
  }
  std::int64_t value = 0;
  if (negative) {
    value = clamped || magnitude > (std::uint64_t{1} << 63)
                ? INT64_MIN
                : static_cast<std::int64_t>(0 - magnitude);
  } else {
    value = clamped || magnitude > static_cast<std::uint64_t>(INT64_MAX)
                ? INT64_MAX
                : static_cast<std::int64_t>(magnitude);
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// A dimension the decoder would use: none that is not positive.
std::uint64_t Dimension(std::int64_t value) {
  return value > 0 ? static_cast<std::uint64_t>(value) : 0;
}

// Digits at `at`, saturating far beyond any decodable size.
std::optional<std::uint64_t> Digits(Bytes b, std::size_t& at, std::size_t end) {
  if (at >= end || !IsDigit(b[at])) return std::nullopt;
  std::uint64_t value = 0;
  for (; at < end && IsDigit(b[at]); ++at) {
    value = std::min(Add(Mul(value, 10), b[at] - '0'), std::uint64_t{1} << 40);
  }
  return value;
}

// PFM: "PF" (colour) or "Pf" (grey), a line break, then width, height and
// scale, each the characters up to the next white space.
std::optional<DeclaredSize> PfmSize(Bytes b) {
  if (b.size() < 3 || b[2] != '\n') return std::nullopt;
  std::size_t at = 3;
  std::int64_t values[2] = {0, 0};
  for (std::int64_t& value : values) {
    const std::size_t start = at;
    // The decoder takes up to 2048 characters and stops at white space,
    // which it consumes.
    while (at < b.size() && at - start < 2048 && !IsSpace(b[at])) ++at;
    if (at >= b.size()) return std::nullopt;
    std::size_t digits_at = start;
    value = CInt(b, digits_at, at).value_or(0);
    if (at - start < 2048) ++at;
  }
  // The decoder reads the whole image as floating point into a buffer, then
  // converts it into an image of the same kind; the 8-bit conversion follows.
  const bool colour = b[1] == 'F';
  return Declared(Dimension(values[0]), Dimension(values[1]), colour ? 12 + 12 : 4 + 12);
}

}  // namespace

// P1 to P6: "P<n>", then width and height as decimal text separated by
// white space, with '#' comments running to the line end. PFM has a layout
// of its own.
std::optional<DeclaredSize> PnmSize(Bytes b) {
  if (b.size() >= 2 && (b[1] == 'F' || b[1] == 'f')) return PfmSize(b);
  std::size_t at = 2;
  // Width, height and, but for the bitmaps (P1, P4), the largest sample
  // value: above 255 the samples take 16 bits and are decoded at that depth
  // (6 bytes a pixel) before being reduced to 8.
  std::uint64_t values[3] = {0, 0, 0};
  const bool bitmap = b[1] == '1' || b[1] == '4';
  for (std::uint64_t& value : values) {
    if (&value == &values[2] && bitmap) break;
    while (at < b.size()) {
      if (b[at] == '#') {
        while (at < b.size() && b[at] != '\n' && b[at] != '\r') ++at;
      } else if (IsSpace(b[at])) {
        ++at;
      } else {
        break;
      }
    }
    const std::optional<std::uint64_t> digits = Digits(b, at, b.size());
    if (!digits) {
      if (&value == &values[2]) break;
      return std::nullopt;
    }
    value = *digits;
  }
  return Declared(values[0], values[1], values[2] > 255 ? 6 + 3 : 3);
}

// PAM ("P7"): lines of "KEYWORD value" up to ENDHDR. A keyword is at most 8
// characters ending in any white space; a value runs to the line end; '#'
// starts a comment; white space, line breaks included, may come before
// either. WIDTH and HEIGHT may each appear once.
std::optional<DeclaredSize> PamSize(Bytes b) {
  if (b.size() < 3 || (b[2] != '\n' && b[2] != '\r')) return std::nullopt;
  std::optional<std::uint64_t> width;
  std::optional<std::uint64_t> height;
  std::optional<std::uint64_t> maxval;
  std::size_t at = 3;
  while (true) {
    while (at < b.size() && IsSpace(b[at])) ++at;
    if (at >= b.size()) return std::nullopt;
    if (b[at] == '#') {
      while (at < b.size() && b[at] != '\n' && b[at] != '\r') ++at;
      continue;
    }
    const std::size_t keyword_at = at;
    while (at < b.size() && at - keyword_at < 8 && !IsSpace(b[at])) ++at;
    if (at >= b.size() || !IsSpace(b[at])) return std::nullopt;
    const std::string_view keyword(reinterpret_cast<const char*>(b.data() + keyword_at),
                                   at - keyword_at);
    if (keyword == "ENDHDR") break;
    std::optional<std::uint64_t>* field = keyword == "WIDTH"    ? &width
                                          : keyword == "HEIGHT" ? &height
                                          : keyword == "MAXVAL" ? &maxval
                                                                : nullptr;
    // The value: after any white space, up to the line end (at most 255
    // characters). A keyword directly followed by a line break has none.
    std::size_t value_at = at;
    if (b[at] != '\n' && b[at] != '\r') {
      ++at;
      while (at < b.size() && IsSpace(b[at])) ++at;
      value_at = at;
      while (at < b.size() && at - value_at < 255 && b[at] != '\n' && b[at] != '\r') ++at;
      if (at >= b.size() || (b[at] != '\n' && b[at] != '\r')) return std::nullopt;
    }
    if (field != nullptr) {
      // The decoder refuses a repeated size; a repeated MAXVAL counts with
      // its largest value.
      if (field != &maxval && field->has_value()) return std::nullopt;
      std::size_t digits_at = value_at;
      const bool negative = digits_at < at && b[digits_at] == '-';
      if (negative) ++digits_at;
      const std::uint64_t value = negative ? 0 : Digits(b, digits_at, at).value_or(0);
      *field = std::max(field->value_or(0), value);
    }
    ++at;
  }
  if (!width || !height) return std::nullopt;
  // Samples above 255 take 16 bits, decoded at that depth (6 bytes a
  // pixel) before being reduced to 8.
  return Declared(*width, *height, maxval.value_or(0) > 255 ? 6 + 3 : 3);
}

// Radiance HDR, as its decoder reads it with fgets into 128 bytes: the first
// line, then header lines up to one that starts with a line break, then the
// resolution line, which must read "-Y <height> +X <width>". A line longer
// than 127 characters comes in several pieces, each checked on its own.
std::optional<DeclaredSize> RadianceSize(Bytes b) {
  std::size_t at = 0;
  // The next piece fgets would return: [start, end).
  const auto next_piece = [&](std::size_t& start, std::size_t& end) {
    if (at >= b.size()) return false;
    start = at;
    while (at < b.size() && at - start < 127) {
      if (b[at++] == '\n') break;
    }
    end = at;
    return true;
  };
  std::size_t start = 0;
  std::size_t end = 0;
  if (!next_piece(start, end)) return std::nullopt;  // "#?RADIANCE" or the like
  do {
    if (!next_piece(start, end)) return std::nullopt;
  } while (b[start] != '\n');
  if (!next_piece(start, end)) return std::nullopt;
  // The C string ends at the first zero byte.
  end = static_cast<std::size_t>(std::find(b.begin() + start, b.begin() + end, 0) - b.begin());
  std::size_t i = start;
  const auto literal = [&](char c) { return i < end && b[i++] == static_cast<unsigned char>(c); };
  const auto spaces = [&] {
    while (i < end && IsSpace(b[i])) ++i;
  };
  if (!literal('-') || !literal('Y')) return std::nullopt;
  spaces();
  const std::optional<std::int64_t> height = CInt(b, i, end);
  if (!height) return std::nullopt;
  spaces();
  if (!literal('+') || !literal('X')) return std::nullopt;
  spaces();
  const std::optional<std::int64_t> width = CInt(b, i, end);
  if (!width) return std::nullopt;
  // The decoder reads the pixels as floating point, then converts them to
  // the 8-bit image.
  return Declared(Dimension(*width), Dimension(*height), 12 + 3, Mul(Dimension(*width), 4));
}

}  // namespace demosaic::header
