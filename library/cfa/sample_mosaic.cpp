// Mosaic sampling: at every site, the reference's channel of the site's
// filter colour, for 8-bit and 16-bit samples alike.
#include <stdexcept>

#include "cfa/sample_row.h"
#include "demosaic/reconstruct.h"
#include "image/white_level.h"

namespace demosaic {
namespace {

template <class Sample>
void SampleOneRow(const Sample* image_row, ChannelOrder order, RowLayout layout, std::int32_t width,
                  Sample* mosaic_row) {
  // Along a row the filter alternates between green and one other colour,
  // so the channel taken at even and at odd columns is fixed for the row.
  const int other = layout.red_row ? RedOffset(order) : BlueOffset(order);
  const int even_channel = layout.green_parity == 0 ? 1 : other;
  const int odd_channel = layout.green_parity == 0 ? other : 1;
  std::int32_t c = 0;
  for (; c + 1 < width; c += 2) {
    const std::ptrdiff_t at = 3 * static_cast<std::ptrdiff_t>(c);
    mosaic_row[c] = image_row[at + even_channel];
    mosaic_row[c + 1] = image_row[at + 3 + odd_channel];
  }
  if (c < width) mosaic_row[c] = image_row[3 * static_cast<std::ptrdiff_t>(c) + even_channel];
}

}  // namespace

void SampleRow(const std::uint8_t* image_row, ChannelOrder order, RowLayout layout,
               std::int32_t width, std::uint8_t* mosaic_row) {
  SampleOneRow(image_row, order, layout, width, mosaic_row);
}

void SampleRow(const std::uint16_t* image_row, ChannelOrder order, RowLayout layout,
               std::int32_t width, std::uint16_t* mosaic_row) {
  SampleOneRow(image_row, order, layout, width, mosaic_row);
}

void SampleMosaic(ConstImageView reference, MosaicView mosaic) {
  if (reference.width != mosaic.width || reference.height != mosaic.height) {
    throw std::invalid_argument("SampleMosaic: reference and mosaic differ in size");
  }
  for (std::int32_t r = 0; r < mosaic.height; ++r) {
    SampleRow(reference.Row(r), reference.order, LayoutOfRow(mosaic.pattern, r), mosaic.width,
              mosaic.Row(r));
  }
}

void SampleMosaic(ConstImageView16 reference, MosaicView16 mosaic) {
  if (reference.width != mosaic.width || reference.height != mosaic.height) {
    throw std::invalid_argument("SampleMosaic: reference and mosaic differ in size");
  }
  CheckSameWhiteLevel("SampleMosaic", reference.white_level, mosaic.white_level);
  for (std::int32_t r = 0; r < mosaic.height; ++r) {
    SampleRow(reference.Row(r), reference.order, LayoutOfRow(mosaic.pattern, r), mosaic.width,
              mosaic.Row(r));
  }
}

}  // namespace demosaic
