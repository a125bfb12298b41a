// Samples a synthetic colour image through the RGGB Bayer filter,
// reconstructs it with the demosaic library and prints what came back: a
// smooth image comes back closely, a flat grey one exactly, and a crop of the
// mosaic at an odd corner as the crop's own pixels would. It also checks that
// the library it runs with is the release its headers came from.
#include <demosaic/demosaic.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main() {
  std::printf("demosaic %s (headers %s)\n", demosaic::Version(), DEMOSAIC_VERSION_STRING);
  const bool same_release = std::strcmp(demosaic::Version(), DEMOSAIC_VERSION_STRING) == 0;

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
  const std::vector<std::uint8_t>& read_only = reference;
  const auto reference_view = demosaic::MakeImageView(read_only, width, height);
  // The mosaic view carries its tile: the reconstruction reads it from there.
  const auto mosaic_view =
      demosaic::MakeMosaicView(mosaic, width, height, demosaic::BayerPattern::kRGGB);
  const auto output_view = demosaic::MakeImageView(output, width, height);

  demosaic::SampleMosaic(reference_view, mosaic_view);
  demosaic::ReconstructFromMosaic(mosaic_view, output_view);
  const demosaic::QualityFigures figures = demosaic::ComputeQuality(reference_view, output_view);
  std::printf("smooth image: CPSNR %.2f dB, SSIM %.4f\n", figures.cpsnr,
              demosaic::ComputeSsim(reference_view, output_view));

  // A 31 x 21 crop at (5, 3): its tile is RGGB moved one row and one column.
  const auto crop = demosaic::CropMosaic(mosaic_view, 5, 3, 31, 21);
  std::vector<std::uint8_t> crop_output(3 * 31 * 21);
  demosaic::ReconstructFromMosaic(crop, demosaic::MakeImageView(crop_output, 31, 21));
  const double crop_cpsnr =
      demosaic::ComputeQuality(demosaic::CropImage(reference_view, 5, 3, 31, 21),
                               demosaic::MakeImageView(crop_output, 31, 21))
          .cpsnr;
  std::printf("crop at (5, 3): tile %s, CPSNR %.2f dB\n",
              std::string(demosaic::PatternName(crop.pattern)).c_str(), crop_cpsnr);

  std::vector<std::uint8_t> grey(reference.size(), 128);
  const auto grey_view =
      demosaic::MakeImageView(std::span<const std::uint8_t>(grey), width, height);
  demosaic::SampleMosaic(grey_view, mosaic_view);
  demosaic::ReconstructFromMosaic(mosaic_view, output_view);
  const bool kept = demosaic::ComputeQuality(grey_view, output_view).cpsnr > 1000.0;
  std::printf("grey kept: %s\n", kept ? "yes" : "no");
  return same_release && kept && figures.cpsnr > 30.0 && crop_cpsnr > 30.0 ? 0 : 1;
}
