// Small DNG files written by the tests themselves (no camera's files are
// available here): an uncompressed little-endian TIFF of one IFD holding a
// known 16-bit mosaic and the DNG tags a raw reader needs: the CFA pattern,
// black and white levels, the as-shot neutral and a colour matrix.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "demosaic/bayer.h"

namespace demosaic::testing {

struct DngContents {
  // The whole sensor, masked margins included; samples row-major.
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint16_t> samples;
  // The tile at the active area's top-left site.
  BayerPattern pattern = BayerPattern::kRGGB;
  // The active (visible) area: its top-left site and size; a width or
  // height of 0 runs to the sensor's edge. No ActiveArea tag is written
  // for the whole sensor.
  std::int32_t active_top = 0;
  std::int32_t active_left = 0;
  std::int32_t active_width = 0;
  std::int32_t active_height = 0;
  // BlackLevel repeating over black_rows x black_columns sites from the
  // active area's top-left (BlackLevelRepeatDim).
  std::int32_t black_rows = 1;
  std::int32_t black_columns = 1;
  std::vector<std::uint16_t> black_levels{64};
  std::int32_t white_level = 4095;
  // AsShotNeutral (camera values of a neutral grey), written when set.
  bool has_as_shot_neutral = true;
  std::array<double, 3> as_shot_neutral{0.5, 1.0, 0.8};
  // ColorMatrix1 (XYZ to camera, row-major) for D65; the default is the
  // inverse of sRGB's matrix, so that camera values are linear sRGB.
  std::array<double, 9> color_matrix{3.2404542, -1.5371385, -0.4985314, -0.9692660, 1.8760108,
                                     0.0415560, 0.0556434,  -0.2040259, 1.0572252};
  // A linear DNG instead: three samples per site (each the mosaic's
  // sample), photometric LinearRaw, no CFA tags.
  bool linear = false;
};

// The DNG file's bytes.
std::vector<unsigned char> WriteDng(const DngContents& contents);

// A width x height sensor of 12-bit samples from a fixed generator (the
// same for the same seed), every value in black .. 4095 but for a few at 0
// and 4095 to reach the bounds.
std::vector<std::uint16_t> TestSensorSamples(std::int32_t width, std::int32_t height,
                                             std::uint32_t seed);

}  // namespace demosaic::testing
