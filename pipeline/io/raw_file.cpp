// Unpacking camera raw files with LibRaw, and the half-size reference made
// from them. LibRaw is asked for the sensor's samples and the file's fields
// only (open, unpack, imgdata); nothing of its processing is called.
#include "io/raw_file.h"

#include <libraw.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <new>
#include <numeric>
#include <opencv2/core.hpp>

#include "io/memory.h"

namespace demosaic {
namespace {

Error Unreadable(std::string detail) {
  return {ErrorKind::kUnreadable, std::move(detail)};
}

// What a failed LibRaw call means for the user.
Error LibRawError(int code) {
  switch (code) {
    case LIBRAW_UNSUFFICIENT_MEMORY:
    case LIBRAW_MEMPOOL_OVERFLOW:
      return {ErrorKind::kOutOfMemory, ""};
    case LIBRAW_FILE_UNSUPPORTED:
      return Unreadable("is not a raw file LibRaw reads");
    case LIBRAW_TOO_BIG:
      return Unreadable("is larger than LibRaw unpacks");
    default:
      return Unreadable("is cut short or corrupt");
  }
}

// The colour index (into idata.cdesc) LibRaw's filter description gives
// site (row, column) of the visible area.
int FilterColour(unsigned filters, int row, int column) {
  return static_cast<int>(filters >> ((((row << 1) & 14) | (column & 1)) << 1) & 3);
}

// Why the opened file is not a plain red, green and blue Bayer mosaic, or
// empty when it is one; `pattern` receives its tile.
std::string NotBayerReason(LibRaw& processor, BayerPattern& pattern) {
  const libraw_iparams_t& idata = processor.imgdata.idata;
  const std::string prefix = "is not a Bayer mosaic: ";
  if (idata.is_foveon) return prefix + "a Foveon sensor";
  if (idata.filters == 9) return prefix + "an X-Trans sensor";
  if (processor.is_sraw()) return prefix + "sRAW, several samples per site";
  if (idata.filters == 0) {
    return prefix + "no colour filter pattern (a linear DNG or several samples per site)";
  }
  if (idata.filters < 1000) return prefix + "a colour filter pattern larger than 2 x 2";
  if (processor.is_fuji_rotated()) return prefix + "a rotated (SuperCCD) sensor";
  if (processor.is_floating_point()) return prefix + "floating-point samples";
  // The filter word describes 8 rows of 2 columns: a 2 x 2 tile repeats
  // every second row.
  for (int row = 2; row < 8; ++row) {
    for (int column = 0; column < 2; ++column) {
      if (FilterColour(idata.filters, row, column) !=
          FilterColour(idata.filters, row & 1, column)) {
        return prefix + "a colour filter pattern larger than 2 x 2";
      }
    }
  }
  std::string tile;
  for (int site = 0; site < 4; ++site) {
    const int colour = FilterColour(idata.filters, site >> 1, site & 1);
    tile += static_cast<char>(std::toupper(static_cast<unsigned char>(idata.cdesc[colour])));
  }
  const std::optional<BayerPattern> parsed = ParsePattern(tile);
  if (!parsed) return prefix + "the colours " + tile;
  pattern = *parsed;
  return "";
}

std::int32_t Lcm2(std::int32_t n) {
  return std::lcm(2, n);
}

// Every site's black level over one repeat of tile and black pattern (see
// RawMosaic::black_levels); empty when a level exceeds 16 bits.
bool ReadBlackLevels(LibRaw& processor, RawMosaic& raw) {
  const libraw_colordata_t& color = processor.imgdata.color;
  // A repeating pattern of pattern_rows x pattern_columns entries after the
  // six leading fields, where the file gives one.
  const unsigned pattern_rows = color.cblack[4];
  const unsigned pattern_columns = color.cblack[5];
  const bool has_pattern = pattern_rows > 0 && pattern_columns > 0 && pattern_rows <= 64 &&
                           pattern_columns <= 64 &&
                           6 + pattern_rows * pattern_columns <= LIBRAW_CBLACK_SIZE;
  raw.black_rows = has_pattern ? Lcm2(static_cast<std::int32_t>(pattern_rows)) : 2;
  raw.black_columns = has_pattern ? Lcm2(static_cast<std::int32_t>(pattern_columns)) : 2;
  raw.black_levels.assign(static_cast<std::size_t>(raw.black_rows * raw.black_columns), 0);
  for (std::int32_t row = 0; row < raw.black_rows; ++row) {
    for (std::int32_t column = 0; column < raw.black_columns; ++column) {
      std::uint64_t level = color.black;
      level += color.cblack[FilterColour(processor.imgdata.idata.filters, row, column)];
      if (has_pattern) {
        level += color.cblack[6 + (static_cast<unsigned>(row) % pattern_rows) * pattern_columns +
                              static_cast<unsigned>(column) % pattern_columns];
      }
      if (level > 65535) return false;
      raw.black_levels[static_cast<std::size_t>(row * raw.black_columns + column)] =
          static_cast<std::int32_t>(level);
    }
  }
  return true;
}

// The as-shot multipliers of red, green and blue, green's 1; zeros when the
// file gives none (LibRaw leaves 0 or a negative marker).
std::array<double, 3> AsShotMultipliers(const libraw_colordata_t& color) {
  std::array<double, 3> multipliers{};
  const double green = color.cam_mul[1];
  for (int c = 0; c < 3; ++c) {
    const double m = color.cam_mul[c];
    if (!std::isfinite(m) || m <= 0 || !std::isfinite(green) || green <= 0) return {};
    multipliers[static_cast<std::size_t>(c)] = m / green;
  }
  return multipliers;
}

// LibRaw's camera-to-sRGB matrix with each row scaled to sum 1; all zero
// when a row sums to nothing usable.
std::array<std::array<double, 3>, 3> CameraToSrgb(const libraw_colordata_t& color) {
  std::array<std::array<double, 3>, 3> matrix{};
  for (std::size_t i = 0; i < 3; ++i) {
    const double sum =
        static_cast<double>(color.rgb_cam[i][0]) + color.rgb_cam[i][1] + color.rgb_cam[i][2];
    if (!std::isfinite(sum) || std::fabs(sum) < 1e-6) return {};
    for (std::size_t j = 0; j < 3; ++j) matrix[i][j] = color.rgb_cam[i][j] / sum;
  }
  return matrix;
}

// The site's sample less its black, within 0 .. white.
std::uint16_t BlackSubtracted(const RawMosaic& raw, std::int32_t row, std::int32_t column,
                              std::int32_t white) {
  const std::int32_t value =
      raw.samples[static_cast<std::size_t>(row) * static_cast<std::size_t>(raw.width) +
                  static_cast<std::size_t>(column)] -
      BlackLevelAt(raw, row, column);
  return static_cast<std::uint16_t>(std::clamp(value, 0, white));
}

}  // namespace

std::int32_t BlackLevelAt(const RawMosaic& raw, std::int32_t row, std::int32_t column) {
  return raw.black_levels[static_cast<std::size_t>((row % raw.black_rows) * raw.black_columns +
                                                   column % raw.black_columns)];
}

std::int32_t SmallestBlackLevel(const RawMosaic& raw) {
  return *std::min_element(raw.black_levels.begin(), raw.black_levels.end());
}

bool HasRawExtension(std::string_view path) {
  static constexpr std::array<std::string_view, 23> kExtensions = {
      ".dng", ".cr2", ".cr3", ".crw", ".nef", ".nrw", ".arw", ".srf",
      ".sr2", ".raf", ".orf", ".rw2", ".rwl", ".pef", ".srw", ".3fr",
      ".iiq", ".mos", ".mrw", ".dcr", ".kdc", ".erf", ".raw"};
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return false;
  }
  std::string extension(path.substr(dot));
  for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

Expected<RawMosaic> UnpackRawFileHere(std::span<const unsigned char> bytes,
                                      const RunMemory& memory) {
  if (bytes.empty()) return Unreadable("is not a raw file LibRaw reads");
  try {
    // LibRaw's state is large (hundreds of kilobytes): kept off the stack.
    auto processor = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    // Without handlers LibRaw prints nothing; a data error is then counted,
    // and an unexpected end of file fails the unpacking.
    processor->set_dataerror_handler(nullptr, nullptr);
    processor->set_memerror_handler(nullptr, nullptr);
    // LibRaw only reads the buffer it is given, though its declaration asks
    // for a writable one.
    void* const buffer = const_cast<unsigned char*>(bytes.data());
    if (const int code = processor->open_buffer(buffer, bytes.size()); code != LIBRAW_SUCCESS) {
      return LibRawError(code);
    }
    RawMosaic raw;
    if (std::string reason = NotBayerReason(*processor, raw.pattern); !reason.empty()) {
      return Unreadable(std::move(reason));
    }
    const libraw_image_sizes_t& sizes = processor->imgdata.sizes;
    if (sizes.width < 1 || sizes.height < 1) return Unreadable("is cut short or corrupt");
    const std::uint64_t counted_sites = std::uint64_t{sizes.width} * sizes.height;
    // LibRaw's raw buffer, the visible copy and the run, counted at once
    // before anything large is allocated; the file's bytes are held meanwhile.
    const std::size_t raw_buffer =
        SaturatingProduct(std::uint64_t{sizes.raw_width} * sizes.raw_height, sizeof(std::uint16_t));
    const std::size_t visible =
        SaturatingProduct(std::uint64_t{sizes.width} * sizes.height, sizeof(std::uint16_t));
    const std::size_t run = SaturatingSum(
        SaturatingProduct(std::uint64_t{sizes.width} * sizes.height, memory.bytes_per_pixel),
        SaturatingProduct(sizes.width, memory.bytes_per_column));
    const std::size_t needed =
        SaturatingSum(SaturatingSum(bytes.size(), raw_buffer), SaturatingSum(visible, run));
    if (needed > MemoryLeft(memory)) return Error{ErrorKind::kOutOfMemory, ""};

    if (const int code = processor->unpack(); code != LIBRAW_SUCCESS) return LibRawError(code);
    if (processor->error_count() > 0) return Unreadable("is cut short or corrupt");
    const libraw_rawdata_t& rawdata = processor->imgdata.rawdata;
    if (rawdata.raw_image == nullptr) {
      return Unreadable("is not a Bayer mosaic: several samples per site");
    }
    // Unpacking may settle the sizes and the filter description: both are
    // read again from what it left.
    if (std::string reason = NotBayerReason(*processor, raw.pattern); !reason.empty()) {
      return Unreadable(std::move(reason));
    }
    const libraw_image_sizes_t& unpacked = processor->imgdata.sizes;
    const std::size_t pitch = unpacked.raw_pitch / sizeof(std::uint16_t);
    if (unpacked.width < 1 || unpacked.height < 1 ||
        unpacked.top_margin + unpacked.height > unpacked.raw_height ||
        unpacked.left_margin + unpacked.width > unpacked.raw_width || pitch < unpacked.raw_width ||
        std::uint64_t{unpacked.width} * unpacked.height > counted_sites) {
      return Unreadable("is cut short or corrupt");
    }
    raw.width = unpacked.width;
    raw.height = unpacked.height;
    raw.samples.resize(static_cast<std::size_t>(raw.width) * static_cast<std::size_t>(raw.height));
    for (std::int32_t row = 0; row < raw.height; ++row) {
      const std::uint16_t* from = rawdata.raw_image +
                                  (static_cast<std::size_t>(row) + unpacked.top_margin) * pitch +
                                  unpacked.left_margin;
      std::copy(from, from + raw.width,
                raw.samples.begin() + static_cast<std::ptrdiff_t>(row) * raw.width);
    }
    const libraw_colordata_t& color = processor->imgdata.color;
    if (color.maximum < 1 || color.maximum > 65535) {
      return Unreadable("has a white level outside 1 .. 65535");
    }
    raw.white_level = static_cast<std::int32_t>(color.maximum);
    if (!ReadBlackLevels(*processor, raw) || SmallestBlackLevel(raw) >= raw.white_level) {
      return Unreadable("has a black level not below its white level");
    }
    raw.as_shot_multipliers = AsShotMultipliers(color);
    raw.camera_to_srgb = CameraToSrgb(color);
    return raw;
  } catch (const std::bad_alloc&) {
    return Error{ErrorKind::kOutOfMemory, ""};
  }
}

Expected<RawMosaic> UnpackRawFile(ImageSource& source, const RunMemory& memory) {
  // The bytes stay held while LibRaw reads them, and go when this returns.
  struct Release {
    ImageSource& source;
    ~Release() { std::vector<unsigned char>().swap(source.bytes); }
  } release{source};
  return UnpackRawFileApart(source.bytes, memory);
}

Expected<RawMosaic> UnpackRawFileAt(const std::string& path, const RunMemory& memory) {
  Expected<ImageSource> source = OpenImageSource(path, MemoryLeft(memory));
  if (!source.ok()) return Error{source.error().kind, "cannot be read"};
  return UnpackRawFile(source.value(), memory);
}

Expected<DeepImage> HalfSizeReference(const RawMosaic& raw, RawWhiteBalance balance) {
  const std::int32_t width = raw.width / 2;
  const std::int32_t height = raw.height / 2;
  if (width < 1 || height < 1) return Error{ErrorKind::kTooSmall, ""};
  const bool balanced = balance == RawWhiteBalance::kCamera;
  if (balanced && raw.as_shot_multipliers[1] <= 0) {
    return Unreadable("has no as-shot white balance");
  }
  const std::int32_t white = raw.white_level - SmallestBlackLevel(raw);
  const RedSite red = RedSiteOf(raw.pattern);
  DeepImage reference;
  reference.white_level = white;
  try {
    reference.image.create(height, width, CV_16UC3);
  } catch (const cv::Exception&) {
    return OutOfMemoryOrRethrow();
  }
  // Multiplies one channel by its as-shot multiplier within the white level.
  const auto scaled = [&](std::uint16_t value, std::size_t channel) -> std::uint16_t {
    if (!balanced) return value;
    const double product = std::round(value * raw.as_shot_multipliers[channel]);
    return static_cast<std::uint16_t>(std::min(product, static_cast<double>(white)));
  };
  for (std::int32_t y = 0; y < height; ++y) {
    auto* out = reference.image.ptr<std::uint16_t>(y);
    for (std::int32_t x = 0; x < width; ++x) {
      const std::int32_t top = 2 * y;
      const std::int32_t left = 2 * x;
      // The quad's red and blue sites; its greens are the other two.
      const std::uint16_t r = BlackSubtracted(raw, top + red.row, left + red.column, white);
      const std::uint16_t b = BlackSubtracted(raw, top + 1 - red.row, left + 1 - red.column, white);
      const std::uint16_t g1 = BlackSubtracted(raw, top + red.row, left + 1 - red.column, white);
      const std::uint16_t g2 = BlackSubtracted(raw, top + 1 - red.row, left + red.column, white);
      const auto g = static_cast<std::uint16_t>((g1 + g2 + 1) >> 1);
      out[3 * x + 0] = scaled(b, 2);
      out[3 * x + 1] = scaled(g, 1);
      out[3 * x + 2] = scaled(r, 0);
    }
  }
  return reference;
}

Expected<cv::Mat> BlackSubtractedMosaic(const RawMosaic& raw) {
  const std::int32_t white = raw.white_level - SmallestBlackLevel(raw);
  cv::Mat mosaic;
  try {
    mosaic.create(raw.height, raw.width, CV_16UC1);
  } catch (const cv::Exception&) {
    return OutOfMemoryOrRethrow();
  }
  for (std::int32_t row = 0; row < raw.height; ++row) {
    auto* out = mosaic.ptr<std::uint16_t>(row);
    for (std::int32_t column = 0; column < raw.width; ++column) {
      out[column] = BlackSubtracted(raw, row, column, white);
    }
  }
  return mosaic;
}

}  // namespace demosaic
