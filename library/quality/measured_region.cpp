// Argument checks shared by SSIM, CIEDE2000 and the zipper share.
#include "quality/measured_region.h"

#include <stdexcept>
#include <string>

#include "image/white_level.h"

namespace demosaic {
namespace {

std::string SizeText(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

template <class View>
void CheckView(const std::string& prefix, const char* which, View view) {
  constexpr bool kSixteen = sizeof(*view.data) == 2;
  if (view.width < 0 || view.height < 0) {
    throw std::invalid_argument(prefix + which + " has a negative size " +
                                SizeText(view.width, view.height));
  }
  if (view.width == 0 || view.height == 0) return;
  if (view.data == nullptr) throw std::invalid_argument(prefix + which + " has no pixel data");
  if (view.stride < 3 * static_cast<std::ptrdiff_t>(view.width)) {
    throw std::invalid_argument(prefix + which + " row stride " + std::to_string(view.stride) +
                                " is shorter than a row of " + std::to_string(3 * view.width) +
                                (kSixteen ? " samples" : " bytes"));
  }
}

template <class View>
MeasuredRegion CheckRegion(const char* metric, View reference, View reconstruction,
                           std::int32_t border, std::int32_t minimum_side) {
  const std::string prefix = std::string(metric) + ": ";
  CheckView(prefix, "reference", reference);
  CheckView(prefix, "reconstruction", reconstruction);
  if (reference.width != reconstruction.width || reference.height != reconstruction.height) {
    throw std::invalid_argument(
        prefix + "reference is " + SizeText(reference.width, reference.height) +
        " but reconstruction is " + SizeText(reconstruction.width, reconstruction.height));
  }
  if (border < 0) {
    throw std::invalid_argument(prefix + "border " + std::to_string(border) + " is negative");
  }
  // In 64 bits: twice a large border does not fit in 32.
  const std::int64_t width = std::int64_t{reference.width} - 2 * std::int64_t{border};
  const std::int64_t height = std::int64_t{reference.height} - 2 * std::int64_t{border};
  if (width < minimum_side || height < minimum_side) {
    const std::string left = width <= 0 || height <= 0
                                 ? "no measured pixel"
                                 : SizeText(width, height) + " measured pixels";
    throw std::invalid_argument(prefix + "a border of " + std::to_string(border) + " leaves " +
                                left + " of a " + SizeText(reference.width, reference.height) +
                                " image; at least " + SizeText(minimum_side, minimum_side) +
                                " are needed");
  }
  return {border, border, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

}  // namespace

MeasuredRegion CheckMeasuredRegion(const char* metric, ConstImageView reference,
                                   ConstImageView reconstruction, std::int32_t border,
                                   std::int32_t minimum_side) {
  return CheckRegion(metric, reference, reconstruction, border, minimum_side);
}

MeasuredRegion CheckMeasuredRegion(const char* metric, ConstImageView16 reference,
                                   ConstImageView16 reconstruction, std::int32_t border,
                                   std::int32_t minimum_side) {
  CheckSameWhiteLevel(metric, reference.white_level, reconstruction.white_level);
  return CheckRegion(metric, reference, reconstruction, border, minimum_side);
}

}  // namespace demosaic
