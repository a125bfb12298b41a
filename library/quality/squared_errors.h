// Sums of squared channel errors, the basis of every PSNR figure: kept here
// so that measuring an image pair at once and measuring rows as a
// reconstruction produces them give the same figures.
#pragma once

#include <cstdint>

#include "demosaic/image.h"
#include "demosaic/quality.h"

namespace demosaic {

// Exact sums: every term is an integer of at most 65025, and each row's sum
// is formed in integers and added as a whole, so the totals are exact in
// double far beyond any image size.
struct SquaredErrors {
  double red = 0.0;
  double green = 0.0;
  double blue = 0.0;
};

// Adds the squared differences of columns [first_column, end_column) of one
// row pair, each row's pixels in its own channel order.
void AddRowSquaredErrors(const std::uint8_t* reference_row, ChannelOrder reference_order,
                         const std::uint8_t* reconstruction_row, ChannelOrder reconstruction_order,
                         std::int32_t first_column, std::int32_t end_column, SquaredErrors& sums);

// The figures of sums over `columns` x `rows` pixels: MSE = sum / columns /
// rows, PSNR = 10 log10(65025 / MSE); CPSNR from the mean of the three sums.
QualityFigures FiguresFromSquaredErrors(const SquaredErrors& sums, std::int64_t columns,
                                        std::int64_t rows);

}  // namespace demosaic
