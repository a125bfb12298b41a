// Camera raw files (DNG, CR2/CR3, NEF, ARW, RAF, ORF, RW2, PEF, ...) as
// Bayer mosaics: LibRaw unpacks the sensor's samples and reads the file's
// metadata; every reconstruction and every colour step is this project's own.
// Only files whose sensor is a plain 2 x 2 Bayer mosaic of red, green and
// blue, one sample per site, are taken.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "demosaic/bayer.h"
#include "evaluation/image_loading.h"
#include "io/image_files.h"
#include "io/status.h"

namespace demosaic {

// A raw file's visible area as the sensor recorded it, and what the file says
// about it.
struct RawMosaic {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // width x height samples, row-major, the black level still in them.
  std::vector<std::uint16_t> samples;
  // The 2 x 2 tile as it falls at the visible area's top-left site.
  BayerPattern pattern = BayerPattern::kRGGB;
  // The black level of every site: black_levels[(r % black_rows) *
  // black_columns + c % black_columns] for site (r, c) of the visible area.
  // Each entry is the file's common black, plus the black of the site's
  // colour, plus, where the file gives a repeating black pattern (a DNG's
  // BlackLevelRepeatDim), the pattern's entry at the site, counted from the
  // visible area's top-left. black_rows and black_columns are even.
  std::int32_t black_rows = 2;
  std::int32_t black_columns = 2;
  std::vector<std::int32_t> black_levels;
  // The largest value the sensor records (LibRaw's maximum), black included.
  std::int32_t white_level = 0;
  // The as-shot white balance as multipliers of red, green and blue, green's
  // 1; all 0 when the file has none.
  std::array<double, 3> as_shot_multipliers{};
  // Camera red, green, blue to linear sRGB: srgb[i] = sum_j m[i][j] cam[j];
  // each row sums to 1, so that camera white stays white.
  std::array<std::array<double, 3>, 3> camera_to_srgb{};
};

// The black level of site (row, column) of the visible area.
std::int32_t BlackLevelAt(const RawMosaic& raw, std::int32_t row, std::int32_t column);

// The least black level of any site: the white level less it is the largest
// value a black-subtracted sample can take.
std::int32_t SmallestBlackLevel(const RawMosaic& raw);

// The raw file extensions LibRaw's Bayer formats come in (.dng .cr2 .cr3
// .crw .nef .nrw .arw .srf .sr2 .raf .orf .rw2 .rwl .pef .srw .3fr .iiq .mos
// .mrw .dcr .kdc .erf .raw), in any letter case.
bool HasRawExtension(std::string_view path);

// Unpacks the raw file held in `source` (its bytes, read once; they are
// released before returning), in a child process (UnpackRawFileApart). `memory` is the caller's
// run: bytes_per_pixel per site of the visible area, bytes_per_column per column of it. Errors:
// - kUnreadable, with the reason in the detail: a file LibRaw does not take
//   as raw ("is not a raw file LibRaw reads"), a file cut short or whose
//   data LibRaw cannot decode ("is cut short or corrupt"), a sensor that is
//   not a plain Bayer mosaic ("is not a Bayer mosaic: X-Trans" and the like:
//   X-Trans, Foveon, linear DNG, sRAW, more than one sample per site, four
//   colours), a white level not above the black level;
// - kOutOfMemory, before unpacking, when the file's bytes, LibRaw's raw
//   buffer (as large as the whole sensor, margins included), the visible
//   area's copy and `memory`'s run on the visible area do not fit in
//   MemoryLeft(memory); and when an allocation fails while unpacking.
// Never prints (LibRaw's messages on bad data are turned off).
Expected<RawMosaic> UnpackRawFile(ImageSource& source, const RunMemory& memory);

// UnpackRawFile's work on `bytes`, in this process: what the child process
// of UnpackRawFileApart runs. A file made to crash LibRaw crashes the
// caller: call it only where that is what is wanted.
Expected<RawMosaic> UnpackRawFileHere(std::span<const unsigned char> bytes,
                                      const RunMemory& memory);

// UnpackRawFileHere run in a child process, its result passed back through a
// pipe: LibRaw has crashed on crafted files, and such a crash ends the child
// alone. A child that dies (a signal, or an incomplete result) gives
// kUnreadable "is corrupt: LibRaw failed on it". Safe to call from any
// thread; the child runs LibRaw alone and never returns into the caller's
// code.
Expected<RawMosaic> UnpackRawFileApart(std::span<const unsigned char> bytes,
                                       const RunMemory& memory);

// Reads the file at `path` whole (kUnreadable "cannot be read" as
// LoadImageFile says it) and unpacks it.
Expected<RawMosaic> UnpackRawFileAt(const std::string& path, const RunMemory& memory);

// A 16-bit B, G, R image and the largest value its samples may take.
struct DeepImage {
  cv::Mat image;  // CV_16UC3, contiguous
  std::int32_t white_level = 0;
};

// Whether the half-size reference applies the file's as-shot white balance.
enum class RawWhiteBalance { kNone, kCamera };

// The half-size reference of a raw file: each sample less its site's black
// level (negative values become 0), then each 2 x 2 quad aligned to the
// visible area's top-left as one pixel of red, (green1 + green2 + 1) >> 1 and
// blue; a trailing odd row or column is dropped. The white level is the
// file's less SmallestBlackLevel, and no sample exceeds it. With kCamera
// each channel v becomes min(W, round(v * m)), m the channel's as-shot
// multiplier (green's 1), halves rounded away from zero. Errors: kTooSmall
// for a visible area under 2 x 2; kUnreadable "has no as-shot white balance"
// for kCamera on a file that has none; kOutOfMemory.
Expected<DeepImage> HalfSizeReference(const RawMosaic& raw, RawWhiteBalance balance);

// The visible area less its black levels (negative values 0, nothing above
// the white level), as a CV_16UC1 mosaic of raw.pattern whose white level is
// the file's less SmallestBlackLevel. kOutOfMemory when it cannot be made.
Expected<cv::Mat> BlackSubtractedMosaic(const RawMosaic& raw);

}  // namespace demosaic
