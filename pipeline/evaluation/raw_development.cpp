// Reconstruction and colour development of a raw file's own mosaic.
#include "evaluation/raw_development.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <opencv2/core.hpp>

#include "demosaic/reconstruct.h"
#include "demosaic/transfer.h"
#include "evaluation/mat_views.h"

namespace demosaic {

Expected<DeepImage> ReconstructRawMosaic(const RawMosaic& raw, Method method) {
  if (raw.width < kMinimumSide || raw.height < kMinimumSide) return Error{ErrorKind::kTooSmall, ""};
  try {
    Expected<cv::Mat> mosaic = BlackSubtractedMosaic(raw);
    if (!mosaic.ok()) return mosaic.error();
    DeepImage reconstruction;
    reconstruction.white_level = raw.white_level - SmallestBlackLevel(raw);
    Reconstruct(method, raw.pattern, mosaic.value(), reconstruction.image,
                reconstruction.white_level);
    return reconstruction;
  } catch (const std::exception&) {
    return OutOfMemoryOrRethrow();
  }
}

Expected<cv::Mat> DevelopColours(const DeepImage& linear, const RawMosaic& raw,
                                 const ColourDevelopment& development) {
  if (development.bits != 8 && development.bits != 16) {
    return Error{ErrorKind::kInvalidArgument, "bits must be 8 or 16"};
  }
  std::array<double, 3> multipliers{1, 1, 1};
  if (development.white_balance) {
    if (raw.as_shot_multipliers[1] <= 0) {
      return Error{ErrorKind::kUnreadable, "has no as-shot white balance"};
    }
    multipliers = raw.as_shot_multipliers;
  }
  const auto& matrix = raw.camera_to_srgb;
  if (matrix[0][0] == 0 && matrix[0][1] == 0 && matrix[0][2] == 0) {
    return Error{ErrorKind::kUnreadable, "has no usable camera matrix"};
  }
  constexpr double kTop = 65535;
  const double white = linear.white_level;
  try {
    cv::Mat encoded(linear.image.size(), CV_16UC3);
    for (int y = 0; y < linear.image.rows; ++y) {
      const auto* in = linear.image.ptr<std::uint16_t>(y);
      auto* out = encoded.ptr<std::uint16_t>(y);
      for (int x = 0; x < linear.image.cols; ++x) {
        // Camera red, green and blue (the image is B, G, R), balanced.
        double camera[3];
        for (std::size_t c = 0; c < 3; ++c) {
          camera[c] = in[3 * x + 2 - static_cast<int>(c)] / white * multipliers[c];
        }
        for (std::size_t i = 0; i < 3; ++i) {
          double srgb = 0;
          for (std::size_t j = 0; j < 3; ++j) srgb += matrix[i][j] * camera[j];
          srgb = std::clamp(srgb, 0.0, 1.0);
          out[3 * x + 2 - static_cast<int>(i)] =
              static_cast<std::uint16_t>(std::round(srgb * kTop));
        }
      }
    }
    ApplySrgbCurve(MutableImageView16Of(encoded, static_cast<std::int32_t>(kTop)));
    if (development.bits == 16) return encoded;
    cv::Mat narrow(encoded.size(), CV_8UC3);
    const int samples = 3 * encoded.cols;
    for (int y = 0; y < encoded.rows; ++y) {
      const auto* in = encoded.ptr<std::uint16_t>(y);
      auto* out = narrow.ptr<std::uint8_t>(y);
      for (int x = 0; x < samples; ++x) {
        out[x] = static_cast<std::uint8_t>(std::round(in[x] / 257.0));
      }
    }
    return narrow;
  } catch (const std::exception&) {
    return OutOfMemoryOrRethrow();
  }
}

}  // namespace demosaic
