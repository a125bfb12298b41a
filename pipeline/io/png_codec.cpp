// PNG decoding and encoding of the common kind: inflating and deflating take
// most of the time of reading and writing a reference. libdeflate inflates
// the whole stream at once, faster than zlib's streams; writing deflates with
// DeflateImageRows, made for filtered rows. The chunk structure, the filters
// and the checks are the PNG format's own; what this file does not
// recognise it declines, for OpenCV to decode.
#include "io/png_codec.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <utility>

#include "io/memory.h"
#include "io/run_deflate.h"

namespace demosaic {
namespace {

constexpr std::array<unsigned char, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// libpng's default limit on either side and OpenCV's on the pixels, beyond
// which OpenCV's decoder refuses a file.
constexpr std::uint32_t kMaxSide = 1000000;
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 30;

// More IDAT chunks than any encoder writes for the largest image: the list of
// chunks, 36 bytes each, stays small whatever the file.
constexpr std::size_t kMaxIdatChunks = std::size_t{1} << 18;

std::uint32_t BigEndian32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

void PutBigEndian32(std::uint32_t value, unsigned char* p) {
  p[0] = static_cast<unsigned char>(value >> 24);
  p[1] = static_cast<unsigned char>(value >> 16);
  p[2] = static_cast<unsigned char>(value >> 8);
  p[3] = static_cast<unsigned char>(value);
}

struct Deleters {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One chunk of the file: where its data starts and how long it is.
struct Chunk {
  std::size_t data = 0;
  std::uint32_t length = 0;
  std::string_view type;
};

// What the chunk walk found: the header's fields and the IDAT chunks, in
// file order.
struct Layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Chunk> idat;
};

bool IsAllowedAncillary(std::string_view type) {
  // Lower-case first letter: ancillary, which libpng skips or reads without
  // changing the samples. eXIf is the exception: OpenCV turns the image by
  // the orientation in it.
  return (type[0] & 0x20) != 0 && type != "eXIf";
}

// Walks the chunks, checking each CRC. False for anything but the common
// kind of PNG (see DecodeCommonPng).
bool ReadLayout(std::span<const unsigned char> bytes, Layout& layout) {
  if (bytes.size() < kSignature.size() ||
      !std::equal(kSignature.begin(), kSignature.end(), bytes.begin())) {
    return false;
  }
  std::size_t at = kSignature.size();
  bool idat_ended = false;
  for (bool first = true;; first = false) {
    if (bytes.size() - at < 12) return false;  // no IEND
    Chunk chunk;
    chunk.length = BigEndian32(&bytes[at]);
    if (chunk.length > 0x7FFFFFFFu || bytes.size() - at - 12 < chunk.length) return false;
    chunk.type = std::string_view(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
    chunk.data = at + 8;
    const std::uint32_t stored_crc = BigEndian32(&bytes[chunk.data + chunk.length]);
    if (libdeflate_crc32(0, &bytes[at + 4], chunk.length + 4u) != stored_crc) return false;
    at = chunk.data + chunk.length + 4;

    if (first != (chunk.type == "IHDR")) return false;
    if (chunk.type == "IHDR") {
      if (chunk.length != 13) return false;
      const unsigned char* h = &bytes[chunk.data];
      layout.width = BigEndian32(h);
      layout.height = BigEndian32(h + 4);
      const unsigned char bit_depth = h[8], colour = h[9];
      const unsigned char compression = h[10], filter = h[11], interlace = h[12];
      if (layout.width == 0 || layout.height == 0 || layout.width > kMaxSide ||
          layout.height > kMaxSide || std::uint64_t{layout.width} * layout.height > kMaxPixels ||
          bit_depth != 8 || colour != 2 || compression != 0 || filter != 0 || interlace != 0) {
        return false;
      }
    } else if (chunk.type == "IDAT") {
      if (idat_ended || layout.idat.size() == kMaxIdatChunks) return false;
      layout.idat.push_back(chunk);
    } else if (chunk.type == "IEND") {
      return !layout.idat.empty();
    } else if (!IsAllowedAncillary(chunk.type)) {
      return false;
    }
    if (!layout.idat.empty() && chunk.type != "IDAT") idat_ended = true;
  }
}

// Moves the data of all IDAT chunks together, to where the first one's
// starts, keeping the 12 bytes between each two (a CRC, a length and a type)
// so that MoveIdatApart can put the file back.
std::vector<std::array<unsigned char, 12>> MoveIdatTogether(std::vector<unsigned char>& bytes,
                                                            const std::vector<Chunk>& idat) {
  std::vector<std::array<unsigned char, 12>> seams(idat.size() - 1);
  std::size_t end = idat[0].data + idat[0].length;
  for (std::size_t i = 1; i < idat.size(); ++i) {
    std::memcpy(seams[i - 1].data(), &bytes[idat[i].data - 12], 12);
    std::memmove(&bytes[end], &bytes[idat[i].data], idat[i].length);
    end += idat[i].length;
  }
  return seams;
}

void MoveIdatApart(std::vector<unsigned char>& bytes, const std::vector<Chunk>& idat,
                   const std::vector<std::array<unsigned char, 12>>& seams) {
  std::size_t end = idat[0].data;
  for (const Chunk& chunk : idat) end += chunk.length;
  for (std::size_t i = idat.size() - 1; i >= 1; --i) {
    end -= idat[i].length;
    std::memmove(&bytes[idat[i].data], &bytes[end], idat[i].length);
    std::memcpy(&bytes[idat[i].data - 12], seams[i - 1].data(), 12);
  }
}

// The predictor of the Paeth filter: whichever of left, up and up-left is
// nearest to left + up - up-left, preferring them in that order.
inline unsigned PaethPredictor(unsigned left, unsigned up, unsigned up_left) {
  const int p = static_cast<int>(left + up) - static_cast<int>(up_left);
  const int to_left = std::abs(p - static_cast<int>(left));
  const int to_up = std::abs(p - static_cast<int>(up));
  const int to_up_left = std::abs(p - static_cast<int>(up_left));
  if (to_left <= to_up && to_left <= to_up_left) return left;
  return to_up <= to_up_left ? up : up_left;
}

// Reverses one row's filter: `row` holds the filtered bytes and gets the
// samples; `up` is the previous row's samples (zeros above the first row).
// False for an unknown filter type.
bool Unfilter(unsigned filter, unsigned char* row, const unsigned char* up, std::size_t length,
              std::size_t pixel) {
  switch (filter) {
    case 0:
      return true;
    case 1:
      for (std::size_t i = pixel; i < length; ++i)
        row[i] = static_cast<unsigned char>(row[i] + row[i - pixel]);
      return true;
    case 2:
      for (std::size_t i = 0; i < length; ++i) row[i] = static_cast<unsigned char>(row[i] + up[i]);
      return true;
    case 3:
      for (std::size_t i = 0; i < pixel; ++i)
        row[i] = static_cast<unsigned char>(row[i] + up[i] / 2);
      for (std::size_t i = pixel; i < length; ++i) {
        row[i] = static_cast<unsigned char>(row[i] + (row[i - pixel] + up[i]) / 2);
      }
      return true;
    case 4:
      for (std::size_t i = 0; i < pixel; ++i) row[i] = static_cast<unsigned char>(row[i] + up[i]);
      for (std::size_t i = pixel; i < length; ++i) {
        row[i] = static_cast<unsigned char>(row[i] +
                                            PaethPredictor(row[i - pixel], up[i], up[i - pixel]));
      }
      return true;
    default:
      return false;
  }
}

// Inflates the joined IDAT data into `image`'s buffer, which holds one
// filtered row more than the image at the end, then unfilters row by row
// into B, G, R at the buffer's start: each row is read before any output
// reaches it, since output rows are no longer than filtered ones.
bool InflateAndUnfilter(std::span<const unsigned char> zlib_stream, const Layout& layout,
                        unsigned char* buffer, std::size_t buffer_bytes) {
  const std::size_t samples = 3 * static_cast<std::size_t>(layout.width);
  const std::size_t filtered_row = samples + 1;
  const std::size_t filtered_bytes = filtered_row * layout.height;
  std::unique_ptr<libdeflate_decompressor, Deleters> inflater(libdeflate_alloc_decompressor());
  if (!inflater) throw std::bad_alloc();
  std::size_t used = 0, produced = 0;
  // The filtered rows go to the end of the buffer, so that the output, from
  // its start, never overtakes them.
  unsigned char* filtered = buffer + (buffer_bytes - filtered_bytes);
  if (libdeflate_zlib_decompress_ex(inflater.get(), zlib_stream.data(), zlib_stream.size(),
                                    filtered, filtered_bytes, &used,
                                    &produced) != LIBDEFLATE_SUCCESS ||
      used != zlib_stream.size() || produced != filtered_bytes) {
    return false;
  }
  std::vector<unsigned char> previous(samples, 0), current(samples);
  const std::size_t out_row = 3 * static_cast<std::size_t>(layout.width);
  for (std::size_t y = 0; y < layout.height; ++y) {
    const unsigned char* in = filtered + y * filtered_row;
    std::memcpy(current.data(), in + 1, samples);
    if (!Unfilter(in[0], current.data(), previous.data(), samples, 3)) return false;
    unsigned char* out = buffer + y * out_row;
    const unsigned char* pixel = current.data();
    for (std::size_t x = 0; x < layout.width; ++x, pixel += 3, out += 3) {
      out[0] = pixel[2];
      out[1] = pixel[1];
      out[2] = pixel[0];
    }
    previous.swap(current);
  }
  return true;
}

// A chunk's length and type at `at`, before its data of `length` bytes; the
// CRC after it. Returns where the next chunk starts.
std::size_t CloseChunk(unsigned char* at, const char* type, std::size_t length) {
  PutBigEndian32(static_cast<std::uint32_t>(length), at);
  std::memcpy(at + 4, type, 4);
  const std::uint32_t crc = libdeflate_crc32(0, at + 4, length + 4);
  PutBigEndian32(crc, at + 8 + length);
  return 12 + length;
}

// Filters every row by its left neighbour, as R, G, B, into the layout of
// the zlib stream's input: row y's filter byte at y * (3W + 1), its bytes
// after it. Rows grow by one byte each, so the last row is done first, and
// each row from its right end in pieces copied out and back: nothing is
// written before it has been read.
void FilterSubInPlace(unsigned char* pixels, std::size_t width, std::size_t height) {
  constexpr std::size_t kPiece = 64;  // pixels
  const std::size_t row_bytes = 3 * width;
  for (std::size_t y = height; y-- > 0;) {
    const unsigned char* in = pixels + y * row_bytes;
    unsigned char* out = pixels + y * (row_bytes + 1);
    for (std::size_t end = width; end > 0;) {
      const std::size_t begin = end > kPiece ? end - kPiece : 0;
      const std::size_t count = end - begin;
      // The pixel left of the piece first: zeros left of the row. The
      // differences are taken bytewise and then turned from B, G, R to R, G,
      // B, two loops the compiler vectorises.
      unsigned char source[3 * (kPiece + 1)];
      if (begin > 0) {
        std::memcpy(source, in + 3 * (begin - 1), 3 * (count + 1));
      } else {
        std::memset(source, 0, 3);
        std::memcpy(source + 3, in, 3 * count);
      }
      unsigned char filtered[3 * kPiece];
      for (std::size_t i = 0; i < 3 * count; ++i) {
        filtered[i] = static_cast<unsigned char>(source[i + 3] - source[i]);
      }
      for (std::size_t i = 0; i < 3 * count; i += 3) std::swap(filtered[i], filtered[i + 2]);
      std::memcpy(out + 1 + 3 * begin, filtered, 3 * count);
      end = begin;
    }
    out[0] = 1;  // Sub
  }
}

}  // namespace

cv::Mat DecodeCommonPng(std::vector<unsigned char>& bytes) {
  Layout layout;
  if (!ReadLayout(bytes, layout)) return {};
  const std::size_t width = layout.width, height = layout.height;
  const std::size_t filtered_bytes = (3 * width + 1) * height;
  const std::size_t out_row = 3 * width;
  // The image and then at least one byte a row more, for the filtered rows.
  const std::size_t buffer_bytes = filtered_bytes + out_row;
  const std::size_t rows = (buffer_bytes + out_row - 1) / out_row;
  cv::Mat buffer(static_cast<int>(rows), static_cast<int>(width), CV_8UC3);
  AdviseHugePages(buffer.data, rows * out_row);

  const auto seams = MoveIdatTogether(bytes, layout.idat);
  std::size_t stream_bytes = 0;
  for (const Chunk& chunk : layout.idat) stream_bytes += chunk.length;
  const bool decoded = InflateAndUnfilter({&bytes[layout.idat[0].data], stream_bytes}, layout,
                                          buffer.data, rows * out_row);
  MoveIdatApart(bytes, layout.idat, seams);
  if (!decoded) return {};
  return buffer.rowRange(0, static_cast<int>(height));
}

EncodedFile EncodePngInItsPlace(cv::Mat& image) {
  if (image.empty() || image.type() != CV_8UC3 || !image.isContinuous()) return {};
  const std::size_t width = static_cast<std::size_t>(image.cols);
  const std::size_t height = static_cast<std::size_t>(image.rows);
  const std::size_t filtered_bytes = (3 * width + 1) * height;
  if (static_cast<std::size_t>(image.datalimit - image.data) < filtered_bytes) return {};

  const std::size_t stream_bound = DeflateImageRowsBound(filtered_bytes);
  constexpr std::size_t kIdatData = std::size_t{1} << 20;
  const std::size_t idat_chunks = stream_bound / kIdatData + 1;
  // Signature, IHDR, the IDAT chunks' framing, IEND.
  const std::size_t framing = kSignature.size() + 25 + 12 * idat_chunks + 12;
  EncodedFile file;
  file.bytes.reset(new unsigned char[framing + stream_bound]);
  AdviseHugePages(file.bytes.get(), framing + stream_bound);
  unsigned char* out = file.bytes.get();
  FilterSubInPlace(image.data, width, height);

  std::memcpy(out, kSignature.data(), kSignature.size());
  std::size_t at = kSignature.size();
  unsigned char* header = out + at + 8;
  PutBigEndian32(static_cast<std::uint32_t>(width), header);
  PutBigEndian32(static_cast<std::uint32_t>(height), header + 4);
  const unsigned char fields[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, filters, no interlace
  std::memcpy(header + 8, fields, 5);
  at += CloseChunk(out + at, "IHDR", 13);

  // The stream is deflated to the end of the buffer, then cut into chunks
  // from the front: each chunk's framing fits in the room left before it.
  unsigned char* stream = out + framing;
  const std::size_t stream_bytes = DeflateImageRows({image.data, filtered_bytes}, stream);
  for (std::size_t done = 0; done < stream_bytes;) {
    const std::size_t length = std::min(kIdatData, stream_bytes - done);
    std::memmove(out + at + 8, stream + done, length);
    at += CloseChunk(out + at, "IDAT", length);
    done += length;
  }
  at += CloseChunk(out + at, "IEND", 0);
  file.size = at;
  return file;
}

EncodedFile EncodePng(const cv::Mat& image) {
  if (image.empty() || image.type() != CV_8UC3) return {};
  // The copy's extra rows hold the filtered rows' extra byte each.
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(image.cols);
  const std::size_t spare_rows = (static_cast<std::size_t>(image.rows) + row_bytes - 1) / row_bytes;
  cv::Mat buffer(image.rows + static_cast<int>(spare_rows), image.cols, CV_8UC3);
  AdviseHugePages(buffer.data, buffer.total() * buffer.elemSize());
  cv::Mat copy = buffer.rowRange(0, image.rows);
  image.copyTo(copy);
  return EncodePngInItsPlace(copy);
}

}  // namespace demosaic
