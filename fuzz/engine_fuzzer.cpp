// libFuzzer target for the demosaicing engine: random sizes from 1 x 1 to
// 64 x 64, random tiles and random mosaics. Every input is reconstructed by
// the plain statement of the rules and by the engine with band heights 1, 2,
// 3, 5 and the whole image on 1 to 4 threads; all must agree byte for byte.
// It also checks what holds for any input: the frame is black and every
// interior sample comes back unchanged in its own channel. Buffers have their
// exact sizes, so the address sanitizer sees any access outside them.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::int32_t width = 1 + data[0] % 64;
  const std::int32_t height = 1 + data[1] % 64;
  const BayerPattern pattern = kPatterns[data[2] % 4];
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
