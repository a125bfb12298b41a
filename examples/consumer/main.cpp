// Samples a synthetic colour image through the GRBG Bayer filter,
// reconstructs it with the demosaic library and prints what came back: a
// smooth image comes back closely, a flat grey one exactly.
#include <demosaic/demosaic.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
  const int width = 64;
  const int height = 48;
  std::vector<std::uint8_t> reference(3 * width * height);
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      std::uint8_t* pixel = &reference[3 * (r * width + c)];
      pixel[0] = static_cast<std::uint8_t>(40 + 2 * r);   // B
      pixel[1] = static_cast<std::uint8_t>(60 + c + r);   // G
      pixel[2] = static_cast<std::uint8_t>(200 - 2 * c);  // R
    }
  }
  std::vector<std::uint8_t> mosaic(width * height);
  std::vector<std::uint8_t> output(reference.size());
  const auto reference_view =
      demosaic::MakeImageView(std::span<const std::uint8_t>(reference), width, height);
  const auto mosaic_view = demosaic::MakeMosaicView(std::span(mosaic), width, height);
  const auto output_view = demosaic::MakeImageView(std::span(output), width, height);

  demosaic::SampleMosaic(reference_view, mosaic_view, demosaic::BayerPattern::kGRBG);
  demosaic::ReconstructFromMosaic(mosaic_view, output_view);
  const demosaic::QualityFigures figures = demosaic::ComputeQuality(reference_view, output_view);
  std::printf("smooth image: CPSNR %.2f dB\n", figures.cpsnr);

  std::vector<std::uint8_t> grey(reference.size(), 128);
  const auto grey_view =
      demosaic::MakeImageView(std::span<const std::uint8_t>(grey), width, height);
  demosaic::SampleMosaic(grey_view, mosaic_view);
  demosaic::ReconstructFromMosaic(mosaic_view, output_view);
  const bool kept = demosaic::ComputeQuality(grey_view, output_view).cpsnr > 1000.0;
  std::printf("grey kept: %s\n", kept ? "yes" : "no");
  return kept && figures.cpsnr > 30.0 ? 0 : 1;
}
