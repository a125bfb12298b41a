// libFuzzer target for the demosaicing engine: random sizes from 1 x 1 to
// 64 x 64 and random mosaics. After every call it checks what holds for any
// input: the frame is black, every interior sample comes back unchanged in its
// own channel, and at R and B sites the green is the sample minus the stored
// fused difference and lies in 0..255. Buffers have their exact sizes, so the
// address sanitizer sees any access outside them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/evaluation_run.h"
#include "engine/engine.h"

namespace {

using demosaic::CfaClassOf;

[[noreturn]] void Fail(const char* what, std::int32_t width, std::int32_t height, std::int32_t r,
                       std::int32_t c) {
  std::fprintf(stderr, "engine fuzzer: %s (image %d x %d, site row %d column %d)\n", what, width,
               height, r, c);
  std::abort();
}

int SampledChannel(demosaic::CfaClass cfa) {
  switch (cfa) {
    case demosaic::kR:
      return demosaic::kChannelR;
    case demosaic::kB:
      return demosaic::kChannelB;
    default:
      return demosaic::kChannelG;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int32_t width = 1 + data[0] % 64;
  const std::int32_t height = 1 + data[1] % 64;
  const std::size_t sites = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  // The rest of the input, repeated as often as needed, is the mosaic.
  std::vector<std::uint8_t> mosaic(sites, 0);
  if (size > 2) {
    for (std::size_t i = 0; i < sites; ++i) mosaic[i] = data[2 + i % (size - 2)];
  }
  // A value the engine never writes, so that a skipped byte shows.
  std::vector<std::uint8_t> output(3 * sites, 0xA5);
  demosaic::ReconstructFromMosaic(output, mosaic, width, height);

  if (!demosaic::IsLargeEnough(width, height)) {
    // The tool refuses these before the engine runs; the engine on its own
    // still writes an all-black image.
    for (std::size_t i = 0; i < output.size(); ++i) {
      if (output[i] != 0) Fail("small image not all black", width, height, -1, -1);
    }
    return 0;
  }

  // The same stages one by one, keeping the planes for the checks below. The
  // workspace is shared by all inputs, so its planes hold what earlier
  // inputs of other sizes left: none of that may reach the result.
  static demosaic::EngineWorkspace workspace;
  demosaic::WorkingPlanes& planes = demosaic::PreparePlanes(workspace, width, height);
  demosaic::EstimateDirectionalDifferences(mosaic, width, height, planes);
  demosaic::FuseDirections(mosaic, width, height, planes);
  std::vector<std::uint8_t> staged(3 * sites, 0x5A);
  demosaic::ReconstructColors(staged, mosaic, width, height, planes);
  if (staged != output) Fail("stages and entry point disagree", width, height, -1, -1);

  constexpr std::int32_t kFrame = 3;
  for (std::int32_t r = 0; r < height; ++r) {
    for (std::int32_t c = 0; c < width; ++c) {
      const std::size_t p = demosaic::SiteIndex(r, c, width);
      const std::uint8_t* pixel = &output[3 * p];
      const bool interior = r >= kFrame && r < height - kFrame && c >= kFrame && c < width - kFrame;
      if (!interior) {
        if (pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0) {
          Fail("frame pixel not black", width, height, r, c);
        }
        continue;
      }
      const demosaic::CfaClass cfa = CfaClassOf(r, c);
      const std::int32_t sample = mosaic[p];
      if (pixel[SampledChannel(cfa)] != sample) {
        Fail("sample not kept in its own channel", width, height, r, c);
      }
      if (cfa == demosaic::kR || cfa == demosaic::kB) {
        const std::int32_t difference = cfa == demosaic::kR ? planes.RgFused[p] : planes.BgFused[p];
        const std::int32_t green = sample - difference;
        if (green < 0 || green > 255) Fail("implied green outside 0..255", width, height, r, c);
        if (pixel[demosaic::kChannelG] != green) {
          Fail("green is not sample minus fused difference", width, height, r, c);
        }
      }
    }
  }
  return 0;
}
