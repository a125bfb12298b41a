// libFuzzer target for the demosaicing engine: random sizes from 1 x 1 to
// 64 x 64, random tiles and random mosaics. Every input is reconstructed by
// the plain statement of the rules and by the engine with band heights 1, 2,
// 3, 5 and the whole image on 1 to 4 threads; all must agree byte for byte.
// It also checks what holds for any input: the frame is black and every
// interior sample comes back unchanged in its own channel. Buffers have their
// exact sizes, so the address sanitizer sees any access outside them.
//
// Inputs whose third byte has bit 2 set are 16-bit mosaics instead (bits 3
// and 4 pick the white level, 1023 to 65535; samples are byte pairs): each
// is compared with the plain rules with its samples taken modulo W + 1, and
// reconstructed once more as given, samples above W included, which must
// stay within the buffers and give outputs within 0 .. W.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "demosaic/demosaic.h"
#include "support/plain_method.h"

namespace {

using demosaic::BayerPattern;

[[noreturn]] void Fail(const char* what, std::int32_t width, std::int32_t height,
                       BayerPattern pattern, std::int32_t r, std::int32_t c) {
  std::fprintf(stderr, "engine fuzzer: %s (image %d x %d, tile %s, site row %d column %d)\n", what,
               width, height, std::string(demosaic::PatternName(pattern)).c_str(), r, c);
  std::abort();
}

constexpr BayerPattern kPatterns[] = {BayerPattern::kGRBG, BayerPattern::kRGGB, BayerPattern::kBGGR,
                                      BayerPattern::kGBRG};

constexpr std::int32_t kWhiteLevels[] = {1023, 4095, 16383, 65535};

std::vector<std::uint16_t> Reconstruct16(const std::vector<std::uint16_t>& mosaic,
                                         std::int32_t width, std::int32_t height,
                                         BayerPattern pattern, std::int32_t white,
                                         const demosaic::ReconstructionOptions& options) {
  std::vector<std::uint16_t> output(3 * mosaic.size(), 0xA5A5);
  demosaic::ReconstructFromMosaic(
      demosaic::MakeMosaicView(mosaic, width, height, pattern, 0, white),
      demosaic::MakeImageView(output, width, height, 0, demosaic::ChannelOrder::kBGR, white),
      options);
  return output;
}

void CheckSixteenBit(const std::uint8_t* data, std::size_t size, std::int32_t width,
                     std::int32_t height, BayerPattern pattern) {
  const std::int32_t white = kWhiteLevels[(data[2] >> 3) % 4];
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<std::uint16_t> raw(sites, 0);
  if (size > 4) {
    const std::size_t pairs = (size - 3) / 2;
    for (std::size_t i = 0; i < sites; ++i) {
      const std::size_t at = 3 + 2 * (i % pairs);
      raw[i] = static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
    }
  }
  std::vector<std::uint16_t> within(raw);
  for (std::uint16_t& v : within) v = static_cast<std::uint16_t>(v % (white + 1));
  const std::vector<std::uint16_t> expected =
      demosaic::testing::PlainReconstruct(within, width, height, pattern, white);
  for (const int threads : {1, 3}) {
    for (const std::int32_t band : {1, 5, height}) {
      demosaic::ReconstructionOptions options;
      options.threads = threads;
      options.band_rows = band;
      if (Reconstruct16(within, width, height, pattern, white, options) != expected) {
        Fail("16-bit engine and plain rules disagree", width, height, pattern, -1, -1);
      }
    }
  }
  for (const std::uint16_t v : Reconstruct16(raw, width, height, pattern, white, {})) {
    if (v > white) Fail("16-bit output above the white level", width, height, pattern, -1, -1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::int32_t width = 1 + data[0] % 64;
  const std::int32_t height = 1 + data[1] % 64;
  const BayerPattern pattern = kPatterns[data[2] % 4];
  if ((data[2] & 4) != 0) {
    CheckSixteenBit(data, size, width, height, pattern);
    return 0;
  }
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  // The rest of the input, repeated as often as needed, is the mosaic.
  std::vector<std::uint8_t> mosaic(sites, 0);
  if (size > 3) {
    for (std::size_t i = 0; i < sites; ++i) mosaic[i] = data[3 + i % (size - 3)];
  }
  const std::vector<std::uint8_t> expected =
      demosaic::testing::PlainReconstruct(mosaic, width, height, pattern);
  const demosaic::ConstMosaicView mosaic_view =
      demosaic::MakeMosaicView(std::span<const std::uint8_t>(mosaic), width, height, pattern);

  for (const int threads : {1, 2, 3, 4}) {
    for (const std::int32_t band : {1, 2, 3, 5, height}) {
      // A value the engine never writes, so that a skipped byte shows.
      std::vector<std::uint8_t> output(3 * sites, 0xA5);
      demosaic::ReconstructionOptions options;
      options.threads = threads;
      options.band_rows = band;
      demosaic::ReconstructFromMosaic(
          mosaic_view, demosaic::MakeImageView(std::span(output), width, height), options);
      if (output != expected)
        Fail("engine and plain rules disagree", width, height, pattern, -1, -1);
    }
  }

  constexpr std::int32_t kFrame = demosaic::kFrameWidth;
  for (std::int32_t r = 0; r < height; ++r) {
    for (std::int32_t c = 0; c < width; ++c) {
      const std::size_t p = static_cast<std::size_t>(r) * width + c;
      const std::uint8_t* pixel = &expected[3 * p];
      const bool interior = width >= demosaic::kMinimumSide && height >= demosaic::kMinimumSide &&
                            r >= kFrame && r < height - kFrame && c >= kFrame && c < width - kFrame;
      if (!interior) {
        if (pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0) {
          Fail("frame pixel not black", width, height, pattern, r, c);
        }
        continue;
      }
      const demosaic::CfaClass cls = demosaic::CfaClassOf(pattern, r, c);
      const int channel = cls == demosaic::kR ? 2 : (cls == demosaic::kB ? 0 : 1);
      if (pixel[channel] != mosaic[p]) {
        Fail("sample not kept in its own channel", width, height, pattern, r, c);
      }
    }
  }
  return 0;
}
